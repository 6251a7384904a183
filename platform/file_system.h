#pragma once
// File services with the semantics of the Windows file system the data come
// from: names are compared without regard to letter case ("SPFP.DB",
// "Spfp.DB" and "spfp.db" name one table), masks use the Win32 wildcard
// rules, and listings report the DOS attributes a zip archive stores.
//
// Case-insensitive comparison folds ASCII letters and the Latin letters of
// U+00C0..U+017F (every Czech letter among them).  A name that is valid UTF-8
// is read as UTF-8; any other name is read as Windows-1250 bytes, so a name
// copied raw from a Czech Windows disk still matches its UTF-8 spelling.
//
// Linux lets several names that differ only in case coexist in one folder.
// Every lookup here then picks one of them by this rule: the entry spelled
// exactly as asked wins; otherwise the one whose name is first in byte order.
// A path is resolved component by component with that rule and without
// backtracking: once "DATA" is chosen over "Data", only "DATA" is searched
// for the next component.
//
// Nothing here throws for an expected outcome (a missing file, a folder that
// cannot be read, a file that cannot be deleted); those are return values.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/clock.h"

namespace dalimor {

// True when the two names are equal without regard to letter case.
bool SameNameIgnoringCase(std::string_view a, std::string_view b);

// True when `name` matches the Win32 file mask, without regard to letter
// case.  "*" matches any run of characters and "?" one character, with the
// rules FindFirstFile applies for DOS compatibility: "*" and "*.*" match
// every name (also one without a dot); "Svfh.*" matches "Svfh", "Svfh.bak"
// and "SVFH.DB" but not "SvfhOld.DB" (a "." followed by a wildcard also
// matches the end of the name); "*." matches the names without a dot; a "?"
// also matches nothing at a "." or at the end of the name ("a??" matches "a",
// "ab" and "abc").  Names that only an 8.3 short name would match are not
// matched, as Linux keeps no short names.  An empty mask matches no name.
bool MatchesFileMask(std::string_view name, std::string_view mask);

// The entry of `folder` named `name` without regard to case, chosen by the
// rule above; nullopt when there is none or the folder cannot be read.  Any
// kind of entry counts (file, folder, link).
std::optional<std::filesystem::path> FindEntryIgnoringCase(const std::filesystem::path& folder,
                                                           std::string_view name);

// An existing path matched component by component without regard to case
// (absolute, or relative to the current folder); nullopt when some component
// does not exist.  The components "." and ".." are taken as they stand.
std::optional<std::filesystem::path> FindPathIgnoringCase(const std::filesystem::path& path);

// `relative` below `root` resolved component by component without regard to
// case.  Both "/" and "\" separate components of `relative`, so an
// installation path written the Windows way ("DATA\Firma1\SDATA\S\Spfp.DB")
// resolves as well; empty components are skipped.  `root` itself is also
// matched without regard to case.  Nullopt when a component is missing.
std::optional<std::filesystem::path> FindRelativePathIgnoringCase(const std::filesystem::path& root,
                                                                  std::string_view relative);

// Like FindRelativePathIgnoringCase, but never fails: from the first missing
// component on, the rest of `relative` is appended as written.  The result is
// where an existing file lies, or where a new one should be created.
std::filesystem::path ResolvePathIgnoringCase(const std::filesystem::path& root,
                                              std::string_view relative);

// The path as the file system reaches it: absolute, with every link it
// passes through followed, "." and ".." taken out, and every existing
// component spelled as on disk (matched without regard to case); the part
// that does not exist is appended as written.
std::filesystem::path ReachedPath(const std::filesystem::path& path);

// True when `inner` is the folder `outer` or lies anywhere below it, both
// compared as ReachedPath gives them, component by component without regard
// to case.  Empty paths are inside nothing and contain nothing.
bool IsSameOrInside(const std::filesystem::path& inner, const std::filesystem::path& outer);

// True when the path (matched without regard to case) names an existing
// entry that is not a folder.  A link counts as what it points to.
bool FileExists(const std::filesystem::path& path);

// True when the path (matched without regard to case) names an existing
// folder, or a link to one.
bool DirectoryExists(const std::filesystem::path& path);

// Deletes one file as Windows' DeleteFile does.  The last component is
// matched without regard to case.  Returns false, leaving everything as it
// was, when the entry is missing, is a folder (even an empty one), is
// read-only (its owner may not write it; Windows refuses to delete such a
// file even for an administrator), or the system refuses.  A link is deleted
// itself, never its target.
bool DeleteFile(const std::filesystem::path& path);

// Deletes the entries of `folder` whose names match `mask`, each as a file
// (DeleteFile above), whatever their attributes, folders included, in the
// order of ListFolder.  Returns the number deleted; 0 when nothing matched
// (also when the folder is missing or `folder` is empty); -1 when at least one
// matching entry was not deleted, e.g. a folder or a read-only file that
// matches.  Every matching entry is tried, also after a failure.  `folder`
// is a native path (with or without a trailing separator; a Windows drive
// letter means nothing here and names an ordinary relative folder).
int DeleteFilesByMask(const std::string& folder, std::string_view mask);

// The DOS attribute bits (Windows FILE_ATTRIBUTE_* values).
inline constexpr uint8_t kDosReadOnly = 0x01;
inline constexpr uint8_t kDosHidden = 0x02;
inline constexpr uint8_t kDosSystem = 0x04;
inline constexpr uint8_t kDosDirectory = 0x10;
inline constexpr uint8_t kDosArchive = 0x20;

// A moment in MS-DOS form: date bits 0-4 day, 5-8 month, 9-15 year - 1980;
// time bits 0-4 seconds / 2, 5-10 minute, 11-15 hour.
struct DosDateTime {
  uint16_t date = 0;
  uint16_t time = 0;
};

// The local moment in MS-DOS form.  Odd seconds round down; moments before
// 1980 become 1 January 1980 00:00:00 and moments after 2107 become
// 31 December 2107 23:59:58.  Fields out of their ranges are not checked.
DosDateTime ToDosDateTime(const LocalDateTime& moment);

// One entry of a folder listing.
struct FolderEntry {
  std::string name;          // as stored on disk
  bool is_folder = false;    // a folder, or a link to one
  bool hidden = false;       // the name begins with "." (Linux) or the
                             // hidden attribute is set (Windows)
  bool system = false;       // the system attribute (Windows), or neither a
                             // regular file nor a folder (device, pipe,
                             // socket, broken link): nothing to read
  bool read_only = false;    // the owner may not write it
  uint64_t size = 0;         // bytes of a regular file; 0 for anything else
  LocalDateTime last_write;  // local time of the last change of the content

  // The attribute byte: read-only, hidden, system, directory, and archive
  // for every entry that is not a folder.
  uint8_t DosAttributes() const;
  DosDateTime LastWriteDos() const { return ToDosDateTime(last_write); }
};

// The entries of `folder` (matched without regard to case) whose names match
// `mask`, without recursion and without "." and "..".  Entries come in the
// order of their names without regard to case, ties in byte order, which is
// the order NTFS lists them in.  Never fails: a folder that is missing or
// cannot be read gives an empty list; a folder that vanishes while it is
// read, and entries that vanish, give what could still be read.
std::vector<FolderEntry> ListFolder(const std::filesystem::path& folder,
                                    std::string_view mask = "*");

// What OpenPlainFile found at a path.
enum class PlainFileStatus {
  kOpened,    // a regular file, opened
  kMissing,   // nothing there (or a folder on the way is missing)
  kNotPlain,  // a symbolic link, a pipe, a device, a socket or a folder
  kFailed,    // the system refused (see `error`)
};

// The outcome of OpenPlainFile; owns the descriptor and closes it.
class PlainFile {
 public:
  PlainFile() = default;
  PlainFile(PlainFile&& other) noexcept;
  PlainFile& operator=(PlainFile&& other) noexcept;
  PlainFile(const PlainFile&) = delete;
  PlainFile& operator=(const PlainFile&) = delete;
  ~PlainFile();

  PlainFileStatus status() const { return status_; }
  int error() const { return error_; }  // errno of kFailed
  int fd() const { return fd_; }        // -1 unless kOpened
  // Hands the descriptor over to the caller, who closes it.
  int Release();
  // Closes the descriptor now; false when the system reports an error (a
  // write that could not be completed).
  bool Close();

 private:
  friend PlainFile OpenPlainFile(const std::filesystem::path& path, int flags, unsigned mode);
  int fd_ = -1;
  PlainFileStatus status_ = PlainFileStatus::kMissing;
  int error_ = 0;
};

// Opens a file that other people may have put in place (a file of the
// transfer folder): never through a symbolic link as its last component,
// without waiting on a pipe or a device, and only when it is a regular file
// (checked on the open descriptor, so that nothing swapped in after a check
// by name is used).  `flags` are open(2)'s access and creation flags
// (O_RDONLY, O_RDWR, O_WRONLY | O_CREAT); O_NOFOLLOW, O_NONBLOCK, O_NOCTTY
// and O_CLOEXEC are added, O_TRUNC is taken away and done on the checked
// descriptor instead.  The descriptor keeps O_NONBLOCK, which reads and
// writes of a regular file ignore.  Never throws.
PlainFile OpenPlainFile(const std::filesystem::path& path, int flags, unsigned mode = 0666);

// The folder the user's own files of Dalimor live in (the table engine's
// configuration, the desktop program's window state): on Linux
// $XDG_CONFIG_HOME/dalimor, else ~/.config/dalimor, else "dalimor" in the
// temporary folder for a user without a home; on Windows %APPDATA%\Dalimor,
// else "Dalimor" in the temporary folder.  Not created here.
std::filesystem::path UserConfigFolder();

// The folder the user's own records of Dalimor live in (the run log): on
// Linux $XDG_DATA_HOME/dalimor, else ~/.local/share/dalimor, else "dalimor"
// in the temporary folder for a user without a home; on Windows
// %LOCALAPPDATA%\Dalimor, else "Dalimor" in the temporary folder.  Not
// created here.
std::filesystem::path UserDataFolder();

// The path with the native separator ("/", on Windows "\") appended unless
// its last character already is a separator (on Windows "/" counts too).
// An empty text gives the separator alone; callers pass non-empty paths.
std::string WithTrailingBackslash(std::string path);

}  // namespace dalimor
