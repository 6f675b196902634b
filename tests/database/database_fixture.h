// What the activity database tests run against: the real ODBC drivers
// registered in a private odbcinst.ini/odbc.ini (ODBCSYSINI, ODBCINI), a
// throw-away PostgreSQL cluster (initdb + pg_ctl in a temporary folder on a
// free port; run as an unprivileged user when the tests run as root) and
// stations: working folders whose Defaults send the activity database to
// ODBC, where the real `kestrim /batch` runs.
#pragma once

#include <string>
#include <vector>

#include "support/test_support.h"

namespace kestrim::test {

// The full path of an ODBC driver library ("libsqlite3odbc.so",
// "psqlodbca.so"), or "" when it is not installed.
std::string find_odbc_driver(const std::string& file);

// The data source "Kestrim Database" and the drivers, in files of `dir`.
class OdbcConfig {
 public:
  explicit OdbcConfig(const std::string& dir);
  // The DSN in the system's odbc.ini (SQLite) or in the user's (PostgreSQL).
  void use_sqlite();
  void use_postgresql(int port, const std::string& database, const std::string& user = "kestrim");
  // The environment prefix of a command that uses this configuration.
  std::string env() const;
  const std::string& sqlite_driver() const { return sqlite_; }
  const std::string& postgresql_driver() const { return postgresql_; }

 private:
  std::string dir_, sqlite_, postgresql_;
};

// A PostgreSQL server of its own, removed at destruction.
class PostgresCluster {
 public:
  explicit PostgresCluster(const std::string& dir);
  ~PostgresCluster();
  PostgresCluster(const PostgresCluster&) = delete;
  PostgresCluster& operator=(const PostgresCluster&) = delete;

  bool running() const { return running_; }
  // Why the server could not be started.
  const std::string& reason() const { return reason_; }
  int port() const { return port_; }
  // Runs `sql` in database `db` through psql: unaligned rows, fields
  // separated by '|', NULL shown as "NULL". Returns psql's exit status.
  int psql(const std::string& db, const std::string& sql, std::string* out = nullptr) const;
  // One value (the first field of the first row), "" on failure.
  std::string value(const std::string& db, const std::string& sql) const;
  // Creates `db` with the shipped schema and reference rows; `before` runs
  // first in the same session (such as a SET default_tablespace).
  bool create_database(const std::string& db, const std::string& before = "") const;
  // The prefix that runs a command as the server's user ("" when not root).
  const std::string& as_server_user() const { return as_user_; }
  const std::string& server_user() const { return user_; }

 private:
  std::string dir_, bin_, as_user_, user_;
  int port_ = 0;
  bool running_ = false;
  std::string reason_;
};

// A working folder and user folder whose Defaults (the shipped ones with
// the activity database switched on and sent to ODBC) run `kestrim`.
class Station {
 public:
  Station(const std::string& dir, const OdbcConfig& odbc);
  // The shell command that runs kestrim with `args` in this station.
  std::string command(const std::string& args) const;
  // Runs it; stdout and stderr merged into `out`.
  int run(const std::string& args, std::string* out) const;
  const std::string& working_dir() const { return wd_; }
  bool ready() const { return ready_; }

 private:
  std::string dir_, wd_, user_;
  const OdbcConfig& odbc_;
  bool ready_ = false;
};

// The shipped example spectrum.
std::string example_spectrum();

// Splits a line of '|'-separated fields.
std::vector<std::string> split_fields(const std::string& line);
// The lines of a text, without empty ones.
std::vector<std::string> split_rows(const std::string& text);

}  // namespace kestrim::test
