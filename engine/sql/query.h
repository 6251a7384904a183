#pragma once
// The query component: a local SQL statement over the tables of a catalog,
// in the manner of the Borland query component.  Set the text, then Open()
// a SELECT and walk its result, or ExecSql() an INSERT or DELETE.  The
// dialect is described in docs/local_sql.md.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/sql/table.h"
#include "engine/value.h"

namespace dalimor {

class SqlStatement;

class SqlQuery {
 public:
  // The catalog must outlive the query.
  explicit SqlQuery(SqlCatalog& catalog);
  ~SqlQuery();
  SqlQuery(const SqlQuery&) = delete;
  SqlQuery& operator=(const SqlQuery&) = delete;

  // Replaces the whole statement text (UTF-8; lines may end in a lone CR,
  // CR LF or LF) and closes an open result.
  void SetText(std::string text);
  const std::string& text() const { return text_; }

  // Parses and binds the SELECT, opening its tables; the rows are read when
  // first needed (the record count, First, Eof or a value).  Throws
  // SqlError for a malformed statement or an unknown column, EngineError for
  // a table that cannot be opened and (kSql) for a statement that is not a
  // SELECT.  Reading the rows later may throw EngineError as well.
  void Open();
  void Close();
  bool is_open() const { return statement_ != nullptr; }

  // Runs the statement without a result set: the number of rows an INSERT
  // or DELETE inserted or deleted (it takes full effect or none), or of the
  // rows a SELECT gives.  Throws as Open does, and EngineError from the
  // tables (for example kKeyViolation "Key violation.").
  uint64_t ExecSql();

  // The result columns of the open SELECT, by position.
  const std::vector<FieldDef>& Fields() const;
  size_t FieldCount() const { return Fields().size(); }
  // The position of the result column of that name (matched without regard
  // to case; the first of equal names), or -1.
  int FieldIndex(std::string_view name) const;

  // The number of result rows.  Counted without keeping the rows when they
  // have not been read yet.
  uint64_t RecordCount();
  void First();
  void Next();
  bool Eof();
  // A value of the current row.  Throws EngineError (kGeneral) past the last
  // row or for a position out of range, kFieldNotFound for an unknown name.
  const Value& FieldValue(size_t index);
  const Value& FieldByName(std::string_view name);

  // How the statement runs, one operator a line (see SqlStatement::Explain);
  // binds the text when no result is open.  Throws as Open does.
  std::string Explain();

 private:
  SqlStatement& Statement();
  void ReadRows();

  SqlCatalog& catalog_;
  std::string text_;
  std::unique_ptr<SqlStatement> statement_;
  bool rows_read_ = false;
  std::vector<Record> rows_;
  std::optional<uint64_t> count_;
  size_t position_ = 0;
};

}  // namespace dalimor
