#include "engine/sql/hash_join.h"

namespace dalimor {

void KeyIndex::Add(std::string_view key, uint32_t value) {
  const auto position = static_cast<uint32_t>(values_.size());
  values_.push_back(value);
  next_.push_back(kEnd);
  const auto [id, inserted] = keys_.Insert(key);
  if (inserted) {
    chains_.emplace_back(position, position);
  } else {
    next_[chains_[id].second] = position;
    chains_[id].second = position;
  }
}

uint32_t KeyIndex::Find(std::string_view key) const {
  const uint32_t id = keys_.Find(key);
  return id == KeySet::kNone ? kEnd : chains_[id].first;
}

HashJoin::HashJoin(const BoundJoin& join, int slot, const BoundTable& table)
    : slot_(slot),
      left_outer_(join.left_outer),
      table_(table),
      left_keys_(ExprRefs(join.left_keys)),
      right_keys_(ExprRefs(join.right_keys)),
      residual_(ExprRefs(join.residual)) {
  if (!hashed()) return;
  // The right-hand keys read the joined table alone.
  Frame frame;
  frame.remaps[slot_] = table_.remap();
  const EvalContext ctx{&frame, nullptr, nullptr, nullptr};
  std::string key;
  for (size_t i = 0; i < table_.size(); ++i) {
    frame.rows[slot_] = table_.Row(i);
    key.clear();
    if (BuildKey(right_keys_, ctx, key)) index_.Add(key, static_cast<uint32_t>(i));
  }
}

}  // namespace dalimor
