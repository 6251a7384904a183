#pragma once
// A small owner of an SQLite connection for the differential tests.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/value.h"

struct sqlite3;

namespace dalimor::sqldiff {

// What one statement did: the rows it changed, or the error it failed with.
struct SqliteOutcome {
  bool ok = false;
  uint64_t changes = 0;
  int code = 0;  // primary result code (SQLITE_CONSTRAINT for a key violation)
  std::string message;
};

class SqliteDb {
 public:
  // ":memory:" or a file name.  Throws std::runtime_error when it cannot open.
  explicit SqliteDb(const std::string& name);
  ~SqliteDb();
  SqliteDb(const SqliteDb&) = delete;
  SqliteDb& operator=(const SqliteDb&) = delete;

  // Runs statements that must succeed; throws std::runtime_error otherwise.
  void MustExec(const std::string& sql);
  // Runs one statement and reports its outcome.
  SqliteOutcome Exec(const std::string& sql);

  // Creates `table` with the fields (text, integer and real columns; dates as
  // day numbers, timestamps as date-time numbers) and a primary key on the
  // leading `key_count` fields.
  void CreateTable(const std::string& table, const std::vector<FieldDef>& fields, int key_count);
  // Inserts the rows in one transaction.
  void InsertRows(const std::string& table, const std::vector<FieldDef>& fields,
                  const std::vector<Record>& rows);
  // Every row of the table, each value read back into the alternative
  // value.h gives for its field.
  std::vector<Record> ReadRows(const std::string& table, const std::vector<FieldDef>& fields);

  sqlite3* handle() { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace dalimor::sqldiff
