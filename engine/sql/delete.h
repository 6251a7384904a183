#pragma once
// The delete operator: walks the target with the statement's condition,
// collects the ids of the rows to go, and only then asks the table to delete
// them all or none.

#include <cstdint>

#include "engine/sql/pipeline.h"

namespace dalimor {

// Returns the number of rows deleted.  Throws EngineError when the table
// refuses; nothing is deleted then.
uint64_t RunDelete(const BoundStatement& statement, const SelectPipeline& scan,
                   SubqueryEvaluator& subqueries);

}  // namespace dalimor
