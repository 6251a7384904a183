#pragma once
// The user's regional settings and the date conversions that depend on them,
// done the way the Delphi runtime does them (DateToStr, DateTimeToStr,
// StrToDate).  The settings are a plain value handed to whoever needs them;
// there is no global state.  Dates are the engine's date-time numbers
// (days since 30 December 1899, the fraction being the time of day).

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "util/clock.h"

namespace dalimor {

struct RegionalSettings {
  // Pictures in the letters of the Windows regional settings, read with the
  // Delphi rules (see FormatDateTime).
  std::string short_date_format = "d.M.yyyy";
  std::string long_time_format = "H:mm:ss";
  char date_separator = '.';
  char time_separator = ':';
  char decimal_separator = ',';
  // Two-digit years read by StrToDate fall within the 100 years that start
  // this many years before the current year; 0 = the current century.
  int two_digit_year_century_window = 50;
};

// The defaults of a Czech Windows installation (the values above).
RegionalSettings CzechRegionalSettings();

// Raised by StrToDate; the message is "'<text>' is not a valid date".
class DateConversionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Formats a moment with a picture, as Delphi's FormatDateTime.  Letters are
// read without regard to case:
//   d, dd        day (dd with a leading zero); ddd and longer also print dd
//                (day and month names are not supported)
//   m, mm        month, or minutes right after an hour (as in "h:mm");
//                mmm and longer print mm
//   n, nn        minutes
//   y, yy        two-digit year; yyy, yyyy four-digit year
//   h, hh        hour, 0..23, or 1..12 when the picture holds an AM/PM marker
//   s, ss        seconds;  z, zzz  milliseconds
//   tt, AMPM     "AM" or "PM";  t  "A" or "P";  AM/PM, A/P  in the case written
//   /  :         the date and the time separator of the settings
//   '...' "..."  literal text; any other character stands for itself.
std::string FormatDateTime(std::string_view format, const LocalDateTime& moment,
                           const RegionalSettings& settings);

// The calendar moment of a date-time number, rounded to the millisecond as
// Delphi's DecodeDateTime does (the whole part is the day, counted towards
// zero; the fraction's absolute value is the time).  Nullopt when the number
// is not finite or lies outside the years 1..9999.
std::optional<LocalDateTime> DateTimeToLocal(double date_time);

// The date-time number of a calendar moment (no range checks).
double LocalToDateTime(const LocalDateTime& moment);

// The date in the short date format ("15.3.2011").  The number overloads give
// an empty text for a number DateTimeToLocal cannot convert.
std::string DateToStr(const LocalDateTime& moment, const RegionalSettings& settings);
std::string DateToStr(double date_time, const RegionalSettings& settings);

// The time in the long time format ("9:05:03").
std::string TimeToStr(const LocalDateTime& moment, const RegionalSettings& settings);
std::string TimeToStr(double date_time, const RegionalSettings& settings);

// The short date, a space and the long time ("15.3.2011 9:05:03"); the space
// and the time are left out when hours, minutes and seconds are all zero
// (milliseconds are not looked at).
std::string DateTimeToStr(const LocalDateTime& moment, const RegionalSettings& settings);
std::string DateTimeToStr(double date_time, const RegionalSettings& settings);

// Reads a date as Delphi's StrToDate: two or three numbers separated by the
// date separator, in the order of the short date format's first d, M or y;
// spaces before any number or separator; one optional separator and spaces
// at the end; nothing else.  Two numbers take the clock's current year; a
// year written with one or two digits is placed by the century window; the
// date must lie within the years 1..9999.  Nullopt when the text is not such
// a date.  Never throws.
std::optional<double> TryStrToDate(std::string_view text, const RegionalSettings& settings,
                                   const Clock& clock);

// As TryStrToDate, but throws DateConversionError for a text that is not a
// date.
double StrToDate(std::string_view text, const RegionalSettings& settings, const Clock& clock);

// The text read as a date by TryStrToDate; 0 when it is empty or not a valid
// date.  Never throws, whatever the bytes.
double DateOrZero(std::string_view text, const RegionalSettings& settings, const Clock& clock);

}  // namespace dalimor
