#pragma once
// Paradox field types and the encodings of field values inside a record.
// The layout is described in docs/paradox_format.md ("Field types" and
// "Field values").  Everything here works on raw record bytes; blob fields
// (M B F O G) keep only their in-record part here, the blob file is handled
// by paradox_blob.h.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/value.h"
#include "platform/code_page.h"

namespace dalimor {

// Bytes after the leader of a blob field: offset, length, modification number.
inline constexpr int kBlobTrailerSize = 10;
// A BCD field always occupies 17 bytes; its descriptor holds the decimals.
inline constexpr int kBcdRecordSize = 17;
inline constexpr int kMaxBcdDecimals = 32;
inline constexpr int kBcdDigits = 32;
inline constexpr int kMaxAlphaSize = 255;
inline constexpr int kMaxBlobLeader = 240;
// Field names Paradox accepts are at most 25 characters long.
inline constexpr int kMaxFieldNameLength = 25;
// Paradox counts days from 1 January of year 1 (= day 1); this is the day
// number of 30 December 1899, day 0 of the engine's date-time numbers.
inline constexpr int64_t kParadoxDayOfDateTimeZero = 693594;
inline constexpr double kMillisecondsPerDay = 86400000.0;

// True for the type codes a Paradox 3-7 table can hold.
bool IsKnownFieldType(uint8_t code);
// Memo, binary, formatted memo, OLE and graphic fields: a leader plus a
// reference into the .MB file.
bool IsBlobType(FieldType type);
// True when the field type may be part of a primary key.
bool IsKeyableType(FieldType type);

// True when a descriptor read from a header (type code, size byte) is one
// Paradox writes.
bool IsValidDescriptor(uint8_t type_code, uint8_t size_byte);
// Bytes the field occupies in a record, from its descriptor.
int FieldRecordSize(FieldType type, int size_byte);
// FieldDef::size of a field with this descriptor, and back.
int FieldDefSize(FieldType type, int size_byte);
// Requires CheckFieldDef(def) to be empty.
uint8_t DescriptorSizeByte(const FieldDef& def);
// Empty when Paradox can hold the field's type and size; else what is wrong.
std::string CheckFieldDef(const FieldDef& def);

// True when `name` (UTF-8, as a table's header gives it) is a field name
// Paradox accepts that a statement can carry: 1 to kMaxFieldNameLength
// characters of letters (ASCII, Latin-1 and Latin Extended-A, so every Czech
// letter), digits, blanks (not the first character) and the punctuation
// Paradox allows in names, which leaves out quotes of both kinds, commas,
// parentheses, brackets and braces, "->" and a lone "#"; no control
// characters.  A damaged or crafted header fails it.
bool IsValidFieldName(std::string_view name);

// True when every byte of [p, p + n) is zero.
bool IsAllZero(const char* p, size_t n);

// Flipped big-endian integers (S, I, D, T, +, index counters): the two's
// complement value big-endian with the top bit toggled, so that the bytes
// compare like the numbers.  `width` is 2 or 4.  The all-zero pattern is
// NULL; the caller tests for it before decoding.
void EncodeFlippedInt(int64_t value, int width, char* out);
int64_t DecodeFlippedInt(const char* in, int width);

// Flipped doubles (N, $, @): big-endian IEEE value, top bit set for values
// >= 0, all bits inverted for negative values.  All zero is NULL.
void EncodeFlippedDouble(double value, char* out);
double DecodeFlippedDouble(const char* in);

// BCD (#): 17 bytes, see docs/paradox_format.md.  Encode fails (false) when
// the value does not fit into 32 - decimals integer digits or is not finite.
bool EncodeBcd(double value, int decimals, char* out);
// False for a NULL BCD value.
bool DecodeBcd(const char* in, int decimals, double& out);

// The value of a non-blob field stored at `bytes` (`width` bytes).  Text is
// converted from `code_page` to UTF-8.  Never throws.
Value DecodeFieldValue(FieldType type, const char* bytes, int width, CodePage code_page);

// Writes the value of a non-blob field into `out` (`width` bytes).  NULL
// writes zeros.  Accepted alternatives: int64_t or double for every numeric
// type (integers must be whole and in range), std::string (UTF-8) or Bytes
// (raw code-page bytes) for alpha, Date or Timestamp for dates, Time for
// times, Timestamp or Date for timestamps, bool for logicals, Bytes for
// bytes fields.  Alpha text longer than the field is cut to its size.
// Throws EngineError (kGeneral) naming the field for a value of the wrong
// kind, out of range, or with characters the code page lacks.
void EncodeFieldValue(const FieldDef& def, int width, const Value& value, CodePage code_page,
                      char* out);

// Converts UTF-8 text to the code page for storing, refusing (EngineError
// naming the field) characters the code page cannot represent.
std::string TextToCodePage(std::string_view utf8, CodePage code_page, std::string_view field_name);

// Paradox day numbers (1 = 1 January of year 1) and the engine's date numbers.
inline int64_t DateTimeDaysFromParadoxDays(int64_t paradox_days) {
  return paradox_days - kParadoxDayOfDateTimeZero;
}
inline int64_t ParadoxDaysFromDateTimeDays(int64_t days) { return days + kParadoxDayOfDateTimeZero; }

}  // namespace dalimor
