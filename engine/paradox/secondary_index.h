#pragma once
// Secondary indexes of a keyed Paradox table: NAME.Xnn (one field, nn = its
// field number in hex) or NAME.XGn (a named index over one or more fields),
// each a small Paradox table of the indexed fields, the primary-key fields
// and "Blk Num" (the data block holding the row), with its own .PX-like
// index NAME.Ynn / NAME.YGn.  A maintained index (file type 5 or 8) is laid
// out anew from the table's rows whenever the table is written, so that it
// always holds exactly one record per row, in index order, with the row's
// current block; a non-maintained one (3 or 6) is left as it is.  Layout and
// counters: docs/paradox_format.md, "Secondary indexes".

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/paradox/collation.h"
#include "engine/paradox/file.h"
#include "engine/paradox/header.h"
#include "engine/paradox/index.h"
#include "platform/code_page.h"

namespace dalimor {

// Bits of the byte at 0x55 of an index header.
inline constexpr uint8_t kIndexCaseInsensitive = 0x01;
inline constexpr uint8_t kIndexUnique = 0x02;
inline constexpr uint8_t kIndexKnownFlags = kIndexCaseInsensitive | kIndexUnique;

// The name of the last field of every secondary index record.
inline constexpr std::string_view kBlockNumberFieldName = "Blk Num";

// A secondary index to create.
struct SecondaryIndexDef {
  // Empty for a single-field index (.Xnn); otherwise the index's name, and
  // the index is a named one (.XGn) even over one field.
  std::string name;
  // Names of the indexed fields, in order.
  std::vector<std::string> fields;
  bool case_insensitive = false;
  bool unique = false;
};

// What an index needs to know of its table.
struct IndexedTable {
  std::string db_path;
  const ParadoxHeader* header = nullptr;  // the .DB header (fields, names, sort order)
  std::vector<int> offsets;               // byte offset of each field in a record
  std::vector<int> widths;                // bytes of each field
  int key_field_count = 0;
  const Collation* collation = nullptr;
  CodePage code_page = CodePage::k437;
};

// The rows of a table, one entry per data block in chain order.
struct BlockRows {
  uint16_t block = 0;
  const char* records = nullptr;
  int count = 0;
};

// Counters of the table taken over by its indexes when they are written.
struct IndexCounters {
  uint8_t restructure_count = 0;     // .DB 0x2E
  uint8_t primary_change_count = 0;  // .PX 0x2C after the table's flush
  uint32_t auto_increment = 0;       // .DB 0x49
  bool has_auto_increment = false;
  uint32_t update_time = 0;  // .DB 0x60
};

// Working memory of Write, kept by the caller between the indexes of one
// table so that each does not take (and fault in) fresh memory again.
struct IndexScratch {
  std::vector<char> entries;
  std::string keys;
  std::vector<uint64_t> key_at;
  std::vector<uint32_t> order;
  struct Slot {
    uint64_t prefix;
    uint32_t entry;
  };
  std::vector<Slot> sorted;
  std::vector<Slot> spare;
};

class SecondaryIndex {
 public:
  // Opens the index file `x_path` of a table.  Throws EngineError (kCorrupt
  // naming the file) when its header cannot be read or does not describe an
  // index of this table, kUnsupported for flags or layouts this engine does
  // not maintain.
  static std::unique_ptr<SecondaryIndex> Open(const std::string& x_path, const IndexedTable& table,
                                              bool writable);
  // Creates an empty maintained index beside the table (its .X and .Y
  // files; the caller writes the entries).  Throws EngineError
  // (kInvalidDefinition) for an unknown field, a blob field, no fields, a
  // name that is taken, or a table whose layout cannot carry indexes.
  static std::unique_ptr<SecondaryIndex> Create(const SecondaryIndexDef& def,
                                                const IndexedTable& table);

  SecondaryIndex(const SecondaryIndex&) = delete;
  SecondaryIndex& operator=(const SecondaryIndex&) = delete;

  const std::string& path() const { return x_path_; }
  const std::string& name() const { return name_; }
  // Table field indexes of the indexed fields.
  const std::vector<int>& fields() const { return fields_; }
  bool maintained() const { return maintained_; }
  bool unique() const { return (flags_ & kIndexUnique) != 0; }
  bool case_insensitive() const { return (flags_ & kIndexCaseInsensitive) != 0; }

  // The value a unique index keeps unique for a record: the indexed fields'
  // bytes (alpha without padding, upper-cased when the index ignores case).
  // None when every indexed field is NULL, which a unique index allows
  // any number of times.
  std::optional<std::string> UniqueValue(const char* record) const;

  // Lays the index out anew from the table's rows and writes the .X and .Y
  // blocks that changed and both headers.  Throws EngineError (kIo).
  void Write(const std::vector<BlockRows>& rows, const IndexCounters& counters,
             IndexScratch& scratch);

  // Writes only the .X header's ties to the table (the state of the primary
  // index, the update time, the auto-increment value), for a write that
  // left the index's entries as they were.
  void Refresh(const IndexCounters& counters);

  // Closes the files.
  void Close();

 private:
  struct KeyField {
    int table_field = 0;
    int offset = 0;  // in the index record
    int width = 0;
    bool alpha = false;
    bool fold_case = false;
  };

  SecondaryIndex() = default;
  void Describe(const IndexedTable& table);
  // The index record of a table record held in `block`, written to `out`.
  void FillEntry(const char* record, uint16_t block, char* out) const;
  // Appends the bytes by which the index orders a key field's value.
  void AppendKey(const KeyField& k, const char* value, std::string& out) const;
  // Lays out the .X from the entries in the order given.
  void WriteX(const char* entries, const std::vector<uint32_t>& order,
              const IndexCounters& counters);
  void WriteY(const IndexCounters& counters);
  // Writes the .X header with the table's counters.
  void WriteXHeader(const IndexCounters& counters);

  std::string x_path_;
  std::string y_path_;
  std::string name_;
  bool maintained_ = true;
  uint8_t flags_ = 0;
  std::vector<int> fields_;
  std::vector<KeyField> key_;  // indexed fields, then the primary key
  std::vector<int> table_offsets_;
  std::vector<int> table_widths_;
  int key_size_ = 0;     // bytes of the index key (all but Blk Num)
  int record_size_ = 0;  // key + 2
  int block_size_ = 0;
  int capacity_ = 0;
  const Collation* collation_ = nullptr;
  const unsigned char* upper_ = nullptr;  // upper case of each code-page byte

  ParadoxFile x_file_;
  ParadoxFile y_file_;
  ParadoxHeader x_header_;
  ParadoxHeader y_header_;
  bool y_exists_ = false;
  IndexTree y_tree_;
  uint16_t y_written_blocks_ = 0;
  std::vector<IndexEntry> y_level1_;
};

// Index files beside the table `db_path` (NAME.Xnn and NAME.XGn, any letter
// case), sorted by name.
std::vector<std::string> FindSecondaryIndexFiles(const std::string& db_path);

// Deletes an index's .X file and its .Y.
void RemoveSecondaryIndexFiles(const std::string& x_path);

// True for ".X06", ".Y06", ".XG0", ".YG1" and the like (any letter case).
bool IsSecondaryIndexExtension(std::string_view extension);

}  // namespace dalimor
