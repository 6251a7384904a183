#pragma once
// Local SQL over Paradox tables: the catalog that opens the tables a
// statement names as files, and the adapter that shows a ParadoxTable
// through the SqlTable interface.

#include <memory>
#include <string>

#include "engine/paradox/table.h"
#include "engine/sql/table.h"

namespace dalimor {

// Opens tables by their path as written in the statement (a native path; the
// file and its siblings are found without regard to letter case; a name
// without extension is the ".DB" table).  Tables read by a statement are
// opened read-only, its target shared for writing.
class ParadoxSqlCatalog final : public SqlCatalog {
 public:
  std::shared_ptr<SqlTable> Open(const std::string& path_text, bool for_write) override;
  // From the table's header alone.
  std::vector<FieldDef> Describe(const std::string& path_text) override;

  // INSERT ... SELECT copies stored records between tables of matching
  // layout (on by default); off, every row goes through its values.
  void set_copy_records(bool on) { copy_records_ = on; }

 private:
  bool copy_records_ = true;
};

// A ParadoxTable seen as an SqlTable.  Row ids are ordinals in table order.
// InsertAll checks every key first, so that a key violation changes
// nothing, and writes all rows with one flush; when a row fails on the way
// (a value the field cannot hold), the rows already placed are removed again.
class ParadoxSqlTable final : public SqlTable {
 public:
  explicit ParadoxSqlTable(std::unique_ptr<ParadoxTable> table, bool copy_records = true);
  ~ParadoxSqlTable() override;

  const std::vector<FieldDef>& Fields() const override;
  uint64_t SizeHint() const override;
  void Scan(const std::function<bool(const Record&, uint64_t)>& visit) override;
  // Decodes only the flagged fields; the others stay NULL.
  void ScanFields(const std::vector<bool>& fields,
                  const std::function<bool(const Record&, uint64_t)>& visit) override;
  void InsertAll(std::vector<Record> rows) override;
  void DeleteAll(const std::vector<uint64_t>& row_ids) override;
  // Copies from another ParadoxSqlTable whose records fit this table's
  // (ParadoxTable::CanCopyRecordsFrom).
  std::unique_ptr<RecordCopier> CopierFrom(SqlTable& source,
                                           const std::vector<int>& field_map) override;

  ParadoxTable& table() { return *table_; }
  // Where the running scan is.
  RecordPosition scan_position() const { return scan_position_; }

 private:
  std::unique_ptr<ParadoxTable> table_;
  bool copy_records_ = true;
  RecordPosition scan_position_;
};

}  // namespace dalimor
