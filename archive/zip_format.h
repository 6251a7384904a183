#pragma once
// The three records of a zip archive that the batch archive writer produces:
// the local file header before each entry's data, the central directory
// header of each entry and the end-of-central-directory record.  Each has an
// encode / decode pair over its little-endian byte layout; the layout is
// described in docs/zip_format.md.  Only the plain (non-Zip64) form without
// extra fields or comments is written; decoding accepts extra fields and
// comments and returns their lengths so that a reader can skip them.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace dalimor {

inline constexpr uint32_t kZipLocalHeaderSignature = 0x04034B50;
inline constexpr uint32_t kZipCentralHeaderSignature = 0x02014B50;
inline constexpr uint32_t kZipEndRecordSignature = 0x06054B50;
// Read only: records that other zip programs write.
inline constexpr uint32_t kZipDataDescriptorSignature = 0x08074B50;
inline constexpr uint32_t kZip64EndRecordSignature = 0x06064B50;
inline constexpr uint32_t kZip64EndLocatorSignature = 0x07064B50;

// Fixed part of each record, before its variable-length name / comment.
inline constexpr size_t kZipLocalHeaderSize = 30;
inline constexpr size_t kZipCentralHeaderSize = 46;
inline constexpr size_t kZipEndRecordSize = 22;
inline constexpr size_t kZip64EndRecordSize = 56;  // up to its extensible data
inline constexpr size_t kZip64EndLocatorSize = 20;
// The largest comment after the end record, and so the farthest the end
// record can lie from the end of the archive.
inline constexpr size_t kZipMaxCommentLength = 0xFFFF;

inline constexpr uint16_t kZipMethodStored = 0;

inline constexpr uint16_t kZipMethodDeflate = 8;
// "Version needed to extract" 2.0: deflate.
inline constexpr uint16_t kZipVersionNeededDeflate = 20;
// "Version made by": application note 5.0 (low byte 50), host 0 = MS-DOS/FAT
// (high byte), so that the external attributes are read as DOS attributes.
inline constexpr uint16_t kZipVersionMadeByDos50 = 50;
// Internal attribute bit 0: "apparently a text file".
inline constexpr uint16_t kZipInternalTextBit = 1;
// General purpose bit 11: name and comment are UTF-8 (else the OEM code page).
inline constexpr uint16_t kZipFlagUtf8Name = 0x0800;
// General purpose bit 0: the entry is encrypted.
inline constexpr uint16_t kZipFlagEncrypted = 0x0001;
// General purpose bit 3: CRC and sizes follow the data in a data descriptor
// (the local header holds zeros).
inline constexpr uint16_t kZipFlagDataDescriptor = 0x0008;
// Header ID of the Zip64 extended information extra field.
inline constexpr uint16_t kZip64ExtraId = 0x0001;
// The "version made by" host (high byte) whose external attributes carry
// the Unix mode in their upper 16 bits.
inline constexpr uint8_t kZipHostUnix = 3;

// The largest values the plain format holds.  0xFFFF and 0xFFFFFFFF
// themselves mean "see the Zip64 record" to readers, so they are excluded.
inline constexpr uint64_t kZipMaxPlainValue = 0xFFFFFFFEu;
inline constexpr size_t kZipMaxPlainEntries = 0xFFFEu;

// A record that does not decode: too short, wrong signature, a name longer
// than the bytes given.  The text names the record, the source and the fault.
class ZipFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The fields the local header and the central header share.
struct ZipEntryFields {
  uint16_t version_needed = kZipVersionNeededDeflate;
  uint16_t flags = 0;
  uint16_t method = kZipMethodDeflate;
  uint16_t dos_time = 0;
  uint16_t dos_date = 0;
  uint32_t crc32 = 0;
  uint32_t compressed_size = 0;
  uint32_t uncompressed_size = 0;
  std::string name;  // raw bytes as stored (code page 852, or UTF-8 with bit 11)
};

struct ZipLocalHeader {
  ZipEntryFields fields;
  uint16_t extra_length = 0;  // written as 0; decoded as found
};

struct ZipCentralHeader {
  uint16_t version_made_by = kZipVersionMadeByDos50;
  ZipEntryFields fields;
  uint16_t extra_length = 0;    // written as 0; decoded as found
  uint16_t comment_length = 0;  // written as 0; decoded as found
  uint16_t disk_number_start = 0;
  uint16_t internal_attributes = kZipInternalTextBit;
  uint32_t external_attributes = 0;
  uint32_t local_header_offset = 0;
};

struct ZipEndRecord {
  uint16_t disk_number = 0;
  uint16_t central_directory_disk = 0;
  uint16_t entries_on_disk = 0;
  uint16_t total_entries = 0;
  uint32_t central_directory_size = 0;
  uint32_t central_directory_offset = 0;
  uint16_t comment_length = 0;  // written as 0; decoded as found
};

// The Zip64 end of central directory record: the counts, size and offset
// the plain end record holds as 0xFFFF / 0xFFFFFFFF.
struct Zip64EndRecord {
  uint64_t record_size = 0;  // bytes after this field
  uint16_t version_made_by = 0;
  uint16_t version_needed = 0;
  uint32_t disk_number = 0;
  uint32_t central_directory_disk = 0;
  uint64_t entries_on_disk = 0;
  uint64_t total_entries = 0;
  uint64_t central_directory_size = 0;
  uint64_t central_directory_offset = 0;
};

// The locator just before the plain end record that says where the Zip64
// end record lies.
struct Zip64EndLocator {
  uint32_t end_record_disk = 0;
  uint64_t end_record_offset = 0;
  uint32_t total_disks = 1;
};

// The 64-bit values of the Zip64 extended information extra field.  Each
// is present only when its 32-bit field (16-bit for the disk) in the header
// holds the all-ones value, in this order.
struct Zip64ExtraValues {
  uint64_t uncompressed_size = 0;
  uint64_t compressed_size = 0;
  uint64_t local_header_offset = 0;
};

// The fixed part followed by the name; extra_length is written as 0 (no
// extra field follows).  Throws ZipFormatError when the name is longer than
// 65535 bytes.
std::string EncodeZipLocalHeader(const ZipLocalHeader& header);
// The fixed part followed by the name; extra and comment lengths are written
// as 0.  Throws ZipFormatError when the name is longer than 65535 bytes.
std::string EncodeZipCentralHeader(const ZipCentralHeader& header);
std::string EncodeZipEndRecord(const ZipEndRecord& record);

// Decode a record from the start of `bytes` (the fixed part and the name;
// extra fields and comments are not read).  `source` names the file or
// stream for the error text.  Throws ZipFormatError.
ZipLocalHeader DecodeZipLocalHeader(std::string_view bytes, std::string_view source);
ZipCentralHeader DecodeZipCentralHeader(std::string_view bytes, std::string_view source);
ZipEndRecord DecodeZipEndRecord(std::string_view bytes, std::string_view source);
Zip64EndRecord DecodeZip64EndRecord(std::string_view bytes, std::string_view source);
Zip64EndLocator DecodeZip64EndLocator(std::string_view bytes, std::string_view source);

// Fills the values of `header` that its fields mark as held in the Zip64
// extra field (all-ones) from that field of `extra` (the header's whole
// extra data, a run of ID / length / data blocks); other values are taken
// from the header.  Throws ZipFormatError when such a value is marked but
// missing, or when the extra data do not split into whole blocks.
Zip64ExtraValues DecodeZip64Extra(const ZipCentralHeader& header, std::string_view extra,
                                  std::string_view source);

// Bytes the record takes in the archive, name, extra field and comment
// included.
inline size_t EncodedSize(const ZipLocalHeader& header) {
  return kZipLocalHeaderSize + header.fields.name.size() + header.extra_length;
}
inline size_t EncodedSize(const ZipCentralHeader& header) {
  return kZipCentralHeaderSize + header.fields.name.size() + header.extra_length +
         header.comment_length;
}

}  // namespace dalimor
