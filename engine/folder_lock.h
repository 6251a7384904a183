#pragma once
// One run at a time per folder: an operating-system lock on a hidden file
// ".dalimor-lock" in the folder, held for as long as the lock object lives;
// the file is removed when the lock is let go.
// The file names the holder (process and start), so that a second run can
// say who is at work.  The lock goes with its process: a run that was
// killed holds nothing, whatever the file still says, so a stale lock is
// recognised by the operating system and never by its age.

#include <filesystem>
#include <optional>
#include <string>

namespace dalimor {

inline constexpr const char* kFolderLockName = ".dalimor-lock";

class FolderLock {
 public:
  // Takes the lock of `folder` without waiting.  Nullopt when another
  // process holds it; `holder` then receives what that process wrote about
  // itself ("proces 123, spuštěn 9.12.2026 22:10:05, odeslání dávky"), or
  // is left empty when it cannot be read.  `what` says what this process
  // does, for the next one that finds the lock taken.  A folder that
  // cannot be written at all (read-only media) needs no lock: the result
  // then holds nothing.  Throws EngineError
  // (kIo) when the lock file cannot be opened (a missing folder, a link or
  // a special file in its place).
  static std::optional<FolderLock> TryAcquire(const std::string& folder, const std::string& what,
                                              std::string* holder = nullptr);

  FolderLock(FolderLock&& other) noexcept;
  FolderLock& operator=(FolderLock&& other) noexcept;
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock();

 private:
  explicit FolderLock(int fd) : fd_(fd) {}
  static std::optional<FolderLock> TryAcquireOnce(const std::filesystem::path& path,
                                                  const std::string& folder,
                                                  const std::string& what, std::string* holder);
  void Release();

  int fd_ = -1;
  std::string path_;  // the lock file, removed on release; empty: none of ours
};

}  // namespace dalimor
