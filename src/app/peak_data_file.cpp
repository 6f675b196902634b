#include "app/peak_data_file.h"

#include <algorithm>

#include "app/state.h"
#include "platform/binio.h"
#include "platform/files.h"
#include "spectrum/formats.h"

namespace kestrim {

namespace {

constexpr int kNameOffset = 4;
constexpr int kNameSize = 32;
constexpr int kCountOffset = 36;

std::size_t array_offset(int array) {
  return static_cast<std::size_t>(kPeakDataHeader) + static_cast<std::size_t>(array) * kPeakDataEntries * 4;
}

// Applies `f(array, entry_bytes, peak)` to every stored value.
template <typename F>
void for_each_entry(int count, F&& f) {
  for (int a = 0; a < kPeakDataArrays; ++a)
    for (int k = 1; k <= count; ++k) f(a, k);
}

}  // namespace

std::vector<std::uint8_t> encode_peak_data(const PeakList& p, const std::string& file_name) {
  std::vector<std::uint8_t> out(kPeakDataSize, 0);
  bin::put_i32(out.data(), -1);
  bin::put_text(out.data() + kNameOffset, kNameSize, file_name);
  const int count = std::clamp(p.count, 0, kPeakDataEntries);
  bin::put_i32(out.data() + kCountOffset, count);
  for_each_entry(count, [&](int a, int k) {
    std::uint8_t* at = out.data() + array_offset(a) + static_cast<std::size_t>(k - 1) * 4;
    switch (a) {
      case 0: bin::put_f32(at, p.centre[k]); break;
      case 1: bin::put_i32(at, p.centre_channel[k]); break;
      case 2: bin::put_i32(at, p.fit_start[k]); break;
      case 3: bin::put_i32(at, p.fit_end[k]); break;
      case 4: bin::put_i32(at, p.window_start[k]); break;
      case 5: bin::put_i32(at, p.window_end[k]); break;
      case 6: bin::put_i32(at, p.region_choice[k]); break;
      case 7: bin::put_f32(at, p.significance[k]); break;
      case 8: bin::put_f32(at, p.net_area[k]); break;
      case 9: bin::put_f32(at, p.net_area_pct[k]); break;
      case 10: bin::put_f32(at, p.gps[k]); break;
      case 11: bin::put_f32(at, p.gps_pct[k]); break;
      case 12: bin::put_f32(at, p.fwhm_kev[k]); break;
      case 13: bin::put_f32(at, p.goodness[k]); break;
      case 14: bin::put_i32(at, p.library_confirmed[k]); break;
      case 15: bin::put_i32(at, p.unconditional[k]); break;
      default: break;
    }
  });
  return out;
}

int decode_peak_data(const std::vector<std::uint8_t>& bytes, const std::string& file_name,
                     PeakList& p) {
  if (bytes.size() < static_cast<std::size_t>(kPeakDataHeader)) return 0;
  if (bin::get_i32(bytes.data()) != -1) return 0;
  if (!iequals(bin::get_text(bytes.data() + kNameOffset, kNameSize), file_name)) return 0;
  const int count = bin::get_i32(bytes.data() + kCountOffset);
  if (count < 0 || count > kPeakDataEntries || bytes.size() < static_cast<std::size_t>(kPeakDataSize)) {
    p.count = 0;
    return 0;
  }
  PeakList fresh;
  fresh.aux = p.aux;
  fresh.aux_count = p.aux_count;
  for_each_entry(count, [&](int a, int k) {
    const std::uint8_t* at = bytes.data() + array_offset(a) + static_cast<std::size_t>(k - 1) * 4;
    switch (a) {
      case 0: fresh.centre[k] = bin::get_f32(at); break;
      case 1: fresh.centre_channel[k] = bin::get_i32(at); break;
      case 2: fresh.fit_start[k] = bin::get_i32(at); break;
      case 3: fresh.fit_end[k] = bin::get_i32(at); break;
      case 4: fresh.window_start[k] = bin::get_i32(at); break;
      case 5: fresh.window_end[k] = bin::get_i32(at); break;
      case 6: fresh.region_choice[k] = bin::get_i32(at); break;
      case 7: fresh.significance[k] = bin::get_f32(at); break;
      case 8: fresh.net_area[k] = bin::get_f32(at); break;
      case 9: fresh.net_area_pct[k] = bin::get_f32(at); break;
      case 10: fresh.gps[k] = bin::get_f32(at); break;
      case 11: fresh.gps_pct[k] = bin::get_f32(at); break;
      case 12: fresh.fwhm_kev[k] = bin::get_f32(at); break;
      case 13: fresh.goodness[k] = bin::get_f32(at); break;
      case 14: fresh.library_confirmed[k] = bin::get_i32(at); break;
      case 15: fresh.unconditional[k] = bin::get_i32(at); break;
      default: break;
    }
  });
  fresh.count = count;
  fresh.fitted = true;
  fresh.fit_enabled = true;
  p = fresh;
  return 1;
}

int write_peak_data(State& state) {
  std::vector<std::uint8_t> bytes = encode_peak_data(state.peaks, state.app.current_file);
  return write_file_atomic(join_path(state.paths.working_dir, kPeakDataFile), bytes) ? 1 : 0;
}

void restore_peak_data(State& state) {
  const int type = state.app.spectrum_type;
  if (type == kSpectrumTypeAcquired) return;
  if (type == 6 && state.params.ignore_header_data != 0) return;
  std::vector<std::uint8_t> bytes;
  if (!read_file(resolve_path(join_path(state.paths.working_dir, kPeakDataFile)), bytes,
                 kPeakDataSize + 4096))
    return;
  if (!decode_peak_data(bytes, state.app.current_file, state.peaks)) state.peaks.count = 0;
}

}  // namespace kestrim
