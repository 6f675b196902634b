// The optional capabilities the kestrim program has, put into a session's
// Services before its Defaults are loaded (loading them may read reference
// spectra).
#pragma once

#include "app/state.h"
#include "reference/total_spectrum_fitting.h"
#ifdef KESTRIM_HAVE_ODBC
#include "database/odbc_activity_database.h"
#endif

namespace kestrim::cli {

// Declare it after the State it serves, so that its database connection is
// closed first at exit. Only the commands that run a full analysis take the
// activity database (with an ODBC data source set, loading the Defaults
// opens and checks it).
struct FrontEndServices {
  TotalSpectrumFitting reference_fitting;
#ifdef KESTRIM_HAVE_ODBC
  OdbcActivityDatabase activity_database;
#endif
  void supply(State& state, bool with_activity_database = false) {
    state.services.reference_fitting = &reference_fitting;
#ifdef KESTRIM_HAVE_ODBC
    if (with_activity_database) state.services.activity_database = &activity_database;
#else
    (void)with_activity_database;
#endif
  }
};

}  // namespace kestrim::cli
