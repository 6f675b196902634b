// The run logic both MCA types share: starting a fresh or continued
// collection, the one-second poll with its preset test, stopping, saving
// the acquired data (the running copy "tempdata.$$$" and the auto-cycle
// series "SP%04d.DAT" with its automatic analysis) and taking an
// interrupted run back at start-up.
#pragma once

#include <string>

#include "acquisition/acquisition_state.h"

namespace kestrim {

class Platform;
struct Paths;
struct AnalysisParameters;
struct SpectrumRecord;
struct SessionFlags;
struct AcquisitionSession;

inline constexpr int kSpectrumTypeFromMca = 16;  // acquired and not yet saved
inline constexpr const char* kRunningCopyName = "tempdata.$$$";
inline constexpr const char* kMcaDataName = "MCA_Data.dat";

// MCA type flags of the parameters.
inline constexpr int kMcaTypeSoundBlaster = 2;
inline constexpr int kMcaTypeSoundCard = 4;
inline constexpr int kMcaTypeSerial = 8;

// One MCA unit: what the run logic asks of the hardware.
class McaUnit {
 public:
  virtual ~McaUnit() = default;
  // The unit's half of starting a collection (`fresh` clears its memory).
  virtual int start(AcquisitionSession& s, bool fresh) = 0;
  // Stops the unit's counting.
  virtual int stop(AcquisitionSession& s) = 0;
  // Reads the times, or the times and the whole spectrum, into the count
  // array. A failed read leaves the count array as it was.
  virtual int read(AcquisitionSession& s, bool full) = 0;
  // The unit has gone (unplugged): no later exchange can succeed.
  virtual bool lost() const = 0;
  // The one-second timer polls this unit (the serial MCA).
  virtual bool polled_by_timer() const { return true; }
};

// What the run logic needs from the layers above it.
class AcquisitionHooks {
 public:
  virtual ~AcquisitionHooks() = default;
  // Runs the configured automatic analysis of the auto-cycle spectrum just
  // written to `path` (held in the session's spectrum). 1 on success.
  virtual int analyse_cycle_spectrum(const std::string& path) = 0;
  // Keeps the parameters (the next file number changed) and reloads the
  // current Defaults file after the analysis.
  virtual int save_parameters() = 0;
  virtual int reload_parameters() = 0;
  // Whether the auto cycle starts another run (a front end may limit it).
  virtual bool another_run() { return true; }
  // The count array changed (redraw the plot).
  virtual void data_changed() {}
};

// The records the run logic reads and changes.
struct AcquisitionSession {
  Platform* ui;
  const Paths& paths;
  AnalysisParameters& params;
  SpectrumRecord& spectrum;
  SessionFlags& flags;
  AcquisitionState& acq;
  AcquisitionHooks& hooks;
  McaUnit* mca;             // null: no MCA type, or not initialised
  std::string spectra_dir;  // where the auto-cycle files go
};

// The channels the MCA is expected to deliver: the parameters' number of
// channels, 1024 when not positive, at most 4096.
int acquisition_channels(const AnalysisParameters& p);

// Starts a collection: `fresh` clears the data, a continued start keeps
// counts and elapsed time. Refuses with "Data Collection is already active"
// while collecting. 1 on success ("Started data collection").
int start_collection(AcquisitionSession& s, bool fresh);

// The one-second timer: polls the MCA every second tick, advances the true
// time and, at the preset (or on a requested stop), stops the run, reads
// and saves the data and, in auto-cycle mode, saves "SP%04d.DAT", analyses
// it and starts the next run. Returns 1 while a collection is running.
int timer_tick(AcquisitionSession& s);

// Stops a running collection now (the Stop command): stops the MCA, reads
// the data when the final-read option is set, and saves it to the running
// copy. 1 on success.
int stop_collection(AcquisitionSession& s);

// Copies the count array into the spectrum and writes the running copy
// "tempdata.$$$" in the working directory. `with_window`: called from a
// window, which stops a running collection first and marks the data saved.
int save_acquired_data(AcquisitionSession& s, bool with_window);

// The auto-cycle file of `number` in the spectra directory: "SP%04d.DAT".
std::string cycle_file_path(const AcquisitionSession& s, int number);
// Before a cycle starts: asks "Overwrite file %s ?" when the next
// auto-cycle file exists. 1 to go on, 0 when the user said No.
int confirm_cycle_file(AcquisitionSession& s);

// Writes the session's spectrum as the auto-cycle file of the parameters'
// next file number, advances the number and removes the running copy.
// 1 on success ("Error Creating:- %s" otherwise).
int save_cycle_spectrum(AcquisitionSession& s, std::string& path);

// At start-up: when "tempdata.$$$" exists in the working directory and
// reads as a native spectrum, takes it over as the acquisition in progress
// (counts, times, start stamp) and puts it into the session's spectrum.
// 1 when a run was recovered, 0 when there was none.
int recover_running_copy(AcquisitionSession& s);

}  // namespace kestrim
