#pragma once
// Evaluation of bound expressions over a frame of current rows, with
// three-valued logic: a comparison with NULL is unknown, NOT unknown is
// unknown, AND is false when any part is false, OR true when any part is.

#include <string>
#include <vector>

#include "engine/sql/runtime.h"

namespace dalimor {

// The value of `e`; conditions give true, false or NULL (unknown).  Throws
// EngineError when a sum leaves the integer range.
Value Evaluate(const BoundExpr& e, const EvalContext& ctx);
// The value of `e` without copying it when it is a column or a constant;
// otherwise evaluated into `scratch`.
const Value& EvaluateRef(const BoundExpr& e, const EvalContext& ctx, Value& scratch);
Truth EvaluateTruth(const BoundExpr& e, const EvalContext& ctx);

// Appends the hash key of the values of `keys` to `key`; false when one of
// them is NULL (such a key equals nothing).
bool BuildKey(const std::vector<const BoundExpr*>& keys, const EvalContext& ctx,
              std::string& key);

// Pointers to the expressions of a list.
std::vector<const BoundExpr*> ExprRefs(const std::vector<BoundExprPtr>& list);

}  // namespace dalimor
