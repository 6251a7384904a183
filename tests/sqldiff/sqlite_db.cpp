#include "tests/sqldiff/sqlite_db.h"

#include <sqlite3.h>

#include <stdexcept>

namespace dalimor::sqldiff {
namespace {

const char* ColumnType(FieldType type) {
  switch (type) {
    case FieldType::kAlpha:
    case FieldType::kMemo:
      return "TEXT";
    case FieldType::kShort:
    case FieldType::kLong:
    case FieldType::kAutoInc:
    case FieldType::kDate:
      return "INTEGER";
    default:
      return "REAL";
  }
}

class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) {
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr) !=
        SQLITE_OK)
      throw std::runtime_error(std::string("sqlite prepare: ") + sqlite3_errmsg(db) + "\n" + sql);
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace

SqliteDb::SqliteDb(const std::string& name) {
  if (sqlite3_open(name.c_str(), &db_) != SQLITE_OK) {
    const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    throw std::runtime_error("sqlite open " + name + ": " + message);
  }
}

SqliteDb::~SqliteDb() {
  sqlite3_close(db_);
}

void SqliteDb::MustExec(const std::string& sql) {
  const SqliteOutcome outcome = Exec(sql);
  if (!outcome.ok) throw std::runtime_error("sqlite: " + outcome.message + "\n" + sql);
}

SqliteOutcome SqliteDb::Exec(const std::string& sql) {
  SqliteOutcome outcome;
  char* error = nullptr;
  const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
  outcome.ok = rc == SQLITE_OK;
  outcome.code = rc & 0xff;
  if (error) {
    outcome.message = error;
    sqlite3_free(error);
  }
  if (outcome.ok) outcome.changes = static_cast<uint64_t>(sqlite3_changes64(db_));
  return outcome;
}

void SqliteDb::CreateTable(const std::string& table, const std::vector<FieldDef>& fields,
                           int key_count) {
  std::string sql = "CREATE TABLE " + table + " (";
  for (const FieldDef& f : fields) sql += f.name + " " + ColumnType(f.type) + ", ";
  sql += "PRIMARY KEY (";
  for (int i = 0; i < key_count; ++i) sql += (i ? ", " : "") + fields[static_cast<size_t>(i)].name;
  sql += "))";
  MustExec(sql);
}

void SqliteDb::InsertRows(const std::string& table, const std::vector<FieldDef>& fields,
                          const std::vector<Record>& rows) {
  std::string sql = "INSERT INTO " + table + " VALUES (";
  for (size_t i = 0; i < fields.size(); ++i) sql += i ? ", ?" : "?";
  sql += ")";
  MustExec("BEGIN");
  Statement insert(db_, sql);
  for (const Record& row : rows) {
    sqlite3_reset(insert.get());
    for (size_t i = 0; i < row.size(); ++i) {
      const int column = static_cast<int>(i) + 1;
      const Value& v = row[i];
      if (IsNull(v)) {
        sqlite3_bind_null(insert.get(), column);
      } else if (const auto* n = std::get_if<int64_t>(&v)) {
        sqlite3_bind_int64(insert.get(), column, *n);
      } else if (const auto* d = std::get_if<double>(&v)) {
        sqlite3_bind_double(insert.get(), column, *d);
      } else if (const auto* s = std::get_if<std::string>(&v)) {
        sqlite3_bind_text(insert.get(), column, s->data(), static_cast<int>(s->size()),
                          SQLITE_TRANSIENT);
      } else if (const auto* date = std::get_if<Date>(&v)) {
        sqlite3_bind_int64(insert.get(), column, static_cast<sqlite3_int64>(date->value));
      } else if (const auto* stamp = std::get_if<Timestamp>(&v)) {
        sqlite3_bind_double(insert.get(), column, stamp->value);
      } else {
        throw std::runtime_error("sqlite: value type not used by these tests");
      }
    }
    if (sqlite3_step(insert.get()) != SQLITE_DONE)
      throw std::runtime_error(std::string("sqlite insert: ") + sqlite3_errmsg(db_));
  }
  MustExec("COMMIT");
}

std::vector<Record> SqliteDb::ReadRows(const std::string& table,
                                       const std::vector<FieldDef>& fields) {
  std::string sql = "SELECT ";
  for (size_t i = 0; i < fields.size(); ++i) sql += (i ? ", " : "") + fields[i].name;
  sql += " FROM " + table;
  Statement select(db_, sql);
  std::vector<Record> rows;
  while (true) {
    const int rc = sqlite3_step(select.get());
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW)
      throw std::runtime_error(std::string("sqlite select: ") + sqlite3_errmsg(db_));
    Record row;
    for (size_t i = 0; i < fields.size(); ++i) {
      const int column = static_cast<int>(i);
      if (sqlite3_column_type(select.get(), column) == SQLITE_NULL) {
        row.emplace_back();
        continue;
      }
      switch (fields[i].type) {
        case FieldType::kAlpha:
        case FieldType::kMemo:
          row.emplace_back(
              std::string(reinterpret_cast<const char*>(sqlite3_column_text(select.get(), column)),
                          static_cast<size_t>(sqlite3_column_bytes(select.get(), column))));
          break;
        case FieldType::kShort:
        case FieldType::kLong:
        case FieldType::kAutoInc:
          row.emplace_back(int64_t{sqlite3_column_int64(select.get(), column)});
          break;
        case FieldType::kDate:
          row.emplace_back(Date{static_cast<double>(sqlite3_column_int64(select.get(), column))});
          break;
        case FieldType::kTimestamp:
          row.emplace_back(Timestamp{sqlite3_column_double(select.get(), column)});
          break;
        default:
          row.emplace_back(sqlite3_column_double(select.get(), column));
          break;
      }
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace dalimor::sqldiff
