#include "engine/sql/project.h"

#include "engine/sql/aggregate.h"
#include "engine/sql/expression.h"

namespace dalimor {
namespace {

Record Project(const BoundSelect& select, const EvalContext& ctx) {
  Record record;
  record.reserve(select.outputs.size());
  for (const auto& e : select.outputs) record.push_back(Evaluate(*e, ctx));
  return record;
}

}  // namespace

bool RunSelect(const SelectPipeline& pipeline, const Frame* outer, SubqueryEvaluator* subqueries,
               const std::function<bool(Record&& record)>& sink) {
  const BoundSelect& select = pipeline.select();
  const auto where = ExprRefs(select.where);
  if (!select.aggregate) {
    return pipeline.ForEach(outer, where, subqueries, [&](const Frame&, const EvalContext& ctx) {
      return sink(Project(select, ctx));
    });
  }
  Aggregator aggregator(select);
  pipeline.ForEach(outer, where, subqueries, [&](const Frame&, const EvalContext& ctx) {
    aggregator.Add(ctx);
    return true;
  });
  return aggregator.Emit(outer, subqueries,
                         [&](const EvalContext& ctx) { return sink(Project(select, ctx)); });
}

}  // namespace dalimor
