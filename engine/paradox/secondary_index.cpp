#include "engine/paradox/secondary_index.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <numeric>

#include "engine/engine_error.h"
#include "engine/paradox/block.h"
#include "engine/paradox/byte_order.h"
#include "engine/paradox/errors.h"
#include "engine/paradox/field.h"
#include "engine/undo_log.h"
#include "platform/native_io.h"
#include "util/ascii.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

// Offsets of the index header that ParadoxHeader does not carry.
constexpr size_t kOffIndexedField = 0x15;
constexpr size_t kOffRestructureCount = 0x2E;
constexpr size_t kOffPrimaryChange = 0x2F;
constexpr size_t kOffFlags = 0x55;
constexpr size_t kOffFieldNumberLimit = 0x64;
constexpr size_t kOffNamesEnd = 0x66;
constexpr size_t kExtensionBase = 0x58;
// Index files keep 0xFF where a .PX keeps the table's change count.
constexpr uint8_t kIndexFileMarker2C = 0xFF;
// .Y blocks: 2 KB as Paradox makes them, 4 KB when a key is too long for that.
constexpr int kYBlockSize = 2048;
// Paradox indexes at most 16 fields.
constexpr size_t kMaxIndexedFields = 16;

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool IsAlnumChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

[[noreturn]] void ThrowInvalid(const std::string& message) {
  throw EngineError(EngineErrorKind::kInvalidDefinition, message);
}

[[noreturn]] void ThrowUnsupported(const std::string& file, const std::string& why) {
  throw EngineError(EngineErrorKind::kUnsupported,
                    EngineMessage("Capability not supported.", file, why));
}

// Upper case of a code point, for the letters tables are likely to hold:
// ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic.
char32_t UpperCodePoint(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 0x20 : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x137 && c != 0x130 && c != 0x131) return c & ~char32_t{1};
  if (c >= 0x139 && c <= 0x148) return (c & 1u) ? c : c - 1;
  if (c >= 0x14A && c <= 0x177) return c & ~char32_t{1};
  if (c >= 0x179 && c <= 0x17E) return (c & 1u) ? c : c - 1;
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 0x20;
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  return c;
}

// For each byte of a code page, the byte of its upper case (the byte itself
// when the upper case is not in the code page).
const unsigned char* UpperTable(CodePage cp) {
  struct Entry {
    CodePage cp;
    std::array<unsigned char, 256> table;
  };
  static std::mutex guard;
  static std::vector<std::unique_ptr<Entry>> tables;
  const std::lock_guard<std::mutex> lock(guard);
  for (const auto& e : tables)
    if (e->cp == cp) return e->table.data();
  auto e = std::make_unique<Entry>();
  e->cp = cp;
  for (int b = 0; b < 256; ++b) {
    e->table[static_cast<size_t>(b)] = static_cast<unsigned char>(b);
    const std::string utf8 = ToUtf8(std::string(1, static_cast<char>(b)), cp);
    std::u32string points;
    if (!DecodeUtf8(utf8, points) || points.size() != 1) continue;
    const char32_t upper = UpperCodePoint(points[0]);
    if (upper == points[0]) continue;
    std::string out;
    AppendUtf8(out, upper);
    if (!IsRepresentable(out, cp)) continue;
    const std::string bytes = FromUtf8(out, cp);
    if (bytes.size() == 1) e->table[static_cast<size_t>(b)] = static_cast<unsigned char>(bytes[0]);
  }
  tables.push_back(std::move(e));
  return tables.back()->table.data();
}

// The .Y beside an .X: the file there whatever its letter case, else the
// name with the .X's letter case.
std::string TreePathOf(const std::string& x_path) {
  const fs::path x = PathFromUtf8(x_path);
  std::string ext = Utf8FromPath(x.extension());  // ".X06" / ".xg0"
  ext[1] = ext[1] == 'x' ? 'y' : 'Y';
  const std::string dir = Utf8FromPath(x.parent_path());
  const std::string found = FindFileNoCase(dir.empty() ? "." : dir, Utf8FromPath(x.stem()) + ext);
  if (!found.empty()) return found;
  return Utf8FromPath(x.parent_path() / PathFromUtf8(Utf8FromPath(x.stem()) + ext));
}

}  // namespace

bool IsSecondaryIndexExtension(std::string_view ext) {
  if (ext.size() != 4 || ext[0] != '.') return false;
  const char kind = AsciiLower(ext[1]);
  if (kind != 'x' && kind != 'y') return false;
  if (AsciiLower(ext[2]) == 'g') return IsAlnumChar(ext[3]);
  return IsHex(ext[2]) && IsHex(ext[3]);
}

std::vector<std::string> FindSecondaryIndexFiles(const std::string& db_path) {
  const fs::path db = PathFromUtf8(db_path);
  const fs::path dir = db.parent_path().empty() ? fs::path(".") : db.parent_path();
  const std::string stem = Utf8FromPath(db.stem());
  std::vector<std::string> found;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path p = it->path();
    const std::string ext = Utf8FromPath(p.extension());
    if (EqualsIgnoringAsciiCase(Utf8FromPath(p.stem()), stem) && IsSecondaryIndexExtension(ext) &&
        AsciiLower(ext[1]) == 'x')
      found.push_back(Utf8FromPath(db.parent_path() / p.filename()));
  }
  std::sort(found.begin(), found.end());
  return found;
}

// ---------------------------------------------------------------- opening

void SecondaryIndex::Describe(const IndexedTable& table) {
  table_offsets_ = table.offsets;
  table_widths_ = table.widths;
  collation_ = table.collation;
  upper_ = UpperTable(table.code_page);
  key_.clear();
  int offset = 0;
  auto add = [&](int field, bool indexed) {
    KeyField k;
    k.table_field = field;
    k.offset = offset;
    k.width = table.widths[static_cast<size_t>(field)];
    k.alpha = table.header->fields[static_cast<size_t>(field)].type ==
              static_cast<uint8_t>(FieldType::kAlpha);
    k.fold_case = indexed && k.alpha && case_insensitive();
    offset += k.width;
    key_.push_back(k);
  };
  for (const int f : fields_) add(f, true);
  for (int f = 0; f < table.key_field_count; ++f) add(f, false);
  key_size_ = offset;
  record_size_ = offset + 2;
  block_size_ = x_header_.block_size();
  capacity_ = BlockCapacity(block_size_, record_size_);
}

std::unique_ptr<SecondaryIndex> SecondaryIndex::Open(const std::string& x_path,
                                                     const IndexedTable& table, bool writable) {
  std::unique_ptr<SecondaryIndex> ix(new SecondaryIndex());
  ix->x_path_ = x_path;
  ix->x_file_ = ParadoxFile::Open(x_path, writable);
  const std::string raw = ReadHeaderBytes(ix->x_file_);
  ix->x_header_ = DecodeParadoxHeader(raw, x_path);
  const ParadoxHeader& h = ix->x_header_;
  const ParadoxHeader& db = *table.header;
  auto corrupt = [&](const std::string& what) -> void {
    ThrowCorrupt(kCorruptHeaderText, x_path, "Secondary index: " + what);
  };
  switch (static_cast<ParadoxFileType>(h.file_type)) {
    case ParadoxFileType::kSecondaryIncremental:
    case ParadoxFileType::kCompositeIncremental:
      ix->maintained_ = true;
      break;
    case ParadoxFileType::kSecondaryNonIncremental:
    case ParadoxFileType::kCompositeNonIncremental:
      ix->maintained_ = false;
      break;
    default:
      corrupt("file type " + std::to_string(h.file_type) + " is not a secondary index");
  }
  // A non-maintained index is brought up to date by the Borland engine when
  // it is used; it is never written here, so nothing more of it is needed.
  if (!ix->maintained_) return ix;

  if (!h.has_extension())
    ThrowUnsupported(x_path,
                     "Secondary indexes of tables older than Paradox 4 are not maintained "
                     "by this engine; the table cannot be written.");
  if (table.key_field_count == 0)
    ThrowUnsupported(x_path,
                     "Secondary indexes of tables without a primary key are not "
                     "maintained by this engine; the table cannot be written.");
  const size_t n = h.fields.size();
  const size_t k = static_cast<size_t>(table.key_field_count);
  if (n < k + 2) corrupt(std::to_string(n) + " fields are too few for an index of this table");
  if (h.fields.back().type != static_cast<uint8_t>(FieldType::kShort))
    corrupt("the last field is not the block number");
  if (h.key_field_count != n - 1)
    corrupt(std::to_string(h.key_field_count) + " key fields of " + std::to_string(n));
  const size_t indexed = n - 1 - k;
  if (indexed > kMaxIndexedFields) corrupt(std::to_string(indexed) + " indexed fields");
  for (size_t i = 0; i < k; ++i) {
    const FieldDescriptor& a = h.fields[indexed + i];
    if (a.type != db.fields[i].type || a.size != db.fields[i].size)
      corrupt("field " + std::to_string(indexed + i + 1) + " is not the table's key field " +
              std::to_string(i + 1));
  }
  // The field numbers follow the field names: the table's number of each
  // indexed field, then local positions.
  const size_t numbers = kExtensionBase + GetU16(raw.data() + kOffNamesEnd);
  if (numbers < kHeaderExtensionEnd || numbers + 2 * n > raw.size())
    corrupt("the field numbers lie outside the header");
  for (size_t i = 0; i < indexed; ++i) {
    const uint16_t number = GetU16(raw.data() + numbers + 2 * i);
    if (number == 0 || number > db.fields.size())
      corrupt("indexed field number " + std::to_string(number) + " is not a field of the table");
    const FieldDescriptor& a = h.fields[i];
    const FieldDescriptor& b = db.fields[number - 1u];
    if (a.type != b.type || a.size != b.size)
      corrupt("indexed field " + std::to_string(i + 1) + " does not match field " +
              std::to_string(number) + " of the table");
    if (IsBlobType(static_cast<FieldType>(a.type))) corrupt("a blob field is indexed");
    ix->fields_.push_back(number - 1);
  }
  if (!EqualsIgnoringAsciiCase(h.sort_order_name, db.sort_order_name) ||
      h.sort_order_id != db.sort_order_id)
    ThrowCorrupt("Language Drivers of Table and Index do not match", x_path,
                 "Index: " + h.sort_order_name + ", table: " + db.sort_order_name);
  ix->flags_ = static_cast<uint8_t>(raw[kOffFlags]);
  if ((ix->flags_ & ~kIndexKnownFlags) != 0)
    ThrowUnsupported(x_path, "The index has options (flags " + std::to_string(ix->flags_) +
                                 ") this engine does not maintain; the table cannot be written.");
  const size_t sort_at = kExtensionBase + GetU16(raw.data() + 0x6E);
  if (sort_at < raw.size()) {
    const size_t name_at = sort_at + strnlen(raw.data() + sort_at, raw.size() - sort_at) + 1;
    if (name_at < raw.size())
      ix->name_ = ToUtf8(
          std::string(raw.data() + name_at, strnlen(raw.data() + name_at, raw.size() - name_at)),
          table.code_page);
  }
  ix->Describe(table);
  if (h.record_size != ix->record_size_)
    corrupt("record size " + std::to_string(h.record_size) + ", the fields take " +
            std::to_string(ix->record_size_));
  if (ix->capacity_ < 1) corrupt("records do not fit into a block");

  // The .Y is rebuilt from the .X at every write, so a damaged one is only
  // replaced.
  ix->y_path_ = TreePathOf(x_path);
  std::error_code ec;
  if (fs::exists(fs::symlink_status(PathFromUtf8(ix->y_path_), ec))) {
    try {
      ParadoxFile y = ParadoxFile::Open(ix->y_path_, writable);
      ParadoxHeader yh = DecodeParadoxHeader(ReadHeaderBytes(y), ix->y_path_);
      bool fits = (yh.file_type == static_cast<uint8_t>(ParadoxFileType::kSecondaryIndex) ||
                   yh.file_type == static_cast<uint8_t>(ParadoxFileType::kCompositeIndex)) &&
                  yh.record_size == ix->key_size_ + kIndexEntryTrailerSize &&
                  yh.fields.size() == n - 1 && IndexBlockFill(yh.block_size(), ix->key_size_) >= 2;
      for (size_t i = 0; fits && i + 1 < n; ++i)
        fits = yh.fields[i].type == h.fields[i].type && yh.fields[i].size == h.fields[i].size;
      if (fits) {
        ix->y_header_ = std::move(yh);
        ix->y_file_ = std::move(y);
        ix->y_exists_ = true;
        ix->y_written_blocks_ = ix->y_header_.total_blocks;
      }
    } catch (const EngineError& e) {
      if (e.kind() != EngineErrorKind::kCorrupt) throw;
    }
  }
  return ix;
}

void RemoveSecondaryIndexFiles(const std::string& x_path) {
  std::error_code ec;
  for (const std::string& path : {TreePathOf(x_path), x_path}) {
    SaveBeforeRemoval(PathFromUtf8(path));
    fs::remove(PathFromUtf8(path), ec);
  }
}

// ---------------------------------------------------------------- creating

std::unique_ptr<SecondaryIndex> SecondaryIndex::Create(const SecondaryIndexDef& def,
                                                       const IndexedTable& table) {
  const ParadoxHeader& db = *table.header;
  if (table.key_field_count == 0)
    ThrowInvalid("A secondary index needs a table with a primary key.");
  if (!db.has_extension())
    ThrowInvalid("Secondary indexes can be added only to tables of Paradox 4 or later.");
  if (def.fields.empty()) ThrowInvalid("A secondary index needs at least one field.");
  if (def.fields.size() > kMaxIndexedFields)
    ThrowInvalid("A secondary index takes at most 16 fields.");
  if (def.name.empty() && def.fields.size() != 1)
    ThrowInvalid("An index over several fields needs a name.");
  std::vector<int> fields;
  for (const std::string& name : def.fields) {
    int found = -1;
    for (size_t i = 0; i < db.field_names.size(); ++i)
      if (EqualsIgnoringAsciiCase(ToUtf8(db.field_names[i], table.code_page), name))
        found = static_cast<int>(i);
    if (found < 0) ThrowInvalid("Field not found in table.\nField: " + name);
    if (IsBlobType(static_cast<FieldType>(db.fields[static_cast<size_t>(found)].type)))
      ThrowInvalid("Invalid field type for an index.\nField: " + name);
    if (std::find(fields.begin(), fields.end(), found) != fields.end())
      ThrowInvalid("A field is named twice in the index.\nField: " + name);
    fields.push_back(found);
  }
  if (fields.front() == 0)
    ThrowInvalid("The first field of the primary key cannot lead a secondary index.\nField: " +
                 def.fields.front());

  const fs::path dbp = PathFromUtf8(table.db_path);
  const std::string dir = dbp.parent_path().empty() ? "." : Utf8FromPath(dbp.parent_path());
  std::string ext;
  if (def.name.empty()) {
    static const char kHex[] = "0123456789ABCDEF";
    const int number = fields.front() + 1;
    ext = std::string(".X") + kHex[(number >> 4) & 0xF] + kHex[number & 0xF];
    if (!FindFileNoCase(dir, Utf8FromPath(dbp.stem()) + ext).empty())
      ThrowInvalid("The field already has an index.\nField: " + def.fields.front());
  } else {
    if (def.name.size() > 31 || !IsRepresentable(def.name, table.code_page))
      ThrowInvalid("Invalid index name.\nIndex: " + def.name);
    for (const std::string& other : FindSecondaryIndexFiles(table.db_path)) {
      try {
        const std::unique_ptr<SecondaryIndex> o = Open(other, table, false);
        if (EqualsIgnoringAsciiCase(o->name(), def.name))
          ThrowInvalid("Duplicate index name.\nIndex: " + def.name);
      } catch (const EngineError& e) {
        if (e.kind() == EngineErrorKind::kInvalidDefinition) throw;
      }
    }
    static const char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    for (const char* d = kDigits; *d && ext.empty(); ++d) {
      const std::string candidate = std::string(".XG") + *d;
      if (FindFileNoCase(dir, Utf8FromPath(dbp.stem()) + candidate).empty()) ext = candidate;
    }
    if (ext.empty()) ThrowInvalid("The table has too many named indexes.");
  }

  ParadoxHeader x;
  x.version = db.version;
  x.file_type = static_cast<uint8_t>(def.name.empty() ? ParadoxFileType::kSecondaryIncremental
                                                      : ParadoxFileType::kCompositeIncremental);
  x.block_size_kb = db.block_size_kb;
  x.sort_order_id = db.sort_order_id;
  x.sort_order_name = db.sort_order_name;
  x.code_page = db.code_page;
  x.change_count = db.change_count;
  x.index_change_count = kIndexFileMarker2C;
  x.update_time = db.update_time;
  x.auto_increment = db.auto_increment;
  size_t record = 2;
  for (const int f : fields) {
    x.fields.push_back(db.fields[static_cast<size_t>(f)]);
    x.field_names.push_back(db.field_names[static_cast<size_t>(f)]);
    record += static_cast<size_t>(table.widths[static_cast<size_t>(f)]);
  }
  for (int f = 0; f < table.key_field_count; ++f) {
    x.fields.push_back(db.fields[static_cast<size_t>(f)]);
    x.field_names.push_back(db.field_names[static_cast<size_t>(f)]);
    record += static_cast<size_t>(table.widths[static_cast<size_t>(f)]);
  }
  x.fields.push_back(FieldDescriptor{static_cast<uint8_t>(FieldType::kShort), 2});
  x.field_names.emplace_back(kBlockNumberFieldName);
  x.key_field_count = static_cast<uint16_t>(x.fields.size() - 1);
  x.record_size = static_cast<uint16_t>(record);
  if (BlockCapacity(db.block_size(), static_cast<int>(record)) < 1 ||
      IndexBlockFill(kYBlockSize * 2, static_cast<int>(record) - 2) < 2)
    ThrowInvalid("The index key is too long.");
  const std::string file_name = SiblingFileName(table.db_path, ext);
  x.table_name = FromUtf8(file_name, table.code_page);
  // The index name follows the sort-order name; laying it out as part of
  // that string keeps the header's used size right.
  const std::string sort_name = x.sort_order_name;
  if (!def.name.empty())
    x.sort_order_name = sort_name + std::string(1, '\0') + FromUtf8(def.name, table.code_page);
  x.header_size = RequiredHeaderSize(x);
  std::string bytes = EncodeParadoxHeader(x);
  char* p = bytes.data();
  p[kOffIndexedField] = static_cast<char>(def.name.empty() ? fields.front() + 1 : 0);
  p[kOffRestructureCount] =
      static_cast<char>(db.raw.size() > kOffRestructureCount ? db.raw[kOffRestructureCount] : 1);
  uint8_t flags = 0;
  if (def.case_insensitive) flags |= kIndexCaseInsensitive;
  if (def.unique) flags |= kIndexUnique;
  p[kOffFlags] = static_cast<char>(flags);
  const size_t numbers = kExtensionBase + GetU16(p + kOffNamesEnd);
  uint16_t highest = 0;
  for (size_t i = 0; i < x.fields.size(); ++i) {
    const uint16_t number =
        i < fields.size() ? static_cast<uint16_t>(fields[i] + 1) : static_cast<uint16_t>(i + 1);
    PutU16(p + numbers + 2 * i, number);
    highest = std::max(highest, number);
  }
  PutU16(p + kOffFieldNumberLimit, static_cast<uint16_t>(highest + 1));
  const std::string x_path = Utf8FromPath(dbp.parent_path() / PathFromUtf8(file_name));
  {
    ParadoxFile f = ParadoxFile::Create(x_path);
    f.WriteAt(0, bytes);
  }
  std::unique_ptr<SecondaryIndex> ix = Open(x_path, table, true);
  return ix;
}

// ---------------------------------------------------------------- entries

std::optional<std::string> SecondaryIndex::UniqueValue(const char* record) const {
  std::string out;
  bool any = false;
  for (size_t i = 0; i < fields_.size(); ++i) {
    const KeyField& k = key_[i];
    const char* v = record + table_offsets_[static_cast<size_t>(k.table_field)];
    if (!IsAllZero(v, static_cast<size_t>(k.width))) any = true;
    AppendKey(k, v, out);
  }
  if (!any) return std::nullopt;
  return out;
}

void SecondaryIndex::AppendKey(const KeyField& k, const char* value, std::string& out) const {
  const size_t width = static_cast<size_t>(k.width);
  if (!k.alpha) {
    out.append(value, width);
    return;
  }
  if (!k.fold_case) {
    collation_->AppendSortKey(std::string_view(value, width), out);
    return;
  }
  char folded[256];
  for (size_t j = 0; j < width; ++j)
    folded[j] = static_cast<char>(upper_[static_cast<unsigned char>(value[j])]);
  collation_->AppendSortKey(std::string_view(folded, width), out);
}

void SecondaryIndex::FillEntry(const char* record, uint16_t block, char* out) const {
  for (const KeyField& k : key_)
    std::memcpy(out + k.offset, record + table_offsets_[static_cast<size_t>(k.table_field)],
                static_cast<size_t>(k.width));
  EncodeFlippedInt(block, 2, out + key_size_);
}

// ---------------------------------------------------------------- writing

namespace {

// Sorts by prefix, least significant byte first, skipping bytes that are
// the same in every slot.  Stable.
void RadixSortByPrefix(std::vector<IndexScratch::Slot>& sorted,
                       std::vector<IndexScratch::Slot>& spare) {
  const size_t n = sorted.size();
  if (n < 2) return;
  std::vector<std::array<uint32_t, 256>> counts(8);
  for (auto& c : counts) c.fill(0);
  for (const auto& s : sorted)
    for (size_t b = 0; b < 8; ++b) ++counts[b][(s.prefix >> (8 * b)) & 0xFF];
  spare.resize(n);
  for (size_t b = 0; b < 8; ++b) {
    std::array<uint32_t, 256>& c = counts[b];
    if (std::any_of(c.begin(), c.end(), [&](uint32_t v) { return v == n; })) continue;
    uint32_t sum = 0;
    for (uint32_t& v : c) {
      const uint32_t here = v;
      v = sum;
      sum += here;
    }
    for (const auto& s : sorted) spare[c[(s.prefix >> (8 * b)) & 0xFF]++] = s;
    sorted.swap(spare);
  }
}

}  // namespace

void SecondaryIndex::Write(const std::vector<BlockRows>& rows, const IndexCounters& counters,
                           IndexScratch& scratch) {
  if (!maintained_) return;
  size_t n = 0;
  for (const BlockRows& r : rows) n += static_cast<size_t>(r.count);
  const size_t rs = static_cast<size_t>(record_size_);
  const size_t table_rs =
      static_cast<size_t>(std::accumulate(table_widths_.begin(), table_widths_.end(), 0));

  // The records in table order; `sort` is what they are ordered by (the
  // same bytes, alpha values upper-cased where the index ignores case).
  scratch.entries.resize(std::max<size_t>(n * rs, 1));
  char* const entries = scratch.entries.data();
  size_t at = 0;
  for (const BlockRows& r : rows) {
    for (int s = 0; s < r.count; ++s, ++at) {
      const char* record = r.records + static_cast<size_t>(s) * table_rs;
      FillEntry(record, r.block, entries + at * rs);
    }
  }
  // The entries come in primary-key order (the order of the table's
  // chain), so they are sorted by the indexed values alone, entries of
  // equal values keeping that order.  Each entry's sort key holds its
  // indexed values as the index orders them, so that entries sort by
  // comparing bytes; without alpha values in a collation of their own the
  // stored bytes are that key already.
  const size_t indexed = fields_.size();
  const bool raw = std::none_of(
      key_.begin(), key_.begin() + static_cast<std::ptrdiff_t>(indexed),
      [&](const KeyField& k) { return k.alpha && (k.fold_case || !collation_->IsByteOrder()); });
  size_t indexed_bytes = 0;
  for (size_t f = 0; f < indexed; ++f) indexed_bytes += static_cast<size_t>(key_[f].width);
  std::string& keys = scratch.keys;
  std::vector<uint64_t>& key_at = scratch.key_at;
  keys.clear();
  if (!raw) {
    keys.reserve(n * (2 * indexed_bytes + 4));
    key_at.resize(n + 1);
    for (size_t i = 0; i < n; ++i) {
      key_at[i] = keys.size();
      const char* e = entries + i * rs;
      for (size_t f = 0; f < indexed; ++f) AppendKey(key_[f], e + key_[f].offset, keys);
    }
    key_at[n] = keys.size();
  }
  auto key_of = [&](uint32_t i) {
    return raw ? std::string_view(entries + size_t{i} * rs, indexed_bytes)
               : std::string_view(keys.data() + key_at[i], key_at[i + 1] - key_at[i]);
  };
  // Sorted by the first eight bytes of the key held beside the entry's
  // number, so that most comparisons touch no other memory.
  using Slot = IndexScratch::Slot;
  std::vector<Slot>& sorted = scratch.sorted;
  sorted.resize(n);
  for (uint32_t i = 0; i < n; ++i) {
    const std::string_view k = key_of(i);
    uint64_t prefix = 0;
    for (size_t j = 0; j < 8; ++j)
      prefix = (prefix << 8) | (j < k.size() ? static_cast<unsigned char>(k[j]) : 0u);
    sorted[i] = Slot{prefix, i};
  }
  // A stable radix sort by the prefixes (entries of equal prefixes keep
  // primary-key order), then the runs of equal prefixes whose keys go on
  // beyond them by their whole keys.
  RadixSortByPrefix(sorted, scratch.spare);
  auto less = [&](const Slot& a, const Slot& b) {
    const std::string_view ka = key_of(a.entry);
    const std::string_view kb = key_of(b.entry);
    const size_t common = std::min(ka.size(), kb.size());
    if (common > 8) {
      const int c = std::memcmp(ka.data() + 8, kb.data() + 8, common - 8);
      if (c != 0) return c < 0;
    }
    if (ka.size() != kb.size()) return ka.size() < kb.size();
    return a.entry < b.entry;
  };
  for (size_t i = 0; i < n;) {
    size_t end = i + 1;
    while (end < n && sorted[end].prefix == sorted[i].prefix) ++end;
    if (end - i > 1 && (raw ? indexed_bytes > 8 : true))
      std::sort(sorted.begin() + static_cast<std::ptrdiff_t>(i),
                sorted.begin() + static_cast<std::ptrdiff_t>(end), less);
    i = end;
  }
  std::vector<uint32_t>& order = scratch.order;
  order.resize(n);
  for (size_t i = 0; i < n; ++i) order[i] = sorted[i].entry;
  WriteX(entries, order, counters);
  WriteY(counters);
}

void SecondaryIndex::WriteX(const char* entries, const std::vector<uint32_t>& order,
                            const IndexCounters& counters) {
  const size_t n = order.size();
  const size_t rs = static_cast<size_t>(record_size_);
  const size_t bs = static_cast<size_t>(block_size_);
  const size_t cap = static_cast<size_t>(capacity_);
  const size_t blocks = (n + cap - 1) / cap;
  if (blocks > 0xFFFF)
    throw EngineError(EngineErrorKind::kGeneral, EngineMessage("Table is full.", x_path_));
  const uint64_t hs = x_header_.header_size;
  const uint64_t old_size = x_file_.Size();
  // The blocks are laid out a chunk at a time and compared with what the
  // file holds there; only blocks whose bytes changed are written,
  // neighbours together.
  constexpr size_t kChunkBlocks = 64;
  std::string fresh(kChunkBlocks * bs, '\0');
  std::string old(kChunkBlocks * bs, '\0');
  y_level1_.clear();
  y_level1_.reserve(blocks);
  // Once one block differs, the blocks after it mostly do too (the entries
  // shift): the rest of the file and the header are announced at the first
  // difference, so that a run keeping the file by its overwritten bytes
  // saves them with one sync (ParadoxFile::SaveBeforeWrites).
  bool announced = false;
  for (size_t c0 = 0; c0 < blocks; c0 += kChunkBlocks) {
    const size_t c1 = std::min(blocks, c0 + kChunkBlocks);
    std::memset(fresh.data(), 0, (c1 - c0) * bs);
    for (size_t b = c0; b < c1; ++b) {
      const size_t first = b * cap;
      const size_t count = std::min(cap, n - first);
      char* block = fresh.data() + (b - c0) * bs;
      BlockHeader head;
      head.next = b + 1 < blocks ? static_cast<uint16_t>(b + 2) : 0;
      head.prev = static_cast<uint16_t>(b);
      head.last_record_offset = LastRecordOffset(static_cast<int>(count), record_size_);
      EncodeBlockHeader(head, block);
      for (size_t i = 0; i < count; ++i)
        std::memcpy(block + kBlockHeaderSize + i * rs, entries + size_t{order[first + i]} * rs, rs);
      IndexEntry e;
      e.key.assign(block + kBlockHeaderSize, static_cast<size_t>(key_size_));
      e.child = static_cast<uint16_t>(b + 1);
      e.count = static_cast<uint32_t>(count);
      y_level1_.push_back(std::move(e));
    }
    const uint64_t at = hs + c0 * bs;
    const size_t got = at < old_size ? x_file_.ReadInto(at, old.data(), (c1 - c0) * bs) : 0;
    auto same = [&](size_t b) {
      const size_t off = (b - c0) * bs;
      return off + bs <= got && std::memcmp(old.data() + off, fresh.data() + off, bs) == 0;
    };
    for (size_t b = c0; b < c1;) {
      if (same(b)) {
        ++b;
        continue;
      }
      size_t end = b + 1;
      while (end < c1 && !same(end)) ++end;
      if (!announced) {
        x_file_.SaveBeforeWrites({{0, hs}, {hs + b * bs, UINT64_MAX - (hs + b * bs)}});
        announced = true;
      }
      x_file_.WriteAt(hs + b * bs, std::string_view(fresh.data() + (b - c0) * bs, (end - b) * bs));
      b = end;
    }
  }
  const uint64_t size = hs + blocks * bs;
  if (old_size > size) x_file_.Truncate(size);

  x_header_.record_count = static_cast<uint32_t>(n);
  x_header_.blocks_in_use = static_cast<uint16_t>(blocks);
  x_header_.total_blocks = static_cast<uint16_t>(blocks);
  x_header_.first_block = blocks ? 1 : 0;
  x_header_.last_block = static_cast<uint16_t>(blocks);
  x_header_.first_free_block = 0;
  x_header_.change_count = static_cast<uint8_t>(x_header_.change_count + 1);
  WriteXHeader(counters);
}

void SecondaryIndex::WriteXHeader(const IndexCounters& counters) {
  x_header_.update_time = counters.update_time;
  if (counters.has_auto_increment) x_header_.auto_increment = counters.auto_increment;
  std::string bytes = EncodeParadoxHeader(x_header_);
  bytes[kOffRestructureCount] = static_cast<char>(counters.restructure_count);
  bytes[kOffPrimaryChange] = static_cast<char>(counters.primary_change_count);
  x_header_.raw = bytes;
  x_file_.WriteAt(0, bytes);
}

void SecondaryIndex::WriteY(const IndexCounters&) {
  if (!y_exists_) {
    ParadoxHeader y;
    y.file_type = static_cast<uint8_t>(
        x_header_.file_type == static_cast<uint8_t>(ParadoxFileType::kCompositeIncremental)
            ? ParadoxFileType::kCompositeIndex
            : ParadoxFileType::kSecondaryIndex);
    y.version = x_header_.version;
    const int block = IndexBlockFill(kYBlockSize, key_size_) >= 2 ? kYBlockSize : 2 * kYBlockSize;
    y.block_size_kb = static_cast<uint8_t>(block / 1024);
    y.record_size = static_cast<uint16_t>(key_size_ + kIndexEntryTrailerSize);
    y.fields.assign(x_header_.fields.begin(), x_header_.fields.end() - 1);
    y.table_name = Utf8FromPath(PathFromUtf8(y_path_).filename());
    y.sort_order_id = x_header_.sort_order_id;
    y.auto_increment = 1;
    // The .Y keeps the .X's change count, as the .PX keeps the table's.
    y.index_change_count = static_cast<uint8_t>(x_header_.change_count - 1);
    y.header_size = RequiredHeaderSize(y);
    y_file_ = ParadoxFile::Create(y_path_);
    y_header_ = std::move(y);
    y_exists_ = true;
    y_written_blocks_ = 0;
    y_tree_.Invalidate();
  }
  y_tree_.Build(y_level1_, key_size_, y_header_.block_size());
  y_tree_.WriteChanges(y_file_, y_header_, &y_written_blocks_);
  y_header_.index_change_count = static_cast<uint8_t>(y_header_.index_change_count + 1);
  y_file_.WriteAt(0, EncodeParadoxHeader(y_header_));
}

void SecondaryIndex::Refresh(const IndexCounters& counters) {
  if (maintained_) WriteXHeader(counters);
}

void SecondaryIndex::Close() {
  x_file_ = ParadoxFile();
  y_file_ = ParadoxFile();
}

}  // namespace dalimor
