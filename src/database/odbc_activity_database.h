// The activity database over ODBC (unixODBC): the data source
// "Kestrim Database" of the user's or the system's odbc.ini, reached through
// the SQLite driver (a database file in the working folder: the database
// name + ".db", created on request from "Reference Database.db") or the
// PostgreSQL driver (the data source names a server database).
//
// Each analysis adds one SampleInfo row, one Activities row per analysed
// nuclide that the Nuclides table names and one PeakData row per energy of
// the Energies table. The export of one analysis is one transaction: a
// failure at any step rolls everything of that analysis back. The
// transaction first takes a lock that every export to the database takes
// (PostgreSQL: a transaction-level advisory lock; SQLite: a write statement
// that changes nothing, which takes the database's write lock), so stations
// exporting at once take their turns and never read the same largest ID.
#pragma once

#include <memory>
#include <string>

#include "reports/capabilities.h"

namespace kestrim {

// The data source the program connects to.
inline constexpr const char* kDataSourceName = "Kestrim Database";
// The database a new SQLite database file is copied from: in the working
// folder, else the one shipped in the program folder's "Database" folder.
inline constexpr const char* kReferenceDatabase = "Reference Database.db";

enum class DatabaseBackEnd { kNone, kSqlite, kPostgresql };

class OdbcActivityDatabase final : public ActivityDatabaseLink {
 public:
  OdbcActivityDatabase();
  ~OdbcActivityDatabase() override;
  OdbcActivityDatabase(const OdbcActivityDatabase&) = delete;
  OdbcActivityDatabase& operator=(const OdbcActivityDatabase&) = delete;

  int open(const ReportSession& session) override;
  int test(const ReportSession& session) override;
  int export_results(const ReportSession& session) override;
  void close() override;

  bool connected() const;
  DatabaseBackEnd back_end() const;

  // The sample number of the last successful export (0 before).
  long last_sample_number() const;

 private:
  struct Connection;
  std::unique_ptr<Connection> c_;
};

}  // namespace kestrim
