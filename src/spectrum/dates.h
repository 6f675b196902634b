// Dates and times of spectrum headers.
//
// Dates are (day, month 1-12, four-digit year); times (hour, minute). Day
// numbers count days from 1 January 1900 (day 0), every year divisible by
// four being a leap year, 1900 included, as the stored files assume.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrim {

class Platform;

struct DateTime {
  std::int16_t day = 0;
  std::int16_t month = 0;
  std::int16_t year = 0;
  std::int16_t hour = 0;
  std::int16_t minute = 0;
  bool operator==(const DateTime&) const = default;
};

// "%2d-%s-%4d" with the month's three-letter abbreviation ("Jan" .. "Dec").
std::string format_date(int day, int month, int year);
// "%2d:%02d".
std::string format_time(int hour, int minute);
// Abbreviation of month 1-12, "???" outside.
const char* month_abbreviation(int month);

// Parses "dd-mmm-yy", "dd/mm/yyyy", "dd.mm.yy" (at most 15 characters; month
// as a number or abbreviation). On failure shows "The Date should be in the
// format dd-mmm-yy" or "This Date is invalid" and returns 0; else 1.
int parse_date(Platform& ui, std::string_view text, int& day, int& month, int& year);
// Parses "hh:mm" (at most 5 characters, any one separator). On failure shows
// "The Time should be in the format hh:mm" and returns 0.
int parse_time(Platform& ui, std::string_view text, int& hour, int& minute);

// The same checks without messages: the message that would be shown, or ""
// when the text parses.
std::string check_date(std::string_view text, int& day, int& month, int& year);
std::string check_time(std::string_view text, int& hour, int& minute);

// Length of a month, February having 29 days when the year divides by 4.
int days_in_month(int month, int year);

// Current local date and time from the system clock.
DateTime now_date_time();

// Days since 1 January 1900 (day 0) and back.
long day_number(int day, int month, int year);
void date_from_day_number(long number, int& day, int& month, int& year);

// The date and time `minutes` minutes before `dt`.
DateTime minutes_before(const DateTime& dt, long minutes);

// Minutes from 1 January 1900 00:00 to `dt`.
double minutes_since_1900(const DateTime& dt);

}  // namespace kestrim
