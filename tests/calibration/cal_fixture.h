// A calibration session: the application fixture with a hand-made peak
// list, so that the procedures can be driven without a spectrum.
#pragma once

#include <string>
#include <vector>

#include "app/app_fixture.h"
#include "settings/calibration_functions.h"

namespace kestrim::test {

class CalSession : public AppSession {
 public:
  CalSession() {
    state.spectrum.header.channels = 1024;
    state.spectrum.header.detector = 3;
    state.spectrum.header.geometry = 2;
    state.spectrum.header.live_time = 1000;
    state.spectrum.header.true_time = 1000;
    state.app.current_file = "cal.dat";
    state.params.energy_tolerance = 1.0f;
  }

  // Adds a peak at `centre` with a significance; fitted with an area.
  int add_peak(double centre, double significance = 50, double area = 1000, double area_pct = 2) {
    PeakList& l = state.peaks;
    const int k = ++l.count;
    l.centre[k] = static_cast<float>(centre);
    l.centre_channel[k] = static_cast<int>(centre + 0.5);
    l.significance[k] = static_cast<float>(significance);
    l.net_area[k] = static_cast<float>(area);
    l.net_area_pct[k] = static_cast<float>(area_pct);
    l.fitted_flag[k] = 1;
    return k;
  }

  // A linear energy calibration E = c0 + c1 ch.
  void linear_calibration(double c0, double c1) {
    CalibrationRecord& cal = state.spectrum.calibration;
    cal.energy_terms = 2;
    cal.energy = {static_cast<float>(c0), static_cast<float>(c1), 0};
  }

  void write_work(const std::string& name, const std::string& text) {
    write_text(dir.file("work/" + name), text);
  }
  std::string read_work(const std::string& name) { return read_text(dir.file("work/" + name)); }
};

// The report text from its third line on (the first two hold the date).
inline std::string after_date_line(const std::string& report) {
  std::size_t pos = 0;
  for (int i = 0; i < 3 && pos != std::string::npos; ++i) pos = report.find('\n', pos + (i ? 1 : 0));
  return pos == std::string::npos ? std::string() : report.substr(pos + 1);
}

}  // namespace kestrim::test

#include "peaks/peak_search.h"
#include "spectrum/simulate.h"

namespace kestrim::test {

// A noiseless simulated spectrum with the given peaks (energy, area) put
// into the session's spectrum, with the standard search settings. The
// record keeps the simulation's calibration (quadratic energy when asked).
inline SimSpectrum load_simulated(CalSession& s, const std::vector<SimPeak>& peaks,
                                  double quadratic = 0, bool noise = false) {
  SimOptions o;
  o.channels = 1024;
  o.gain_kev = 2.0;
  o.offset_kev = 1.0;
  o.quadratic = quadratic;
  o.peaks = peaks;
  o.bg_constant = 20;
  o.noise = noise;
  o.live_time = 1000;
  o.true_time = 1000;
  SimSpectrum sim = simulate_spectrum(o);
  const int detector = s.state.spectrum.header.detector, geometry = s.state.spectrum.header.geometry;
  store_simulated(sim, o, s.state.spectrum);
  s.state.spectrum.header.detector = static_cast<std::int16_t>(detector);
  s.state.spectrum.header.geometry = static_cast<std::int16_t>(geometry);
  use_standard_peak_parameters(s.state.params, o.channels);
  s.state.params.energy_tolerance = 2.0f;
  s.state.app.spectrum_loaded = true;
  return sim;
}

}  // namespace kestrim::test
