#pragma once
// Reads a zip archive that another program may have written: the end
// record (also in its Zip64 form), the central directory and each entry's
// local header, and unpacks an entry (stored or deflated) into a file
// descriptor while it checks the entry's size and CRC.  Every inconsistency
// is a refusal: nothing in the archive is trusted before it is checked
// against the rest of it.  The records are those of docs/zip_format.md;
// the reading rules are under "Reading" there.  Private to archive/.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <zlib.h>

#include "archive/batch_unpack.h"
#include "archive/zip_format.h"

namespace dalimor {

// One entry as the central directory describes it, with its 64-bit values
// resolved and the position of its data found from the local header.
struct ZipDirectoryEntry {
  ZipCentralHeader header;
  uint64_t compressed_size = 0;
  uint64_t uncompressed_size = 0;
  uint64_t local_header_offset = 0;
  uint64_t data_offset = 0;  // the first byte of the (compressed) data
};

class ZipReader {
 public:
  // Opens the archive (a regular file, without waiting on a pipe) and reads
  // its directory.  A directory of more than `max_entries` entries is
  // refused before it is read.  Throws ArchiveRefused.
  ZipReader(const std::string& path, size_t max_entries);
  ~ZipReader();
  ZipReader(const ZipReader&) = delete;
  ZipReader& operator=(const ZipReader&) = delete;

  // In the order of the central directory.
  const std::vector<ZipDirectoryEntry>& entries() const { return entries_; }

  // Writes the entry's data, unpacked, to `out` and checks that they have
  // the size and the CRC the directory gives; never writes more than that
  // size.  `shown_name` names the entry in the refusal; `progress` runs
  // after each piece and may throw to stop.  Throws ArchiveRefused.
  void Extract(const ZipDirectoryEntry& entry, const std::string& shown_name, int out,
               const std::function<void()>& progress);

 private:
  std::string ReadAt(uint64_t offset, size_t size) const;
  void ReadDirectory(size_t max_entries);
  void LocateData(ZipDirectoryEntry& entry, const std::string& shown_name) const;
  void WriteOut(int out, const unsigned char* data, size_t size) const;

  std::string path_;
  int fd_ = -1;
  uint64_t size_ = 0;
  uint64_t directory_offset_ = 0;  // entries' data lie before it
  std::vector<ZipDirectoryEntry> entries_;
  std::vector<unsigned char> input_;
  std::vector<unsigned char> output_;
  z_stream stream_{};
  bool stream_ready_ = false;
};

// The entry's name decoded from code page 852 (UTF-8 with general purpose
// bit 11), as it is stored otherwise.
std::string DecodedEntryName(const ZipCentralHeader& header);

// The decoded name for a message: control characters as "#<code>".
std::string ShownEntryName(const ZipCentralHeader& header);

}  // namespace dalimor
