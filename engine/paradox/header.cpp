#include "engine/paradox/header.h"

#include <algorithm>
#include <cstring>

#include "engine/paradox/byte_order.h"
#include "engine/paradox/errors.h"
#include "engine/paradox/field.h"

namespace dalimor {
namespace {

// Offsets of the fixed part and of the extension (docs/paradox_format.md).
constexpr size_t kOffRecordSize = 0x00;
constexpr size_t kOffHeaderSize = 0x02;
constexpr size_t kOffFileType = 0x04;
constexpr size_t kOffBlockSize = 0x05;
constexpr size_t kOffRecordCount = 0x06;
constexpr size_t kOffBlocksInUse = 0x0A;
constexpr size_t kOffTotalBlocks = 0x0C;
constexpr size_t kOffFirstBlock = 0x0E;
constexpr size_t kOffLastBlock = 0x10;
constexpr size_t kOffUnknown12 = 0x12;
constexpr size_t kOffIndexRoot = 0x1E;
constexpr size_t kOffIndexLevels = 0x20;
constexpr size_t kOffFieldCount = 0x21;
constexpr size_t kOffKeyFieldCount = 0x23;
constexpr size_t kOffEncryption1 = 0x25;
constexpr size_t kOffSortOrder = 0x29;
constexpr size_t kOffIndexChangeCount = 0x2C;
constexpr size_t kOffChangeCount = 0x2D;
constexpr size_t kOffRestructureCount = 0x2E;
constexpr size_t kOffVersion = 0x39;
constexpr size_t kOffMaxBlocks = 0x3A;
constexpr size_t kOff3E = 0x3E;
constexpr size_t kOffAutoIncrement = 0x49;
constexpr size_t kOffFirstFreeBlock = 0x4D;
constexpr size_t kOffUsedHeaderBytes = 0x51;
constexpr size_t kOff56 = 0x56;
constexpr size_t kOffVersionWord1 = 0x58;
constexpr size_t kOffVersionWord2 = 0x5A;
constexpr size_t kOffEncryption2 = 0x5C;
constexpr size_t kOffUpdateTime = 0x60;
constexpr size_t kOffFieldCountPlusOne = 0x64;
constexpr size_t kOffNamesEnd = 0x66;
constexpr size_t kOffCodePage = 0x6A;
constexpr size_t kOff6C = 0x6C;
constexpr size_t kOffSortOrderName = 0x6E;
// Offsets 0x66 and 0x6E are stored relative to this.
constexpr size_t kExtensionBase = 0x58;
constexpr size_t kPointerSize = 4;

bool IsIndexType(uint8_t file_type) { return file_type == 1 || file_type == 4 || file_type == 7; }

bool IsValidBlockSizeCode(uint8_t kb) {
  return kb == 1 || kb == 2 || kb == 3 || kb == 4 || kb == 8 || kb == 16 || kb == 32;
}

size_t TableNameSize(uint8_t version) {
  return version >= kVersionParadox7 ? kTableNameSizeLevel7 : kTableNameSizeOld;
}

// Byte offsets of the variable part of a level-7 header built anew.
struct Layout {
  size_t descriptors = 0;
  size_t table_name = 0;
  size_t field_names = 0;
  size_t field_numbers = 0;
  size_t sort_order_name = 0;
  size_t used = 0;
};

Layout ComputeLayout(const ParadoxHeader& h) {
  Layout l;
  const bool index = IsIndexType(h.file_type);
  const size_t n = h.fields.size();
  l.descriptors = index ? kHeaderFixedSize : kHeaderExtensionEnd;
  size_t pos = l.descriptors + 2 * n + kPointerSize;
  if (!index) pos += kPointerSize * n;
  l.table_name = pos;
  pos += TableNameSize(h.version);
  if (index) {
    l.used = pos;
    return l;
  }
  l.field_names = pos;
  for (const std::string& name : h.field_names) pos += name.size() + 1;
  l.field_numbers = pos;
  pos += 2 * n;
  l.sort_order_name = pos;
  pos += h.sort_order_name.size() + 1;
  l.used = pos;
  return l;
}

void PatchCounters(const ParadoxHeader& h, std::string& out) {
  char* p = out.data();
  PutU16(p + kOffRecordSize, h.record_size);
  PutU16(p + kOffHeaderSize, h.header_size);
  p[kOffFileType] = static_cast<char>(h.file_type);
  p[kOffBlockSize] = static_cast<char>(h.block_size_kb);
  PutU32(p + kOffRecordCount, h.record_count);
  PutU16(p + kOffBlocksInUse, h.blocks_in_use);
  PutU16(p + kOffTotalBlocks, h.total_blocks);
  PutU16(p + kOffFirstBlock, h.first_block);
  PutU16(p + kOffLastBlock, h.last_block);
  PutU16(p + kOffIndexRoot, h.index_root);
  p[kOffIndexLevels] = static_cast<char>(h.index_levels);
  p[kOffIndexChangeCount] = static_cast<char>(h.index_change_count);
  p[kOffChangeCount] = static_cast<char>(h.change_count);
  PutU16(p + kOffMaxBlocks, h.total_blocks);
  PutU32(p + kOffAutoIncrement, h.auto_increment);
  PutU16(p + kOffFirstFreeBlock, h.first_free_block);
  if (h.has_extension() && out.size() >= kHeaderExtensionEnd)
    PutU32(p + kOffUpdateTime, h.update_time);
}

}  // namespace

bool ParadoxHeader::is_index_file() const { return IsIndexType(file_type); }

bool ParadoxHeader::has_extension() const { return version >= 5 && !is_index_file(); }

ParadoxHeader DecodeParadoxHeader(std::string_view bytes, const std::string& file_name) {
  auto fail = [&](const std::string& what) -> void {
    ThrowCorrupt(kCorruptHeaderText, file_name, "Header: " + what);
  };
  if (bytes.size() < kHeaderFixedSize)
    fail("the file has " + std::to_string(bytes.size()) + " bytes, fewer than a header");
  const char* p = bytes.data();
  ParadoxHeader h;
  h.record_size = GetU16(p + kOffRecordSize);
  h.header_size = GetU16(p + kOffHeaderSize);
  h.file_type = static_cast<uint8_t>(p[kOffFileType]);
  h.block_size_kb = static_cast<uint8_t>(p[kOffBlockSize]);
  h.record_count = GetU32(p + kOffRecordCount);
  h.blocks_in_use = GetU16(p + kOffBlocksInUse);
  h.total_blocks = GetU16(p + kOffTotalBlocks);
  h.first_block = GetU16(p + kOffFirstBlock);
  h.last_block = GetU16(p + kOffLastBlock);
  h.index_root = GetU16(p + kOffIndexRoot);
  h.index_levels = static_cast<uint8_t>(p[kOffIndexLevels]);
  const uint16_t field_count = GetU16(p + kOffFieldCount);
  h.key_field_count = GetU16(p + kOffKeyFieldCount);
  h.encryption = GetU32(p + kOffEncryption1);
  h.sort_order_id = static_cast<uint8_t>(p[kOffSortOrder]);
  h.index_change_count = static_cast<uint8_t>(p[kOffIndexChangeCount]);
  h.change_count = static_cast<uint8_t>(p[kOffChangeCount]);
  h.version = static_cast<uint8_t>(p[kOffVersion]);
  h.auto_increment = GetU32(p + kOffAutoIncrement);
  h.first_free_block = GetU16(p + kOffFirstFreeBlock);

  if (h.file_type > 8) fail("unknown file type " + std::to_string(h.file_type));
  if (h.version < 3 || h.version > kVersionParadox7)
    fail("unknown file version " + std::to_string(h.version));
  if (!IsValidBlockSizeCode(h.block_size_kb))
    fail("unknown block size code " + std::to_string(h.block_size_kb));
  if (h.record_size == 0) fail("record size 0");
  const size_t var_start = h.has_extension() ? kHeaderExtensionEnd : kHeaderFixedSize;
  if (h.header_size < var_start)
    fail("header size " + std::to_string(h.header_size) + " is too small");
  if (h.header_size > bytes.size())
    fail("the file ends inside its " + std::to_string(h.header_size) + "-byte header");
  const size_t end = h.header_size;
  if (h.record_size + size_t{6} > static_cast<size_t>(h.block_size()))
    fail("records of " + std::to_string(h.record_size) + " bytes do not fit into a block");

  if (h.has_extension()) {
    if (h.encryption == kLevel4EncryptionMarker || h.encryption == 0)
      h.encryption = GetU32(p + kOffEncryption2);
    h.update_time = GetU32(p + kOffUpdateTime);
    h.code_page = GetU16(p + kOffCodePage);
  }

  if (field_count == 0) fail("no fields");
  const bool index = h.is_index_file();
  size_t pos = var_start;
  if (pos + 2 * size_t{field_count} > end)
    fail(std::to_string(field_count) + " field descriptors do not fit into the header");
  size_t record_bytes = index ? 6 : 0;
  for (uint16_t i = 0; i < field_count; ++i) {
    FieldDescriptor d{static_cast<uint8_t>(p[pos]), static_cast<uint8_t>(p[pos + 1])};
    pos += 2;
    if (!IsValidDescriptor(d.type, d.size))
      fail("field " + std::to_string(i + 1) + " has an invalid descriptor (type " +
           std::to_string(d.type) + ", size " + std::to_string(d.size) + ")");
    record_bytes += static_cast<size_t>(FieldRecordSize(static_cast<FieldType>(d.type), d.size));
    h.fields.push_back(d);
  }
  if (record_bytes != h.record_size)
    fail("the fields take " + std::to_string(record_bytes) + " bytes, the record size is " +
         std::to_string(h.record_size));
  if (h.key_field_count > field_count)
    fail(std::to_string(h.key_field_count) + " key fields of " + std::to_string(field_count));

  pos += kPointerSize;                              // table-name pointer
  if (!index) pos += kPointerSize * field_count;   // field-name pointers
  const size_t name_area = TableNameSize(h.version);
  if (pos + name_area > end) fail("the table name does not fit into the header");
  h.table_name.assign(p + pos, strnlen(p + pos, name_area));
  pos += name_area;

  if (!index) {
    for (uint16_t i = 0; i < field_count; ++i) {
      const char* start = p + pos;
      const size_t len = strnlen(start, end - pos);
      if (pos + len >= end) fail("the field names do not fit into the header");
      h.field_names.emplace_back(start, len);
      pos += len + 1;
    }
  }

  if (h.has_extension()) {
    // Encrypted tables keep undocumented data between the names and the
    // field numbers, so the sort-order name is found through its offset.
    size_t sort_at = kExtensionBase + GetU16(p + kOffSortOrderName);
    if (sort_at < pos || sort_at >= end) sort_at = pos + 2 * size_t{field_count};
    if (sort_at < end) h.sort_order_name.assign(p + sort_at, strnlen(p + sort_at, end - sort_at));
  }
  h.raw.assign(bytes.data(), h.header_size);
  return h;
}

uint16_t RequiredHeaderSize(const ParadoxHeader& header) {
  const size_t used = ComputeLayout(header).used;
  return static_cast<uint16_t>((used + kHeaderSizeUnit - 1) / kHeaderSizeUnit * kHeaderSizeUnit);
}

std::string EncodeParadoxHeader(const ParadoxHeader& h) {
  if (!h.raw.empty()) {
    std::string out = h.raw;
    out.resize(std::max<size_t>(h.header_size, kHeaderFixedSize), '\0');
    PatchCounters(h, out);
    return out;
  }

  const Layout l = ComputeLayout(h);
  const bool index = h.is_index_file();
  std::string out(std::max<size_t>(h.header_size, RequiredHeaderSize(h)), '\0');
  char* p = out.data();
  PatchCounters(h, out);
  // The word at 0x12 is unknown; BDE-made level-7 tables show 3 in the .DB
  // and 4 in its .PX.
  PutU16(p + kOffUnknown12, index ? 4 : 3);
  PutU16(p + kOffFieldCount, static_cast<uint16_t>(h.fields.size()));
  PutU16(p + kOffKeyFieldCount, index ? 0 : h.key_field_count);
  PutU32(p + kOffEncryption1, index ? h.encryption : kLevel4EncryptionMarker);
  p[kOffSortOrder] = static_cast<char>(h.sort_order_id);
  p[kOffVersion] = static_cast<char>(h.version);
  PutU16(p + kOffUsedHeaderBytes, static_cast<uint16_t>(l.used));
  if (!index) {
    p[kOffRestructureCount] = 1;
    p[kOff3E] = 0x1F;
    p[kOff3E + 1] = 0x0F;
    p[kOff56] = 0x20;
    PutU16(p + kOffVersionWord1, static_cast<uint16_t>(0x0100 + h.version));
    PutU16(p + kOffVersionWord2, static_cast<uint16_t>(0x0100 + h.version));
    PutU32(p + kOffEncryption2, h.encryption);
    PutU32(p + kOffUpdateTime, h.update_time);
    PutU16(p + kOffFieldCountPlusOne, static_cast<uint16_t>(h.fields.size() + 1));
    PutU16(p + kOffNamesEnd, static_cast<uint16_t>(l.field_numbers - kExtensionBase));
    PutU16(p + kOffCodePage, h.code_page);
    p[kOff6C] = 1;
    p[kOff6C + 1] = 1;
    PutU16(p + kOffSortOrderName, static_cast<uint16_t>(l.sort_order_name - kExtensionBase));
  }
  size_t pos = l.descriptors;
  for (const FieldDescriptor& d : h.fields) {
    p[pos++] = static_cast<char>(d.type);
    p[pos++] = static_cast<char>(d.size);
  }
  std::memcpy(p + l.table_name, h.table_name.data(),
              std::min(h.table_name.size(), TableNameSize(h.version) - 1));
  if (!index) {
    pos = l.field_names;
    for (const std::string& name : h.field_names) {
      std::memcpy(p + pos, name.data(), name.size());
      pos += name.size() + 1;
    }
    pos = l.field_numbers;
    for (size_t i = 0; i < h.fields.size(); ++i, pos += 2)
      PutU16(p + pos, static_cast<uint16_t>(i + 1));
    std::memcpy(p + l.sort_order_name, h.sort_order_name.data(), h.sort_order_name.size());
  }
  return out;
}

}  // namespace dalimor
