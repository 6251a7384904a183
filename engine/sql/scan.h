#pragma once
// The scan operator: reads a table's rows, either streaming them to the
// operators above (the outermost table of a statement) or keeping the fields
// the statement reads in memory (joined tables and the tables of
// sub-selects, which are read once and probed many times).

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/sql/plan.h"

namespace dalimor {

class MaterializedTable {
 public:
  MaterializedTable() = default;
  // Reads every row of `table`, keeping the fields marked used.
  explicit MaterializedTable(const BoundTable& table);

  size_t size() const { return count_; }
  // The stored values of row `i`, in the order that remap() gives.
  const Value* Row(size_t i) const;
  uint64_t RowId(size_t i) const { return ids_[i]; }
  // Field number to stored position (-1 for fields not kept).
  const int* remap() const { return remap_.data(); }

 private:
  std::vector<Value> values_;
  std::vector<int> remap_;
  std::vector<uint64_t> ids_;
  size_t width_ = 0;
  size_t count_ = 0;
};

// Streams the rows of `table` to `visit` (values in field order; only the
// fields flagged in `fields` are read, the others are NULL); stops when it
// returns false.  Returns false when stopped early.  Throws EngineError
// when the table delivers a record of the wrong shape.
bool StreamTable(const BoundTable& table, const std::vector<bool>& fields,
                 const std::function<bool(const Value* row, uint64_t row_id)>& visit);

}  // namespace dalimor
