#include "engine/sql/query.h"

#include "engine/engine_error.h"
#include "engine/sql/executor.h"
#include "engine/sql/lexer.h"

namespace dalimor {

SqlQuery::SqlQuery(SqlCatalog& catalog) : catalog_(catalog) {}

SqlQuery::~SqlQuery() = default;

void SqlQuery::SetText(std::string text) {
  Close();
  text_ = std::move(text);
}

void SqlQuery::Open() {
  Close();
  auto statement = std::make_unique<SqlStatement>(catalog_, text_);
  if (!statement->is_select())
    throw EngineError(EngineErrorKind::kSql, "The statement does not return a result set.");
  statement_ = std::move(statement);
}

void SqlQuery::Close() {
  statement_.reset();
  rows_read_ = false;
  rows_.clear();
  count_.reset();
  position_ = 0;
}

uint64_t SqlQuery::ExecSql() {
  Close();
  SqlStatement statement(catalog_, text_);
  return statement.Execute();
}

SqlStatement& SqlQuery::Statement() {
  if (!statement_) throw EngineError(EngineErrorKind::kGeneral, "The query is not open.");
  return *statement_;
}

const std::vector<FieldDef>& SqlQuery::Fields() const {
  static const std::vector<FieldDef> kNone;
  return statement_ ? statement_->result_fields() : kNone;
}

int SqlQuery::FieldIndex(std::string_view name) const {
  const auto& fields = Fields();
  for (size_t i = 0; i < fields.size(); ++i)
    if (SqlNamesEqual(fields[i].name, name)) return static_cast<int>(i);
  return -1;
}

void SqlQuery::ReadRows() {
  if (rows_read_) return;
  SqlStatement& statement = Statement();
  std::vector<Record> rows;
  statement.Select([&](Record&& record) {
    rows.push_back(std::move(record));
    return true;
  });
  rows_ = std::move(rows);
  rows_read_ = true;
  count_ = rows_.size();
  position_ = 0;
}

uint64_t SqlQuery::RecordCount() {
  if (!count_) count_ = Statement().Execute();
  return *count_;
}

void SqlQuery::First() {
  ReadRows();
  position_ = 0;
}

void SqlQuery::Next() {
  ReadRows();
  if (position_ < rows_.size()) ++position_;
}

bool SqlQuery::Eof() {
  ReadRows();
  return position_ >= rows_.size();
}

const Value& SqlQuery::FieldValue(size_t index) {
  ReadRows();
  if (position_ >= rows_.size())
    throw EngineError(EngineErrorKind::kGeneral, "At end of table.");
  if (index >= rows_[position_].size())
    throw EngineError(EngineErrorKind::kGeneral, "Field index out of range.");
  return rows_[position_][index];
}

const Value& SqlQuery::FieldByName(std::string_view name) {
  const int index = FieldIndex(name);
  if (index < 0) {
    throw EngineError(EngineErrorKind::kFieldNotFound,
                      "Field not found in table.\nField: " + std::string(name));
  }
  return FieldValue(static_cast<size_t>(index));
}

std::string SqlQuery::Explain() {
  if (statement_) return statement_->Explain();
  return SqlStatement(catalog_, text_).Explain();
}

}  // namespace dalimor
