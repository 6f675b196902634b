// The field table of the analysis parameters record (2304 bytes,
// little-endian, no gaps). One row per field:
//   X(kind, member, offset, size, "text name", "description")
// kind: I32 (int32), F32 (real32), I16 (int16 in a 4-byte slot), U8 (byte),
//       TXT (NUL-terminated text of `size` bytes), TXU (text that may fill
//       all `size` bytes unterminated).
// The text name is the report token where the field has a unique one, and a
// descriptive name otherwise; it names the field in the text form of a
// Defaults file. Offsets not listed are reserved and kept byte for byte.
//
// This table is the single description of the layout: the record's members,
// its reader and writer and the text form are all generated from it.
#pragma once

#define KESTRIM_PARAMETER_FIELDS(X) \
  X(I32, defaults_number, 0, 4, "DEFN", "Defaults-file number = detector number of this file (1-99; 0 start-up file)") \
  X(I32, auto_save_number, 4, 4, "auto_save_number", "when >= 1 spectra are saved as Sp%04d.dat and the number incremented") \
  X(I32, default_spectrum_type, 8, 4, "default_spectrum_type", "default spectrum type (0 native, 1-15 foreign formats)") \
  X(I32, default_detector_file, 12, 4, "default_detector_file", "detector file number (0 = use the spectrum's own calibration)") \
  X(I32, default_geometry, 16, 4, "default_geometry", "default geometry number") \
  X(I32, text_channels_per_line, 20, 4, "text_channels_per_line", "text spectrum format: channels per line") \
  X(I32, text_header_lines, 24, 4, "text_header_lines", "text spectrum format: header lines") \
  X(I32, ignore_header_data, 28, 4, "ignore_header_data", "ignore header data of foreign spectrum files") \
  X(I32, library_peak_search, 32, 4, "library_peak_search", "use the library-driven peak search") \
  X(I32, pause_after_region, 36, 4, "pause_after_region", "pause after fitting each peak region") \
  X(I32, background_cps_subtraction, 40, 4, "background_cps_subtraction", "background subtraction by peak CPS") \
  X(I32, dcen, 44, 4, "DCEN", "switch printed by the DCEN report token") \
  X(I32, calculate_lod, 48, 4, "calculate_lod", "calculate limits of detection during analysis") \
  X(I32, display_spectrum, 52, 4, "display_spectrum", "display spectral data") \
  X(I32, principal_peak_only, 56, 4, "UPPK", "use only the principal peak for activity") \
  X(I32, include_calibration_uncertainty, 60, 4, "ICUN", "include the calibration uncertainty") \
  X(I32, low_resolution_display, 64, 4, "low_resolution_display", "low-resolution display (only 1 means on)") \
  X(I32, always_display_fitting, 68, 4, "always_display_fitting", "always display peak fitting") \
  X(I32, peak_separation_factor, 72, 4, "PKSF", "peak separation factor") \
  X(I32, max_dead_time, 76, 4, "MAXD", "dead-time warning threshold, per cent (0 = no check)") \
  X(I32, fitting_delay_ms, 84, 4, "fitting_delay_ms", "fitting delay, milliseconds") \
  X(I32, area_by_summation, 88, 4, "ASUM", "peak area by summation") \
  X(I32, use_aux_peaks, 92, 4, "use_aux_peaks", "use the auxiliary peaks file") \
  X(I32, use_file_energy_calibration, 96, 4, "use_file_energy_calibration", "use the spectrum file's energy calibration") \
  X(I32, background_from_spectrum_file, 100, 4, "background_from_spectrum_file", "peak-CPS background taken from the spectral data file (else the default background file)") \
  X(I32, lod_type, 104, 4, "LODD", "limit-of-detection calculation type, 1-5") \
  X(F32, search_start, 108, 4, "STAR", "peak search start channel") \
  X(F32, search_stop, 112, 4, "STOP", "peak search last channel") \
  X(F32, search_discriminator, 116, 4, "PKSD", "peak search discriminator") \
  X(F32, search_smoothing, 120, 4, "PKSS", "peak search smoothing parameter") \
  X(I32, region_end_channels, 124, 4, "ENDC", "region end channels") \
  X(F32, new_peak_discriminator, 128, 4, "new_peak_discriminator", "new-peak discriminator (search in the residuals)") \
  X(F32, max_width_change, 132, 4, "MAXW", "maximum width change") \
  X(I32, max_peak_uncertainty, 136, 4, "MAXP", "maximum peak area uncertainty, per cent") \
  X(F32, peak_sigma, 140, 4, "PSIG", "peak area uncertainty sigma value") \
  X(F32, energy_tolerance, 144, 4, "ETOL", "energy tolerance base value, keV") \
  X(F32, min_confidence, 148, 4, "CONF", "minimum nuclide confidence value") \
  X(F32, max_activity_uncertainty, 152, 4, "MAXA", "maximum activity uncertainty, per cent") \
  X(F32, activity_sigma, 156, 4, "ASIG", "activity uncertainty sigma value") \
  X(F32, lod_sigma, 160, 4, "LSIG", "limit-of-detection sigma value") \
  X(F32, dose_detector_weight, 164, 4, "dose_detector_weight", "detector weight in kg for the dose-rate estimate (0 = none)") \
  X(F32, activity_factor, 168, 4, "ACFA", "factor from disintegrations per second to the reported activity unit") \
  X(TXU, activity_unit, 172, 4, "ACTU", "reported activity unit (four characters)") \
  X(F32, default_sampling_uncertainty, 176, 4, "default_sampling_uncertainty", "default overall sampling uncertainty, per cent") \
  X(I32, defaults_from_detector, 180, 4, "defaults_from_detector", "switch to the spectrum's detector Defaults file without asking") \
  X(I32, auto_save_analyse_print, 184, 4, "auto_save_analyse_print", "perform automatic save, analysis and print") \
  X(I32, round_activities, 188, 4, "ACTR", "round reported activities") \
  X(I32, lod_for_found, 192, 4, "lod_for_found", "calculate LOD for found nuclides") \
  X(I32, iterate_position_single, 204, 4, "ITSP", "iterative peak position fitting, single peaks") \
  X(I32, iterate_multiplets, 208, 4, "ITMU", "iterative peak fitting, multiplets") \
  X(I32, iterate_width, 212, 4, "ITWI", "iterative peak width fitting") \
  X(I32, iterate_tailing, 216, 4, "ITTA", "iterative tailing fitting") \
  X(I32, continuum_linear, 220, 4, "continuum_linear", "continuum fixed at linear (CONT)") \
  X(I32, continuum_nonlinear, 224, 4, "continuum_nonlinear", "continuum fixed at non-linear (CONT; both off = best chosen)") \
  X(I32, fit_switch_228, 228, 4, "fit_switch_228", "fitting switch turned off by the shape calibration") \
  X(I32, fit_511, 236, 4, "511D", "fitting switch printed as 511D") \
  X(I32, nuclide_descriptions, 240, 4, "nuclide_descriptions", "give nuclide descriptions on the main report") \
  X(I32, unconditional_library_peaks, 244, 4, "UNLP", "unconditional reporting of library-inserted peaks") \
  X(I32, residual_peak_search, 248, 4, "residual_peak_search", "look for new peaks in the residuals (NPKD)") \
  X(I32, auto_acquisition_cycle, 252, 4, "auto_acquisition_cycle", "after each timed acquisition save, analyse and restart") \
  X(I32, numbered_reports, 256, 4, "numbered_reports", "create numbered analysis report files") \
  X(I32, update_database, 260, 4, "update_database", "update the activity database") \
  X(I32, database_odbc, 264, 4, "database_odbc", "the activity database is reached through ODBC (else CSV)") \
  X(I32, plot_type, 268, 4, "plot_type", "plot type: 0 points, 1 histogram, 2 bars") \
  X(I32, numbered_database_files, 272, 4, "numbered_database_files", "create numbered database files") \
  X(TXT, current_spectrum, 276, 32, "current_spectrum", "current spectrum file name") \
  X(TXT, aux_peaks_file, 308, 32, "AUXP", "auxiliary peaks file name") \
  X(TXT, peak_search_library, 340, 32, "PLIB", "peak-search library name") \
  X(TXT, analysis_library, 372, 32, "ALIB", "analysis library name") \
  X(TXT, lod_library, 404, 32, "LLIB", "limit-of-detection library name") \
  X(TXT, background_file, 436, 128, "BKGF", "default background file name") \
  X(TXT, other_format_dir, 564, 224, "other_format_dir", "other-format spectra directory") \
  X(TXT, own_format_dir, 788, 224, "own_format_dir", "own-format spectra directory") \
  X(TXT, calibration_dir, 1012, 224, "calibration_dir", "calibration file directory (detector files, reference spectra)") \
  X(TXT, background_dir, 1308, 224, "background_dir", "background file directory") \
  X(I32, report_font_size, 1532, 4, "report_font_size", "report viewer font size, twentieths of a point") \
  X(TXT, report_font_face, 1536, 32, "report_font_face", "report viewer font face") \
  X(I32, mca_type, 1568, 4, "mca_type", "MCA type flags: 0 none, 2 SB16, 4 96/192 kHz card, 8 RX720, +1 two-channel") \
  X(I32, mca_number, 1572, 4, "mca_number", "MCA number given to acquired spectra") \
  X(I32, serial_port, 1576, 4, "serial_port", "serial port number of the RX720") \
  X(I16, adc_number, 1580, 4, "adc_number", "ADC number given to acquired spectra") \
  X(I32, preset_time, 1596, 4, "preset_time", "preset count time, seconds") \
  X(I32, show_status_bar, 1612, 4, "show_status_bar", "display the status bar") \
  X(I32, show_toolbar, 1616, 4, "show_toolbar", "display the toolbar") \
  X(TXT, application_name, 1628, 16, "APPL", "application name (at most 15 characters, no blanks)") \
  X(I32, database_name_chosen, 1644, 4, "database_name_chosen", "database name chosen by the user (1) or generated (0)") \
  X(I32, database_state, 1648, 4, "database_state", "database state, -1 when the name changes") \
  X(TXT, database_name, 1652, 32, "database_name", "activity database file name without extension") \
  X(I32, background_stripping, 1684, 4, "background_stripping", "background subtraction by peak stripping") \
  X(I32, named_reports, 1724, 4, "named_reports", "create named analysis report files") \
  X(I32, move_cursor, 1728, 4, "move_cursor", "move the mouse cursor to the default button") \
  X(I32, prompt_add_peaks, 1736, 4, "prompt_add_peaks", "prompt before adding new peaks") \
  X(I32, prompt_remove_peaks, 1740, 4, "prompt_remove_peaks", "prompt before removing peaks") \
  X(I32, batch_print_main, 1744, 4, "batch_print_main", "batch analysis: print the main report") \
  X(I32, batch_print_peaks, 1748, 4, "batch_print_peaks", "batch analysis: print the peak report") \
  X(I32, batch_print_activity, 1752, 4, "batch_print_activity", "batch analysis: print the activity report") \
  X(I32, detailed_fit_report, 1756, 4, "detailed_fit_report", "produce the detailed peak fitting report") \
  X(TXT, report_template, 1764, 36, "report_template", "analysis report template file name") \
  X(I32, report_font_weight, 1800, 4, "report_font_weight", "report viewer font weight") \
  X(U8, report_font_italic, 1804, 1, "report_font_italic", "report viewer font italic") \
  X(U8, report_font_charset, 1808, 1, "report_font_charset", "report viewer font character set") \
  X(I32, interpolated_efficiency, 1812, 4, "INTE", "use interpolated efficiencies") \
  X(I32, lod_check_threshold, 1816, 4, "LODC", "LOD check threshold, per cent") \
  X(I32, sc_negative_input, 1820, 4, "sc_negative_input", "sound-card MCA: negative input (else positive)") \
  X(I32, sc_baseline_readings, 1824, 4, "sc_baseline_readings", "sound-card MCA: baseline-correction readings") \
  X(I32, sc_baseline_correct, 1828, 4, "sc_baseline_correct", "sound-card MCA: baseline correct") \
  X(I32, sc_baseline_points, 1832, 4, "sc_baseline_points", "sound-card MCA: baseline points") \
  X(I32, sc_delay, 1836, 4, "sc_delay", "sound-card MCA: delay (0-9)") \
  X(I32, sc_channels, 1840, 4, "sc_channels", "sound-card MCA: number of channels") \
  X(I32, sc_adc_range_divisor, 1844, 4, "sc_adc_range_divisor", "sound-card MCA: ADC range divisor") \
  X(I32, sc_adc_lld, 1848, 4, "sc_adc_lld", "sound-card MCA: ADC lower level discriminator") \
  X(I32, sc_adc_uld, 1852, 4, "sc_adc_uld", "sound-card MCA: ADC upper level discriminator") \
  X(I32, sc_trigger_threshold, 1856, 4, "sc_trigger_threshold", "sound-card MCA: trigger threshold") \
  X(I32, sc_gain_1, 1860, 4, "sc_gain_1", "sound-card MCA: amplifier gain, input 1") \
  X(I32, sc_gain_2, 1864, 4, "sc_gain_2", "sound-card MCA: amplifier gain, input 2") \
  X(I32, sc_max_readings, 1868, 4, "sc_max_readings", "sound-card MCA: maximum readings for conversion") \
  X(I32, sc_microphone, 1872, 4, "sc_microphone", "sound-card MCA: use the microphone input") \
  X(I32, temperature_correction, 1876, 4, "temperature_correction", "temperature gain correction enabled") \
  X(I32, drift_correction, 1884, 4, "drift_correction", "drift correction: 0 off, 1 at drift_energy, 2 energy check against K-40 and Tl-208") \
  X(F32, drift_energy, 1888, 4, "drift_energy", "energy used for drift correction, keV") \
  X(I32, gain_correction, 1892, 4, "gain_correction", "perform reference-peak gain correction") \
  X(I32, gain_reference_centre, 1896, 4, "gain_reference_centre", "centre channel of the reference-peak gain correction") \
  X(I32, gain_reference_window, 1900, 4, "gain_reference_window", "window of the reference-peak gain correction, channels") \
  X(TXT, reference_1, 1904, 32, "reference_1", "reference spectrum name 1 (without .rsd)") \
  X(TXT, reference_2, 1936, 32, "reference_2", "reference spectrum name 2") \
  X(TXT, reference_3, 1968, 32, "reference_3", "reference spectrum name 3") \
  X(TXT, reference_4, 2000, 32, "reference_4", "reference spectrum name 4") \
  X(TXT, reference_5, 2032, 32, "reference_5", "reference spectrum name 5") \
  X(TXT, reference_6, 2064, 32, "reference_6", "reference spectrum name 6") \
  X(TXT, reference_7, 2096, 32, "reference_7", "reference spectrum name 7") \
  X(TXT, reference_8, 2128, 32, "reference_8", "reference spectrum name 8") \
  X(TXT, reference_9, 2160, 32, "reference_9", "reference spectrum name 9") \
  X(TXT, reference_10, 2192, 32, "reference_10", "reference spectrum name 10") \
  X(I32, reference_count, 2224, 4, "reference_count", "number of reference spectra (0-10)") \
  X(I32, reference_fitting, 2228, 4, "reference_fitting", "spectrum (reference) fitting enabled") \
  X(I32, reference_iterate_position, 2232, 4, "reference_iterate_position", "iterative peak position fitting in the reference fit") \
  X(I32, reference_start, 2240, 4, "reference_start", "reference fit start channel") \
  X(I32, reference_end, 2244, 4, "reference_end", "reference fit ending channel") \
  X(I32, full_menu, 2248, 4, "full_menu", "full menu (0 removes calibration and editing commands)") \
  X(I32, init_mca_at_startup, 2252, 4, "init_mca_at_startup", "initialise the configured MCA at start-up") \
  X(I32, mca_variant, 2256, 4, "mca_variant", "MCA-and-analysis variant: loads reference spectra at start") \
  X(I32, checksum, 2260, 4, "checksum", "checksum of the low four bits of bytes 0-2127 (0 = none yet)") \
  X(I32, window_width, 2264, 4, "window_width", "main window width") \
  X(I32, window_height, 2268, 4, "window_height", "main window height") \
  X(I32, window_left, 2272, 4, "window_left", "main window left") \
  X(I32, window_top, 2276, 4, "window_top", "main window top") \
  X(I32, sc_leading_edge_readings, 2280, 4, "sc_leading_edge_readings", "sound-card MCA: maximum readings on the leading edge (below 2 read as 12)") \
  X(I32, sc_swap_inputs, 2284, 4, "sc_swap_inputs", "sound-card MCA: swap left and right inputs") \
  X(I32, rx720_display_while_collecting, 2300, 4, "rx720_display_while_collecting", "RX720: display the spectrum while collecting")
