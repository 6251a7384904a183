#include "engine/sql/value_ops.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "engine/engine_error.h"
#include "engine/sql/error.h"
#include "util/calendar.h"

namespace dalimor {
namespace {

constexpr double kTwoTo63 = 9223372036854775808.0;
constexpr double kMillisecondsPerDay = 86400000.0;

// Comparison classes of the value alternatives; values of one class compare
// with each other.
enum class Class { kNull, kNumber, kString, kBool, kDateTime, kTime, kBytes };

Class ClassOf(const Value& v) {
  switch (v.index()) {
    case 0: return Class::kNull;
    case 1:
    case 2: return Class::kNumber;
    case 3: return Class::kString;
    case 4: return Class::kBool;
    case 5:
    case 7: return Class::kDateTime;
    case 6: return Class::kTime;
    default: return Class::kBytes;
  }
}

template <typename T>
int Sign(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

int CompareDoubles(double a, double b) {
  const bool na = std::isnan(a);
  const bool nb = std::isnan(b);
  if (na || nb) return na == nb ? 0 : (na ? 1 : -1);
  return Sign(a, b);
}

int CompareIntDouble(int64_t a, double b) {
  if (std::isnan(b)) return -1;
  if (b >= kTwoTo63) return -1;
  if (b < -kTwoTo63) return 1;
  const double floor_b = std::floor(b);
  const auto whole = static_cast<int64_t>(floor_b);
  if (a != whole) return Sign(a, whole);
  return b > floor_b ? -1 : 0;
}

int CompareBytes(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  const int c = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
  if (c != 0) return c < 0 ? -1 : 1;
  return Sign(a.size(), b.size());
}

double DateTimeOf(const Value& v) {
  if (const auto* d = std::get_if<Date>(&v)) return d->value;
  return std::get<Timestamp>(v).value;
}

void AppendFixed(std::string& key, uint64_t bits) {
  for (int shift = 56; shift >= 0; shift -= 8) key.push_back(static_cast<char>(bits >> shift));
}

void AppendLength(std::string& key, size_t length) {
  while (length >= 0x80) {
    key.push_back(static_cast<char>(0x80 | (length & 0x7F)));
    length >>= 7;
  }
  key.push_back(static_cast<char>(length));
}

void AppendDouble(std::string& key, char tag, double value) {
  if (value == 0) value = 0;  // -0 and +0 are one value
  if (std::isnan(value)) value = std::numeric_limits<double>::quiet_NaN();
  key.push_back(tag);
  AppendFixed(key, std::bit_cast<uint64_t>(value));
}

[[noreturn]] void NoFit(const FieldDef& field, const Value& value) {
  throw EngineError(EngineErrorKind::kGeneral,
                    "Value does not fit the field.\nField: " + field.name +
                        "\nValue: " + SqlTokenForMessage(SqlValueText(value)));
}

[[noreturn]] void Mismatch(const FieldDef& field) {
  throw EngineError(EngineErrorKind::kSql, "Type mismatch in expression.\nField: " + field.name);
}

bool ParseInt(std::string_view text, int64_t& out) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

bool ParseDouble(std::string_view text, double& out) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

// Reads 1..max_digits digits at `pos`.
bool ReadNumber(std::string_view text, size_t& pos, size_t max_digits, int& out) {
  size_t digits = 0;
  out = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < max_digits) {
    out = out * 10 + (text[pos] - '0');
    ++pos;
    ++digits;
  }
  return digits > 0;
}

Value ToInteger(const Value& value, const FieldDef& field, int64_t limit) {
  int64_t result = 0;
  if (const auto* i = std::get_if<int64_t>(&value)) {
    result = *i;
  } else if (const auto* d = std::get_if<double>(&value)) {
    if (!(std::floor(*d) == *d) || std::fabs(*d) > static_cast<double>(limit)) NoFit(field, value);
    result = static_cast<int64_t>(*d);
  } else if (const auto* s = std::get_if<std::string>(&value)) {
    if (!ParseInt(*s, result)) NoFit(field, value);
  } else {
    Mismatch(field);
  }
  if (result > limit || result < -limit) NoFit(field, value);
  return result;
}

Value ToText(const Value& value, const FieldDef& field, bool sized) {
  std::string text;
  if (const auto* s = std::get_if<std::string>(&value)) {
    text = *s;
  } else if (std::holds_alternative<int64_t>(value) || std::holds_alternative<double>(value)) {
    text = SqlValueText(value);
  } else {
    Mismatch(field);
  }
  if (sized && field.size > 0 && Utf8Length(text) > static_cast<size_t>(field.size))
    NoFit(field, value);
  return text;
}

}  // namespace

SqlType SqlTypeOfField(FieldType type) {
  switch (type) {
    case FieldType::kAlpha:
    case FieldType::kMemo:
    case FieldType::kFormattedMemo: return SqlType::kString;
    case FieldType::kShort:
    case FieldType::kLong:
    case FieldType::kAutoInc: return SqlType::kInteger;
    case FieldType::kNumber:
    case FieldType::kMoney:
    case FieldType::kBcd: return SqlType::kFloat;
    case FieldType::kLogical: return SqlType::kBool;
    case FieldType::kDate: return SqlType::kDate;
    case FieldType::kTime: return SqlType::kTime;
    case FieldType::kTimestamp: return SqlType::kTimestamp;
    case FieldType::kBlob:
    case FieldType::kOle:
    case FieldType::kGraphic:
    case FieldType::kBytes: return SqlType::kBytes;
  }
  return SqlType::kBytes;
}

bool IsNumericType(SqlType type) { return type == SqlType::kInteger || type == SqlType::kFloat; }

bool AreComparable(SqlType a, SqlType b) {
  if (a == SqlType::kNull || b == SqlType::kNull) return true;
  if (IsNumericType(a) && IsNumericType(b)) return true;
  const auto is_date = [](SqlType t) { return t == SqlType::kDate || t == SqlType::kTimestamp; };
  if (is_date(a) && is_date(b)) return true;
  return a == b;
}

const char* SqlTypeName(SqlType type) {
  switch (type) {
    case SqlType::kNull: return "NULL";
    case SqlType::kBool: return "logical";
    case SqlType::kInteger: return "integer";
    case SqlType::kFloat: return "number";
    case SqlType::kString: return "text";
    case SqlType::kDate: return "date";
    case SqlType::kTime: return "time";
    case SqlType::kTimestamp: return "timestamp";
    case SqlType::kBytes: return "bytes";
  }
  return "?";
}

int CompareSqlValues(const Value& a, const Value& b) {
  const Class ca = ClassOf(a);
  const Class cb = ClassOf(b);
  if (ca != cb) return Sign(static_cast<int>(ca), static_cast<int>(cb));
  switch (ca) {
    case Class::kNull: return 0;
    case Class::kNumber: {
      const auto* ia = std::get_if<int64_t>(&a);
      const auto* ib = std::get_if<int64_t>(&b);
      if (ia && ib) return Sign(*ia, *ib);
      if (ia) return CompareIntDouble(*ia, std::get<double>(b));
      if (ib) return -CompareIntDouble(*ib, std::get<double>(a));
      return CompareDoubles(std::get<double>(a), std::get<double>(b));
    }
    case Class::kString: return CompareBytes(std::get<std::string>(a), std::get<std::string>(b));
    case Class::kBool: return Sign(std::get<bool>(a), std::get<bool>(b));
    case Class::kDateTime: return CompareDoubles(DateTimeOf(a), DateTimeOf(b));
    case Class::kTime:
      return Sign(std::get<Time>(a).milliseconds, std::get<Time>(b).milliseconds);
    case Class::kBytes: return CompareBytes(std::get<Bytes>(a).data, std::get<Bytes>(b).data);
  }
  return 0;
}

int CompareNullsFirst(const Value& a, const Value& b) { return CompareSqlValues(a, b); }

void AppendSqlKey(std::string& key, const Value& value) {
  switch (ClassOf(value)) {
    case Class::kNull: key.push_back('0'); return;
    case Class::kNumber: {
      if (const auto* i = std::get_if<int64_t>(&value)) {
        key.push_back('i');
        AppendFixed(key, static_cast<uint64_t>(*i));
        return;
      }
      const double d = std::get<double>(value);
      if (std::floor(d) == d && d >= -kTwoTo63 && d < kTwoTo63) {
        key.push_back('i');
        AppendFixed(key, static_cast<uint64_t>(static_cast<int64_t>(d)));
        return;
      }
      AppendDouble(key, 'f', d);
      return;
    }
    case Class::kString: {
      const auto& s = std::get<std::string>(value);
      key.push_back('s');
      AppendLength(key, s.size());
      key.append(s);
      return;
    }
    case Class::kBool: key.push_back(std::get<bool>(value) ? 'T' : 'F'); return;
    case Class::kDateTime: AppendDouble(key, 'd', DateTimeOf(value)); return;
    case Class::kTime:
      key.push_back('t');
      AppendFixed(key, static_cast<uint64_t>(std::get<Time>(value).milliseconds));
      return;
    case Class::kBytes: {
      const auto& s = std::get<Bytes>(value).data;
      key.push_back('y');
      AppendLength(key, s.size());
      key.append(s);
      return;
    }
  }
}

bool ParseSqlDate(std::string_view text, bool with_time, Value& out) {
  size_t pos = 0;
  int month = 0;
  int day = 0;
  int year = 0;
  if (!ReadNumber(text, pos, 2, month) || pos >= text.size() || text[pos++] != '/') return false;
  if (!ReadNumber(text, pos, 2, day) || pos >= text.size() || text[pos++] != '/') return false;
  const size_t year_start = pos;
  if (!ReadNumber(text, pos, 4, year) || pos - year_start != 4) return false;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || year < 1)
    return false;
  const double date = DateTimeFromDate(year, month, day);
  if (pos == text.size()) {
    out = with_time ? Value(Timestamp{date}) : Value(Date{date});
    return true;
  }
  if (!with_time || text[pos++] != ' ') return false;
  int hour = 0;
  int minute = 0;
  int second = 0;
  if (!ReadNumber(text, pos, 2, hour) || pos >= text.size() || text[pos++] != ':') return false;
  if (!ReadNumber(text, pos, 2, minute)) return false;
  if (pos < text.size()) {
    if (text[pos++] != ':' || !ReadNumber(text, pos, 2, second) || pos != text.size())
      return false;
  }
  if (hour > 23 || minute > 59 || second > 59) return false;
  out = Timestamp{date + (hour * 3600 + minute * 60 + second) / 86400.0};
  return true;
}

bool ParseSqlNumber(std::string_view text, Value& out) {
  int64_t whole = 0;
  if (ParseInt(text, whole)) {
    out = whole;
    return true;
  }
  double d = 0;
  if (!ParseDouble(text, d)) return false;
  out = d;
  return true;
}

std::string FormatSqlDate(double date_time) {
  const CivilDate d = DateFromDateTime(date_time);
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04lld", d.month, d.day,
                static_cast<long long>(d.year));
  return buffer;
}

std::string FormatSqlNumber(double value) {
  if (std::floor(value) == value && std::fabs(value) < 1e15)
    return std::to_string(static_cast<int64_t>(value));
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return ec == std::errc() ? std::string(buffer, end) : std::string("?");
}

std::string SqlValueText(const Value& value) {
  switch (value.index()) {
    case 0: return "";
    case 1: return std::to_string(std::get<int64_t>(value));
    case 2: return FormatSqlNumber(std::get<double>(value));
    case 3: return std::get<std::string>(value);
    case 4: return std::get<bool>(value) ? "TRUE" : "FALSE";
    case 5: return FormatSqlDate(std::get<Date>(value).value);
    case 6: {
      const int64_t ms = std::get<Time>(value).milliseconds;
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld",
                    static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                    static_cast<long long>(ms / 1000 % 60));
      return buffer;
    }
    case 7: {
      const double v = std::get<Timestamp>(value).value;
      const double day = std::floor(v);
      // Rounded to the millisecond first, so that 9:05:03 stored as a binary
      // fraction does not come out as 9:05:02.
      int64_t seconds = std::llround((v - day) * kMillisecondsPerDay) / 1000;
      if (seconds >= 86400) seconds = 86399;
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, " %02lld:%02lld:%02lld",
                    static_cast<long long>(seconds / 3600),
                    static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
      return FormatSqlDate(day) + buffer;
    }
    default: return std::get<Bytes>(value).data;
  }
}

size_t Utf8Length(std::string_view text) {
  size_t count = 0;
  for (char c : text)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  return count;
}

std::string Utf8Prefix(std::string_view text, size_t count) {
  size_t chars = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (chars == count) return std::string(text.substr(0, i));
      ++chars;
    }
  }
  return std::string(text);
}

bool CanStoreInField(SqlType from, FieldType to) {
  if (from == SqlType::kNull) return true;
  switch (to) {
    case FieldType::kAlpha:
    case FieldType::kMemo:
    case FieldType::kFormattedMemo:
    case FieldType::kShort:
    case FieldType::kLong:
    case FieldType::kAutoInc:
    case FieldType::kNumber:
    case FieldType::kMoney:
    case FieldType::kBcd:
      return from == SqlType::kString || IsNumericType(from);
    case FieldType::kDate:
    case FieldType::kTimestamp:
      return from == SqlType::kDate || from == SqlType::kTimestamp || from == SqlType::kString;
    case FieldType::kTime: return from == SqlType::kTime;
    case FieldType::kLogical: return from == SqlType::kBool;
    case FieldType::kBlob:
    case FieldType::kOle:
    case FieldType::kGraphic:
    case FieldType::kBytes: return from == SqlType::kBytes;
  }
  return false;
}

Value ConvertForField(const Value& value, const FieldDef& field) {
  if (IsNull(value)) return value;
  switch (field.type) {
    case FieldType::kAlpha: return ToText(value, field, true);
    case FieldType::kMemo:
    case FieldType::kFormattedMemo: return ToText(value, field, false);
    case FieldType::kShort: return ToInteger(value, field, 32767);
    case FieldType::kLong:
    case FieldType::kAutoInc: return ToInteger(value, field, 2147483647);
    case FieldType::kNumber:
    case FieldType::kMoney:
    case FieldType::kBcd: {
      if (const auto* i = std::get_if<int64_t>(&value)) return static_cast<double>(*i);
      if (const auto* d = std::get_if<double>(&value)) return *d;
      double parsed = 0;
      if (const auto* s = std::get_if<std::string>(&value)) {
        if (!ParseDouble(*s, parsed)) NoFit(field, value);
        return parsed;
      }
      Mismatch(field);
    }
    case FieldType::kDate:
    case FieldType::kTimestamp: {
      const bool stamp = field.type == FieldType::kTimestamp;
      double v = 0;
      if (const auto* d = std::get_if<Date>(&value)) {
        v = d->value;
      } else if (const auto* t = std::get_if<Timestamp>(&value)) {
        v = t->value;
      } else if (const auto* s = std::get_if<std::string>(&value)) {
        Value parsed;
        if (!ParseSqlDate(*s, stamp, parsed)) NoFit(field, value);
        return parsed;
      } else {
        Mismatch(field);
      }
      return stamp ? Value(Timestamp{v}) : Value(Date{std::floor(v)});
    }
    case FieldType::kTime:
      if (std::holds_alternative<Time>(value)) return value;
      Mismatch(field);
    case FieldType::kLogical:
      if (std::holds_alternative<bool>(value)) return value;
      Mismatch(field);
    case FieldType::kBlob:
    case FieldType::kOle:
    case FieldType::kGraphic:
    case FieldType::kBytes: {
      const auto* b = std::get_if<Bytes>(&value);
      if (!b) Mismatch(field);
      if (field.type == FieldType::kBytes && field.size > 0 &&
          b->data.size() > static_cast<size_t>(field.size))
        NoFit(field, value);
      return value;
    }
  }
  Mismatch(field);
}

}  // namespace dalimor
