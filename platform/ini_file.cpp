#include "platform/ini_file.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <utility>

#include "platform/code_page.h"
#include "platform/native_io.h"

namespace dalimor {
namespace {

constexpr CodePage kIniCodePage = CodePage::k1250;

// Blanks ignored around names and values inside the file.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v';
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Section and key names passed in lose their outer spaces only (a tab in a
// name is part of it and then matches nothing).
std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// Lower case of every code page 1250 letter that has a single-byte pair, so
// that "POBOČKA" and "pobočka" are one name, as on a Czech Windows.
constexpr std::array<unsigned char, 256> MakeFoldTable() {
  std::array<unsigned char, 256> table{};
  for (int i = 0; i < 256; ++i) table[static_cast<size_t>(i)] = static_cast<unsigned char>(i);
  for (int c = 'A'; c <= 'Z'; ++c)
    table[static_cast<size_t>(c)] = static_cast<unsigned char>(c + 0x20);
  // Ŕ..Ţ -> ŕ..ţ, except 0xD7 (multiplication sign).
  for (int c = 0xC0; c <= 0xDE; ++c)
    if (c != 0xD7) table[static_cast<size_t>(c)] = static_cast<unsigned char>(c + 0x20);
  // Š Ś Ť Ž Ź Ł Ą Ş Ż Ľ
  constexpr std::pair<int, int> kPairs[] = {{0x8A, 0x9A}, {0x8C, 0x9C}, {0x8D, 0x9D}, {0x8E, 0x9E},
                                            {0x8F, 0x9F}, {0xA3, 0xB3}, {0xA5, 0xB9}, {0xAA, 0xBA},
                                            {0xAF, 0xBF}, {0xBC, 0xBE}};
  for (const auto& [upper, lower] : kPairs)
    table[static_cast<size_t>(upper)] = static_cast<unsigned char>(lower);
  return table;
}

constexpr std::array<unsigned char, 256> kFold = MakeFoldTable();

bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (kFold[static_cast<unsigned char>(a[i])] != kFold[static_cast<unsigned char>(b[i])])
      return false;
  return true;
}

enum class LineKind {
  kBlank,    // nothing but blanks
  kComment,  // first non-blank is ';'
  kHeader,   // first non-blank is '['
  kEntry,    // "key=value"
  kText,     // anything else: no '=' on it
};

// One line of the file as offsets into its text.  The line's bytes are
// [begin, content_end), its line break [content_end, end).
struct Line {
  size_t begin = 0;
  size_t content_end = 0;
  size_t end = 0;
  LineKind kind = LineKind::kBlank;
  size_t name_begin = 0;  // section name or key, trimmed
  size_t name_end = 0;
  size_t after_equals = 0;  // entry: first byte after the '='
  size_t value_begin = 0;   // entry: the value, trimmed
  size_t value_end = 0;
};

// The text of a profile and its lines.  Line breaks are CR LF, lone CR or
// lone LF.  A header's name runs to the first ']' or to the end of the line;
// a key runs to the first '='.
class ProfileText {
 public:
  explicit ProfileText(std::string text) : text_(std::move(text)) { Split(); }

  const std::string& text() const { return text_; }
  const std::vector<Line>& lines() const { return lines_; }

  std::string_view Name(const Line& line) const {
    return std::string_view(text_).substr(line.name_begin, line.name_end - line.name_begin);
  }
  std::string_view Value(const Line& line) const {
    return std::string_view(text_).substr(line.value_begin, line.value_end - line.value_begin);
  }

  // Index of the header line of the first section called `name`.
  std::optional<size_t> FindSection(std::string_view name) const {
    for (size_t i = 0; i < lines_.size(); ++i)
      if (lines_[i].kind == LineKind::kHeader && NamesEqual(Name(lines_[i]), name)) return i;
    return std::nullopt;
  }

  // Index of the line after the last line of the section starting at `header`.
  size_t SectionEnd(size_t header) const {
    size_t i = header + 1;
    while (i < lines_.size() && lines_[i].kind != LineKind::kHeader) ++i;
    return i;
  }

  // Index of the first line of the section at `header` that sets `key`.
  std::optional<size_t> FindKey(size_t header, std::string_view key) const {
    const size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i)
      if (lines_[i].kind == LineKind::kEntry && NamesEqual(Name(lines_[i]), key)) return i;
    return std::nullopt;
  }

 private:
  // Every read parses the whole file, so this stays a plain scan.
  void Split() {
    const char* const data = text_.data();
    const size_t size = text_.size();
    size_t pos = 0;
    while (pos < size) {
      Line line;
      line.begin = pos;
      while (pos < size && data[pos] != '\r' && data[pos] != '\n') ++pos;
      line.content_end = pos;
      if (pos < size && data[pos] == '\r') ++pos;
      if (pos < size && data[pos] == '\n') ++pos;
      line.end = pos;
      Classify(line);
      lines_.push_back(line);
    }
  }

  void Classify(Line& line) const {
    const char* const data = text_.data();
    size_t first = line.begin;
    while (first < line.content_end && IsBlank(data[first])) ++first;
    if (first == line.content_end) {
      line.kind = LineKind::kBlank;
      return;
    }
    if (data[first] == ';') {
      line.kind = LineKind::kComment;
      return;
    }
    const std::string_view content(text_.data() + first, line.content_end - first);
    if (content.front() == '[') {
      line.kind = LineKind::kHeader;
      const size_t close = content.find(']', 1);
      SetName(line, first + 1, close == std::string_view::npos ? line.content_end : first + close);
      return;
    }
    const size_t equals = content.find('=');
    if (equals == std::string_view::npos) {
      line.kind = LineKind::kText;
      SetName(line, first, line.content_end);
      return;
    }
    line.kind = LineKind::kEntry;
    SetName(line, first, first + equals);
    line.after_equals = first + equals + 1;
    const std::string_view value = TrimBlanks(
        std::string_view(text_).substr(line.after_equals, line.content_end - line.after_equals));
    line.value_begin = static_cast<size_t>(value.data() - text_.data());
    line.value_end = line.value_begin + value.size();
  }

  void SetName(Line& line, size_t begin, size_t end) const {
    const std::string_view name = TrimBlanks(std::string_view(text_).substr(begin, end - begin));
    line.name_begin = static_cast<size_t>(name.data() - text_.data());
    line.name_end = line.name_begin + name.size();
  }

  std::string text_;
  std::vector<Line> lines_;
};

// ---- Reading and replacing the file -------------------------------------

enum class FileState {
  kRead,      // a regular file, read
  kMissing,   // no such file (or folder on the way)
  kUnusable,  // there, but a folder, unreadable or otherwise not a file
};

struct FileContent {
  FileState state = FileState::kMissing;
  std::string bytes;
};

FileContent ReadWholeFile(const std::string& path, IniLinks links) {
  FileContent content;
  // Non-blocking, so that a FIFO at the path cannot hang the program.  A
  // refused link fails with ELOOP and is unusable.
  const int no_follow = links == IniLinks::kRefuse ? kOpenNoFollow : 0;
  const int fd = OpenNative(PathFromUtf8(path), O_RDONLY | kOpenNonBlock | no_follow);
  if (fd < 0) {
    content.state =
        (errno == ENOENT || errno == ENOTDIR) ? FileState::kMissing : FileState::kUnusable;
    return content;
  }
  const std::optional<NativeFileInfo> info = StatNative(fd);
  if (!info || info->kind != NativeKind::kRegular) {
    CloseNative(fd);
    content.state = FileState::kUnusable;
    return content;
  }
  content.state = FileState::kRead;
  content.bytes.reserve(static_cast<size_t>(info->size));
  std::array<char, 65536> buffer;
  for (;;) {
    const int64_t n = ReadNative(fd, buffer.data(), buffer.size());
    if (n > 0) {
      content.bytes.append(buffer.data(), static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      content.state = FileState::kUnusable;
      content.bytes.clear();
      break;
    }
  }
  CloseNative(fd);
  return content;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const int64_t n = WriteNative(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// A file or folder without any write permission bit counts as read-only, as
// the read-only attribute does on Windows: even a superuser does not write it.
bool HasWriteBits(const NativeFileInfo& info) {
  return (info.mode & 0222) != 0;
}

// Replaces the file's content with `bytes`: written to a new file in the same
// folder, flushed, then renamed over the old one.  The old file's permission
// bits and owner carry over.  A symbolic link is followed with
// IniLinks::kFollow and refused with kRefuse; the rename replaces the entry
// at the path itself, never a file a link planted there later points to.
// False on failure, leaving the old file untouched.
bool ReplaceFileContent(const std::string& path, std::string_view bytes, IniLinks links) {
  std::filesystem::path target = PathFromUtf8(path);
  std::error_code error;
  if (links == IniLinks::kFollow && std::filesystem::is_symlink(target, error)) {
    auto resolved = std::filesystem::canonical(target, error);
    if (!error) target = std::move(resolved);
  }
  const std::optional<NativeFileInfo> info = StatNative(target, links == IniLinks::kFollow);
  const bool exists = info.has_value();
  if (exists) {
    if (info->kind != NativeKind::kRegular || !HasWriteBits(*info) || !MayWrite(target))
      return false;
  } else if (errno != ENOENT) {
    return false;
  }
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  const std::optional<NativeFileInfo> folder_info = StatNative(folder, true);
  if (!folder_info || folder_info->kind != NativeKind::kFolder || !HasWriteBits(*folder_info))
    return false;

  static std::atomic<unsigned> counter{0};
  std::filesystem::path temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    // Part of the name only, so that a long name cannot make the temporary
    // one too long for the file system.
    temp = folder / PathFromUtf8("." + Utf8FromPath(target.filename()).substr(0, 100) + "." +
                                 std::to_string(CurrentProcessId()) + "." +
                                 std::to_string(counter++) + ".tmp");
    fd = OpenNative(temp, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  bool ok = WriteAll(fd, bytes);
  if (exists) CopyOwnerAndMode(fd, *info);
  ok = ok && SyncNative(fd);
  ok = CloseNative(fd) && ok;
  ok = ok && RenameNative(temp, target);
  if (!ok) RemoveNative(temp);
  return ok;
}

[[noreturn]] void ThrowWriteError(const std::string& path) {
  throw IniFileError("Unable to write to " + path);
}

// ---- Text edits ------------------------------------------------------------

constexpr std::string_view kLineBreak = "\r\n";

bool EndsWithLineBreak(std::string_view text) {
  return !text.empty() && (text.back() == '\n' || text.back() == '\r');
}

std::string WithValueSet(const ProfileText& profile, std::string_view section, std::string_view key,
                         std::string_view value) {
  const std::string& text = profile.text();
  const auto& lines = profile.lines();
  std::string entry;
  entry.reserve(key.size() + value.size() + 3);
  entry.append(key).append("=").append(value).append(kLineBreak);

  const std::optional<size_t> header = profile.FindSection(section);
  if (!header) {
    std::string out = text;
    if (!out.empty() && !EndsWithLineBreak(out)) out.append(kLineBreak);
    out.append("[").append(section).append("]").append(kLineBreak).append(entry);
    return out;
  }
  if (const std::optional<size_t> found = profile.FindKey(*header, key)) {
    // The line keeps everything up to its '=' (indentation, the key's own
    // spelling, spacing); the value and the line break are new.
    const Line& line = lines[*found];
    std::string out;
    out.reserve(text.size() + value.size() + 2);
    out.append(text, 0, line.after_equals).append(value).append(kLineBreak);
    out.append(text, line.end);
    return out;
  }
  // A new key goes right after the section's last entry, so that blank and
  // comment lines ending the section stay in front of the next header.
  size_t anchor = *header;
  const size_t end = profile.SectionEnd(*header);
  for (size_t i = *header + 1; i < end; ++i)
    if (lines[i].kind == LineKind::kEntry || lines[i].kind == LineKind::kText) anchor = i;
  const Line& line = lines[anchor];
  std::string out;
  out.reserve(text.size() + entry.size() + 2);
  out.append(text, 0, line.end);
  if (line.end == line.content_end) out.append(kLineBreak);  // the file's last line
  out.append(entry);
  out.append(text, line.end);
  return out;
}

// The text without the lines [i] for which `remove(i)` holds.
template <typename Predicate>
std::string WithoutLines(const ProfileText& profile, Predicate remove) {
  std::string out;
  out.reserve(profile.text().size());
  const auto& lines = profile.lines();
  for (size_t i = 0; i < lines.size(); ++i)
    if (!remove(i)) out.append(profile.text(), lines[i].begin, lines[i].end - lines[i].begin);
  return out;
}

// The default as the profile functions return it: without trailing spaces,
// and no longer than a value may be.
std::string DefaultValue(std::string_view default_value) {
  while (!default_value.empty() && default_value.back() == ' ') default_value.remove_suffix(1);
  size_t characters = 0;
  for (size_t i = 0; i < default_value.size(); ++i) {
    if ((static_cast<unsigned char>(default_value[i]) & 0xC0) == 0x80) continue;
    if (++characters > IniFile::kMaxValueLength) return std::string(default_value.substr(0, i));
  }
  return std::string(default_value);
}

// The stored value as it is handed out: one pair of matching outer quotes
// removed, cut to the longest value a reader gets.
std::string_view Unquoted(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value.remove_prefix(1);
    value.remove_suffix(1);
  }
  return value.substr(0, IniFile::kMaxValueLength);
}

// Whole number in the notation the Pascal runtime's Val accepts: leading
// spaces, an optional sign, then decimal digits, or hex digits after "$",
// "x", "X", "0x" or "0X"; nothing may follow.  A NUL ends the text.  Decimal
// numbers must fit 32 bits; hex ones may use all 32 bits and wrap to negative.
std::optional<int> ParseInteger(std::string_view text) {
  const auto at = [&](size_t i) -> unsigned char {
    return i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
  };
  size_t i = 0;
  while (at(i) == ' ') ++i;
  bool negative = false;
  if (at(i) == '-' || at(i) == '+') negative = at(i++) == '-';
  bool hex = false;
  if (at(i) == '$' || at(i) == 'x' || at(i) == 'X') {
    hex = true;
    i += 1;
  } else if (at(i) == '0' && (at(i + 1) == 'x' || at(i + 1) == 'X')) {
    hex = true;
    i += 2;
  }
  if (at(i) == 0) return std::nullopt;
  uint32_t value = 0;
  if (hex) {
    for (; at(i) != 0; ++i) {
      const unsigned char c = at(i);
      uint32_t digit;
      if (c >= '0' && c <= '9')
        digit = c - '0';
      else if (c >= 'a' && c <= 'f')
        digit = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        digit = c - 'A' + 10;
      else
        return std::nullopt;
      if (value > 0x0FFFFFFFu) return std::nullopt;
      value = (value << 4) | digit;
    }
    if (negative) value = 0u - value;
    return static_cast<int>(static_cast<int32_t>(value));
  }
  for (; at(i) != 0; ++i) {
    const unsigned char c = at(i);
    if (c < '0' || c > '9') return std::nullopt;
    if (value > 214748364u) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (negative) {
    if (value > 0x80000000u) return std::nullopt;
    return static_cast<int>(static_cast<int32_t>(0u - value));
  }
  if (value > 0x7FFFFFFFu) return std::nullopt;
  return static_cast<int>(value);
}

std::string Encoded(std::string_view utf8) {
  return FromUtf8(utf8, kIniCodePage);
}

std::string EncodedName(std::string_view utf8) {
  return std::string(TrimSpaces(Encoded(utf8)));
}

}  // namespace

std::string IniValueAsRead(std::string_view value) {
  const std::string encoded = Encoded(value.substr(0, value.find_first_of("\r\n")));
  return ToUtf8(Unquoted(TrimBlanks(encoded)), kIniCodePage);
}

IniFile::IniFile(std::string path, IniLinks links) : path_(std::move(path)), links_(links) {}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view default_value) const {
  const std::string section_name = EncodedName(section);
  const std::string key_name = EncodedName(key);
  if (key_name.empty()) return DefaultValue(default_value);
  FileContent content = ReadWholeFile(path_, links_);
  if (content.state != FileState::kRead) return DefaultValue(default_value);
  const ProfileText profile(std::move(content.bytes));
  const std::optional<size_t> header = profile.FindSection(section_name);
  if (!header) return DefaultValue(default_value);
  const std::optional<size_t> line = profile.FindKey(*header, key_name);
  if (!line) return DefaultValue(default_value);
  return ToUtf8(Unquoted(profile.Value(profile.lines()[*line])), kIniCodePage);
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  FileContent content = ReadWholeFile(path_, links_);
  if (content.state == FileState::kUnusable) ThrowWriteError(path_);
  const ProfileText profile(std::move(content.bytes));
  const std::string out =
      WithValueSet(profile, EncodedName(section), EncodedName(key), Encoded(value));
  if (!ReplaceFileContent(path_, out, links_)) ThrowWriteError(path_);
}

int IniFile::ReadInteger(std::string_view section, std::string_view key, int default_value) const {
  std::string text = ReadString(section, key, "");
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text = "$" + text.substr(2);
  return ParseInteger(text).value_or(default_value);
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
  WriteString(section, key, std::to_string(value));
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool default_value) const {
  return ReadInteger(section, key, default_value ? 1 : 0) != 0;
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void IniFile::EraseSection(std::string_view section) {
  FileContent content = ReadWholeFile(path_, links_);
  if (content.state == FileState::kUnusable) ThrowWriteError(path_);
  if (content.state == FileState::kMissing) {
    if (!ReplaceFileContent(path_, "", links_)) ThrowWriteError(path_);
    return;
  }
  const ProfileText profile(std::move(content.bytes));
  const std::optional<size_t> header = profile.FindSection(EncodedName(section));
  if (!header) return;
  const size_t end = profile.SectionEnd(*header);
  const auto& lines = profile.lines();
  const std::string out = WithoutLines(profile, [&](size_t i) {
    return i == *header ||
           (i > *header && i < end &&
            (lines[i].kind == LineKind::kEntry || lines[i].kind == LineKind::kText));
  });
  if (!ReplaceFileContent(path_, out, links_)) ThrowWriteError(path_);
}

void IniFile::DeleteKey(std::string_view section, std::string_view key) {
  FileContent content = ReadWholeFile(path_, links_);
  if (content.state == FileState::kUnusable) return;
  if (content.state == FileState::kMissing) {
    ReplaceFileContent(path_, "", links_);
    return;
  }
  const ProfileText profile(std::move(content.bytes));
  const std::optional<size_t> header = profile.FindSection(EncodedName(section));
  if (!header) return;
  const std::optional<size_t> line = profile.FindKey(*header, EncodedName(key));
  if (!line) return;
  ReplaceFileContent(path_, WithoutLines(profile, [&](size_t i) { return i == *line; }), links_);
}

bool IniFile::SectionExists(std::string_view section) const {
  return !ReadSection(section).empty();
}

std::vector<std::string> IniFile::ReadSection(std::string_view section) const {
  std::vector<std::string> keys;
  FileContent content = ReadWholeFile(path_, links_);
  if (content.state != FileState::kRead) return keys;
  const ProfileText profile(std::move(content.bytes));
  const std::optional<size_t> header = profile.FindSection(EncodedName(section));
  if (!header) return keys;
  const auto& lines = profile.lines();
  const size_t end = profile.SectionEnd(*header);
  for (size_t i = *header + 1; i < end; ++i)
    if (lines[i].kind == LineKind::kEntry && !profile.Name(lines[i]).empty())
      keys.push_back(ToUtf8(profile.Name(lines[i]), kIniCodePage));
  return keys;
}

std::vector<std::string> IniFile::ReadSections() const {
  std::vector<std::string> sections;
  FileContent content = ReadWholeFile(path_, links_);
  if (content.state != FileState::kRead) return sections;
  const ProfileText profile(std::move(content.bytes));
  for (const Line& line : profile.lines())
    if (line.kind == LineKind::kHeader && !profile.Name(line).empty())
      sections.push_back(ToUtf8(profile.Name(line), kIniCodePage));
  return sections;
}

}  // namespace dalimor
