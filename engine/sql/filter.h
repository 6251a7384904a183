#pragma once
// The filter operator: a row passes when every condition is true (false and
// unknown both reject it).

#include <vector>

#include "engine/sql/runtime.h"

namespace dalimor {

bool PassesAll(const std::vector<const BoundExpr*>& conditions, const EvalContext& ctx);

}  // namespace dalimor
