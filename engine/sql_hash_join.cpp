#include "engine/sql_hash_join.h"

namespace dalimor {

void KeyIndex::Add(std::string key, uint32_t value) {
  const auto position = static_cast<uint32_t>(values_.size());
  values_.push_back(value);
  next_.push_back(kEnd);
  const auto [it, inserted] = chains_.try_emplace(std::move(key), position, position);
  if (!inserted) {
    next_[it->second.second] = position;
    it->second.second = position;
  }
}

uint32_t KeyIndex::Find(const std::string& key) const {
  const auto it = chains_.find(key);
  return it == chains_.end() ? kEnd : it->second.first;
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
  for (size_t i = 0; i < table_.size(); ++i) {
    frame.rows[slot_] = table_.Row(i);
    std::string key;
    if (BuildKey(right_keys_, ctx, key)) index_.Add(std::move(key), static_cast<uint32_t>(i));
  }
}

}  // namespace dalimor
