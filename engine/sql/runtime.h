#pragma once
// What the operators of the executor share while a statement runs: the frame
// of current rows, three-valued truth, and the context expressions are
// evaluated in.

#include <array>
#include <cstdint>

#include "engine/sql/plan.h"

namespace dalimor {

// The current row of each table of one select, and the frame of the select
// around it.  A row is a pointer to its first stored value; `remaps[slot]`
// maps a field number to the stored position (null: stored in field order).
// A null row stands for the NULL row of an outer join.
struct Frame {
  const Frame* outer = nullptr;
  std::array<const Value*, kSqlMaxTables> rows{};
  std::array<const int*, kSqlMaxTables> remaps{};
  uint64_t row_id = 0;  // the Scan id of the row of table 0
};

enum class Truth : uint8_t { kFalse, kTrue, kUnknown };

inline Truth Not(Truth t) {
  return t == Truth::kTrue ? Truth::kFalse : (t == Truth::kFalse ? Truth::kTrue : t);
}

// Answers EXISTS and IN for the expression evaluator (sql_semi_join.h).
class SubqueryEvaluator {
 public:
  virtual ~SubqueryEvaluator() = default;
  // EXISTS (sub-select `id`) for the row in `frame` (the frame of the select
  // that holds the EXISTS).
  virtual Truth Exists(int id, const Frame& frame) = 0;
  // `value` IN (sub-select `id`).
  virtual Truth In(int id, const Value& value, const Frame& frame) = 0;
};

struct EvalContext {
  const Frame* frame = nullptr;
  const Value* group_keys = nullptr;  // the current group's GROUP BY values
  const Value* aggregates = nullptr;  // the current group's aggregate values
  SubqueryEvaluator* subqueries = nullptr;
};

}  // namespace dalimor
