#include "engine/network_control.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "engine/engine_error.h"
#include "platform/native_io.h"
#include "util/ascii.h"

namespace dalimor {
namespace {

constexpr size_t kNetDirOffset = 0x6E;
constexpr size_t kNetDirEnd = 0x10D;  // the stamp follows the path area
constexpr size_t kLockStampOffset = 0x10D;
constexpr size_t kNetStampOffset = 0x08;
constexpr size_t kStampSize = 4;

// The file of that name in the folder, matched without regard to case.
std::optional<std::filesystem::path> FindCaseless(const std::string& folder,
                                                  const std::string& name) {
  std::error_code ec;
  const std::filesystem::path exact = PathFromUtf8(folder) / PathFromUtf8(name);
  // Where names ignore case the exact name would also find another spelling.
  if (kCaseSensitiveNames && std::filesystem::is_regular_file(exact, ec)) return exact;
  std::filesystem::directory_iterator it(PathFromUtf8(folder), ec), end;
  const std::string wanted = AsciiLower(name);
  std::vector<std::filesystem::path> matches;
  for (; !ec && it != end; it.increment(ec)) {
    if (AsciiLower(Utf8FromPath(it->path().filename())) == wanted &&
        std::filesystem::is_regular_file(it->path(), ec))
      matches.push_back(it->path());
  }
  if (matches.empty()) return std::nullopt;
  std::sort(matches.begin(), matches.end());
  return matches.front();
}

std::string ReadPrefix(const std::filesystem::path& path, size_t size) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes(size, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(size));
  bytes.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  return bytes;
}

// Path components, without a drive letter or a \\server\share prefix.
std::vector<std::string> Components(const std::string& path, bool windows) {
  std::string p = path;
  if (windows) {
    std::replace(p.begin(), p.end(), '\\', '/');
    if (p.size() >= 2 && p[1] == ':') {
      p.erase(0, 2);
    } else if (p.rfind("//", 0) == 0) {
      // Drop the server and the share name.
      size_t cut = p.find('/', 2);
      cut = cut == std::string::npos ? p.size() : p.find('/', cut + 1);
      p.erase(0, cut == std::string::npos ? p.size() : cut);
    }
  }
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= p.size()) {
    size_t slash = p.find('/', start);
    if (slash == std::string::npos) slash = p.size();
    if (slash > start) {
      std::string part = AsciiLower(p.substr(start, slash - start));
      if (part != ".") parts.push_back(part);
    }
    start = slash + 1;
  }
  return parts;
}

bool SameController(const DirectoryLock& lock, const std::string& net_file_dir) {
  if (const auto net_file = FindCaseless(net_file_dir, "PDOXUSRS.NET")) {
    const std::string net = ReadPrefix(*net_file, kNetStampOffset + kStampSize);
    if (net.size() == kNetStampOffset + kStampSize && lock.stamp.size() == kStampSize &&
        net.compare(kNetStampOffset, kStampSize, lock.stamp) == 0)
      return true;
  }
  const auto theirs = Components(lock.net_dir, true);
  // Our own folder is spelled the native way: with a drive letter on Windows.
  const auto ours = Components(Utf8FromPath(std::filesystem::absolute(PathFromUtf8(net_file_dir))),
                               kNativeSeparator == '\\');
  if (theirs.empty() || ours.empty()) return theirs.empty() && ours.empty();
  const auto& shorter = theirs.size() <= ours.size() ? theirs : ours;
  const auto& longer = theirs.size() <= ours.size() ? ours : theirs;
  return std::equal(shorter.rbegin(), shorter.rend(), longer.rbegin());
}

}  // namespace

std::optional<DirectoryLock> ReadDirectoryLock(const std::string& folder) {
  const auto lock_file = FindCaseless(folder, "PDOXUSRS.LCK");
  if (!lock_file) return std::nullopt;
  const std::string bytes = ReadPrefix(*lock_file, kLockStampOffset + kStampSize);
  if (bytes.size() <= kNetDirOffset) return std::nullopt;
  DirectoryLock lock;
  lock.lock_file = lock_file->string();
  const size_t area_end = std::min(bytes.size(), kNetDirEnd);
  const size_t nul = bytes.find('\0', kNetDirOffset);
  lock.net_dir = bytes.substr(kNetDirOffset, std::min(nul, area_end) - kNetDirOffset);
  if (bytes.size() >= kLockStampOffset + kStampSize)
    lock.stamp = bytes.substr(kLockStampOffset, kStampSize);
  if (lock.net_dir.empty()) return std::nullopt;
  return lock;
}

void CheckDirectoryControl(const std::string& folder, const std::string& net_file_dir) {
  if (net_file_dir.empty()) return;
  const auto lock = ReadDirectoryLock(folder);
  if (!lock || SameController(*lock, net_file_dir)) return;
  throw EngineError(EngineErrorKind::kDirectoryControlled,
                    "Directory is controlled by other .NET file.\nFile: " + lock->lock_file);
}

}  // namespace dalimor
