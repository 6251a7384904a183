#pragma once
// The projection operator: turns the rows of a select's pipeline (or its
// groups, for an aggregate select) into result records.

#include <functional>

#include "engine/sql/pipeline.h"

namespace dalimor {

// Hands each result record of `pipeline`'s select to `sink`, in order;
// stops when `sink` returns false.  Returns false when stopped.
bool RunSelect(const SelectPipeline& pipeline, const Frame* outer, SubqueryEvaluator* subqueries,
               const std::function<bool(Record&& record)>& sink);

}  // namespace dalimor
