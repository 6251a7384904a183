#pragma once
// Writes one zip archive in a single pass into its final file: per entry a
// provisional local header, the raw deflate data, then the header rewritten
// in place with the CRC and sizes; at the end the central directory and the
// end record.  Memory stays fixed whatever the size of the files: one input
// and one output buffer and one deflate state, reused for every entry.
// Private to archive/.

#include <sys/types.h>

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

class ZipWriter {
 public:
  // Creates (or truncates) the archive file.  Throws ArchiveError.
  ZipWriter(const std::filesystem::path& path, ArchiveWriteFunction write);
  // Deletes the archive unless Finish() succeeded.
  ~ZipWriter();
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  // The identity of the archive file, to keep it out of its own content.
  dev_t device() const { return device_; }
  ino_t inode() const { return inode_; }

  // Appends one entry whose data are read from `fd` to its end.  `source`
  // names the file in error texts; `progress` runs after each input piece.
  // Throws ArchiveError.
  void AddEntry(const ZipEntryInfo& info, int fd, const std::string& source,
                const std::function<void()>& progress);

  // Writes the central directory and the end record and closes the file.
  // Throws ArchiveError.
  void Finish();

  size_t entry_count() const { return central_.size(); }

 private:
  void Append(const void* data, size_t size);
  void WriteAt(uint64_t offset, const void* data, size_t size);
  void CheckArchiveSize(uint64_t more) const;
  void Compress(int fd, const std::string& source, const std::function<void()>& progress,
                uint32_t& crc, uint64_t& read_total, uint64_t& written_total);

  std::filesystem::path path_;
  ArchiveWriteFunction write_;
  int fd_ = -1;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  bool finished_ = false;
  uint64_t end_ = 0;
  std::vector<ZipCentralHeader> central_;
  std::vector<unsigned char> input_;
  std::vector<unsigned char> output_;
  z_stream stream_{};
  bool stream_ready_ = false;
};

}  // namespace dalimor
