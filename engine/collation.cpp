#include "engine/collation.h"

#include <algorithm>
#include <cstring>

namespace dalimor {
namespace {

std::string_view TrimNul(std::string_view s) {
  while (!s.empty() && s.back() == '\0') s.remove_suffix(1);
  return s;
}

class ByteCollation final : public Collation {
 public:
  int Compare(std::string_view a, std::string_view b) const override {
    a = TrimNul(a);
    b = TrimNul(b);
    const size_t n = std::min(a.size(), b.size());
    if (const int c = n ? std::memcmp(a.data(), b.data(), n) : 0; c != 0) return c;
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
  }
  bool IsByteOrder() const override { return true; }
  std::string_view Name() const override { return "ascii"; }
};

}  // namespace

const Collation& Collation::Bytes() {
  static const ByteCollation bytes;
  return bytes;
}

// Placeholder until the national sort orders are in: byte order for all.
const Collation& Collation::ForDriver(std::string_view, uint8_t) { return Bytes(); }

}  // namespace dalimor
