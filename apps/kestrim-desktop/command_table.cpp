#include "command_table.h"

#include <cctype>
#include <charconv>

namespace kestrim::desktop {

namespace {

const std::vector<DesktopCommand> kCommands = {
    // File
    {102, "open_spectrum", "&Open Spectral data file...", "Ctrl+O", kMenuFile, "", false, "Opens a spectral data file of the default type"},
    {243, "open_kestrim_file", "Open &Kestrim format file...", "", kMenuFile, "", false, "Opens a spectral data file in Kestrim's own format"},
    {265, "merge_spectra", "&Merge Spectral data file...", "", kMenuFile, "", false, "Adds the counts of several spectral data files"},
    {212, "open_detector_file", "Open &Detector file...", "", kMenuFile, "", false, "Reads the calibration of a detector file"},
    {234, "open_library", "Open Analysis &Library...", "", kMenuFile, "", false, "Loads an analysis library"},
    {235, "open_background", "Open &Background file...", "", kMenuFile, "", false, "Loads a background file for subtraction"},
    {324, "open_overlap", "Open O&verlap data file...", "", kMenuFile, "", false, "Opens a second spectrum for overlay"},
    {237, "list_spectra", "List Spectral data files...", "", kMenuFile, "", false, "Lists the spectral data files of a folder"},
    {241, "list_defaults", "List Defaults Files...", "", kMenuFile, "", false, "Lists the Defaults files"},
    {248, "edit_library", "Edit Analysis Library...", "", kMenuFile, "", false, "Edits the analysis library"},
    {256, "edit_detector_file", "Edit Detector File...", "", kMenuFile, "", false, "Edits a detector calibration file"},
    {2101, "choose_geometry", "Choose/Edit &Geometry...", "", kMenuFile, "", false, "Chooses the counting geometry and edits the geometry descriptions"},
    {213, "save_spectrum", "&Save current Spectrum...", "Ctrl+S", kMenuFile, "", false, "Saves the spectrum, or the report being viewed"},
    {308, "save_calibration", "Save Calibration...", "", kMenuFile, "", false, "Writes the calibration to the detector file"},
    {288, "save_text", "Save Spectrum in &text format...", "", kMenuFile, "", false, "Writes the spectrum as a text file"},
    {247, "save_background", "Save Background file...", "", kMenuFile, "", false, "Saves the fitted peaks as a background file"},
    {320, "save_reference", "Save Reference Spectrum...", "", kMenuFile, "", false, "Saves the spectrum as a reference spectrum"},
    {262, "set_passwords", "Set Pass&words...", "", kMenuFile, "", false, "Changes the user and manager passwords"},
    {246, "new", "&New", "Ctrl+N", kMenuFile, "", false, "Starts a new empty spectrum"},
    {226, "print", "&Print", "Ctrl+P", kMenuFile, "Print", false, "Prints the report being viewed, or the spectrum plot"},
    {310, "print_plot", "Print Spectrum &Plot", "", kMenuFile, "Print", false, "Prints the spectrum plot"},
    {103, "exit", "E&xit", "Ctrl+Q", kMenuFile, "", false, "Ends the program"},
    // Edit
    {208, "edit_header", "&Edit Spectrum Header...", "Ctrl+E", kMenuEdit, "", false, "Edits the sample information of the spectrum"},
    {215, "status", "S&tatus...", "", kMenuEdit, "", false, "Shows the state of the session"},
    {2001, "export_plot", "E&xport Plot...", "", kMenuEdit, "", false, "Writes the spectrum plot to a PNG image or a PDF document"},
    {289, "copy_plot", "&Copy to Clipboard", "Ctrl+C", kMenuEdit, "", false, "Copies the spectrum plot to the clipboard as an image"},
    {223, "find", "&Find...", "Ctrl+F", kMenuEdit, "Text Search", false, "Finds a text in the report being viewed"},
    {224, "find_next", "Find &Next", "F3", kMenuEdit, "Text Search", false, "Finds the next occurrence of the text"},
    {225, "find_previous", "Find &Previous", "Shift+F3", kMenuEdit, "Text Search", false, "Finds the previous occurrence of the text"},
    {228, "font", "Report &Font...", "", kMenuEdit, "Font", false, "Chooses the font of the report viewer"},
    // Display
    {116, "scale_linear", "&Linear", "Ctrl+1", kMenuDisplay, "Y Scale", true, "Linear counts scale"},
    {117, "scale_sqrt", "&Square Root", "Ctrl+2", kMenuDisplay, "Y Scale", true, "Square-root counts scale"},
    {118, "scale_log", "L&ogarithmic", "Ctrl+3", kMenuDisplay, "Y Scale", true, "Logarithmic counts scale"},
    {127, "expand", "&Expand", "Ctrl+X", kMenuDisplay, "", true, "Expands the marked channels to the whole plot, or shows the whole spectrum again"},
    {193, "nuclide_list", "&Nuclide List", "", kMenuDisplay, "Nuclides", true, "Shows the identified nuclides in the list"},
    {194, "peak_list", "&Peak List", "", kMenuDisplay, "Nuclides", true, "Shows the peaks in the list"},
    {305, "show_nuclides", "&Show Nuclides", "Ctrl+L", kMenuDisplay, "Nuclides", true, "Marks the lines of the identified nuclides in the plot"},
    {202, "plot_spectrum", "&Spectrum", "", kMenuDisplay, "Plot Type", true, "Plots the spectrum"},
    {204, "plot_energy", "&Energy Calibration", "", kMenuDisplay, "Plot Type", true, "Plots the energy calibration and its points"},
    {205, "plot_shape", "S&hape Calibration", "", kMenuDisplay, "Plot Type", true, "Plots the peak width calibration and its points"},
    {206, "plot_efficiency", "E&fficiency Calibration", "", kMenuDisplay, "Plot Type", true, "Plots the efficiency calibration and its points"},
    {207, "plot_residuals", "&Residuals", "", kMenuDisplay, "Plot Type", true, "Plots the residuals of the fitted regions"},
    {318, "plot_mca", "&MCA Data", "", kMenuDisplay, "Plot Type", true, "Plots the counts being acquired"},
    {319, "plot_mca_live", "MCA &Live Display", "", kMenuDisplay, "Plot Type", true, "Redraws the plot while counts accumulate"},
    {325, "plot_overlay", "&Overlay", "", kMenuDisplay, "Plot Type", true, "Plots the second spectrum over the first"},
    {327, "plot_overlay_only", "Overlay O&nly", "", kMenuDisplay, "Plot Type", true, "Plots only the second spectrum"},
    {2002, "colours", "&Colours...", "", kMenuDisplay, "", false, "Chooses the colours of the plot (kept in COLOUR.INF)"},
    // Analysis
    {209, "full_analysis", "&Full Analysis", "F5", kMenuAnalysis, "", false, "Searches, fits, identifies, quantifies and reports"},
    {152, "peak_search", "Peak &Search", "F6", kMenuAnalysis, "", false, "Searches the spectrum for peaks"},
    {200, "library_peak_search", "&Library Peak Search", "", kMenuAnalysis, "", false, "Searches for the peaks of the peak-search library"},
    {211, "fit_peaks", "Fit &Peaks", "F7", kMenuAnalysis, "", false, "Fits all peak regions"},
    {315, "drift_correction", "&Drift Correction", "", kMenuAnalysis, "", false, "Corrects the energy calibration for drift and searches for peaks"},
    {197, "quantitative_analysis", "&Quantitative Analysis", "F8", kMenuAnalysis, "", false, "Identifies the nuclides and calculates their activities"},
    {239, "quan_auto_cal", "Quan with &Auto-cal", "", kMenuAnalysis, "", false, "Quantitative analysis with the energy re-calibration tolerance"},
    {326, "strip_overlap", "Strip &Overlapped data", "", kMenuAnalysis, "", false, "Subtracts the second spectrum"},
    {316, "fit_total_spectrum", "Fit &Total Spectrum", "", kMenuAnalysis, "", true, "Fits the spectrum with the reference spectra"},
    {317, "select_reference", "Select &Reference Spectrum...", "", kMenuAnalysis, "", false, "Chooses the reference spectra"},
    {214, "analyse_save_background", "Analyse and Save as &Bkg...", "", kMenuAnalysis, "", true, "Analyses the spectrum as a background and saves it"},
    {298, "clear_peak_list", "&Clear Peak List", "", kMenuAnalysis, "", false, "Removes all peaks and results"},
    // Peak fitting (the fifth menu)
    {164, "add_peak", "&Add Peak", "Insert", kMenuFitting, "", false, "Adds a peak at the cursor"},
    {165, "remove_peak", "&Remove Peak", "Delete", kMenuFitting, "", false, "Removes the selected peak"},
    {169, "fit_region", "&Fit Region", "Ctrl+R", kMenuFitting, "", false, "Fits the region of the selected peak"},
    {170, "next_peak", "&Next Peak", "Ctrl+Right", kMenuFitting, "", false, "Selects the next peak"},
    {171, "previous_peak", "&Previous Peak", "Ctrl+Left", kMenuFitting, "", false, "Selects the previous peak"},
    {174, "abort", "A&bort", "Esc", kMenuFitting, "", false, "Stops the operation that is running"},
    {175, "region_bounds", "Region &Bounds...", "", kMenuFitting, "", false, "Sets the bounds of the current region"},
    {217, "show_fit", "Show F&itted Curve", "", kMenuFitting, "", true, "Draws the fitted peaks"},
    {218, "show_continuum", "Show &Continuum", "", kMenuFitting, "", true, "Draws the fitted continuum"},
    {219, "show_residuals", "Show Re&siduals", "", kMenuFitting, "", true, "Draws the residuals of the fit"},
    {270, "show_markers", "Show Peak &Markers", "", kMenuFitting, "", true, "Marks the peak centres"},
    {304, "centre_peak", "Centre on Selected Peak", "", kMenuFitting, "", false, "Centres the plot on the selected peak"},
    // Calibration
    {245, "energy_calibration", "&Energy...", "", kMenuCalibration, "", false, "Calibrates the energy scale"},
    {249, "shape_calibration", "Peak &Shape...", "", kMenuCalibration, "", false, "Calibrates the peak width and tailing"},
    {250, "efficiency_calibration", "E&fficiency...", "", kMenuCalibration, "", false, "Calibrates the detector efficiency"},
    {252, "auto_recalibration", "&Auto Energy Re-Calibration...", "", kMenuCalibration, "", false, "Re-calibrates the energy scale from the stored energies"},
    {251, "clear_calibration", "&Clear Calibration", "", kMenuCalibration, "", false, "Removes the calibration of the spectrum"},
    // Reports
    {190, "main_report", "&Main Report", "Ctrl+M", kMenuReports, "", false, "Shows the main report"},
    {196, "header_report", "&Header Report", "", kMenuReports, "", false, "Shows the header report"},
    {187, "peak_fit_report", "&Peak Fit", "", kMenuReports, "", false, "Shows the peak fit report"},
    {198, "activity_report", "Detailed &Activity", "", kMenuReports, "", false, "Shows the detailed activity report"},
    {199, "diagnostic_report", "&Diagnostic", "", kMenuReports, "", false, "Shows the diagnostic report"},
    {188, "energy_report", "&Energy Calibration", "", kMenuReports, "Calibration Reports", false, "Shows the energy calibration report"},
    {189, "shape_report", "&Shape Calibration", "", kMenuReports, "Calibration Reports", false, "Shows the shape calibration report"},
    {191, "efficiency_report", "E&fficiency Calibration", "", kMenuReports, "Calibration Reports", false, "Shows the efficiency calibration report"},
    {192, "auto_report", "&Auto Re-Calibration", "", kMenuReports, "Calibration Reports", false, "Shows the automatic re-calibration report"},
    {280, "peak_database", "Peak Area &Database", "", kMenuReports, "", false, "Shows the peak area database"},
    {279, "activity_database", "Acti&vity Database", "", kMenuReports, "", false, "Shows the activity database"},
    {311, "analysis_parameters", "Analysis Pa&rameters", "", kMenuReports, "", false, "Writes and shows the analysis parameters"},
    {195, "main_template", "&Main Report Template", "", kMenuReports, "Templates", false, "Shows the main report template"},
    {261, "header_template", "&Header Report Template", "", kMenuReports, "Templates", false, "Shows the header report template"},
    {260, "database_template", "&Database Template", "", kMenuReports, "Templates", false, "Shows the activity database template"},
    {291, "peak_fit_template", "&Peak Fit Report Template", "", kMenuReports, "Templates", false, "Shows the peak fit report template"},
    {297, "activity_template", "&Activity Report Template", "", kMenuReports, "Templates", false, "Shows the activity report template"},
    {254, "energy_files", "&Energy Data files", "", kMenuReports, "Calibration Data Files", false, "Lists the energy list files"},
    {255, "shape_files", "&Shape Data files", "", kMenuReports, "Calibration Data Files", false, "Lists the peak shape list files"},
    {299, "efficiency_files", "E&fficiency Data files", "", kMenuReports, "Calibration Data Files", false, "Lists the efficiency source files"},
    {240, "aux_peaks_file", "A&uxillary Peaks file", "", kMenuReports, "Calibration Data Files", false, "Shows the auxiliary peaks file"},
    // Set-up
    {181, "setup", "&Set-Up...", "", kMenuSetup, "", false, "Changes the analysis parameters"},
    {134, "mca", "&MCA...", "", kMenuSetup, "", false, "Controls the multichannel analyser"},
    {1423, "mca_setup", "MCA Set-&up...", "", kMenuSetup, "", false, "Sets up the sound-card MCA"},
    {321, "start_acquisition", "S&tart Acquisition", "", kMenuSetup, "", false, "Starts a new acquisition"},
    {322, "continue_acquisition", "&Continue Acquisition", "", kMenuSetup, "", false, "Continues the acquisition"},
    {323, "stop_acquisition", "St&op Acquisition", "", kMenuSetup, "", false, "Stops the acquisition"},
    // Help
    {230, "help_contents", "&Contents", "F1", kMenuHelp, "", false, "Opens the help"},
    {273, "help_search", "&Search for Help on...", "", kMenuHelp, "", false, "Searches the help"},
    {274, "help_index", "&Index", "", kMenuHelp, "", false, "Opens the help index"},
    {100, "about", "&About...", "", kMenuHelp, "", false, "Shows the program's version"},
};

std::string folded(std::string_view s) {
  std::string out;
  for (char c : s) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (std::isalnum(u)) out += static_cast<char>(std::tolower(u));
  }
  return out;
}

}  // namespace

const std::vector<DesktopCommand>& desktop_commands() { return kCommands; }

const DesktopCommand* find_command(int id) {
  for (const DesktopCommand& c : kCommands)
    if (c.id == id) return &c;
  return nullptr;
}

const DesktopCommand* find_command(std::string_view id_or_name) {
  int id = 0;
  const char* end = id_or_name.data() + id_or_name.size();
  auto [ptr, ec] = std::from_chars(id_or_name.data(), end, id);
  if (ec == std::errc() && ptr == end) return find_command(id);
  const std::string key = folded(id_or_name);
  if (key.empty()) return nullptr;
  for (const DesktopCommand& c : kCommands)
    if (folded(c.name) == key) return &c;
  for (const DesktopCommand& c : kCommands)
    if (folded(c.text) == key) return &c;
  return nullptr;
}

const char* menu_title(int menu) {
  static const char* const kTitles[kMenuCount] = {"&File",        "&Edit",    "&Display",
                                                  "&Analysis",    "Fi&tting", "&Calibration",
                                                  "&Reports",     "&Set-Up",  "&Help"};
  return menu >= 0 && menu < kMenuCount ? kTitles[menu] : "";
}

const char* submenu_help(int first_command_id) {
  switch (first_command_id) {
    case 102: return "File Operations";
    case 116: return "Spectrum display Y scale options";
    case 164: return "Peak fitting options";
    case 181: return "General and Analysis Set-up Operations";
    case 190: return "Initiates the report viewing window";
    case 193: return "Nuclide display options";
    case 195: return "Template file selection";
    case 202: return "Selects the type of data plotted";
    case 209: return "Analysis operations";
    case 223: return "Text search functions";
    case 226: return "Prints the Spectrum or the Report being displayed";
    case 228: return "Font selection";
    case 245: return "Performs Calibration operations";
    default: return "";
  }
}

std::string command_help(int id) {
  const DesktopCommand* c = find_command(id);
  if (c && *c->help) return c->help;
  return "wParam:- " + std::to_string(id);
}

bool removed_by_short_menu(int id) {
  switch (id) {
    case 249: case 250: case 252: case 165: case 164: case 217: case 218: case 219:
    case 175: case 270: case 174:
      return true;
    default:
      return false;
  }
}

}  // namespace kestrim::desktop
