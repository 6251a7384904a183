#pragma once
// A small deterministic generator for the demo data.  splitmix64 gives the
// same sequence on every platform and standard library, which the
// <random> distributions do not promise.

#include <cstdint>
#include <span>
#include <string_view>

namespace dalimor {

class DemoRandom {
 public:
  explicit DemoRandom(uint64_t seed) : state_(seed) {}

  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }

  // A whole number in [low, high] (both included; low <= high).
  int Range(int low, int high) {
    const uint64_t span = static_cast<uint64_t>(static_cast<int64_t>(high) - low) + 1;
    return static_cast<int>(static_cast<int64_t>(low) + static_cast<int64_t>(Next() % span));
  }

  // True in about `percent` of a hundred calls.
  bool Chance(int percent) { return Range(0, 99) < percent; }

  // A number in [0, 1).
  double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }

  template <typename T>
  const T& Pick(std::span<const T> items) {
    return items[static_cast<size_t>(Next() % items.size())];
  }

 private:
  uint64_t state_;
};

// Folds a value into a seed, so that each document gets its own stream that
// does not depend on how many numbers the documents before it drew.
inline uint64_t MixSeed(uint64_t seed, uint64_t value) {
  DemoRandom r(seed ^ (value * 0xD1B54A32D192ED03ULL));
  r.Next();
  return r.Next();
}

inline uint64_t MixSeed(uint64_t seed, std::string_view text) {
  uint64_t h = 1469598103934665603ULL;  // FNV-1a
  for (const char c : text) h = (h ^ static_cast<uint8_t>(c)) * 1099511628211ULL;
  return MixSeed(seed, h);
}

}  // namespace dalimor
