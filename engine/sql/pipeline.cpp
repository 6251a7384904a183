#include "engine/sql/pipeline.h"

#include "engine/sql/filter.h"

namespace dalimor {

SelectPipeline::SelectPipeline(const BoundSelect& select, bool stream_first)
    : select_(select), stream_first_(stream_first), stream_fields_(select.tables[0].used) {}

void SelectPipeline::Prepare() {
  if (prepared_) return;
  prepared_ = true;
  if (!stream_first_) {
    first_ = MaterializedTable(select_.tables[0]);
    remaps_[0] = first_.remap();
  }
  for (size_t k = 0; k < select_.joins.size(); ++k) {
    const int slot = static_cast<int>(k) + 1;
    joins_.push_back(std::make_unique<HashJoin>(select_.joins[k], slot, select_.tables[slot]));
    remaps_[slot] = joins_.back()->table().remap();
  }
}

bool SelectPipeline::ForEach(const Frame* outer, const std::vector<const BoundExpr*>& conditions,
                             SubqueryEvaluator* subqueries, const Visit& visit) const {
  Frame frame;
  frame.outer = outer;
  frame.remaps = remaps_;
  const EvalContext ctx{&frame, nullptr, nullptr, subqueries};
  if (stream_first_) {
    return StreamTable(select_.tables[0], stream_fields_, [&](const Value* row, uint64_t row_id) {
      frame.rows[0] = row;
      frame.row_id = row_id;
      return Descend(1, frame, ctx, conditions, visit);
    });
  }
  for (size_t i = 0; i < first_.size(); ++i) {
    frame.rows[0] = first_.Row(i);
    frame.row_id = first_.RowId(i);
    if (!Descend(1, frame, ctx, conditions, visit)) return false;
  }
  return true;
}

bool SelectPipeline::Descend(size_t slot, Frame& frame, const EvalContext& ctx,
                             const std::vector<const BoundExpr*>& conditions,
                             const Visit& visit) const {
  if (slot == select_.tables.size()) {
    if (!PassesAll(conditions, ctx)) return true;
    return visit(frame, ctx);
  }
  return joins_[slot - 1]->Probe(
      frame, ctx, [&] { return Descend(slot + 1, frame, ctx, conditions, visit); });
}

}  // namespace dalimor
