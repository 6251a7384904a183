// Secondary-index checker.  What a maintained index of a keyed table must be:
//
// .Xnn / .XGn is a Paradox table of its own (file type 5 / 8; 3 / 6 when not
// maintained) with the level-4+ header layout of a .DB.  Its fields are the
// indexed field(s) of the .DB (same type and size), then the .DB's key
// fields, then "Blk Num" (S): the .DB data block that holds the row.  0x23
// counts all fields but "Blk Num"; the field-number list holds the .DB
// number of each indexed field and then the local positions of the rest;
// 0x64 is the largest of them + 1; 0x15 (.Xnn) is the indexed field's number.
// There is one record per row, in the order of the indexed values (alpha
// by the table's collation, upper-cased first when 0x55 bit 0 marks the
// index case-insensitive; other types by their bytes), ties broken by the
// key fields.  Values are stored as in the row.
//
// .Ynn / .YGn is laid out like a .PX over the .X's key fields (all but
// "Blk Num"): one level-1 entry per .X block in chain order (its first key,
// the block number, its record count, zero), each higher level one entry
// per lower index block (its first key, number, and the records below).
//
// Counters tie the files together: X 0x2E = DB 0x2E, X 0x2F = PX 0x2C,
// X 0x49 = DB 0x49 (with an auto-increment field), and the sort order,
// code page and version equal the table's.  An unkeyed table's index
// (field, "Tup No", "Blk Num", "Tup Offset") is checked for its header only.

#include "tests/support/index_checker.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>

#include "engine/paradox/collation.h"
#include "platform/code_page.h"
#include "tests/support/test_support.h"

namespace dalimor::test {
namespace {

namespace fs = std::filesystem;

// Header layout.
constexpr size_t kCommonHeaderSize = 0x58;    // fixed part of every header
constexpr size_t kExtendedHeaderSize = 0x78;  // with the level-4+ extension
constexpr size_t kBlockHeaderSize = 6;        // next, previous, last-record offset
constexpr int kFirstExtendedVersion = 5;
constexpr int kLevel7Version = 12;
constexpr size_t kLongTableNameArea = 261;
constexpr size_t kShortTableNameArea = 79;
constexpr size_t kIndexEntryTail = 6;  // child block, count, zero

// File types at 0x04.
constexpr uint8_t kKeyedTable = 0;
constexpr uint8_t kUnkeyedTable = 2;
constexpr uint8_t kSingleIndexStatic = 3;
constexpr uint8_t kSingleIndexTree = 4;
constexpr uint8_t kSingleIndexMaintained = 5;
constexpr uint8_t kNamedIndexStatic = 6;
constexpr uint8_t kNamedIndexTree = 7;
constexpr uint8_t kNamedIndexMaintained = 8;

constexpr uint8_t kTypeAlpha = 0x01;
constexpr uint8_t kTypeShort = 0x03;
constexpr uint8_t kTypeLong = 0x04;
constexpr uint8_t kTypeAutoInc = 0x16;
constexpr uint8_t kCaseInsensitiveFlag = 0x01;
// A unique index: no two rows with the same indexed values (all NULL aside).
constexpr uint8_t kUniqueFlag = 0x02;

// After this many lines a check stops listing problems.
constexpr size_t kMaxProblems = 40;

template <typename... Parts>
std::string Cat(const Parts&... parts) {
  std::ostringstream out;
  (out << ... << parts);
  return out.str();
}

std::string Hex(unsigned value) {
  std::ostringstream out;
  out << "0x" << std::uppercase << std::hex << value;
  return out.str();
}

class Problems {
 public:
  void Add(std::string line) {
    if (lines_.size() < kMaxProblems)
      lines_.push_back(std::move(line));
    else if (lines_.size() == kMaxProblems)
      lines_.push_back("(further problems not listed)");
  }
  bool empty() const { return lines_.empty(); }
  size_t size() const { return lines_.size(); }
  std::vector<std::string> Take() { return std::move(lines_); }

 private:
  std::vector<std::string> lines_;
};

uint8_t U8(std::string_view b, size_t at) {
  return at < b.size() ? static_cast<uint8_t>(b[at]) : 0;
}
uint16_t U16(std::string_view b, size_t at) {
  return static_cast<uint16_t>(U8(b, at) | (U8(b, at + 1) << 8));
}
uint32_t U32(std::string_view b, size_t at) {
  return static_cast<uint32_t>(U16(b, at)) | (static_cast<uint32_t>(U16(b, at + 2)) << 16);
}
// A 16-bit value in the flipped big-endian encoding of field values (block
// numbers and counts of index entries): 3 is stored 80 03.
uint16_t FlippedU16(std::string_view b) {
  return static_cast<uint16_t>(((U8(b, 0) << 8) | U8(b, 1)) ^ 0x8000);
}

bool IEquals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

struct FieldDesc {
  uint8_t type = 0;
  uint8_t size = 0;
  friend bool operator==(const FieldDesc&, const FieldDesc&) = default;
};

// Bytes a field takes in a record; 0 for an unknown type.
size_t FieldBytes(FieldDesc f) {
  switch (f.type) {
    case 0x01:
    case 0x0C:
    case 0x0D:
    case 0x0E:
    case 0x0F:
    case 0x10:
    case 0x18:
      return f.size;
    case 0x02:
    case 0x04:
    case 0x14:
    case 0x16:
      return 4;
    case 0x03:
      return 2;
    case 0x05:
    case 0x06:
    case 0x15:
      return 8;
    case 0x09:
      return 1;
    case 0x17:
      return 17;
    default:
      return 0;
  }
}

std::string DescribeField(FieldDesc f) {
  return Cat("type ", Hex(f.type), " size ", int{f.size});
}

// One parsed file: its header fields and the whole file, padded with zeros
// to the nominal end of its last block (a file may stop inside it).
struct File {
  std::string name;
  std::string bytes;
  size_t file_size = 0;
  bool table_layout = false;  // .DB / .X: field names and, level 4+, the extension

  uint16_t record_size = 0;
  uint16_t header_size = 0;
  uint8_t type = 0;
  uint8_t block_kb = 0;
  uint32_t records = 0;
  uint16_t blocks_used = 0, blocks_total = 0, first_block = 0, last_block = 0;
  uint16_t root = 0;
  uint8_t levels = 0;
  uint16_t key_count = 0;
  uint8_t sort_id = 0;
  uint8_t version = 0;
  bool extended = false;

  std::vector<FieldDesc> fields;
  std::vector<std::string> names;
  std::vector<uint16_t> numbers;
  std::string sort_name;
  std::string index_name;
  size_t names_end = 0;      // offset just past the last field name
  size_t sort_name_at = 0;   // offset of the sort-order name
  size_t sort_name_end = 0;  // offset just past its NUL

  size_t block_size() const { return size_t{block_kb} * 1024; }
  size_t block_offset(uint16_t block) const {
    return header_size + (size_t{block} - 1) * block_size();
  }
  uint8_t u8(size_t at) const { return U8(bytes, at); }
  uint16_t u16(size_t at) const { return U16(bytes, at); }
  uint32_t u32(size_t at) const { return U32(bytes, at); }
};

bool ReadNulTerminated(const File& f, size_t& at, size_t end, std::string& out) {
  const size_t nul = f.bytes.find('\0', at);
  if (nul == std::string::npos || nul >= end) return false;
  out = f.bytes.substr(at, nul - at);
  at = nul + 1;
  return true;
}

// Parses the header of a .DB or .X (`table_layout`) or of a .PX or .Y.
// `with_index_name`: a .XGn, whose index name follows the sort-order name.
std::optional<File> ParseFile(const fs::path& path, bool table_layout, bool with_index_name,
                              Problems& problems) {
  File f;
  f.name = path.filename().string();
  f.table_layout = table_layout;
  try {
    f.bytes = ReadFileBytes(path);
  } catch (const std::exception& e) {
    problems.Add(Cat(f.name, ": cannot be read (", e.what(), ")"));
    return std::nullopt;
  }
  f.file_size = f.bytes.size();
  if (f.file_size < kCommonHeaderSize) {
    problems.Add(Cat(f.name, ": ", f.file_size, " bytes, too short for a header"));
    return std::nullopt;
  }
  f.record_size = f.u16(0x00);
  f.header_size = f.u16(0x02);
  f.type = f.u8(0x04);
  f.block_kb = f.u8(0x05);
  f.records = f.u32(0x06);
  f.blocks_used = f.u16(0x0A);
  f.blocks_total = f.u16(0x0C);
  f.first_block = f.u16(0x0E);
  f.last_block = f.u16(0x10);
  f.root = f.u16(0x1E);
  f.levels = f.u8(0x20);
  const uint16_t field_count = f.u16(0x21);
  f.key_count = f.u16(0x23);
  f.sort_id = f.u8(0x29);
  f.version = f.u8(0x39);
  f.extended = table_layout && f.version >= kFirstExtendedVersion;

  const size_t start = f.extended ? kExtendedHeaderSize : kCommonHeaderSize;
  if (f.header_size < start || f.header_size > f.file_size) {
    problems.Add(
        Cat(f.name, ": header size ", f.header_size, " outside ", start, "..", f.file_size));
    return std::nullopt;
  }
  static constexpr std::array kBlockSizes{1, 2, 3, 4, 8, 16, 32};
  if (std::find(kBlockSizes.begin(), kBlockSizes.end(), f.block_kb) == kBlockSizes.end()) {
    problems.Add(Cat(f.name, ": block size code ", int{f.block_kb}, " at 0x05 is not valid"));
    return std::nullopt;
  }
  if (field_count == 0) {
    problems.Add(Cat(f.name, ": no fields (0x21)"));
    return std::nullopt;
  }

  size_t at = start;
  const size_t end = f.header_size;
  auto fits = [&](size_t bytes) { return at + bytes <= end; };
  if (!fits(2 * size_t{field_count} + 4)) {
    problems.Add(Cat(f.name, ": ", field_count, " field descriptors do not fit in the header"));
    return std::nullopt;
  }
  size_t record_size = 0;
  for (size_t i = 0; i < field_count; ++i) {
    const FieldDesc d{f.u8(at + 2 * i), f.u8(at + 2 * i + 1)};
    if (FieldBytes(d) == 0) {
      problems.Add(
          Cat(f.name, ": field ", i + 1, " has an unusable descriptor (", DescribeField(d), ")"));
      return std::nullopt;
    }
    record_size += FieldBytes(d);
    f.fields.push_back(d);
  }
  at += 2 * size_t{field_count} + 4;
  if (table_layout) at += 4 * size_t{field_count};
  at += f.version == kLevel7Version ? kLongTableNameArea : kShortTableNameArea;
  if (!fits(0)) {
    problems.Add(Cat(f.name, ": the table-name area does not fit in the header"));
    return std::nullopt;
  }
  const size_t expected_record = record_size + (table_layout ? 0 : kIndexEntryTail);
  if (f.record_size != expected_record) {
    problems.Add(Cat(f.name, ": record size ", f.record_size, " at 0x00, the fields give ",
                     expected_record));
    return std::nullopt;
  }
  if (table_layout) {
    for (size_t i = 0; i < field_count; ++i) {
      std::string field_name;
      if (!ReadNulTerminated(f, at, end, field_name)) {
        problems.Add(Cat(f.name, ": field name ", i + 1, " is not NUL-terminated in the header"));
        return std::nullopt;
      }
      f.names.push_back(field_name);
    }
    f.names_end = at;
  }
  if (f.extended) {
    if (!fits(2 * size_t{field_count})) {
      problems.Add(Cat(f.name, ": the field numbers do not fit in the header"));
      return std::nullopt;
    }
    for (size_t i = 0; i < field_count; ++i) f.numbers.push_back(f.u16(at + 2 * i));
    at += 2 * size_t{field_count};
    f.sort_name_at = at;
    if (!ReadNulTerminated(f, at, end, f.sort_name)) {
      problems.Add(Cat(f.name, ": the sort-order name is not NUL-terminated in the header"));
      return std::nullopt;
    }
    f.sort_name_end = at;
    if (with_index_name && !ReadNulTerminated(f, at, end, f.index_name)) {
      problems.Add(Cat(f.name, ": the index name is not NUL-terminated in the header"));
      return std::nullopt;
    }
  }

  if (f.blocks_total > 0) {
    const size_t last_start = f.block_offset(f.blocks_total);
    if (last_start + kBlockHeaderSize > f.file_size)
      problems.Add(Cat(f.name, ": ", f.blocks_total, " blocks (0x0C), but the file of ",
                       f.file_size, " bytes ends before block ", f.blocks_total));
    f.bytes.resize(std::max(f.bytes.size(), last_start + f.block_size()), '\0');
  }
  return f;
}

struct Block {
  uint16_t number = 0;
  std::vector<std::string_view> records;
};

// Walks the block chain from 0x0E and checks it against the header's
// counters.  `index_file`: an empty block in the chain is a fault.
std::optional<std::vector<Block>> ReadChain(const File& f, bool index_file, Problems& problems) {
  std::vector<Block> chain;
  if (f.first_block == 0) {
    if (f.records != 0 || f.blocks_used != 0 || f.last_block != 0)
      problems.Add(Cat(f.name, ": empty chain (0x0E = 0) but ", f.records, " records (0x06), ",
                       f.blocks_used, " blocks in use (0x0A), last block ", f.last_block,
                       " (0x10)"));
    return chain;
  }
  const size_t capacity = (f.block_size() - kBlockHeaderSize) / f.record_size;
  std::set<uint16_t> seen;
  uint16_t previous = 0;
  uint64_t total = 0;
  for (uint16_t block = f.first_block; block != 0;) {
    if (block > f.blocks_total) {
      problems.Add(Cat(f.name, ": the chain reaches block ", block, " beyond the ", f.blocks_total,
                       " blocks of the file (0x0C)"));
      return std::nullopt;
    }
    if (!seen.insert(block).second) {
      problems.Add(Cat(f.name, ": the chain visits block ", block, " twice"));
      return std::nullopt;
    }
    const size_t at = f.block_offset(block);
    const uint16_t next = f.u16(at);
    const uint16_t prev = f.u16(at + 2);
    const auto last_offset = static_cast<int16_t>(f.u16(at + 4));
    if (prev != previous)
      problems.Add(Cat(f.name, ": block ", block, " names ", prev,
                       " as its previous block, the chain came from ", previous));
    const int offset_plus = last_offset + f.record_size;
    if (offset_plus < 0 || offset_plus % f.record_size != 0 ||
        static_cast<size_t>(offset_plus / f.record_size) > capacity) {
      problems.Add(Cat(f.name, ": block ", block, " has an invalid last-record offset ",
                       last_offset, " for records of ", f.record_size, " bytes"));
      return std::nullopt;
    }
    const size_t count = static_cast<size_t>(offset_plus / f.record_size);
    if (count == 0 && index_file)
      problems.Add(Cat(f.name, ": block ", block, " in the chain holds no records"));
    Block b{block, {}};
    for (size_t i = 0; i < count; ++i)
      b.records.push_back(std::string_view(f.bytes).substr(
          at + kBlockHeaderSize + i * f.record_size, f.record_size));
    total += count;
    chain.push_back(std::move(b));
    previous = block;
    block = next;
  }
  if (total != f.records)
    problems.Add(Cat(f.name, ": ", f.records, " records in the header (0x06), ", total,
                     " in the blocks of the chain"));
  if (chain.size() != f.blocks_used)
    problems.Add(
        Cat(f.name, ": ", f.blocks_used, " blocks in use (0x0A), the chain has ", chain.size()));
  if (chain.back().number != f.last_block)
    problems.Add(Cat(f.name, ": last block ", f.last_block, " (0x10), the chain ends at ",
                     chain.back().number));
  return chain;
}

// ---- Comparing values ----

char32_t UpperCodePoint(char32_t c) {
  if (c >= U'a' && c <= U'z') return c - 0x20;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  if (c == 0xFF) return 0x178;
  if (c == 0x131) return U'I';
  if (c == 0x17F) return U'S';
  const bool odd = (c & 1) != 0;
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return odd ? c - 1 : c;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return odd ? c : c - 1;
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  if (c == 0x491) return 0x490;
  return c;
}

std::string EncodeUtf8(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

// Per byte of the code page: its upper-case form, or the byte itself when
// it has none (or the code page lacks it).
std::array<char, 256> UpperCaseTable(CodePage code_page) {
  std::array<char, 256> table{};
  for (int b = 0; b < 256; ++b) {
    table[static_cast<size_t>(b)] = static_cast<char>(b);
    std::u32string decoded;
    if (!DecodeUtf8(ToUtf8(std::string(1, static_cast<char>(b)), code_page), decoded) ||
        decoded.size() != 1)
      continue;
    const char32_t upper = UpperCodePoint(decoded[0]);
    if (upper == decoded[0]) continue;
    const std::string encoded = FromUtf8(EncodeUtf8(upper), code_page);
    if (encoded.size() == 1 && encoded != "?") table[static_cast<size_t>(b)] = encoded[0];
  }
  return table;
}

// The code page a table's text is in: 0x6A, else the sort order's.
CodePage TableCodePage(const File& db) {
  CodePage cp{};
  if (db.extended && CodePageFromNumber(db.u16(0x6A), cp)) return cp;
  switch (db.sort_id) {
    case 192:
      return CodePage::k866;
    case 13:
    case 132:
      return CodePage::k852;
    case 83:
    case 220:
    case 42:
      return CodePage::k1250;
    case 17:
    case 64:
    case 76:
    case 98:
      return CodePage::k1252;
    case 84:
      return CodePage::k850;
    default:
      return CodePage::k437;
  }
}

// The layout of the fields that make up an index key and how each compares.
struct KeyField {
  FieldDesc desc;
  size_t offset = 0;
  size_t bytes = 0;
  bool upper_case = false;  // compared upper-cased (case-insensitive index)
};

class KeyOrder {
 public:
  KeyOrder(std::vector<KeyField> fields, const Collation& collation, CodePage code_page)
      : fields_(std::move(fields)), collation_(collation), upper_(UpperCaseTable(code_page)) {}

  int Compare(std::string_view a, std::string_view b) const {
    for (const KeyField& k : fields_) {
      std::string_view x = a.substr(k.offset, k.bytes);
      std::string_view y = b.substr(k.offset, k.bytes);
      int c = 0;
      if (k.desc.type == kTypeAlpha) {
        if (k.upper_case) {
          c = collation_.Compare(Upper(x), Upper(y));
        } else {
          c = collation_.Compare(x, y);
        }
      } else {
        c = std::memcmp(x.data(), y.data(), k.bytes);
      }
      if (c != 0) return c;
    }
    return 0;
  }

 private:
  std::string Upper(std::string_view s) const {
    std::string out(s);
    for (char& ch : out) ch = upper_[static_cast<unsigned char>(ch)];
    return out;
  }

  std::vector<KeyField> fields_;
  const Collation& collation_;
  std::array<char, 256> upper_;
};

// A record's key fields for a message: alpha as text, integers decoded,
// the rest in hex.
std::string DescribeKey(std::string_view record, const std::vector<KeyField>& fields,
                        const std::vector<std::string>& names, CodePage code_page) {
  std::string out;
  for (size_t i = 0; i < fields.size(); ++i) {
    const KeyField& k = fields[i];
    const std::string_view v = record.substr(k.offset, k.bytes);
    if (!out.empty()) out += ", ";
    out += i < names.size() ? names[i] : Cat("field ", i + 1);
    out += ' ';
    const bool null = std::all_of(v.begin(), v.end(), [](char c) { return c == 0; });
    if (k.desc.type == kTypeAlpha) {
      out += '\'';
      for (const char ch : ToUtf8(v.substr(0, v.find('\0')), code_page)) {
        const auto u = static_cast<unsigned char>(ch);
        out += u >= 0x20 ? std::string(1, ch) : "\\x" + Hex(u | 0x100).substr(3);
      }
      out += '\'';
    } else if (null) {
      out += "NULL";
    } else if (k.desc.type == kTypeShort || k.desc.type == kTypeLong ||
               k.desc.type == kTypeAutoInc || k.desc.type == 0x02 || k.desc.type == 0x14) {
      uint32_t raw = 0;
      for (const char ch : v) raw = (raw << 8) | static_cast<unsigned char>(ch);
      const uint32_t sign = 1u << (8 * k.bytes - 1);
      raw ^= sign;
      int64_t value = raw;
      if (raw & sign) value -= int64_t{1} << (8 * k.bytes);
      out += std::to_string(value);
    } else {
      std::string hex;
      for (const char ch : v) hex += Hex(static_cast<unsigned char>(ch) | 0x100).substr(3);
      out += hex;
    }
  }
  return out;
}

// ---- Finding the files ----

std::optional<fs::path> FindSibling(const fs::path& file, std::string_view extension) {
  std::error_code ec;
  const std::string stem = file.stem().string();
  for (const auto& entry :
       fs::directory_iterator(file.parent_path().empty() ? "." : file.parent_path(), ec)) {
    const fs::path& p = entry.path();
    if (IEquals(p.stem().string(), stem) && IEquals(p.extension().string(), extension)) return p;
  }
  return std::nullopt;
}

enum class IndexKind { kNone, kSingle, kNamed };

// .Xnn (nn hexadecimal: the field number) or .XGn.
IndexKind KindOfIndexName(const fs::path& path, int* field_number) {
  const std::string ext = path.extension().string();
  if (ext.size() != 4 || ext[0] != '.' || std::toupper(static_cast<unsigned char>(ext[1])) != 'X')
    return IndexKind::kNone;
  if (std::toupper(static_cast<unsigned char>(ext[2])) == 'G') return IndexKind::kNamed;
  if (!std::isxdigit(static_cast<unsigned char>(ext[2])) ||
      !std::isxdigit(static_cast<unsigned char>(ext[3])))
    return IndexKind::kNone;
  if (field_number) *field_number = std::stoi(ext.substr(2), nullptr, 16);
  return IndexKind::kSingle;
}

// ---- The checks ----

struct Expected {
  std::vector<FieldDesc> fields;
  std::vector<std::string> names;
  std::vector<uint16_t> numbers;
  size_t indexed = 0;  // leading fields that are indexed
};

class IndexCheck {
 public:
  IndexCheck(const fs::path& db_path, const fs::path& x_path)
      : db_path_(db_path), x_path_(x_path) {}

  std::vector<std::string> Run() {
    int field_number = 0;
    kind_ = KindOfIndexName(x_path_, &field_number);
    if (kind_ == IndexKind::kNone) {
      problems_.Add(Cat(x_path_.filename().string(), ": not a .Xnn or .XGn file name"));
      return problems_.Take();
    }
    auto db = ParseFile(db_path_, true, false, problems_);
    auto x = ParseFile(x_path_, true, kind_ == IndexKind::kNamed, problems_);
    if (!db || !x) return problems_.Take();
    db_ = std::move(*db);
    x_ = std::move(*x);
    if (db_.type != kKeyedTable && db_.type != kUnkeyedTable) {
      problems_.Add(Cat(db_.name, ": file type ", int{db_.type}, " is not a table"));
      return problems_.Take();
    }
    if (!db_.extended || !x_.extended) {
      problems_.Add(Cat(x_.name, ": only level-4+ tables and indexes are checked (versions ",
                        int{db_.version}, " and ", int{x_.version}, ")"));
      return problems_.Take();
    }
    const bool maintained = CheckType();
    if (!CheckFields(field_number)) return problems_.Take();
    CheckHeaderLayout();
    CheckCounters();
    if (db_.type != kKeyedTable || !maintained) {
      CheckTreeHeader(false);
      return problems_.Take();
    }
    CheckContent();
    return problems_.Take();
  }

 private:
  bool CheckType() {
    const bool single = kind_ == IndexKind::kSingle;
    const uint8_t maintained = single ? kSingleIndexMaintained : kNamedIndexMaintained;
    const uint8_t fixed = single ? kSingleIndexStatic : kNamedIndexStatic;
    if (x_.type != maintained && x_.type != fixed)
      problems_.Add(Cat(x_.name, ": file type ", int{x_.type}, " at 0x04, expected ",
                        int{maintained}, " (or ", int{fixed}, " when not maintained)"));
    return x_.type == maintained;
  }

  // Fields, names, field numbers, 0x15, 0x23 and 0x64 of the .X header.
  bool CheckFields(int field_number) {
    const size_t n = x_.fields.size();
    const bool keyed = db_.type == kKeyedTable;
    const size_t tail = keyed ? size_t{db_.key_count} + 1 : 3;
    if (n <= tail) {
      problems_.Add(Cat(x_.name, ": ", n, " fields, too few for an index of this table"));
      return false;
    }
    Expected e;
    e.indexed = kind_ == IndexKind::kSingle ? 1 : n - tail;
    if (e.indexed + tail != n) {
      problems_.Add(Cat(x_.name, ": ", n, " fields, expected the indexed field, ",
                        keyed ? Cat(db_.key_count, " key fields") : std::string("Tup No"),
                        " and Blk Num", keyed ? "" : ", Tup Offset"));
      return false;
    }
    for (size_t i = 0; i < e.indexed; ++i) {
      const uint16_t number = x_.numbers[i];
      if (kind_ == IndexKind::kSingle && number != field_number)
        problems_.Add(Cat(x_.name, ": field number ", number,
                          " in the header, the file name says field ", field_number));
      if (number < 1 || number > db_.fields.size()) {
        problems_.Add(
            Cat(x_.name, ": indexed field number ", number, " is not a field of ", db_.name));
        return false;
      }
      index_fields_.push_back(size_t{number} - 1);
      e.fields.push_back(db_.fields[number - 1]);
      e.names.push_back(db_.names[number - 1]);
      e.numbers.push_back(number);
    }
    if (keyed) {
      for (size_t i = 0; i < db_.key_count; ++i) {
        e.fields.push_back(db_.fields[i]);
        e.names.push_back(db_.names[i]);
      }
      e.fields.push_back({kTypeShort, 2});
      e.names.push_back("Blk Num");
    } else {
      e.fields.insert(e.fields.end(), {{kTypeLong, 4}, {kTypeShort, 2}, {kTypeShort, 2}});
      e.names.insert(e.names.end(), {"Tup No", "Blk Num", "Tup Offset"});
    }
    for (size_t i = e.indexed; i < n; ++i) e.numbers.push_back(static_cast<uint16_t>(i + 1));

    bool ok = true;
    for (size_t i = 0; i < n; ++i) {
      if (x_.fields[i] != e.fields[i]) {
        problems_.Add(Cat(x_.name, ": field ", i + 1, " (", x_.names[i], ") is ",
                          DescribeField(x_.fields[i]), ", expected ", DescribeField(e.fields[i]),
                          " as ", e.names[i]));
        ok = false;
      }
      if (x_.names[i] != e.names[i])
        problems_.Add(Cat(x_.name, ": field ", i + 1, " is named '", x_.names[i], "', expected '",
                          e.names[i], "'"));
      if (x_.numbers[i] != e.numbers[i])
        problems_.Add(Cat(x_.name, ": field number list entry ", i + 1, " is ", x_.numbers[i],
                          ", expected ", e.numbers[i]));
    }
    if (x_.key_count != n - 1)
      problems_.Add(Cat(x_.name, ": ", x_.key_count, " key fields at 0x23, expected ", n - 1));
    const uint8_t indexed_number = kind_ == IndexKind::kSingle ? x_.u8(0x15) : 0;
    if (kind_ == IndexKind::kSingle && indexed_number != e.numbers[0])
      problems_.Add(Cat(x_.name, ": indexed field ", int{indexed_number}, " at 0x15, expected ",
                        e.numbers[0]));
    const uint16_t highest = *std::max_element(e.numbers.begin(), e.numbers.end());
    if (x_.u16(0x64) != highest + 1)
      problems_.Add(Cat(x_.name, ": ", x_.u16(0x64),
                        " at 0x64, expected the highest field number + 1 = ", highest + 1));
    expected_ = std::move(e);
    return ok;
  }

  void CheckHeaderLayout() {
    const uint16_t version_word = static_cast<uint16_t>(0x100 + x_.version);
    if (x_.u16(0x58) != version_word || x_.u16(0x5A) != version_word)
      problems_.Add(Cat(x_.name, ": ", Hex(x_.u16(0x58)), " / ", Hex(x_.u16(0x5A)),
                        " at 0x58 / 0x5A, expected ", Hex(version_word)));
    if (x_.u16(0x66) + kCommonHeaderSize != x_.names_end)
      problems_.Add(Cat(x_.name, ": 0x66 says the field names end at ",
                        x_.u16(0x66) + kCommonHeaderSize, ", they end at ", x_.names_end));
    if (x_.u16(0x6E) + kCommonHeaderSize != x_.sort_name_at)
      problems_.Add(Cat(x_.name, ": 0x6E says the sort-order name is at ",
                        x_.u16(0x6E) + kCommonHeaderSize, ", it is at ", x_.sort_name_at));
    if (kind_ == IndexKind::kSingle && x_.u16(0x51) != x_.sort_name_end)
      problems_.Add(Cat(x_.name, ": 0x51 says the header is used up to ", x_.u16(0x51),
                        ", the sort-order name ends at ", x_.sort_name_end));
    if (kind_ == IndexKind::kNamed && x_.index_name.empty())
      problems_.Add(Cat(x_.name, ": no index name after the sort-order name"));
    if (x_.u16(0x3A) != x_.blocks_total)
      problems_.Add(Cat(x_.name, ": ", x_.u16(0x3A), " at 0x3A, expected the block count ",
                        x_.blocks_total, " (0x0C)"));
    if (x_.u32(0x25) != 0xFF00FF00)
      problems_.Add(Cat(x_.name, ": ", Hex(x_.u32(0x25)), " at 0x25, expected 0xFF00FF00"));
    for (const size_t at : {size_t{0x14}, size_t{0x2A}})
      if (x_.u8(at) != 0)
        problems_.Add(Cat(x_.name, ": modified flag ", int{x_.u8(at)}, " at ",
                          Hex(static_cast<unsigned>(at)), ", expected 0"));
    const uint8_t flags = x_.u8(0x55);
    if ((flags & ~(kCaseInsensitiveFlag | kUniqueFlag)) != 0)
      problems_.Add(Cat(x_.name, ": index flags ", Hex(flags),
                        " at 0x55 other than case-insensitive and unique, not understood"));
  }

  void CheckCounters() {
    auto tie = [&](size_t x_at, const File& other, size_t other_at, const char* what) {
      if (x_.u8(x_at) != other.u8(other_at))
        problems_.Add(Cat(x_.name, ": ", what, " ", int{x_.u8(x_at)}, " at ",
                          Hex(static_cast<unsigned>(x_at)), ", ", other.name, " has ",
                          int{other.u8(other_at)}, " at ", Hex(static_cast<unsigned>(other_at))));
    };
    tie(0x2E, db_, 0x2E, "restructure count");
    tie(0x29, db_, 0x29, "sort-order id");
    tie(0x39, db_, 0x39, "version");
    if (x_.sort_name != db_.sort_name)
      problems_.Add(
          Cat(x_.name, ": sort order '", x_.sort_name, "', the table's is '", db_.sort_name, "'"));
    if (x_.u16(0x6A) != db_.u16(0x6A))
      problems_.Add(
          Cat(x_.name, ": code page ", x_.u16(0x6A), " at 0x6A, the table's is ", db_.u16(0x6A)));
    const bool autoinc = std::any_of(db_.fields.begin(), db_.fields.end(),
                                     [](FieldDesc d) { return d.type == kTypeAutoInc; });
    if (autoinc && x_.u32(0x49) != db_.u32(0x49))
      problems_.Add(Cat(x_.name, ": auto-increment value ", x_.u32(0x49), " at 0x49, ", db_.name,
                        " has ", db_.u32(0x49)));
    if (const auto px_path = FindSibling(db_path_, ".PX")) {
      Problems ignored;
      std::optional<File> px = ParseFile(*px_path, false, false, ignored);
      if (!px)
        problems_.Add(Cat(px_path->filename().string(), ": unreadable, so 0x2F cannot be checked"));
      else
        tie(0x2F, *px, 0x2C, "primary-index change count");
    }
  }

  // The .Y's header against the .X; `content`: also its entries.
  void CheckTreeHeader(bool content) {
    const std::string ext = x_path_.extension().string();
    const auto y_path = FindSibling(x_path_, Cat(".Y", ext.substr(2)));
    if (!y_path) {
      problems_.Add(Cat(x_.name, ": its .Y", ext.substr(2), " file is missing"));
      return;
    }
    auto y = ParseFile(*y_path, false, false, problems_);
    if (!y) return;
    y_ = std::move(*y);
    const uint8_t type = kind_ == IndexKind::kSingle ? kSingleIndexTree : kNamedIndexTree;
    if (y_.type != type)
      problems_.Add(Cat(y_.name, ": file type ", int{y_.type}, " at 0x04, expected ", int{type}));
    if (y_.fields.size() != x_.key_count ||
        !std::equal(y_.fields.begin(), y_.fields.end(), x_.fields.begin())) {
      problems_.Add(Cat(y_.name, ": its ", y_.fields.size(),
                        " field descriptors are not the .X's key fields"));
      return;
    }
    if (y_.key_count != 0) problems_.Add(Cat(y_.name, ": ", y_.key_count, " at 0x23, expected 0"));
    if (y_.sort_id != db_.sort_id)
      problems_.Add(Cat(y_.name, ": sort-order id ", int{y_.sort_id}, " at 0x29, the table's is ",
                        int{db_.sort_id}));
    if (y_.u16(0x3A) != y_.blocks_total)
      problems_.Add(Cat(y_.name, ": ", y_.u16(0x3A), " at 0x3A, expected the block count ",
                        y_.blocks_total, " (0x0C)"));
    if (content) CheckTree();
  }

  void CheckContent() {
    const auto rows = ReadChain(db_, false, problems_);
    const auto x_chain = ReadChain(x_, true, problems_);
    if (!rows || !x_chain) return;
    x_chain_ = *x_chain;

    // Key fields of the .X records: everything but Blk Num.
    std::vector<size_t> db_offsets;
    size_t offset = 0;
    for (const FieldDesc d : db_.fields) {
      db_offsets.push_back(offset);
      offset += FieldBytes(d);
    }
    size_t primary_key_bytes = 0;
    for (size_t i = 0; i < db_.key_count; ++i) primary_key_bytes += FieldBytes(db_.fields[i]);
    const bool case_insensitive = (x_.u8(0x55) & kCaseInsensitiveFlag) != 0;
    offset = 0;
    for (size_t i = 0; i + 1 < x_.fields.size(); ++i) {
      const FieldDesc d = x_.fields[i];
      key_fields_.push_back({d, offset, FieldBytes(d), case_insensitive && i < expected_.indexed});
      offset += FieldBytes(d);
    }
    key_bytes_ = offset;
    const KeyOrder order(key_fields_, Collation::ForDriver(db_.sort_name, db_.sort_id),
                         TableCodePage(db_));
    const std::vector<KeyField> indexed_fields(key_fields_.begin(),
                                               key_fields_.begin() + static_cast<std::ptrdiff_t>(expected_.indexed));
    const KeyOrder indexed_order(indexed_fields, Collation::ForDriver(db_.sort_name, db_.sort_id),
                                 TableCodePage(db_));
    const bool unique = (x_.u8(0x55) & kUniqueFlag) != 0;
    size_t indexed_bytes = 0;
    for (const KeyField& k : indexed_fields) indexed_bytes += k.bytes;

    // What the rows give: key bytes -> block of the row.
    std::map<std::string, uint16_t> expected;
    for (const Block& block : *rows) {
      for (const std::string_view row : block.records) {
        std::string key;
        for (const size_t f : index_fields_)
          key += row.substr(db_offsets[f], FieldBytes(db_.fields[f]));
        key += row.substr(0, primary_key_bytes);
        if (!expected.emplace(key, block.number).second)
          problems_.Add(Cat(db_.name, ": two rows give the index key ", Describe(key)));
      }
    }

    size_t position = 0;
    std::string_view previous;
    std::set<std::string> found;
    for (const Block& block : x_chain_) {
      for (const std::string_view record : block.records) {
        ++position;
        const std::string key(record.substr(0, key_bytes_));
        const uint16_t blk = FlippedU16(record.substr(key_bytes_));
        if (!previous.empty() && order.Compare(previous, record) >= 0)
          problems_.Add(Cat(x_.name, ": record ", position, " (", Describe(key),
                            ") is not in order after record ", position - 1, " (",
                            Describe(previous), ")"));
        if (unique && !previous.empty() && indexed_order.Compare(previous, record) == 0 &&
            !std::all_of(record.begin(), record.begin() + static_cast<std::ptrdiff_t>(indexed_bytes),
                         [](char c) { return c == 0; }))
          problems_.Add(Cat(x_.name, ": record ", position, " (", Describe(key),
                            ") repeats the value of record ", position - 1, " in a unique index"));
        previous = record;
        const auto it = expected.find(key);
        if (it == expected.end()) {
          problems_.Add(Cat(x_.name, ": record ", position, " (", Describe(key),
                            ") matches no row of ", db_.name));
        } else if (!found.insert(key).second) {
          problems_.Add(
              Cat(x_.name, ": record ", position, " (", Describe(key), ") is there twice"));
        } else if (blk != it->second) {
          problems_.Add(Cat(x_.name, ": record ", position, " (", Describe(key), ") has Blk Num ",
                            blk, ", the row is in block ", it->second, " of ", db_.name));
        }
      }
    }
    for (const auto& [key, block] : expected)
      if (!found.count(key))
        problems_.Add(Cat(x_.name, ": no record for the row in block ", block, " of ", db_.name,
                          " (", Describe(key), ")"));
    CheckTreeHeader(true);
  }

  struct Subtree {
    std::string first_key;
    uint32_t count = 0;
  };

  // The .Y's entries against the .X's blocks.
  void CheckTree() {
    const auto chain = ReadChain(y_, true, problems_);
    if (!chain) return;
    const size_t entry_key = y_.record_size - kIndexEntryTail;
    if (entry_key != key_bytes_) {
      problems_.Add(
          Cat(y_.name, ": entries hold ", entry_key, " key bytes, the .X's key has ", key_bytes_));
      return;
    }
    if (x_chain_.empty()) {
      if (!chain->empty() || y_.levels != 0)
        problems_.Add(Cat(y_.name, ": the .X is empty, but the index has ", chain->size(),
                          " blocks and ", int{y_.levels}, " levels (0x20)"));
      return;
    }
    if (y_.levels == 0) {
      problems_.Add(Cat(y_.name, ": 0 levels at 0x20 for an .X of ", x_chain_.size(), " blocks"));
      return;
    }
    for (const Block& b : *chain) y_blocks_[b.number] = &b;
    if (!y_blocks_.count(y_.root)) {
      problems_.Add(Cat(y_.name, ": root block ", y_.root, " (0x1E) is not in the chain"));
      return;
    }
    if (!Walk(y_.root, y_.levels)) return;
    for (const Block& b : *chain)
      if (!visited_.count(b.number))
        problems_.Add(
            Cat(y_.name, ": block ", b.number, " is in the chain but not under the root"));

    if (leaves_.size() != x_chain_.size()) {
      problems_.Add(Cat(y_.name, ": ", leaves_.size(), " level-1 entries for ", x_chain_.size(),
                        " blocks of ", x_.name));
      return;
    }
    for (size_t i = 0; i < leaves_.size(); ++i) {
      const Leaf& leaf = leaves_[i];
      const Block& xb = x_chain_[i];
      const std::string first = xb.records.empty()
                                    ? std::string()
                                    : std::string(xb.records.front().substr(0, key_bytes_));
      if (leaf.block != xb.number)
        problems_.Add(Cat(y_.name, ": level-1 entry ", i + 1, " points at block ", leaf.block,
                          ", block ", i + 1, " of the .X chain is ", xb.number));
      if (!xb.records.empty() && leaf.key != first)
        problems_.Add(Cat(y_.name, ": level-1 entry ", i + 1, " has key ", Describe(leaf.key),
                          ", its block starts with ", Describe(first)));
      if (leaf.count != (xb.records.size() & 0xFFFF))
        problems_.Add(Cat(y_.name, ": level-1 entry ", i + 1, " counts ", leaf.count,
                          " records, block ", xb.number, " holds ", xb.records.size()));
    }
  }

  std::optional<Subtree> Walk(uint16_t block, int level) {
    if (!visited_.insert(block).second) {
      problems_.Add(Cat(y_.name, ": block ", block, " is reached twice from the root"));
      return std::nullopt;
    }
    const Block& b = *y_blocks_.at(block);
    if (b.records.empty()) return std::nullopt;  // reported with the chain
    Subtree result;
    result.first_key = std::string(b.records.front().substr(0, key_bytes_));
    for (size_t i = 0; i < b.records.size(); ++i) {
      const std::string_view e = b.records[i];
      const std::string key(e.substr(0, key_bytes_));
      const uint16_t child = FlippedU16(e.substr(key_bytes_));
      const uint16_t count = FlippedU16(e.substr(key_bytes_ + 2));
      if (FlippedU16(e.substr(key_bytes_ + 4)) != 0)
        problems_.Add(
            Cat(y_.name, ": entry ", i + 1, " of block ", block, " has a non-zero third word"));
      result.count += count;
      if (level == 1) {
        leaves_.push_back({key, child, count});
        continue;
      }
      if (!y_blocks_.count(child)) {
        problems_.Add(Cat(y_.name, ": entry ", i + 1, " of block ", block, " (level ", level,
                          ") points at block ", child, ", which is not in the chain"));
        return std::nullopt;
      }
      const auto sub = Walk(child, level - 1);
      if (!sub) return std::nullopt;
      if (sub->first_key != key)
        problems_.Add(Cat(y_.name, ": entry ", i + 1, " of block ", block, " has key ",
                          Describe(key), ", block ", child, " starts with ",
                          Describe(sub->first_key)));
      if ((sub->count & 0xFFFF) != count)
        problems_.Add(Cat(y_.name, ": entry ", i + 1, " of block ", block, " counts ", count,
                          " records, block ", child, " holds ", sub->count, " below it"));
    }
    return result;
  }

  std::string Describe(std::string_view key) const {
    return DescribeKey(key, key_fields_, x_.names, TableCodePage(db_));
  }

  struct Leaf {
    std::string key;
    uint16_t block = 0;
    uint16_t count = 0;
  };

  fs::path db_path_, x_path_;
  IndexKind kind_ = IndexKind::kNone;
  Problems problems_;
  File db_, x_, y_;
  Expected expected_;
  std::vector<size_t> index_fields_;  // .DB field indexes (0-based) of the indexed fields
  std::vector<KeyField> key_fields_;
  size_t key_bytes_ = 0;
  std::vector<Block> x_chain_;
  std::map<uint16_t, const Block*> y_blocks_;
  std::set<uint16_t> visited_;
  std::vector<Leaf> leaves_;
};

}  // namespace

std::vector<std::string> CheckSecondaryIndex(const std::string& db_path,
                                             const std::string& index_path) {
  return IndexCheck(db_path, index_path).Run();
}

std::vector<std::string> CheckAllSecondaryIndexes(const std::string& db_path) {
  const fs::path db(db_path);
  std::vector<fs::path> indexes;
  std::error_code ec;
  for (const auto& entry :
       fs::directory_iterator(db.parent_path().empty() ? "." : db.parent_path(), ec))
    if (IEquals(entry.path().stem().string(), db.stem().string()) &&
        KindOfIndexName(entry.path(), nullptr) != IndexKind::kNone)
      indexes.push_back(entry.path());
  std::sort(indexes.begin(), indexes.end());
  std::vector<std::string> out;
  for (const fs::path& index : indexes) {
    const std::string prefix = index.filename().string() + ": ";
    for (const std::string& line : CheckSecondaryIndex(db_path, index.string()))
      out.push_back(line.starts_with(prefix) ? line : prefix + line);
  }
  return out;
}

}  // namespace dalimor::test
