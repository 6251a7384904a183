#include "util/date_entry.h"

#include <gtest/gtest.h>

#include <string>

namespace dalimor {
namespace {

const FixedClock kMarch15_2011({2011, 3, 15, 10, 20, 30, 0});

struct DateCase {
  const char* input;
  const char* expected;  // nullptr: rejected
};

// Today is 15 March 2011 throughout.
constexpr DateCase kDateCases[] = {
    {"", ""},
    {"*", "15.03.2011"},
    {"+", "16.03.2011"},
    {"+10", "25.03.2011"},
    {"-1", "14.03.2011"},
    {"-0", "14.03.2011"},
    {"-", "14.03.2011"},
    {"+0", "16.03.2011"},
    {"+ (5", "20.03.2011"},
    {"+-5", "16.03.2011"},
    {"+1x7", "01.04.2011"},
    {"+2,9", "13.04.2011"},   // "," became ".", which is not the decimal separator
    {"+20", "04.04.2011"},
    {"-365", "15.03.2010"},
    {"5", "05.03.2011"},
    {"0512", "05.12.2011"},
    {"051209", "05.12.2009"},
    {"05121999", "05.12.1999"},
    {"051219991", "05.12.1999"},
    {"0512199", nullptr},
    {"123", "12.03.2011"},
    {"5.12", "05.12.2011"},
    {"5,12,10", "05.12.2010"},
    {"1.1.49", "01.01.2049"},
    {"1.1.50", "01.01.1950"},
    {"1.1.0", "01.01.2000"},
    {"5.12.", nullptr},
    {".12.2010", nullptr},
    {"31.4.2011", nullptr},
    {"29.2.2012", "29.02.2012"},
    {"29.2.2011", nullptr},
    {"29.2.2000", "29.02.2000"},
    {"29.2.1900", nullptr},
    {"1.1.2100", nullptr},
    {"1.1.999", nullptr},
    {"1.1.1000", "01.01.1000"},
    {"31.12.2099", "31.12.2099"},
    {"1.2.2010.5", nullptr},
    {"0.1.2010", nullptr},
    {"1.13.2010", nullptr},
    {" 5. 6.2010", "05.06.2010"},
    {"5.6.2010 ", nullptr},
    {"a.b.c", nullptr},
    {"ab", nullptr},
    {"*x", nullptr},
    {"15.03.2011", "15.03.2011"},
    {"1.1.99999999999", nullptr},
};

TEST(CompleteDateText, MatchesTheCompletionTable) {
  for (const DateCase& c : kDateCases) {
    std::string text = c.input;
    const bool accepted = CompleteDateText(text, kMarch15_2011);
    if (c.expected) {
      EXPECT_TRUE(accepted) << "input \"" << c.input << "\"";
      EXPECT_EQ(text, c.expected) << "input \"" << c.input << "\"";
    } else {
      EXPECT_FALSE(accepted) << "input \"" << c.input << "\" became \"" << text << "\"";
    }
  }
}

TEST(CompleteDateText, DayCountStopsAtTheDecimalSeparator) {
  std::string text = "+2.9";
  ASSERT_TRUE(CompleteDateText(text, kMarch15_2011, '.'));
  EXPECT_EQ(text, "17.03.2011");
}

TEST(CompleteDateText, RelativeDatesCrossMonthAndYearEnds) {
  const FixedClock new_year({2012, 12, 31, 0, 0, 0, 0});
  std::string text = "+";
  ASSERT_TRUE(CompleteDateText(text, new_year));
  EXPECT_EQ(text, "01.01.2013");
  text = "+60";
  ASSERT_TRUE(CompleteDateText(text, FixedClock({2012, 1, 1, 0, 0, 0, 0})));
  EXPECT_EQ(text, "01.03.2012");
}

TEST(CompleteDateText, HugeInputsAreRejectedOrBoundedWithoutCrashing) {
  std::string long_digits(10000, '7');
  std::string text = long_digits;
  EXPECT_FALSE(CompleteDateText(text, kMarch15_2011) && text.size() != 10);
  text = "+" + long_digits;
  EXPECT_FALSE(CompleteDateText(text, kMarch15_2011));  // beyond year 9999
  text = "-" + long_digits;
  EXPECT_FALSE(CompleteDateText(text, kMarch15_2011));
  text = std::string(5000, '.') + std::string(5000, ',');
  EXPECT_FALSE(CompleteDateText(text, kMarch15_2011));
  text = std::string("1.1.\0\xff\x80", 7);
  EXPECT_FALSE(CompleteDateText(text, kMarch15_2011));
}

TEST(IsIntegerText, AcceptsSignedDecimalWithLeadingBlanksOnly) {
  struct {
    const char* text;
    bool integer;
  } const cases[] = {
      {"0", true},       {"12", true},           {"-5", true},          {"+5", true},
      {"  7", true},     {"7 ", false},          {"", false},           {" ", false},
      {"-", false},      {"+", false},           {"1a", false},         {"0x10", false},
      {"$10", false},    {"2147483647", true},   {"2147483648", false}, {"-2147483648", true},
      {"-2147483649", false}, {"\t5", false},    {"1.5", false},        {"--5", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsIntegerText(c.text), c.integer) << c.text;
  EXPECT_EQ(IntegerFromText(" -42"), -42);
  EXPECT_EQ(IntegerFromText("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(IntegerFromText("x"), 0);
}

TEST(IsValidDateParts, ChecksRangesAndMonthLengths) {
  EXPECT_TRUE(IsValidDateParts(2011, 3, 15));
  EXPECT_TRUE(IsValidDateParts(2012, 2, 29));
  EXPECT_FALSE(IsValidDateParts(2011, 2, 29));
  EXPECT_TRUE(IsValidDateParts(2000, 2, 29));
  EXPECT_FALSE(IsValidDateParts(2100, 1, 1));
  EXPECT_FALSE(IsValidDateParts(999, 1, 1));
  EXPECT_FALSE(IsValidDateParts(2011, 0, 1));
  EXPECT_FALSE(IsValidDateParts(2011, 13, 1));
  EXPECT_FALSE(IsValidDateParts(2011, 4, 31));
  EXPECT_FALSE(IsValidDateParts(2011, 1, 0));
  EXPECT_FALSE(IsValidDateParts(2011, 1, -1));
}

TEST(ReplaceAllText, ReplacesLeftToRightWithoutOverlaps) {
  EXPECT_EQ(ReplaceAllText("a,b,,c", ",", "."), "a.b..c");
  EXPECT_EQ(ReplaceAllText("aaaa", "aa", "b"), "bb");
  EXPECT_EQ(ReplaceAllText("aaa", "aa", "aaa"), "aaaa");
  EXPECT_EQ(ReplaceAllText("Aa", "a", "x"), "Ax");
  EXPECT_EQ(ReplaceAllText("abc", "", "x"), "abc");
  EXPECT_EQ(ReplaceAllText("", "a", "x"), "");
}

TEST(CurrentYear, ComesFromTheClock) { EXPECT_EQ(CurrentYear(kMarch15_2011), 2011); }

}  // namespace
}  // namespace dalimor
