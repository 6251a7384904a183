#include "archive/zip_format.h"

#include <limits>

namespace dalimor {
namespace {

void PutU16(std::string& out, uint16_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>(value >> 8));
}

void PutU32(std::string& out, uint32_t value) {
  PutU16(out, static_cast<uint16_t>(value & 0xFFFF));
  PutU16(out, static_cast<uint16_t>(value >> 16));
}

// Reads little-endian numbers from a record; the caller checks the length
// of the fixed part first.
class RecordReader {
 public:
  explicit RecordReader(std::string_view bytes) : bytes_(bytes) {}

  uint16_t U16() {
    const uint16_t value = static_cast<uint16_t>(Byte(pos_) | (Byte(pos_ + 1) << 8));
    pos_ += 2;
    return value;
  }
  uint32_t U32() {
    const uint32_t low = U16();
    const uint32_t high = U16();
    return low | (high << 16);
  }
  uint64_t U64() {
    const uint64_t low = U32();
    const uint64_t high = U32();
    return low | (high << 32);
  }
  size_t position() const { return pos_; }

 private:
  unsigned Byte(size_t at) const { return static_cast<unsigned char>(bytes_[at]); }

  std::string_view bytes_;
  size_t pos_ = 0;
};

[[noreturn]] void Fail(std::string_view record, std::string_view source, const std::string& what) {
  throw ZipFormatError(std::string(record) + " in " + std::string(source) + ": " + what);
}

void CheckFixedPart(std::string_view bytes, size_t size, uint32_t signature,
                    std::string_view record, std::string_view source) {
  if (bytes.size() < size) {
    Fail(record, source,
         "truncated (" + std::to_string(bytes.size()) + " of " + std::to_string(size) + " bytes)");
  }
  RecordReader reader(bytes);
  if (reader.U32() != signature) Fail(record, source, "wrong signature");
}

uint16_t NameLength(const std::string& name, std::string_view record) {
  if (name.size() > std::numeric_limits<uint16_t>::max())
    throw ZipFormatError(std::string(record) + ": file name longer than 65535 bytes");
  return static_cast<uint16_t>(name.size());
}

std::string ReadName(std::string_view bytes, size_t at, uint16_t length, std::string_view record,
                     std::string_view source) {
  if (bytes.size() - at < length) {
    Fail(record, source,
         "file name of " + std::to_string(length) + " bytes runs past the end of the record");
  }
  return std::string(bytes.substr(at, length));
}

// The fields a local header and a central directory header share, in the
// order both hold them (after the version made by, in the central one).
void PutEntryFields(std::string& out, const ZipEntryFields& f) {
  PutU16(out, f.version_needed);
  PutU16(out, f.flags);
  PutU16(out, f.method);
  PutU16(out, f.dos_time);
  PutU16(out, f.dos_date);
  PutU32(out, f.crc32);
  PutU32(out, f.compressed_size);
  PutU32(out, f.uncompressed_size);
}

void ReadEntryFields(RecordReader& reader, ZipEntryFields& f) {
  f.version_needed = reader.U16();
  f.flags = reader.U16();
  f.method = reader.U16();
  f.dos_time = reader.U16();
  f.dos_date = reader.U16();
  f.crc32 = reader.U32();
  f.compressed_size = reader.U32();
  f.uncompressed_size = reader.U32();
}

constexpr std::string_view kLocalRecord = "zip local file header";
constexpr std::string_view kCentralRecord = "zip central directory header";
constexpr std::string_view kEndRecord = "zip end of central directory record";
constexpr std::string_view kZip64EndRecord = "zip64 end of central directory record";
constexpr std::string_view kZip64Locator = "zip64 end of central directory locator";
constexpr std::string_view kZip64Extra = "zip64 extra field";

}  // namespace

std::string EncodeZipLocalHeader(const ZipLocalHeader& header) {
  const ZipEntryFields& f = header.fields;
  const uint16_t name_length = NameLength(f.name, kLocalRecord);
  std::string out;
  out.reserve(kZipLocalHeaderSize + f.name.size());
  PutU32(out, kZipLocalHeaderSignature);
  PutEntryFields(out, f);
  PutU16(out, name_length);
  PutU16(out, 0);  // no extra field
  out += f.name;
  return out;
}

std::string EncodeZipCentralHeader(const ZipCentralHeader& header) {
  const ZipEntryFields& f = header.fields;
  const uint16_t name_length = NameLength(f.name, kCentralRecord);
  std::string out;
  out.reserve(kZipCentralHeaderSize + f.name.size());
  PutU32(out, kZipCentralHeaderSignature);
  PutU16(out, header.version_made_by);
  PutEntryFields(out, f);
  PutU16(out, name_length);
  PutU16(out, 0);  // no extra field
  PutU16(out, 0);  // no comment
  PutU16(out, header.disk_number_start);
  PutU16(out, header.internal_attributes);
  PutU32(out, header.external_attributes);
  PutU32(out, header.local_header_offset);
  out += f.name;
  return out;
}

std::string EncodeZipEndRecord(const ZipEndRecord& record) {
  std::string out;
  out.reserve(kZipEndRecordSize);
  PutU32(out, kZipEndRecordSignature);
  PutU16(out, record.disk_number);
  PutU16(out, record.central_directory_disk);
  PutU16(out, record.entries_on_disk);
  PutU16(out, record.total_entries);
  PutU32(out, record.central_directory_size);
  PutU32(out, record.central_directory_offset);
  PutU16(out, 0);  // no comment
  return out;
}

ZipLocalHeader DecodeZipLocalHeader(std::string_view bytes, std::string_view source) {
  CheckFixedPart(bytes, kZipLocalHeaderSize, kZipLocalHeaderSignature, kLocalRecord, source);
  RecordReader reader(bytes);
  reader.U32();
  ZipLocalHeader header;
  ZipEntryFields& f = header.fields;
  ReadEntryFields(reader, f);
  const uint16_t name_length = reader.U16();
  header.extra_length = reader.U16();
  f.name = ReadName(bytes, reader.position(), name_length, kLocalRecord, source);
  return header;
}

ZipCentralHeader DecodeZipCentralHeader(std::string_view bytes, std::string_view source) {
  CheckFixedPart(bytes, kZipCentralHeaderSize, kZipCentralHeaderSignature, kCentralRecord, source);
  RecordReader reader(bytes);
  reader.U32();
  ZipCentralHeader header;
  ZipEntryFields& f = header.fields;
  header.version_made_by = reader.U16();
  ReadEntryFields(reader, f);
  const uint16_t name_length = reader.U16();
  header.extra_length = reader.U16();
  header.comment_length = reader.U16();
  header.disk_number_start = reader.U16();
  header.internal_attributes = reader.U16();
  header.external_attributes = reader.U32();
  header.local_header_offset = reader.U32();
  f.name = ReadName(bytes, reader.position(), name_length, kCentralRecord, source);
  return header;
}

ZipEndRecord DecodeZipEndRecord(std::string_view bytes, std::string_view source) {
  CheckFixedPart(bytes, kZipEndRecordSize, kZipEndRecordSignature, kEndRecord, source);
  RecordReader reader(bytes);
  reader.U32();
  ZipEndRecord record;
  record.disk_number = reader.U16();
  record.central_directory_disk = reader.U16();
  record.entries_on_disk = reader.U16();
  record.total_entries = reader.U16();
  record.central_directory_size = reader.U32();
  record.central_directory_offset = reader.U32();
  record.comment_length = reader.U16();
  return record;
}

Zip64EndRecord DecodeZip64EndRecord(std::string_view bytes, std::string_view source) {
  CheckFixedPart(bytes, kZip64EndRecordSize, kZip64EndRecordSignature, kZip64EndRecord, source);
  RecordReader reader(bytes);
  reader.U32();
  Zip64EndRecord record;
  record.record_size = reader.U64();
  record.version_made_by = reader.U16();
  record.version_needed = reader.U16();
  record.disk_number = reader.U32();
  record.central_directory_disk = reader.U32();
  record.entries_on_disk = reader.U64();
  record.total_entries = reader.U64();
  record.central_directory_size = reader.U64();
  record.central_directory_offset = reader.U64();
  return record;
}

Zip64EndLocator DecodeZip64EndLocator(std::string_view bytes, std::string_view source) {
  CheckFixedPart(bytes, kZip64EndLocatorSize, kZip64EndLocatorSignature, kZip64Locator, source);
  RecordReader reader(bytes);
  reader.U32();
  Zip64EndLocator locator;
  locator.end_record_disk = reader.U32();
  locator.end_record_offset = reader.U64();
  locator.total_disks = reader.U32();
  return locator;
}

Zip64ExtraValues DecodeZip64Extra(const ZipCentralHeader& header, std::string_view extra,
                                  std::string_view source) {
  Zip64ExtraValues values;
  values.uncompressed_size = header.fields.uncompressed_size;
  values.compressed_size = header.fields.compressed_size;
  values.local_header_offset = header.local_header_offset;
  const bool wants_uncompressed = header.fields.uncompressed_size == 0xFFFFFFFFu;
  const bool wants_compressed = header.fields.compressed_size == 0xFFFFFFFFu;
  const bool wants_offset = header.local_header_offset == 0xFFFFFFFFu;
  bool found = false;
  size_t at = 0;
  while (at < extra.size()) {
    if (extra.size() - at < 4) Fail(kZip64Extra, source, "extra data end inside a block header");
    RecordReader block(extra.substr(at));
    const uint16_t id = block.U16();
    const uint16_t length = block.U16();
    if (extra.size() - at - 4 < length)
      Fail(kZip64Extra, source, "an extra block runs past the end of the extra data");
    if (id == kZip64ExtraId && !found) {
      found = true;
      const std::string_view data = extra.substr(at + 4, length);
      RecordReader reader(data);
      const size_t needed = 8 * (wants_uncompressed + wants_compressed + wants_offset);
      if (data.size() < needed)
        Fail(kZip64Extra, source,
             std::to_string(data.size()) + " bytes where " + std::to_string(needed) +
                 " are needed");
      if (wants_uncompressed) values.uncompressed_size = reader.U64();
      if (wants_compressed) values.compressed_size = reader.U64();
      if (wants_offset) values.local_header_offset = reader.U64();
    }
    at += 4 + size_t{length};
  }
  if (!found && (wants_uncompressed || wants_compressed || wants_offset))
    Fail(kZip64Extra, source, "missing where the header refers to it");
  return values;
}

}  // namespace dalimor
