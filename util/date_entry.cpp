#include "util/date_entry.h"

#include <cstdint>
#include <cstdio>
#include <limits>

#include "util/calendar.h"

namespace dalimor {
namespace {

// Beyond this many days the result leaves every representable year anyway.
constexpr int64_t kMaxDayCount = 10'000'000;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The day count of "+N" / "-N", read leniently: blanks, "(" and "+" before the
// number are skipped, a "-" there makes it negative; afterwards only digits
// count, up to the decimal separator.  Counts below 1 become 1.
int64_t LenientDayCount(std::string_view rest, char decimal_separator) {
  size_t i = 0;
  bool negative = false;
  while (i < rest.size() && !IsDigit(rest[i])) {
    const char c = rest[i];
    if (c == '-') {
      negative = true;
    } else if (c != ' ' && c != '(' && c != '+') {
      break;
    }
    ++i;
  }
  int64_t count = 0;
  for (; i < rest.size(); ++i) {
    const char c = rest[i];
    if (c == decimal_separator) break;
    if (IsDigit(c) && count < kMaxDayCount) count = count * 10 + (c - '0');
  }
  if (negative) count = -count;
  return count < 1 ? 1 : count;
}

// Two-character (or shorter) numeric years are placed in 1950..2049.
std::string ApplyCenturyRule(const std::string& year) {
  if (year.empty() || year.size() > 2 || !IsIntegerText(year)) return year;
  const int value = IntegerFromText(year);
  return std::to_string(value + (value < 50 ? 2000 : 1900));
}

std::string FormatDate(int64_t year, int month, int day) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.2d.%.2d.%.4lld", day, month,
                static_cast<long long>(year));
  return buffer;
}

// Today plus `days`; false when the result leaves years 1..9999.
bool ShiftedToday(const Clock& clock, int64_t days, std::string& out) {
  const LocalDateTime now = clock.Now();
  const CivilDate date = CivilFromDays(DaysFromCivil(now.year, now.month, now.day) + days);
  if (date.year < 1 || date.year > 9999) return false;
  out = FormatDate(date.year, date.month, date.day);
  return true;
}

bool AcceptParts(std::string& text, const std::string& day, const std::string& month,
                 const std::string& year) {
  if (!IsIntegerText(day) || !IsIntegerText(month) || !IsIntegerText(year)) return false;
  const int d = IntegerFromText(day);
  const int m = IntegerFromText(month);
  const int y = IntegerFromText(year);
  if (!IsValidDateParts(y, m, d)) return false;
  text = FormatDate(y, m, d);
  return true;
}

}  // namespace

bool IsIntegerText(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  if (i == text.size()) return false;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return false;
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1) return false;
  }
  const bool negative = text.find('-') != std::string_view::npos;
  return negative || value <= std::numeric_limits<int32_t>::max();
}

int IntegerFromText(std::string_view text) {
  if (!IsIntegerText(text)) return 0;
  size_t i = 0;
  while (text[i] == ' ') ++i;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size(); ++i) value = value * 10 + (text[i] - '0');
  return static_cast<int>(negative ? -value : value);
}

bool IsValidDateParts(int year, int month, int day) {
  if (year < 1000 || year > 2099 || month < 1 || month > 12) return false;
  return day >= 1 && day <= DaysInMonth(year, month);
}

int CurrentYear(const Clock& clock) { return clock.Now().year; }

std::string ReplaceAllText(std::string_view text, std::string_view search,
                           std::string_view replacement) {
  if (search.empty()) return std::string(text);
  std::string result;
  result.reserve(text.size());
  size_t pos = 0;
  while (true) {
    const size_t found = text.find(search, pos);
    if (found == std::string_view::npos) break;
    result.append(text.substr(pos, found - pos));
    result.append(replacement);
    pos = found + search.size();
  }
  result.append(text.substr(pos));
  return result;
}

bool CompleteDateText(std::string& text, const Clock& clock, char decimal_separator) {
  if (text.empty()) return true;
  text = ReplaceAllText(text, ",", ".");
  if (text == "*") return ShiftedToday(clock, 0, text);
  if (text[0] == '+' || text[0] == '-') {
    const int64_t count = LenientDayCount(std::string_view(text).substr(1), decimal_separator);
    return ShiftedToday(clock, text[0] == '+' ? count : -count, text);
  }

  const LocalDateTime now = clock.Now();
  const size_t first_dot = text.find('.');
  std::string day, month, year;
  if (first_dot == std::string::npos) {
    // Positional: ddmmyyyy, anything from the ninth character on is ignored.
    auto part = [&](size_t from, size_t length) {
      return from < text.size() ? text.substr(from, length) : std::string();
    };
    day = part(0, 2);
    month = part(2, 2);
    year = part(4, 4);
    if (month.empty()) month = std::to_string(now.month);
    if (year.empty()) year = std::to_string(now.year);
  } else {
    day = text.substr(0, first_dot);
    const std::string rest = text.substr(first_dot + 1);
    const size_t second_dot = rest.find('.');
    if (second_dot == std::string::npos) {
      month = rest;
      year = std::to_string(CurrentYear(clock));
    } else {
      month = rest.substr(0, second_dot);
      year = rest.substr(second_dot + 1);
    }
  }
  year = ApplyCenturyRule(year);
  return AcceptParts(text, day, month, year);
}

}  // namespace dalimor
