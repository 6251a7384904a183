#pragma once
// Tables held in memory, for tests and for anyone who needs a table without
// files.  A table keyed by its leading `key_count` fields keeps its rows in
// key order and refuses duplicate keys; keys compare exactly (text in byte
// order, NULL equal to NULL).

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/sql/table.h"

namespace dalimor {

class MemorySqlTable : public SqlTable {
 public:
  // Throws EngineError (kInvalidDefinition) when key_count is negative or
  // larger than the number of fields.
  explicit MemorySqlTable(std::vector<FieldDef> fields, int key_count = 0);

  const std::vector<FieldDef>& Fields() const override { return fields_; }
  void Scan(const std::function<bool(const Record&, uint64_t)>& visit) override;
  // Besides key violations, refuses (EngineError kGeneral) a row with the
  // wrong number of values or a value of the wrong alternative for its field.
  void InsertAll(std::vector<Record> rows) override;
  // Refuses (EngineError kGeneral) an id that is not in the table.
  void DeleteAll(const std::vector<uint64_t>& row_ids) override;

  int key_count() const { return key_count_; }
  size_t RowCount() const { return rows_.size(); }
  // The rows in scan order.
  std::vector<Record> Rows() const;

 private:
  struct Row {
    uint64_t id;
    Record values;
  };
  bool KeyLess(const Record& a, const Record& b) const;
  void CheckRow(const Record& row) const;

  std::vector<FieldDef> fields_;
  int key_count_;
  std::vector<Row> rows_;  // in key order when keyed, else in insertion order
  uint64_t next_id_ = 1;
};

// A catalog of memory tables, found by their path text compared without
// regard to letter case.
class MemorySqlCatalog : public SqlCatalog {
 public:
  // Adds or replaces the table under `path`.
  void Add(const std::string& path, std::shared_ptr<MemorySqlTable> table);
  // The table under `path`, or null.
  std::shared_ptr<MemorySqlTable> Find(const std::string& path) const;

  // Throws EngineError kFileNotFound "Table does not exist." with a line
  // "Table: <path>" for an unknown path.
  std::shared_ptr<SqlTable> Open(const std::string& path_text, bool for_write) override;

  // How many times Open was called, for tests that check how often a
  // statement opens its tables.
  int open_count() const { return open_count_; }

 private:
  static std::string Fold(const std::string& path);
  std::map<std::string, std::shared_ptr<MemorySqlTable>> tables_;
  int open_count_ = 0;
};

}  // namespace dalimor
