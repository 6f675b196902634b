// kestrim temp-cal: the temperature calibration of the sound-card MCA's
// gain correction. Reads the points of a "Temp_cal.csv" (a header line,
// then "temperature, channel" a line), fits the reference peak's channel
// against temperature (first order, or second order with more than two
// points when asked), lists each point with its fitted channel and writes
// "TempCorr.dat" in the current folder with the reference temperature,
// the logger unit and the enable switch.
#include <cstdio>
#include <string>

#include "acquisition/gain_correction.h"
#include "commands.h"
#include "platform/c_locale.h"
#include "platform/files.h"
#include "platform/headless_platform.h"

namespace kestrim::cli {

namespace {

const char* kUsage =
    "Usage: kestrim temp-cal --csv Temp_cal.csv --reference DEGREES --unit N [--second-order] [--enable]\n"
    "Fits the reference peak's channel against temperature and writes TempCorr.dat in the\n"
    "current folder (unit: the temperature logger's unit number, 1 to 32767).\n";

bool parse_number(const std::string& s, double& out) {
  char* end = nullptr;
  out = c_strtod(s.c_str(), &end);
  return !s.empty() && end != nullptr && *end == 0;
}

}  // namespace

int cmd_temp_cal(const Args& args) {
  std::string csv;
  double reference = 0, unit = 0;
  bool have_reference = false, second = false, enable = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool v = i + 1 < args.size();
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--csv" && v) {
      csv = args[++i];
    } else if (a == "--reference" && v) {
      if (!parse_number(args[++i], reference)) return usage_error("temp-cal: --reference takes degrees", kUsage);
      have_reference = true;
    } else if (a == "--unit" && v) {
      if (!parse_number(args[++i], unit) || unit < 1 || unit > 32767 || unit != static_cast<int>(unit))
        return usage_error("temp-cal: --unit takes a number from 1 to 32767", kUsage);
    } else if (a == "--second-order") {
      second = true;
    } else if (a == "--enable") {
      enable = true;
    } else {
      return usage_error("temp-cal: unexpected argument " + a, kUsage);
    }
  }
  if (csv.empty()) return usage_error("temp-cal: no --csv FILE was given", kUsage);
  if (!have_reference) return usage_error("temp-cal: no --reference temperature was given", kUsage);
  if (unit == 0) return usage_error("temp-cal: no --unit was given", kUsage);

  HeadlessPlatform ui;
  TempCorrRecord r;
  if (!read_temp_cal(ui, csv, r)) return 1;
  if (!fit_temp_calibration(r, second)) {
    c_fprintf(stderr, "kestrim: temp-cal: the fit needs at least 2 points of different temperatures\n");
    return 1;
  }
  r.reference_temperature = static_cast<float>(reference);
  r.unit = static_cast<std::int16_t>(unit);
  r.enabled = enable ? 1 : 0;
  for (int k = 0; k < r.points; ++k) {
    const double t = r.temperatures[static_cast<std::size_t>(k)];
    const double ch = r.channels[static_cast<std::size_t>(k)];
    const double fit = channel_at(r, t);
    c_printf("%5.1f %7.1f %7.1f %5.1f\n", t, ch, fit, ch - fit);
  }
  c_printf("channel(T) = %g + %g T + %g T^2 (%s order), reference %.1f degrees: channel %.1f\n",
           static_cast<double>(r.coefficients[0]), static_cast<double>(r.coefficients[1]),
           static_cast<double>(r.coefficients[2]), r.coefficient_count == 3 ? "second" : "first", reference,
           channel_at(r, reference));
  if (!write_temp_corr(ui, ".", r)) return 1;
  c_printf("TempCorr.dat written (unit %d, correction %s)\n", static_cast<int>(r.unit),
           enable ? "enabled" : "disabled");
  return 0;
}

}  // namespace kestrim::cli
