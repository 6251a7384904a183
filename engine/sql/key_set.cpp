#include "engine/sql/key_set.h"

#include <cstring>

namespace dalimor {
namespace {

uint64_t Mix(uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdull;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ull;
  x ^= x >> 33;
  return x;
}

}  // namespace

uint64_t KeySet::Hash(std::string_view key) {
  uint64_t h = 0x9e3779b97f4a7c15ull ^ key.size();
  size_t i = 0;
  for (; i + 8 <= key.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, key.data() + i, 8);
    h = Mix(h ^ word) * 0x9e3779b97f4a7c15ull;
  }
  uint64_t tail = 0;
  std::memcpy(&tail, key.data() + i, key.size() - i);
  return Mix(h ^ tail);
}

// The slot holding `key`, or the empty slot where it belongs.
size_t KeySet::SlotOf(std::string_view key, uint64_t hash) const {
  const size_t mask = slots_.size() - 1;
  for (size_t s = static_cast<size_t>(hash) & mask;; s = (s + 1) & mask) {
    const Slot& slot = slots_[s];
    if (slot.id == kNone || (slot.hash == hash && Key(slot.id) == key)) return s;
  }
}

void KeySet::Grow() {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(old.empty() ? 64 : old.size() * 2, Slot{});
  const size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.id == kNone) continue;
    size_t s = static_cast<size_t>(slot.hash) & mask;
    while (slots_[s].id != kNone) s = (s + 1) & mask;
    slots_[s] = slot;
  }
}

void KeySet::Reserve(size_t count) {
  keys_.reserve(count);
  while (slots_.size() < count * 2) Grow();
}

std::pair<uint32_t, bool> KeySet::Insert(std::string_view key) {
  // At most half the slots are used, so that probes stay short.
  if ((keys_.size() + 1) * 2 > slots_.size()) Grow();
  const uint64_t hash = Hash(key);
  Slot& slot = slots_[SlotOf(key, hash)];
  if (slot.id != kNone) return {slot.id, false};
  const auto id = static_cast<uint32_t>(keys_.size());
  keys_.push_back(Place{bytes_.size(), static_cast<uint32_t>(key.size())});
  bytes_.append(key);
  slot = Slot{hash, id};
  return {id, true};
}

uint32_t KeySet::Find(std::string_view key) const {
  if (slots_.empty()) return kNone;
  return slots_[SlotOf(key, Hash(key))].id;
}

}  // namespace dalimor
