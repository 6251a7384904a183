#pragma once
// The aggregate operator: groups rows by the GROUP BY columns in a hash
// table and keeps MAX, MIN and COUNT per group.  Groups come out ordered by
// their GROUP BY values (NULL first, text in byte order); a select with
// aggregates and no GROUP BY makes exactly one group, also over no rows
// (MAX and MIN are NULL then, COUNT 0).

#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/sql/runtime.h"

namespace dalimor {

class Aggregator {
 public:
  explicit Aggregator(const BoundSelect& select);

  // Adds the row that `ctx` evaluates over.
  void Add(const EvalContext& ctx);

  // Calls `emit` for each group in order with a context whose group keys
  // and aggregates are the group's; `outer` is the enclosing frame.
  // Returns false when `emit` stopped.
  bool Emit(const Frame* outer, SubqueryEvaluator* subqueries,
            const std::function<bool(const EvalContext&)>& emit);

 private:
  struct Group {
    std::vector<Value> keys;
    std::vector<Value> values;  // one per aggregate
  };
  Group& GroupFor(const EvalContext& ctx);

  const BoundSelect& select_;
  std::unordered_map<std::string, size_t> index_;
  std::vector<Group> groups_;
};

}  // namespace dalimor
