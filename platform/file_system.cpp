#include "platform/file_system.h"

#include "platform/code_page.h"
#include "platform/native_io.h"

#include <algorithm>
#include <cerrno>
#include <utility>

namespace dalimor {
namespace {

namespace fs = std::filesystem;

// Lower case of the letters Windows names are likely to hold: ASCII,
// Latin-1 and Latin Extended-A.  Dotted and dotless i stay as they are.
char32_t FoldCodePoint(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 0x20 : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
  if (c >= 0x100 && c <= 0x137 && c != 0x130 && c != 0x131) return c | 1u;
  if (c >= 0x139 && c <= 0x148) return (c & 1u) ? c + 1 : c;
  if (c >= 0x14A && c <= 0x177) return c | 1u;
  if (c == 0x178) return 0xFF;
  if (c >= 0x179 && c <= 0x17E) return (c & 1u) ? c + 1 : c;
  return c;
}

// The name as folded code points: UTF-8 when it is valid UTF-8, else
// Windows-1250.
std::u32string FoldName(std::string_view name) {
  std::u32string text;
  if (!DecodeUtf8(name, text)) DecodeUtf8(ToUtf8(name, CodePage::k1250), text);
  for (char32_t& c : text) c = FoldCodePoint(c);
  return text;
}

// Tokens of a mask after the Win32 translation of its wildcards.
enum class MaskToken : char32_t {
  kStar = 0x110000,  // any run of characters
  kDosStar,          // any run that does not take the name's last "."
  kDosQm,            // one character, or nothing at a "." or the end
  kDosDot,           // a ".", or nothing at the end
};

constexpr char32_t Token(MaskToken token) {
  return static_cast<char32_t>(token);
}

// FindFirstFile turns "?" into DOS_QM, a "." before a wildcard into DOS_DOT
// and a final "*." into DOS_STAR, to match the way DOS matched 8.3 names.
std::u32string TranslateMask(std::u32string_view mask) {
  std::u32string tokens;
  for (size_t i = 0; i < mask.size(); ++i) {
    const char32_t c = mask[i];
    if (c == '*') {
      tokens.push_back(Token(MaskToken::kStar));
    } else if (c == '?') {
      tokens.push_back(Token(MaskToken::kDosQm));
    } else if (c == '.' && i >= 1 && i + 1 == mask.size() && mask[i - 1] == '*') {
      tokens.back() = Token(MaskToken::kDosStar);
    } else if (c == '.' && i + 1 < mask.size() && (mask[i + 1] == '?' || mask[i + 1] == '*')) {
      tokens.push_back(Token(MaskToken::kDosDot));
    } else {
      tokens.push_back(c);
    }
  }
  return tokens;
}

// Runs the mask as a nondeterministic automaton over the name: `states[e]`
// is true when the first e tokens can match the characters read so far.
bool MatchTokens(std::u32string_view tokens, std::u32string_view name) {
  if (name.empty()) return false;
  const size_t last_dot = name.rfind(U'.');
  std::vector<char> states(tokens.size() + 1, 0);
  std::vector<char> next(tokens.size() + 1, 0);
  states[0] = 1;
  for (size_t i = 0;; ++i) {
    const bool at_end = i == name.size();
    const char32_t c = at_end ? 0 : name[i];
    // Transitions that take no character; they only lead forward, so one
    // pass in token order closes the set.
    for (size_t e = 0; e < tokens.size(); ++e) {
      if (!states[e]) continue;
      const char32_t t = tokens[e];
      if (t == Token(MaskToken::kStar) || t == Token(MaskToken::kDosStar) ||
          (t == Token(MaskToken::kDosQm) && (at_end || c == '.')) ||
          (t == Token(MaskToken::kDosDot) && at_end)) {
        states[e + 1] = 1;
      }
    }
    if (at_end) return states[tokens.size()] != 0;
    std::fill(next.begin(), next.end(), 0);
    bool any = false;
    for (size_t e = 0; e < tokens.size(); ++e) {
      if (!states[e]) continue;
      const char32_t t = tokens[e];
      bool takes;
      bool stays = false;  // the star tokens take a character and stay put
      if (t == Token(MaskToken::kStar)) {
        takes = stays = true;
      } else if (t == Token(MaskToken::kDosStar)) {
        takes = stays = c != '.' || i != last_dot;
      } else if (t == Token(MaskToken::kDosQm)) {
        takes = c != '.';
      } else if (t == Token(MaskToken::kDosDot)) {
        takes = c == '.';
      } else {
        takes = c == t;
      }
      if (takes) {
        next[stays ? e : e + 1] = 1;
        any = true;
      }
    }
    if (!any) return false;
    states.swap(next);
  }
}

bool EntryExists(const fs::path& path) {
  return StatNative(path, false).has_value();
}

// The entry named like `name` without regard to case, by the rule of the
// header, spelled as on disk; `folder` is taken as it stands.
std::optional<std::string> FindNameInFolder(const fs::path& folder, std::string_view name) {
  if (name.empty() || name.find_first_of(kPathSeparators) != std::string_view::npos)
    return std::nullopt;
  if (name == "." || name == "..") return std::string(name);
  if (std::optional<std::string> exact = NameOnDisk(folder, name)) return exact;
  const auto entries = ListNative(folder, false);
  if (!entries) return std::nullopt;
  const std::u32string wanted = FoldName(name);
  std::optional<std::string> best;
  for (const NativeEntry& entry : *entries) {
    if ((!best || entry.name < *best) && FoldName(entry.name) == wanted) best = entry.name;
  }
  return best;
}

// Splits a relative path written with "/" or "\" into its non-empty parts.
std::vector<std::string_view> SplitRelative(std::string_view relative) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start <= relative.size()) {
    const size_t end = std::min(relative.find_first_of("/\\", start), relative.size());
    if (end > start) parts.push_back(relative.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// Walks `parts` below `base`; returns how many parts were found.
size_t WalkParts(fs::path& base, const std::vector<std::string_view>& parts) {
  for (size_t k = 0; k < parts.size(); ++k) {
    const std::optional<std::string> found = FindNameInFolder(base, parts[k]);
    if (!found) return k;
    base /= PathFromUtf8(*found);
  }
  return parts.size();
}

LocalDateTime LocalFromNs(int64_t moment_ns) {
  int64_t seconds = moment_ns / 1000000000;
  int64_t rest = moment_ns % 1000000000;
  if (rest < 0) {
    --seconds;
    rest += 1000000000;
  }
  LocalDateTime result = LocalTimeOf(seconds, static_cast<int>(rest / 1000000));
  result.second = std::min(result.second, 59);
  return result;
}

FolderEntry EntryFrom(NativeEntry&& native) {
  const NativeFileInfo& info = native.info;
  const bool broken = native.broken_link;
  FolderEntry entry;
  entry.name = std::move(native.name);
  entry.is_folder = !broken && info.kind == NativeKind::kFolder;
  entry.hidden = info.hidden;
  entry.system = broken || info.system ||
                 (info.kind != NativeKind::kFolder && info.kind != NativeKind::kRegular);
  entry.read_only = info.read_only;
  entry.size = (!broken && info.kind == NativeKind::kRegular) ? info.size : 0;
  entry.last_write = LocalFromNs(info.modified_ns);
  return entry;
}

// The listing of a folder path that needs no further resolution.
std::vector<FolderEntry> ListResolvedFolder(const fs::path& folder, std::string_view mask) {
  std::vector<FolderEntry> entries;
  std::optional<std::vector<NativeEntry>> listed = ListNative(
      folder, true, [mask](std::string_view name) { return MatchesFileMask(name, mask); });
  if (!listed) return entries;
  for (NativeEntry& native : *listed) entries.push_back(EntryFrom(std::move(native)));
  std::vector<std::pair<std::u32string, size_t>> keys;
  keys.reserve(entries.size());
  for (size_t k = 0; k < entries.size(); ++k) keys.emplace_back(FoldName(entries[k].name), k);
  std::sort(keys.begin(), keys.end(), [&entries](const auto& a, const auto& b) {
    if (a.first != b.first) return a.first < b.first;
    return entries[a.second].name < entries[b.second].name;
  });
  std::vector<FolderEntry> sorted;
  sorted.reserve(entries.size());
  for (const auto& key : keys) sorted.push_back(std::move(entries[key.second]));
  return sorted;
}

// DeleteFile on a path that needs no further resolution.
bool DeleteResolvedFile(const fs::path& path) {
  const std::optional<NativeFileInfo> info = StatNative(path, false);
  if (!info || info->kind == NativeKind::kFolder) return false;
  if (info->kind != NativeKind::kLink && info->read_only) return false;
  return RemoveNative(path);
}

}  // namespace

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  return a == b || FoldName(a) == FoldName(b);
}

fs::path ReachedPath(const fs::path& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  if (ec) absolute = path;
  // Case first, so that links spelled in another case are found and
  // followed; then once more for the components the links led to.
  fs::path reached =
      ResolvePathIgnoringCase(absolute.root_path(), Utf8FromPath(absolute.relative_path()));
  reached = fs::weakly_canonical(reached, ec);
  if (ec) return absolute.lexically_normal();
  return ResolvePathIgnoringCase(reached.root_path(), Utf8FromPath(reached.relative_path()));
}

bool IsSameOrInside(const fs::path& inner, const fs::path& outer) {
  if (inner.empty() || outer.empty()) return false;
  const fs::path a = ReachedPath(inner), b = ReachedPath(outer);
  auto i = a.begin();
  for (auto o = b.begin(); o != b.end(); ++o) {
    if (o->empty()) continue;  // a trailing separator
    while (i != a.end() && i->empty()) ++i;
    if (i == a.end() || !SameNameIgnoringCase(Utf8FromPath(*i), Utf8FromPath(*o))) return false;
    ++i;
  }
  return true;
}

bool MatchesFileMask(std::string_view name, std::string_view mask) {
  if (mask.empty() || name.empty()) return false;
  if (mask == "*" || mask == "*.*") return true;
  return MatchTokens(TranslateMask(FoldName(mask)), FoldName(name));
}

std::optional<fs::path> FindEntryIgnoringCase(const fs::path& folder, std::string_view name) {
  const std::optional<std::string> found = FindNameInFolder(folder, name);
  if (!found) return std::nullopt;
  return folder / PathFromUtf8(*found);
}

std::optional<fs::path> FindPathIgnoringCase(const fs::path& path) {
  if (path.empty()) return std::nullopt;
  // Where names ignore case, the path as written may not be the spelling
  // on disk: each component is looked up.
  if (kCaseSensitiveNames && EntryExists(path)) return path;
  fs::path current = path.root_path();
  for (const fs::path& part : path.relative_path()) {
    const std::string text = Utf8FromPath(part);
    if (text.empty()) continue;  // after a trailing separator
    const std::optional<std::string> found = FindNameInFolder(current, text);
    if (!found) return std::nullopt;
    current /= PathFromUtf8(*found);
  }
  return current;
}

std::optional<fs::path> FindRelativePathIgnoringCase(const fs::path& root,
                                                     std::string_view relative) {
  fs::path base;
  if (!root.empty()) {
    std::optional<fs::path> found_root = FindPathIgnoringCase(root);
    if (!found_root) return std::nullopt;
    base = std::move(*found_root);
  }
  const std::vector<std::string_view> parts = SplitRelative(relative);
  if (WalkParts(base, parts) != parts.size()) return std::nullopt;
  return base;
}

fs::path ResolvePathIgnoringCase(const fs::path& root, std::string_view relative) {
  fs::path base = root;
  if (!root.empty()) {
    if (std::optional<fs::path> found_root = FindPathIgnoringCase(root))
      base = std::move(*found_root);
  }
  const std::vector<std::string_view> parts = SplitRelative(relative);
  for (size_t k = WalkParts(base, parts); k < parts.size(); ++k) base /= PathFromUtf8(parts[k]);
  return base;
}

bool FileExists(const fs::path& path) {
  const std::optional<fs::path> found = FindPathIgnoringCase(path);
  if (!found) return false;
  const std::optional<NativeFileInfo> info = StatNative(*found, true);
  return info && info->kind != NativeKind::kFolder;
}

bool DirectoryExists(const fs::path& path) {
  const std::optional<fs::path> found = FindPathIgnoringCase(path);
  if (!found) return false;
  const std::optional<NativeFileInfo> info = StatNative(*found, true);
  return info && info->kind == NativeKind::kFolder;
}

bool DeleteFile(const fs::path& path) {
  const std::optional<fs::path> found = FindPathIgnoringCase(path);
  return found && DeleteResolvedFile(*found);
}

int DeleteFilesByMask(const std::string& folder, std::string_view mask) {
  if (folder.empty()) return 0;
  const std::optional<fs::path> resolved = FindPathIgnoringCase(PathFromUtf8(folder));
  if (!resolved) return 0;
  int result = 0;
  bool first = true;
  for (const FolderEntry& entry : ListResolvedFolder(*resolved, mask)) {
    const bool deleted = DeleteResolvedFile(*resolved / PathFromUtf8(entry.name));
    if (first) {
      result = deleted ? 1 : -1;
      first = false;
    } else if (!deleted) {
      result = -1;
    } else if (result >= 0) {
      ++result;
    }
  }
  return result;
}

DosDateTime ToDosDateTime(const LocalDateTime& moment) {
  if (moment.year < 1980) return {static_cast<uint16_t>((1 << 5) | 1), 0};
  if (moment.year > 2107) {
    return {static_cast<uint16_t>((127 << 9) | (12 << 5) | 31),
            static_cast<uint16_t>((23 << 11) | (59 << 5) | 29)};
  }
  DosDateTime result;
  result.date = static_cast<uint16_t>(((moment.year - 1980) << 9) | ((moment.month & 0x0F) << 5) |
                                      (moment.day & 0x1F));
  result.time = static_cast<uint16_t>(((moment.hour & 0x1F) << 11) | ((moment.minute & 0x3F) << 5) |
                                      ((moment.second / 2) & 0x1F));
  return result;
}

uint8_t FolderEntry::DosAttributes() const {
  uint8_t attributes = 0;
  if (read_only) attributes |= kDosReadOnly;
  if (hidden) attributes |= kDosHidden;
  if (system) attributes |= kDosSystem;
  attributes |= is_folder ? kDosDirectory : kDosArchive;
  return attributes;
}

std::vector<FolderEntry> ListFolder(const fs::path& folder, std::string_view mask) {
  const std::optional<fs::path> resolved = FindPathIgnoringCase(folder);
  if (!resolved) return {};
  return ListResolvedFolder(*resolved, mask);
}

PlainFile::PlainFile(PlainFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), status_(other.status_), error_(other.error_) {}

PlainFile& PlainFile::operator=(PlainFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    status_ = other.status_;
    error_ = other.error_;
  }
  return *this;
}

PlainFile::~PlainFile() { Close(); }

int PlainFile::Release() { return std::exchange(fd_, -1); }

bool PlainFile::Close() {
  if (fd_ < 0) return true;
  return CloseNative(std::exchange(fd_, -1));
}

PlainFile OpenPlainFile(const fs::path& path, int flags, unsigned mode) {
  PlainFile file;
  const auto fail = [&](PlainFileStatus status, int error) {
    file.Close();
    file.status_ = status;
    file.error_ = status == PlainFileStatus::kFailed ? error : 0;
    return std::move(file);
  };
  const int open_flags = (flags & ~O_TRUNC) | kOpenNoFollow | kOpenNonBlock;
  file.fd_ = OpenNative(path, open_flags, mode);
  if (file.fd_ < 0) {
    const int error = errno;
    // ELOOP: the last component is a link.  ENXIO: a pipe without a reader
    // opened for writing, or a socket.  EISDIR: a folder opened for writing.
    if (error == ELOOP || error == ENXIO || error == EISDIR)
      return fail(PlainFileStatus::kNotPlain, error);
    if (error == ENOENT || error == ENOTDIR) return fail(PlainFileStatus::kMissing, error);
    return fail(PlainFileStatus::kFailed, error);
  }
  const std::optional<NativeFileInfo> info = StatNative(file.fd_);
  if (!info) return fail(PlainFileStatus::kFailed, errno);
  if (info->kind != NativeKind::kRegular) return fail(PlainFileStatus::kNotPlain, 0);
  if ((flags & O_TRUNC) != 0 && !TruncateNative(file.fd_, 0))
    return fail(PlainFileStatus::kFailed, errno);
  file.status_ = PlainFileStatus::kOpened;
  return file;
}

std::string WithTrailingBackslash(std::string path) {
  if (path.empty() || kPathSeparators.find(path.back()) == std::string_view::npos)
    path.push_back(kNativeSeparator);
  return path;
}

}  // namespace dalimor
