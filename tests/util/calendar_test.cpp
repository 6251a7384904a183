#include "util/calendar.h"

#include <gtest/gtest.h>

namespace dalimor {
namespace {

TEST(Calendar, DateTimeNumbersCountFromDecember30Of1899) {
  EXPECT_EQ(DateTimeFromDate(1899, 12, 30), 0.0);
  EXPECT_EQ(DateTimeFromDate(1900, 1, 1), 2.0);
  EXPECT_EQ(DateTimeFromDate(2011, 3, 15), 40617.0);
  const CivilDate back = DateFromDateTime(40617.75);
  EXPECT_EQ(back.year, 2011);
  EXPECT_EQ(back.month, 3);
  EXPECT_EQ(back.day, 15);
}

TEST(Calendar, DayNumbersRoundTripOverCenturies) {
  for (int64_t days = DaysFromCivil(1, 1, 1); days < DaysFromCivil(2200, 1, 1); days += 37) {
    const CivilDate date = CivilFromDays(days);
    ASSERT_EQ(DaysFromCivil(date.year, date.month, date.day), days);
  }
}

TEST(Calendar, NowIncludesTheTimeOfDay) {
  const FixedClock clock({2011, 3, 15, 18, 0, 0, 0});
  EXPECT_DOUBLE_EQ(NowDateTime(clock), 40617.75);
  EXPECT_DOUBLE_EQ(TodayDateTime(clock), 40617.0);
}

}  // namespace
}  // namespace dalimor
