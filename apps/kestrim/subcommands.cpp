#include "commands.h"

namespace kestrim::cli {

// Implemented in cmd_*.cpp beside this file.
int cmd_info(const Args& args);
int cmd_defaults(const Args& args);
int cmd_simulate(const Args& args);
int cmd_peaks(const Args& args);
int cmd_library(const Args& args);
int cmd_export_text(const Args& args);
int cmd_detector(const Args& args);
int cmd_background(const Args& args);
int cmd_analyse(const Args& args);
int cmd_fit_total(const Args& args);
int cmd_reference(const Args& args);
int cmd_acquire(const Args& args);
int cmd_mca_sim(const Args& args);
int cmd_pha(const Args& args);
int cmd_temp_cal(const Args& args);

const Subcommand* subcommands() {
  static const Subcommand table[] = {
      {"info", "show the header, calibration and counts of a spectrum file", cmd_info},
      {"defaults", "dump or make Defaults files (defaults dump FILE | make TEXT -o FILE)",
       cmd_defaults},
      {"analyse", "analyse a spectrum with the Defaults in use (analyse FILE [--json])", cmd_analyse},
      {"peaks", "search and fit the peaks of a spectrum (peaks FILE [--json])", cmd_peaks},
      {"simulate", "write a synthetic NaI spectrum with its truth (simulate -o FILE.dat)",
       cmd_simulate},
      {"library", "nuclide libraries (library import-csv CSV -o LIB | export-csv LIB [-o CSV] | list LIB)",
       cmd_library},
      {"export-text", "write a spectrum as a text file of channel counts", cmd_export_text},
      {"detector", "detector calibration files as text (detector dump FILE | make TEXT -o FILE)",
       cmd_detector},
      {"background", "analyse a background spectrum and save its peaks (background SPECTRUM -o NAME.bkg)",
       cmd_background},
      {"fit-total", "fit a spectrum as a sum of reference spectra (fit-total SPECTRUM --ref A.rsd ... [--json])",
       cmd_fit_total},
      {"reference", "reference spectra (reference make SPECTRUM --activity BQ --uncertainty PCT -o NAME.rsd | list [DIR])",
       cmd_reference},
      {"acquire", "collect a spectrum from the serial MCA or the sound card (acquire --port PATH | --sound-card DEV --preset S -o FILE.dat)",
       cmd_acquire},
      {"pha", "pulse-height analysis of a sound-card recording (pha --wav FILE.wav -o SPECTRUM.dat)", cmd_pha},
      {"temp-cal", "fit a peak's channel against temperature into TempCorr.dat (temp-cal --csv Temp_cal.csv ...)",
       cmd_temp_cal},
      {"mca-sim", "serve a simulated serial MCA on a pseudo-terminal (mca-sim [--speed F])", cmd_mca_sim},
      {nullptr, nullptr, nullptr},
  };
  return table;
}

}  // namespace kestrim::cli
