#pragma once
// The rows of one select before projection: the scan of its FROM table, its
// joins in order, then its conditions.  The outermost select of a statement
// streams its FROM table; every other table is read into memory once when
// the pipeline is prepared, so no table is ever scanned while another scan
// of the statement is running.

#include <functional>
#include <memory>
#include <vector>

#include "engine/sql/hash_join.h"
#include "engine/sql/runtime.h"
#include "engine/sql/scan.h"

namespace dalimor {

class SelectPipeline {
 public:
  SelectPipeline(const BoundSelect& select, bool stream_first);

  // Reads the in-memory tables and builds the join hashes; once.
  void Prepare();

  // The fields of the streamed table to read (by default those the select
  // reads anywhere).
  void set_stream_fields(std::vector<bool> fields) { stream_fields_ = std::move(fields); }

  const BoundSelect& select() const { return select_; }
  // The remap of each table (null for a streamed one).
  const std::array<const int*, kSqlMaxTables>& remaps() const { return remaps_; }

  using Visit = std::function<bool(const Frame& frame, const EvalContext& ctx)>;
  // Calls `visit` for each combination of rows that the joins produce and
  // that passes all `conditions`, with `outer` as the enclosing frame.
  // Returns false when `visit` stopped the walk.
  bool ForEach(const Frame* outer, const std::vector<const BoundExpr*>& conditions,
               SubqueryEvaluator* subqueries, const Visit& visit) const;

 private:
  bool Descend(size_t slot, Frame& frame, const EvalContext& ctx,
               const std::vector<const BoundExpr*>& conditions, const Visit& visit) const;

  const BoundSelect& select_;
  bool stream_first_;
  std::vector<bool> stream_fields_;
  bool prepared_ = false;
  MaterializedTable first_;
  std::vector<std::unique_ptr<HashJoin>> joins_;
  std::array<const int*, kSqlMaxTables> remaps_{};
};

}  // namespace dalimor
