// The activity database export over ODBC, end to end: the real `kestrim
// /batch` with the shipped Defaults (database switched to ODBC) on the
// shipped example spectrum, against the real SQLite and PostgreSQL ODBC
// drivers, checked through the databases' own clients (sqlite3, psql).
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <set>

#include "database/database_fixture.h"
#include "platform/c_format.h"
#include "platform/c_locale.h"

namespace kestrim {
namespace {

using test::split_fields;
using test::split_rows;

// Every known SampleInfo column with the value the example analysis gives:
// the example's header (as `kestrim info` shows it) and the shipped
// Defaults. Numbers are compared as numbers, "NULL" is a NULL.
struct Expected {
  const char* column;
  std::string value;
  bool number;
};

std::vector<Expected> expected_sample(int id) {
  const float live = 3600.0f, true_time = 3614.4f;
  const double dead = (static_cast<double>(true_time) - live) * 100.0 / static_cast<double>(true_time);
  return {
      {"Filename", "example-nai.dat", false},
      {"ID", std::to_string(id), true},
      {"Version", "0.1.0", false},
      {"Title", "Synthetic NaI example (simulated)", false},
      {"SamLocat", "Synthetic field plot", false},
      {"SamID", "SIM-ENV-1", false},
      {"SamType", "soil (synthetic", false},
      {"SampleNum", "1", true},
      {"User", "kestrim simulate", false},
      {"DetNum", "1", true},
      {"GeomNum", "1", true},
      {"LiveTime", "3600", true},
      {"TrueTime", c_format("%.9g", static_cast<double>(true_time)), true},
      {"DeadTime", c_format("%.9g", dead), true},
      {"SampleDate", "2026-12-01", false},
      {"SampleTime", "12:00:00", false},
      {"CollectDate", "2026-12-07", false},
      {"CollectTime", "09:00:00", false},
      {"SaveDate", "2026-12-07", false},
      {"SaveTime", "09:00:00", false},
      {"DecayDays", "5", true},  // 1 Dec 12:00 to 7 Dec 09:00: 5 days 21 hours
      {"DecayMins", "1260", true},
      {"SampleSize", "1", true},
      {"SizeUnits", "kg", false},
      {"GeomDesc", "1 kg soil, Marinelli beaker (synthetic)", false},
      {"DetectorFile", "0", true},
      {"EnergyDate", "2026-12-07", false},
      {"EnergyTime", "00:00:00", false},
      {"ShapeDate", "2026-12-07", false},
      {"ShapeTime", "00:00:00", false},
      {"EffDate", "2026-12-07", false},
      {"EffTime", "00:00:00", false},
      {"ActivityUnits", "Bq", false},
      {"OrtecUnits", "", false},
      {"CalibUncert", "5", true},
      {"SampleUncert", "5", true},
      {"PeaksLib", "NaI_PeakSearch.lib", false},
      {"BkgFile", "", false},
      {"BkgDesc", "", false},
      {"BkgDate", "NULL", false},
      {"BkgTime", "NULL", false},
      {"BkgSpec", "", false},
      {"AnlLibrary", "NaI_Analysis.lib", false},
      {"LODLibrary", "NaI_LOD.lib", false},
      {"EnergyTol", "20", true},
      {"FitSigma", "1", true},
      {"ActSigma", "1", true},
      {"LODSigma", "1.645", true},
      {"MainPeakOnly", "0", true},
      {"UseCalUncert", "1", true},
      {"AreaBySum", "0", true},
      {"RoundActs", "0", true},
      {"InterpolatedEff", "0", true},
      {"SampleWht", "NULL", false},
      {"WeightUnits", "NULL", false},
      {"GoemCorr", "NULL", false},
      {"GoemCorrFile", "NULL", false},
      {"DensCorr", "NULL", false},
  };
}

// The reference energies of the shipped reference data, in ID order.
const std::vector<double> kReferenceEnergies = {186.2, 238.6,  351.9,  583.2,  609.3, 661.7,
                                                 911.2, 1120.3, 1460.8, 1764.5, 2614.5};

double number(const std::string& s) { return c_strtod(s.c_str(), nullptr); }

std::string today_or_yesterday(int back) {
  std::time_t t = std::time(nullptr) - back * 86400;
  std::tm tm{};
  localtime_r(&t, &tm);
  return c_format("%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

// Runs a query on the database under test: rows of '|'-separated fields.
using Query = std::function<std::vector<std::vector<std::string>>(const std::string& sql)>;

std::string select_list(const std::vector<Expected>& e) {
  std::string s;
  for (const Expected& x : e) s += (s.empty() ? "" : ",") + std::string("\"") + x.column + "\"";
  return s;
}

// The SampleInfo row `id`, its Activities and PeakData rows, as the
// example's analysis gives them.
void check_export(const Query& query, int id, const std::string& activity_report) {
  SCOPED_TRACE("sample " + std::to_string(id));
  const std::vector<Expected> expected = expected_sample(id);
  auto rows = query("SELECT " + select_list(expected) + ",\"AnlDate\",\"AnlTime\" FROM \"SampleInfo\" WHERE \"ID\" = " +
                    std::to_string(id));
  ASSERT_EQ(rows.size(), 1u);
  const auto& row = rows[0];
  ASSERT_EQ(row.size(), expected.size() + 2);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const Expected& e = expected[i];
    if (e.number) {
      ASSERT_NE(row[i], "NULL") << e.column;
      EXPECT_NEAR(number(row[i]), number(e.value), 1e-6 * std::max(1.0, std::fabs(number(e.value)))) << e.column;
    } else {
      EXPECT_EQ(row[i], e.value) << e.column;
    }
  }
  const std::string& anl_date = row[expected.size()];
  EXPECT_TRUE(anl_date == today_or_yesterday(0) || anl_date == today_or_yesterday(1)) << anl_date;
  const std::string& anl_time = row[expected.size() + 1];
  ASSERT_EQ(anl_time.size(), 8u) << anl_time;
  EXPECT_EQ(anl_time[2], ':');
  EXPECT_EQ(anl_time[5], ':');

  // Nuclide rows: the analysed nuclides that the Nuclides table lists.
  auto acts = query("SELECT \"Nuclide\",\"ActivityNow\",\"Activity\",\"Uncertainty\" FROM \"Activities\" "
                    "WHERE \"SampleNum\" = " + std::to_string(id) + " ORDER BY \"Nuclide\"");
  std::map<std::string, std::vector<double>> by_name;
  for (const auto& a : acts) {
    ASSERT_EQ(a.size(), 4u);
    EXPECT_NE(activity_report.find(a[0]), std::string::npos) << a[0] << " is not in the Activity Report";
    EXPECT_EQ(query("SELECT COUNT(*) FROM \"Nuclides\" WHERE \"Nuclide\" = '" + a[0] + "'")[0][0], "1") << a[0];
    by_name[a[0]] = {number(a[1]), number(a[2]), number(a[3])};
  }
  EXPECT_EQ(by_name.size(), acts.size()) << "a nuclide exported twice";
  // The example holds 400 Bq of K-40 and 40 Bq of Cs-137 in 1 kg.
  ASSERT_TRUE(by_name.count("K-40"));
  ASSERT_TRUE(by_name.count("Cs-137"));
  for (auto [name, truth] : {std::pair<std::string, double>{"K-40", 400.0}, {"Cs-137", 40.0}}) {
    const auto& v = by_name[name];
    EXPECT_NEAR(v[0], truth, 3 * truth * v[2] / 100) << name;
    EXPECT_GT(v[2], 0) << name;
  }

  // Peak rows: one per reference energy, in the table's order.
  auto peaks = query("SELECT \"Energy\",\"Channel\",\"FWHM\",\"GammasPerSec\",\"UnCert\" FROM \"PeakData\" "
                     "WHERE \"SampleNum\" = " + std::to_string(id));
  ASSERT_EQ(peaks.size(), kReferenceEnergies.size());
  std::vector<double> energies;
  for (const auto& p : peaks) energies.push_back(number(p[0]));
  std::vector<double> sorted = energies;
  std::sort(sorted.begin(), sorted.end());
  for (std::size_t i = 0; i < sorted.size(); ++i) EXPECT_NEAR(sorted[i], kReferenceEnergies[i], 1e-3);
  int matched = 0, unmatched = 0;
  for (const auto& p : peaks) {
    const double energy = number(p[0]), channel = number(p[1]), fwhm = number(p[2]), gps = number(p[3]),
                 uncert = number(p[4]);
    if (channel == 0) {
      // No fitted peak near: zero channel, width and uncertainty, the
      // limit of detection as gammas per second.
      ++unmatched;
      EXPECT_EQ(fwhm, 0) << energy;
      EXPECT_EQ(uncert, 0) << energy;
      EXPECT_GE(gps, 0) << energy;
    } else {
      ++matched;
      // 3 keV per channel; the peak lies within the matching window.
      EXPECT_NEAR(channel * 3.0, energy, 30) << energy;
      EXPECT_GT(fwhm, 10) << energy;
      EXPECT_GT(gps, 0) << energy;
      EXPECT_GT(uncert, 0) << energy;
    }
    if (std::fabs(energy - 1460.8) < 0.01) {
      EXPECT_NEAR(channel, 1460.8 / 3, 2);
    }
  }
  EXPECT_GE(matched, 5);
  EXPECT_GE(unmatched, 1);
}

// Counts of the three tables that take rows.
std::string counts(const Query& query) {
  std::string s;
  for (const char* t : {"SampleInfo", "Activities", "PeakData"})
    s += std::string(t) + "=" + query(std::string("SELECT COUNT(*) FROM \"") + t + "\"")[0][0] + " ";
  return s;
}

bool odbc_built() {
#ifdef KESTRIM_HAVE_ODBC
  return true;
#else
  return false;
#endif
}

// A small file system of its own (tmpfs), to be filled up; needs root.
class SmallDisk {
 public:
  SmallDisk(const std::string& dir, const std::string& size) : dir_(dir) {
    std::filesystem::create_directories(dir_);
    mounted_ = ::mount("tmpfs", dir_.c_str(), "tmpfs", 0, ("size=" + size + ",mode=0777").c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  // Fills what is left of the file system.
  void fill() {
    test::run_command("dd if=/dev/zero of='" + dir_ + "/filler' bs=4096 2>/dev/null; sync", nullptr);
  }

 private:
  std::string dir_;
  bool mounted_ = false;
};

// ---------------------------------------------------------------- SQLite

class SqliteExport : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!odbc_built()) GTEST_SKIP() << "kestrim was built without unixODBC";
    if (odbc.sqlite_driver().empty()) GTEST_SKIP() << "the SQLite ODBC driver (libsqliteodbc) is not installed";
    if (test::run_command("command -v sqlite3 >/dev/null", nullptr) != 0)
      GTEST_SKIP() << "the sqlite3 program is not installed";
    odbc.use_sqlite();
    ASSERT_TRUE(station.ready());
  }
  Query query_file(const std::string& file) {
    return [file](const std::string& sql) {
      std::string out;
      EXPECT_EQ(test::run_command("sqlite3 -batch -noheader -separator '|' -nullvalue NULL '" + file + "' '" +
                                      [&] {
                                        std::string q;
                                        for (char c : sql) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
                                        return q;
                                      }() + "'",
                                  &out, true),
                0)
          << out;
      std::vector<std::vector<std::string>> rows;
      for (const std::string& r : split_rows(out)) rows.push_back(split_fields(r));
      return rows;
    };
  }
  test::TempDir dir;
  test::OdbcConfig odbc{dir.path() + "/odbc"};
  test::Station station{dir.path() + "/station", odbc};
};

TEST_F(SqliteExport, CreatesTheDatabaseFileFromTheReferenceAndExportsEveryColumn) {
  std::string out;
  ASSERT_EQ(station.run("/batch /file='" + test::example_spectrum() + "'", &out), 0) << out;
  // The database name of the shipped Defaults is empty: "dbase" + ".db".
  EXPECT_NE(out.find("Do you want to Create a new database ? (Could not open database file:- dbase.db)"),
            std::string::npos)
      << out;
  const std::string file = station.working_dir() + "/dbase.db";
  const std::string report = test::read_text(station.working_dir() + "/Activity Report.txt");
  check_export(query_file(file), 1, report);
  // The next analysis takes the next sample number, in the same file.
  ASSERT_EQ(station.run("/batch /file='" + test::example_spectrum() + "'", &out), 0) << out;
  EXPECT_EQ(out.find("Create a new database"), std::string::npos) << out;
  check_export(query_file(file), 2, report);
  const int per_sample = std::stoi(query_file(file)("SELECT COUNT(*) FROM Activities WHERE SampleNum = 1")[0][0]);
  EXPECT_GT(per_sample, 0);
  EXPECT_EQ(counts(query_file(file)), "SampleInfo=2 Activities=" + std::to_string(2 * per_sample) + " PeakData=22 ")
      << "each run adds exactly its own rows";
}

TEST_F(SqliteExport, DbaseKeywordNamesTheFileAndATableWithASubsetOfColumnsInAnotherOrderWorks) {
  // A station's own database: SampleInfo with a few known columns in its own
  // order and one the program does not know (it keeps its default).
  const std::string file = station.working_dir() + "/station7.db";
  std::string out;
  ASSERT_EQ(test::run_command(
                "sqlite3 '" + file +
                    "' 'CREATE TABLE SampleInfo (LiveTime REAL, Comment TEXT DEFAULT \"none\", SampleDate DATE, "
                    "Title VARCHAR(48), ID INTEGER PRIMARY KEY, DetNum SMALLINT); "
                    "CREATE TABLE Nuclides (ID INTEGER, Nuclide VARCHAR(32)); INSERT INTO Nuclides VALUES (1, \"k-40\"); "
                    "CREATE TABLE Activities (SampleNum INTEGER, Nuclide VARCHAR(8), ActivityNow REAL, Activity REAL, "
                    "Uncertainty REAL); CREATE TABLE Energies (ID INTEGER, Energy REAL); "
                    "CREATE TABLE PeakData (SampleNum INTEGER, Energy REAL, Channel REAL, FWHM REAL, GammasPerSec REAL, "
                    "UnCert REAL); INSERT INTO SampleInfo (ID) VALUES (41);'",
                &out, true),
            0)
      << out;
  // The name is cut at its first ".".
  ASSERT_EQ(station.run("/batch /dbase=station7.mdb /file='" + test::example_spectrum() + "'", &out), 0) << out;
  auto rows = query_file(file)("SELECT LiveTime, Comment, SampleDate, Title, ID, DetNum FROM SampleInfo WHERE ID = 42");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"3600.0", "none", "2026-12-01", "Synthetic NaI example (simulated)",
                                               "42", "1"}));
  // The Nuclides name matches ignoring case; no energies, no peak rows.
  rows = query_file(file)("SELECT SampleNum, Nuclide FROM Activities");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"42", "K-40"}));
  EXPECT_EQ(query_file(file)("SELECT COUNT(*) FROM PeakData")[0][0], "0");
}

TEST_F(SqliteExport, FailuresGiveTheirMessageExitOneAndLeaveNoPartialSample) {
  struct Case {
    const char* name;
    const char* change;  // run on a fresh copy of the reference database
    std::vector<const char*> messages;
  };
  const Case cases[] = {
      {"missing PeakData table", "DROP TABLE PeakData;",
       {"The Table:- 'PeakData' must already exist in the database"}},
      {"missing Activities table", "DROP TABLE Activities;",
       {"The Table:- 'Activities' must already exist in the database"}},
      {"missing Nuclide column",
       "DROP TABLE Nuclides; CREATE TABLE Nuclides (ID INTEGER, Name VARCHAR(32)); INSERT INTO Nuclides VALUES (1, 'K-40');",
       {"Could not find the Field:- 'Nuclide' in the Table:- 'Nuclides'"}},
      {"missing ID column", "DROP TABLE SampleInfo; CREATE TABLE SampleInfo (Title VARCHAR(48));",
       {"Could not find the Field:- 'ID' in the Table:- 'SampleInfo'"}},
      {"a PeakData column missing", "DROP TABLE PeakData; CREATE TABLE PeakData (SampleNum INTEGER, Energy REAL, Channel REAL, "
       "GammasPerSec REAL, UnCert REAL);",
       {"failed, error -1", "FWHM"}},
  };
  const std::string reference = std::string(std::getenv("KESTRIM_HOME") ? std::getenv("KESTRIM_HOME") : "") +
                                "/Database/Reference Database.db";
  ASSERT_TRUE(std::filesystem::exists(reference)) << reference;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = station.working_dir() + "/dbase.db";
    std::filesystem::remove(file);
    std::filesystem::copy_file(reference, file);
    std::string out;
    ASSERT_EQ(test::run_command("sqlite3 '" + file + "' \"" + c.change + "\"", &out, true), 0) << out;
    EXPECT_EQ(station.run("/batch /file='" + test::example_spectrum() + "'", &out), 1) << out;
    for (const char* m : c.messages) EXPECT_NE(out.find(m), std::string::npos) << m << "\n" << out;
    EXPECT_EQ(query_file(file)("SELECT COUNT(*) FROM SampleInfo")[0][0], "0") << out;
    if (std::string(c.change).find("DROP TABLE Activities") == std::string::npos) {
      EXPECT_EQ(query_file(file)("SELECT COUNT(*) FROM Activities")[0][0], "0") << out;
    }
  }
}

TEST_F(SqliteExport, AFullDiskGivesItsMessageAndLeavesNoPartialSample) {
  SmallDisk disk(dir.path() + "/disk", "256k");
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): full disk not tested";
  const std::string reference = std::string(std::getenv("KESTRIM_HOME") ? std::getenv("KESTRIM_HOME") : "") +
                                "/Database/Reference Database.db";
  const std::string file = dir.path() + "/disk/full.db";
  std::filesystem::copy_file(reference, file);
  disk.fill();
  std::string out;
  EXPECT_EQ(station.run("/batch /dbase='" + dir.path() + "/disk/full' /file='" + test::example_spectrum() + "'", &out),
            1)
      << out;
  EXPECT_NE(out.find("database or disk is full"), std::string::npos) << out;
  EXPECT_EQ(counts(query_file(file)), "SampleInfo=0 Activities=0 PeakData=0 ");
}

TEST_F(SqliteExport, EightStationsAtOnceOnOneFileGetEightSampleNumbers) {
  const std::string file = dir.path() + "/shared.db";
  std::string script;
  std::vector<std::unique_ptr<test::Station>> stations;
  for (int i = 0; i < 8; ++i) {
    stations.push_back(std::make_unique<test::Station>(dir.path() + "/s" + std::to_string(i), odbc));
    ASSERT_TRUE(stations.back()->ready());
    // The first run to find the file missing creates it; the others use it.
    script += "( " + stations.back()->command("/batch /dbase='" + dir.path() + "/shared' /file='" +
                                               test::example_spectrum() + "'") +
              " > /dev/null 2>&1; echo $? ) & ";
  }
  std::string out;
  ASSERT_EQ(test::run_command("{ " + script + "wait; }", &out), 0);
  EXPECT_EQ(out, "0\n0\n0\n0\n0\n0\n0\n0\n");
  auto ids = query_file(file)("SELECT ID FROM SampleInfo ORDER BY ID");
  ASSERT_EQ(ids.size(), 8u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(ids[static_cast<std::size_t>(i)][0], std::to_string(i + 1));
  EXPECT_EQ(query_file(file)("SELECT COUNT(DISTINCT SampleNum) FROM Activities")[0][0], "8");
  EXPECT_EQ(query_file(file)("SELECT COUNT(*) FROM PeakData")[0][0], std::to_string(8 * kReferenceEnergies.size()));
}

TEST_F(SqliteExport, AMissingDataSourceSaysWhereToAddIt) {
  test::write_text(dir.path() + "/odbc/odbc.ini", "");
  std::string out;
  EXPECT_EQ(station.run("/batch /file='" + test::example_spectrum() + "'", &out), 1) << out;
  EXPECT_NE(out.find("Could not find the ODBC Data Source named:- Kestrim Database, add it to the user's odbc.ini (" +
                     dir.path() + "/odbc/user.ini) or the system's (" + dir.path() +
                     "/odbc/odbc.ini); 'odbcinst -q -s' lists the data sources"),
            std::string::npos)
      << out;
  // A data source on another driver is refused.
  test::write_text(dir.path() + "/odbc/odbc.ini", "[Kestrim Database]\nDriver=/usr/lib/libmyodbc.so\n");
  EXPECT_EQ(station.run("/batch /file='" + test::example_spectrum() + "'", &out), 1) << out;
  EXPECT_NE(out.find("The ODBC Data Source Driver should be set to:- SQLite3 or PostgreSQL"), std::string::npos)
      << out;
}

// ------------------------------------------------------------ PostgreSQL

class PostgresExport : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!odbc_built()) GTEST_SKIP() << "kestrim was built without unixODBC";
    if (odbc.postgresql_driver().empty())
      GTEST_SKIP() << "the PostgreSQL ODBC driver (odbc-postgresql) is not installed";
    if (test::run_command("command -v psql >/dev/null", nullptr) != 0)
      GTEST_SKIP() << "the psql program is not installed";
    server = std::make_unique<test::PostgresCluster>(dir.path());
    ASSERT_TRUE(server->running()) << server->reason();
    ASSERT_TRUE(station.ready());
  }
  // A fresh database with the shipped schema, used by the data source.
  void use_database(const std::string& db, const std::string& before = "") {
    ASSERT_TRUE(server->create_database(db, before)) << db;
    odbc.use_postgresql(server->port(), db);
  }
  Query query(const std::string& db) {
    return [this, db](const std::string& sql) {
      std::string out;
      EXPECT_EQ(server->psql(db, sql, &out), 0) << sql << "\n" << out;
      std::vector<std::vector<std::string>> rows;
      for (const std::string& r : split_rows(out)) rows.push_back(split_fields(r));
      return rows;
    };
  }
  test::TempDir dir;
  test::OdbcConfig odbc{dir.path() + "/odbc"};
  test::Station station{dir.path() + "/station", odbc};
  std::unique_ptr<test::PostgresCluster> server;
};

TEST_F(PostgresExport, ExportsEveryKnownColumnAndTheNuclideAndPeakRows) {
  use_database("lab");
  std::string out;
  ASSERT_EQ(station.run("/batch /file='" + test::example_spectrum() + "'", &out), 0) << out;
  const std::string report = test::read_text(station.working_dir() + "/Activity Report.txt");
  check_export(query("lab"), 1, report);
  // The values went in with their types.
  auto types = query("lab")(
      "SELECT pg_typeof(\"ID\"), pg_typeof(\"DetNum\"), pg_typeof(\"LiveTime\"), pg_typeof(\"SampleDate\"), "
      "pg_typeof(\"SampleTime\") FROM \"SampleInfo\"");
  EXPECT_EQ(types[0], (std::vector<std::string>{"integer", "smallint", "real", "date", "time without time zone"}));
  ASSERT_EQ(station.run("/batch /file='" + test::example_spectrum() + "'", &out), 0) << out;
  check_export(query("lab"), 2, report);
  // No file handling for a server database.
  EXPECT_FALSE(std::filesystem::exists(station.working_dir() + "/dbase.db"));
}

TEST_F(PostgresExport, ATableWithASubsetOfColumnsInAnotherOrderTakesExactlyThose) {
  ASSERT_EQ(server->psql("postgres", "CREATE DATABASE subset"), 0);
  ASSERT_EQ(server->psql("subset",
                         "CREATE TABLE \"SampleInfo\" (\"CollectTime\" TIME, \"Note\" TEXT DEFAULT 'kept', "
                         "\"ID\" INTEGER PRIMARY KEY, \"TrueTime\" REAL, \"SamID\" VARCHAR(16), \"sampledate\" DATE);"
                         "CREATE TABLE \"Nuclides\" (\"ID\" INTEGER, \"Nuclide\" CHAR(10));"
                         "INSERT INTO \"Nuclides\" VALUES (1, 'cs-137'), (2, 'Xx-999');"
                         "CREATE TABLE \"Activities\" (\"SampleNum\" INTEGER, \"Nuclide\" VARCHAR(8), "
                         "\"ActivityNow\" REAL, \"Activity\" REAL, \"Uncertainty\" REAL);"
                         "CREATE TABLE \"Energies\" (\"ID\" INTEGER, \"Energy\" REAL);"
                         "INSERT INTO \"Energies\" VALUES (1, 1460.8), (2, 2000.0);"
                         "CREATE TABLE \"PeakData\" (\"SampleNum\" INTEGER, \"Energy\" REAL, \"Channel\" REAL, "
                         "\"FWHM\" REAL, \"GammasPerSec\" REAL, \"UnCert\" REAL);"),
            0);
  odbc.use_postgresql(server->port(), "subset");
  std::string out;
  ASSERT_EQ(station.run("/batch /file='" + test::example_spectrum() + "'", &out), 0) << out;
  auto q = query("subset");
  // "sampledate" is not "SampleDate": names match with their case.
  EXPECT_EQ(q("SELECT * FROM \"SampleInfo\"")[0],
            (std::vector<std::string>{"09:00:00", "kept", "1", "3614.4", "SIM-ENV-1", "NULL"}));
  EXPECT_EQ(q("SELECT \"SampleNum\", \"Nuclide\" FROM \"Activities\"")[0], (std::vector<std::string>{"1", "Cs-137"}));
  auto peaks = q("SELECT \"Energy\", \"Channel\", \"FWHM\", \"UnCert\" FROM \"PeakData\" ORDER BY \"Energy\"");
  ASSERT_EQ(peaks.size(), 2u);
  EXPECT_NEAR(number(peaks[0][1]), 1460.8 / 3, 2);
  EXPECT_EQ(peaks[1], (std::vector<std::string>{"2000", "0", "0", "0"}));
}

TEST_F(PostgresExport, FailuresGiveTheirMessageExitOneAndLeaveNoPartialSample) {
  struct Case {
    const char* db;
    const char* change;
    std::vector<const char*> messages;
  };
  const std::vector<Case> cases = {
      {"nopeaks", "DROP TABLE \"PeakData\"",
       {"SQLExecDirect failed, error -1", "The Table:- 'PeakData' must already exist in the database"}},
      {"nonuclide", "ALTER TABLE \"Nuclides\" RENAME COLUMN \"Nuclide\" TO \"Name\"",
       {"Could not find the Field:- 'Nuclide' in the Table:- 'Nuclides'"}},
      {"noenergy", "ALTER TABLE \"PeakData\" DROP COLUMN \"FWHM\"", {"failed, error -1", "FWHM"}},
      // The connection drops in the middle of the export: the server ends
      // its own session when the first peak row arrives.
      {"dropped",
       "CREATE FUNCTION drop_me() RETURNS trigger AS $$ BEGIN PERFORM pg_terminate_backend(pg_backend_pid()); "
       "RETURN NEW; END $$ LANGUAGE plpgsql; CREATE TRIGGER drop_me BEFORE INSERT ON \"PeakData\" "
       "FOR EACH ROW EXECUTE FUNCTION drop_me()",
       {"SQLExecute failed, error -1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.db);
    use_database(c.db);
    ASSERT_EQ(server->psql(c.db, c.change), 0);
    std::string out;
    EXPECT_EQ(station.run("/batch /file='" + test::example_spectrum() + "'", &out), 1) << out;
    for (const char* m : c.messages) EXPECT_NE(out.find(m), std::string::npos) << m << "\n" << out;
    EXPECT_EQ(server->value(c.db, "SELECT COUNT(*) FROM \"SampleInfo\""), "0") << out;
    EXPECT_EQ(server->value(c.db, "SELECT COUNT(*) FROM \"Activities\""), "0") << out;
  }
}

TEST_F(PostgresExport, AFullDiskGivesItsMessageAndLeavesNoPartialSample) {
  SmallDisk disk(dir.path() + "/disk", "2m");
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): full disk not tested";
  const std::string space = dir.path() + "/disk/pg";
  std::filesystem::create_directories(space);
  if (!server->server_user().empty()) {
    ASSERT_EQ(test::run_command("chown " + server->server_user() + " '" + space + "'", nullptr), 0);
  }
  ASSERT_EQ(server->psql("postgres", "CREATE TABLESPACE tiny LOCATION '" + space + "'"), 0);
  // The tables of the database live on the small disk, which is then filled.
  use_database("filled", "SET default_tablespace = tiny;");
  disk.fill();
  std::string out;
  EXPECT_EQ(station.run("/batch /file='" + test::example_spectrum() + "'", &out), 1) << out;
  EXPECT_NE(out.find("No space left on device"), std::string::npos) << out;
  auto q = query("filled");
  EXPECT_EQ(counts(q), "SampleInfo=0 Activities=0 PeakData=0 ");
  test::run_command("rm -f '" + dir.path() + "/disk/filler'", nullptr);
  // With room again the next analysis goes in whole.
  ASSERT_EQ(station.run("/batch /file='" + test::example_spectrum() + "'", &out), 0) << out;
  check_export(q, 1, test::read_text(station.working_dir() + "/Activity Report.txt"));
  ASSERT_EQ(server->psql("filled", "DROP TABLE \"PeakData\", \"Activities\", \"Energies\", \"Nuclides\", \"SampleInfo\""), 0);
  ASSERT_EQ(server->psql("postgres", "DROP DATABASE filled"), 0);
  ASSERT_EQ(server->psql("postgres", "DROP TABLESPACE tiny"), 0);
}

TEST_F(PostgresExport, EightStationsAtOnceGetEightSampleNumbersAndAllTheirRows) {
  use_database("shared");
  // The stations' role has only the privileges the README names.
  ASSERT_EQ(server->psql("shared",
                         "CREATE ROLE station LOGIN; "
                         "GRANT SELECT ON \"SampleInfo\", \"Nuclides\", \"Activities\", \"Energies\", "
                         "\"PeakData\" TO station; "
                         "GRANT INSERT ON \"SampleInfo\", \"Activities\", \"PeakData\" TO station"),
            0);
  odbc.use_postgresql(server->port(), "shared", "station");
  std::vector<std::unique_ptr<test::Station>> stations;
  std::string script;
  for (int i = 0; i < 8; ++i) {
    stations.push_back(std::make_unique<test::Station>(dir.path() + "/s" + std::to_string(i), odbc));
    ASSERT_TRUE(stations.back()->ready());
    script += "( " + stations.back()->command("/batch /file='" + test::example_spectrum() + "'") +
              " > /dev/null 2>&1; echo $? ) & ";
  }
  std::string out;
  ASSERT_EQ(test::run_command("{ " + script + "wait; }", &out), 0);
  EXPECT_EQ(out, "0\n0\n0\n0\n0\n0\n0\n0\n");
  auto q = query("shared");
  auto ids = q("SELECT \"ID\" FROM \"SampleInfo\" ORDER BY \"ID\"");
  ASSERT_EQ(ids.size(), 8u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(ids[static_cast<std::size_t>(i)][0], std::to_string(i + 1));
  const std::string per_sample = q("SELECT COUNT(*) FROM \"Activities\" WHERE \"SampleNum\" = 1")[0][0];
  ASSERT_NE(per_sample, "0");
  EXPECT_EQ(q("SELECT COUNT(*) FROM \"Activities\" GROUP BY \"SampleNum\" HAVING COUNT(*) <> " + per_sample).size(), 0u);
  EXPECT_EQ(q("SELECT COUNT(DISTINCT \"SampleNum\") FROM \"Activities\"")[0][0], "8");
  EXPECT_EQ(q("SELECT COUNT(*) FROM \"PeakData\"")[0][0], std::to_string(8 * kReferenceEnergies.size()));
  for (int id = 1; id <= 8; ++id)
    check_export(q, id, test::read_text(stations[0]->working_dir() + "/Activity Report.txt"));
}

}  // namespace
}  // namespace kestrim
