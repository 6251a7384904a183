#pragma once
// The syntax tree of a local SQL statement, as the parser builds it: names
// are still text, nothing is checked against tables.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/sql/error.h"
#include "engine/value.h"

namespace dalimor {

struct AstSelect;

enum class CompareOp : uint8_t { kEqual, kNotEqual, kLess, kGreater, kLessEqual, kGreaterEqual };
enum class AggregateFunc : uint8_t { kMax, kMin, kCount };

struct AstExpr {
  enum class Kind : uint8_t {
    kLiteral,    // literal: a string, int64_t or double
    kNull,       // NULL
    kColumn,     // [qualifier.]name
    kAdd,        // children joined by `ops` ('+' or '|' for ||), left to right
    kNegate,     // - child
    kCompare,    // child0 op child1
    kAnd,        // all children
    kOr,         // any child
    kNot,        // NOT child
    kIsNull,     // child IS [NOT] NULL
    kCast,       // CAST(child AS CHAR(size))
    kAggregate,  // func(child) or COUNT(*) (no child)
    kExists,     // [NOT] EXISTS (subquery)
    kInSelect,   // child [NOT] IN (subquery)
    kInList,     // child0 [NOT] IN (child1, ...)
  };

  Kind kind = Kind::kLiteral;
  SqlPosition position;   // of the token that names the node
  std::string token;      // that token as written, for messages
  Value literal;
  std::string qualifier;  // kColumn; empty when unqualified
  std::string name;       // kColumn
  std::string ops;        // kAdd: one operator per child after the first
  CompareOp op = CompareOp::kEqual;
  AggregateFunc func = AggregateFunc::kMax;
  bool negated = false;   // IS NOT NULL, NOT EXISTS, NOT IN
  int size = 0;           // kCast
  std::vector<std::unique_ptr<AstExpr>> children;
  std::unique_ptr<AstSelect> subquery;
};

using AstExprPtr = std::unique_ptr<AstExpr>;

struct AstTableRef {
  std::string path;         // the text between the quotes, or a bare name
  std::string correlation;  // empty when none is given
  SqlPosition position;
  std::string token;
};

enum class AstJoinKind : uint8_t { kLeftOuter, kInner };

struct AstJoin {
  AstJoinKind kind = AstJoinKind::kLeftOuter;
  AstTableRef table;
  AstExprPtr on;
};

struct AstSelectItem {
  enum class Kind : uint8_t { kExpr, kAllColumns, kTableColumns };
  Kind kind = Kind::kExpr;
  AstExprPtr expr;        // kExpr
  std::string qualifier;  // kTableColumns: the table whose columns are meant
  std::string alias;      // kExpr: AS name, empty when none
  SqlPosition position;
  std::string token;
};

struct AstSelect {
  std::vector<AstSelectItem> items;
  AstTableRef from;
  std::vector<AstJoin> joins;
  AstExprPtr where;                  // null when there is no WHERE
  std::vector<AstExprPtr> group_by;  // column references
  SqlPosition position;
};

struct AstColumnName {
  std::string name;
  SqlPosition position;
};

struct AstInsert {
  AstTableRef target;
  bool has_column_list = false;
  std::vector<AstColumnName> columns;
  std::unique_ptr<AstSelect> select;           // INSERT ... SELECT
  std::vector<std::vector<AstExprPtr>> values;  // INSERT ... VALUES (...), (...)
};

struct AstDelete {
  AstTableRef target;
  AstExprPtr where;  // null: every row
};

struct AstStatement {
  enum class Kind : uint8_t { kSelect, kInsert, kDelete };
  Kind kind = Kind::kSelect;
  std::unique_ptr<AstSelect> select;
  std::unique_ptr<AstInsert> insert;
  std::unique_ptr<AstDelete> del;
};

}  // namespace dalimor
