#include "nuclides/background_file.h"

#include <algorithm>
#include <cmath>

#include "nuclides/nuclide_session.h"
#include "peaks/peak_fit_report.h"
#include "peaks/peak_search.h"
#include "peaks/region_driver.h"
#include "platform/binio.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/c_format.h"
#include "settings/calibration_functions.h"
#include "settings/defaults_file.h"

namespace kestrim {

namespace {

constexpr std::size_t kMaxTypedName = 31;
constexpr std::size_t kMaxName = 12;
// Only the start of a file is used; anything this large is not a background file.
constexpr std::size_t kMaxReadBytes = 1u << 20;

std::string current_name(const NuclideSession& s) {
  return s.flags.background_name.empty() ? to_string(s.params.background_file) : s.flags.background_name;
}

}  // namespace

std::vector<std::uint8_t> encode_background_file(const BackgroundRecord& rec) {
  std::vector<std::uint8_t> bytes(kBackgroundFileSize, 0);
  bin::put_i16(bytes.data(), kBackgroundFileMarker);
  encode_background_record(rec, bytes.data() + 2);
  return bytes;
}

int decode_background_file(const std::vector<std::uint8_t>& bytes, BackgroundRecord& out) {
  if (bytes.size() < 2 || bin::get_i16(bytes.data()) != kBackgroundFileMarker) return -1;
  if (bytes.size() < static_cast<std::size_t>(kBackgroundFileSize)) return -2;
  decode_background_record(bytes.data() + 2, out);
  return 1;
}

std::string background_directory(const NuclideSession& s) {
  std::string dir = to_string(s.params.background_dir);
  return dir.empty() ? s.paths.working_dir : dir;
}

std::string background_dialog_status(const NuclideSession& s) {
  const bool named = !current_name(s).empty() || !to_string(s.spectrum.calibration.background_name).empty();
  return std::string(named ? "Select" : "Enter") + " the required Background filename, then select 'Open'";
}

int accept_background_name(const NuclideSession& s, const std::string& typed, const std::string& directory, bool saving,
                           std::string& name) {
  Platform& ui = *s.ui;
  std::string n = typed.substr(0, std::min(typed.size(), kMaxTypedName));
  if (n.find('.') == std::string::npos) n += ".bkg";
  if (n.size() > kMaxName) {
    ui.message_box("The complete filename name should be 12 or less characters", "", kMsgOk);
    return 0;
  }
  n = to_lower(n);
  if (n.find(".bkg") == std::string::npos) {
    ui.message_box("The filename extension:- BKG should be used", "", kMsgOk);
    return 0;
  }
  const bool exists = file_exists(resolve_path(join_path(directory, n)));
  if (saving && exists) {
    if (ui.message_box(c_format("Overwrite Background file %s ?", n.c_str()), "The Background data file already exists",
                       kMsgYesNo) != kAnswerYes)
      return 0;
  }
  if (!saving && !exists) {
    ui.message_box(c_format("Background file %s was not found", n.c_str()), "", kMsgOk);
    return 0;
  }
  name = n;
  s.flags.background_name = n;
  assign(s.params.background_file, n);
  assign(s.params.background_dir, directory);
  s.params.background_cps_subtraction = 1;
  return 1;
}

std::vector<BackgroundListing> list_background_files(const std::string& directory) {
  std::vector<BackgroundListing> out;
  int examined = 0;
  for (const std::string& f : list_directory(directory)) {
    if (!wildcard_match("*.BKG", to_upper(f))) continue;
    if (++examined > kMaxBackgroundListed) break;
    std::vector<std::uint8_t> bytes;
    // Marker (2), then 28 bytes up to the title, then the 48-byte title.
    if (!read_file(join_path(directory, f), bytes, kMaxReadBytes)) continue;
    if (bytes.size() < 2 || bin::get_i16(bytes.data()) != kBackgroundFileMarker) continue;
    std::string title;
    if (bytes.size() > 2u + bkg_offset::kTitle) {
      std::size_t avail = std::min<std::size_t>(bkg_offset::kTitleSize, bytes.size() - 2 - bkg_offset::kTitle);
      title = bin::get_text(bytes.data() + 2 + bkg_offset::kTitle, avail);
    }
    out.push_back({f, title});
  }
  std::sort(out.begin(), out.end(),
            [](const BackgroundListing& a, const BackgroundListing& b) { return a.file_name < b.file_name; });
  return out;
}

int load_background(const NuclideSession& s) {
  Platform& ui = *s.ui;
  s.background.count = 0;
  const std::string name = current_name(s);
  if (!name.empty() && !stays_inside(name)) {
    ui.message_box("The Background file name must name a file in its folder:- " + name, "", kMsgError);
    return 0;
  }
  const std::string path = resolve_path(join_path(background_directory(s), name));
  std::vector<std::uint8_t> bytes;
  if (name.empty() || !read_file(path, bytes, kMaxReadBytes)) {
    ui.message_box(c_format("Warning, could not open Background data file:- %s", name.c_str()), "", kMsgWarning);
    return 0;
  }
  BackgroundRecord rec;
  const int status = decode_background_file(bytes, rec);
  if (status == -1) {
    ui.message_box(c_format("%s is not a valid Background File.", name.c_str()), "", kMsgError);
    return 0;
  }
  if (status != 1) {
    ui.message_box("Error Reading Background File", "", kMsgError);
    return 0;
  }
  s.background = rec;
  return 1;
}

int save_background(const NuclideSession& s, const std::string& name, bool store_parameters) {
  Platform& ui = *s.ui;
  const PeakList& list = s.peaks;
  const double live = s.spectrum.header.live_time;
  BackgroundRecord rec;
  int n = 0;
  for (int j = 1; j <= list.count; ++j) {
    if (list.fitted_flag[j] == 0 || !(list.net_area[j] > 0) || !(list.net_area_pct[j] < 100)) continue;
    if (n == kMaxBackgroundPeaks) {
      ui.message_box("Warning, can only save 200 Peaks", " ", kMsgWarning);
      break;
    }
    const double rate = live > 0 ? list.net_area[j] / live : 0;
    rec.energy[n] = static_cast<float>(channel_to_energy(s.spectrum.calibration, list.centre[j]));
    rec.rate[n] = static_cast<float>(rate);
    rec.rate_sigma[n] = static_cast<float>(rate * list.net_area_pct[j] * 0.01);
    ++n;
  }
  rec.count = static_cast<std::int16_t>(n);
  rec.collected = s.spectrum.header.collected;
  assign(rec.file_name, s.flags.current_file);  // the terminator lands at byte 27 at the latest
  assign(rec.title, to_string(s.spectrum.header.title));
  rec.live_time = static_cast<float>(live);

  const std::string path = join_path(background_directory(s), name);
  if (!write_file_atomic(path, encode_background_file(rec))) {
    ui.message_box(c_format("Could not Create Background file %s", name.c_str()), "", kMsgError);
    return 0;
  }
  s.params.background_cps_subtraction = 1;
  s.flags.background_name = name;
  assign(s.params.background_file, name);
  if (!load_background(s)) return 0;
  ui.message_box(c_format("Background data file:- %s saved", name.c_str()), "", kMsgOk);
  if (store_parameters) s.hooks.save_parameters();
  return 1;
}

int save_analysed_background(const NuclideSession& s, const std::string& name, bool store_parameters) {
  if (!s.peaks.fitted &&
      s.ui->message_box("Not all the Peaks have been fitted, do you want to Continue?", "", kMsgYesNo) != kAnswerYes)
    return 0;
  return save_background(s, name, store_parameters);
}

int analyse_and_save_background(const NuclideSession& s, const std::string& name, bool store_parameters) {
  DriverState& d = s.fitting;
  d.background_run = true;
  s.ui->set_status("Analysing Background Spectrum");
  s.flags.abort_requested = false;
  run_peak_search(s);
  bool ok = !s.flags.abort_requested && !s.ui->abort_requested();
  if (ok) ok = fit_all_remaining_peaks(s) == 1;
  int result = 0;
  if (ok)
    result = save_background(s, name, store_parameters);
  else
    s.ui->message_box("Background save aborted", "", kMsgOk);
  d.background_run = false;
  return result;
}


}  // namespace kestrim
