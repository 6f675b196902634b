// Optional capabilities of the reports layer that the front end supplies:
// the activity database over ODBC and printing. A build without one says
// so and fails.
#pragma once

#include <string>

namespace kestrim {

class Platform;
struct ReportSession;

// The activity database reached through an ODBC data source. The
// connection is opened on first use and kept until close(): the end of a
// batch run, a change of Defaults file or set-up, or exit.
class ActivityDatabaseLink {
 public:
  virtual ~ActivityDatabaseLink() = default;
  // Opens the database the session names unless it is open; 1 on success,
  // 0 on a failure already reported.
  virtual int open(const ReportSession& session) = 0;
  // Opens the database the session names, checks it and closes it again;
  // 1 on success, 0 on a failure already reported.
  virtual int test(const ReportSession& session) = 0;
  // Adds the analysis results of the session to the database (opening it
  // first when needed); 1 on success, 0 on a failure already reported.
  virtual int export_results(const ReportSession& session) = 0;
  // Closes the connection; nothing happens when none is open.
  virtual void close() = 0;
};

// Prints a text report of the working folder.
class ReportPrinter {
 public:
  virtual ~ReportPrinter() = default;
  // 1 when the report was sent to the printer, 0 on a failure already
  // reported.
  virtual int print_text_file(const std::string& path, Platform& ui) = 0;
};

}  // namespace kestrim
