#pragma once
// How local SQL treats field values: the static type of an expression,
// comparison (three-valued, strings in exact byte order), hash keys that agree
// with comparison, date literals, the text of CAST and the conversion of a
// value into a target field.

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/value.h"

namespace dalimor {

enum class SqlType : uint8_t {
  kNull,  // the NULL literal: fits anywhere
  kBool,
  kInteger,
  kFloat,
  kString,
  kDate,
  kTime,
  kTimestamp,
  kBytes,
};

SqlType SqlTypeOfField(FieldType type);
bool IsNumericType(SqlType type);
// True when values of the two types can be compared with each other (numbers
// with numbers, dates with timestamps, each other type with itself, NULL with
// everything).
bool AreComparable(SqlType a, SqlType b);
const char* SqlTypeName(SqlType type);

// Three-way comparison of two non-NULL values of comparable types: numbers by
// value, strings and bytes in unsigned byte order, dates and timestamps as
// date-time numbers, false before true.  Values of types that do not compare
// are ordered by type, so the result is a total order in every case.
int CompareSqlValues(const Value& a, const Value& b);
// As CompareSqlValues, with NULL before every other value.
int CompareNullsFirst(const Value& a, const Value& b);

// Appends a canonical encoding of a non-NULL value: two values get the same
// encoding exactly when CompareSqlValues finds them equal.
void AppendSqlKey(std::string& key, const Value& value);

// A date literal "mm/dd/yyyy" (month and day of one or two digits), for a
// timestamp optionally followed by " hh:mm" or " hh:mm:ss".  False when the
// text is not such a date or names no real day.
bool ParseSqlDate(std::string_view text, bool with_time, Value& out);
// A number written as text: an int64_t when it is a whole number in range,
// else a double.  False when the text is not a number.
bool ParseSqlNumber(std::string_view text, Value& out);
// "mm/dd/yyyy" of a date-time number.
std::string FormatSqlDate(double date_time);

// Decimal text of a number: integers without fraction, others in the
// shortest form that reads back to the same double.
std::string FormatSqlNumber(double value);
// The text of a value as CAST(... AS CHAR(n)) gives it before cutting:
// numbers in decimal, dates "mm/dd/yyyy", timestamps "mm/dd/yyyy hh:mm:ss",
// times "hh:mm:ss", logicals "TRUE"/"FALSE", text unchanged.
std::string SqlValueText(const Value& value);

// Characters of UTF-8 text, and its first `count` characters.
size_t Utf8Length(std::string_view text);
std::string Utf8Prefix(std::string_view text, size_t count);

// True when a value of `from` may be stored into a field of `to` (the check
// made before a statement runs; the value itself may still not fit).
bool CanStoreInField(SqlType from, FieldType to);
// The value converted for storage in `field`: text into alpha (numbers as
// decimal text), numbers and numeric text into number fields, dates from
// timestamps and date text, and so on.  Throws EngineError (kGeneral) naming
// the field when the value does not fit: text longer than the field, a
// number outside the field's range or with a fraction for an integer field,
// text that is not a number or a date.
Value ConvertForField(const Value& value, const FieldDef& field);

}  // namespace dalimor
