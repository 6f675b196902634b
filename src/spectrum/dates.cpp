#include "spectrum/dates.h"
#include "platform/c_locale.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/files.h"
#include "platform/platform.h"

namespace kestrim {

namespace {
constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kDateFormatMsg = "The Date should be in the format dd-mmm-yy";
constexpr const char* kDateInvalidMsg = "This Date is invalid";
constexpr const char* kTimeFormatMsg = "The Time should be in the format hh:mm";

bool is_separator(char c) { return c == '-' || c == '/' || c == '.'; }

// Reads an optionally signed decimal integer after blanks; false when none.
bool read_int(const std::string& s, std::size_t& pos, long& value) {
  while (pos < s.size() && std::isspace(static_cast<unsigned char>(s[pos]))) ++pos;
  std::size_t start = pos;
  if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) ++pos;
  std::size_t digits = pos;
  while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos]))) ++pos;
  if (pos == digits) {
    pos = start;
    return false;
  }
  value = std::strtol(s.substr(start, pos - start).c_str(), nullptr, 10);
  return true;
}

bool read_word(const std::string& s, std::size_t& pos, std::string& word) {
  while (pos < s.size() && std::isspace(static_cast<unsigned char>(s[pos]))) ++pos;
  std::size_t start = pos;
  while (pos < s.size() && !std::isspace(static_cast<unsigned char>(s[pos]))) ++pos;
  word = s.substr(start, pos - start);
  return !word.empty();
}
}  // namespace

const char* month_abbreviation(int month) {
  return (month >= 1 && month <= 12) ? kMonths[month - 1] : "???";
}

std::string format_date(int day, int month, int year) {
  char buf[64];
  c_snprintf(buf, sizeof buf, "%2d-%s-%4d", day, month_abbreviation(month), year);
  return buf;
}

std::string format_time(int hour, int minute) {
  char buf[32];
  c_snprintf(buf, sizeof buf, "%2d:%02d", hour, minute);
  return buf;
}

int days_in_month(int month, int year) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  if (month == 2 && year % 4 == 0) return 29;
  return kDays[month - 1];
}

std::string check_date(std::string_view text, int& day, int& month, int& year) {
  std::string s(text.substr(0, 15));
  int replaced = 0;
  for (char& c : s) {
    if (replaced == 2) break;
    if (is_separator(c)) {
      c = ' ';
      ++replaced;
    }
  }
  if (replaced < 2) return kDateFormatMsg;
  std::size_t pos = 0;
  long d = 0, y = 0;
  std::string mtext;
  if (!read_int(s, pos, d) || !read_word(s, pos, mtext) || !read_int(s, pos, y))
    return kDateInvalidMsg;
  if (y < 0 || y > 2050) return kDateInvalidMsg;
  if (y < 50) y += 100;
  if (y < 150) y += 1900;
  int m = 0;
  bool numeric = !mtext.empty();
  for (char c : mtext)
    if (!std::isdigit(static_cast<unsigned char>(c))) numeric = false;
  if (numeric) {
    m = std::atoi(mtext.c_str());
  } else {
    for (int i = 0; i < 12; ++i)
      if (iequals(mtext, kMonths[i])) m = i + 1;
  }
  if (m < 1 || m > 12) return kDateInvalidMsg;
  if (d < 1 || d > days_in_month(m, static_cast<int>(y))) return kDateInvalidMsg;
  day = static_cast<int>(d);
  month = m;
  year = static_cast<int>(y);
  return {};
}

std::string check_time(std::string_view text, int& hour, int& minute) {
  std::string s(text.substr(0, 5));
  std::size_t pos = 0;
  long h = 0, m = 0;
  if (!read_int(s, pos, h) || pos >= s.size()) return kTimeFormatMsg;
  ++pos;  // the separator, whatever it is
  if (!read_int(s, pos, m)) return kTimeFormatMsg;
  if (h < 0 || h > 23 || m < 0 || m >= 60) return kTimeFormatMsg;
  hour = static_cast<int>(h);
  minute = static_cast<int>(m);
  return {};
}

int parse_date(Platform& ui, std::string_view text, int& day, int& month, int& year) {
  std::string msg = check_date(text, day, month, year);
  if (msg.empty()) return 1;
  ui.message_box(msg, {}, kMsgWarning);
  return 0;
}

int parse_time(Platform& ui, std::string_view text, int& hour, int& minute) {
  std::string msg = check_time(text, hour, minute);
  if (msg.empty()) return 1;
  ui.message_box(msg, {}, kMsgWarning);
  return 0;
}

DateTime now_date_time() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  DateTime dt;
  dt.day = static_cast<std::int16_t>(tm.tm_mday);
  dt.month = static_cast<std::int16_t>(tm.tm_mon + 1);
  dt.year = static_cast<std::int16_t>(tm.tm_year + 1900);
  dt.hour = static_cast<std::int16_t>(tm.tm_hour);
  dt.minute = static_cast<std::int16_t>(tm.tm_min);
  return dt;
}

long day_number(int day, int month, int year) {
  long y = year - 1900;
  // Whole years before this one: every fourth year (1900 included) is leap.
  long days = y * 365 + (y > 0 ? (y - 1) / 4 + 1 : y / 4);
  for (int m = 1; m < month; ++m) days += days_in_month(m, year);
  return days + day - 1;
}

void date_from_day_number(long number, int& day, int& month, int& year) {
  // Four-year cycles of 1461 days, each starting with a leap year.
  long cycles = number >= 0 ? number / 1461 : (number - 1460) / 1461;
  long rest = number - cycles * 1461;
  year = 1900 + static_cast<int>(cycles * 4);
  while (true) {
    long len = (year % 4 == 0) ? 366 : 365;
    if (rest < len) break;
    rest -= len;
    ++year;
  }
  month = 1;
  while (rest >= days_in_month(month, year)) {
    rest -= days_in_month(month, year);
    ++month;
  }
  day = static_cast<int>(rest) + 1;
}

DateTime minutes_before(const DateTime& dt, long minutes) {
  long days = day_number(dt.day, dt.month, dt.year) - minutes / 1440;
  long of_day = dt.hour * 60L + dt.minute - minutes % 1440;
  if (of_day < 0) {
    of_day += 1440;
    --days;
  }
  int d, m, y;
  date_from_day_number(days, d, m, y);
  DateTime out;
  out.day = static_cast<std::int16_t>(d);
  out.month = static_cast<std::int16_t>(m);
  out.year = static_cast<std::int16_t>(y);
  out.hour = static_cast<std::int16_t>(of_day / 60);
  out.minute = static_cast<std::int16_t>(of_day % 60);
  return out;
}

double minutes_since_1900(const DateTime& dt) {
  return static_cast<double>(day_number(dt.day, dt.month, dt.year)) * 1440.0 + dt.hour * 60.0 +
         dt.minute;
}

}  // namespace kestrim
