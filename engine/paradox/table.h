#pragma once
// A Paradox table: the .DB file with, beside it, its primary index (.PX) and
// blob file (.MB).  Reads tables of levels 3.0 to 7; creates level-7 tables
// and writes keyed and unkeyed tables so that other Paradox software accepts
// them: records in key order across the block chain, blocks split and freed
// the way Paradox does, header counters kept, the .PX rebuilt from the data
// chain, memos and blobs in the .MB.  The format is described in
// docs/paradox_format.md.
//
// The table keeps the contents of its .DB in memory; changes made to the
// files by other programs, or through another ParadoxTable object, after
// Open are not seen, and two objects writing one table overwrite each
// other's changes (kShared does not guard against that; kExclusive does).
// Not thread-safe.

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/paradox/collation.h"
#include "engine/paradox/blob.h"
#include "engine/paradox/block.h"
#include "engine/paradox/file.h"
#include "engine/paradox/header.h"
#include "engine/paradox/index.h"
#include "engine/paradox/secondary_index.h"
#include "engine/engine_error.h"
#include "engine/value.h"
#include "platform/code_page.h"

namespace dalimor {

enum class OpenMode {
  kReadOnly,   // no writes; a shared lock on the .DB
  kShared,     // reads and writes; a shared lock on the .DB
  kExclusive,  // reads and writes; an exclusive lock, no other open allowed
};

struct OpenOptions {
  // The code page of the text, instead of the one the header names (which
  // can be wrong, and is absent in level 3.x tables).
  std::optional<CodePage> code_page;
};

struct CreateOptions {
  int code_page = 1250;
  std::string sort_order_name = "anczechw";
  uint8_t sort_order_id = 83;
  // 1024, 2048, 4096, 16384 or 32768.
  int block_size = 2048;
};

// Where a record lives: its data block and its slot in the block.
// Positions stay valid until the next change of the table.
struct RecordPosition {
  uint16_t block = 0;
  uint16_t slot = 0;
  friend bool operator==(const RecordPosition&, const RecordPosition&) = default;
};

// What a table's header tells without its records.
struct TableDescription {
  std::vector<FieldDef> fields;
  int key_field_count = 0;
  uint32_t record_count = 0;
};

class ParadoxTable {
 public:
  // Opens a table.  `path` names the .DB file; its extension may be left
  // out, and the file and its siblings (.PX, .MB) are found without regard
  // to letter case.  Throws EngineError: kFileNotFound ("Table does not
  // exist."), kTableBusy ("Table is busy.") when the lock is taken,
  // kCorrupt naming the file for a damaged .DB, .PX or .MB header or block
  // chain, kUnsupported for encrypted tables, kIo for system errors.
  static std::unique_ptr<ParadoxTable> Open(const std::string& path, OpenMode mode,
                                            const OpenOptions& options = {});
  // The fields and counts from the header alone, for a reader that needs
  // no records.  Throws as Open does for the header.
  static TableDescription Describe(const std::string& path, const OpenOptions& options = {});

  // Creates an empty level-7 table (replacing a table of that name) and
  // opens it exclusively.  The first `key_field_count` fields form the
  // primary key (0 = unkeyed).  Throws EngineError (kInvalidDefinition) for
  // no fields, more than 255, an unknown type, a bad size, an empty,
  // over-long or duplicate name, a key over more fields than there are or
  // over a blob field, a record too big for the block size, or an unknown
  // code page or block size; kGeneral when a secondary index of the old
  // table is in the way; kIo for system errors.
  static std::unique_ptr<ParadoxTable> Create(const std::string& path,
                                              const std::vector<FieldDef>& fields,
                                              int key_field_count,
                                              const CreateOptions& options = {});

  // Flushes pending changes; errors are swallowed (call Close to see them).
  ~ParadoxTable();
  ParadoxTable(const ParadoxTable&) = delete;
  ParadoxTable& operator=(const ParadoxTable&) = delete;

  // Flushes and releases the files and the lock.  Reading stays possible,
  // writing throws afterwards.
  void Close();

  // --- Description ---
  const std::string& path() const { return db_path_; }
  const std::vector<FieldDef>& fields() const { return fields_; }
  // The index of the field of that name (compared without regard to ASCII
  // case), or -1.
  int FieldIndex(std::string_view name) const;
  int key_field_count() const { return key_field_count_; }
  bool keyed() const { return key_field_count_ > 0; }
  uint32_t record_count() const { return record_count_; }
  // The code page number stored in the header (0 when there is none) and
  // the one text is converted with.
  int code_page() const { return header_.code_page; }
  CodePage text_code_page() const { return code_page_; }
  const std::string& sort_order_name() const { return header_.sort_order_name; }
  uint8_t sort_order_id() const { return header_.sort_order_id; }
  // Header version byte: 3 = 3.0, 4 = 3.5, 5-9 = 4.x, 10-11 = 5.x, 12 = 7.
  int version() const { return header_.version; }
  int block_size() const { return header_.block_size(); }
  OpenMode mode() const { return mode_; }
  // Last auto-increment value handed out.
  uint32_t last_auto_increment() const { return header_.auto_increment; }
  // The .DB header as it will be written next (counters of the last Flush).
  const ParadoxHeader& header() const { return header_; }

  // --- Reading, in table order (keyed tables: key order) ---
  std::optional<RecordPosition> First() const;
  std::optional<RecordPosition> Last() const;
  std::optional<RecordPosition> Next(RecordPosition position) const;
  std::optional<RecordPosition> Prior(RecordPosition position) const;
  // The record at an ordinal (0-based) and back.  Throw EngineError
  // (kGeneral) for an ordinal or position that holds no record.
  RecordPosition PositionAt(uint32_t ordinal) const;
  uint32_t OrdinalOf(RecordPosition position) const;
  // One record, or one field of it.  Throw EngineError: kGeneral for a
  // position without a record, kCorrupt when a blob cannot be read.
  Record Read(RecordPosition position) const;
  Value ReadField(RecordPosition position, int field) const;
  // Calls `visit` with the position of each record in table order, until
  // it returns false; returns false then.  No record may be inserted or
  // deleted meanwhile (UpdateFields may run).  With such a position and a valid field index, ReadKnownField
  // reads a field without checking either again.
  template <typename Visit>
  bool ForEachPosition(Visit&& visit) const {
    for (const uint16_t b : chain_) {
      const int n = BlockCount(b);
      for (int s = 0; s < n; ++s)
        if (!visit(RecordPosition{b, static_cast<uint16_t>(s)})) return false;
    }
    return true;
  }
  Value ReadKnownField(RecordPosition position, int field) const { return DecodeField(position, field); }
  std::vector<Record> ReadAll() const;

  // --- Keyed search (keyed tables only) ---
  // `key` holds values for the first 1..key_field_count() key fields.
  // Find: the first record whose leading key fields equal them.
  // LowerBound: the first record whose leading key fields are >= them.
  // Throw EngineError (kGeneral) for an unkeyed table or unusable values.
  std::optional<RecordPosition> Find(const Record& key) const;
  std::optional<RecordPosition> LowerBound(const Record& key) const;

  // --- Writing ---
  // Each change is written to the files at once (Flush) unless auto-flush
  // is off.  They throw EngineError: kGeneral for a read-only or closed
  // table, a record with the wrong number of values or an unusable value,
  // "Table is full."; kUnsupported when the header names a code page the
  // engine does not know; kUnsupported or kCorrupt when a secondary index
  // cannot be maintained (its name is in the message); kKeyViolation ("Key violation.") when the
  // key exists, or a unique secondary index holds the value, in which case
  // nothing has changed.
  //
  // Insert: keyed tables put the record in key order, unkeyed ones append.
  // A NULL auto-increment field gets the next value; a given value is kept
  // (and raises the counter when higher).  Returns where the record is.
  RecordPosition Insert(const Record& record);
  // Replaces the record at `position`; a changed key moves it (delete +
  // insert).  A NULL auto-increment value keeps the old one.
  RecordPosition Update(RecordPosition position, const Record& record);
  // Sets some fields of the record at `position` in place, each pair a
  // field index and its value; the other fields and the record's place stay
  // (so positions stay valid).  For fields outside the key that are neither
  // blobs nor auto-increment; throws kGeneral for others, and as Update for
  // unusable values, changing nothing then.
  void UpdateFields(RecordPosition position, const std::vector<std::pair<int, Value>>& values);
  void Delete(RecordPosition position);
  // Deletes the records at the ordinals (ascending, no one twice), in
  // table order, as Delete one after the other would, but finds them all
  // in one walk instead of each by its key.  Throws EngineError (kGeneral)
  // for an ordinal past the last record, before any change.
  void DeleteOrdinals(const std::vector<uint64_t>& ordinals);

  // Copies records of `source` as they are stored, without decoding them:
  // this table's field i takes source field `field_map[i]`, or stays NULL
  // for -1 (an auto-increment field left NULL gets the next value).
  // CanCopyRecordsFrom tells whether the layouts allow it: every mapped
  // pair of the same type and size, both tables of the same code page.
  // CopyRecordsFrom inserts the records at `positions` (of `source`, which
  // must not be this table) all or none: when one of their keys is in the
  // table or twice among them, it throws kKeyViolation ("Key violation.")
  // and nothing has changed; on other errors the records placed so far are
  // taken out again.  Flushes once at the end when auto-flush is on.
  bool CanCopyRecordsFrom(const ParadoxTable& source, const std::vector<int>& field_map) const;
  void CopyRecordsFrom(const ParadoxTable& source, const std::vector<RecordPosition>& positions,
                       const std::vector<int>& field_map);

  // With auto-flush off, changes stay in memory until Flush (or Close), so
  // that many rows can be written with one rebuild of the primary index.
  void set_auto_flush(bool on) { auto_flush_ = on; }
  bool auto_flush() const { return auto_flush_; }
  // Writes changed blocks, the header and the primary index.  Throws
  // EngineError (kIo).
  void Flush();

  // --- Secondary indexes ---
  // Adds a maintained secondary index over the named fields and writes it
  // from the table's rows (pending changes are flushed first).  Throws
  // EngineError: kInvalidDefinition for an unknown or blob field, a taken
  // name or field, an unkeyed table; kKeyViolation when a unique index
  // would hold a value twice (no index is added then); as writes do.
  void AddSecondaryIndex(const SecondaryIndexDef& def);
  // Throws kKeyViolation when inserting `records` together would give a
  // unique secondary index a value twice, or one it holds; changes nothing.
  // Lets a caller that inserts many rows refuse them before the first.
  void CheckUniqueValues(const std::vector<Record>& records);
  // The maintained secondary indexes kept up to date by writes (tables
  // opened for writing only).
  std::vector<std::string> SecondaryIndexPaths() const;

  // Compares the primary index on disk with the data chain (each level-1
  // entry the first key, block and record count of its data block, upper
  // levels consistent) and checks that the records are in strictly
  // ascending key order.  Flush first.  Throws EngineError (kCorrupt).
  void CheckIndex() const;

 private:
  struct FieldSlot {
    int offset = 0;
    int width = 0;
  };
  struct PreparedRecord {
    std::string bytes;
    // Blob fields with a value: field index and the bytes to store.
    std::vector<std::pair<int, std::string>> blobs;
  };

  ParadoxTable() = default;
  // Finds the table file as Open does, opens and locks it, and reads its
  // header and fields.
  static std::unique_ptr<ParadoxTable> OpenHeader(const std::string& path, OpenMode mode,
                                                  const OpenOptions& options);
  // Reads the blocks and checks the chain.
  void Load();
  void LoadSiblings();

  // Blocks.
  char* BlockData(uint16_t block);
  const char* BlockData(uint16_t block) const;
  BlockHeader BlockHead(uint16_t block) const;
  void SetBlockHead(uint16_t block, const BlockHeader& head);
  int BlockCount(uint16_t block) const;
  void SetBlockCount(uint16_t block, int count);
  char* RecordData(uint16_t block, int slot);
  const char* RecordData(uint16_t block, int slot) const;
  uint16_t AllocateBlock();
  // Links `added` into the chain after the block at chain index `at`.
  void LinkAfter(size_t at, uint16_t added);
  void Unlink(uint16_t block);
  void FreeBlock(uint16_t block);
  // Call after chain_ changed; the block-to-index map is rebuilt lazily.
  void ChainChanged();
  int32_t ChainIndex(uint16_t block) const;
  void EnsureOrdinals() const;
  void MarkDirty(uint16_t block);
  std::vector<uint16_t> SortedDirtyBlocks() const;
  void ClearDirtyBlocks();
  void CheckPosition(RecordPosition position) const;

  // Keys.
  int CompareKeys(const char* a, const char* b, int fields) const;
  std::string EncodeKeyPrefix(const Record& key, int* fields) const;
  // First chain index whose first record's leading fields are >= key.
  size_t FirstBlockNotBelow(const char* key, int fields) const;
  // The same when the answer is known to be `from` or later: searches
  // forward from there in steps that double, then bisects.
  size_t FirstBlockNotBelowFrom(const char* key, int fields, size_t from) const;
  int SlotNotBelow(uint16_t block, const char* key, int fields) const;
  // With `from`, the search starts at that chain index (FirstBlockNotBelowFrom)
  // and leaves there the chain index it found.
  std::optional<RecordPosition> LowerBoundBytes(const char* key, int fields,
                                                size_t* from = nullptr) const;
  // The record whose leading key fields equal those of `key`, if any.
  std::optional<RecordPosition> FindBytes(const char* key, int fields,
                                          size_t* from = nullptr) const;

  // Records.
  PreparedRecord Prepare(const Record& record, const char* old_record) const;
  void CommitBlobs(PreparedRecord& prepared, const char* old_record);
  void FreeBlobs(const char* record, const std::string* keep_from);
  Value DecodeBlob(int field, const char* bytes) const;
  // One field of a record at a checked position and a valid field index.
  Value DecodeField(RecordPosition position, int field) const;
  std::string StoredBlob(int field, const char* bytes) const;
  // Places a prepared record.  A keyed table searches its place from chain
  // index `*chain_at` on when given (the place of a smaller key inserted
  // last) and leaves there the chain index of the record's block.
  RecordPosition InsertBytes(const char* bytes, size_t* chain_at = nullptr);
  void RemoveAt(RecordPosition position);
  // Delete without its checks and flush: the record, its blobs and its
  // unique values go.
  void DeleteAt(RecordPosition position);
  void CheckWritable() const;
  void PrepareWrite();
  void ReleaseEmptyBlock(uint16_t block);
  void NoteAutoIncrement(const std::string& bytes);

  // Secondary indexes.
  IndexedTable Indexed() const;
  void WriteSecondaryIndexes();
  bool HasUniqueIndex() const;
  void EnsureUniqueValues();
  // Throws kKeyViolation when `record` would give a unique index a value
  // it holds already (a record at `skip` does not count).
  void CheckUnique(const char* record, const char* skip);
  void NoteUnique(const char* record, int delta);
  // Marks the indexes stale when an in-place change alters an indexed value.
  void NoteInPlaceChange(const char* old_record, const char* new_record);
  // The same for the records record(0) .. record(n - 1) inserted together.
  template <typename RecordAt>
  void CheckUniqueAmong(size_t n, RecordAt record);

  // Files.
  void WriteIndex(const std::vector<uint16_t>& changed);
  ParadoxHeader NewIndexHeader() const;
  std::string SiblingPath(std::string_view extension) const;
  BlobFile& Blobs();

  OpenMode mode_ = OpenMode::kReadOnly;
  bool closed_ = false;
  std::string db_path_;
  std::string px_path_;
  std::string mb_path_;
  std::vector<std::unique_ptr<SecondaryIndex>> indexes_;
  // Why the table cannot be written, when one of its indexes cannot be kept.
  std::optional<EngineError> index_error_;
  // Per unique index (in indexes_ order, others empty): value -> rows.
  std::vector<std::unordered_map<std::string, uint32_t>> unique_values_;
  bool unique_values_built_ = false;
  // Whether rows were added, removed or moved, or indexed values changed,
  // since the indexes were last laid out (true until the first time).
  bool indexes_stale_ = true;
  ParadoxFile db_file_;
  ParadoxFile px_file_;
  std::unique_ptr<BlobFile> mb_;

  ParadoxHeader header_;
  ParadoxHeader px_header_;
  bool has_px_header_ = false;
  std::vector<FieldDef> fields_;
  std::vector<FieldSlot> slots_;
  int key_field_count_ = 0;
  int key_size_ = 0;
  int record_size_ = 0;
  int block_size_ = 0;
  int capacity_ = 0;
  CodePage code_page_ = CodePage::k437;
  // The header names a code page we have no table for; code_page_ is then a
  // guess, good enough for reading but not for writing.
  bool code_page_unknown_ = false;
  const Collation* collation_ = nullptr;

  uint32_t record_count_ = 0;
  std::string data_;                  // block k at (k - 1) * block_size_
  std::vector<uint16_t> chain_;       // data blocks in chain order
  mutable std::vector<int32_t> chain_index_;  // block -> index in chain_, -1 if not in it
  mutable bool chain_index_valid_ = false;
  mutable std::vector<uint32_t> chain_start_;  // ordinal of each chain block's first record
  mutable bool ordinals_valid_ = false;

  bool auto_flush_ = true;
  bool write_prepared_ = false;
  bool dirty_ = false;
  // Blocks changed since the last Flush: each once in the list, flagged in
  // the mask (one flag per block number).
  std::vector<uint16_t> dirty_blocks_;
  std::vector<bool> dirty_mask_;
  uint64_t written_db_size_ = 0;
  IndexTree index_;
  uint16_t written_px_blocks_ = 0;
};

}  // namespace dalimor
