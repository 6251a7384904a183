#pragma once
// The insert operator: collects every row of INSERT ... SELECT (or VALUES),
// converts each value to its target field, and only then hands all rows to
// the target table, which inserts them all or none.

#include <cstdint>

#include "engine/sql/pipeline.h"

namespace dalimor {

// Returns the number of rows inserted.  `source` is null for VALUES.  When
// the target can take the rows of INSERT ... SELECT as the source table
// stores them (SqlTable::CopierFrom), they are copied so, and the scan of
// the source reads only the fields the conditions need.
// Throws EngineError when a value does not fit its field or the table
// refuses the rows; the target is unchanged then.  An error about a field
// (one with a "Field: " line) names the target in a "Table: " line and the
// FROM table of INSERT ... SELECT in a "Source table: " line.
uint64_t RunInsert(const BoundStatement& statement, SelectPipeline* source,
                   SubqueryEvaluator& subqueries);

}  // namespace dalimor
