#include "spectrum/calibration_record.h"

#include <cstring>

#include "platform/binio.h"

namespace kestrim {

namespace {
template <std::size_t N>
void get_reals(const std::uint8_t* p, std::array<float, N>& a) {
  for (std::size_t i = 0; i < N; ++i) a[i] = bin::get_f32(p + 4 * i);
}
template <std::size_t N>
void put_reals(std::uint8_t* p, const std::array<float, N>& a) {
  for (std::size_t i = 0; i < N; ++i) bin::put_f32(p + 4 * i, a[i]);
}
void get_date(const std::uint8_t* p, CalDate& d) {
  d.day = bin::get_i16(p);
  d.month = bin::get_i16(p + 2);
  d.year = bin::get_i16(p + 4);
}
void put_date(std::uint8_t* p, const CalDate& d) {
  bin::put_i16(p, d.day);
  bin::put_i16(p + 2, d.month);
  bin::put_i16(p + 4, d.year);
}
void get_time(const std::uint8_t* p, CalTime& t) {
  t.hour = bin::get_i16(p);
  t.minute = bin::get_i16(p + 2);
}
void put_time(std::uint8_t* p, const CalTime& t) {
  bin::put_i16(p, t.hour);
  bin::put_i16(p + 2, t.minute);
}
}  // namespace

void decode_calibration_record(const std::uint8_t* b, CalibrationRecord& r) {
  using namespace cal_offset;
  r.energy_terms = bin::get_f32(b + kEnergyTerms);
  get_reals(b + kEnergyCoeffs, r.energy);
  r.width_terms = bin::get_f32(b + kWidthTerms);
  get_reals(b + kWidthCoeffs, r.width);
  r.low_tail_terms = bin::get_f32(b + kLowTailTerms);
  get_reals(b + kLowTailCoeffs, r.low_tail);
  r.high_tail_terms = bin::get_f32(b + kHighTailTerms);
  get_reals(b + kHighTailCoeffs, r.high_tail);
  std::memcpy(r.shape_extra.data(), b + kShapeExtra, r.shape_extra.size());
  r.energy_count = bin::get_f32(b + kEnergyCount);
  get_reals(b + kEnergies, r.energies);
  get_date(b + kEnergyDate, r.energy_date);
  r.energy_form = bin::get_i16(b + kEnergyForm);
  get_time(b + kEnergyTime, r.energy_time);
  r.crossover = bin::get_f32(b + kCrossover);
  r.low_eff_terms = bin::get_f32(b + kLowEffTerms);
  get_reals(b + kLowEffCoeffs, r.low_eff);
  r.high_eff_terms = bin::get_f32(b + kHighEffTerms);
  get_reals(b + kHighEffCoeffs, r.high_eff);
  for (std::size_t i = 0; i < r.variance.size(); ++i)
    r.variance[i] = bin::get_f64(b + kVariance + 8 * i);
  get_date(b + kEfficiencyDate, r.efficiency_date);
  r.inverse_form = bin::get_i16(b + kInverseForm);
  get_time(b + kEfficiencyTime, r.efficiency_time);
  get_fixed(b + kGeometryText, r.geometry_text);
  r.sample_size = bin::get_f32(b + kSampleSize);
  get_fixed(b + kSampleUnits, r.sample_units);
  get_fixed(b + kBackgroundName, r.background_name);
  get_date(b + kShapeDate, r.shape_date);
  r.reserved482 = bin::get_i16(b + kReserved482);
  get_time(b + kShapeTime, r.shape_time);
  std::memcpy(r.energy_extra.data(), b + kEnergyExtra, r.energy_extra.size());
  r.efficiency_max = bin::get_f32(b + kEfficiencyMax);
  r.uncertainty = bin::get_f32(b + kUncertainty);
  r.variance_stored = bin::get_i32(b + kVarianceStored);
}

void encode_calibration_record(const CalibrationRecord& r, std::uint8_t* b) {
  using namespace cal_offset;
  std::memset(b, 0, kCalibrationRecordSize);
  bin::put_f32(b + kEnergyTerms, r.energy_terms);
  put_reals(b + kEnergyCoeffs, r.energy);
  bin::put_f32(b + kWidthTerms, r.width_terms);
  put_reals(b + kWidthCoeffs, r.width);
  bin::put_f32(b + kLowTailTerms, r.low_tail_terms);
  put_reals(b + kLowTailCoeffs, r.low_tail);
  bin::put_f32(b + kHighTailTerms, r.high_tail_terms);
  put_reals(b + kHighTailCoeffs, r.high_tail);
  std::memcpy(b + kShapeExtra, r.shape_extra.data(), r.shape_extra.size());
  bin::put_f32(b + kEnergyCount, r.energy_count);
  put_reals(b + kEnergies, r.energies);
  put_date(b + kEnergyDate, r.energy_date);
  bin::put_i16(b + kEnergyForm, r.energy_form);
  put_time(b + kEnergyTime, r.energy_time);
  bin::put_f32(b + kCrossover, r.crossover);
  bin::put_f32(b + kLowEffTerms, r.low_eff_terms);
  put_reals(b + kLowEffCoeffs, r.low_eff);
  bin::put_f32(b + kHighEffTerms, r.high_eff_terms);
  put_reals(b + kHighEffCoeffs, r.high_eff);
  for (std::size_t i = 0; i < r.variance.size(); ++i)
    bin::put_f64(b + kVariance + 8 * i, r.variance[i]);
  put_date(b + kEfficiencyDate, r.efficiency_date);
  bin::put_i16(b + kInverseForm, r.inverse_form);
  put_time(b + kEfficiencyTime, r.efficiency_time);
  put_fixed(b + kGeometryText, r.geometry_text);
  bin::put_f32(b + kSampleSize, r.sample_size);
  put_fixed(b + kSampleUnits, r.sample_units);
  put_fixed(b + kBackgroundName, r.background_name);
  put_date(b + kShapeDate, r.shape_date);
  bin::put_i16(b + kReserved482, r.reserved482);
  put_time(b + kShapeTime, r.shape_time);
  std::memcpy(b + kEnergyExtra, r.energy_extra.data(), r.energy_extra.size());
  bin::put_f32(b + kEfficiencyMax, r.efficiency_max);
  bin::put_f32(b + kUncertainty, r.uncertainty);
  bin::put_i32(b + kVarianceStored, r.variance_stored);
}

}  // namespace kestrim
