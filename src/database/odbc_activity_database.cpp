#include "database/odbc_activity_database.h"

#include <fcntl.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "database/sample_columns.h"
#include "nuclides/activity.h"
#include "nuclides/lod.h"
#include "nuclides/quant_common.h"
#include "platform/c_format.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "reports/activity_database.h"
#include "reports/report_session.h"

namespace kestrim {
namespace {

// The PostgreSQL advisory lock that Kestrim's exports to one database take
// in turn ("KEST"); it needs no privilege beyond connecting.
constexpr long kPostgresExportLock = 0x4B455354;

bool succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// Table and column names are quoted: PostgreSQL keeps their case only so.
// SQLite takes a double-quoted name that names no column for a text
// literal; brackets always name a column there.
std::string quote_name(std::string_view name, DatabaseBackEnd back_end) {
  if (back_end == DatabaseBackEnd::kSqlite) return "[" + std::string(name) + "]";
  return "\"" + std::string(name) + "\"";
}

SQLCHAR* sql_text(const std::string& s) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str())); }

std::string trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  const auto e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

std::string cut_at_space(const std::string& s) {
  const std::string t = trim(s);
  return t.substr(0, t.find(' '));
}

float finite_real(double v) {
  if (!std::isfinite(v)) return 0.0f;
  if (std::fabs(v) > 3.0e38) return v > 0 ? 3.0e38f : -3.0e38f;
  return static_cast<float>(v);
}

// The first diagnostic record of a handle: SQL state and the driver's text.
struct Diagnostic {
  std::string state;
  std::string text;
};

Diagnostic diagnostic(SQLSMALLINT type, SQLHANDLE handle) {
  if (handle == SQL_NULL_HANDLE) return {};
  SQLCHAR state[8] = {0};
  SQLINTEGER native = 0;
  SQLCHAR text[512] = {0};
  SQLSMALLINT length = 0;
  if (!succeeded(SQLGetDiagRec(type, handle, 1, state, &native, text, sizeof text, &length))) return {};
  return {reinterpret_cast<char*>(state), reinterpret_cast<char*>(text)};
}

// The user's and the system's odbc.ini as unixODBC finds them.
std::string user_odbc_ini() {
  if (const char* f = std::getenv("ODBCINI"); f != nullptr && *f != '\0') return f;
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "~") + "/.odbc.ini";
}

std::string system_odbc_ini() {
  if (const char* d = std::getenv("ODBCSYSINI"); d != nullptr && *d != '\0') return join_path(d, "odbc.ini");
  return "/etc/odbc.ini";
}

DatabaseBackEnd back_end_of(const std::string& driver) {
  const std::string d = to_lower(driver);
  if (d.find("sqlite") != std::string::npos) return DatabaseBackEnd::kSqlite;
  if (d.find("postgres") != std::string::npos || d.find("psql") != std::string::npos)
    return DatabaseBackEnd::kPostgresql;
  return DatabaseBackEnd::kNone;
}

// A statement handle freed at the end of its scope.
class Statement {
 public:
  explicit Statement(SQLHDBC dbc) { rc_ = SQLAllocHandle(SQL_HANDLE_STMT, dbc, &h_); }
  ~Statement() {
    if (h_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, h_);
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool allocated() const { return succeeded(rc_); }
  SQLRETURN alloc_result() const { return rc_; }
  SQLHSTMT handle() const { return h_; }

 private:
  SQLHSTMT h_ = SQL_NULL_HSTMT;
  SQLRETURN rc_ = SQL_ERROR;
};

// A parameter value whose storage stays put until the statement has run.
struct Parameter {
  ColumnValue value;
  SQL_DATE_STRUCT date{};
  SQL_TIME_STRUCT time{};
  SQLINTEGER integer = 0;
  SQLSMALLINT small = 0;
  SQLREAL real = 0;
  SQLLEN indicator = 0;
};

// The export of one analysis, inside one transaction.
class Export {
 public:
  Export(SQLHDBC dbc, DatabaseBackEnd back_end, const ReportSession& s)
      : dbc_(dbc), back_end_(back_end), s_(s), ui_(*s.ui) {}

  // The new sample number, or -1 after a failure already reported.
  long run() {
    const long id = next_sample_number();
    if (id < 0) return -1;
    ui_.set_status("Updating Database...");
    if (!insert_sample(id)) return -1;
    if (!insert_nuclides(id)) return -1;
    if (!insert_peaks(id)) return -1;
    return id;
  }

  // The failure was the connection's: it is gone.
  bool connection_lost() const { return lost_; }

 private:
  std::string q(std::string_view name) const { return quote_name(name, back_end_); }

  // The two messages of an ODBC failure: the call and its return code, then
  // the driver's text under the SQL state.
  bool report(const char* call, SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle) {
    ui_.message_box(c_format("%s failed, error %d", call, static_cast<int>(rc)), "Error", kMsgError);
    Diagnostic d = diagnostic(type, handle);
    if (!d.state.empty() || !d.text.empty()) ui_.message_box(d.text, d.state, kMsgError);
    if (d.state.rfind("08", 0) == 0) lost_ = true;
    return false;
  }

  bool allocated(const Statement& st) {
    if (st.allocated()) return true;
    return report("SQLAllocHandle", st.alloc_result(), SQL_HANDLE_DBC, dbc_);
  }

  bool execute_direct(Statement& st, const std::string& sql) {
    if (!allocated(st)) return false;
    SQLRETURN rc = SQLExecDirect(st.handle(), sql_text(sql), SQL_NTS);
    if (succeeded(rc) || rc == SQL_NO_DATA) return true;
    return report("SQLExecDirect", rc, SQL_HANDLE_STMT, st.handle());
  }

  // Fetches the next row: 1 a row, 0 no more, -1 a failure (reported). A
  // fetch that succeeds with information is reported and ends the loop.
  int fetch(Statement& st) {
    SQLRETURN rc = SQLFetch(st.handle());
    if (rc == SQL_SUCCESS) return 1;
    if (rc == SQL_NO_DATA) return 0;
    report("SQLFetch", rc, SQL_HANDLE_STMT, st.handle());
    return rc == SQL_SUCCESS_WITH_INFO ? 0 : -1;
  }

  // Takes the export lock for this transaction, then the largest ID: the
  // new sample number is one more. The lock is held until the commit or
  // rollback, so the next station reads the ID this one wrote.
  long next_sample_number() {
    const char* missing = "Could not find the Field:- 'ID' in the Table:- 'SampleInfo'";
    {
      Statement lock(dbc_);
      const std::string sql = back_end_ == DatabaseBackEnd::kPostgresql
                                  ? c_format("SELECT pg_advisory_xact_lock(%ld)", kPostgresExportLock)
                                  : "DELETE FROM " + q("SampleInfo") + " WHERE 1 = 0";
      if (!execute_direct(lock, sql)) {
        ui_.message_box(missing);
        return -1;
      }
    }
    Statement st(dbc_);
    if (!execute_direct(st, "SELECT MAX(" + q("ID") + ") FROM " + q("SampleInfo"))) {
      ui_.message_box(missing);
      return -1;
    }
    long largest = 0;
    const int f = fetch(st);
    if (f < 0) return -1;
    if (f == 1) {
      SQLINTEGER value = 0;
      SQLLEN ind = 0;
      SQLRETURN rc = SQLGetData(st.handle(), 1, SQL_C_SLONG, &value, 0, &ind);
      if (!succeeded(rc)) {
        report("SQLGetData", rc, SQL_HANDLE_STMT, st.handle());
        ui_.message_box(missing);
        return -1;
      }
      if (ind != SQL_NULL_DATA) largest = value;
    }
    return largest + 1;
  }

  struct Column {
    std::string name;
    SQLSMALLINT sql_type = SQL_VARCHAR;
  };

  // The columns of SampleInfo in the table's own order.
  bool sample_columns(std::vector<Column>& columns) {
    Statement st(dbc_);
    if (!allocated(st)) return false;
    const std::string table = "SampleInfo";
    SQLRETURN rc = SQLColumns(st.handle(), nullptr, 0, nullptr, 0, sql_text(table), SQL_NTS, nullptr, 0);
    if (!succeeded(rc)) return report("SQLColumns", rc, SQL_HANDLE_STMT, st.handle());
    std::string schema;
    bool first = true;
    for (;;) {
      const int f = fetch(st);
      if (f < 0) return false;
      if (f == 0) break;
      char schema_name[256] = {0}, table_name[256] = {0}, name[256] = {0};
      SQLSMALLINT type = SQL_VARCHAR;
      SQLLEN ind = 0;
      SQLGetData(st.handle(), 2, SQL_C_CHAR, schema_name, sizeof schema_name, &ind);
      if (ind == SQL_NULL_DATA) schema_name[0] = '\0';
      SQLGetData(st.handle(), 3, SQL_C_CHAR, table_name, sizeof table_name, &ind);
      rc = SQLGetData(st.handle(), 4, SQL_C_CHAR, name, sizeof name, &ind);
      if (!succeeded(rc)) return report("SQLGetData", rc, SQL_HANDLE_STMT, st.handle());
      SQLGetData(st.handle(), 5, SQL_C_SSHORT, &type, 0, &ind);
      // The table name is a pattern for the driver: keep the exact name,
      // and the table of one schema only.
      if (std::string(table_name) != table) continue;
      if (first) schema = schema_name;
      first = false;
      if (schema != schema_name) continue;
      columns.push_back({name, type});
    }
    if (columns.empty()) {
      ui_.message_box("The no fields were found");
      return false;
    }
    return true;
  }

  bool bind(SQLHSTMT st, SQLUSMALLINT number, Parameter& p, SQLSMALLINT column_type) {
    ColumnValue& v = p.value;
    SQLRETURN rc = SQL_SUCCESS;
    p.indicator = 0;
    if (v.null || v.kind == ColumnKind::kNull) {
      p.indicator = SQL_NULL_DATA;
      SQLSMALLINT type = column_type;
      SQLSMALLINT c_type = SQL_C_CHAR;
      if (v.kind == ColumnKind::kDate) type = SQL_TYPE_DATE;
      if (v.kind == ColumnKind::kTime) type = SQL_TYPE_TIME;
      rc = SQLBindParameter(st, number, SQL_PARAM_INPUT, c_type, type, 1, 0, nullptr, 0, &p.indicator);
    } else {
      switch (v.kind) {
        case ColumnKind::kText: {
          p.indicator = SQL_NTS;
          const SQLULEN size = std::max<SQLULEN>(static_cast<SQLULEN>(v.size), v.text.size());
          rc = SQLBindParameter(st, number, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_CHAR, size, 0,
                                const_cast<char*>(v.text.c_str()), static_cast<SQLLEN>(v.text.size() + 1),
                                &p.indicator);
          break;
        }
        case ColumnKind::kInteger:
          p.integer = v.integer;
          rc = SQLBindParameter(st, number, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &p.integer, 0,
                                &p.indicator);
          break;
        case ColumnKind::kSmallInt:
          p.small = static_cast<SQLSMALLINT>(v.integer);
          rc = SQLBindParameter(st, number, SQL_PARAM_INPUT, SQL_C_SSHORT, SQL_SMALLINT, 5, 0, &p.small, 0,
                                &p.indicator);
          break;
        case ColumnKind::kReal:
          p.real = v.real;
          rc = SQLBindParameter(st, number, SQL_PARAM_INPUT, SQL_C_FLOAT, SQL_REAL, 7, 0, &p.real, 0,
                                &p.indicator);
          break;
        case ColumnKind::kDate:
          p.date.year = static_cast<SQLSMALLINT>(v.when.year);
          p.date.month = static_cast<SQLUSMALLINT>(v.when.month);
          p.date.day = static_cast<SQLUSMALLINT>(v.when.day);
          rc = SQLBindParameter(st, number, SQL_PARAM_INPUT, SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, 0, &p.date, 0,
                                &p.indicator);
          break;
        case ColumnKind::kTime:
          p.time.hour = static_cast<SQLUSMALLINT>(v.when.hour);
          p.time.minute = static_cast<SQLUSMALLINT>(v.when.minute);
          p.time.second = static_cast<SQLUSMALLINT>(v.second);
          rc = SQLBindParameter(st, number, SQL_PARAM_INPUT, SQL_C_TYPE_TIME, SQL_TYPE_TIME, 8, 0, &p.time, 0,
                                &p.indicator);
          break;
        case ColumnKind::kNull:
          break;
      }
    }
    if (succeeded(rc)) return true;
    return report("SQLBindParameter", rc, SQL_HANDLE_STMT, st);
  }

  bool prepare(Statement& st, const std::string& sql) {
    if (!allocated(st)) return false;
    SQLRETURN rc = SQLPrepare(st.handle(), sql_text(sql), SQL_NTS);
    if (succeeded(rc)) return true;
    return report("SQLPrepare", rc, SQL_HANDLE_STMT, st.handle());
  }

  bool execute(Statement& st) {
    SQLRETURN rc = SQLExecute(st.handle());
    if (succeeded(rc) || rc == SQL_NO_DATA) return true;
    return report("SQLExecute", rc, SQL_HANDLE_STMT, st.handle());
  }

  // The SampleInfo row: every column of the table that Kestrim knows, in
  // the table's order. Columns it does not know are left to their default.
  bool insert_sample(long id) {
    std::vector<Column> all;
    if (!sample_columns(all)) return false;
    std::vector<Column> columns;
    for (const Column& c : all)
      if (is_known_sample_column(c.name)) columns.push_back(c);
    if (columns.empty()) {
      ui_.message_box("The no fields were found");
      return false;
    }
    std::string sql = "INSERT INTO " + q("SampleInfo") + " (";
    for (std::size_t i = 0; i < columns.size(); ++i) sql += (i ? "," : "") + q(columns[i].name);
    sql += ") VALUES (";
    for (std::size_t i = 0; i + 1 < columns.size(); ++i) sql += "?,";
    sql += "?)";
    Statement st(dbc_);
    if (!prepare(st, sql)) return false;
    const auto clock = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(clock);
    std::tm local{};
    localtime_r(&t, &local);
    DateTime now;
    now.day = static_cast<std::int16_t>(local.tm_mday);
    now.month = static_cast<std::int16_t>(local.tm_mon + 1);
    now.year = static_cast<std::int16_t>(local.tm_year + 1900);
    now.hour = static_cast<std::int16_t>(local.tm_hour);
    now.minute = static_cast<std::int16_t>(local.tm_min);
    std::vector<Parameter> params(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
      params[i].value =
          sample_column_value(columns[i].name, s_, static_cast<std::int32_t>(id), now, local.tm_sec);
      if (!bind(st.handle(), static_cast<SQLUSMALLINT>(i + 1), params[i], columns[i].sql_type)) return false;
    }
    return execute(st);
  }

  // One Activities row per nuclide result whose name (cut at its first
  // space) the Nuclides table holds, ignoring case.
  bool insert_nuclides(long id) {
    {
      Statement check(dbc_);
      if (!execute_direct(check, "SELECT " + q("SampleNum") + " FROM " + q("Activities") +
                                     " WHERE 1 = 0")) {
        ui_.message_box("The Table:- 'Activities' must already exist in the database");
        return false;
      }
    }
    std::vector<std::string> names;
    {
      Statement st(dbc_);
      const char* missing = "Could not find the Field:- 'Nuclide' in the Table:- 'Nuclides'";
      if (!execute_direct(st, "SELECT " + q("ID") + "," + q("Nuclide") + " FROM " +
                                  q("Nuclides") + " ORDER BY " + q("ID"))) {
        ui_.message_box(missing);
        return false;
      }
      for (;;) {
        const int f = fetch(st);
        if (f < 0) return false;
        if (f == 0) break;
        char name[33] = {0};
        SQLLEN ind = 0;
        SQLRETURN rc = SQLGetData(st.handle(), 2, SQL_C_CHAR, name, sizeof name, &ind);
        if (!succeeded(rc)) {
          report("SQLGetData", rc, SQL_HANDLE_STMT, st.handle());
          ui_.message_box(missing);
          return false;
        }
        if (ind != SQL_NULL_DATA) names.push_back(trim(name));
      }
    }
    if (names.empty()) {
      // A database that lists no nuclides takes no nuclide rows.
      ui_.message_box("No Nuclide names were found", {}, kMsgWarning);
      return true;
    }
    Statement st(dbc_);
    if (!prepare(st, "INSERT INTO " + q("Activities") + " (" + q("SampleNum") + "," +
                         q("Nuclide") + "," + q("ActivityNow") + "," + q("Activity") + "," +
                         q("Uncertainty") + ") VALUES (?,?,?,?,?)"))
      return false;
    std::vector<Parameter> p(5);
    p[0].value.kind = ColumnKind::kInteger;
    p[0].value.integer = static_cast<std::int32_t>(id);
    p[2].value.kind = p[3].value.kind = p[4].value.kind = ColumnKind::kReal;
    for (const std::string& table_name : names) {
      for (const NuclideResult& r : s_.results.results) {
        const std::string name = cut_at_space(r.name);
        if (!iequals(name, table_name)) continue;
        p[1].value.kind = ColumnKind::kText;
        p[1].value.size = 8;
        p[1].value.text = name.substr(0, 8);
        p[2].value.real = finite_real(r.activity);
        p[3].value.real = finite_real(r.decay_corrected);
        p[4].value.real = finite_real(r.uncertainty);
        for (std::size_t i = 0; i < p.size(); ++i)
          if (!bind(st.handle(), static_cast<SQLUSMALLINT>(i + 1), p[i], SQL_VARCHAR)) return false;
        if (!execute(st)) return false;
        SQLFreeStmt(st.handle(), SQL_CLOSE);
      }
    }
    return true;
  }

  int match_peak(double energy) const { return peak_matching_energy(s_, energy); }

  // One PeakData row per energy of the Energies table.
  bool insert_peaks(long id) {
    std::vector<double> energies;
    {
      Statement st(dbc_);
      if (!execute_direct(st, "SELECT " + q("ID") + "," + q("Energy") + " FROM " +
                                  q("Energies") + " ORDER BY " + q("ID")))
        return false;
      for (;;) {
        const int f = fetch(st);
        if (f < 0) return false;
        if (f == 0) break;
        double energy = 0;
        SQLLEN ind = 0;
        SQLRETURN rc = SQLGetData(st.handle(), 2, SQL_C_DOUBLE, &energy, 0, &ind);
        if (!succeeded(rc)) return report("SQLGetData", rc, SQL_HANDLE_STMT, st.handle());
        if (ind != SQL_NULL_DATA) energies.push_back(energy);
      }
    }
    if (energies.empty()) return true;
    {
      Statement check(dbc_);
      if (!execute_direct(check, "SELECT " + q("SampleNum") + " FROM " + q("PeakData") +
                                     " WHERE 1 = 0")) {
        ui_.message_box("The Table:- 'PeakData' must already exist in the database");
        return false;
      }
    }
    Statement st(dbc_);
    if (!prepare(st, "INSERT INTO " + q("PeakData") + " (" + q("SampleNum") + "," + q("Energy") +
                         "," + q("Channel") + "," + q("FWHM") + "," + q("GammasPerSec") + "," +
                         q("UnCert") + ") VALUES (?,?,?,?,?,?)"))
      return false;
    std::vector<Parameter> p(6);
    p[0].value.kind = ColumnKind::kInteger;
    p[0].value.integer = static_cast<std::int32_t>(id);
    for (std::size_t i = 1; i < p.size(); ++i) p[i].value.kind = ColumnKind::kReal;
    const SpectrumHeader& h = s_.spectrum.header;
    for (double energy : energies) {
      const int k = match_peak(energy);
      double channel = 0, fwhm = 0, gps = 0, uncertainty = 0;
      if (k > 0) {
        channel = s_.peaks.centre[k];
        fwhm = s_.peaks.fwhm_kev[k];
        gps = s_.peaks.gps[k];
        uncertainty = s_.peaks.gps_pct[k];
        const int owner = s_.results.peak_owner[k];
        if (owner >= 0 && owner < static_cast<int>(s_.library.nuclides.size())) {
          const double specific =
              specific_activity(gps, h.sample_size, h.correction_factor, s_.params.activity_factor);
          gps = decay_correct(specific, s_.results.decay_interval, s_.library.nuclides[owner].half_life,
                              h.true_time);
        }
      } else if (s_.params.unconditional_library_peaks == 0) {
        gps = limit_at_energy(s_, energy, false, s_.params.lod_type, nullptr);
      }
      p[1].value.real = finite_real(energy);
      p[2].value.real = finite_real(channel);
      p[3].value.real = finite_real(fwhm);
      p[4].value.real = finite_real(gps);
      p[5].value.real = finite_real(uncertainty);
      for (std::size_t i = 0; i < p.size(); ++i)
        if (!bind(st.handle(), static_cast<SQLUSMALLINT>(i + 1), p[i], SQL_REAL)) return false;
      if (!execute(st)) return false;
      SQLFreeStmt(st.handle(), SQL_CLOSE);
    }
    return true;
  }

  SQLHDBC dbc_;
  DatabaseBackEnd back_end_;
  const ReportSession& s_;
  Platform& ui_;
  bool lost_ = false;
};

// Creates `path` from `source` unless another run has just created it: the
// copy is written beside it and linked to the name, which fails when the
// name exists. 1 created (or found made by another run), 0 failed.
int create_from_reference(const std::string& source, const std::string& path, std::string& error) {
  std::vector<std::uint8_t> bytes;
  if (!read_file(source, bytes)) {
    error = "read";
    return 0;
  }
  const std::string tmp = temporary_name_for(path, static_cast<unsigned>(::getpid()));
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0664);
  if (fd < 0) {
    error = std::strerror(errno);
    return 0;
  }
  std::size_t done = 0;
  bool ok = true;
  while (ok && done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) {
      error = std::strerror(n < 0 ? errno : ENOSPC);
      ok = false;
    } else {
      done += static_cast<std::size_t>(n);
    }
  }
  if (ok && ::fsync(fd) != 0) {
    error = std::strerror(errno);
    ok = false;
  }
  if (::close(fd) != 0 && ok) {
    error = std::strerror(errno);
    ok = false;
  }
  if (ok && ::link(tmp.c_str(), path.c_str()) != 0 && errno != EEXIST) {
    error = std::strerror(errno);
    ok = false;
  }
  ::unlink(tmp.c_str());
  return ok ? 1 : 0;
}

}  // namespace

struct OdbcActivityDatabase::Connection {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  bool connected = false;
  DatabaseBackEnd back_end = DatabaseBackEnd::kNone;
  std::string file;  // SQLite: the database file of the connection
  long last = 0;
};

OdbcActivityDatabase::OdbcActivityDatabase() : c_(std::make_unique<Connection>()) {}

OdbcActivityDatabase::~OdbcActivityDatabase() { close(); }

bool OdbcActivityDatabase::connected() const { return c_->connected; }
DatabaseBackEnd OdbcActivityDatabase::back_end() const { return c_->back_end; }
long OdbcActivityDatabase::last_sample_number() const { return c_->last; }

void OdbcActivityDatabase::close() {
  if (c_->dbc != SQL_NULL_HDBC) {
    if (c_->connected) {
      SQLEndTran(SQL_HANDLE_DBC, c_->dbc, SQL_ROLLBACK);
      SQLDisconnect(c_->dbc);
    }
    SQLFreeHandle(SQL_HANDLE_DBC, c_->dbc);
    c_->dbc = SQL_NULL_HDBC;
  }
  if (c_->env != SQL_NULL_HENV) {
    SQLFreeHandle(SQL_HANDLE_ENV, c_->env);
    c_->env = SQL_NULL_HENV;
  }
  c_->connected = false;
  c_->back_end = DatabaseBackEnd::kNone;
  c_->file.clear();
}

namespace {

// The database file of an SQLite data source: the database name + ".db" in
// the working folder; when it cannot be opened the user may have it created
// from the reference database. "" when there is none (reported).
std::string sqlite_database_file(const ReportSession& s) {
  Platform& ui = *s.ui;
  const std::string stored = to_string(s.params.database_name);
  if (s.flags.database_path.empty() && !stored.empty() && !stays_inside(stored)) {
    ui.message_box("The database name must be a file in the working folder:- " + stored, {}, kMsgError);
    return "";
  }
  const std::string path = resolve_path(database_stem(s) + ".db");
  for (;;) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
      ::close(fd);
      return path;
    }
    if (errno != EACCES && errno != EBUSY && errno != ETXTBSY) break;
    const int answer =
        ui.message_box("The database file is in use by another application", "", kMsgOkCancel, kAnswerCancel);
    if (answer != kAnswerOk) {
      s.flags.abort_requested = true;
      return "";
    }
  }
  if (ui.message_box("Do you want to Create a new database ?", "Could not open database file:- " + base_name(path),
                     kMsgYesNo, kAnswerYes) != kAnswerYes)
    return "";
  std::string reference = resolve_path(join_path(s.paths.working_dir, kReferenceDatabase));
  if (!file_exists(reference))
    reference = resolve_path(join_path(join_path(s.paths.program_dir, "Database"), kReferenceDatabase));
  if (!file_exists(reference)) {
    ui.message_box(std::string("Could not open database file:- ") + kReferenceDatabase, {}, kMsgError);
    return "";
  }
  std::string error;
  if (!create_from_reference(reference, path, error)) {
    ui.message_box("Error writing the database file:- " + path + " (" + error + ")", {}, kMsgError);
    return "";
  }
  return path;
}

}  // namespace

int OdbcActivityDatabase::open(const ReportSession& s) {
  Platform& ui = *s.ui;
  if (c_->connected) {
    // Another database name (a new dbase= or Defaults file) means another file.
    if (c_->back_end != DatabaseBackEnd::kSqlite) return 1;
    if (resolve_path(database_stem(s) + ".db") == c_->file) return 1;
    close();
  }
  if (c_->env == SQL_NULL_HENV) {
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &c_->env))) {
      c_->env = SQL_NULL_HENV;
      ui.message_box("SQLAllocEnv failed");
      return 0;
    }
    SQLSetEnvAttr(c_->env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  }
  // The data source and its driver, from the user's and the system's odbc.ini.
  std::string driver;
  bool found = false;
  SQLCHAR name[SQL_MAX_DSN_LENGTH + 1];
  SQLCHAR description[512];
  SQLSMALLINT name_length = 0, description_length = 0;
  for (SQLUSMALLINT direction = SQL_FETCH_FIRST;; direction = SQL_FETCH_NEXT) {
    SQLRETURN rc = SQLDataSources(c_->env, direction, name, sizeof name, &name_length, description,
                                  sizeof description, &description_length);
    if (!succeeded(rc)) break;
    if (iequals(reinterpret_cast<char*>(name), kDataSourceName)) {
      driver = reinterpret_cast<char*>(description);
      found = true;
      break;
    }
  }
  if (!found) {
    ui.message_box(std::string("Could not find the ODBC Data Source named:- ") + kDataSourceName +
                       ", add it to the user's odbc.ini (" + user_odbc_ini() + ") or the system's (" +
                       system_odbc_ini() + "); 'odbcinst -q -s' lists the data sources",
                   {}, kMsgError);
    close();
    return 0;
  }
  const DatabaseBackEnd back_end = back_end_of(driver);
  if (back_end == DatabaseBackEnd::kNone) {
    ui.message_box("The ODBC Data Source Driver should be set to:- SQLite3 or PostgreSQL", {}, kMsgError);
    close();
    return 0;
  }
  std::string connect = std::string("DSN=") + kDataSourceName + ";";
  std::string file;
  if (back_end == DatabaseBackEnd::kSqlite) {
    file = sqlite_database_file(s);
    if (file.empty()) {
      close();
      return 0;
    }
    // The data source is pointed at the file for this connection.
    connect += "Database=" + file + ";";
  }
  ui.set_status("Checking Database...");
  if (!succeeded(SQLAllocHandle(SQL_HANDLE_DBC, c_->env, &c_->dbc))) {
    c_->dbc = SQL_NULL_HDBC;
    ui.message_box("SQLAllocConnect failed");
    close();
    return 0;
  }
  if (!succeeded(SQLSetConnectAttr(c_->dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(5), 0))) {
    ui.message_box("SQLSetConnectOption failed");
    close();
    return 0;
  }
  SQLCHAR out[1024];
  SQLSMALLINT out_length = 0;
  SQLRETURN rc = SQLDriverConnect(c_->dbc, nullptr, sql_text(connect), SQL_NTS, out, sizeof out, &out_length,
                                  SQL_DRIVER_NOPROMPT);
  if (!succeeded(rc)) {
    ui.message_box(c_format("%s failed, error %d", "SQLDriverConnect", static_cast<int>(rc)), "Error", kMsgError);
    Diagnostic d = diagnostic(SQL_HANDLE_DBC, c_->dbc);
    if (!d.state.empty() || !d.text.empty()) ui.message_box(d.text, d.state, kMsgError);
    close();
    return 0;
  }
  c_->connected = true;
  // Each export is one transaction, committed or rolled back as a whole.
  rc = SQLSetConnectAttr(c_->dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
  if (!succeeded(rc)) {
    ui.message_box(c_format("%s failed, error %d", "SQLSetConnectAttr", static_cast<int>(rc)), "Error", kMsgError);
    Diagnostic d = diagnostic(SQL_HANDLE_DBC, c_->dbc);
    if (!d.state.empty() || !d.text.empty()) ui.message_box(d.text, d.state, kMsgError);
    close();
    return 0;
  }
  c_->back_end = back_end;
  c_->file = file;
  return 1;
}

int OdbcActivityDatabase::test(const ReportSession& s) {
  close();
  const int ok = open(s);
  close();
  return ok;
}

int OdbcActivityDatabase::export_results(const ReportSession& s) {
  if (!open(s)) return 0;
  Export run(c_->dbc, c_->back_end, s);
  const long id = run.run();
  if (id < 0) {
    // Nothing of this analysis stays in the database.
    const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, c_->dbc, SQL_ROLLBACK);
    if (run.connection_lost() || !succeeded(rc)) close();
    return 0;
  }
  const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, c_->dbc, SQL_COMMIT);
  if (!succeeded(rc)) {
    s.ui->message_box(c_format("%s failed, error %d", "SQLEndTran", static_cast<int>(rc)), "Error", kMsgError);
    Diagnostic d = diagnostic(SQL_HANDLE_DBC, c_->dbc);
    if (!d.state.empty() || !d.text.empty()) s.ui->message_box(d.text, d.state, kMsgError);
    if (!succeeded(SQLEndTran(SQL_HANDLE_DBC, c_->dbc, SQL_ROLLBACK)) || d.state.rfind("08", 0) == 0) close();
    return 0;
  }
  c_->last = id;
  return 1;
}

}  // namespace kestrim
