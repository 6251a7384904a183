#pragma once
// A statement after binding: every name resolved to a table slot and field,
// every expression typed, and each condition sorted into hash keys and
// residual tests.  The binder (sql_binder.h) builds it; the executor
// (sql_executor.h) runs it.

#include <bitset>
#include <memory>
#include <string>
#include <vector>

#include "engine/sql/ast.h"
#include "engine/sql/table.h"
#include "engine/sql/value_ops.h"

namespace dalimor {

// Limits of one statement: selects nested in each other, and tables in one
// FROM clause (the first plus its joins).
inline constexpr int kSqlMaxLevels = 16;
inline constexpr int kSqlMaxTables = 16;

// Columns an expression reads, as (select level, table slot) pairs: bit
// level * kSqlMaxTables + slot.  Level 0 is the statement's own select, each
// sub-select one deeper.
using SqlDeps = std::bitset<kSqlMaxLevels * kSqlMaxTables>;

// The bits of every table of `level`, and of every level above `level`.
SqlDeps SqlLevelMask(int level);
SqlDeps SqlLevelsAboveMask(int level);

enum class ExprKind : uint8_t {
  kConstant,   // constant
  kColumn,     // field `field` of table `slot`, `depth` selects out from here
  kAdd,        // numeric sum of the children
  kConcat,     // text concatenation of the children
  kNegate,     // - child
  kCompare,    // child0 op child1
  kAnd,
  kOr,
  kNot,
  kIsNull,     // child IS NULL (negated: IS NOT NULL)
  kCast,       // child as text of at most `index` characters
  kExists,     // EXISTS (sub-select `index`) (negated: NOT EXISTS)
  kInSelect,   // child IN (sub-select `index`) (negated: NOT IN)
  kInList,     // child0 IN (child1, ...) (negated: NOT IN)
  kAggregate,  // value of aggregate `index` of the current group
  kGroupKey,   // value of GROUP BY column `index` of the current group
};

struct BoundExpr {
  ExprKind kind = ExprKind::kConstant;
  SqlType type = SqlType::kNull;
  Value constant;
  int depth = 0;
  int slot = 0;
  int field = 0;
  int index = 0;
  CompareOp op = CompareOp::kEqual;
  bool negated = false;
  bool has_subquery = false;  // a sub-select somewhere below
  SqlDeps deps;               // columns read, here and in correlated sub-selects
  const FieldDef* source = nullptr;  // kColumn: the field read
  std::vector<std::unique_ptr<BoundExpr>> children;
};

using BoundExprPtr = std::unique_ptr<BoundExpr>;

struct BoundTable {
  std::shared_ptr<SqlTable> table;
  std::string path;         // as written
  std::string correlation;  // empty when none
  std::vector<bool> used;   // fields some expression reads
};

struct BoundJoin {
  bool left_outer = true;
  std::vector<BoundExprPtr> left_keys;   // over earlier tables and enclosing selects
  std::vector<BoundExprPtr> right_keys;  // over the joined table alone
  std::vector<BoundExprPtr> residual;    // the other ON conditions
};

struct BoundAggregate {
  AggregateFunc func = AggregateFunc::kMax;
  BoundExprPtr arg;  // null for COUNT(*)
};

struct BoundSelect {
  int level = 0;
  std::vector<BoundTable> tables;  // slot order: FROM table, then joined tables
  std::vector<BoundJoin> joins;    // joins[k - 1] joins tables[k]
  std::vector<BoundExprPtr> where; // conditions that must all be true
  bool aggregate = false;          // GROUP BY or aggregates in the select list
  std::vector<BoundExprPtr> group_by;
  std::vector<BoundAggregate> aggregates;
  std::vector<BoundExprPtr> outputs;
  std::vector<FieldDef> output_fields;
  SqlDeps outer_deps;              // columns of enclosing selects read anywhere inside
  bool joins_use_outer = false;    // an ON condition reads an enclosing select
  std::vector<int> subqueries;     // the sub-selects directly inside, by index
};

// How a sub-select is answered for each row of the select around it.
enum class SubqueryStrategy : uint8_t {
  kConstant,     // EXISTS that does not depend on the outer row: decided once
  kValueSet,     // IN over an uncorrelated sub-select: its values hashed once
  kHashed,       // rows hashed once on the correlation equalities, looked up per outer row
  kNestedLoop,   // the sub-select's rows walked for each outer row
  kExecuteEach,  // correlated IN over an aggregate: the sub-select run for each outer row
};

struct BoundSubquery {
  bool is_in = false;
  std::unique_ptr<BoundSelect> select;
  SubqueryStrategy strategy = SubqueryStrategy::kNestedLoop;
  // kHashed: the WHERE conditions of `select` split into those over the
  // sub-select's own tables (applied before hashing), equalities between an
  // inner and an outer expression (the hash keys) and the rest.
  std::vector<const BoundExpr*> prefilter;
  std::vector<const BoundExpr*> inner_keys;
  std::vector<const BoundExpr*> outer_keys;
  std::vector<const BoundExpr*> residual;
};

struct BoundStatement {
  AstStatement::Kind kind = AstStatement::Kind::kSelect;
  // The SELECT; the source of INSERT ... SELECT; for DELETE the scan of the
  // target (tables[0]) with its WHERE.  Null for INSERT ... VALUES.
  std::unique_ptr<BoundSelect> select;
  std::vector<std::unique_ptr<BoundSubquery>> subqueries;  // by the index of kExists/kInSelect
  // INSERT and DELETE.
  std::shared_ptr<SqlTable> target;
  std::string target_path;
  std::vector<int> target_fields;                 // INSERT: target field of each source column
  std::vector<std::vector<BoundExprPtr>> values;  // INSERT ... VALUES rows
};

}  // namespace dalimor
