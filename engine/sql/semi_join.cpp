#include "engine/sql/semi_join.h"

#include "engine/sql/expression.h"
#include "engine/sql/filter.h"
#include "engine/sql/project.h"
#include "engine/sql/value_ops.h"

namespace dalimor {
namespace {

// A sub-select whose rows are walked once, when it is prepared, and not
// kept: EXISTS decided once, IN over a value set, or EXISTS looked up by
// its keys alone.  Its table can then stream instead of being read into
// memory, as long as nothing else runs a scan meanwhile (no joins, no
// sub-selects of its own).
bool WalkedOnce(const BoundSubquery& sub) {
  const BoundSelect& select = *sub.select;
  if (!select.joins.empty() || !select.subqueries.empty()) return false;
  switch (sub.strategy) {
    case SubqueryStrategy::kConstant: return !select.aggregate;
    case SubqueryStrategy::kValueSet: return true;
    case SubqueryStrategy::kHashed: return !sub.is_in && sub.residual.empty();
    case SubqueryStrategy::kNestedLoop:
    case SubqueryStrategy::kExecuteEach: return false;
  }
  return false;
}

}  // namespace

SubqueryRuntime::SubqueryRuntime(const BoundSubquery& subquery, SubqueryEvaluator& statement)
    : sub_(subquery),
      statement_(statement),
      pipeline_(*subquery.select, WalkedOnce(subquery)),
      where_(ExprRefs(subquery.select->where)) {}

void SubqueryRuntime::Prepare() {
  if (prepared_) return;
  prepared_ = true;
  const BoundSelect& select = *sub_.select;
  if (sub_.strategy == SubqueryStrategy::kConstant && select.aggregate) {
    constant_ = Truth::kTrue;  // an aggregate without GROUP BY always gives one row
    return;
  }
  pipeline_.Prepare();
  switch (sub_.strategy) {
    case SubqueryStrategy::kConstant:
      pipeline_.ForEach(nullptr, where_, &statement_, [&](const Frame&, const EvalContext&) {
        constant_ = Truth::kTrue;
        return false;
      });
      break;
    case SubqueryStrategy::kValueSet:
      RunSelect(pipeline_, nullptr, &statement_, [&](Record&& record) {
        has_rows_ = true;
        if (IsNull(record[0])) {
          has_null_ = true;
        } else {
          scratch_.clear();
          AppendSqlKey(scratch_, record[0]);
          values_.Insert(scratch_);
        }
        return true;
      });
      break;
    case SubqueryStrategy::kHashed: {
      keys_only_ = !sub_.is_in && sub_.residual.empty();
      if (keys_only_ && select.joins.empty())
        keys_.Reserve(static_cast<size_t>(select.tables[0].table->SizeHint()));
      const size_t tables = select.tables.size();
      pipeline_.ForEach(nullptr, sub_.prefilter, &statement_,
                        [&](const Frame& frame, const EvalContext& ctx) {
                          scratch_.clear();
                          if (!BuildKey(sub_.inner_keys, ctx, scratch_)) return true;
                          if (keys_only_) {
                            keys_.Insert(scratch_);
                            return true;
                          }
                          const auto combo = static_cast<uint32_t>(combos_.size() / tables);
                          combos_.insert(combos_.end(), frame.rows.begin(),
                                         frame.rows.begin() + static_cast<long>(tables));
                          index_.Add(scratch_, combo);
                          return true;
                        });
      break;
    }
    case SubqueryStrategy::kNestedLoop:
    case SubqueryStrategy::kExecuteEach: break;
  }
}

void SubqueryRuntime::ForEachCandidate(const Frame& outer, const CandidateVisit& visit) {
  if (sub_.strategy == SubqueryStrategy::kNestedLoop) {
    pipeline_.ForEach(&outer, where_, &statement_,
                      [&](const Frame&, const EvalContext& ctx) { return visit(ctx); });
    return;
  }
  // kHashed: look the outer row's key up among the hashed rows.
  Frame frame;
  frame.outer = &outer;
  frame.remaps = pipeline_.remaps();
  const EvalContext ctx{&frame, nullptr, nullptr, &statement_};
  std::string key;
  if (!BuildKey(sub_.outer_keys, ctx, key)) return;
  const size_t tables = sub_.select->tables.size();
  for (uint32_t p = index_.Find(key); p != KeyIndex::kEnd; p = index_.NextAt(p)) {
    const Value* const* rows = combos_.data() + static_cast<size_t>(index_.ValueAt(p)) * tables;
    for (size_t t = 0; t < tables; ++t) frame.rows[t] = rows[t];
    if (!PassesAll(sub_.residual, ctx)) continue;
    if (!visit(ctx)) return;
  }
}

Truth SubqueryRuntime::Exists(const Frame& outer) {
  Prepare();
  if (sub_.strategy == SubqueryStrategy::kConstant) return constant_;
  if (keys_only_) {
    Frame frame;
    frame.outer = &outer;
    const EvalContext ctx{&frame, nullptr, nullptr, &statement_};
    scratch_.clear();
    if (!BuildKey(sub_.outer_keys, ctx, scratch_)) return Truth::kFalse;
    return keys_.Contains(scratch_) ? Truth::kTrue : Truth::kFalse;
  }
  bool found = false;
  ForEachCandidate(outer, [&](const EvalContext&) {
    found = true;
    return false;
  });
  return found ? Truth::kTrue : Truth::kFalse;
}

Truth SubqueryRuntime::Accumulate(const Value& value, const Value& candidate,
                                  Truth so_far) const {
  if (IsNull(value) || IsNull(candidate)) return Truth::kUnknown;
  if (CompareSqlValues(value, candidate) == 0) return Truth::kTrue;
  return so_far;
}

Truth SubqueryRuntime::In(const Value& value, const Frame& outer) {
  Prepare();
  if (sub_.strategy == SubqueryStrategy::kValueSet) {
    if (!has_rows_) return Truth::kFalse;
    if (IsNull(value)) return Truth::kUnknown;
    scratch_.clear();
    AppendSqlKey(scratch_, value);
    if (values_.Contains(scratch_)) return Truth::kTrue;
    return has_null_ ? Truth::kUnknown : Truth::kFalse;
  }
  Truth result = Truth::kFalse;
  if (sub_.strategy == SubqueryStrategy::kExecuteEach) {
    RunSelect(pipeline_, &outer, &statement_, [&](Record&& record) {
      result = Accumulate(value, record[0], result);
      return result != Truth::kTrue;
    });
    return result;
  }
  const BoundExpr& output = *sub_.select->outputs[0];
  ForEachCandidate(outer, [&](const EvalContext& ctx) {
    Value scratch;
    result = Accumulate(value, EvaluateRef(output, ctx, scratch), result);
    return result != Truth::kTrue;
  });
  return result;
}

}  // namespace dalimor
