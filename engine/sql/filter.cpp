#include "engine/sql/filter.h"

#include "engine/sql/expression.h"

namespace dalimor {

bool PassesAll(const std::vector<const BoundExpr*>& conditions, const EvalContext& ctx) {
  for (const BoundExpr* c : conditions)
    if (EvaluateTruth(*c, ctx) != Truth::kTrue) return false;
  return true;
}

}  // namespace dalimor
