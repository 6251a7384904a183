#include "engine/sql/aggregate.h"

#include <algorithm>

#include "engine/sql/expression.h"
#include "engine/sql/value_ops.h"

namespace dalimor {

namespace {

// The values of a group before any row: COUNT 0, MAX and MIN NULL.
std::vector<Value> InitialValues(const BoundSelect& select) {
  std::vector<Value> values(select.aggregates.size());
  for (size_t i = 0; i < values.size(); ++i)
    if (select.aggregates[i].func == AggregateFunc::kCount) values[i].emplace<int64_t>(0);
  return values;
}

}  // namespace

Aggregator::Aggregator(const BoundSelect& select) : select_(select) {}

Aggregator::Group& Aggregator::GroupFor(const EvalContext& ctx) {
  std::vector<Value> keys;
  std::string key;
  keys.reserve(select_.group_by.size());
  for (const auto& e : select_.group_by) {
    keys.push_back(Evaluate(*e, ctx));
    AppendSqlKey(key, keys.back());
  }
  const auto [it, inserted] = index_.try_emplace(std::move(key), groups_.size());
  if (inserted) {
    Group group;
    group.keys = std::move(keys);
    group.values = InitialValues(select_);
    groups_.push_back(std::move(group));
  }
  return groups_[it->second];
}

void Aggregator::Add(const EvalContext& ctx) {
  Group& group = GroupFor(ctx);
  Value scratch;
  for (size_t i = 0; i < select_.aggregates.size(); ++i) {
    const BoundAggregate& agg = select_.aggregates[i];
    Value& acc = group.values[i];
    if (!agg.arg) {
      ++std::get<int64_t>(acc);
      continue;
    }
    const Value& v = EvaluateRef(*agg.arg, ctx, scratch);
    if (IsNull(v)) continue;
    switch (agg.func) {
      case AggregateFunc::kCount: ++std::get<int64_t>(acc); break;
      case AggregateFunc::kMax:
        if (IsNull(acc) || CompareSqlValues(v, acc) > 0) acc = v;
        break;
      case AggregateFunc::kMin:
        if (IsNull(acc) || CompareSqlValues(v, acc) < 0) acc = v;
        break;
    }
  }
}

bool Aggregator::Emit(const Frame* outer, SubqueryEvaluator* subqueries,
                      const std::function<bool(const EvalContext&)>& emit) {
  if (groups_.empty() && select_.group_by.empty()) {
    Group group;
    group.values = InitialValues(select_);
    groups_.push_back(std::move(group));
  }
  std::vector<size_t> order(groups_.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    const auto& ka = groups_[a].keys;
    const auto& kb = groups_[b].keys;
    for (size_t i = 0; i < ka.size(); ++i) {
      const int c = CompareNullsFirst(ka[i], kb[i]);
      if (c != 0) return c < 0;
    }
    return false;
  });
  Frame frame;
  frame.outer = outer;
  for (size_t i : order) {
    const EvalContext ctx{&frame, groups_[i].keys.data(), groups_[i].values.data(), subqueries};
    if (!emit(ctx)) return false;
  }
  return true;
}

}  // namespace dalimor
