// The file calls of platform/native_io.h on Linux (and other POSIX systems).
#ifndef _WIN32

#include "platform/native_io.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/file_system.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

NativeFileInfo FromStat(const struct stat& st, std::string_view name) {
  NativeFileInfo info;
  info.kind = S_ISREG(st.st_mode)   ? NativeKind::kRegular
              : S_ISDIR(st.st_mode) ? NativeKind::kFolder
              : S_ISLNK(st.st_mode) ? NativeKind::kLink
                                    : NativeKind::kOther;
  info.size = static_cast<uint64_t>(st.st_size);
  info.modified_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  info.mode = static_cast<unsigned>(st.st_mode & 07777);
  info.read_only = (st.st_mode & S_IWUSR) == 0;
  info.hidden = !name.empty() && name[0] == '.';
  info.links = static_cast<uint64_t>(st.st_nlink);
  info.device = static_cast<uint64_t>(st.st_dev);
  info.file = static_cast<uint64_t>(st.st_ino);
  info.owner = static_cast<unsigned>(st.st_uid);
  info.group = static_cast<unsigned>(st.st_gid);
  return info;
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

fs::path PathFromUtf8(std::string_view utf8) {
  return fs::path(std::string(utf8));
}

std::string Utf8FromPath(const fs::path& path) {
  return path.string();
}

int OpenNative(const fs::path& path, int flags, unsigned mode) {
  return ::open(path.empty() ? "" : path.c_str(), flags | O_CLOEXEC | O_NOCTTY,
                static_cast<mode_t>(mode));
}

int OpenInFolderNative(int folder_fd, const fs::path&, std::string_view name, int flags,
                       unsigned mode) {
  return ::openat(folder_fd, std::string(name).c_str(), flags | O_CLOEXEC | O_NOCTTY,
                  static_cast<mode_t>(mode));
}

std::optional<fs::path> MakePrivateFolder(const fs::path& parent, std::string_view prefix) {
  std::string pattern = (parent / (std::string(prefix) + "XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) return std::nullopt;
  return fs::path(pattern);
}

int OpenFolderNative(const fs::path& folder) {
  return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

LockOutcome TryLockFolder(int fd) {
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return LockOutcome::kLocked;
  return errno == EWOULDBLOCK ? LockOutcome::kBusy : LockOutcome::kFailed;
}

void RemoveHeldFolder(const fs::path& folder, int fd) {
  std::error_code ec;
  if (!folder.empty()) fs::remove_all(folder, ec);
  if (fd >= 0) ::close(fd);
}

bool CloseNative(int fd) {
  return ::close(fd) == 0;
}

int64_t ReadNative(int fd, void* data, size_t size) {
  return ::read(fd, data, size);
}

int64_t WriteNative(int fd, const void* data, size_t size) {
  return ::write(fd, data, size);
}

int64_t ReadNativeAt(int fd, void* data, size_t size, uint64_t offset) {
  return ::pread(fd, data, size, static_cast<off_t>(offset));
}

int64_t WriteNativeAt(int fd, const void* data, size_t size, uint64_t offset) {
  return ::pwrite(fd, data, size, static_cast<off_t>(offset));
}

bool TruncateNative(int fd, uint64_t size) {
  return ::ftruncate(fd, static_cast<off_t>(size)) == 0;
}

bool SyncNative(int fd) {
  return ::fsync(fd) == 0;
}

void SyncFolder(const fs::path& folder) {
  const int fd =
      ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return;
  while (::fsync(fd) != 0 && errno == EINTR) {
  }
  ::close(fd);
}

LockOutcome TryLockNative(int fd, bool exclusive) {
  while (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    return errno == EWOULDBLOCK ? LockOutcome::kBusy : LockOutcome::kFailed;
  }
  return LockOutcome::kLocked;
}

std::optional<NativeFileInfo> StatNative(const fs::path& path, bool follow_links) {
  struct stat st;
  if ((follow_links ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0)
    return std::nullopt;
  return FromStat(st, path.filename().native());
}

std::optional<NativeFileInfo> StatNative(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return std::nullopt;
  return FromStat(st, {});
}

std::optional<std::vector<NativeEntry>> ListNative(
    const fs::path& folder, bool with_info, const std::function<bool(std::string_view)>& keep) {
  const std::unique_ptr<DIR, DirCloser> dir(opendir(folder.empty() ? "." : folder.c_str()));
  if (!dir) return std::nullopt;
  const int folder_fd = dirfd(dir.get());
  std::vector<NativeEntry> entries;
  while (const dirent* item = readdir(dir.get())) {
    const std::string_view name = item->d_name;
    if (name == "." || name == ".." || (keep && !keep(name))) continue;
    NativeEntry entry;
    if (!with_info) {
      entry.name = std::string(name);
      entries.push_back(std::move(entry));
      continue;
    }
    struct stat st;
    if (fstatat(folder_fd, item->d_name, &st, 0) != 0) {
      // A link whose target is gone still is an entry of the folder.
      if (fstatat(folder_fd, item->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      entry.broken_link = true;
    }
    entry.name = std::string(name);
    entry.info = FromStat(st, name);
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::optional<std::string> NameOnDisk(const fs::path& folder, std::string_view name) {
  struct stat st;
  if (::lstat((folder / std::string(name)).c_str(), &st) != 0) return std::nullopt;
  return std::string(name);
}

bool RemoveNative(const fs::path& path) {
  return ::unlink(path.c_str()) == 0;
}

bool RenameNative(const fs::path& from, const fs::path& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool MayWrite(const fs::path& path) {
  return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

void CopyOwnerAndMode(int fd, const NativeFileInfo& like) {
  // A file we may write but not own keeps our ownership.
  [[maybe_unused]] const int owner_kept = fchown(fd, like.owner, like.group);
  [[maybe_unused]] const int mode_kept = fchmod(fd, like.mode);
}

std::optional<uint64_t> FreeBytes(const fs::path& folder) {
  struct statvfs info;
  if (::statvfs(folder.c_str(), &info) != 0) return std::nullopt;
  return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}

int CurrentProcessId() {
  return static_cast<int>(::getpid());
}

unsigned CurrentUserId() {
  return static_cast<unsigned>(::getuid());
}

std::string CurrentLoginName() {
  if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_name && *entry->pw_name)
    return entry->pw_name;
  return {};
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void UseUtf8Console() {}

fs::path UserConfigFolder() {
  fs::path base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = fs::path(home) / ".config";
  } else {
    base = fs::temp_directory_path();
  }
  return base / "dalimor";
}

fs::path UserDataFolder() {
  fs::path base;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = fs::path(home) / ".local" / "share";
  } else {
    base = fs::temp_directory_path();
  }
  return base / "dalimor";
}

}  // namespace dalimor

#endif  // !_WIN32
