#include "engine/sql/delete.h"

#include "engine/sql/expression.h"

namespace dalimor {

uint64_t RunDelete(const BoundStatement& statement, const SelectPipeline& scan,
                   SubqueryEvaluator& subqueries) {
  std::vector<uint64_t> ids;
  scan.ForEach(nullptr, ExprRefs(statement.select->where), &subqueries,
               [&](const Frame& frame, const EvalContext&) {
                 ids.push_back(frame.row_id);
                 return true;
               });
  if (!ids.empty()) statement.target->DeleteAll(ids);
  return ids.size();
}

}  // namespace dalimor
