#include "database/sample_columns.h"

#include <cmath>
#include <functional>

#include "platform/fixed_text.h"
#include "platform/text_encoding.h"
#include "reports/report_session.h"
#include "spectrum/spectrum_record.h"

namespace kestrim {
namespace {

constexpr std::string_view kKnownColumns[] = {
    "Filename",     "ID",           "Version",      "AnlDate",     "AnlTime",      "Title",
    "SamLocat",     "SamID",        "SamType",      "SampleNum",   "User",         "DetNum",
    "GeomNum",      "LiveTime",     "TrueTime",     "DeadTime",    "SampleDate",   "SampleTime",
    "CollectDate",  "CollectTime",  "SaveDate",     "SaveTime",    "DecayDays",    "DecayMins",
    "SampleSize",   "SizeUnits",    "GeomDesc",     "DetectorFile", "EnergyDate",  "EnergyTime",
    "ShapeDate",    "ShapeTime",    "EffDate",      "EffTime",     "ActivityUnits", "OrtecUnits",
    "CalibUncert",  "SampleUncert", "PeaksLib",     "BkgFile",     "BkgDesc",      "BkgDate",
    "BkgTime",      "BkgSpec",      "AnlLibrary",   "LODLibrary",  "EnergyTol",    "FitSigma",
    "ActSigma",     "LODSigma",     "MainPeakOnly", "UseCalUncert", "AreaBySum",   "RoundActs",
    "InterpolatedEff", "SampleWht", "WeightUnits",  "GoemCorr",    "GoemCorrFile", "DensCorr",
};

// The spectrum type of Canberra Genie_PC files.
constexpr int kGenieSpectrumType = 6;

// The text up to its first NUL.
template <std::size_t N>
std::string text_of(const FixedText<N>& t) {
  std::string s(t.begin(), t.end());
  return s.substr(0, s.find('\0'));
}

ColumnValue text(std::string value, int size) {
  ColumnValue v;
  v.kind = ColumnKind::kText;
  v.size = size;
  if (value.size() > static_cast<std::size_t>(size)) value.resize(static_cast<std::size_t>(size));
  v.text = text_as_utf8(value);
  return v;
}

ColumnValue integer(long value) {
  ColumnValue v;
  v.kind = ColumnKind::kInteger;
  v.integer = static_cast<std::int32_t>(value);
  return v;
}

ColumnValue small(int value) {
  ColumnValue v;
  v.kind = ColumnKind::kSmallInt;
  v.integer = value;
  return v;
}

ColumnValue real(double value) {
  ColumnValue v;
  v.kind = ColumnKind::kReal;
  v.real = std::isfinite(value) ? static_cast<float>(value) : 0.0f;
  return v;
}

bool valid_date(int day, int month, int year) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
         day <= days_in_month(month, year);
}

ColumnValue date(int day, int month, int year) {
  ColumnValue v;
  v.kind = ColumnKind::kDate;
  v.when.day = static_cast<std::int16_t>(day);
  v.when.month = static_cast<std::int16_t>(month);
  v.when.year = static_cast<std::int16_t>(year);
  v.null = !valid_date(day, month, year);
  return v;
}

// A time goes with its date: without a valid date it is not set either.
ColumnValue time(int hour, int minute, bool date_set, int second = 0) {
  ColumnValue v;
  v.kind = ColumnKind::kTime;
  v.when.hour = static_cast<std::int16_t>(hour);
  v.when.minute = static_cast<std::int16_t>(minute);
  v.second = second;
  v.null = !date_set || hour < 0 || hour > 23 || minute < 0 || minute > 59;
  return v;
}

ColumnValue date_of(const DateTime& d) { return date(d.day, d.month, d.year); }
ColumnValue time_of(const DateTime& d) { return time(d.hour, d.minute, valid_date(d.day, d.month, d.year)); }
ColumnValue cal_date(const CalDate& d) { return date(d.day, d.month, d.year); }
ColumnValue cal_time(const CalDate& d, const CalTime& t) {
  return time(t.hour, t.minute, valid_date(d.day, d.month, d.year));
}

// Minutes from the sample date (decay reference) to the collection.
long decay_minutes(const SpectrumHeader& h) {
  return std::lround(minutes_since_1900(h.collected) - minutes_since_1900(h.sampled));
}

}  // namespace

int known_sample_column_count() { return static_cast<int>(std::size(kKnownColumns)); }

std::string_view known_sample_column(int i) { return kKnownColumns[i]; }

bool is_known_sample_column(std::string_view name) {
  for (std::string_view k : kKnownColumns)
    if (k == name) return true;
  return false;
}

ColumnValue sample_column_value(std::string_view name, const ReportSession& s, std::int32_t sample_id,
                                const DateTime& now, int now_second) {
  const SpectrumHeader& h = s.spectrum.header;
  const CalibrationRecord& cal = s.spectrum.calibration;
  const AnalysisParameters& p = s.params;
  const std::string description = header_description(h);
  if (name == "Filename") return text(s.flags.current_file, 32);
  if (name == "ID") return integer(sample_id);
  if (name == "Version") return text(s.flags.version, 32);
  if (name == "AnlDate") return date_of(now);
  if (name == "AnlTime") return time(now.hour, now.minute, true, now_second);
  if (name == "Title") {
    if (description.empty()) return text(text_of(h.title), 48);
    return text(header_title(h) + " " + description, 48);
  }
  if (name == "SamLocat") return text(text_of(h.location), 32);
  if (name == "SamID") return text(text_of(h.sample_id), 16);
  if (name == "SamType") {
    const std::string type = text_of(h.sample_type);
    if (type.empty()) return text(description, 24);
    return text(type, 16);
  }
  if (name == "SampleNum") return integer(h.sample_number);
  if (name == "User") return text(text_of(h.user), 24);
  if (name == "DetNum") return small(h.detector);
  if (name == "GeomNum") return small(h.geometry);
  if (name == "LiveTime") return real(h.live_time);
  if (name == "TrueTime") return real(h.true_time);
  if (name == "DeadTime")
    return real(h.true_time > 0 ? (static_cast<double>(h.true_time) - h.live_time) * 100.0 / h.true_time
                                : 0.0);
  if (name == "SampleDate") return date_of(h.sampled);
  if (name == "SampleTime") return time_of(h.sampled);
  if (name == "CollectDate") return date_of(h.collected);
  if (name == "CollectTime") return time_of(h.collected);
  if (name == "SaveDate") return date_of(h.saved);
  if (name == "SaveTime") return time_of(h.saved);
  if (name == "DecayDays") return integer(decay_minutes(h) / 1440);
  if (name == "DecayMins") return integer(decay_minutes(h) % 1440);
  if (name == "SampleSize") return real(h.sample_size);
  if (name == "SizeUnits") {
    if (s.flags.spectrum_type == kGenieSpectrumType && p.ignore_header_data == 0)
      return text(text_of(h.instrument), 14);
    return text(text_of(h.units), 4);
  }
  if (name == "GeomDesc") return text(text_of(cal.geometry_text), 40);
  if (name == "DetectorFile") return small(h.detector_file);
  if (name == "EnergyDate") return cal_date(cal.energy_date);
  if (name == "EnergyTime") return cal_time(cal.energy_date, cal.energy_time);
  // Without a shape calibration date the energy calibration's stands.
  const bool shape_set = cal.shape_date.day != 0;
  if (name == "ShapeDate") return cal_date(shape_set ? cal.shape_date : cal.energy_date);
  if (name == "ShapeTime")
    return shape_set ? cal_time(cal.shape_date, cal.shape_time) : cal_time(cal.energy_date, cal.energy_time);
  if (name == "EffDate") return cal_date(cal.efficiency_date);
  if (name == "EffTime") return cal_time(cal.efficiency_date, cal.efficiency_time);
  if (name == "ActivityUnits") return text(text_of(p.activity_unit).substr(0, 4), 8);
  if (name == "OrtecUnits") return text(text_of(h.instrument), 16);
  if (name == "CalibUncert") return real(cal.uncertainty);
  if (name == "SampleUncert") return real(h.sampling_uncertainty);
  if (name == "PeaksLib") return text(text_of(p.peak_search_library), 32);
  if (name == "BkgFile") {
    if (p.background_from_spectrum_file != 0) return text("Spectrum data file", 32);
    return text(text_of(p.background_file), 32);
  }
  if (name == "BkgDesc") return text(text_of(s.background.title), 48);
  if (name == "BkgDate") return date_of(s.background.collected);
  if (name == "BkgTime") return time_of(s.background.collected);
  if (name == "BkgSpec") return text(text_of(s.background.file_name), 32);
  if (name == "AnlLibrary") return text(text_of(p.analysis_library), 32);
  if (name == "LODLibrary") return text(text_of(p.lod_library), 32);
  if (name == "EnergyTol") return real(p.energy_tolerance);
  if (name == "FitSigma") return real(p.peak_sigma);
  if (name == "ActSigma") return real(p.activity_sigma);
  if (name == "LODSigma") return real(p.lod_sigma);
  if (name == "MainPeakOnly") return small(p.principal_peak_only);
  if (name == "UseCalUncert") return small(p.include_calibration_uncertainty);
  if (name == "AreaBySum") return small(p.area_by_summation);
  if (name == "RoundActs") return small(p.round_activities);
  if (name == "InterpolatedEff") return small(p.interpolated_efficiency);
  // SampleWht, WeightUnits, GoemCorr, GoemCorrFile, DensCorr and unknown names.
  ColumnValue none;
  none.null = true;
  return none;
}

}  // namespace kestrim
