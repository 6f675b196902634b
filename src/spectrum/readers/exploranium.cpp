// Exploranium ".spe" text spectra (type 13): the IAEA SPE blocks (see
// spe_blocks.h) plus the keys of the German-language identifier files
// (SpecUtils SpecFile_spe.cpp, $IDENTIFY_PARAMETER block), each key on a
// line of its own and its value on the next line:
//   key                 value
//   *_Offset            energy calibration constant, keV
//   *_Steigung          linear energy coefficient, keV/channel (order 2)
//   *_Quadrat           quadratic energy coefficient (order 3)
//   FWHM_FWHM1/2        FWHM in keV at the two energies below
//   FWHM_Energie1/2     those energies, keV
// The two FWHM points become the width calibration: sigma = FWHM x 0.4246
// fitted as a first-order polynomial in energy by the calibration-point fit.
#include <cmath>

#include "spectrum/point_fit.h"
#include "platform/platform.h"
#include "spectrum/readers/readers.h"
#include "spectrum/readers/spe_blocks.h"

namespace kestrim::readers {

namespace {
constexpr double kSigmaPerFwhm = 0.4246;  // 1 / 2.355

std::string_view bare_key(std::string_view line) {
  line = trim(line);
  while (!line.empty() && line.back() == ':') line.remove_suffix(1);
  return trim(line);
}

struct GermanKeys {
  double offset = 0, slope = 0, quadratic = 0;
  int energy_terms = 0;
  double fwhm[2] = {0, 0}, energy[2] = {0, 0};
};

// Scans every "key line / value line" pair of a block's lines.
void scan_german_keys(const std::vector<std::string_view>& lines, GermanKeys& k) {
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    std::string_view key = bare_key(lines[i]);
    double v = 0;
    if (key.empty() || !scan_double(lines[i + 1], v)) continue;
    if (ends_with_ci(key, "_Steigung")) {
      k.slope = v;
      if (k.energy_terms < 2) k.energy_terms = 2;
    } else if (ends_with_ci(key, "_Offset")) {
      k.offset = v;
    } else if (ends_with_ci(key, "_Quadrat")) {
      k.quadratic = v;
      k.energy_terms = 3;
    } else if (starts_with_ci(key, "FWHM_FWHM1")) {
      k.fwhm[0] = v;
    } else if (starts_with_ci(key, "FWHM_FWHM2")) {
      k.fwhm[1] = v;
    } else if (starts_with_ci(key, "FWHM_Energie1")) {
      k.energy[0] = v;
    } else if (starts_with_ci(key, "FWHM_Energie2")) {
      k.energy[1] = v;
    }
  }
}
}  // namespace

int probe_exploranium(const Bytes& b) { return probe_minimca(b); }

int read_exploranium(const Bytes& b, SpectrumRecord& rec, const ReaderOptions& options, Platform& ui) {
  int channels = 0;
  bool title = false;
  GermanKeys keys;
  for (const SpeBlock& block : spe_blocks(b)) {
    if (!read_standard_spe_block(block, rec, options, channels, title)) scan_german_keys(block.lines, keys);
  }
  if (take_file_calibration(rec, options)) {
    if (keys.energy_terms >= 2 && keys.slope != 0)
      set_energy_calibration(rec, keys.offset, keys.slope, keys.energy_terms == 3 ? keys.quadratic : 0.0,
                             keys.energy_terms, rec.header.collected);
    if (keys.energy[0] > 0 && keys.energy[1] > 0) {
      std::vector<CalibrationPoint> points = {
          {keys.energy[0], keys.fwhm[0] * kSigmaPerFwhm, 1.0},
          {keys.energy[1], keys.fwhm[1] * kSigmaPerFwhm, 1.0}};
      PointFit fit = fit_calibration_points(points, 2);
      if (fit.ok) {
        // The fit gives sigma in keV; the width calibration is in channels.
        CalibrationRecord& cal = rec.calibration;
        const double gain = cal.energy[1] > 0 ? cal.energy[1] : 1.0;
        cal.width_terms = 2;
        cal.width = {static_cast<float>(fit.coefficients[0] / gain), static_cast<float>(fit.coefficients[1] / gain),
                     0.0f};
        DateTime now = now_date_time();
        cal.shape_date = {now.day, now.month, now.year};
        cal.shape_time = {now.hour, now.minute};
      } else {
        rec.warnings.push_back("The two FWHM points do not give a width calibration");
      }
    }
  }
  rec.header.sampled = rec.header.collected;
  if (channels <= 0) {
    warn(ui, "Did not find channel data");
    return -1;
  }
  set_channel_count(rec, channels);
  return 0;
}

}  // namespace kestrim::readers
