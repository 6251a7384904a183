#pragma once
// Positioned reads and writes on the files of a Paradox table, an operating
// system lock on the table file, and file lookup without regard to letter
// case (tables come from Windows installations).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dalimor {

class UndoLog;

// Bytes of a file from `offset` on; UINT64_MAX - offset for "to the end".
struct ByteRange {
  uint64_t offset = 0;
  uint64_t length = 0;
};

class ParadoxFile {
 public:
  ParadoxFile() = default;
  ParadoxFile(ParadoxFile&& other) noexcept;
  ParadoxFile& operator=(ParadoxFile&& other) noexcept;
  ParadoxFile(const ParadoxFile&) = delete;
  ParadoxFile& operator=(const ParadoxFile&) = delete;
  ~ParadoxFile();

  // Opens an existing file for reading or for reading and writing.  Only a
  // regular file is opened, never through a symbolic link (tables may lie
  // in a folder other people write).  Throws EngineError: kFileNotFound when
  // it does not exist, kIo otherwise (also for a link, a pipe, a device or
  // a folder, naming the file).
  static ParadoxFile Open(const std::string& path, bool writable);
  // Creates the file, or empties an existing regular one.  Throws
  // EngineError (kIo), also when a link or anything but a regular file is
  // in its place.
  static ParadoxFile Create(const std::string& path);

  bool is_open() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

  // Throw EngineError (kIo) naming the file when the system call fails.
  uint64_t Size() const;
  std::string ReadAll() const;
  // Up to `length` bytes from `offset`; fewer at the end of the file.
  std::string ReadAt(uint64_t offset, size_t length) const;
  // Reads up to `length` bytes from `offset` into `out`; returns how many
  // there were.
  size_t ReadInto(uint64_t offset, char* out, size_t length) const;
  void WriteAt(uint64_t offset, std::string_view bytes);
  void Truncate(uint64_t size);
  // Announces the ranges that the writes which follow will change, so that
  // a run which keeps the file by its overwritten bytes saves them all with
  // one sync (WriteAt and Truncate would save each range with its own).
  void SaveBeforeWrites(const std::vector<ByteRange>& ranges);
  // Saves the whole file into the undo log that keeps it, if a run keeps
  // it that way; call before the file is removed.
  void SaveBeforeRemoval();
  // Makes what was written last through a power cut.
  void Sync();

  // Takes an advisory lock on the whole file (shared or exclusive) without
  // waiting; false when another open file holds a conflicting one.
  bool TryLock(bool exclusive);

 private:
  void Close();
  void Identify();
  // The log that saves what a change overwrites, when a run protects the
  // file that way (engine/undo_log.h); nullptr otherwise.
  UndoLog* Undo();

  int fd_ = -1;
  std::string path_;
  uint64_t device_ = 0, file_id_ = 0;  // the file's identity
  bool writable_ = false;
  uint64_t undo_generation_ = 0;
  UndoLog* undo_ = nullptr;
};

// The path of the entry of `directory` whose name equals `name` without
// regard to ASCII letter case (an exact match preferred); empty when none.
std::string FindFileNoCase(const std::string& directory, std::string_view name);

// The name of a new sibling of a table file: "name.DB" + ".PX" -> "name.PX",
// the extension's letters in the case of the table file's ("name.db" ->
// "name.px").
std::string SiblingFileName(const std::string& table_file, std::string_view extension);

// The first bytes of a Paradox file up to the header size its header
// gives (at least the fixed part, fewer only for a short file).
std::string ReadHeaderBytes(const ParadoxFile& file);

}  // namespace dalimor
