#include "engine/paradox/table.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "engine/paradox/byte_order.h"
#include "engine/engine_error.h"
#include "engine/paradox/block.h"
#include "engine/paradox/errors.h"
#include "engine/paradox/field.h"
#include "engine/paradox/secondary_index.h"
#include "engine/undo_log.h"
#include "platform/native_io.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxFields = 255;
constexpr int kBlockSizes[] = {1024, 2048, 4096, 16384, 32768};
// Index blocks of tables with blocks above 4 KB are 2 KB, as Paradox makes them.
constexpr int kLargestIndexBlock = 4096;
constexpr int kIndexBlockForLargeTables = 2048;
// The 8-byte prefix of graphic and OLE blobs: four marker bytes, then the
// payload length.
constexpr size_t kGraphicPrefixSize = 8;

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && LowerAscii(a) == LowerAscii(b);
}

// The code page of a level 3.x table, which names only its sort order.
CodePage CodePageOfSortOrder(uint8_t sort_order_id) {
  switch (sort_order_id) {
    case 192: return CodePage::k866;                        // cyrr
    case 13: case 132: return CodePage::k852;               // czech, czechw
    case 83: case 220: case 42: return CodePage::k1250;     // anczechw, anczech, anil2czw
    case 17: case 64: case 76: case 98: return CodePage::k1252;
    case 84: return CodePage::k850;                         // intl850
    default: return CodePage::k437;
  }
}

uint32_t UnixNow() { return static_cast<uint32_t>(std::time(nullptr)); }

[[noreturn]] void ThrowGeneral(const std::string& message) {
  throw EngineError(EngineErrorKind::kGeneral, message);
}

[[noreturn]] void ThrowInvalid(const std::string& message) {
  throw EngineError(EngineErrorKind::kInvalidDefinition, message);
}

int Sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

// EncodeFieldValue for a field of the table at `table_path`, whose errors
// (a value the field cannot hold) name the table.
void EncodeTableField(const FieldDef& def, int width, const Value& value, CodePage code_page,
                      char* out, const std::string& table_path) {
  try {
    EncodeFieldValue(def, width, value, code_page, out);
  } catch (const EngineError& e) {
    throw e.WithContext(kTableContext, table_path);
  }
}

std::string DbPathFor(const std::string& path) {
  fs::path p = PathFromUtf8(path);
  if (p.extension().empty()) p += ".DB";
  return Utf8FromPath(p);
}

}  // namespace

// ---------------------------------------------------------------- opening

std::unique_ptr<ParadoxTable> ParadoxTable::Open(const std::string& path, OpenMode mode,
                                                 const OpenOptions& options) {
  std::unique_ptr<ParadoxTable> t = OpenHeader(path, mode, options);
  t->Load();
  t->LoadSiblings();
  return t;
}

TableDescription ParadoxTable::Describe(const std::string& path, const OpenOptions& options) {
  const std::unique_ptr<ParadoxTable> t = OpenHeader(path, OpenMode::kReadOnly, options);
  return TableDescription{t->fields_, t->key_field_count_, t->header_.record_count};
}

std::unique_ptr<ParadoxTable> ParadoxTable::OpenHeader(const std::string& path, OpenMode mode,
                                                       const OpenOptions& options) {
  const fs::path wanted = PathFromUtf8(DbPathFor(path));
  const std::string dir = Utf8FromPath(wanted.parent_path());
  const std::string found =
      FindFileNoCase(dir.empty() ? "." : dir, Utf8FromPath(wanted.filename()));
  if (found.empty())
    throw EngineError(EngineErrorKind::kFileNotFound,
                      EngineMessage("Table does not exist.", Utf8FromPath(wanted)));
  std::unique_ptr<ParadoxTable> t(new ParadoxTable());
  t->mode_ = mode;
  t->db_path_ = found;
  t->db_file_ = ParadoxFile::Open(found, mode != OpenMode::kReadOnly);
  if (!t->db_file_.TryLock(mode == OpenMode::kExclusive))
    throw EngineError(EngineErrorKind::kTableBusy, EngineMessage("Table is busy.", found));
  t->header_ = DecodeParadoxHeader(ReadHeaderBytes(t->db_file_), found);
  const ParadoxHeader& h = t->header_;
  const auto type = static_cast<ParadoxFileType>(h.file_type);
  if (type != ParadoxFileType::kKeyedTable && type != ParadoxFileType::kUnkeyedTable)
    ThrowCorrupt("Unknown table type.", found,
                 "Header: file type " + std::to_string(h.file_type) + " is not a table");
  if ((type == ParadoxFileType::kKeyedTable) != (h.key_field_count > 0))
    ThrowCorrupt(kCorruptHeaderText, found,
                 "Header: the file type and the number of key fields (" +
                     std::to_string(h.key_field_count) + ") disagree");
  if (h.encryption != 0)
    throw EngineError(EngineErrorKind::kUnsupported,
                      EngineMessage("Capability not supported.", found,
                                    "The table is encrypted (password protected)."));

  CodePage cp = CodePageOfSortOrder(h.sort_order_id);
  if (options.code_page)
    cp = *options.code_page;
  else if (h.has_extension() && !CodePageFromNumber(h.code_page, cp)) {
    // Read with the sort order's code page as the best guess, but never
    // write: new text would be stored in a code page the table does not name.
    cp = CodePageOfSortOrder(h.sort_order_id);
    t->code_page_unknown_ = true;
  }
  t->code_page_ = cp;
  t->collation_ = &Collation::ForDriver(h.sort_order_name, h.sort_order_id);

  int offset = 0;
  for (size_t i = 0; i < h.fields.size(); ++i) {
    FieldDef def;
    def.type = static_cast<FieldType>(h.fields[i].type);
    def.size = FieldDefSize(def.type, h.fields[i].size);
    def.name = ToUtf8(h.field_names[i], cp);
    const int width = FieldRecordSize(def.type, h.fields[i].size);
    if (static_cast<int>(i) < h.key_field_count) {
      if (!IsKeyableType(def.type))
        ThrowCorrupt(kCorruptHeaderText, found, "Header: key field " + def.name + " is a blob field");
      t->key_size_ += width;
    }
    t->fields_.push_back(std::move(def));
    t->slots_.push_back(FieldSlot{offset, width});
    offset += width;
  }
  t->key_field_count_ = h.key_field_count;
  return t;
}

void ParadoxTable::Load() {
  auto fail = [&](const std::string& what) { ThrowCorrupt(kCorruptFileText, db_path_, what); };
  block_size_ = header_.block_size();
  record_size_ = header_.record_size;
  capacity_ = BlockCapacity(block_size_, record_size_);
  const size_t bs = static_cast<size_t>(block_size_);
  const size_t total = header_.total_blocks;
  const uint64_t file_size = db_file_.Size();
  const size_t available = static_cast<size_t>(file_size) - header_.header_size;
  // Only the last block may be cut short.
  if (total > 0 && available <= (total - 1) * bs)
    fail("The header counts " + std::to_string(total) + " blocks of " + std::to_string(bs) +
         " bytes; the file holds " + std::to_string(available) + " bytes of blocks");
  // A table opened for writing gets room to grow to twice its blocks: the
  // memory beyond its blocks is only reserved, and inserts then need not
  // move the whole table to a larger place.
  if (mode_ != OpenMode::kReadOnly) data_.reserve(std::min<size_t>(0xFFFF, 2 * total + 16) * bs);
  data_.resize(total * bs, '\0');
  const size_t read = db_file_.ReadInto(header_.header_size, data_.data(), total * bs);
  written_db_size_ = header_.header_size + read;
  // A last block cut short on disk is written whole with the next change.
  if (mode_ != OpenMode::kReadOnly && total > 0 && read < total * bs)
    MarkDirty(static_cast<uint16_t>(total));

  chain_index_.assign(total + 1, -1);
  uint64_t records = 0;
  for (uint16_t b = header_.first_block; b != 0; b = BlockHead(b).next) {
    if (b > total)
      fail("The block chain refers to block " + std::to_string(b) + "; the file has " +
           std::to_string(total));
    if (chain_index_[b] >= 0) fail("The block chain returns to block " + std::to_string(b));
    chain_index_[b] = static_cast<int32_t>(chain_.size());
    chain_.push_back(b);
    const int n = BlockRecordCount(BlockHead(b), block_size_, record_size_);
    if (n < 0) fail("Block " + std::to_string(b) + " has an invalid record count");
    records += static_cast<uint64_t>(n);
  }
  if (records != header_.record_count)
    fail("The header counts " + std::to_string(header_.record_count) +
         " records; the blocks hold " + std::to_string(records));
  record_count_ = static_cast<uint32_t>(records);

  chain_index_valid_ = true;
  if (mode_ != OpenMode::kReadOnly) {
    std::vector<bool> seen(total + 1, false);
    for (uint16_t b = header_.first_free_block; b != 0; b = BlockHead(b).next) {
      if (b > total || chain_index_[b] >= 0 || seen[b])
        fail("The list of free blocks is damaged at block " + std::to_string(b));
      seen[b] = true;
    }
  }
}

void ParadoxTable::LoadSiblings() {
  const fs::path db = PathFromUtf8(db_path_);
  const std::string dir = Utf8FromPath(db.parent_path());
  const bool writable = mode_ != OpenMode::kReadOnly;
  // Reading ignores secondary indexes; a table opened for writing keeps
  // its maintained ones up to date, or refuses writes when one of them
  // cannot be kept (the reason is given when a write is tried).
  if (writable) {
    for (const std::string& x : FindSecondaryIndexFiles(db_path_)) {
      try {
        std::unique_ptr<SecondaryIndex> index = SecondaryIndex::Open(x, Indexed(), true);
        if (index->maintained()) indexes_.push_back(std::move(index));
      } catch (const EngineError& e) {
        if (!index_error_) index_error_ = e;
      }
    }
  }
  if (keyed()) {
    px_path_ = SiblingPath(".PX");
    // Any entry of that name counts, so that a link or a pipe in place of
    // the index is refused rather than taken for a missing index.
    std::error_code ec;
    if (fs::exists(fs::symlink_status(PathFromUtf8(px_path_), ec))) {
      px_file_ = ParadoxFile::Open(px_path_, writable);
      px_header_ = DecodeParadoxHeader(ReadHeaderBytes(px_file_), px_path_);
      bool matches = px_header_.file_type == static_cast<uint8_t>(ParadoxFileType::kPrimaryIndex) &&
                     px_header_.fields.size() == static_cast<size_t>(key_field_count_) &&
                     px_header_.record_size == key_size_ + kIndexEntryTrailerSize;
      for (int i = 0; matches && i < key_field_count_; ++i)
        matches = px_header_.fields[i].type == header_.fields[i].type &&
                  px_header_.fields[i].size == header_.fields[i].size;
      if (!matches)
        ThrowCorrupt(kCorruptIndexText, px_path_,
                     "Header: the index does not describe the key of " + db_path_);
      has_px_header_ = true;
      written_px_blocks_ = px_header_.total_blocks;
    }
  }
  const bool has_blob_field = std::any_of(fields_.begin(), fields_.end(),
                                          [](const FieldDef& f) { return IsBlobType(f.type); });
  if (has_blob_field) {
    mb_path_ = SiblingPath(".MB");
    std::error_code ec;
    if (fs::exists(fs::symlink_status(PathFromUtf8(mb_path_), ec)))
      mb_ = BlobFile::Open(mb_path_, writable);
  }
}

std::string ParadoxTable::SiblingPath(std::string_view extension) const {
  const fs::path db = PathFromUtf8(db_path_);
  const std::string dir = Utf8FromPath(db.parent_path());
  const std::string wanted = Utf8FromPath(db.stem()) + std::string(extension);
  const std::string found = FindFileNoCase(dir.empty() ? "." : dir, wanted);
  if (!found.empty()) return found;
  return Utf8FromPath(db.parent_path() /
                      PathFromUtf8(SiblingFileName(Utf8FromPath(db), extension)));
}

ParadoxTable::~ParadoxTable() {
  try {
    if (!closed_) Flush();
  } catch (...) {
    // A destructor cannot report; Close() does.
  }
}

void ParadoxTable::Close() {
  if (closed_) return;
  Flush();
  closed_ = true;
  db_file_ = ParadoxFile();
  px_file_ = ParadoxFile();
  mb_.reset();
}

int ParadoxTable::FieldIndex(std::string_view name) const {
  for (size_t i = 0; i < fields_.size(); ++i)
    if (EqualNoCase(fields_[i].name, name)) return static_cast<int>(i);
  return -1;
}

// ---------------------------------------------------------------- creating

std::unique_ptr<ParadoxTable> ParadoxTable::Create(const std::string& path,
                                                   const std::vector<FieldDef>& fields,
                                                   int key_field_count,
                                                   const CreateOptions& options) {
  if (fields.empty()) ThrowInvalid("A table needs at least one field.");
  if (fields.size() > kMaxFields) ThrowInvalid("Too many fields in table.");
  if (key_field_count < 0 || static_cast<size_t>(key_field_count) > fields.size())
    ThrowInvalid("The primary key names " + std::to_string(key_field_count) +
                 " fields; the table has " + std::to_string(fields.size()) + ".");
  CodePage cp;
  if (!CodePageFromNumber(options.code_page, cp))
    ThrowInvalid("Unknown code page " + std::to_string(options.code_page) + ".");
  if (std::find(std::begin(kBlockSizes), std::end(kBlockSizes), options.block_size) ==
      std::end(kBlockSizes))
    ThrowInvalid("Invalid block size " + std::to_string(options.block_size) + ".");
  if (options.sort_order_name.empty() || options.sort_order_name.size() > 31)
    ThrowInvalid("Invalid sort order name.");

  ParadoxHeader h;
  h.version = kVersionParadox7;
  h.file_type = static_cast<uint8_t>(key_field_count > 0 ? ParadoxFileType::kKeyedTable
                                                         : ParadoxFileType::kUnkeyedTable);
  h.block_size_kb = static_cast<uint8_t>(options.block_size / 1024);
  h.key_field_count = static_cast<uint16_t>(key_field_count);
  h.sort_order_id = options.sort_order_id;
  h.sort_order_name = options.sort_order_name;
  h.code_page = static_cast<uint16_t>(options.code_page);
  h.change_count = 1;
  h.update_time = UnixNow();

  std::vector<std::string> lowered;
  size_t record_size = 0;
  size_t key_size = 0;
  for (size_t i = 0; i < fields.size(); ++i) {
    const FieldDef& def = fields[i];
    if (def.name.empty()) ThrowInvalid("Invalid field name.\nField " + std::to_string(i + 1));
    if (const std::string why = CheckFieldDef(def); !why.empty())
      ThrowInvalid("Invalid field type or size.\nField: " + def.name + " (" + why + ")");
    if (!IsRepresentable(def.name, cp))
      ThrowInvalid("Invalid field name.\nField: " + def.name +
                   " (characters outside the table's code page)");
    const std::string name = FromUtf8(def.name, cp);
    if (name.size() > static_cast<size_t>(kMaxFieldNameLength) || name.find('\0') != std::string::npos)
      ThrowInvalid("Invalid field name.\nField: " + def.name);
    const std::string low = LowerAscii(name);
    if (std::find(lowered.begin(), lowered.end(), low) != lowered.end())
      ThrowInvalid("Duplicate field name.\nField: " + def.name);
    lowered.push_back(low);
    if (static_cast<int>(i) < key_field_count && !IsKeyableType(def.type))
      ThrowInvalid("Invalid field type for a key.\nField: " + def.name);
    const FieldDescriptor d{static_cast<uint8_t>(def.type), DescriptorSizeByte(def)};
    const size_t width = static_cast<size_t>(FieldRecordSize(def.type, d.size));
    record_size += width;
    if (static_cast<int>(i) < key_field_count) key_size += width;
    h.fields.push_back(d);
    h.field_names.push_back(name);
  }
  const int min_records = key_field_count > 0 ? 2 : 1;
  if (record_size > 0xFFFF ||
      BlockCapacity(options.block_size, static_cast<int>(record_size)) < min_records)
    ThrowInvalid("Record size is too big for table.");
  const int index_block =
      options.block_size <= kLargestIndexBlock ? options.block_size : kIndexBlockForLargeTables;
  if (key_field_count > 0 && IndexBlockFill(index_block, static_cast<int>(key_size)) < 2)
    ThrowInvalid("The key is too long.");
  h.record_size = static_cast<uint16_t>(record_size);

  const fs::path wanted = PathFromUtf8(DbPathFor(path));
  const std::string dir = Utf8FromPath(wanted.parent_path());
  const std::string existing =
      FindFileNoCase(dir.empty() ? "." : dir, Utf8FromPath(wanted.filename()));
  const fs::path db = existing.empty() ? wanted : PathFromUtf8(existing);
  const std::vector<std::string> secondary = FindSecondaryIndexFiles(Utf8FromPath(db));
  if (!secondary.empty())
    ThrowGeneral(EngineMessage("Cannot replace the table: it has a secondary index.",
                               secondary.front()));
  h.table_name = FromUtf8(Utf8FromPath(db.filename()), cp);
  h.header_size = RequiredHeaderSize(h);

  // Drop the index and blob file of a table this one replaces.
  for (std::string_view ext : {std::string_view(".PX"), std::string_view(".MB")}) {
    const std::string old =
        FindFileNoCase(dir.empty() ? "." : dir, Utf8FromPath(db.stem()) + std::string(ext));
    std::error_code ec;
    if (old.empty()) continue;
    SaveBeforeRemoval(PathFromUtf8(old));
    fs::remove(PathFromUtf8(old), ec);
  }
  {
    ParadoxFile f = ParadoxFile::Create(Utf8FromPath(db));
    f.WriteAt(0, EncodeParadoxHeader(h));
  }
  if (key_field_count > 0) {
    ParadoxHeader x;
    x.file_type = static_cast<uint8_t>(ParadoxFileType::kPrimaryIndex);
    x.version = h.version;
    x.block_size_kb = static_cast<uint8_t>(index_block / 1024);
    x.record_size = static_cast<uint16_t>(key_size + kIndexEntryTrailerSize);
    x.fields.assign(h.fields.begin(), h.fields.begin() + key_field_count);
    x.table_name = FromUtf8(SiblingFileName(Utf8FromPath(db), ".PX"), cp);
    x.sort_order_id = h.sort_order_id;
    x.auto_increment = 1;
    x.index_change_count = h.change_count;
    x.header_size = RequiredHeaderSize(x);
    ParadoxFile f = ParadoxFile::Create(
        Utf8FromPath(db.parent_path() / PathFromUtf8(SiblingFileName(Utf8FromPath(db), ".PX"))));
    f.WriteAt(0, EncodeParadoxHeader(x));
  }
  if (std::any_of(fields.begin(), fields.end(), [](const FieldDef& f) { return IsBlobType(f.type); }))
    BlobFile::Create(
        Utf8FromPath(db.parent_path() / PathFromUtf8(SiblingFileName(Utf8FromPath(db), ".MB"))));
  return Open(Utf8FromPath(db), OpenMode::kExclusive);
}

// ---------------------------------------------------------------- blocks

char* ParadoxTable::BlockData(uint16_t block) {
  return data_.data() + size_t{block - 1u} * static_cast<size_t>(block_size_);
}

const char* ParadoxTable::BlockData(uint16_t block) const {
  return data_.data() + size_t{block - 1u} * static_cast<size_t>(block_size_);
}

BlockHeader ParadoxTable::BlockHead(uint16_t block) const {
  return DecodeBlockHeader(BlockData(block));
}

void ParadoxTable::SetBlockHead(uint16_t block, const BlockHeader& head) {
  EncodeBlockHeader(head, BlockData(block));
  MarkDirty(block);
}

int ParadoxTable::BlockCount(uint16_t block) const {
  // The chain's blocks were checked when the table was read, and the
  // blocks written since are sound; a count is at most the capacity.
  return std::clamp(BlockHead(block).last_record_offset / record_size_ + 1, 0, capacity_);
}

void ParadoxTable::SetBlockCount(uint16_t block, int count) {
  BlockHeader h = BlockHead(block);
  h.last_record_offset = LastRecordOffset(count, record_size_);
  SetBlockHead(block, h);
}

char* ParadoxTable::RecordData(uint16_t block, int slot) {
  return BlockData(block) + kBlockHeaderSize + static_cast<size_t>(slot) * static_cast<size_t>(record_size_);
}

const char* ParadoxTable::RecordData(uint16_t block, int slot) const {
  return BlockData(block) + kBlockHeaderSize + static_cast<size_t>(slot) * static_cast<size_t>(record_size_);
}

void ParadoxTable::MarkDirty(uint16_t block) {
  if (dirty_mask_.empty()) dirty_mask_.assign(size_t{0xFFFF} + 1, false);
  if (dirty_mask_[block]) return;
  dirty_mask_[block] = true;
  dirty_blocks_.push_back(block);
}

std::vector<uint16_t> ParadoxTable::SortedDirtyBlocks() const {
  std::vector<uint16_t> blocks = dirty_blocks_;
  std::sort(blocks.begin(), blocks.end());
  return blocks;
}

void ParadoxTable::ClearDirtyBlocks() {
  for (const uint16_t b : dirty_blocks_) dirty_mask_[b] = false;
  dirty_blocks_.clear();
}

// A block from the free list, else a new one at the end of the file.
uint16_t ParadoxTable::AllocateBlock() {
  uint16_t b = header_.first_free_block;
  if (b != 0) {
    header_.first_free_block = BlockHead(b).next;
    std::memset(BlockData(b), 0, static_cast<size_t>(block_size_));
  } else {
    // A new block at the end comes zeroed.
    if (header_.total_blocks == 0xFFFF)
      ThrowGeneral(EngineMessage("Table is full.", db_path_));
    b = ++header_.total_blocks;
    data_.resize(size_t{header_.total_blocks} * static_cast<size_t>(block_size_), '\0');
    chain_index_valid_ = false;
  }
  SetBlockCount(b, 0);
  return b;
}

void ParadoxTable::LinkAfter(size_t at, uint16_t added) {
  const uint16_t existing = chain_[at];
  BlockHeader e = BlockHead(existing);
  BlockHeader a = BlockHead(added);
  a.prev = existing;
  a.next = e.next;
  if (e.next) {
    BlockHeader n = BlockHead(e.next);
    n.prev = added;
    SetBlockHead(e.next, n);
  }
  e.next = added;
  SetBlockHead(existing, e);
  SetBlockHead(added, a);
  chain_.insert(chain_.begin() + static_cast<std::ptrdiff_t>(at) + 1, added);
  ChainChanged();
  index_.InsertAfter(existing, added);
}

void ParadoxTable::Unlink(uint16_t block) {
  const BlockHeader h = BlockHead(block);
  if (h.prev) {
    BlockHeader p = BlockHead(h.prev);
    p.next = h.next;
    SetBlockHead(h.prev, p);
  }
  if (h.next) {
    BlockHeader n = BlockHead(h.next);
    n.prev = h.prev;
    SetBlockHead(h.next, n);
  }
  // A scan of the chain rather than its index: the index was dropped by
  // the chain's last change, and counting it again for each block that a
  // mass delete empties would be quadratic.
  const auto at = chain_index_valid_ ? chain_.begin() + ChainIndex(block)
                                     : std::find(chain_.begin(), chain_.end(), block);
  chain_.erase(at);
  ChainChanged();
  index_.Erase(block);
}

// Puts a block that has left the chain on the free list.
void ParadoxTable::FreeBlock(uint16_t block) {
  std::memset(BlockData(block), 0, static_cast<size_t>(block_size_));
  BlockHeader h;
  h.next = header_.first_free_block;
  h.last_record_offset = static_cast<int16_t>(-record_size_);
  SetBlockHead(block, h);
  header_.first_free_block = block;
}

void ParadoxTable::ChainChanged() {
  chain_index_valid_ = false;
  ordinals_valid_ = false;
}

int32_t ParadoxTable::ChainIndex(uint16_t block) const {
  if (!chain_index_valid_) {
    chain_index_.assign(size_t{header_.total_blocks} + 1, -1);
    for (size_t i = 0; i < chain_.size(); ++i) chain_index_[chain_[i]] = static_cast<int32_t>(i);
    chain_index_valid_ = true;
  }
  return block < chain_index_.size() ? chain_index_[block] : -1;
}

void ParadoxTable::EnsureOrdinals() const {
  if (ordinals_valid_) return;
  chain_start_.resize(chain_.size());
  uint32_t n = 0;
  for (size_t i = 0; i < chain_.size(); ++i) {
    chain_start_[i] = n;
    n += static_cast<uint32_t>(BlockCount(chain_[i]));
  }
  ordinals_valid_ = true;
}

void ParadoxTable::CheckPosition(RecordPosition p) const {
  if (p.block == 0 || ChainIndex(p.block) < 0 ||
      p.slot >= BlockCount(p.block))
    ThrowGeneral(EngineMessage("Could not find record.", db_path_,
                               "No record at block " + std::to_string(p.block) + ", slot " +
                                   std::to_string(p.slot)));
}

// ---------------------------------------------------------------- reading

std::optional<RecordPosition> ParadoxTable::First() const {
  for (uint16_t b : chain_)
    if (BlockCount(b) > 0) return RecordPosition{b, 0};
  return std::nullopt;
}

std::optional<RecordPosition> ParadoxTable::Last() const {
  for (size_t i = chain_.size(); i-- > 0;)
    if (const int n = BlockCount(chain_[i]); n > 0)
      return RecordPosition{chain_[i], static_cast<uint16_t>(n - 1)};
  return std::nullopt;
}

std::optional<RecordPosition> ParadoxTable::Next(RecordPosition p) const {
  CheckPosition(p);
  if (p.slot + 1 < BlockCount(p.block)) return RecordPosition{p.block, static_cast<uint16_t>(p.slot + 1)};
  for (size_t i = static_cast<size_t>(ChainIndex(p.block)) + 1; i < chain_.size(); ++i)
    if (BlockCount(chain_[i]) > 0) return RecordPosition{chain_[i], 0};
  return std::nullopt;
}

std::optional<RecordPosition> ParadoxTable::Prior(RecordPosition p) const {
  CheckPosition(p);
  if (p.slot > 0) return RecordPosition{p.block, static_cast<uint16_t>(p.slot - 1)};
  for (size_t i = static_cast<size_t>(ChainIndex(p.block)); i-- > 0;)
    if (const int n = BlockCount(chain_[i]); n > 0)
      return RecordPosition{chain_[i], static_cast<uint16_t>(n - 1)};
  return std::nullopt;
}

RecordPosition ParadoxTable::PositionAt(uint32_t ordinal) const {
  if (ordinal >= record_count_)
    ThrowGeneral(EngineMessage("Could not find record.", db_path_,
                               "Record number " + std::to_string(ordinal) + " of " +
                                   std::to_string(record_count_)));
  EnsureOrdinals();
  const auto it = std::upper_bound(chain_start_.begin(), chain_start_.end(), ordinal);
  const size_t i = static_cast<size_t>(it - chain_start_.begin()) - 1;
  return RecordPosition{chain_[i], static_cast<uint16_t>(ordinal - chain_start_[i])};
}

uint32_t ParadoxTable::OrdinalOf(RecordPosition p) const {
  CheckPosition(p);
  EnsureOrdinals();
  return chain_start_[static_cast<size_t>(ChainIndex(p.block))] + p.slot;
}

Record ParadoxTable::Read(RecordPosition p) const {
  CheckPosition(p);  // once for the whole record
  Record r;
  r.reserve(fields_.size());
  for (size_t i = 0; i < fields_.size(); ++i) r.push_back(DecodeField(p, static_cast<int>(i)));
  return r;
}

Value ParadoxTable::ReadField(RecordPosition p, int field) const {
  CheckPosition(p);
  if (field < 0 || static_cast<size_t>(field) >= fields_.size())
    throw EngineError(EngineErrorKind::kFieldNotFound,
                      "Field not found in table.\nTable: " + db_path_);
  return DecodeField(p, field);
}

Value ParadoxTable::DecodeField(RecordPosition p, int field) const {
  const FieldSlot& s = slots_[static_cast<size_t>(field)];
  const char* bytes = RecordData(p.block, p.slot) + s.offset;
  const FieldType type = fields_[static_cast<size_t>(field)].type;
  if (IsBlobType(type)) return DecodeBlob(field, bytes);
  return DecodeFieldValue(type, bytes, s.width, code_page_);
}

std::vector<Record> ParadoxTable::ReadAll() const {
  std::vector<Record> out;
  out.reserve(record_count_);
  for (auto p = First(); p; p = Next(*p)) out.push_back(Read(*p));
  return out;
}

std::string ParadoxTable::StoredBlob(int field, const char* bytes) const {
  const FieldDef& def = fields_[static_cast<size_t>(field)];
  const int leader = slots_[static_cast<size_t>(field)].width - kBlobTrailerSize;
  const BlobTrailer t = DecodeBlobTrailer(bytes + leader);
  if (t.length == 0) return {};
  if (t.offset == 0) {
    if (t.length > static_cast<uint32_t>(leader))
      ThrowCorrupt(kCorruptFileText, db_path_,
                   "Field " + def.name + ": a blob of " + std::to_string(t.length) +
                       " bytes is neither in its leader nor in the blob file");
    return std::string(bytes, t.length);
  }
  if (!mb_)
    throw EngineError(EngineErrorKind::kCorrupt, EngineMessage("BLOB file is missing.", mb_path_));
  return mb_->Read(t);
}

Value ParadoxTable::DecodeBlob(int field, const char* bytes) const {
  std::string raw = StoredBlob(field, bytes);
  if (raw.empty()) return {};
  switch (fields_[static_cast<size_t>(field)].type) {
    case FieldType::kMemo:
    case FieldType::kFormattedMemo:
      return ToUtf8(raw, code_page_);
    case FieldType::kGraphic:
    case FieldType::kOle:
      if (raw.size() >= kGraphicPrefixSize) raw.erase(0, kGraphicPrefixSize);
      return Bytes{std::move(raw)};
    default:
      return Bytes{std::move(raw)};
  }
}

// ---------------------------------------------------------------- keys

int ParadoxTable::CompareKeys(const char* a, const char* b, int fields) const {
  for (int i = 0; i < fields; ++i) {
    const FieldSlot& s = slots_[static_cast<size_t>(i)];
    int r;
    if (std::memcmp(a + s.offset, b + s.offset, static_cast<size_t>(s.width)) == 0)
      continue;  // the same bytes: equal in any order
    if (fields_[static_cast<size_t>(i)].type == FieldType::kAlpha)
      r = collation_->Compare(std::string_view(a + s.offset, static_cast<size_t>(s.width)),
                              std::string_view(b + s.offset, static_cast<size_t>(s.width)));
    else
      r = std::memcmp(a + s.offset, b + s.offset, static_cast<size_t>(s.width));
    if (r != 0) return Sign(r);
  }
  return 0;
}

std::string ParadoxTable::EncodeKeyPrefix(const Record& key, int* fields) const {
  if (!keyed()) ThrowGeneral(EngineMessage("The table has no primary index.", db_path_));
  if (key.empty() || key.size() > static_cast<size_t>(key_field_count_))
    ThrowGeneral(EngineMessage("The key has " + std::to_string(key.size()) + " values; the index has " +
                                   std::to_string(key_field_count_) + " fields.",
                               db_path_));
  std::string bytes(static_cast<size_t>(record_size_), '\0');
  for (size_t i = 0; i < key.size(); ++i)
    EncodeTableField(fields_[i], slots_[i].width, key[i], code_page_,
                     bytes.data() + slots_[i].offset, db_path_);
  *fields = static_cast<int>(key.size());
  return bytes;
}

size_t ParadoxTable::FirstBlockNotBelow(const char* key, int fields) const {
  size_t lo = 0, hi = chain_.size();
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    const uint16_t b = chain_[mid];
    if (BlockCount(b) == 0 || CompareKeys(RecordData(b, 0), key, fields) < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

size_t ParadoxTable::FirstBlockNotBelowFrom(const char* key, int fields, size_t from) const {
  const size_t n = chain_.size();
  auto not_below = [&](size_t i) {
    const uint16_t b = chain_[i];
    return BlockCount(b) > 0 && CompareKeys(RecordData(b, 0), key, fields) >= 0;
  };
  // Every index below `lo` is known to hold smaller keys.
  size_t lo = std::min(from, n);
  size_t hi = lo;
  for (size_t step = 1; hi < n && !not_below(hi); step *= 2) {
    lo = hi + 1;
    hi = lo + step;
  }
  hi = std::min(hi, n);
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (not_below(mid))
      hi = mid;
    else
      lo = mid + 1;
  }
  return lo;
}

int ParadoxTable::SlotNotBelow(uint16_t block, const char* key, int fields) const {
  int lo = 0, hi = BlockCount(block);
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    if (CompareKeys(RecordData(block, mid), key, fields) < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

std::optional<RecordPosition> ParadoxTable::LowerBoundBytes(const char* key, int fields,
                                                            size_t* from) const {
  if (chain_.empty()) return std::nullopt;
  const size_t idx = from ? FirstBlockNotBelowFrom(key, fields, *from) : FirstBlockNotBelow(key, fields);
  if (from) *from = idx;
  if (idx == 0) return First();
  const uint16_t b = chain_[idx - 1];
  const int slot = SlotNotBelow(b, key, fields);
  if (slot < BlockCount(b)) return RecordPosition{b, static_cast<uint16_t>(slot)};
  for (size_t i = idx; i < chain_.size(); ++i)
    if (BlockCount(chain_[i]) > 0) return RecordPosition{chain_[i], 0};
  return std::nullopt;
}

std::optional<RecordPosition> ParadoxTable::LowerBound(const Record& key) const {
  int fields = 0;
  const std::string bytes = EncodeKeyPrefix(key, &fields);
  return LowerBoundBytes(bytes.data(), fields);
}

std::optional<RecordPosition> ParadoxTable::Find(const Record& key) const {
  int fields = 0;
  const std::string bytes = EncodeKeyPrefix(key, &fields);
  return FindBytes(bytes.data(), fields);
}

std::optional<RecordPosition> ParadoxTable::FindBytes(const char* key, int fields,
                                                      size_t* from) const {
  const auto p = LowerBoundBytes(key, fields, from);
  if (p && CompareKeys(RecordData(p->block, p->slot), key, fields) == 0) return p;
  return std::nullopt;
}

// ---------------------------------------------------------------- writing

void ParadoxTable::CheckWritable() const {
  if (closed_) ThrowGeneral(EngineMessage("Table is closed.", db_path_));
  if (mode_ == OpenMode::kReadOnly) ThrowGeneral(EngineMessage("Table is read only.", db_path_));
  if (code_page_unknown_)
    throw EngineError(EngineErrorKind::kUnsupported,
                      EngineMessage("Capability not supported.", db_path_,
                                    "The table's code page " + std::to_string(header_.code_page) +
                                        " is not known to this engine; it cannot be written."));
  if (index_error_) throw *index_error_;
  if (keyed()) {
    const int index_block = has_px_header_ ? px_header_.block_size()
                            : block_size_ <= kLargestIndexBlock ? block_size_
                                                                : kIndexBlockForLargeTables;
    if (capacity_ < 2 || IndexBlockFill(index_block, key_size_) < 2)
      throw EngineError(EngineErrorKind::kUnsupported,
                        EngineMessage("Capability not supported.", db_path_,
                                      "Records or keys too long to keep the table in key order."));
  }
}

static std::string BlobPayloadOf(const FieldDef& def, const Value& value, CodePage cp) {
  if (IsNull(value)) return {};
  const auto* text = std::get_if<std::string>(&value);
  const auto* bytes = std::get_if<Bytes>(&value);
  switch (def.type) {
    case FieldType::kMemo:
    case FieldType::kFormattedMemo:
      if (text) return TextToCodePage(*text, cp, def.name);
      if (bytes) return bytes->data;
      break;
    case FieldType::kBlob:
      if (bytes) return bytes->data;
      break;
    case FieldType::kGraphic:
    case FieldType::kOle: {
      if (!bytes) break;
      if (bytes->data.empty()) return {};
      std::string out(kGraphicPrefixSize, '\0');
      out[0] = 1;
      out[3] = def.type == FieldType::kGraphic ? 1 : 2;
      PutU32(out.data() + 4, static_cast<uint32_t>(bytes->data.size()));
      return out + bytes->data;
    }
    default:
      break;
  }
  throw EngineError(EngineErrorKind::kGeneral,
                    std::string("Type mismatch: a ") + FieldTypeLetter(def.type) +
                        " field cannot hold this value.\nField: " + def.name);
}

ParadoxTable::PreparedRecord ParadoxTable::Prepare(const Record& record,
                                                   const char* old_record) const {
  if (record.size() != fields_.size())
    ThrowGeneral(EngineMessage("The record has " + std::to_string(record.size()) +
                                   " values; the table has " + std::to_string(fields_.size()) +
                                   " fields.",
                               db_path_));
  PreparedRecord p;
  p.bytes.assign(static_cast<size_t>(record_size_), '\0');
  for (size_t i = 0; i < fields_.size(); ++i) {
    const FieldDef& def = fields_[i];
    const FieldSlot& s = slots_[i];
    char* out = p.bytes.data() + s.offset;
    if (def.type == FieldType::kAutoInc && IsNull(record[i])) {
      if (old_record) {
        std::memcpy(out, old_record + s.offset, static_cast<size_t>(s.width));
      } else {
        if (header_.auto_increment >= 0x7FFFFFFF)
          ThrowGeneral(EngineMessage("Table is full.", db_path_, "No auto-increment values left."));
        EncodeFlippedInt(int64_t{header_.auto_increment} + 1, 4, out);
      }
      continue;
    }
    if (IsBlobType(def.type)) {
      std::string payload;
      try {
        payload = BlobPayloadOf(def, record[i], code_page_);
      } catch (const EngineError& e) {
        throw e.WithContext(kTableContext, db_path_);
      }
      if (!payload.empty()) p.blobs.emplace_back(static_cast<int>(i), std::move(payload));
      continue;
    }
    EncodeTableField(def, s.width, record[i], code_page_, out, db_path_);
  }
  return p;
}

BlobFile& ParadoxTable::Blobs() {
  if (!mb_) mb_ = BlobFile::Create(mb_path_);
  return *mb_;
}

void ParadoxTable::CommitBlobs(PreparedRecord& prepared, const char* old_record) {
  for (auto& [field, payload] : prepared.blobs) {
    const FieldDef& def = fields_[static_cast<size_t>(field)];
    const FieldSlot& s = slots_[static_cast<size_t>(field)];
    char* out = prepared.bytes.data() + s.offset;
    const size_t leader = static_cast<size_t>(s.width - kBlobTrailerSize);
    if (old_record) {
      // An unchanged blob keeps its place in the blob file.
      std::string old;
      try {
        old = StoredBlob(field, old_record + s.offset);
      } catch (const EngineError&) {
        old.clear();
      }
      if (old == payload) {
        std::memcpy(out, old_record + s.offset, static_cast<size_t>(s.width));
        continue;
      }
    }
    BlobTrailer t;
    t.length = static_cast<uint32_t>(payload.size());
    if (payload.size() <= leader) {
      std::memcpy(out, payload.data(), payload.size());
    } else {
      t = Blobs().Write(payload);
      // The leader carries the first bytes of the value (for graphics and
      // OLE objects, of the payload after its prefix).
      const bool prefixed = def.type == FieldType::kGraphic || def.type == FieldType::kOle;
      const size_t from = prefixed ? kGraphicPrefixSize : 0;
      std::memcpy(out, payload.data() + from, std::min(leader, payload.size() - from));
    }
    EncodeBlobTrailer(t, out + leader);
  }
}

// Frees the blob-file space of a record's blobs, except those `keep_from`
// (the record replacing it) still refers to.
void ParadoxTable::FreeBlobs(const char* record, const std::string* keep_from) {
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (!IsBlobType(fields_[i].type)) continue;
    const FieldSlot& s = slots_[i];
    const size_t trailer_at = static_cast<size_t>(s.offset + s.width - kBlobTrailerSize);
    const BlobTrailer t = DecodeBlobTrailer(record + trailer_at);
    if (t.offset == 0 || !mb_) continue;
    if (keep_from && std::memcmp(keep_from->data() + trailer_at, record + trailer_at,
                                 kBlobTrailerSize) == 0)
      continue;
    if (mode_ != OpenMode::kReadOnly) mb_->Free(t);
  }
}

RecordPosition ParadoxTable::InsertBytes(const char* bytes, size_t* chain_at) {
  // Find where the record goes: in the block holding its predecessor.
  uint16_t block = 0;
  size_t at = 0;  // chain index of `block`
  int slot = 0;
  if (!chain_.empty()) {
    if (keyed()) {
      const size_t idx = chain_at ? FirstBlockNotBelowFrom(bytes, key_field_count_, *chain_at)
                                  : FirstBlockNotBelow(bytes, key_field_count_);
      at = idx == 0 ? 0 : idx - 1;
      block = chain_[at];
      slot = SlotNotBelow(block, bytes, key_field_count_);
    } else {
      at = chain_.size() - 1;
      block = chain_.back();
      slot = BlockCount(block);
    }
  }
  if (block == 0) {
    block = AllocateBlock();
    BlockHeader h = BlockHead(block);
    h.next = h.prev = 0;
    SetBlockHead(block, h);
    chain_.assign(1, block);
    ChainChanged();
    index_.Invalidate();
  }
  const size_t rs = static_cast<size_t>(record_size_);
  int count = BlockCount(block);
  if (count >= capacity_) {
    const bool last_block = at + 1 == chain_.size();
    const uint16_t added = AllocateBlock();
    LinkAfter(at, added);
    if (!keyed() || (last_block && slot == count)) {
      // Appending at the end of the table: a new block, no split.
      block = added;
      slot = 0;
      count = 0;
      ++at;
    } else {
      // Split: the upper half of the records moves to the new block.
      const int move = count / 2;
      const int stay = count - move;
      std::memcpy(RecordData(added, 0), RecordData(block, stay), static_cast<size_t>(move) * rs);
      std::memset(RecordData(block, stay), 0, static_cast<size_t>(move) * rs);
      SetBlockCount(added, move);
      SetBlockCount(block, stay);
      if (slot > stay) {
        block = added;
        slot -= stay;
        ++at;
      }
      count = BlockCount(block);
    }
  }
  char* dest = RecordData(block, slot);
  std::memmove(dest + rs, dest, static_cast<size_t>(count - slot) * rs);
  std::memcpy(dest, bytes, rs);
  SetBlockCount(block, count + 1);
  ++record_count_;
  indexes_stale_ = true;
  // The blocks after this one start one record later (a changed chain has
  // dropped the ordinals already).
  if (ordinals_valid_)
    for (size_t j = at + 1; j < chain_start_.size(); ++j) ++chain_start_[j];
  if (chain_at) *chain_at = at;
  return RecordPosition{block, static_cast<uint16_t>(slot)};
}

void ParadoxTable::RemoveAt(RecordPosition p) {
  const size_t rs = static_cast<size_t>(record_size_);
  const int count = BlockCount(p.block);
  char* at = RecordData(p.block, p.slot);
  std::memmove(at, at + rs, static_cast<size_t>(count - p.slot - 1) * rs);
  std::memset(RecordData(p.block, count - 1), 0, rs);
  SetBlockCount(p.block, count - 1);
  --record_count_;
  indexes_stale_ = true;
  if (count == 1) {
    ordinals_valid_ = false;
    ReleaseEmptyBlock(p.block);
  } else if (ordinals_valid_) {
    // Deleting row after row through a cursor asks for ordinals after each
    // one: kept up to date here rather than counted again over every block.
    for (size_t j = static_cast<size_t>(ChainIndex(p.block)) + 1; j < chain_start_.size(); ++j)
      --chain_start_[j];
  }
}

// Takes an emptied block out of the chain.
void ParadoxTable::ReleaseEmptyBlock(uint16_t b) {
  const size_t rs = static_cast<size_t>(record_size_);
  indexes_stale_ = true;
  if (chain_.size() == 1) {
    // The table is empty again: back to a header-only file, as Paradox
    // leaves an empty table.
    chain_.clear();
    data_.clear();
    header_.total_blocks = 0;
    header_.first_free_block = 0;
    ClearDirtyBlocks();
    ChainChanged();
    index_.Invalidate();
    return;
  }
  if (b == 1) {
    // Block 1 never becomes free: a neighbour's records move into it and
    // the neighbour is freed instead.
    const BlockHeader h = BlockHead(1);
    const uint16_t donor = h.next ? h.next : h.prev;
    const int n = BlockCount(donor);
    std::memcpy(RecordData(1, 0), RecordData(donor, 0), static_cast<size_t>(n) * rs);
    SetBlockCount(1, n);
    Unlink(donor);
    FreeBlock(donor);
    return;
  }
  Unlink(b);
  FreeBlock(b);
}

// Checks that the table may be written and, before its first change, takes
// empty blocks (which Paradox does not leave in a chain) out of the chain,
// so that every chain block has a first key to search by.
void ParadoxTable::PrepareWrite() {
  CheckWritable();
  if (write_prepared_) return;
  write_prepared_ = true;
  for (size_t i = 0; i < chain_.size();) {
    if (BlockCount(chain_[i]) > 0) {
      ++i;
      continue;
    }
    ReleaseEmptyBlock(chain_[i]);
    dirty_ = true;
  }
}

void ParadoxTable::NoteAutoIncrement(const std::string& bytes) {
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (fields_[i].type != FieldType::kAutoInc) continue;
    const char* v = bytes.data() + slots_[i].offset;
    if (IsAllZero(v, 4)) continue;
    const int64_t n = DecodeFlippedInt(v, 4);
    if (n > static_cast<int64_t>(header_.auto_increment))
      header_.auto_increment = static_cast<uint32_t>(n);
  }
}

RecordPosition ParadoxTable::Insert(const Record& record) {
  PrepareWrite();
  PreparedRecord p = Prepare(record, nullptr);
  if (keyed() && FindBytes(p.bytes.data(), key_field_count_))
    throw EngineError(EngineErrorKind::kKeyViolation, "Key violation.");
  CheckUnique(p.bytes.data(), nullptr);
  if (header_.first_free_block == 0 && header_.total_blocks == 0xFFFF)
    ThrowGeneral(EngineMessage("Table is full.", db_path_));
  CommitBlobs(p, nullptr);
  const RecordPosition pos = InsertBytes(p.bytes.data());
  NoteUnique(p.bytes.data(), +1);
  NoteAutoIncrement(p.bytes);
  dirty_ = true;
  if (auto_flush_) Flush();
  return pos;
}

RecordPosition ParadoxTable::Update(RecordPosition position, const Record& record) {
  PrepareWrite();
  CheckPosition(position);
  const std::string old(RecordData(position.block, position.slot), static_cast<size_t>(record_size_));
  PreparedRecord p = Prepare(record, old.data());
  const bool same_key = !keyed() || CompareKeys(old.data(), p.bytes.data(), key_field_count_) == 0;
  if (!same_key && FindBytes(p.bytes.data(), key_field_count_))
    throw EngineError(EngineErrorKind::kKeyViolation, "Key violation.");
  CheckUnique(p.bytes.data(), old.data());
  NoteUnique(old.data(), -1);
  NoteUnique(p.bytes.data(), +1);
  CommitBlobs(p, old.data());
  FreeBlobs(old.data(), &p.bytes);
  RecordPosition result = position;
  if (same_key) {
    NoteInPlaceChange(old.data(), p.bytes.data());
    std::memcpy(RecordData(position.block, position.slot), p.bytes.data(), p.bytes.size());
    MarkDirty(position.block);
  } else {
    RemoveAt(position);
    result = InsertBytes(p.bytes.data());
  }
  NoteAutoIncrement(p.bytes);
  dirty_ = true;
  if (auto_flush_) Flush();
  return result;
}

void ParadoxTable::UpdateFields(RecordPosition position,
                                const std::vector<std::pair<int, Value>>& values) {
  PrepareWrite();
  CheckPosition(position);
  char* record = RecordData(position.block, position.slot);
  std::string bytes(record, static_cast<size_t>(record_size_));
  for (const auto& [field, value] : values) {
    if (field < 0 || static_cast<size_t>(field) >= fields_.size())
      throw EngineError(EngineErrorKind::kFieldNotFound,
                        "Field not found in table.\nTable: " + db_path_);
    const FieldDef& def = fields_[static_cast<size_t>(field)];
    if (field < key_field_count_ || IsBlobType(def.type) || def.type == FieldType::kAutoInc)
      ThrowGeneral(EngineMessage("Field " + def.name + " cannot be changed in place.", db_path_));
    const FieldSlot& s = slots_[static_cast<size_t>(field)];
    std::memset(bytes.data() + s.offset, 0, static_cast<size_t>(s.width));
    EncodeTableField(def, s.width, value, code_page_, bytes.data() + s.offset, db_path_);
  }
  CheckUnique(bytes.data(), record);
  NoteUnique(record, -1);
  NoteUnique(bytes.data(), +1);
  NoteInPlaceChange(record, bytes.data());
  std::memcpy(record, bytes.data(), bytes.size());
  MarkDirty(position.block);
  dirty_ = true;
  if (auto_flush_) Flush();
}

void ParadoxTable::Delete(RecordPosition position) {
  PrepareWrite();
  CheckPosition(position);
  DeleteAt(position);
  if (auto_flush_) Flush();
}

void ParadoxTable::DeleteAt(RecordPosition position) {
  const std::string old(RecordData(position.block, position.slot), static_cast<size_t>(record_size_));
  FreeBlobs(old.data(), nullptr);
  RemoveAt(position);
  NoteUnique(old.data(), -1);
  dirty_ = true;
}

void ParadoxTable::DeleteOrdinals(const std::vector<uint64_t>& ordinals) {
  PrepareWrite();
  if (ordinals.empty()) return;
  if (ordinals.back() >= record_count_)
    ThrowGeneral(EngineMessage("Could not find record.", db_path_,
                               "Record number " + std::to_string(ordinals.back()) + " of " +
                                   std::to_string(record_count_)));
  // The places of the records, found in one walk of the chain.
  std::vector<RecordPosition> positions;
  positions.reserve(ordinals.size());
  uint64_t first = 0;
  size_t next = 0;
  for (const uint16_t b : chain_) {
    const uint64_t count = static_cast<uint64_t>(BlockCount(b));
    while (next < ordinals.size() && ordinals[next] < first + count)
      positions.push_back(RecordPosition{b, static_cast<uint16_t>(ordinals[next++] - first)});
    first += count;
    if (next == ordinals.size()) break;
  }
  // In table order: a record's slot has moved down by the records deleted
  // before it in its block; when block 1 empties, the records of the block
  // after it move into it (ReleaseEmptyBlock) and are found there.
  uint16_t current = 0, moved_into_first = 0;
  int removed = 0;
  for (RecordPosition p : positions) {
    if (p.block == moved_into_first) p.block = 1;
    if (p.block != current) {
      current = p.block;
      removed = 0;
    }
    p.slot = static_cast<uint16_t>(p.slot - removed);
    const bool donor_moves = p.block == 1 && BlockCount(1) == 1 && chain_.size() > 1;
    const uint16_t donor = donor_moves ? BlockHead(1).next : 0;
    DeleteAt(p);
    ++removed;
    if (donor != 0) {
      moved_into_first = donor;
      current = 0;
    }
  }
  if (auto_flush_) Flush();
}

bool ParadoxTable::CanCopyRecordsFrom(const ParadoxTable& source,
                                      const std::vector<int>& field_map) const {
  if (&source == this || field_map.size() != fields_.size()) return false;
  if (source.code_page_ != code_page_) return false;
  for (size_t i = 0; i < fields_.size(); ++i) {
    const int from = field_map[i];
    if (from < 0) continue;
    if (static_cast<size_t>(from) >= source.fields_.size()) return false;
    const FieldDef& a = fields_[i];
    const FieldDef& b = source.fields_[static_cast<size_t>(from)];
    if (a.type != b.type || slots_[i].width != source.slots_[static_cast<size_t>(from)].width)
      return false;
  }
  return true;
}

void ParadoxTable::CopyRecordsFrom(const ParadoxTable& source,
                                   const std::vector<RecordPosition>& positions,
                                   const std::vector<int>& field_map) {
  if (!CanCopyRecordsFrom(source, field_map))
    ThrowGeneral(EngineMessage("The records of " + source.path() + " do not fit this table.",
                               db_path_));
  PrepareWrite();
  if (positions.empty()) return;
  const size_t rs = static_cast<size_t>(record_size_);
  const size_t n = positions.size();
  // The records as this table stores them; blob fields still refer to the
  // source's blob file until they are written.
  std::string records(n * rs, '\0');
  for (size_t r = 0; r < n; ++r) {
    source.CheckPosition(positions[r]);
    const char* from = source.RecordData(positions[r].block, positions[r].slot);
    char* out = records.data() + r * rs;
    for (size_t i = 0; i < fields_.size(); ++i) {
      if (field_map[i] < 0) continue;
      const FieldSlot& s = source.slots_[static_cast<size_t>(field_map[i])];
      std::memcpy(out + slots_[i].offset, from + s.offset, static_cast<size_t>(s.width));
    }
  }
  auto record = [&](size_t r) { return records.data() + r * rs; };

  std::vector<size_t> order(n);
  for (size_t r = 0; r < n; ++r) order[r] = r;
  if (keyed()) {
    const int k = key_field_count_;
    // Rows usually come in key order already (from a table with the same
    // key); otherwise they are sorted, so that each search starts where
    // the one before ended.
    bool ascending = true;
    for (size_t r = 1; r < n && ascending; ++r) ascending = CompareKeys(record(r - 1), record(r), k) < 0;
    if (!ascending) {
      std::stable_sort(order.begin(), order.end(),
                       [&](size_t a, size_t b) { return CompareKeys(record(a), record(b), k) < 0; });
      for (size_t r = 1; r < n; ++r)
        if (CompareKeys(record(order[r - 1]), record(order[r]), k) == 0)
          throw EngineError(EngineErrorKind::kKeyViolation, "Key violation.");
    }
    size_t from = 0;
    for (const size_t r : order)
      if (FindBytes(record(r), k, &from))
        throw EngineError(EngineErrorKind::kKeyViolation, "Key violation.");
  }
  CheckUniqueAmong(n, record);
  if (header_.first_free_block == 0 && header_.total_blocks == 0xFFFF)
    ThrowGeneral(EngineMessage("Table is full.", db_path_));

  // Room for the blocks the records will take (blocks split half full), so
  // that the table's memory is moved at most once.
  const size_t per_block = static_cast<size_t>(std::max(1, capacity_ / 2));
  data_.reserve(std::min<size_t>(0xFFFF, header_.total_blocks + n / per_block + 1) *
                static_cast<size_t>(block_size_));
  const uint32_t count_before = record_count_;
  const bool auto_flush = auto_flush_;
  auto_flush_ = false;
  size_t placed = 0;
  std::string bytes(rs, '\0');
  try {
    size_t chain_at = 0;
    for (const size_t r : order) {
      std::memcpy(bytes.data(), record(r), rs);
      const char* from = source.RecordData(positions[r].block, positions[r].slot);
      for (size_t i = 0; i < fields_.size(); ++i) {
        const FieldSlot& s = slots_[i];
        char* out = bytes.data() + s.offset;
        if (fields_[i].type == FieldType::kAutoInc && IsAllZero(out, 4)) {
          if (header_.auto_increment >= 0x7FFFFFFF)
            ThrowGeneral(EngineMessage("Table is full.", db_path_, "No auto-increment values left."));
          EncodeFlippedInt(int64_t{header_.auto_increment} + 1, 4, out);
          continue;
        }
        if (field_map[i] < 0 || !IsBlobType(fields_[i].type)) continue;
        // A blob kept in the source's blob file gets a place in ours.
        const size_t leader = static_cast<size_t>(s.width - kBlobTrailerSize);
        if (DecodeBlobTrailer(out + leader).offset == 0) continue;
        const int source_field = field_map[i];
        const std::string payload = source.StoredBlob(
            source_field, from + source.slots_[static_cast<size_t>(source_field)].offset);
        EncodeBlobTrailer(Blobs().Write(payload), out + leader);
      }
      InsertBytes(bytes.data(), &chain_at);
      NoteUnique(bytes.data(), +1);
      NoteAutoIncrement(bytes);
      dirty_ = true;
      ++placed;
    }
  } catch (...) {
    // Take the records placed so far out again.
    if (keyed()) {
      for (size_t j = 0; j < placed; ++j)
        if (const auto p = FindBytes(record(order[j]), key_field_count_)) Delete(*p);
    } else {
      while (record_count_ > count_before) Delete(PositionAt(record_count_ - 1));
    }
    auto_flush_ = auto_flush;
    if (auto_flush_) Flush();
    throw;
  }
  auto_flush_ = auto_flush;
  if (auto_flush_) Flush();
}

// ---------------------------------------------------------------- flushing

void ParadoxTable::Flush() {
  if (!dirty_ || closed_) return;
  // The blobs first, so that no record written refers to a blob not yet there.
  if (mb_) mb_->Flush();
  const uint64_t hs = header_.header_size;
  const uint64_t bs = static_cast<uint64_t>(block_size_);
  const std::vector<uint16_t> changed = SortedDirtyBlocks();
  // Neighbouring blocks lie side by side in memory and go out in one write.
  std::vector<std::pair<uint16_t, uint16_t>> runs;
  for (auto it = changed.begin(); it != changed.end();) {
    const uint16_t first = *it;
    uint16_t last = first;
    for (++it; it != changed.end() && *it == last + 1u; ++it) last = *it;
    const uint16_t start = std::max<uint16_t>(first, 1);
    const uint16_t end = std::min<uint16_t>(last, header_.total_blocks);
    if (start <= end) runs.emplace_back(start, end);
  }
  const uint64_t size = hs + header_.total_blocks * bs;
  // What the writes below change, announced at once (see SaveBeforeWrites).
  std::vector<ByteRange> ranges{{0, hs}};
  for (const auto& [start, end] : runs) ranges.push_back({hs + (start - 1u) * bs, (end - start + 1u) * bs});
  if (written_db_size_ > size) ranges.push_back({size, written_db_size_ - size});
  db_file_.SaveBeforeWrites(ranges);
  for (const auto& [start, end] : runs)
    db_file_.WriteAt(hs + (start - 1u) * bs,
                     std::string_view(BlockData(start), size_t{end - start + 1u} * bs));
  if (written_db_size_ > size) db_file_.Truncate(size);
  written_db_size_ = size;

  header_.record_count = record_count_;
  header_.blocks_in_use = static_cast<uint16_t>(chain_.size());
  header_.first_block = chain_.empty() ? 0 : chain_.front();
  header_.last_block = chain_.empty() ? 0 : chain_.back();
  header_.change_count = static_cast<uint8_t>(header_.change_count + 1);
  if (header_.has_extension()) header_.update_time = UnixNow();
  db_file_.WriteAt(0, EncodeParadoxHeader(header_));
  ClearDirtyBlocks();
  if (keyed()) WriteIndex(changed);
  WriteSecondaryIndexes();
  dirty_ = false;
}

// ---------------------------------------------------------------- secondary indexes

IndexedTable ParadoxTable::Indexed() const {
  IndexedTable t;
  t.db_path = db_path_;
  t.header = &header_;
  for (const FieldSlot& s : slots_) {
    t.offsets.push_back(s.offset);
    t.widths.push_back(s.width);
  }
  t.key_field_count = key_field_count_;
  t.collation = collation_;
  t.code_page = code_page_;
  return t;
}

void ParadoxTable::WriteSecondaryIndexes() {
  if (indexes_.empty()) return;
  std::vector<BlockRows> rows;
  if (indexes_stale_) {
    rows.reserve(chain_.size());
    for (const uint16_t b : chain_) rows.push_back(BlockRows{b, RecordData(b, 0), BlockCount(b)});
  }
  IndexCounters c;
  c.restructure_count = header_.raw.size() > 0x2E ? static_cast<uint8_t>(header_.raw[0x2E]) : 1;
  c.primary_change_count = px_header_.index_change_count;
  c.auto_increment = header_.auto_increment;
  c.has_auto_increment = std::any_of(fields_.begin(), fields_.end(), [](const FieldDef& f) {
    return f.type == FieldType::kAutoInc;
  });
  c.update_time = header_.update_time;
  IndexScratch scratch;  // freed once every index is written
  for (const auto& index : indexes_) {
    if (indexes_stale_)
      index->Write(rows, c, scratch);
    else
      index->Refresh(c);
  }
  indexes_stale_ = false;
}

void ParadoxTable::NoteInPlaceChange(const char* old_record, const char* new_record) {
  if (indexes_stale_) return;
  for (const auto& index : indexes_)
    for (const int f : index->fields()) {
      const FieldSlot& s = slots_[static_cast<size_t>(f)];
      if (std::memcmp(old_record + s.offset, new_record + s.offset, static_cast<size_t>(s.width)) != 0) {
        indexes_stale_ = true;
        return;
      }
    }
}

std::vector<std::string> ParadoxTable::SecondaryIndexPaths() const {
  std::vector<std::string> out;
  for (const auto& index : indexes_) out.push_back(index->path());
  return out;
}

void ParadoxTable::AddSecondaryIndex(const SecondaryIndexDef& def) {
  PrepareWrite();
  Flush();
  indexes_.push_back(SecondaryIndex::Create(def, Indexed()));
  unique_values_built_ = false;
  try {
    if (indexes_.back()->unique()) {
      EnsureUniqueValues();
      for (const auto& [value, rows] : unique_values_.back())
        if (rows > 1) throw EngineError(EngineErrorKind::kKeyViolation, "Key violation.");
    }
    indexes_stale_ = true;
    WriteSecondaryIndexes();
  } catch (...) {
    // No file of the index stays behind.
    const std::string x = indexes_.back()->path();
    indexes_.pop_back();
    unique_values_built_ = false;
    RemoveSecondaryIndexFiles(x);
    throw;
  }
}

bool ParadoxTable::HasUniqueIndex() const {
  return std::any_of(indexes_.begin(), indexes_.end(), [](const auto& i) { return i->unique(); });
}

void ParadoxTable::CheckUniqueValues(const std::vector<Record>& records) {
  if (!HasUniqueIndex()) return;
  std::vector<std::string> bytes;
  bytes.reserve(records.size());
  for (const Record& r : records) bytes.push_back(Prepare(r, nullptr).bytes);
  CheckUniqueAmong(bytes.size(), [&](size_t i) { return bytes[i].data(); });
}

void ParadoxTable::EnsureUniqueValues() {
  if (unique_values_built_) return;
  unique_values_.assign(indexes_.size(), {});
  for (size_t i = 0; i < indexes_.size(); ++i) {
    if (!indexes_[i]->unique()) continue;
    ForEachPosition([&](RecordPosition p) {
      if (const auto v = indexes_[i]->UniqueValue(RecordData(p.block, p.slot))) ++unique_values_[i][*v];
      return true;
    });
  }
  unique_values_built_ = true;
}

void ParadoxTable::CheckUnique(const char* record, const char* skip) {
  if (!HasUniqueIndex()) return;
  EnsureUniqueValues();
  // The record replaced does not count against its successor.
  if (skip) NoteUnique(skip, -1);
  try {
    CheckUniqueAmong(1, [&](size_t) { return record; });
  } catch (...) {
    if (skip) NoteUnique(skip, +1);
    throw;
  }
  if (skip) NoteUnique(skip, +1);
}

template <typename RecordAt>
void ParadoxTable::CheckUniqueAmong(size_t n, RecordAt record) {
  if (!HasUniqueIndex()) return;
  EnsureUniqueValues();
  for (size_t i = 0; i < indexes_.size(); ++i) {
    if (!indexes_[i]->unique()) continue;
    std::unordered_map<std::string, uint32_t> seen;
    for (size_t r = 0; r < n; ++r) {
      const auto v = indexes_[i]->UniqueValue(record(r));
      if (!v) continue;
      const auto it = unique_values_[i].find(*v);
      if ((it != unique_values_[i].end() && it->second > 0) || ++seen[*v] > 1)
        throw EngineError(EngineErrorKind::kKeyViolation,
                          EngineMessage("Key violation.", indexes_[i]->path()));
    }
  }
}

void ParadoxTable::NoteUnique(const char* record, int delta) {
  if (!unique_values_built_) return;
  for (size_t i = 0; i < indexes_.size(); ++i) {
    if (!indexes_[i]->unique()) continue;
    const auto v = indexes_[i]->UniqueValue(record);
    if (!v) continue;
    uint32_t& n = unique_values_[i][*v];
    n = static_cast<uint32_t>(static_cast<int64_t>(n) + delta);
  }
}

ParadoxHeader ParadoxTable::NewIndexHeader() const {
  ParadoxHeader x;
  x.file_type = static_cast<uint8_t>(ParadoxFileType::kPrimaryIndex);
  x.version = header_.version;
  const int index_block =
      block_size_ <= kLargestIndexBlock ? block_size_ : kIndexBlockForLargeTables;
  x.block_size_kb = static_cast<uint8_t>(index_block / 1024);
  x.record_size = static_cast<uint16_t>(key_size_ + kIndexEntryTrailerSize);
  x.fields.assign(header_.fields.begin(), header_.fields.begin() + key_field_count_);
  x.table_name = FromUtf8(Utf8FromPath(PathFromUtf8(px_path_).filename()), code_page_);
  x.sort_order_id = header_.sort_order_id;
  x.auto_increment = 1;
  x.header_size = RequiredHeaderSize(x);
  return x;
}

void ParadoxTable::WriteIndex(const std::vector<uint16_t>& changed) {
  const bool fresh = !px_file_.is_open();
  if (fresh) {
    px_header_ = NewIndexHeader();
    px_file_ = ParadoxFile::Create(px_path_);
    has_px_header_ = true;
    written_px_blocks_ = 0;
    index_.Invalidate();
  }
  const size_t key = static_cast<size_t>(key_size_);
  if (!index_.built()) {
    std::vector<IndexEntry> level1;
    level1.reserve(chain_.size());
    for (uint16_t b : chain_)
      level1.push_back(IndexEntry{std::string(RecordData(b, 0), key), b,
                                  static_cast<uint32_t>(BlockCount(b))});
    index_.Build(std::move(level1), key_size_, px_header_.block_size());
  } else {
    // Blocks that left the chain have no entry any more and are skipped.
    for (uint16_t b : changed)
      if (b <= header_.total_blocks)
        index_.Update(b, std::string_view(RecordData(b, 0), key), static_cast<uint32_t>(BlockCount(b)));
  }
  index_.WriteChanges(px_file_, px_header_, &written_px_blocks_);
  // 0x2C moves with the table's change count, keeping the distance between
  // the two that the file had; secondary indexes record it as the state of
  // the primary index they were last brought up to date with.
  px_header_.index_change_count =
      fresh ? header_.change_count : static_cast<uint8_t>(px_header_.index_change_count + 1);
  px_file_.WriteAt(0, EncodeParadoxHeader(px_header_));
}

void ParadoxTable::CheckIndex() const {
  if (!keyed()) return;
  auto fail = [&](const std::string& file, const std::string& what) {
    ThrowCorrupt(kCorruptIndexText, file, what);
  };
  const char* previous = nullptr;
  uint32_t ordinal = 0;
  for (auto p = First(); p; p = Next(*p), ++ordinal) {
    const char* current = RecordData(p->block, p->slot);
    if (previous && CompareKeys(previous, current, key_field_count_) >= 0)
      fail(db_path_, "Record " + std::to_string(ordinal) + " is out of key order");
    previous = current;
  }
  if (!has_px_header_) {
    if (record_count_ == 0) return;
    fail(px_path_, "The primary index is missing");
  }
  const std::string px = ParadoxFile::Open(px_path_, false).ReadAll();
  const ParadoxHeader h = DecodeParadoxHeader(px, px_path_);
  const std::vector<IndexEntry> entries = ReadIndexLevel1(h, px, px_path_);
  if (entries.size() != chain_.size())
    fail(px_path_, "The index has " + std::to_string(entries.size()) + " level-1 entries for " +
                       std::to_string(chain_.size()) + " data blocks");
  const size_t key = static_cast<size_t>(key_size_);
  for (size_t i = 0; i < chain_.size(); ++i) {
    const uint16_t b = chain_[i];
    const IndexEntry& e = entries[i];
    if (e.child != b)
      fail(px_path_, "Level-1 entry " + std::to_string(i) + " names block " +
                         std::to_string(e.child) + ", the chain has block " + std::to_string(b));
    if ((static_cast<uint32_t>(BlockCount(b)) & 0xFFFF) != e.count)
      fail(px_path_, "Level-1 entry " + std::to_string(i) + " counts " + std::to_string(e.count) +
                         " records, block " + std::to_string(b) + " holds " +
                         std::to_string(BlockCount(b)));
    if (BlockCount(b) > 0 && std::memcmp(e.key.data(), RecordData(b, 0), key) != 0)
      fail(px_path_, "Level-1 entry " + std::to_string(i) +
                         " does not hold the first key of block " + std::to_string(b));
  }
}

}  // namespace dalimor
