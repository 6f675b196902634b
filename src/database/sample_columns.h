// The columns of the SampleInfo table that Kestrim knows, and the value of
// each for the analysis of a session. A database table may hold any subset
// of them in any order; names are matched case-sensitively.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "spectrum/dates.h"

namespace kestrim {

struct ReportSession;

// How a value is bound: its ODBC C and SQL type.
enum class ColumnKind {
  kText,      // SQL_C_CHAR / SQL_CHAR with `size` as the column size
  kInteger,   // SQL_C_SLONG / SQL_INTEGER
  kSmallInt,  // SQL_C_SSHORT / SQL_SMALLINT
  kReal,      // SQL_C_FLOAT / SQL_REAL
  kDate,      // SQL_C_TYPE_DATE / SQL_TYPE_DATE
  kTime,      // SQL_C_TYPE_TIME / SQL_TYPE_TIME
  kNull,      // a recognised name that receives no value: NULL
};

struct ColumnValue {
  ColumnKind kind = ColumnKind::kNull;
  int size = 0;              // text: the column size passed
  std::string text;          // text, already cut to `size` characters (UTF-8)
  std::int32_t integer = 0;  // integer and small integer
  float real = 0;
  // Date (day, month, year) or time (hour, minute); a date or time that is
  // not set (day 0) or not valid is bound as NULL.
  DateTime when;
  int second = 0;
  bool null = false;
};

// The number of names the table of known columns holds (60).
int known_sample_column_count();
// The i-th known column name, 0 <= i < known_sample_column_count().
std::string_view known_sample_column(int i);

// True when `name` is one of the known columns (case-sensitive).
bool is_known_sample_column(std::string_view name);

// The value of the known column `name` for the analysis in `session`;
// `sample_id` is the new sample number and `now` the time of the export.
// An unknown name gives kNull.
ColumnValue sample_column_value(std::string_view name, const ReportSession& session,
                                std::int32_t sample_id, const DateTime& now, int now_second);

}  // namespace kestrim
