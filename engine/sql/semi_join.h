#pragma once
// The semi-join operator behind EXISTS and IN (sub-select).  Everything that
// does not depend on the outer row is done once per statement:
//  - an uncorrelated EXISTS is decided once;
//  - an uncorrelated IN hashes the sub-select's values once;
//  - a correlated sub-select whose condition holds equalities between its
//    own columns and outer ones hashes its rows on them once, and each outer
//    row looks its candidates up (then tests any other conditions);
//  - other shapes walk the sub-select's in-memory rows per outer row.
// IN follows three-valued logic: NULL IN (...) is unknown unless the
// sub-select is empty, and a value not found is unknown when the sub-select
// gave a NULL.

#include <string>
#include <vector>

#include "engine/sql/hash_join.h"
#include "engine/sql/key_set.h"
#include "engine/sql/pipeline.h"

namespace dalimor {

class SubqueryRuntime {
 public:
  // `statement` answers the sub-selects nested in this one.
  SubqueryRuntime(const BoundSubquery& subquery, SubqueryEvaluator& statement);

  // Reads the sub-select's tables and builds its hashes; once.
  void Prepare();

  Truth Exists(const Frame& outer);
  Truth In(const Value& value, const Frame& outer);

 private:
  using CandidateVisit = std::function<bool(const EvalContext& inner)>;
  // Calls `visit` for each row of the sub-select that satisfies its WHERE
  // for the outer row (non-aggregate strategies).
  void ForEachCandidate(const Frame& outer, const CandidateVisit& visit);
  Truth Accumulate(const Value& value, const Value& candidate, Truth so_far) const;

  const BoundSubquery& sub_;
  SubqueryEvaluator& statement_;
  SelectPipeline pipeline_;
  std::vector<const BoundExpr*> where_;
  bool prepared_ = false;
  Truth constant_ = Truth::kFalse;
  // kValueSet
  KeySet values_;
  bool has_rows_ = false;
  bool has_null_ = false;
  // kHashed
  bool keys_only_ = false;
  KeySet keys_;
  KeyIndex index_;
  std::string scratch_;  // the key of the outer row being looked up
  std::vector<const Value*> combos_;  // the rows of each candidate, one per table
};

}  // namespace dalimor
