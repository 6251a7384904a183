#include "util/calendar.h"

#include <cmath>

namespace dalimor {
namespace {

// Days from 1 January 1970 to 30 December 1899.
constexpr int64_t kDateTimeEpochDays = -25569;

}  // namespace

bool IsLeapYear(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int64_t year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  if (month == 2 && IsLeapYear(year)) return 29;
  return kDays[month - 1];
}

// Howard Hinnant's days_from_civil / civil_from_days.
int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yoe = year - era * 400;
  const int64_t mp = (month + 9) % 12;
  const int64_t doy = (153 * mp + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

CivilDate CivilFromDays(int64_t days) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  CivilDate result;
  result.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  result.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  result.year = yoe + era * 400 + (result.month <= 2 ? 1 : 0);
  return result;
}

double DateTimeFromDate(int64_t year, int month, int day) {
  return static_cast<double>(DaysFromCivil(year, month, day) - kDateTimeEpochDays);
}

CivilDate DateFromDateTime(double date_time) {
  return CivilFromDays(static_cast<int64_t>(std::floor(date_time)) + kDateTimeEpochDays);
}

double TodayDateTime(const Clock& clock) {
  const LocalDateTime now = clock.Now();
  return DateTimeFromDate(now.year, now.month, now.day);
}

double NowDateTime(const Clock& clock) {
  const LocalDateTime now = clock.Now();
  const double ms_of_day =
      ((now.hour * 60.0 + now.minute) * 60.0 + now.second) * 1000.0 + now.millisecond;
  return DateTimeFromDate(now.year, now.month, now.day) + ms_of_day / 86400000.0;
}

}  // namespace dalimor
