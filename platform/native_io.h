#pragma once
// The operating system's file calls behind one small interface, so that the
// rest of the program is the same on Linux and on Windows.  Descriptors are
// POSIX descriptors on Linux and C runtime descriptors on Windows (over a
// handle opened with CreateFileW, so that every call below can reach the
// handle).  Text is UTF-8 everywhere inside the program; a path meets a
// string only through PathFromUtf8 and Utf8FromPath.
//
// Failures set errno (translated from the Windows error on Windows) and are
// return values; nothing here throws.

#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dalimor {

// The native path of UTF-8 text, and the UTF-8 text of a native path.  On
// Linux both are the bytes as they stand; on Windows they convert between
// UTF-8 and UTF-16 (a std::string given to std::filesystem::path directly
// would be read in the ANSI code page there).
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string Utf8FromPath(const std::filesystem::path& path);

// The characters that separate the components of a native path, and the
// one the system writes.
#ifdef _WIN32
inline constexpr std::string_view kPathSeparators = "/\\";
inline constexpr char kNativeSeparator = '\\';
#else
inline constexpr std::string_view kPathSeparators = "/";
inline constexpr char kNativeSeparator = '/';
#endif

// Whether the file system tells names apart by letter case: a lookup by
// name then finds the spelling asked for only (Linux); on Windows it finds
// any spelling and the one on disk has to be asked for (NameOnDisk).
#ifdef _WIN32
inline constexpr bool kCaseSensitiveNames = false;
#else
inline constexpr bool kCaseSensitiveNames = true;
#endif

// Flags for OpenNative beside open(2)'s access and creation flags (O_RDONLY,
// O_WRONLY, O_RDWR, O_CREAT, O_EXCL, O_TRUNC).  kOpenNoFollow refuses a
// symbolic link (a reparse point on Windows) as the last component with
// ELOOP; kOpenNonBlock keeps a pipe or a device from blocking the open.
// Descriptors are never inherited by child processes and never become a
// controlling terminal.
#ifdef _WIN32
inline constexpr int kOpenNoFollow = 0x10000000;
inline constexpr int kOpenNonBlock = 0;
#else
inline constexpr int kOpenNoFollow = O_NOFOLLOW;
inline constexpr int kOpenNonBlock = O_NONBLOCK;
#endif

// The errno of a write refused for the user's disk quota (EDQUOT); Windows
// has no such code and reports a full disk (ENOSPC) instead.
#ifdef _WIN32
inline constexpr int kErrorQuotaExceeded = ENOSPC;
#else
inline constexpr int kErrorQuotaExceeded = EDQUOT;
#endif

// Opens `path`; -1 with errno on failure.  Files are always binary.
// O_APPEND (with O_WRONLY) makes every write land at the end of the file in
// one step, also when other processes append at once (FILE_APPEND_DATA
// alone on Windows).
int OpenNative(const std::filesystem::path& path, int flags, unsigned mode = 0666);
// Opens the entry `name` (UTF-8, no folder part) of the folder open at
// `folder_fd` (from OpenFolderNative), whose path is `folder`, as
// OpenNative does: relative to the open folder on Linux (openat), so that a
// folder renamed meanwhile cannot redirect it; by the path on Windows.
int OpenInFolderNative(int folder_fd, const std::filesystem::path& folder,
                       std::string_view name, int flags, unsigned mode = 0666);
// Closes the descriptor; false when the system reports an error.
bool CloseNative(int fd);

// Reads or writes at the current position, or at `offset` without moving
// it (pread / pwrite); the count done, 0 at the end of the file, -1 with
// errno on failure.  EINTR is retried by the caller.
int64_t ReadNative(int fd, void* data, size_t size);
int64_t WriteNative(int fd, const void* data, size_t size);
int64_t ReadNativeAt(int fd, void* data, size_t size, uint64_t offset);
int64_t WriteNativeAt(int fd, const void* data, size_t size, uint64_t offset);

// Sets the file's length; false with errno on failure.
bool TruncateNative(int fd, uint64_t size);
// Makes the file's content last through a power cut (fsync,
// FlushFileBuffers); false with errno on failure.
bool SyncNative(int fd);
// Makes the names in `folder` last through a power cut, as far as the
// system allows (nothing to do on Windows, whose renames with write-through
// reach the disk); best effort.
void SyncFolder(const std::filesystem::path& folder);

// What TryLockNative found.
enum class LockOutcome { kLocked, kBusy, kFailed };

// Takes an advisory lock on the whole file, shared or exclusive, without
// waiting (flock).  On Windows it is a lock on one byte far beyond the end
// of any real file, so that it never stands in the way of reads and writes
// (Windows locks are mandatory for their range).  kBusy when another open
// file holds a conflicting lock; kFailed with errno otherwise.  The lock goes
// with the descriptor.
LockOutcome TryLockNative(int fd, bool exclusive);

// Makes a new folder "<parent>/<prefix>XXXXXX" (six random letters and
// digits) that only the user may enter (mkdtemp; on Windows CreateDirectoryW
// in a folder that is the user's own, such as %TEMP%).  nullopt with errno
// on failure.
std::optional<std::filesystem::path> MakePrivateFolder(const std::filesystem::path& parent,
                                                       std::string_view prefix);
// Opens the folder itself, never through a link as its last component, to
// hold it (TryLockFolder) and to ask about it (StatNative); -1 with errno
// on failure.  On Windows the open is the hold: as long as the descriptor
// stays open nobody else may delete the folder, and an open of a folder
// another process holds fails (EBUSY).
int OpenFolderNative(const std::filesystem::path& folder);
// Takes an exclusive lock on the folder open at `fd` without waiting
// (flock); kLocked on Windows, where the open took it already.
LockOutcome TryLockFolder(int fd);
// Removes `folder` with everything in it, best effort, and closes `fd`,
// the folder's hold from OpenFolderNative (-1: none).  On Linux the folder
// goes while the lock still holds; on Windows the hold, which forbids the
// deletion, goes first.
void RemoveHeldFolder(const std::filesystem::path& folder, int fd);

// What an entry of the file system is.
enum class NativeKind { kRegular, kFolder, kLink, kOther };

struct NativeFileInfo {
  NativeKind kind = NativeKind::kOther;
  uint64_t size = 0;        // bytes of a regular file
  int64_t modified_ns = 0;  // last change of the content, since 1970 UTC
  unsigned mode = 0;        // permission bits (0666 or 0444 by the attribute on Windows)
  bool read_only = false;   // the owner may not write it (the attribute on Windows)
  bool hidden = false;      // the name begins with "." (the attribute on Windows)
  bool system = false;      // the system attribute (never on Linux)
  uint64_t links = 1;       // names of the file (hard links)
  uint64_t device = 0;      // with `file`, the identity of the file:
  uint64_t file = 0;        // st_dev / st_ino, or volume serial and file index
  unsigned owner = 0;       // user and group (0 on Windows)
  unsigned group = 0;
};

// Facts about a path, following a link as the last component or not; about
// an open descriptor.  nullopt with errno when the entry cannot be reached.
std::optional<NativeFileInfo> StatNative(const std::filesystem::path& path, bool follow_links);
std::optional<NativeFileInfo> StatNative(int fd);

// One entry of a folder: a link reports what it points to, a link whose
// target is gone reports the link itself (then `broken_link`).
struct NativeEntry {
  std::string name;  // UTF-8
  NativeFileInfo info;
  bool broken_link = false;
};

// The entries of `folder` without "." and "..", in no particular order;
// nullopt when the folder cannot be read.  An entry that vanishes while it
// is read is left out, and so is every entry whose name `keep` refuses.
// Without `with_info` only the names are filled in where the system can
// list them alone (Linux), which is much faster.
std::optional<std::vector<NativeEntry>> ListNative(
    const std::filesystem::path& folder, bool with_info = true,
    const std::function<bool(std::string_view name)>& keep = {});

// The name of the entry `name` of `folder` as the system matches it: on
// Linux `name` itself when such an entry exists; on Windows, whose lookups
// ignore letter case, the spelling stored on disk.  nullopt when none.
std::optional<std::string> NameOnDisk(const std::filesystem::path& folder, std::string_view name);

// Deletes a file (or a link itself); false with errno on failure.
bool RemoveNative(const std::filesystem::path& path);
// Renames `from` to `to`, replacing a file there in one step; false with
// errno on failure.
bool RenameNative(const std::filesystem::path& from, const std::filesystem::path& to);
// True when the user may write the existing entry (its permissions or
// attributes allow it, for the effective user).
bool MayWrite(const std::filesystem::path& path);
// Gives the file open at `fd` the permission bits and, as far as the user
// may, the owner that `like` reports; best effort (nothing on Windows).
void CopyOwnerAndMode(int fd, const NativeFileInfo& like);
// Bytes free for the user on the file system of `folder`; nullopt when
// unknown.
std::optional<uint64_t> FreeBytes(const std::filesystem::path& folder);
// This process's id.
int CurrentProcessId();
// The user id of this process (getuid), which StatNative's `owner` is
// compared with; 0 on Windows, as `owner` is there.
unsigned CurrentUserId();
// The login name of the user this process runs as (getpwuid; GetUserNameW
// on Windows), as UTF-8; empty when the system does not tell.
std::string CurrentLoginName();

// The program's command-line arguments after its name, as UTF-8.  On
// Windows they are read from the UTF-16 command line (`argv` holds them in
// the ANSI code page, which loses every Czech letter it lacks).
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Makes the console, if there is one, read and show UTF-8 (Windows); the
// terminal already does on Linux.
void UseUtf8Console();

}  // namespace dalimor
