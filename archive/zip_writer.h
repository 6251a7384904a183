#pragma once
// Writes one zip archive in a single pass: per entry a provisional local
// header, the raw deflate data, then the header rewritten in place with the
// CRC and sizes; at the end the central directory and the end record.
// Memory stays fixed whatever the size of the files: one input and one
// output buffer and one deflate state, reused for every entry.
//
// The archive is written into a hidden temporary file in its folder and
// renamed to its own name only when it is complete and on disk, so that the
// archive's name never holds a partly written archive, not even after a
// crash or a kill.  Private to archive/.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <zlib.h>

#include "archive/batch_archive.h"
#include "archive/zip_format.h"

namespace dalimor {

// A failure that stops the packing; the text is what the user is shown.
class ArchiveError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What an entry is stored as, apart from its data.
struct ZipEntryInfo {
  std::string name;  // bytes as stored
  uint16_t flags = 0;
  uint16_t dos_time = 0;
  uint16_t dos_date = 0;
  uint32_t external_attributes = 0;
};

// Deletes the temporary files that writers of the archive `path` left in
// its folder when they were killed or crashed.  A temporary file that a
// running writer holds (it keeps a lock on it) stays.  Never throws.
void RemoveUnfinishedArchives(const std::filesystem::path& path);

class ZipWriter {
 public:
  // Creates a new temporary file for the archive `path` beside it: a hidden
  // name (".<archive name>.<process>.<n>.tmp") that a listing for packing
  // skips, locked for as long as the writer has it.  Throws ArchiveError.
  ZipWriter(const std::filesystem::path& path, ArchiveWriteFunction write,
            ArchiveReadFunction read = {});
  // Deletes the temporary file unless Finish() succeeded.
  ~ZipWriter();
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  // The identity of the file being written, to keep it out of its own
  // content.
  uint64_t device() const { return device_; }
  uint64_t inode() const { return inode_; }

  // Appends one entry whose data are read from `fd` to its end.  `source`
  // names the file in error texts; `progress` runs after each input piece.
  // Throws ArchiveError.
  void AddEntry(const ZipEntryInfo& info, int fd, const std::string& source,
                const std::function<void()>& progress);

  // Writes the central directory and the end record, flushes the file to
  // disk, renames it to the archive's name (replacing a file of that name)
  // and closes it, then flushes the folder so that the new name lasts.
  // Throws ArchiveError; the temporary file is then deleted by the
  // destructor.
  void Finish();

  size_t entry_count() const { return central_.size(); }

 private:
  void Append(const void* data, size_t size);
  void WriteAt(uint64_t offset, const void* data, size_t size);
  void CheckArchiveSize(uint64_t more) const;
  void Compress(int fd, const std::string& source, const std::function<void()>& progress,
                uint32_t& crc, uint64_t& read_total, uint64_t& written_total);

  std::filesystem::path path_;       // the archive's name; error texts give it
  std::filesystem::path temporary_;  // where it is written until Finish()
  ArchiveWriteFunction write_;
  ArchiveReadFunction read_;
  int fd_ = -1;
  uint64_t device_ = 0;
  uint64_t inode_ = 0;
  bool renamed_ = false;  // the file has the archive's name
  bool finished_ = false;
  uint64_t end_ = 0;
  std::vector<ZipCentralHeader> central_;
  std::vector<unsigned char> input_;
  std::vector<unsigned char> output_;
  z_stream stream_{};
  bool stream_ready_ = false;
};

}  // namespace dalimor
