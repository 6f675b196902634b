// The sample and parameter tokens of the report templates.
//
// Each entry gives the token, its usual width code and how its value comes
// from the session State. Dates are "%2d-%s-%4d" (11 wide) and times
// "%2d:%02d" (5 wide). Tokens whose data belong to later stages of the
// analysis (unidentified peaks, gain correction offset) give their "no data"
// value here; the writers that have the data replace them with
// TokenTable::set.
#include <cmath>
#include <string>

#include "reports/report_session.h"
#include "platform/binio.h"
#include "platform/c_format.h"
#include "reports/template_engine.h"
#include "spectrum/spectrum_record.h"

namespace kestrim {
namespace {

using V = TokenValue;
using Ctx = TokenContext;

// The background record's collection date and title.
DateTime background_collected(const ReportSession& s) { return s.background.collected; }

std::string background_title(const ReportSession& s) { return to_string(s.background.title); }

bool peak_background_on(const ReportSession& s) { return s.params.background_cps_subtraction != 0; }

std::string date_text(int day, int month, int year) { return format_date(day, month, year); }
std::string time_text(int hour, int minute) { return format_time(hour, minute); }

// Minutes from the sample date (decay reference) to the collection date.
long decay_minutes(const ReportSession& s) {
  double m = minutes_since_1900(s.spectrum.header.collected) - minutes_since_1900(s.spectrum.header.sampled);
  return std::lround(m);
}

// The four characters of a unit field; "%4s" right-aligns them.
std::string unit4(const FixedText<4>& t) { return to_string(t); }
// The unit the results are reported in: the parameters' activity unit, or
// count rates when the spectrum has no efficiency calibration (the results
// say so; the parameters keep their unit).
std::string activity_unit4(const TokenContext& c) {
  if (!c.state.results.efficiency_calibrated) return kUncalibratedUnit;
  return unit4(c.state.params.activity_unit);
}

std::string lod_type_name(int type) {
  switch (type) {
    case 1: return "Critical Limit or LLD";
    case 2: return "Minimum Detectable Activity";
    case 3: return "Upper Limit";
    case 4: return "Limit of Determination";
    case 5: return "LOD - maximum sample activity";
    default: return " ";
  }
}

// A stored real as a whole number, 0 for values no long can hold.
long whole(float v) { return std::isfinite(v) && std::fabs(v) < 2e9f ? static_cast<long>(v) : 0; }

std::string blanks(int n) { return std::string(static_cast<std::size_t>(n), ' '); }

// A token that only gives a code (sections, dropped lines).
TokenEntry code_token(const char* name, int code) {
  return {name, code, [code](const Ctx&) { return V::code(code); }};
}

// A token printing blanks of its width (database section tokens outside the
// database template).
TokenEntry blank_token(const char* name, int width) {
  return {name, width, [width](const Ctx&) { return V::text_value(blanks(width)); }};
}

std::vector<TokenEntry> make_sample_tokens() {
  std::vector<TokenEntry> t;
  auto add = [&t](const char* name, int width, TokenFunction f) { t.push_back({name, width, std::move(f)}); };
#define H (c.state.spectrum.header)
#define CAL (c.state.spectrum.calibration)
  add("VERS", 32, [](const Ctx& c) { return V::text_value(c.state.flags.version); });
  add("DNOW", 11, [](const Ctx& c) { return V::text_value(date_text(c.now.day, c.now.month, c.now.year)); });
  add("TNOW", 5, [](const Ctx& c) { return V::text_value(time_text(c.now.hour, c.now.minute)); });
  add("SPCF", 32, [](const Ctx& c) { return V::text_value(c.state.flags.current_file); });
  add("TITL", 48, [](const Ctx& c) { return V::text_value(header_title(H) + header_description(H)); });
  add("SAMN", 8, [](const Ctx& c) { return V::text_value(c_format("%8ld", static_cast<long>(H.sample_number))); });
  add("USER", 24, [](const Ctx& c) { return V::text_value(to_string(H.user)); });
  add("DETN", 5, [](const Ctx& c) { return V::text_value(c_format("%5d", H.detector)); });
  add("GEON", 5, [](const Ctx& c) { return V::text_value(c_format("%5d", H.geometry)); });
  add("MCAN", 5, [](const Ctx& c) { return V::text_value(c_format("%5d", H.mca)); });
  add("ADCN", 5, [](const Ctx& c) { return V::text_value(c_format("%5d", H.adc)); });
  add("LTIM", 7, [](const Ctx& c) { return V::text_value(c_format("%7ld", whole(H.live_time))); });
  add("TTIM", 7, [](const Ctx& c) { return V::text_value(c_format("%7ld", whole(H.true_time))); });
  add("DTIM", 6, [](const Ctx& c) {
    if (H.true_time == 0) return V::text_value("?");
    return V::text_value(c_format("%6.2f", dead_time_percent(H)));
  });
  add("DSAV", 11, [](const Ctx& c) { return V::text_value(date_text(H.saved.day, H.saved.month, H.saved.year)); });
  add("TSAV", 5, [](const Ctx& c) { return V::text_value(time_text(H.saved.hour, H.saved.minute)); });
  add("DCOL", 11, [](const Ctx& c) {
    return V::text_value(date_text(H.collected.day, H.collected.month, H.collected.year));
  });
  add("TCOL", 5, [](const Ctx& c) { return V::text_value(time_text(H.collected.hour, H.collected.minute)); });
  add("DSAM", 11, [](const Ctx& c) { return V::text_value(date_text(H.sampled.day, H.sampled.month, H.sampled.year)); });
  add("TSAM", 5, [](const Ctx& c) { return V::text_value(time_text(H.sampled.hour, H.sampled.minute)); });
  add("DCYD", 6, [](const Ctx& c) { return V::text_value(c_format("%6d", static_cast<int>(decay_minutes(c.state) / 1440))); });
  add("DCYM", 5, [](const Ctx& c) { return V::text_value(c_format("%5d", static_cast<int>(decay_minutes(c.state) % 1440))); });
  add("SAMS", 14, [](const Ctx& c) {
    return V::text_value(c_format("%9.4f %4s", static_cast<double>(H.sample_size), unit4(H.units).c_str()));
  });
  // The sample size as the header editor shows it.
  add("SAMW", 5, [](const Ctx& c) { return V::text_value(format_sample_size(H.sample_size)); });
  add("CFAC", 9, [](const Ctx& c) { return V::text_value(c_format("%9.4f", static_cast<double>(H.correction_factor))); });
  add("GEOD", 40, [](const Ctx& c) { return V::text_value(to_string(CAL.geometry_text)); });
  add("DETF", 5, [](const Ctx& c) {
    if (H.detector_file < 1) return V::drop();
    return V::text_value(c_format("%5d", H.detector_file));
  });
  add("DENC", 11, [](const Ctx& c) {
    return V::text_value(date_text(CAL.energy_date.day, CAL.energy_date.month, CAL.energy_date.year));
  });
  add("TENC", 5, [](const Ctx& c) { return V::text_value(time_text(CAL.energy_time.hour, CAL.energy_time.minute)); });
  // Without a shape calibration date the energy calibration's is shown.
  add("DSHP", 11, [](const Ctx& c) {
    const CalDate& d = CAL.shape_date.day != 0 ? CAL.shape_date : CAL.energy_date;
    return V::text_value(date_text(d.day, d.month, d.year));
  });
  add("TSHP", 5, [](const Ctx& c) {
    const CalTime& t = CAL.shape_date.day != 0 ? CAL.shape_time : CAL.energy_time;
    return V::text_value(time_text(t.hour, t.minute));
  });
  add("DEFC", 11, [](const Ctx& c) {
    return V::text_value(date_text(CAL.efficiency_date.day, CAL.efficiency_date.month, CAL.efficiency_date.year));
  });
  add("TEFC", 5, [](const Ctx& c) {
    return V::text_value(time_text(CAL.efficiency_time.hour, CAL.efficiency_time.minute));
  });
  add("AUNI", 5, [](const Ctx& c) { return V::text_value(c_format("%4s ", activity_unit4(c).c_str())); });
  add("UNIT", 5, [](const Ctx& c) { return V::text_value(c_format("%4s ", unit4(H.units).c_str())); });
  add("ORTE", 16, [](const Ctx& c) {
    return V::text_value(activity_unit4(c) + "/" + unit4(H.units));
  });
  add("BTTL", 47, [](const Ctx& c) {
    if (!peak_background_on(c.state)) return V::drop();
    return V::text_value(background_title(c.state));
  });
  add("BKGD", 11, [](const Ctx& c) {
    if (!peak_background_on(c.state)) return V::drop();
    DateTime d = background_collected(c.state);
    return V::text_value(date_text(d.day, d.month, d.year));
  });
  add("BKGT", 5, [](const Ctx& c) {
    if (!peak_background_on(c.state)) return V::drop();
    DateTime d = background_collected(c.state);
    return V::text_value(time_text(d.hour, d.minute));
  });
  add("BKGL", 6, [](const Ctx& c) {
    if (!peak_background_on(c.state)) return V::drop();
    return V::text_value(c_format("%6ld", whole(c.state.background.live_time)));
  });
  add("BKGS", 12, [](const Ctx& c) {
    if (!peak_background_on(c.state) && c.state.params.background_stripping == 0) return V::drop();
    return V::text_value(c.state.flags.background_name);
  });
  t.push_back(code_token("ACTS", kSectionActivities));
  t.push_back(code_token("ISO", kSectionActivities));
  // No unidentified-peak data yet: no peak qualifies, so the line goes.
  t.push_back(code_token("UNPK", kDropLine));
  add("LODR", 5, [](const Ctx& c) {
    if (c.state.params.calculate_lod == 0) return V::code(kSectionEnd);
    return V::text_value(blanks(5));
  });
  t.push_back(code_token("CORR", kSectionLimits));
  t.push_back(code_token("LODS", kSectionLimits));
  t.push_back(code_token("AERR", kSectionSecondLibrary));
  t.push_back(code_token("RESU", kSectionSecondLibrary));
  t.push_back(code_token("%ERR", kSectionCustom));
  t.push_back(code_token("CUST", kSectionCustom));
  add("LODD", 30, [](const Ctx& c) { return V::text_value(lod_type_name(c.state.params.lod_type)); });
  t.push_back(code_token("GEOM", kDropLine));
  t.push_back(code_token("GEOF", kDropLine));
  add("SAMU", 5, [](const Ctx& c) { return V::text_value(c_format("%5.1f", static_cast<double>(H.sampling_uncertainty))); });
  add("CALU", 5, [](const Ctx& c) { return V::text_value(c_format("%5.1f", static_cast<double>(CAL.uncertainty))); });
  add("SPCC", 0, [](const Ctx& c) { return V::rest_of_line(H.detector_file < 1); });
  t.push_back(code_token("GPSD", kSectionEnd));
  add("SLOC", 32, [](const Ctx& c) { return V::text_value(to_string(H.location)); });
  add("SIDE", 16, [](const Ctx& c) { return V::text_value(to_string(H.sample_id)); });
  add("STYP", 16, [](const Ctx& c) {
    std::string type = to_string(H.sample_type);
    if (type.empty()) return V::text_value(header_description(H), 24);
    return V::text_value(type, 16);
  });
  // The offset itself comes from the gain correction of the acquisition;
  // until it is measured it is 0.
  add("GCOR", 16, [](const Ctx& c) {
    if (c.state.params.temperature_correction == 0 && c.state.params.gain_correction == 0) return V::drop();
    return V::text_value(c_format("%5d", 0));
  });
  add("DETD", 64, [](const Ctx& c) { return V::text_value(c.state.spectrum.detector_description); });
  t.push_back(code_token("SPEC", kSectionReference));
  t.push_back(code_token("END", kSectionEndBlock));
  t.push_back(blank_token("UNID", 13));
  t.push_back(blank_token("COMP", 15));
  t.push_back(blank_token("HEAD", 17));
  t.push_back(blank_token("CO_O", 19));
  t.push_back(blank_token("FWHM", 20));
  t.push_back(blank_token("CHAN", 21));
  t.push_back(blank_token("INT", 25));
#undef H
#undef CAL
  return t;
}

// A flag token: the rest of the line is kept when the flag is set.
TokenEntry flag_token(const char* name, std::int32_t AnalysisParameters::*flag) {
  return {name, 0, [flag](const Ctx& c) { return V::rest_of_line(c.state.params.*flag != 0); }};
}

std::vector<TokenEntry> make_parameter_tokens() {
  std::vector<TokenEntry> t;
  auto add = [&t](const char* name, int width, TokenFunction f) { t.push_back({name, width, std::move(f)}); };
#define P (c.state.params)
  auto int5 = [&add](const char* name, std::int32_t AnalysisParameters::*field) {
    add(name, 5, [field](const Ctx& c) { return V::text_value(c_format("%5d", static_cast<int>(P.*field))); });
  };
  auto real = [&add](const char* name, const char* format, float AnalysisParameters::*field) {
    add(name, 5, [format, field](const Ctx& c) {
      return V::text_value(c_format(format, static_cast<double>(P.*field)));
    });
  };
  auto name_if = [&add](const char* name, int width, FixedText<32> AnalysisParameters::*field,
                        std::int32_t AnalysisParameters::*flag) {
    add(name, width, [field, flag](const Ctx& c) {
      if (flag && P.*flag == 0) return V::drop();
      return V::text_value(to_string(P.*field));
    });
  };
  int5("DEFN", &AnalysisParameters::defaults_number);
  add("APPL", 16, [](const Ctx& c) { return V::text_value(to_string(P.application_name)); });
  int5("MAXD", &AnalysisParameters::max_dead_time);
  int5("MAXP", &AnalysisParameters::max_peak_uncertainty);
  int5("ENDC", &AnalysisParameters::region_end_channels);
  int5("PKSF", &AnalysisParameters::peak_separation_factor);
  real("STAR", "%5.0f", &AnalysisParameters::search_start);
  real("STOP", "%5.0f", &AnalysisParameters::search_stop);
  real("PKSD", "%5.1f", &AnalysisParameters::search_discriminator);
  real("PKSS", "%5.1f", &AnalysisParameters::search_smoothing);
  name_if("PLIB", 32, &AnalysisParameters::peak_search_library, &AnalysisParameters::library_peak_search);
  real("PSIG", "%5.3f", &AnalysisParameters::peak_sigma);
  real("MAXW", "%5.3f", &AnalysisParameters::max_width_change);
  real("CONF", "%5.3f", &AnalysisParameters::min_confidence);
  real("ASIG", "%5.3f", &AnalysisParameters::activity_sigma);
  real("LSIG", "%5.3f", &AnalysisParameters::lod_sigma);
  real("ETOL", "%5.2f", &AnalysisParameters::energy_tolerance);
  t.push_back(flag_token("ITSP", &AnalysisParameters::iterate_position_single));
  t.push_back(flag_token("ITMU", &AnalysisParameters::iterate_multiplets));
  t.push_back(flag_token("ITWI", &AnalysisParameters::iterate_width));
  t.push_back(flag_token("ITTA", &AnalysisParameters::iterate_tailing));
  t.push_back(flag_token("511D", &AnalysisParameters::fit_511));
  t.push_back(flag_token("UNLP", &AnalysisParameters::unconditional_library_peaks));
  t.push_back(flag_token("UPPK", &AnalysisParameters::principal_peak_only));
  t.push_back(flag_token("ASUM", &AnalysisParameters::area_by_summation));
  t.push_back(flag_token("ACTR", &AnalysisParameters::round_activities));
  t.push_back(flag_token("INTE", &AnalysisParameters::interpolated_efficiency));
  t.push_back(flag_token("DCEN", &AnalysisParameters::dcen));
  add("CONT", 0, [](const Ctx& c) {
    std::string text = P.continuum_linear     ? "Continuum fixed at Linear"
                       : P.continuum_nonlinear ? "Continuum fixed at Non-linear"
                                               : "Find Best Continuum function enabled";
    int width = static_cast<int>(text.size());
    return V::text_value(std::move(text), width);
  });
  add("NPKD", 5, [](const Ctx& c) {
    if (P.residual_peak_search == 0) return V::drop();
    return V::text_value(c_format("%5.1f", static_cast<double>(P.new_peak_discriminator)));
  });
  add("BKGF", 12, [](const Ctx& c) {
    if (P.background_cps_subtraction == 0) return V::drop();
    if (P.background_from_spectrum_file != 0) return V::text_value("Spectrum data file", 18);
    return V::text_value(to_string(P.background_file), 12);
  });
  name_if("ALIB", 32, &AnalysisParameters::analysis_library, nullptr);
  t.push_back(code_token("SLIB", kDropLine));
  t.push_back(code_token("ACCH", kDropLine));
  t.push_back(code_token("GCEN", kDropLine));
  add("ICUN", 0, [](const Ctx& c) { return V::rest_of_line(P.include_calibration_uncertainty == 0); });
  add("LODC", 5, [](const Ctx& c) {
    if (P.lod_check_threshold <= 0) return V::drop();
    return V::text_value(c_format("%5d", static_cast<int>(P.lod_check_threshold)));
  });
  // Four characters, unterminated when full, and a blank.
  add("ACTU", 5, [](const Ctx& c) {
    std::string text(P.activity_unit.begin(), P.activity_unit.end());
    return V::text_value(text + " ");
  });
  add("ACFA", 9, [](const Ctx& c) { return V::text_value(c_format("%9.2e", static_cast<double>(P.activity_factor))); });
  name_if("LLIB", 32, &AnalysisParameters::lod_library, &AnalysisParameters::calculate_lod);
  name_if("AUXP", 12, &AnalysisParameters::aux_peaks_file, &AnalysisParameters::use_aux_peaks);
  add("MAXA", 5, [](const Ctx& c) {
    return V::text_value(c_format("%5d", static_cast<int>(whole(P.max_activity_uncertainty))));
  });
#undef P
  return t;
}

}  // namespace

const TokenTable& sample_tokens() {
  static const TokenTable table(make_sample_tokens());
  return table;
}

const TokenTable& parameter_tokens() {
  static const TokenTable table(make_parameter_tokens());
  return table;
}

}  // namespace kestrim
