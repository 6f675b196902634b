// ANSI N42.42 XML spectra (type 15), both schemas:
//   2006: N42InstrumentData > Measurement > [DetectorData >] ... > Spectrum
//         Spectrum children: StartTime, RealTime, LiveTime (xs:duration),
//         Calibration Type="Energy" > Equation > Coefficients (or
//         CalibrationIDs naming a Calibration ID elsewhere), ChannelData
//         (attribute Compression="CountedZeroes"; values possibly in a
//         nested Data element).
//   2012: RadInstrumentData > RadMeasurement (StartDateTime,
//         RealTimeDuration, MeasurementClassCode) > Spectrum
//         (LiveTimeDuration, ChannelData compressionCode="CountedZeroes";
//         attribute energyCalibrationReference naming an EnergyCalibration
//         id with CoefficientValues "c0 c1 c2").
//   Energy polynomials beyond the quadratic (cubic ones are common) are
//   replaced by the closest quadratic over the spectrum's channels.
// (Element layouts from the N42.42 schemas as used by SpecUtils
// SpecFile_n42.cpp and the NIST N42 schematron.)
//
// Real files put several elements on one line, carry attributes and
// namespace prefixes, so the file is parsed as XML with pugixml (already a
// dependency of Kestrim, small, reads from memory without a DOM-wide copy
// of the text, and has no network or entity expansion features to turn off)
// and elements are matched by their local name.
//
// Several gamma spectra in one file are read as one: the counts of all
// spectra of the first spectrum's length are summed; within one time slice
// (same measurement element and start time: detectors measured together)
// the live and true times are averaged, and the slices' times are summed.
// Background spectra are left out when a foreground one is present.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <pugixml.hpp>

#include "platform/platform.h"
#include "spectrum/readers/reader_support.h"
#include "spectrum/readers/readers.h"

namespace kestrim::readers {

namespace {
// A declared run of zeros longer than this is a damaged file, not data.
constexpr std::size_t kMaxN42Channels = 65536;
// All spectra of one file together hold at most this many values (a few
// hundred 16384-channel spectra); a small hostile file cannot make the
// reader expand its zero runs into gigabytes.
constexpr std::size_t kMaxN42Values = 8u << 20;
// Some writers store tiny denormals for zero in CountedZeroes data.
constexpr double kZeroBelow = 2.0 * 1.17549435e-38;

std::string_view local_name(const pugi::xml_node& n) {
  std::string_view name = n.name();
  std::size_t colon = name.rfind(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

pugi::xml_node child_named(const pugi::xml_node& parent, std::string_view name) {
  for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element && local_name(c) == name) return c;
  return {};
}

std::string_view attribute_ci(const pugi::xml_node& n, std::string_view name) {
  for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute()) {
    std::string_view an = a.name();
    std::size_t colon = an.rfind(':');
    if (colon != std::string_view::npos) an = an.substr(colon + 1);
    if (an.size() == name.size() && starts_with_ci(an, name)) return a.value();
  }
  return {};
}

void collect(const pugi::xml_node& n, std::string_view name, std::vector<pugi::xml_node>& out) {
  for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling()) {
    if (c.type() != pugi::node_element) continue;
    if (local_name(c) == name) out.push_back(c);
    collect(c, name, out);
  }
}

std::string_view text_of(const pugi::xml_node& n) { return trim(n.child_value()); }

// Look-ups that would otherwise rescan the document for every spectrum
// (files of many measurements would take time quadratic in their count):
// elements by id, the calibrations, and the first child of each name of the
// elements a spectrum inherits values from, each found in one pass.
class DocumentIndex {
 public:
  explicit DocumentIndex(const pugi::xml_node& root) { walk(root); }

  // The first element of that local name whose id attribute is `id`.
  pugi::xml_node by_id(std::string_view element, std::string_view id) const {
    auto it = ids_.find({std::string(element), std::string(id)});
    return it == ids_.end() ? pugi::xml_node() : it->second;
  }
  const std::vector<pugi::xml_node>& calibrations() const { return calibrations_; }

  // The first element child of `n` with that local name (indexed on first use).
  pugi::xml_node child(const pugi::xml_node& n, std::string_view name) {
    auto [it, added] = children_.try_emplace(n.internal_object());
    if (added) {
      for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element) it->second.try_emplace(std::string(local_name(c)), c);
    }
    auto found = it->second.find(std::string(name));
    return found == it->second.end() ? pugi::xml_node() : found->second;
  }

 private:
  void walk(const pugi::xml_node& n) {
    for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling()) {
      if (c.type() != pugi::node_element) continue;
      const std::string name(local_name(c));
      if (name == "Calibration") calibrations_.push_back(c);
      std::string_view id = attribute_ci(c, "id");
      if (!id.empty()) ids_.try_emplace({name, std::string(id)}, c);
      walk(c);
    }
  }

  std::map<std::pair<std::string, std::string>, pugi::xml_node> ids_;
  std::vector<pugi::xml_node> calibrations_;
  std::map<const void*, std::map<std::string, pugi::xml_node>> children_;
};

std::vector<double> numbers(std::string_view text) {
  std::vector<double> out;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    std::size_t j = i;
    while (j < text.size() && !std::isspace(static_cast<unsigned char>(text[j]))) ++j;
    if (j > i) {
      double v = 0;
      if (!scan_double(text.substr(i, j - i), v)) break;
      out.push_back(v);
    }
    i = j;
  }
  return out;
}

// ChannelData: plain values, or CountedZeroes pairs "0 n" for n zeros.
bool channel_data(const pugi::xml_node& cd, std::vector<double>& out, std::size_t& budget) {
  pugi::xml_node data = child_named(cd, "Data");
  std::string_view text = text_of(data ? data : cd);
  std::string_view code = attribute_ci(cd, "compressionCode");
  if (code.empty()) code = attribute_ci(cd, "Compression");
  if (code.empty() && data) code = attribute_ci(data, "Compression");
  std::vector<double> values = numbers(text);
  bool counted = starts_with_ci(code, "CountedZero");
  out.clear();
  for (std::size_t i = 0; i < values.size(); ++i) {
    double v = values[i];
    if (counted && std::fabs(v) < kZeroBelow) {
      if (i + 1 >= values.size()) break;
      double n = values[++i];
      if (!(n >= 0) || out.size() + n > kMaxN42Channels || out.size() + n > budget) return false;
      out.insert(out.end(), static_cast<std::size_t>(n), 0.0);
    } else {
      out.push_back(v);
    }
    if (out.size() > kMaxN42Channels || out.size() > budget) return false;
  }
  budget -= out.size();
  return !out.empty();
}

}  // namespace

// xs:duration "P[nD][T[nH][nM][nS]]", or a plain number of seconds.
double n42_duration(std::string_view text) {
  text = trim(text);
  double v = 0;
  if (text.empty()) return 0;
  if (text.front() != 'P' && text.front() != 'p') return scan_double(text, v) ? v : 0;
  double total = 0;
  bool in_time = false;
  std::size_t i = 1;
  while (i < text.size()) {
    if (text[i] == 'T' || text[i] == 't') {
      in_time = true;
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < text.size() && (std::isdigit(static_cast<unsigned char>(text[j])) || text[j] == '.')) ++j;
    if (j == i || j >= text.size() || !scan_double(text.substr(i, j - i), v)) return total;
    char unit = static_cast<char>(std::toupper(static_cast<unsigned char>(text[j])));
    if (unit == 'D') total += v * 86400;
    else if (unit == 'H' && in_time) total += v * 3600;
    else if (unit == 'M' && in_time) total += v * 60;
    else if (unit == 'S' && in_time) total += v;
    i = j + 1;
  }
  return total;
}

// xs:dateTime "YYYY-MM-DDThh:mm[:ss...]".
bool n42_date_time(std::string_view text, DateTime& out) {
  text = trim(text);
  long y = 0, mo = 0, d = 0, h = 0, mi = 0;
  if (text.size() < 10 || text[4] != '-' || text[7] != '-' || !scan_long(text.substr(0, 4), y) ||
      !scan_long(text.substr(5, 2), mo) || !scan_long(text.substr(8, 2), d))
    return false;
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || y < 1 || y > 9999) return false;
  if (text.size() >= 16 && (text[10] == 'T' || text[10] == ' ')) {
    if (!scan_long(text.substr(11, 2), h) || !scan_long(text.substr(14, 2), mi) || h > 23 || mi > 59) h = mi = 0;
  }
  out = DateTime{};
  out.year = static_cast<std::int16_t>(y);
  out.month = static_cast<std::int16_t>(mo);
  out.day = static_cast<std::int16_t>(d);
  out.hour = static_cast<std::int16_t>(h);
  out.minute = static_cast<std::int16_t>(mi);
  return true;
}

namespace {
struct FoundSpectrum {
  std::vector<double> counts;
  double live = 0, real = 0;
  std::string start;  // as written
  const void* slice = nullptr;
  bool background = false;
  std::vector<double> energy;  // coefficients, keV
};

// The nearest enclosing element that stands for one measurement.
pugi::xml_node measurement_of(pugi::xml_node n) {
  for (n = n.parent(); n; n = n.parent()) {
    std::string_view name = local_name(n);
    if (name == "RadMeasurement" || name == "DetectorData" || name == "Measurement") return n;
  }
  return {};
}

// A child value of the spectrum or, failing that, of its ancestors.
std::string_view inherited(DocumentIndex& index, const pugi::xml_node& spectrum,
                           std::initializer_list<std::string_view> names) {
  for (pugi::xml_node n = spectrum; n; n = n.parent()) {
    for (std::string_view name : names) {
      pugi::xml_node c = index.child(n, name);
      if (c) return text_of(c);
    }
  }
  return {};
}

std::vector<double> energy_coefficients(const DocumentIndex& index, const pugi::xml_node& spectrum) {
  // 2012: a reference to an EnergyCalibration.
  std::string_view ref = attribute_ci(spectrum, "energyCalibrationReference");
  if (!ref.empty()) {
    pugi::xml_node cal = index.by_id("EnergyCalibration", ref);
    if (cal) return numbers(text_of(child_named(cal, "CoefficientValues")));
  }
  // 2006: a Calibration child (or one named by CalibrationIDs) of type Energy.
  std::vector<pugi::xml_node> cals;
  for (pugi::xml_node c = spectrum.first_child(); c; c = c.next_sibling())
    if (local_name(c) == "Calibration") cals.push_back(c);
  std::string_view ids = attribute_ci(spectrum, "CalibrationIDs");
  if (!ids.empty()) {
    for (const pugi::xml_node& c : index.calibrations()) {
      std::string_view id = attribute_ci(c, "ID");
      if (!id.empty() && ids.find(id) != std::string_view::npos) cals.push_back(c);
    }
  }
  for (const pugi::xml_node& c : cals) {
    std::string_view type = attribute_ci(c, "Type");
    if (!type.empty() && !starts_with_ci(type, "Energy")) continue;
    pugi::xml_node eq = child_named(c, "Equation");
    if (eq) {
      std::string_view model = attribute_ci(eq, "Model");
      if (!model.empty() && !starts_with_ci(model, "Polynomial")) continue;
    }
    std::vector<double> k = numbers(text_of(child_named(eq ? eq : c, "Coefficients")));
    std::string_view units = attribute_ci(c, "EnergyUnits");
    double scale = starts_with_ci(units, "MeV") ? 1000.0 : starts_with_ci(units, "eV") ? 0.001 : 1.0;
    for (double& v : k) v *= scale;
    if (!k.empty()) return k;
  }
  return {};
}

bool is_neutron(const DocumentIndex& index, const pugi::xml_node& spectrum) {
  std::string_view ref = attribute_ci(spectrum, "radDetectorInformationReference");
  if (!ref.empty()) {
    pugi::xml_node info = index.by_id("RadDetectorInformation", ref);
    if (info && starts_with_ci(text_of(child_named(info, "RadDetectorCategoryCode")), "Neutron")) return true;
  }
  for (pugi::xml_node n = spectrum.parent(); n; n = n.parent())
    if (local_name(n) == "DetectorMeasurement" && starts_with_ci(attribute_ci(n, "DetectorType"), "Neutron"))
      return true;
  return false;
}

bool is_background(DocumentIndex& index, const pugi::xml_node& spectrum) {
  std::string_view cls = inherited(index, spectrum, {"MeasurementClassCode", "SourceType"});
  return starts_with_ci(cls, "Background") || starts_with_ci(cls, "IntrinsicActivity");
}
}  // namespace

int probe_n42(const Bytes& b) { return probe_by_reading(read_n42, b); }

int read_n42(const Bytes& b, SpectrumRecord& rec, const ReaderOptions& options, Platform& ui) {
  pugi::xml_document doc;
  pugi::xml_parse_result parsed = doc.load_buffer(b.data(), b.size(), pugi::parse_default);
  std::vector<FoundSpectrum> found;
  if (parsed) {
    std::vector<pugi::xml_node> spectra;
    collect(doc, "Spectrum", spectra);
    DocumentIndex index(doc);
    std::size_t budget = kMaxN42Values;
    for (const pugi::xml_node& s : spectra) {
      pugi::xml_node cd = child_named(s, "ChannelData");
      if (!cd || is_neutron(index, s)) continue;
      FoundSpectrum f;
      if (!channel_data(cd, f.counts, budget)) continue;
      std::string_view live = text_of(child_named(s, "LiveTime"));
      if (live.empty()) live = text_of(child_named(s, "LiveTimeDuration"));
      std::string_view real = text_of(child_named(s, "RealTime"));
      if (real.empty()) real = inherited(index, s, {"RealTimeDuration", "SampleRealTime"});
      f.live = n42_duration(live);
      f.real = n42_duration(real);
      f.start = std::string(inherited(index, s, {"StartTime", "StartDateTime"}));
      f.slice = measurement_of(s).internal_object();
      f.background = is_background(index, s);
      f.energy = energy_coefficients(index, s);
      found.push_back(std::move(f));
    }
    if (!options.ignore_header) {
      std::vector<pugi::xml_node> remarks;
      collect(doc, "Remark", remarks);
      for (const pugi::xml_node& r : remarks) {
        std::string_view t = text_of(r);
        if (starts_with_ci(t, "Title:")) {
          set_title_text(rec, trim(t.substr(6)));
          break;
        }
      }
    }
  }
  bool any_foreground = std::any_of(found.begin(), found.end(), [](const FoundSpectrum& f) { return !f.background; });
  if (any_foreground)
    found.erase(std::remove_if(found.begin(), found.end(), [](const FoundSpectrum& f) { return f.background; }),
                found.end());
  if (found.empty()) {
    warn(ui, "Did not find channel data");
    return -1;
  }

  const std::size_t length = found.front().counts.size();
  std::vector<double> sum(length, 0.0);
  struct Slice { double live = 0, real = 0; int n = 0; };
  std::map<std::pair<const void*, std::string>, Slice> slices;
  int combined = 0, skipped = 0;
  for (const FoundSpectrum& f : found) {
    if (f.counts.size() != length) {
      ++skipped;
      continue;
    }
    for (std::size_t i = 0; i < length; ++i) sum[i] += f.counts[i];
    Slice& s = slices[{f.slice, f.start}];
    s.live += f.live;
    s.real += f.real;
    ++s.n;
    ++combined;
  }
  if (skipped)
    rec.warnings.push_back(std::to_string(skipped) + " spectra of another length than " + std::to_string(length) +
                           " channels left out");
  double live = 0, real = 0;
  for (const auto& [key, s] : slices) {
    live += s.live / s.n;
    real += s.real / s.n;
  }
  rec.combined_spectra = combined;
  rec.header.live_time = static_cast<float>(live);
  rec.header.true_time = static_cast<float>(std::max(real, live));

  DateTime start;
  if (n42_date_time(found.front().start, start)) set_collected_and_sampled(rec, start);
  const std::vector<double>& k = found.front().energy;
  if (take_file_calibration(rec, options)) {
    if (k.size() >= 2 && k[1] != 0) {
      bool higher = false;
      for (std::size_t i = 3; i < k.size(); ++i) higher = higher || k[i] != 0;
      if (higher) {
        rec.warnings.push_back("Energy terms beyond the quadratic replaced by the closest quadratic");
        const std::array<double, 3> q = closest_quadratic(k, static_cast<long>(length));
        set_energy_calibration(rec, q[0], q[1], q[2], 3, start);
      } else {
        const int terms = k.size() >= 3 ? 3 : 2;
        set_energy_calibration(rec, k[0], k[1], terms == 3 ? k[2] : 0.0, terms, start);
      }
    } else {
      rec.warnings.push_back("The file has no polynomial energy calibration");
    }
  }
  std::size_t stored = std::min<std::size_t>(length, kMaxChannelsStored);
  for (std::size_t i = 0; i < stored; ++i) rec.counts[i] = static_cast<float>(sum[i]);
  set_channel_count(rec, static_cast<long>(length));
  return 1;
}

}  // namespace kestrim::readers
