#pragma once
// The tables that local SQL works on.  The SQL component sees a table only
// through this interface, so it runs over any storage: the in-memory tables
// of sql_memory_table.h, or Paradox tables through their adapter.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/value.h"

namespace dalimor {

class SqlTable;

// Copies rows of one table into another as they are stored, for
// INSERT ... SELECT between tables of matching layout (see
// SqlTable::CopierFrom).
class RecordCopier {
 public:
  virtual ~RecordCopier() = default;
  // Takes the row at which the running Scan or ScanFields of the source is
  // (called from inside its visit).
  virtual void TakeCurrent() = 0;
  // Inserts every taken row, all or none as InsertAll does; returns their
  // number.
  virtual uint64_t InsertTaken() = 0;
};

class SqlTable {
 public:
  virtual ~SqlTable() = default;

  // The fields, in the table's column order.  Stays the same while the
  // table is open.
  virtual const std::vector<FieldDef>& Fields() const = 0;

  // Calls `visit` for each row in the table's order (key order for keyed
  // tables), with one value per field in field order, of the alternative
  // value.h gives for the field's type, and an id that DeleteAll accepts.
  // The record is valid only during the call.  Stops early when `visit`
  // returns false.  A statement scans a table at most once at a time; it
  // never scans while it inserts or deletes.  Throws EngineError when the
  // rows cannot be read.
  virtual void Scan(const std::function<bool(const Record& record, uint64_t row_id)>& visit) = 0;

  // About how many rows a scan will give (0: unknown), for sizing hashes.
  virtual uint64_t SizeHint() const { return 0; }

  // Scan for a reader that needs only the fields flagged in `fields` (one
  // flag per field): the others may come as NULL, which spares decoding
  // them.  The default reads whole records.
  virtual void ScanFields(const std::vector<bool>& fields,
                          const std::function<bool(const Record& record, uint64_t row_id)>& visit) {
    (void)fields;
    Scan(visit);
  }

  // Inserts all rows or none: when any row cannot be inserted (a key
  // violation, "Key violation.", kind kKeyViolation; a value the field
  // cannot hold) the table is left as it was and EngineError is thrown.
  // Each row holds one value per field, already converted to the field's type.
  virtual void InsertAll(std::vector<Record> rows) = 0;

  // Deletes the rows of the given ids (from Scan) all or none; throws
  // EngineError and deletes nothing when that is not possible.
  virtual void DeleteAll(const std::vector<uint64_t>& row_ids) = 0;

  // A copier of rows of `source` into this table, where field i of this
  // table takes source field `field_map[i]` (-1: NULL) unchanged, when both
  // tables store such rows alike; null when they do not (the rows then go
  // through values and InsertAll).  The copy gives the same table as
  // InsertAll of the same rows would.
  virtual std::unique_ptr<RecordCopier> CopierFrom(SqlTable& source,
                                                   const std::vector<int>& field_map) {
    (void)source;
    (void)field_map;
    return nullptr;
  }
};

// Resolves the table names of statements.
class SqlCatalog {
 public:
  virtual ~SqlCatalog() = default;

  // The table a statement names: `path_text` is the text between the quotes
  // as written in the statement ('D:\Davka\SPFH.DB' gives D:\Davka\SPFH.DB),
  // or a bare name; how it maps to a file is the catalog's business.
  // `for_write` is true for the target of INSERT or DELETE, which a
  // statement opens before any other table.  One statement opens each
  // distinct text once.  Throws EngineError ("Table does not exist.", kind
  // kFileNotFound, for a missing table; other kinds for locked or damaged
  // tables).
  virtual std::shared_ptr<SqlTable> Open(const std::string& path_text, bool for_write) = 0;

  // The fields of the table, as a statement that opened it would see them,
  // for a caller that needs no rows.  Throws as Open does.
  virtual std::vector<FieldDef> Describe(const std::string& path_text) {
    return Open(path_text, false)->Fields();
  }
};

}  // namespace dalimor
