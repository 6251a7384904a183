#include "platform/regional.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "util/calendar.h"

namespace dalimor {
namespace {

const FixedClock kMarch15_2011({2011, 3, 15, 10, 20, 30, 0});

RegionalSettings Settings(const char* short_date, char date_separator,
                          const char* long_time = "H:mm:ss", char time_separator = ':') {
  RegionalSettings settings;
  settings.short_date_format = short_date;
  settings.date_separator = date_separator;
  settings.long_time_format = long_time;
  settings.time_separator = time_separator;
  return settings;
}

TEST(RegionalSettings, CzechDefaults) {
  const RegionalSettings czech = CzechRegionalSettings();
  EXPECT_EQ(czech.short_date_format, "d.M.yyyy");
  EXPECT_EQ(czech.long_time_format, "H:mm:ss");
  EXPECT_EQ(czech.date_separator, '.');
  EXPECT_EQ(czech.time_separator, ':');
  EXPECT_EQ(czech.decimal_separator, ',');
  EXPECT_EQ(czech.two_digit_year_century_window, 50);
}

// ---------------------------------------------------------------------------
// Formatting

struct FormatCase {
  const char* format;
  LocalDateTime moment;
  const char* expected;
};

TEST(RegionalSettingsFormat, FormatsPicturesAsDelphi) {
  const RegionalSettings czech = CzechRegionalSettings();
  const FormatCase cases[] = {
      {"d.M.yyyy", {2011, 3, 15, 0, 0, 0, 0}, "15.3.2011"},
      {"d.M.yyyy", {2011, 12, 5, 0, 0, 0, 0}, "5.12.2011"},
      {"dd.MM.yyyy", {2011, 12, 5, 0, 0, 0, 0}, "05.12.2011"},
      {"D.m.YY", {2011, 3, 5, 0, 0, 0, 0}, "5.3.11"},
      {"yyyy", {5, 1, 1, 0, 0, 0, 0}, "0005"},
      {"yy", {2000, 1, 1, 0, 0, 0, 0}, "00"},
      {"yyy", {2011, 1, 1, 0, 0, 0, 0}, "2011"},
      // "/" is the date separator, ":" the time separator; quotes are literal.
      {"mm/dd/yyyy", {2011, 3, 15, 0, 0, 0, 0}, "03.15.2011"},
      {"mm'/'dd'/'yyyy", {2011, 3, 15, 0, 0, 0, 0}, "03/15/2011"},
      {"\"den\" d", {2011, 3, 15, 0, 0, 0, 0}, "den 15"},
      {"'unclosed", {2011, 3, 15, 0, 0, 0, 0}, "unclosed"},
      {"H:mm:ss", {2011, 3, 15, 9, 5, 3, 0}, "9:05:03"},
      {"h:mm:ss", {2011, 3, 15, 21, 5, 3, 0}, "21:05:03"},  // 24 hours without a marker
      {"HH:mm:ss", {2011, 3, 15, 9, 5, 3, 0}, "09:05:03"},
      {"h:m:s", {2011, 3, 15, 9, 5, 3, 0}, "9:5:3"},
      {"hh:nn", {2011, 3, 15, 9, 5, 3, 0}, "09:05"},
      {"mm", {2011, 3, 15, 9, 5, 3, 0}, "03"},  // month: no hour before it
      {"h:mm:ss tt", {2011, 3, 15, 21, 5, 3, 0}, "9:05:03 PM"},
      {"h:mm:ss tt", {2011, 3, 15, 0, 5, 3, 0}, "12:05:03 AM"},
      {"h:mm AMPM", {2011, 3, 15, 12, 0, 0, 0}, "12:00 PM"},
      {"h:mm am/pm", {2011, 3, 15, 13, 0, 0, 0}, "1:00 pm"},
      {"h:mm A/P", {2011, 3, 15, 1, 0, 0, 0}, "1:00 A"},
      {"s.zzz", {2011, 3, 15, 0, 0, 7, 45}, "7.045"},
      {"d.M.yyyy H:mm:ss", {2011, 3, 15, 0, 0, 0, 0}, "15.3.2011 0:00:00"},
      {"", {2011, 3, 15, 0, 0, 0, 0}, ""},
  };
  for (const FormatCase& c : cases) {
    EXPECT_EQ(FormatDateTime(c.format, c.moment, czech), c.expected) << c.format;
  }
}

TEST(RegionalSettingsFormat, UsesTheSeparatorsOfTheSettings) {
  const RegionalSettings us = Settings("M/d/yyyy", '-', "h:mm:ss tt", '.');
  const LocalDateTime moment{2011, 3, 15, 14, 5, 9, 0};
  EXPECT_EQ(DateToStr(moment, us), "3-15-2011");
  EXPECT_EQ(TimeToStr(moment, us), "2.05.09 PM");
  EXPECT_EQ(DateTimeToStr(moment, us), "3-15-2011 2.05.09 PM");
}

TEST(RegionalSettingsFormat, DateTimeLeavesOutAMidnightTime) {
  const RegionalSettings czech = CzechRegionalSettings();
  EXPECT_EQ(DateTimeToStr(LocalDateTime{2011, 3, 15, 0, 0, 0, 0}, czech), "15.3.2011");
  EXPECT_EQ(DateTimeToStr(LocalDateTime{2011, 3, 15, 0, 0, 0, 400}, czech), "15.3.2011");
  EXPECT_EQ(DateTimeToStr(LocalDateTime{2011, 3, 15, 0, 0, 1, 0}, czech), "15.3.2011 0:00:01");
  EXPECT_EQ(DateTimeToStr(LocalDateTime{2011, 3, 15, 9, 5, 3, 0}, czech), "15.3.2011 9:05:03");

  const double day = DateTimeFromDate(2011, 3, 15);
  EXPECT_EQ(DateTimeToStr(day, czech), "15.3.2011");
  EXPECT_EQ(DateTimeToStr(day + (9 * 3600 + 5 * 60 + 3) / 86400.0, czech), "15.3.2011 9:05:03");
  EXPECT_EQ(DateToStr(day + 0.75, czech), "15.3.2011");
  EXPECT_EQ(TimeToStr(day + 0.75, czech), "18:00:00");
  EXPECT_EQ(TimeToStr(0.0, czech), "0:00:00");
  EXPECT_EQ(DateToStr(0.0, czech), "30.12.1899");
}

TEST(RegionalSettingsFormat, NumbersOutsideTheCalendarGiveEmptyText) {
  const RegionalSettings czech = CzechRegionalSettings();
  EXPECT_EQ(DateToStr(std::nan(""), czech), "");
  EXPECT_EQ(DateTimeToStr(INFINITY, czech), "");
  EXPECT_EQ(DateToStr(3e6, czech), "");
  EXPECT_EQ(DateToStr(-700000.0, czech), "");
  EXPECT_EQ(DateToStr(2958465.5, czech), "31.12.9999");
  EXPECT_EQ(DateToStr(-693593.0, czech), "1.1.0001");
}

TEST(RegionalSettingsDecode, DateTimeNumbersToCalendarMoments) {
  // Before the epoch the whole part counts towards zero and the fraction is
  // the time: -1.25 is 29 December 1899, 6:00.
  const std::optional<LocalDateTime> before = DateTimeToLocal(-1.25);
  ASSERT_TRUE(before);
  EXPECT_EQ(before->day, 29);
  EXPECT_EQ(before->month, 12);
  EXPECT_EQ(before->year, 1899);
  EXPECT_EQ(before->hour, 6);
  EXPECT_DOUBLE_EQ(LocalToDateTime(*before), -1.25);

  // A moment a hair before midnight rounds to the next day.
  const std::optional<LocalDateTime> rounded =
      DateTimeToLocal(DateTimeFromDate(2011, 3, 15) - 1e-9);
  ASSERT_TRUE(rounded);
  EXPECT_EQ(rounded->day, 15);
  EXPECT_EQ(rounded->hour, 0);

  const LocalDateTime moment{2011, 3, 15, 10, 20, 30, 250};
  const std::optional<LocalDateTime> back = DateTimeToLocal(LocalToDateTime(moment));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->second, 30);
  EXPECT_EQ(back->millisecond, 250);
  EXPECT_EQ(DateTimeToLocal(std::nan("")), std::nullopt);
}

// ---------------------------------------------------------------------------
// Reading dates

struct ReadCase {
  const char* text;
  int year;  // 0: not a date
  int month;
  int day;
};

void ExpectReads(const ReadCase& c, const RegionalSettings& settings, const Clock& clock) {
  const std::optional<double> value = TryStrToDate(c.text, settings, clock);
  if (c.year == 0) {
    EXPECT_EQ(value, std::nullopt) << "'" << c.text << "' under " << settings.short_date_format;
  } else {
    ASSERT_TRUE(value) << "'" << c.text << "' under " << settings.short_date_format;
    EXPECT_EQ(*value, DateTimeFromDate(c.year, c.month, c.day)) << c.text;
  }
}

// Today is 15 March 2011.
constexpr ReadCase kCzechReadCases[] = {
    {"15.3.2011", 2011, 3, 15},
    {"15.03.2011", 2011, 3, 15},
    {"5.12", 2011, 12, 5},        // two numbers: this year
    {"15.3.2011.", 2011, 3, 15},  // one trailing separator after the year
    {"15.3.", 0, 0, 0},           // ... but a separator after two numbers wants a third
    {"  15 . 3 .2011  ", 2011, 3, 15},
    {"15.3.2011 .  ", 2011, 3, 15},
    {"0015.0003.2011", 2011, 3, 15},
    {"1.1.60", 2060, 1, 1},  // window: 1961..2060
    {"1.1.61", 1961, 1, 1},
    {"1.1.0", 2000, 1, 1},
    {"1.1.00", 2000, 1, 1},
    {"1.1.99", 1999, 1, 1},
    {"1.1.011", 11, 1, 1},  // three digits are taken as written
    {"1.1.0001", 1, 1, 1},
    {"31.12.9999", 9999, 12, 31},
    {"29.2.2012", 2012, 2, 29},
    {"29.2.2000", 2000, 2, 29},
    {"29.2.2011", 0, 0, 0},
    {"29.2.1900", 0, 0, 0},
    {"31.4.2011", 0, 0, 0},
    {"0.1.2011", 0, 0, 0},
    {"1.0.2011", 0, 0, 0},
    {"1.13.2011", 0, 0, 0},
    {"1.1.0000", 0, 0, 0},
    {"1.1.10000", 0, 0, 0},  // reading stops at 1000, the last 0 is left over
    {"15.3.2011..", 0, 0, 0},
    {"15.3.2011.1", 0, 0, 0},
    {"15/3/2011", 0, 0, 0},
    {"15-3-2011", 0, 0, 0},
    {"15.3.2011 10:20", 0, 0, 0},
    {"15.3.2011x", 0, 0, 0},
    {"\t15.3.2011", 0, 0, 0},  // only spaces are blanks
    {"+15.3.2011", 0, 0, 0},
    {"15.-3.2011", 0, 0, 0},
    {".3.2011", 0, 0, 0},
    {"15", 0, 0, 0},
    {"15.", 0, 0, 0},
    {"", 0, 0, 0},
    {"   ", 0, 0, 0},
    {"abc", 0, 0, 0},
};

TEST(RegionalSettingsRead, ReadsCzechDatesAsStrToDate) {
  const RegionalSettings czech = CzechRegionalSettings();
  for (const ReadCase& c : kCzechReadCases) ExpectReads(c, czech, kMarch15_2011);
}

TEST(RegionalSettingsRead, OrderComesFromTheShortDateFormat) {
  const RegionalSettings us = Settings("M/d/yyyy", '/');
  for (const ReadCase& c : {ReadCase{"3/15/2011", 2011, 3, 15}, ReadCase{"12/5", 2011, 12, 5},
                            ReadCase{"15/3/2011", 0, 0, 0}, ReadCase{"3.15.2011", 0, 0, 0}}) {
    ExpectReads(c, us, kMarch15_2011);
  }
  const RegionalSettings iso = Settings("yyyy-MM-dd", '-');
  for (const ReadCase& c : {ReadCase{"2011-03-15", 2011, 3, 15}, ReadCase{"03-15", 2011, 3, 15},
                            ReadCase{"11-3-15", 2011, 3, 15}, ReadCase{"15-03-2011", 0, 0, 0}}) {
    ExpectReads(c, iso, kMarch15_2011);
  }
  const RegionalSettings padded = Settings("dd.MM.yyyy", '.');
  ExpectReads({"5.12.2011", 2011, 12, 5}, padded, kMarch15_2011);
}

TEST(RegionalSettingsRead, CenturyWindowFollowsTheClock) {
  const RegionalSettings czech = CzechRegionalSettings();
  const FixedClock in_2080({2080, 6, 1, 0, 0, 0, 0});  // window 2030..2129
  ExpectReads({"1.1.29", 2129, 1, 1}, czech, in_2080);
  ExpectReads({"1.1.30", 2030, 1, 1}, czech, in_2080);
  ExpectReads({"1.6", 2080, 6, 1}, czech, in_2080);

  RegionalSettings this_century = czech;
  this_century.two_digit_year_century_window = 0;
  ExpectReads({"1.1.60", 2060, 1, 1}, this_century, kMarch15_2011);
  ExpectReads({"1.1.99", 2099, 1, 1}, this_century, kMarch15_2011);
}

TEST(RegionalSettingsRead, StrToDateThrowsTheDelphiMessage) {
  const RegionalSettings czech = CzechRegionalSettings();
  EXPECT_EQ(StrToDate("15.3.2011", czech, kMarch15_2011), DateTimeFromDate(2011, 3, 15));
  try {
    StrToDate("31.4.2011", czech, kMarch15_2011);
    FAIL() << "no exception";
  } catch (const DateConversionError& error) {
    EXPECT_STREQ(error.what(), "'31.4.2011' is not a valid date");
  }
}

TEST(DateOrZero, InvalidOrEmptyIsZero) {
  const RegionalSettings czech = CzechRegionalSettings();
  EXPECT_EQ(DateOrZero("", czech, kMarch15_2011), 0.0);
  EXPECT_EQ(DateOrZero("31.4.2011", czech, kMarch15_2011), 0.0);
  EXPECT_EQ(DateOrZero("dnes", czech, kMarch15_2011), 0.0);
  EXPECT_EQ(DateOrZero("15.3.2011", czech, kMarch15_2011), DateTimeFromDate(2011, 3, 15));
  EXPECT_EQ(DateOrZero("5.12", czech, kMarch15_2011), DateTimeFromDate(2011, 12, 5));
  EXPECT_EQ(DateOrZero("30.12.1899", czech, kMarch15_2011), 0.0);
  EXPECT_LT(DateOrZero("1.1.1800", czech, kMarch15_2011), 0.0);  // a real date before the epoch
}

TEST(DateOrZero, SurvivesAnyBytes) {
  const RegionalSettings czech = CzechRegionalSettings();
  EXPECT_EQ(DateOrZero(std::string(10000, '9'), czech, kMarch15_2011), 0.0);
  EXPECT_EQ(DateOrZero(std::string(10000, '.'), czech, kMarch15_2011), 0.0);
  EXPECT_EQ(DateOrZero(std::string(10000, '9') + ".1.2011", czech, kMarch15_2011), 0.0);
  EXPECT_EQ(DateOrZero("99999999999999999999.99999999999999.1", czech, kMarch15_2011), 0.0);
  EXPECT_EQ(DateOrZero(std::string(10000, ' ') + "15.3.2011", czech, kMarch15_2011),
            DateTimeFromDate(2011, 3, 15));
  EXPECT_EQ(DateOrZero(std::string("15.3\0.2011", 10), czech, kMarch15_2011), 0.0);

  // Random texts over an alphabet dense in digits and separators: every
  // result is 0 or a date the calendar holds.
  std::mt19937 random(20110315);
  const std::string alphabet = "0123456789.. \t/-x\xC3\xA1\xFF";
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<int> length(0, 24);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    for (int k = length(random); k > 0; --k) text.push_back(alphabet[pick(random)]);
    const double value = DateOrZero(text, czech, kMarch15_2011);
    EXPECT_TRUE(value == 0.0 ||
                (value >= -693593.0 && value <= 2958465.0 && value == std::floor(value)))
        << text;
  }
}

}  // namespace
}  // namespace dalimor
