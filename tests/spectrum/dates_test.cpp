#include "spectrum/dates.h"

#include <gtest/gtest.h>

#include "platform/scripted_platform.h"

namespace kestrim {
namespace {

TEST(DateParse, TwoDigitYearsAndLeapDays) {
  ScriptedPlatform ui;
  int d, m, y;
  ASSERT_EQ(parse_date(ui, "29-Feb-00", d, m, y), 1);
  EXPECT_EQ(d, 29);
  EXPECT_EQ(m, 2);
  EXPECT_EQ(y, 2000);
  EXPECT_EQ(parse_date(ui, "29-Feb-01", d, m, y), 0);
  EXPECT_EQ(ui.texts().back(), "This Date is invalid");
  ASSERT_EQ(parse_date(ui, "1-1-49", d, m, y), 1);
  EXPECT_EQ(y, 2049);
  ASSERT_EQ(parse_date(ui, "1/1/50", d, m, y), 1);
  EXPECT_EQ(y, 1950);
  ASSERT_EQ(parse_date(ui, "31.12.149", d, m, y), 1);
  EXPECT_EQ(y, 2049);
  ASSERT_EQ(parse_date(ui, "15-jun-2024", d, m, y), 1);
  EXPECT_EQ(m, 6);
  EXPECT_EQ(y, 2024);
}

TEST(DateParse, MessagesForBadDates) {
  ScriptedPlatform ui;
  int d, m, y;
  EXPECT_EQ(parse_date(ui, "12 Jan 2020", d, m, y), 0);
  EXPECT_EQ(ui.texts().back(), "The Date should be in the format dd-mmm-yy");
  EXPECT_EQ(parse_date(ui, "12-Jan", d, m, y), 0);
  EXPECT_EQ(ui.texts().back(), "The Date should be in the format dd-mmm-yy");
  EXPECT_EQ(parse_date(ui, "31-Apr-20", d, m, y), 0);
  EXPECT_EQ(ui.texts().back(), "This Date is invalid");
  EXPECT_EQ(parse_date(ui, "1-13-20", d, m, y), 0);
  EXPECT_EQ(parse_date(ui, "1-Jan-2051", d, m, y), 0);
  EXPECT_EQ(parse_date(ui, "0-Jan-20", d, m, y), 0);
  EXPECT_EQ(ui.messages.size(), 6u);
}

TEST(TimeParse, HoursAndMinutes) {
  ScriptedPlatform ui;
  int h, m;
  ASSERT_EQ(parse_time(ui, "23:59", h, m), 1);
  EXPECT_EQ(h, 23);
  EXPECT_EQ(m, 59);
  ASSERT_EQ(parse_time(ui, "7.05", h, m), 1);
  EXPECT_EQ(h, 7);
  EXPECT_EQ(m, 5);
  EXPECT_EQ(parse_time(ui, "24:00", h, m), 0);
  EXPECT_EQ(parse_time(ui, "12:60", h, m), 0);
  EXPECT_EQ(ui.texts().back(), "The Time should be in the format hh:mm");
}

TEST(DateFormat, PaddedFields) {
  EXPECT_EQ(format_date(5, 3, 2024), " 5-Mar-2024");
  EXPECT_EQ(format_time(7, 5), " 7:05");
}

TEST(DayNumber, CountsFromFirstJanuary1900WithEveryFourthYearLeap) {
  EXPECT_EQ(day_number(1, 1, 1900), 0);
  EXPECT_EQ(day_number(1, 3, 1900), 60);  // 1900 counted as a leap year
  EXPECT_EQ(day_number(1, 1, 1901), 366);
  EXPECT_EQ(day_number(1, 1, 2000), 36525);
  for (long n : {0L, 59L, 60L, 365L, 366L, 36525L, 45000L, 54000L}) {
    int d, m, y;
    date_from_day_number(n, d, m, y);
    EXPECT_EQ(day_number(d, m, y), n);
  }
}

TEST(MinutesBefore, BorrowsAcrossMidnightAndMonths) {
  DateTime t{1, 3, 2024, 0, 30};
  DateTime r = minutes_before(t, 45);
  EXPECT_EQ(r, (DateTime{29, 2, 2024, 23, 45}));
  DateTime r2 = minutes_before(t, 1440 * 2 + 30);
  EXPECT_EQ(r2, (DateTime{28, 2, 2024, 0, 0}));
  DateTime r3 = minutes_before(DateTime{1, 1, 2000, 12, 0}, 0);
  EXPECT_EQ(r3, (DateTime{1, 1, 2000, 12, 0}));
}

}  // namespace
}  // namespace kestrim
