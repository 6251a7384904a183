#pragma once
// Private-profile INI files read and written the way the Windows profile
// functions do it (as a Delphi TIniFile sees them): names match without
// regard to case, values are trimmed and lose one pair of outer quotes, and a
// write edits the text of the file in place, leaving every other line as it
// was.  On disk the text is code page 1250; the interface speaks UTF-8.
//
// Nothing is cached: every read reads the file and every write replaces it at
// once (through a temporary file in the same folder renamed over it, so a
// crash leaves either the old or the new content).

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace dalimor {

// A write that could not reach the file.  The message is exactly
// "Unable to write to <path>", with the path as given to IniFile.
class IniFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What ReadString hands back for a value that WriteString wrote: the text
// up to its first line break, through code page 1250, trimmed of blanks and
// without one pair of matching outer quotes.  Whoever compares a value read
// back with the one it wrote compares it with this.
std::string IniValueAsRead(std::string_view value);

// Whether an IniFile goes through a symbolic link at its path.
enum class IniLinks {
  // As the Windows profile functions do: a link's target is read, and a
  // write replaces the target's content.
  kFollow,
  // For a file in a folder other people write (a transfer folder): a link,
  // a pipe or anything but a regular file reads as no file at all, and a
  // write to it throws IniFileError, leaving it and what it points to as
  // they were.
  kRefuse,
};

class IniFile {
 public:
  // Values longer than this many characters are cut to it on reading.
  static constexpr size_t kMaxValueLength = 2047;

  // Does not touch the file; a missing file reads as empty and is created by
  // the first write.  Relative paths are relative to the working folder.
  // Reading never waits: a pipe or a device at the path reads as empty.
  explicit IniFile(std::string path, IniLinks links = IniLinks::kFollow);

  const std::string& path() const { return path_; }
  IniLinks links() const { return links_; }

  // The value of `key` in the first section named `section`, trimmed of
  // blanks, without one pair of matching outer quotes and cut to
  // kMaxValueLength characters.  `default_value` without its trailing spaces
  // when the file, the section or the key is missing (or the key is empty).
  // Never throws for anything in or about the file.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view default_value) const;

  // Sets `key` to `value` (written verbatim) in the first section named
  // `section`: an existing key line gets the new value where it stands, a new
  // key goes after the last entry of its section, a new section at the end of
  // the file.  Throws IniFileError when the file cannot be written.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);

  // The value as a whole number: decimal with an optional sign, or hex after
  // "$", "x" or "0x".  `default_value` when it is missing or not entirely a
  // 32-bit number ("5abc", "", "1e3").  Never throws.
  int ReadInteger(std::string_view section, std::string_view key, int default_value) const;

  // Writes the number in decimal.  Throws IniFileError as WriteString.
  void WriteInteger(std::string_view section, std::string_view key, int value);

  // ReadInteger with 1 or 0 for `default_value`, compared with 0: "2" is
  // true, "0" false, "true" or "yes" give `default_value`.  Never throws.
  bool ReadBool(std::string_view section, std::string_view key, bool default_value) const;

  // Writes "1" or "0".  Throws IniFileError as WriteString.
  void WriteBool(std::string_view section, std::string_view key, bool value);

  // Removes the first section named `section`: its header and entries.
  // Comment and blank lines stay.  A missing file is created empty.  Throws
  // IniFileError when the file cannot be written.
  void EraseSection(std::string_view section);

  // Removes the first `key` line of the first section named `section`.
  // A missing file is created empty.  Failures are ignored; never throws.
  void DeleteKey(std::string_view section, std::string_view key);

  // True when the first section named `section` has at least one key.
  // Never throws.
  bool SectionExists(std::string_view section) const;

  // The key names of the first section named `section`, in file order,
  // duplicates included.  Never throws.
  std::vector<std::string> ReadSection(std::string_view section) const;

  // The names of all sections in file order, duplicates included.
  // Never throws.
  std::vector<std::string> ReadSections() const;

 private:
  std::string path_;
  IniLinks links_;
};

}  // namespace dalimor
