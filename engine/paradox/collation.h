#pragma once
// Orders alpha key values the way the table's language driver does.  Paradox
// keeps every keyed table in this order, so an insert must use the very
// comparison the Borland engine used, or its index searches miss records.
// The rules, and which parts of them are certain, are in docs/collation.md.

#include <cstdint>
#include <string>
#include <string_view>

namespace dalimor {

class Collation {
 public:
  // The collation of a table's language driver, chosen by the sort-order
  // name stored at the end of the header ("ascii", "intl", "ANSIINTL",
  // "anczechw" ...) and, for tables without that name (levels 3.0/3.5), by
  // the sort-order byte at 0x29.  Unknown drivers fall back to byte order.
  static const Collation& ForDriver(std::string_view sort_order_name, uint8_t sort_order_id);
  // Plain byte order (the "ascii" drivers).
  static const Collation& Bytes();

  virtual ~Collation() = default;

  // Compares two alpha values given as the raw code-page bytes of the field
  // (trailing NUL padding is ignored).  Negative, zero or positive.
  virtual int Compare(std::string_view a, std::string_view b) const = 0;
  // Appends to `out` a key of the value (raw code-page bytes, trailing NUL
  // padding ignored, nothing after a NUL) such that two values' keys,
  // compared as byte strings (memcmp, a key that is a prefix of the other
  // first), order them as Compare does.  Keys of different values are never
  // prefixes of each other, so keys of several fields may be concatenated.
  virtual void AppendSortKey(std::string_view value, std::string& out) const = 0;
  // True when the collation is plain byte order, so raw bytes may be compared.
  virtual bool IsByteOrder() const = 0;
  // The driver name this collation answers to, e.g. "ascii" or "anczechw".
  virtual std::string_view Name() const = 0;
};

}  // namespace dalimor
