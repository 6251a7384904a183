#pragma once
// A set of byte strings for the hashes of joins and sub-selects: the keys
// live side by side in one buffer and the table holds only their hash and
// place, so that a million keys cost two allocations instead of two
// million, and a lookup touches one slot and the key it compares.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dalimor {

class KeySet {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;

  // The number of the key (0, 1, ... in the order keys were first added)
  // and whether it is new.
  std::pair<uint32_t, bool> Insert(std::string_view key);
  // Makes room for `count` keys without growing on the way.
  void Reserve(size_t count);
  // The number of the key, or kNone.
  uint32_t Find(std::string_view key) const;
  bool Contains(std::string_view key) const { return Find(key) != kNone; }
  size_t size() const { return keys_.size(); }

 private:
  struct Slot {
    uint64_t hash = 0;
    uint32_t id = kNone;  // kNone: the slot is empty
  };
  struct Place {
    uint64_t offset;
    uint32_t length;
  };

  static uint64_t Hash(std::string_view key);
  std::string_view Key(uint32_t id) const {
    return std::string_view(bytes_.data() + keys_[id].offset, keys_[id].length);
  }
  size_t SlotOf(std::string_view key, uint64_t hash) const;
  void Grow();

  std::string bytes_;
  std::vector<Place> keys_;
  std::vector<Slot> slots_;  // open addressing, a power of two in size
};

}  // namespace dalimor
