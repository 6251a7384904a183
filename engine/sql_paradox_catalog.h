#pragma once
// Local SQL over Paradox tables: the catalog that opens the tables a
// statement names as files, and the adapter that shows a ParadoxTable
// through the SqlTable interface.

#include <memory>
#include <string>

#include "engine/sql_table.h"

namespace dalimor {

class ParadoxTable;

// Opens tables by their path as written in the statement (a native path; the
// file and its siblings are found without regard to letter case; a name
// without extension is the ".DB" table).  Tables read by a statement are
// opened read-only, its target shared for writing.
class ParadoxSqlCatalog final : public SqlCatalog {
 public:
  std::shared_ptr<SqlTable> Open(const std::string& path_text, bool for_write) override;
};

// A ParadoxTable seen as an SqlTable.  Row ids are ordinals in table order.
// InsertAll checks every key first, so that a key violation changes
// nothing, and writes all rows with one flush; when a row fails on the way
// (a value the field cannot hold), the rows already placed are removed again.
class ParadoxSqlTable final : public SqlTable {
 public:
  explicit ParadoxSqlTable(std::unique_ptr<ParadoxTable> table);
  ~ParadoxSqlTable() override;

  const std::vector<FieldDef>& Fields() const override;
  void Scan(const std::function<bool(const Record&, uint64_t)>& visit) override;
  // Decodes only the flagged fields; the others stay NULL.
  void ScanFields(const std::vector<bool>& fields,
                  const std::function<bool(const Record&, uint64_t)>& visit) override;
  void InsertAll(std::vector<Record> rows) override;
  void DeleteAll(const std::vector<uint64_t>& row_ids) override;

  ParadoxTable& table() { return *table_; }

 private:
  std::unique_ptr<ParadoxTable> table_;
};

}  // namespace dalimor
