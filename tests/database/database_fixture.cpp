#include "database/database_fixture.h"

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

namespace kestrim::test {
namespace fs = std::filesystem;

namespace {

std::string quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

int free_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t len = sizeof a;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  ::close(fd);
  return port;
}

// The folder of the PostgreSQL server programs (initdb, pg_ctl).
std::string postgres_bin() {
  std::vector<std::string> found;
  std::error_code ec;
  if (fs::is_directory("/usr/lib/postgresql", ec))
    for (const auto& e : fs::directory_iterator("/usr/lib/postgresql", ec))
      if (fs::exists(e.path() / "bin" / "initdb")) found.push_back((e.path() / "bin").string());
  std::sort(found.begin(), found.end());
  if (!found.empty()) return found.back();
  std::string out;
  if (run_command("command -v initdb", &out) == 0 && !out.empty()) {
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return fs::path(out).parent_path().string();
  }
  return {};
}

}  // namespace

std::string find_odbc_driver(const std::string& file) {
  std::vector<fs::path> dirs = {"/usr/lib/odbc", "/usr/lib64", "/usr/lib", "/usr/local/lib",
                                "/usr/lib64/odbc", "/usr/local/lib/odbc"};
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/usr/lib", ec))
    if (e.is_directory(ec)) dirs.push_back(e.path() / "odbc");
  for (const fs::path& d : dirs)
    if (fs::exists(d / file, ec)) return (d / file).string();
  return {};
}

OdbcConfig::OdbcConfig(const std::string& dir)
    : dir_(dir), sqlite_(find_odbc_driver("libsqlite3odbc.so")), postgresql_(find_odbc_driver("psqlodbca.so")) {
  fs::create_directories(dir_);
  std::string text;
  if (!sqlite_.empty()) text += "[SQLite3]\nDescription=SQLite3 ODBC Driver\nDriver=" + sqlite_ + "\n\n";
  if (!postgresql_.empty())
    text += "[PostgreSQL]\nDescription=PostgreSQL ODBC driver\nDriver=" + postgresql_ + "\n\n";
  write_text(dir_ + "/odbcinst.ini", text);
  write_text(dir_ + "/odbc.ini", "");
  write_text(dir_ + "/user.ini", "");
}

void OdbcConfig::use_sqlite() {
  // The file is chosen by the program: the database name + ".db".
  write_text(dir_ + "/odbc.ini", "[Kestrim Database]\nDriver=SQLite3\nDatabase=/nonexistent/any.db\nTimeout=60000\n");
  write_text(dir_ + "/user.ini", "");
}

void OdbcConfig::use_postgresql(int port, const std::string& database, const std::string& user) {
  write_text(dir_ + "/odbc.ini", "");
  write_text(dir_ + "/user.ini", "[Kestrim Database]\nDriver=PostgreSQL\nServername=127.0.0.1\nPort=" +
                                     std::to_string(port) + "\nDatabase=" + database +
                                     "\nUsername=" + user + "\nSSLmode=disable\n");
}

std::string OdbcConfig::env() const {
  return "ODBCSYSINI=" + quote(dir_) + " ODBCINI=" + quote(dir_ + "/user.ini") + " ";
}

PostgresCluster::PostgresCluster(const std::string& dir) : dir_(dir + "/pg") {
  bin_ = postgres_bin();
  if (bin_.empty()) {
    reason_ = "the PostgreSQL server programs (initdb, pg_ctl) are not installed";
    return;
  }
  port_ = free_port();
  fs::create_directories(dir_);
  if (::geteuid() == 0) {
    // The server refuses to run as root: it runs as an unprivileged user.
    for (const char* name : {"postgres", "nobody"}) {
      if (const passwd* pw = ::getpwnam(name)) {
        user_ = name;
        if (::chown(dir_.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
          reason_ = "could not give " + dir_ + " to " + user_;
          return;
        }
        break;
      }
    }
    if (user_.empty()) {
      reason_ = "running as root and no unprivileged user (postgres, nobody) to run the server";
      return;
    }
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    as_user_ = "runuser -u " + user_ + " -- ";
  }
  std::string out;
  if (run_command("cd / && " + as_user_ + quote(bin_ + "/initdb") + " -D " + quote(dir_ + "/data") +
                      " -A trust -U kestrim -E UTF8 --locale=C --no-sync",
                  &out, true) != 0) {
    reason_ = "initdb failed: " + out;
    return;
  }
  const std::string options = "-p " + std::to_string(port_) + " -k " + dir_ +
                              " -c listen_addresses=127.0.0.1 -c fsync=off -c max_connections=50";
  if (run_command("cd / && " + as_user_ + quote(bin_ + "/pg_ctl") + " -D " + quote(dir_ + "/data") + " -l " +
                      quote(dir_ + "/server.log") + " -w -t 60 -o " + quote(options) + " start",
                  &out, true) != 0) {
    reason_ = "pg_ctl start failed: " + out + read_text(dir_ + "/server.log");
    return;
  }
  running_ = true;
}

PostgresCluster::~PostgresCluster() {
  if (!running_) return;
  run_command("cd / && " + as_user_ + quote(bin_ + "/pg_ctl") + " -D " + quote(dir_ + "/data") +
                  " -m immediate -w stop",
              nullptr, true);
}

int PostgresCluster::psql(const std::string& db, const std::string& sql, std::string* out) const {
  return run_command("psql -X -q -A -t -F '|' -P null=NULL -v ON_ERROR_STOP=1 -h 127.0.0.1 -p " +
                         std::to_string(port_) + " -U kestrim -d " + quote(db) + " -c " + quote(sql),
                     out, true);
}

std::string PostgresCluster::value(const std::string& db, const std::string& sql) const {
  std::string out;
  if (psql(db, sql, &out) != 0) return {};
  const auto rows = split_rows(out);
  return rows.empty() ? std::string() : split_fields(rows[0])[0];
}

bool PostgresCluster::create_database(const std::string& db, const std::string& before) const {
  std::string out;
  if (psql("postgres", "CREATE DATABASE " + db, &out) != 0) return false;
  const std::string sql = source_data_dir() + "/Database";
  return run_command("{ echo " + quote(before) + "; cat " + quote(sql + "/schema-postgresql.sql") + " " +
                         quote(sql + "/reference-data.sql") + "; } | psql -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p " +
                         std::to_string(port_) + " -U kestrim -d " + quote(db) + " > /dev/null",
                     &out, true) == 0;
}

Station::Station(const std::string& dir, const OdbcConfig& odbc)
    : dir_(dir), wd_(dir + "/wd"), user_(dir + "/user"), odbc_(odbc) {
  fs::create_directories(wd_);
  fs::create_directories(user_ + "/kestrim/DefaultFiles");
  // The shipped Defaults with the activity database on, reached over ODBC.
  std::istringstream in(read_text(source_data_dir() + "/DefaultFiles/Normal.txt"));
  std::string text, line;
  while (std::getline(in, line)) {
    if (line.rfind("update_database ", 0) == 0) line = "update_database = 1";
    if (line.rfind("database_odbc ", 0) == 0) line = "database_odbc = 1";
    text += line + "\n";
  }
  write_text(dir_ + "/Normal.txt", text);
  std::string out;
  ready_ = run_command(quote(kestrim_binary()) + " defaults make " + quote(dir_ + "/Normal.txt") + " -o " +
                           quote(user_ + "/kestrim/DefaultFiles/Normal.000"),
                       &out, true) == 0;
}

std::string Station::command(const std::string& args) const {
  // In a sanitizer build the leaks of the drivers themselves are not
  // Kestrim's; whole stacks let the suppressions find the driver's frames.
  const std::string sanitizers = "LSAN_OPTIONS=\"${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=" +
                                 source_data_dir() + "/../tests/database/lsan-drivers.supp\" " +
                                 "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}fast_unwind_on_malloc=0\" ";
  return "cd " + quote(wd_) + " && XDG_DATA_HOME=" + quote(user_) + " " + odbc_.env() + sanitizers +
         quote(kestrim_binary()) + " " + args;
}

int Station::run(const std::string& args, std::string* out) const { return run_command(command(args), out, true); }

std::string example_spectrum() { return source_data_dir() + "/examples/example-nai.dat"; }

std::vector<std::string> split_fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t bar = line.find('|', pos);
    fields.push_back(line.substr(pos, bar == std::string::npos ? std::string::npos : bar - pos));
    if (bar == std::string::npos) break;
    pos = bar + 1;
  }
  return fields;
}

std::vector<std::string> split_rows(const std::string& text) {
  std::vector<std::string> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) rows.push_back(line);
  }
  return rows;
}

}  // namespace kestrim::test
