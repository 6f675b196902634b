#include "settings/calibration_describe.h"
#include "platform/c_locale.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "settings/calibration_functions.h"

namespace kestrim {

namespace {

// Channels of the channel -> energy table, and well-known gamma lines
// (Am-241, Co-57, Cs-137, K-40, Tl-208) for the energy -> channel table.
constexpr int kTableChannels[] = {10, 100, 500, 1000, 2000, 4000};
constexpr double kTableEnergies[] = {59.54, 122.06, 661.66, 1460.82, 2614.51};

void appendf(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void appendf(std::string& out, const char* format, ...) {
  char buf[512];
  va_list args;
  va_start(args, format);
  c_vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  out += buf;
}

// A stored real32 as the shortest decimal that reads back to it.
double tidy(float v) {
  char buf[32];
  c_snprintf(buf, sizeof buf, "%.7g", static_cast<double>(v));
  return c_strtod(buf, nullptr);
}

std::string date_text(const CalDate& d, const CalTime& t) {
  if (d.day <= 0) return "no date";
  char buf[48];
  c_snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d", d.day, d.month, d.year, t.hour,
                t.minute);
  return buf;
}

const char* energy_form_name(const CalibrationRecord& cal) {
  return cal.energy_form != 0 ? "log" : "polynomial";
}

void describe_energy(std::string& out, const CalibrationRecord& cal) {
  const int n = term_count(cal.energy_terms);
  const auto& c = cal.energy;
  if (n <= 0) {
    out += "Energy calibration: none (energy = channel)\n";
    return;
  }
  appendf(out, "Energy calibration: %d terms, %s form, %s\n", n, energy_form_name(cal),
          date_text(cal.energy_date, cal.energy_time).c_str());
  if (n == 1) {
    appendf(out, "  E = %.6g keV\n", c[0]);
  } else if (n == 2) {
    appendf(out, "  E = %.6g + %.6g*x keV\n", c[0], c[1]);
  } else if (cal.energy_form != 0) {
    appendf(out, "  E = %.6g + %.6g*x + %.6g*ln(x) keV\n", c[0], c[1], c[2]);
  } else {
    appendf(out, "  E = %.6g + %.6g*x + %.6g*x^2 keV\n", c[0], c[1], c[2]);
  }
  const int stored = term_count(cal.energy_count);
  if (stored > 0) {
    out += "  Calibration energies (keV):";
    for (int i = 0; i < stored && i < kMaxCalibrationEnergies; ++i)
      appendf(out, " %.2f", cal.energies[i]);
    out += "\n";
  }
}

void describe_shape_function(std::string& out, const char* name, const char* symbol, float terms,
                             const std::array<float, 3>& c, const char* fallback) {
  const int n = term_count(terms);
  if (n <= 0) {
    appendf(out, "%s: not calibrated (%s)\n", name, fallback);
  } else if (n <= 2) {
    appendf(out, "%s: %s = %.6g + %.6g*E\n", name, symbol, c[0], n > 1 ? c[1] : 0.0f);
  } else {
    appendf(out, "%s: %s = %.6g + %.6g*E + %.6g*E^2\n", name, symbol, c[0], c[1], c[2]);
  }
}

void describe_curve(std::string& out, const char* name, int terms, const float* a, bool inverse) {
  if (terms <= 0) {
    appendf(out, "  %s curve: not calibrated\n", name);
    return;
  }
  appendf(out, "  %s curve: %d terms, %s\n", name, terms,
          inverse ? "ln(eff) = a1*e + a2 + a3/e + ... (e = E/1000)"
                  : "ln(eff) = a1 + a2*ln(E) + a3*ln(E)^2 + ...");
  out += "   ";
  for (int k = 0; k < terms; ++k) appendf(out, " a%d=%.6g", k + 1, a[k]);
  out += "\n";
}

int curve_terms(float stored, int capacity) {
  const int n = term_count(stored);
  return n < capacity ? n : capacity;
}

nlohmann::json function_json(float terms, const std::array<float, 3>& c) {
  return {{"terms", term_count(terms)}, {"coefficients", {tidy(c[0]), tidy(c[1]), tidy(c[2])}}};
}

}  // namespace

std::string describe_calibration(const CalibrationRecord& cal, const EfficiencyPoints& points) {
  std::string out;
  describe_energy(out, cal);

  const int wn = term_count(cal.width_terms);
  if (wn == -2) {
    appendf(out,
            "Peak width: resolution form, FWHM = %.6g + %.6g*sqrt(E) keV, sigma = FWHM / "
            "(%.6g keV/channel * 2.355), %s\n",
            cal.width[0], cal.width[1], cal.energy[1],
            date_text(cal.shape_date, cal.shape_time).c_str());
  } else {
    describe_shape_function(out, "Peak width (sigma, channels)", "W", cal.width_terms, cal.width,
                            "channels/256 + 0.01*x");
    if (wn > 0) appendf(out, "  %s\n", date_text(cal.shape_date, cal.shape_time).c_str());
  }
  describe_shape_function(out, "Low-energy tailing", "T", cal.low_tail_terms, cal.low_tail,
                          "1.75 * width");
  describe_shape_function(out, "High-energy tailing", "T", cal.high_tail_terms, cal.high_tail,
                          "10 * width");

  const int low = curve_terms(cal.low_eff_terms, 5);
  const int high = curve_terms(cal.high_eff_terms, 6);
  if (cal.efficiency_date.day <= 0 && low <= 0 && high <= 0) {
    out += "Efficiency: not calibrated\n";
  } else {
    appendf(out, "Efficiency: crossover %.2f keV, %s\n", cal.crossover,
            date_text(cal.efficiency_date, cal.efficiency_time).c_str());
    describe_curve(out, "Low-energy", low, cal.low_eff.data(), low > 0 && low == cal.inverse_form);
    describe_curve(out, "High-energy", high, cal.high_eff.data(),
                   high > 0 && high == cal.inverse_form);
    appendf(out, "  Variance coefficients %s; calibration uncertainty %.2f%%\n",
            cal.variance_stored != 0 ? "stored" : "not stored", cal.uncertainty);
  }
  const std::string geometry = to_string(cal.geometry_text);
  if (!geometry.empty() || cal.sample_size != 0) {
    appendf(out, "Geometry: %s; default sample size %.6g %s", geometry.c_str(), cal.sample_size,
            to_string(cal.sample_units).c_str());
    const std::string bkg = to_string(cal.background_name);
    if (!bkg.empty()) appendf(out, "; background %s", bkg.c_str());
    out += "\n";
  }

  const int m = points.count < 0 ? 0 : (points.count > kMaxEfficiencyPoints ? kMaxEfficiencyPoints
                                                                            : points.count);
  appendf(out, "Efficiency points: %d\n", m);
  if (m > 0) {
    out += "  Energy keV   Efficiency  Uncertainty %\n";
    for (int i = 0; i < m; ++i) {
      appendf(out, "  %10.2f  %11.4e  %13.2f\n", points.energy[i], points.efficiency[i],
              100.0 * points.uncertainty[i]);
    }
  }

  out += "   Channel   Energy keV   Width ch   Efficiency\n";
  for (int x : kTableChannels) {
    const double e = channel_to_energy(cal, x);
    appendf(out, "  %8d  %11.2f  %9.3f  %11.4e\n", x, e, width_at_channel(cal, x),
            efficiency_at(cal, e));
  }
  out += "  Energy keV     Channel\n";
  for (double e : kTableEnergies) appendf(out, "  %10.2f  %10.2f\n", e, energy_to_channel(cal, e));
  return out;
}

nlohmann::json calibration_json(const CalibrationRecord& cal) {
  nlohmann::json j = function_json(cal.energy_terms, cal.energy);
  j["form"] = energy_form_name(cal);
  j["width"] = function_json(cal.width_terms, cal.width);
  j["width"]["form"] = term_count(cal.width_terms) == -2 ? "resolution" : "polynomial";
  j["low_tail"] = function_json(cal.low_tail_terms, cal.low_tail);
  j["high_tail"] = function_json(cal.high_tail_terms, cal.high_tail);

  auto curve = [&](float stored, const float* a, int capacity) {
    const int n = curve_terms(stored, capacity);
    nlohmann::json c = {{"terms", n < 0 ? 0 : n}};
    c["form"] = n > 0 && n == cal.inverse_form ? "inverse_energy" : "log";
    c["coefficients"] = nlohmann::json::array();
    for (int k = 0; k < n; ++k) c["coefficients"].push_back(tidy(a[k]));
    return c;
  };
  j["efficiency"] = {
      {"calibrated", cal.efficiency_date.day > 0},
      {"crossover_kev", tidy(cal.crossover)},
      {"low", curve(cal.low_eff_terms, cal.low_eff.data(), 5)},
      {"high", curve(cal.high_eff_terms, cal.high_eff.data(), 6)},
      {"uncertainty_percent", tidy(cal.uncertainty)},
  };
  j["geometry"] = to_string(cal.geometry_text);
  return j;
}

}  // namespace kestrim
