#include "platform/regional.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "util/calendar.h"

namespace dalimor {
namespace {

constexpr int64_t kMsPerDay = 86400000;
// Date-time numbers of 1 January 0001 and of the day after 31 December 9999.
constexpr double kFirstDay = -693593.0;
constexpr double kDayAfterLast = 2958466.0;

char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c;
}

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t k = 0; k < prefix.size(); ++k) {
    if (UpperAscii(text[k]) != UpperAscii(prefix[k])) return false;
  }
  return true;
}

void AppendNumber(std::string& out, int64_t value, int digits) {
  std::string text = std::to_string(value < 0 ? -value : value);
  if (value < 0) out.push_back('-');
  if (text.size() < static_cast<size_t>(digits))
    out.append(static_cast<size_t>(digits) - text.size(), '0');
  out += text;
}

// True when the picture holds an AM/PM marker outside quoted text; hours
// are then shown on the 12-hour clock.
bool HasAmPmMarker(std::string_view format) {
  char quote = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == 't' || c == 'T') {
      return true;
    } else if (c == 'a' || c == 'A') {
      const std::string_view rest = format.substr(i);
      if (StartsWithIgnoringCase(rest, "AM/PM") || StartsWithIgnoringCase(rest, "A/P") ||
          StartsWithIgnoringCase(rest, "AMPM")) {
        return true;
      }
    }
  }
  return false;
}

// Delphi's ScanDate reads the text with these three primitives; only the
// space counts as a blank.
class DateScanner {
 public:
  explicit DateScanner(std::string_view text) : text_(text) {}

  void SkipBlanks() {
    while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
  }

  bool Char(char wanted) {
    SkipBlanks();
    if (pos_ < text_.size() && text_[pos_] == wanted) {
      ++pos_;
      return true;
    }
    return false;
  }

  // Digits are read until the value reaches 1000, so the value stays below
  // 10000 however long the run of digits is.
  bool Number(int& value, int& length) {
    SkipBlanks();
    size_t end = pos_;
    int number = 0;
    while (end < text_.size() && text_[end] >= '0' && text_[end] <= '9' && number < 1000) {
      number = number * 10 + (text_[end] - '0');
      ++end;
    }
    if (end == pos_) return false;
    length = static_cast<int>(end - pos_);
    pos_ = end;
    value = number;
    return true;
  }

  bool AtEnd() const { return pos_ == text_.size(); }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

enum class DateOrder { kMdy, kDmy, kYmd };

// The order of the numbers: the first of d, M and y in the picture (an era
// letter e counts as y); month-day-year when there is none.
DateOrder DateOrderOf(std::string_view format) {
  for (const char c : format) {
    switch (UpperAscii(c)) {
      case 'E':
      case 'Y':
        return DateOrder::kYmd;
      case 'M':
        return DateOrder::kMdy;
      case 'D':
        return DateOrder::kDmy;
      default:
        break;
    }
  }
  return DateOrder::kMdy;
}

}  // namespace

RegionalSettings CzechRegionalSettings() {
  return RegionalSettings{};
}

std::string FormatDateTime(std::string_view format, const LocalDateTime& moment,
                           const RegionalSettings& settings) {
  const bool twelve_hour = HasAmPmMarker(format);
  const bool afternoon = moment.hour >= 12;
  std::string out;
  char last_token = 0;
  size_t i = 0;
  while (i < format.size()) {
    const char c = format[i];
    if (c == '\'' || c == '"') {
      const size_t close = format.find(c, i + 1);
      const size_t stop = close == std::string_view::npos ? format.size() : close;
      out.append(format.substr(i + 1, stop - i - 1));
      i = close == std::string_view::npos ? stop : stop + 1;
      continue;
    }
    if (c == '/' || c == ':' || !IsAsciiLetter(c)) {
      out.push_back(c == '/' ? settings.date_separator : c == ':' ? settings.time_separator : c);
      ++i;
      continue;
    }
    char token = UpperAscii(c);
    if (token == 'A') {
      const std::string_view rest = format.substr(i);
      if (StartsWithIgnoringCase(rest, "AM/PM")) {
        out.append(rest.substr(afternoon ? 3 : 0, 2));  // in the case written
        i += 5;
        last_token = token;
        continue;
      }
      if (StartsWithIgnoringCase(rest, "A/P")) {
        out.push_back(rest[afternoon ? 2 : 0]);
        i += 3;
        last_token = token;
        continue;
      }
      if (StartsWithIgnoringCase(rest, "AMPM")) {
        out += afternoon ? "PM" : "AM";
        i += 4;
        last_token = token;
        continue;
      }
    }
    if (token == 'M' && last_token == 'H') token = 'N';  // "h:mm" shows minutes
    last_token = token;
    size_t count = 1;
    while (i + count < format.size() && format[i + count] == c) ++count;
    const int digits = count >= 2 ? 2 : 1;
    switch (token) {
      case 'D':
        AppendNumber(out, moment.day, digits);
        break;
      case 'M':
        AppendNumber(out, moment.month, digits);
        break;
      case 'N':
        AppendNumber(out, moment.minute, digits);
        break;
      case 'Y':
        if (count <= 2) {
          AppendNumber(out, ((moment.year % 100) + 100) % 100, 2);
        } else {
          AppendNumber(out, moment.year, 4);
        }
        break;
      case 'H': {
        int hour = moment.hour;
        if (twelve_hour) hour = hour % 12 == 0 ? 12 : hour % 12;
        AppendNumber(out, hour, digits);
        break;
      }
      case 'S':
        AppendNumber(out, moment.second, digits);
        break;
      case 'Z':
        AppendNumber(out, moment.millisecond, count >= 3 ? 3 : static_cast<int>(count));
        break;
      case 'T':
        out += afternoon ? (count >= 2 ? "PM" : "P") : (count >= 2 ? "AM" : "A");
        break;
      default:
        out.append(format.substr(i, count));
        break;
    }
    i += count;
  }
  return out;
}

std::optional<LocalDateTime> DateTimeToLocal(double date_time) {
  if (!std::isfinite(date_time) || date_time <= kFirstDay - 1.0 || date_time >= kDayAfterLast) {
    return std::nullopt;
  }
  // Delphi rounds with the processor's default mode, halves to even.
  const auto total =
      static_cast<int64_t>(std::nearbyint(date_time * static_cast<double>(kMsPerDay)));
  const int64_t day = total / kMsPerDay;
  int64_t ms = std::llabs(total % kMsPerDay);
  const CivilDate date = DateFromDateTime(static_cast<double>(day));
  if (date.year < 1 || date.year > 9999) return std::nullopt;
  LocalDateTime result;
  result.year = static_cast<int>(date.year);
  result.month = date.month;
  result.day = date.day;
  result.hour = static_cast<int>(ms / 3600000);
  ms %= 3600000;
  result.minute = static_cast<int>(ms / 60000);
  ms %= 60000;
  result.second = static_cast<int>(ms / 1000);
  result.millisecond = static_cast<int>(ms % 1000);
  return result;
}

double LocalToDateTime(const LocalDateTime& moment) {
  const double day = DateTimeFromDate(moment.year, moment.month, moment.day);
  const double time = (((moment.hour * 60.0 + moment.minute) * 60.0 + moment.second) * 1000.0 +
                       moment.millisecond) /
                      static_cast<double>(kMsPerDay);
  // Before the epoch the fraction still counts forward from midnight.
  return day < 0 ? day - time : day + time;
}

std::string DateToStr(const LocalDateTime& moment, const RegionalSettings& settings) {
  return FormatDateTime(settings.short_date_format, moment, settings);
}

std::string DateToStr(double date_time, const RegionalSettings& settings) {
  const std::optional<LocalDateTime> moment = DateTimeToLocal(date_time);
  return moment ? DateToStr(*moment, settings) : std::string();
}

std::string TimeToStr(const LocalDateTime& moment, const RegionalSettings& settings) {
  return FormatDateTime(settings.long_time_format, moment, settings);
}

std::string TimeToStr(double date_time, const RegionalSettings& settings) {
  const std::optional<LocalDateTime> moment = DateTimeToLocal(date_time);
  return moment ? TimeToStr(*moment, settings) : std::string();
}

std::string DateTimeToStr(const LocalDateTime& moment, const RegionalSettings& settings) {
  std::string text = DateToStr(moment, settings);
  if (moment.hour != 0 || moment.minute != 0 || moment.second != 0) {
    text += ' ';
    text += TimeToStr(moment, settings);
  }
  return text;
}

std::string DateTimeToStr(double date_time, const RegionalSettings& settings) {
  const std::optional<LocalDateTime> moment = DateTimeToLocal(date_time);
  return moment ? DateTimeToStr(*moment, settings) : std::string();
}

std::optional<double> TryStrToDate(std::string_view text, const RegionalSettings& settings,
                                   const Clock& clock) {
  const char separator = settings.date_separator;
  DateScanner scan(text);
  int n1 = 0;
  int n2 = 0;
  int n3 = 0;
  int length1 = 0;
  int length2 = 0;
  int length3 = 0;
  if (!scan.Number(n1, length1) || !scan.Char(separator) || !scan.Number(n2, length2)) {
    return std::nullopt;
  }
  const DateOrder order = DateOrderOf(settings.short_date_format);
  int year;
  int month;
  int day;
  if (scan.Char(separator)) {
    if (!scan.Number(n3, length3)) return std::nullopt;
    int year_length;
    if (order == DateOrder::kYmd) {
      year = n1;
      year_length = length1;
      month = n2;
      day = n3;
    } else {
      year = n3;
      year_length = length3;
      month = order == DateOrder::kDmy ? n2 : n1;
      day = order == DateOrder::kDmy ? n1 : n2;
    }
    if (year_length <= 2) {
      const int window = settings.two_digit_year_century_window;
      const int century_base = clock.Now().year - window;
      year += century_base / 100 * 100;
      if (window > 0 && year < century_base) year += 100;
    }
  } else {
    year = clock.Now().year;
    month = order == DateOrder::kDmy ? n2 : n1;
    day = order == DateOrder::kDmy ? n1 : n2;
  }
  scan.Char(separator);
  scan.SkipBlanks();
  if (!scan.AtEnd()) return std::nullopt;
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month)) {
    return std::nullopt;
  }
  return DateTimeFromDate(year, month, day);
}

double StrToDate(std::string_view text, const RegionalSettings& settings, const Clock& clock) {
  if (const std::optional<double> value = TryStrToDate(text, settings, clock)) return *value;
  throw DateConversionError("'" + std::string(text) + "' is not a valid date");
}

double DateOrZero(std::string_view text, const RegionalSettings& settings, const Clock& clock) {
  return TryStrToDate(text, settings, clock).value_or(0.0);
}

}  // namespace dalimor
