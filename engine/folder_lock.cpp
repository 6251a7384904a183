#include "engine/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "engine/engine_error.h"
#include "platform/regional.h"
#include "util/clock.h"

namespace dalimor {
namespace {

// The moment as the user's Czech Windows shows it ("9.12.2026 22:10:05").
std::string Now() { return DateTimeToStr(SystemClock().Now(), CzechRegionalSettings()); }

}  // namespace

std::optional<FolderLock> FolderLock::TryAcquire(const std::string& folder, const std::string& what,
                                                 std::string* holder) {
  const std::filesystem::path path = std::filesystem::path(folder) / kFolderLockName;
  // The holder removes the file when it lets go: a lock taken on a file
  // that is no longer the folder's is worth nothing, so try again.
  for (int attempt = 0;; ++attempt) {
    std::optional<FolderLock> lock = TryAcquireOnce(path, folder, what, holder);
    if (!lock || lock->fd_ < 0) return lock;
    struct stat held, named;
    if (::fstat(lock->fd_, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino)
      return lock;
    lock->path_.clear();  // not ours to remove
    if (attempt == 100)
      throw EngineError(EngineErrorKind::kIo, "Cannot lock folder " + folder);
  }
}

std::optional<FolderLock> FolderLock::TryAcquireOnce(const std::filesystem::path& path,
                                                     const std::string& folder,
                                                     const std::string& what,
                                                     std::string* holder) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  // A folder nobody may write (read-only media) cannot be changed by another
  // run either: there is nothing to lock.
  if (fd < 0 && (errno == EROFS || ((errno == EACCES || errno == EPERM) &&
                                    ::access(folder.c_str(), W_OK) != 0 &&
                                    ::access(path.c_str(), F_OK) != 0)))
    return FolderLock(-1);
  if (fd < 0)
    throw EngineError(EngineErrorKind::kIo,
                      "Cannot lock folder " + folder + ": " + std::strerror(errno));
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    throw EngineError(EngineErrorKind::kIo, "Cannot lock folder " + folder + ": " + path.string() +
                                                " is not a regular file");
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (holder) {
      holder->clear();
      char buffer[512];
      const ssize_t got = ::pread(fd, buffer, sizeof buffer - 1, 0);
      if (got > 0) holder->assign(buffer, static_cast<size_t>(got));
      while (!holder->empty() && (holder->back() == '\n' || holder->back() == '\0'))
        holder->pop_back();
    }
    ::close(fd);
    if (error == EWOULDBLOCK) return std::nullopt;
    throw EngineError(EngineErrorKind::kIo,
                      "Cannot lock folder " + folder + ": " + std::strerror(error));
  }
  const std::string text =
      "proces " + std::to_string(::getpid()) + ", spuštěn " + Now() + (what.empty() ? "" : ", " + what) + "\n";
  if (::ftruncate(fd, 0) == 0) {
    const ssize_t put = ::pwrite(fd, text.data(), text.size(), 0);
    (void)put;  // the description is a courtesy; the lock holds without it
  }
  FolderLock lock(fd);
  lock.path_ = path.string();
  return lock;
}

FolderLock::FolderLock(FolderLock&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)) {
  other.fd_ = -1;
  other.path_.clear();
}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
    other.path_.clear();
  }
  return *this;
}

FolderLock::~FolderLock() { Release(); }

void FolderLock::Release() {
  if (fd_ < 0) return;
  // The file goes while the lock is still held, so that it never names a
  // process that no longer runs and no folder keeps a stray file.
  if (!path_.empty()) ::unlink(path_.c_str());
  ::close(fd_);
  fd_ = -1;
}

}  // namespace dalimor
