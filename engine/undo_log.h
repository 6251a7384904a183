#pragma once
// The bytes a run overwrites in a table file it changes in place, saved
// before they are overwritten, so that the file can be put back as it was
// without a copy of the whole file.
//
// The run journal (engine/run_journal.h) keeps one log per file of a table
// it protects this way and registers the log under the file's identity
// (device and file number, so that any path or spelling of the name finds
// it).  The file layer (engine/paradox/file.h) asks the register before
// every write and truncation of a file it opened for writing; the log then
// appends what the range holds now, once per range, and only within the
// length the file had when the log began (what lies beyond is cut away
// again when the file is put back).  Each record is written and synced
// before the change it protects is made, so a log on disk always covers
// every change that reached the file.
//
// Record: "DUNR", offset (8 bytes), length (4 bytes), a checksum of the
// offset, the length and the bytes (8 bytes), then the bytes; integers
// little endian.  A record cut short or damaged ends the log: a run killed while
// appending it had not yet made the change it protects.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/paradox/file.h"

namespace dalimor {

class UndoLog {
 public:
  // Creates (or empties) the log file `log` for a file `original_size`
  // bytes long.  Throws EngineError (kIo).
  UndoLog(std::filesystem::path log, uint64_t original_size);
  UndoLog(const UndoLog&) = delete;
  UndoLog& operator=(const UndoLog&) = delete;

  // Saves what the ranges of `file` hold now, as far as they lie within the
  // original length and were not saved before, and syncs the log once.
  // Throws EngineError (kIo) naming the file or the log; the changes must
  // then not be made.
  void SaveBefore(const ParadoxFile& file, const std::vector<ByteRange>& ranges);

  uint64_t original_size() const { return original_size_; }
  // Bytes of the file saved so far.
  uint64_t saved_bytes() const { return saved_bytes_; }

 private:
  void Append(uint64_t offset, const char* data, size_t length);

  ParadoxFile log_;
  uint64_t original_size_ = 0;
  uint64_t end_ = 0;          // where the next record goes
  uint64_t saved_bytes_ = 0;
  bool broken_ = false;       // a record could not be written whole
  std::map<uint64_t, uint64_t> saved_;  // saved ranges: start -> end, merged
};

// The register of logs by file identity (NativeFileInfo::device, ::file).
// The caller keeps the log alive until it drops it.
void RegisterUndoLog(uint64_t device, uint64_t file, UndoLog* log);
void DropUndoLog(uint64_t device, uint64_t file);
// Whether a log is registered for the file.
bool HasUndoLog(uint64_t device, uint64_t file);
// The log registered for the file, or nullptr.
UndoLog* FindUndoLog(uint64_t device, uint64_t file);
// Moves on at every registration and drop: while it is unchanged, an
// earlier answer of FindUndoLog still holds.
uint64_t UndoGeneration();

// Saves the whole content of the file at `path` into its log, when it has
// one, before the file is removed (ParadoxFile::SaveBeforeRemoval).  Throws
// EngineError (kIo).
void SaveBeforeRemoval(const std::filesystem::path& path);

// Puts a file back from its log: every saved range is written back, then
// the file is cut to `original_size`, then synced.  Records past the first
// one cut short or damaged are not read; a record that claims bytes beyond
// the original length is damage (EngineError kCorrupt).  With `whole` (the
// file was gone and has been created empty) the records must cover every
// byte of the original length, else nothing is written.  Throws
// EngineError (kIo) when the log cannot be read or the file not written.
// Can be repeated: it writes the same bytes again.
void ApplyUndoLog(const std::filesystem::path& log, ParadoxFile& target, uint64_t original_size,
                  bool whole);

}  // namespace dalimor
