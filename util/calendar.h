#pragma once
// Proleptic Gregorian calendar arithmetic and the engine's date-time numbers
// (days since 30 December 1899, the fraction being the time of day).

#include <cstdint>

#include "util/clock.h"

namespace dalimor {

struct CivilDate {
  int64_t year = 0;
  int month = 1;
  int day = 1;
};

// True for leap years of the Gregorian calendar.
bool IsLeapYear(int64_t year);
// Days of the month (1..12) in the year; 0 for a month out of range.
int DaysInMonth(int64_t year, int month);
// Day number counted from 1 January 1970 (negative before it).
int64_t DaysFromCivil(int64_t year, int month, int day);
CivilDate CivilFromDays(int64_t days);

// The engine's date-time number of a date at midnight: 0 = 30 December 1899.
double DateTimeFromDate(int64_t year, int month, int day);
// Whole-day part of a date-time number as a calendar date.
CivilDate DateFromDateTime(double date_time);
// Today's date (midnight) as a date-time number.
double TodayDateTime(const Clock& clock);
// The clock's moment as a date-time number.
double NowDateTime(const Clock& clock);

}  // namespace dalimor
