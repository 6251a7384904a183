#pragma once
// Field definitions and field values as the table engine hands them to its
// callers (the cursor API, local SQL, the transfer).  Text is UTF-8; the
// Paradox layer converts to and from the table's code page.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace dalimor {

// Paradox field types, by their on-disk codes.
enum class FieldType : uint8_t {
  kAlpha = 0x01,         // A: text, size 1..255 bytes
  kDate = 0x02,          // D
  kShort = 0x03,         // S: 16-bit integer
  kLong = 0x04,          // I: 32-bit integer
  kMoney = 0x05,         // $
  kNumber = 0x06,        // N: double
  kLogical = 0x09,       // L
  kMemo = 0x0C,          // M: text blob
  kBlob = 0x0D,          // B: binary blob
  kFormattedMemo = 0x0E, // F
  kOle = 0x0F,           // O
  kGraphic = 0x10,       // G
  kTime = 0x14,          // T
  kTimestamp = 0x15,     // @
  kAutoInc = 0x16,       // +
  kBcd = 0x17,           // #: size = number of decimals
  kBytes = 0x18,         // Y: raw bytes, size 1..255
};

// The Paradox type letter (A N $ D S I # L M F G O B T @ + Y).
char FieldTypeLetter(FieldType type);
// The type of a letter; false for an unknown letter.
bool FieldTypeFromLetter(char letter, FieldType& out);

// One field of a table.  `size` is what Paradox's table-definition tools
// take: alpha and bytes 1..255, blob types the in-record leader (the field
// occupies 10 bytes more), BCD the number of decimals, 0 for fixed types.
struct FieldDef {
  std::string name;
  FieldType type = FieldType::kAlpha;
  int size = 0;
};

// A field value.  The alternatives, by field type:
//   NULL                     -> std::monostate
//   S, I, +                  -> int64_t
//   N, $, #                  -> double
//   A, M, F                  -> std::string (UTF-8 text)
//   L                        -> bool
//   D                        -> Date (days since 30 Dec 1899, as a date-time number)
//   T                        -> Time (milliseconds since midnight)
//   @                        -> Timestamp (date-time number with the time as fraction)
//   B, G, O, Y               -> Bytes (raw bytes; G and O without their 8-byte prefix)
struct Date {
  double value = 0;  // whole days
  friend bool operator==(const Date&, const Date&) = default;
};
struct Time {
  int64_t milliseconds = 0;
  friend bool operator==(const Time&, const Time&) = default;
};
struct Timestamp {
  double value = 0;
  friend bool operator==(const Timestamp&, const Timestamp&) = default;
};
struct Bytes {
  std::string data;
  friend bool operator==(const Bytes&, const Bytes&) = default;
};

using Value = std::variant<std::monostate, int64_t, double, std::string, bool, Date, Time,
                           Timestamp, Bytes>;

inline bool IsNull(const Value& v) { return std::holds_alternative<std::monostate>(v); }

// One record: a value per field, in field order.
using Record = std::vector<Value>;

}  // namespace dalimor
