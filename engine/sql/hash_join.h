#pragma once
// The join operator.  The joined table is read once and hashed on the
// right-hand sides of the ON equalities; each row of the tables before it
// looks its matches up by the left-hand sides, so an equality join costs one
// pass over each table.  An ON clause without such an equality falls back
// to trying every row.  Remaining ON conditions are tested per match; a left
// outer join hands on the NULL row when nothing matches.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/sql/expression.h"
#include "engine/sql/filter.h"
#include "engine/sql/key_set.h"
#include "engine/sql/scan.h"

namespace dalimor {

// Hash keys (from BuildKey) to the values added under them, in the order
// they were added.
class KeyIndex {
 public:
  static constexpr uint32_t kEnd = UINT32_MAX;

  void Add(std::string_view key, uint32_t value);
  // The position of the first value under `key`, or kEnd.
  uint32_t Find(std::string_view key) const;
  uint32_t NextAt(uint32_t position) const { return next_[position]; }
  uint32_t ValueAt(uint32_t position) const { return values_[position]; }

 private:
  KeySet keys_;
  std::vector<std::pair<uint32_t, uint32_t>> chains_;  // first, last position, by key number
  std::vector<uint32_t> values_;
  std::vector<uint32_t> next_;
};

class HashJoin {
 public:
  // Reads and hashes table `slot` of the select the join belongs to.
  HashJoin(const BoundJoin& join, int slot, const BoundTable& table);

  const MaterializedTable& table() const { return table_; }
  bool hashed() const { return !left_keys_.empty(); }

  // Calls next() with frame.rows[slot] set to each matching row (and to the
  // NULL row for an outer join without match).  `ctx` evaluates over `frame`.
  // Returns false as soon as next() does.
  template <typename Next>
  bool Probe(Frame& frame, const EvalContext& ctx, Next&& next) const {
    bool matched = false;
    auto try_row = [&](size_t i) {
      frame.rows[slot_] = table_.Row(i);
      if (!PassesAll(residual_, ctx)) return true;
      matched = true;
      return next();
    };
    if (hashed()) {
      std::string key;
      if (BuildKey(left_keys_, ctx, key)) {
        for (uint32_t p = index_.Find(key); p != KeyIndex::kEnd; p = index_.NextAt(p))
          if (!try_row(index_.ValueAt(p))) return false;
      }
    } else {
      for (size_t i = 0; i < table_.size(); ++i)
        if (!try_row(i)) return false;
    }
    frame.rows[slot_] = nullptr;
    if (!matched && left_outer_) return next();
    return true;
  }

 private:
  int slot_;
  bool left_outer_;
  MaterializedTable table_;
  KeyIndex index_;
  std::vector<const BoundExpr*> left_keys_;
  std::vector<const BoundExpr*> right_keys_;
  std::vector<const BoundExpr*> residual_;
};

}  // namespace dalimor
