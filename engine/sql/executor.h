#pragma once
// The executor: a statement parsed, bound and ready to run, any number of
// times.  Each run reads the tables afresh.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/sql/plan.h"
#include "engine/sql/table.h"

namespace dalimor {

class SqlStatement {
 public:
  // Parses and binds `text`, opening its tables through `catalog`.  Throws
  // SqlError for a malformed statement or a name that resolves to nothing,
  // EngineError for a table that cannot be opened.
  SqlStatement(SqlCatalog& catalog, std::string_view text);
  ~SqlStatement();
  SqlStatement(const SqlStatement&) = delete;
  SqlStatement& operator=(const SqlStatement&) = delete;

  bool is_select() const { return bound_->kind == AstStatement::Kind::kSelect; }
  // The result columns of a SELECT (empty for other statements).
  const std::vector<FieldDef>& result_fields() const;

  // Runs a SELECT, handing its records to `sink` in order until it returns
  // false.  Throws EngineError when a table cannot be read or a value cannot
  // be computed.
  void Select(const std::function<bool(Record&& record)>& sink);
  // Runs the statement: INSERT and DELETE return the rows inserted or
  // deleted, and take full effect or none; a SELECT returns its row count.
  uint64_t Execute();

  // A description of how the statement runs, one operator a line, e.g.
  // "hash left outer join 'B.DB' tM on 2 keys".
  std::string Explain() const;

 private:
  std::unique_ptr<BoundStatement> bound_;
};

}  // namespace dalimor
