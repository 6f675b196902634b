// The state of the region fitting driver and of the peak fit report, kept
// with the session beside the peak list.
#pragma once

#include <string>

namespace kestrim {

struct DriverState {
  bool region_fitted = false;     // the current region has been fitted
  bool add_confirmed = false;     // the last proposed peak was added
  bool remove_confirmed = false;  // a peak was removed
  bool summation = false;         // area by summation for a single-peak region
  bool summation_used = false;    // the last region's area came from summation
  double summation_variance = 0;  // background variance of the last summation

  float candidate = 0;            // new-peak candidate channel, 0 = none
  double candidate_strength = 0;
  int added_channel = 0;          // channel of the peak just added (keep prompt)
  int last_added_channel = 0;     // last channel added after a prompt
  int cursor_channel = 0;         // where the plot cursor was put
  double critical_limit = 0;      // Currie critical limit of the last test, counts

  int last_first = 0;             // first peak and count of the previous region
  int last_count = 0;

  // Expanded display range of the plot window (channels), 0 = none. The
  // expand estimate needs it when there is no shape calibration.
  int expand_start = 0, expand_end = 0;

  // The peak fit report being written: its text so far (written out after
  // every region) and whether it is open.
  bool report_open = false;
  bool report_write_failed = false;  // the peak fit report could not be written
  std::string report;

  // A background spectrum is being analysed ("Analyse and Save as Bkg"):
  // no background subtraction.
  bool background_run = false;

  // The peaks are being fitted again with lines put in from the library:
  // the peaks found stay as they were decided (no residual peak is added,
  // only a negative area or a put-in line too near a peak is removed).
  bool refit_with_library_lines = false;
};

}  // namespace kestrim
