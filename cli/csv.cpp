#include "cli/csv.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "util/calendar.h"
#include "util/date_entry.h"

namespace dalimor {
namespace {

constexpr double kMsPerDay = 86400000.0;

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

std::optional<std::string> Unhex(const std::string& text) {
  if (text.size() % 2) return std::nullopt;
  std::string out;
  for (size_t i = 0; i < text.size(); i += 2) {
    unsigned value = 0;
    const auto r = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
    if (r.ec != std::errc() || r.ptr != text.data() + i + 2) return std::nullopt;
    out.push_back(static_cast<char>(value));
  }
  return out;
}

std::string DateText(double date) {
  const CivilDate d = DateFromDateTime(date);
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%02d.%02d.%04lld", d.day, d.month,
                static_cast<long long>(d.year));
  return buffer;
}

std::string TimeText(int64_t ms, bool with_ms) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld", static_cast<long long>(ms / 3600000),
                static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60));
  std::string text = buffer;
  if (with_ms && ms % 1000) {
    std::snprintf(buffer, sizeof buffer, ".%03lld", static_cast<long long>(ms % 1000));
    text += buffer;
  }
  return text;
}

// "dd.mm.yyyy" into a date-time number.
std::optional<double> ParseDate(const std::string& text) {
  if (text.size() != 10 || text[2] != '.' || text[5] != '.') return std::nullopt;
  const std::string d = text.substr(0, 2), m = text.substr(3, 2), y = text.substr(6, 4);
  for (const std::string* part : {&d, &m, &y})
    for (const char c : *part)
      if (c < '0' || c > '9') return std::nullopt;
  const int day = IntegerFromText(d), month = IntegerFromText(m), year = IntegerFromText(y);
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || year < 1)
    return std::nullopt;
  return DateTimeFromDate(year, month, day);
}

// "hh:mm:ss[.zzz]" into milliseconds.
std::optional<int64_t> ParseTime(const std::string& text) {
  if (text.size() != 8 && text.size() != 12) return std::nullopt;
  if (text[2] != ':' || text[5] != ':' || (text.size() == 12 && text[8] != '.')) return std::nullopt;
  auto number = [&](size_t at, size_t n) -> int {
    int v = 0;
    for (size_t i = at; i < at + n; ++i) {
      if (text[i] < '0' || text[i] > '9') return -1;
      v = v * 10 + (text[i] - '0');
    }
    return v;
  };
  const int h = number(0, 2), m = number(3, 2), s = number(6, 2);
  const int ms = text.size() == 12 ? number(9, 3) : 0;
  if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59 || ms < 0) return std::nullopt;
  return ((h * 60LL + m) * 60 + s) * 1000 + ms;
}

}  // namespace

std::string CsvField(const Value& value, FieldType type) {
  (void)type;
  return std::visit(
      [](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return "";
        } else if constexpr (std::is_same_v<T, int64_t>) {
          return std::to_string(v);
        } else if constexpr (std::is_same_v<T, double>) {
          char buffer[64];
          const auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
          return std::string(buffer, r.ptr);
        } else if constexpr (std::is_same_v<T, std::string>) {
          return v;
        } else if constexpr (std::is_same_v<T, bool>) {
          return v ? "true" : "false";
        } else if constexpr (std::is_same_v<T, Date>) {
          return DateText(v.value);
        } else if constexpr (std::is_same_v<T, Time>) {
          return TimeText(v.milliseconds, true);
        } else if constexpr (std::is_same_v<T, Timestamp>) {
          const double day = std::floor(v.value);
          const auto ms = static_cast<int64_t>(std::llround((v.value - day) * kMsPerDay));
          return DateText(day + static_cast<double>(ms / 86400000)) + " " +
                 TimeText(ms % 86400000, true);
        } else {
          return Hex(v.data);
        }
      },
      value);
}

void WriteCsvRow(std::ostream& out, const std::vector<std::string>& fields) {
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) out << ',';
    const std::string& f = fields[i];
    if (f.find_first_of(",\"\r\n") == std::string::npos) {
      out << f;
      continue;
    }
    out << '"';
    for (const char c : f) {
      if (c == '"') out << '"';
      out << c;
    }
    out << '"';
  }
  out << "\r\n";
}

std::optional<Value> ParseCsvField(const std::string& text, FieldType type) {
  if (text.empty()) return Value{};
  switch (type) {
    case FieldType::kAlpha:
    case FieldType::kMemo:
    case FieldType::kFormattedMemo:
      return Value{text};
    case FieldType::kShort:
    case FieldType::kLong:
    case FieldType::kAutoInc: {
      int64_t v = 0;
      const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
      if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return std::nullopt;
      return Value{v};
    }
    case FieldType::kNumber:
    case FieldType::kMoney:
    case FieldType::kBcd: {
      double v = 0;
      const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
      if (r.ec != std::errc() || r.ptr != text.data() + text.size() || !std::isfinite(v))
        return std::nullopt;
      return Value{v};
    }
    case FieldType::kLogical:
      if (text == "true") return Value{true};
      if (text == "false") return Value{false};
      return std::nullopt;
    case FieldType::kDate:
      if (auto d = ParseDate(text)) return Value{Date{*d}};
      return std::nullopt;
    case FieldType::kTime:
      if (auto t = ParseTime(text)) return Value{Time{*t}};
      return std::nullopt;
    case FieldType::kTimestamp: {
      const size_t space = text.find(' ');
      if (space == std::string::npos) return std::nullopt;
      const auto d = ParseDate(text.substr(0, space));
      const auto t = ParseTime(text.substr(space + 1));
      if (!d || !t) return std::nullopt;
      return Value{Timestamp{*d + static_cast<double>(*t) / kMsPerDay}};
    }
    case FieldType::kBlob:
    case FieldType::kGraphic:
    case FieldType::kOle:
    case FieldType::kBytes:
      if (auto b = Unhex(text)) return Value{Bytes{*b}};
      return std::nullopt;
  }
  return std::nullopt;
}

bool ReadCsvRecord(std::istream& in, std::vector<std::string>& fields) {
  fields.clear();
  int c = in.get();
  if (c == EOF) return false;
  std::string field;
  bool quoted = false;
  while (true) {
    if (c == EOF) {
      if (quoted) throw std::runtime_error("unterminated quoted field");
      fields.push_back(field);
      return true;
    }
    if (quoted) {
      if (c == '"') {
        if (in.peek() == '"') {
          field.push_back('"');
          in.get();
        } else {
          quoted = false;
        }
      } else {
        field.push_back(static_cast<char>(c));
      }
    } else if (c == '"' && field.empty()) {
      quoted = true;
    } else if (c == ',') {
      fields.push_back(field);
      field.clear();
    } else if (c == '\r' || c == '\n') {
      if (c == '\r' && in.peek() == '\n') in.get();
      fields.push_back(field);
      return true;
    } else {
      field.push_back(static_cast<char>(c));
    }
    c = in.get();
  }
}

}  // namespace dalimor
