#include "engine/folder_lock.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "engine/engine_error.h"
#include "platform/native_io.h"
#include "platform/regional.h"
#include "util/clock.h"

namespace dalimor {
namespace {

// The moment as the user's Czech Windows shows it ("9.12.2026 22:10:05").
std::string Now() { return DateTimeToStr(SystemClock().Now(), CzechRegionalSettings()); }

}  // namespace

std::optional<FolderLock> FolderLock::TryAcquire(const std::string& folder, const std::string& what,
                                                 std::string* holder) {
  const std::filesystem::path path = PathFromUtf8(folder) / kFolderLockName;
  // The holder removes the file when it lets go: a lock taken on a file
  // that is no longer the folder's is worth nothing, so try again.
  for (int attempt = 0;; ++attempt) {
    std::optional<FolderLock> lock = TryAcquireOnce(path, folder, what, holder);
    if (!lock || lock->fd_ < 0) return lock;
    const std::optional<NativeFileInfo> held = StatNative(lock->fd_);
    const std::optional<NativeFileInfo> named = StatNative(path, false);
    if (held && named && held->device == named->device && held->file == named->file) return lock;
    lock->path_.clear();  // not ours to remove
    if (attempt == 100)
      throw EngineError(EngineErrorKind::kIo, "Cannot lock folder " + folder);
  }
}

std::optional<FolderLock> FolderLock::TryAcquireOnce(const std::filesystem::path& path,
                                                     const std::string& folder,
                                                     const std::string& what,
                                                     std::string* holder) {
  const int fd = OpenNative(path, O_RDWR | O_CREAT | kOpenNoFollow | kOpenNonBlock, 0644);
  // A folder nobody may write (read-only media) cannot be changed by another
  // run either: there is nothing to lock.
  if (fd < 0 && (errno == EROFS || ((errno == EACCES || errno == EPERM) &&
                                    !MayWrite(PathFromUtf8(folder)) && !StatNative(path, false))))
    return FolderLock(-1);
  if (fd < 0)
    throw EngineError(EngineErrorKind::kIo,
                      "Cannot lock folder " + folder + ": " + std::strerror(errno));
  const std::optional<NativeFileInfo> info = StatNative(fd);
  if (!info || info->kind != NativeKind::kRegular) {
    CloseNative(fd);
    throw EngineError(EngineErrorKind::kIo, "Cannot lock folder " + folder + ": " +
                                                Utf8FromPath(path) + " is not a regular file");
  }
  if (const LockOutcome outcome = TryLockNative(fd, true); outcome != LockOutcome::kLocked) {
    const int error = errno;
    if (holder) {
      holder->clear();
      char buffer[512];
      const int64_t got = ReadNativeAt(fd, buffer, sizeof buffer - 1, 0);
      if (got > 0) holder->assign(buffer, static_cast<size_t>(got));
      while (!holder->empty() && (holder->back() == '\n' || holder->back() == '\0'))
        holder->pop_back();
    }
    CloseNative(fd);
    if (outcome == LockOutcome::kBusy) return std::nullopt;
    throw EngineError(EngineErrorKind::kIo,
                      "Cannot lock folder " + folder + ": " + std::strerror(error));
  }
  const std::string text = "proces " + std::to_string(CurrentProcessId()) + ", spuštěn " + Now() +
                           (what.empty() ? "" : ", " + what) + "\n";
  if (TruncateNative(fd, 0)) {
    const int64_t put = WriteNativeAt(fd, text.data(), text.size(), 0);
    (void)put;  // the description is a courtesy; the lock holds without it
  }
  FolderLock lock(fd);
  lock.path_ = Utf8FromPath(path);
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
  if (!path_.empty()) RemoveNative(PathFromUtf8(path_));
  CloseNative(fd_);
  fd_ = -1;
}

}  // namespace dalimor
