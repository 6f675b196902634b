// The optional capabilities of a session: reference fitting, the ODBC
// activity database, acquisition devices and printing. The front end that
// has one supplies it; an operation that needs a missing one reports
// "... is not available in this build" and fails. Nothing stands in for a
// missing capability and reports success.
#pragma once

#include <string>

namespace kestrim {

class Platform;
class ReferenceFitting;
class ActivityDatabaseLink;
class ReportPrinter;
class McaDevices;

struct Services {
  ReferenceFitting* reference_fitting = nullptr;
  ActivityDatabaseLink* activity_database = nullptr;
  ReportPrinter* printer = nullptr;
  McaDevices* devices = nullptr;
};

// Says that `what` is not available in this build (a warning) and returns 0.
int capability_missing(Platform& ui, const std::string& what);

}  // namespace kestrim
