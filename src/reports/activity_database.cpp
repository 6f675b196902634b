#include "reports/activity_database.h"
#include "platform/c_locale.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <locale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <vector>

#include "reports/report_session.h"
#include "nuclides/activity.h"
#include "nuclides/lod.h"
#include "nuclides/quant_common.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/text_encoding.h"
#include "platform/c_format.h"
#include "reports/main_report.h"
#include "reports/reference_report.h"
#include "reports/row_format.h"
#include "reports/template_engine.h"
#include "reports/template_reports.h"
#include "settings/calibration_functions.h"

namespace kestrim {

namespace {

// A CSV text field: quotes around it and each quote inside doubled.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace
namespace {

// Column names of the value tokens that have one.
struct ColumnName {
  const char* token;
  const char* name;
};
constexpr ColumnName kColumnNames[] = {
    {"DNOW", "Date"},        {"TNOW", "Time"},         {"SPCF", "Filename"},
    {"TITL", "Title"},       {"SAMN", "Sample No."},   {"USER", "User"},
    {"DETN", "Det No."},     {"GEON", "Geom No."},     {"LTIM", "Live Time"},
    {"TTIM", "True Time"},   {"DTIM", "% Dead Time"},  {"DSAV", "Save Date"},
    {"TSAV", "Save Time"},   {"DCOL", "Collect Date"}, {"TCOL", "Collect Time"},
    {"DSAM", "Sample Date"}, {"TSAM", "Sample Time"},  {"DCYD", "Decay Days"},
    {"DCYM", "Decay Mins"},  {"SAMS", "Size"},         {"SAMW", "Weight"},
    {"GEOD", "Geom Desc"},
};

// A number with a two-digit exponent.
std::string num(const char* fmt, double v) { return tidy_exponents(c_format(fmt, v)); }

std::string trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  const auto e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

std::string cut_at_space(const std::string& s) {
  const std::string t = trim(s);
  return t.substr(0, t.find(' '));
}

// The template split into lines (CR LF or LF).
std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    pos = end + 1;
  }
  return lines;
}

class DatabasePass {
 public:
  DatabasePass(const ReportSession& state, const TokenContext& ctx, bool header, std::string* prefix)
      : s_(state), ctx_(ctx), header_(header), prefix_(prefix) {}

  std::string run(const std::string& tpl) {
    lines_ = split_lines(tpl);
    std::size_t i = 0;
    while (i < lines_.size()) i = scan_line(i);
    if (unid_) append_unidentified();
    return line_ + "\r\n";
  }

 private:
  bool full() const { return line_.size() >= kDatabaseLineLimit; }
  bool any_uncertainty() const { return absolute_ || percent_; }

  // Section items: the lines after `i` up to one that holds a '?'.
  std::vector<std::string> items(std::size_t& i) {
    std::vector<std::string> v;
    while (i < lines_.size() && lines_[i].find('?') == std::string::npos) v.push_back(lines_[i++]);
    return v;
  }

  // Scans line i; returns the index of the next line to scan.
  std::size_t scan_line(std::size_t i) {
    const std::string line = lines_[i];
    std::size_t next = i + 1;
    for (std::size_t q = line.find('?'); q != std::string::npos; q = line.find('?', q + 1)) {
      char key[4] = {'\0', '\0', '\0', '\0'};
      for (std::size_t k = 0; k < 4 && q + 1 + k < line.size(); ++k) key[k] = line[q + 1 + k];
      std::string name(key, 4);
      name = to_upper(trim(name.substr(0, name.find('\0'))));
      const Handling h = section(name, next);
      if (h == Handling::kReadLines) return next;
      if (h == Handling::kValue) value_token(key);
    }
    return next;
  }

  // What a token did: nothing (a value token), set a switch or wrote
  // fields, or read the template lines after it (scanning goes on at
  // `next`).
  enum class Handling { kValue, kDone, kReadLines };

  Handling section(const std::string& name, std::size_t& next) {
    if (name == "CORR" || name == "LODS") decay_ = true;
    else if (name == "AERR" || name == "RESU") absolute_ = true;
    else if (name == "%ERR" || name == "CUST") percent_ = true;
    else if (name == "ACTS" || name == "ISO") {
      for (const std::string& it : items(next)) activity_item(it);
      return Handling::kReadLines;
    } else if (name == "GPSD" || (name == "LODR" && s_.params.calculate_lod == 0)) {
      for (const std::string& it : items(next)) gps_item(it);
      return Handling::kReadLines;
    } else if (name == "INT") {
      for (const std::string& it : items(next)) integral_item(it);
      return Handling::kReadLines;
    } else if (name == "FWHM" || name == "CHAN") {
      for (const std::string& it : items(next)) width_item(it, name == "FWHM");
      return Handling::kReadLines;
    } else if (name == "UNID") {
      unid_ = true;
    } else if (name == "COMP") {
      std::string e = next < lines_.size() ? lines_[next++] : "";
      std::string r = next < lines_.size() ? lines_[next++] : "";
      compton(c_atof(e.c_str()), c_atof(r.c_str()));
      return Handling::kReadLines;
    } else if (name == "HEAD") {
      std::string text;
      if (header_ && prefix_ != nullptr && read_template(s_, "header.tpl", text))
        *prefix_ += substitute_template(ctx_, text, "header.tpl", s_.ui);
    } else if (name == "CO_O") {
      co_ordinates();
    } else if (name == "SPEC") {
      reference_columns();
    } else {
      return Handling::kValue;
    }
    return Handling::kDone;
  }

  void value_token(const char key[4]) {
    const TokenEntry* e = sample_tokens().find(key);
    if (e == nullptr) e = parameter_tokens().find(key);
    if (e == nullptr) return;
    TokenValue v = e->value(ctx_);
    const int width = v.width == TokenValue::kUseEntryWidth ? e->width : v.width;
    if (v.kind != TokenValue::Kind::kText || width < 5) return;
    if (full()) return;
    if (header_) {
      std::string column(static_cast<std::size_t>(width), ' ');
      for (const ColumnName& c : kColumnNames)
        if (iequals(c.token, e->name)) column = c.name;
      line_ += quoted(column) + ",";
    } else {
      std::string text = v.text.substr(0, std::min(v.text.size(), static_cast<std::size_t>(width)));
      for (char& c : text)
        if (c == '\0') c = ' ';
      text.resize(static_cast<std::size_t>(width), ' ');
      line_ += quoted(text_as_utf8(text)) + ",";
    }
  }

  // A value and its uncertainty (%) in the ACTS / GPSD layout.
  void value_pair(double value, double percent) {
    line_ += num("%11.4e", value) + ",";
    if (percent_)
      line_ += num("%5.1f", percent) + ",";
    else if (absolute_)
      line_ += num("%9.2e", std::fabs(value) * percent * 0.01) + ",";
  }

  // The references of the last total-spectrum fit whose factor is not 0:
  // activity, its uncertainty (per cent with the percentage switch, else
  // absolute) and the gain shift.
  void reference_columns() {
    if (s_.reference_fit == nullptr) return;
    for (const ReferenceReportRow& r : s_.reference_fit->rows) {
      if (r.factor == 0 || full()) continue;
      if (header_) {
        line_ += quoted(text_as_utf8(r.title)) + ",\"Err\",\"Shift\",";
        continue;
      }
      line_ += num("%11.4e", r.activity_bq) + ",";
      if (percent_)
        line_ += num("%6.2f", r.uncertainty_pct) + ",";
      else
        line_ += num("%11.4e", r.uncertainty_pct * 0.01 * std::fabs(r.activity_bq)) + ",";
      line_ += num("%6.4f", r.shift) + ",";
    }
  }

  void header_pair(const std::string& name) {
    line_ += "\"" + name + "\",";
    if (any_uncertainty()) line_ += "\" \",";
  }

  void activity_item(const std::string& item) {
    if (full()) return;
    if (header_) {
      header_pair(item.substr(0, std::min<std::size_t>(item.size(), 9)));
      return;
    }
    const std::string want = cut_at_space(item);
    double value = 0, percent = 0;
    for (const NuclideResult& r : s_.results.results) {
      if (!iequals(cut_at_space(r.name), want)) continue;
      value = decay_ ? r.decay_corrected : r.activity;
      percent = r.uncertainty;
      break;
    }
    value_pair(value, percent);
  }

  int match_peak(double energy) const { return peak_matching_energy(s_, energy); }

  void gps_item(const std::string& item) {
    if (full()) return;
    if (header_) {
      header_pair(trim(item));
      return;
    }
    const double energy = c_atof(item.c_str());
    const int k = match_peak(energy);
    double value = 0, percent = 0;
    if (k > 0) {
      value = s_.peaks.gps[k];
      percent = s_.peaks.gps_pct[k];
      reported_.insert(k);
    } else if (s_.params.unconditional_library_peaks == 0) {
      value = limit_at_energy(s_, energy, false, s_.params.lod_type, nullptr);
    }
    const SpectrumHeader& h = s_.spectrum.header;
    if (decay_) {
      const int owner = k > 0 ? s_.results.peak_owner[k] : -1;
      if (owner >= 0 && owner < static_cast<int>(s_.library.nuclides.size())) {
        const double spec = specific_activity(value, h.sample_size, h.correction_factor,
                                              s_.params.activity_factor);
        value = decay_correct(spec, s_.results.decay_interval, s_.library.nuclides[owner].half_life,
                              h.true_time);
      }
    } else if (h.sample_size > 0) {
      value /= h.sample_size;
    }
    value_pair(value, percent);
  }

  void integral_item(const std::string& item) {
    if (full()) return;
    long start = 0, stop = 0;
    std::istringstream in(item);
    in.imbue(std::locale::classic());
    in >> start >> stop;
    if (header_) {
      line_ += c_format("\"%ld-%ld\",", start, stop);
      return;
    }
    const long last = static_cast<long>(std::min<std::size_t>(
                          static_cast<std::size_t>(std::max(s_.spectrum.channels(), 0)),
                          s_.spectrum.counts.size())) - 1;
    stop = std::min(stop, last);
    double sum = 0;
    for (long c = std::max(start, 0L); c <= stop; ++c) sum += s_.spectrum.counts[static_cast<std::size_t>(c)];
    line_ += c_format("%3.0f", sum) + ",";
  }

  void width_item(const std::string& item, bool fwhm) {
    if (full()) return;
    if (header_) {
      line_ += fwhm ? "\"FWHM\"," : "\"Chan\",";
      return;
    }
    const int k = match_peak(c_atof(item.c_str()));
    if (k > 0) line_ += fwhm ? c_format("%6.2f", s_.peaks.fwhm_kev[k]) : c_format("%6.1f", s_.peaks.centre[k]);
    line_ += ",";
  }

  void co_ordinates() {
    if (full()) return;
    if (header_) {
      line_ += "\"          \",\"          \",\"          \",\"        \",\" \",";
      return;
    }
    const std::string title = to_string(s_.spectrum.header.title);
    float x = 0, y = 0, z = 0;
    char word[64] = {0};
    c_sscanf(title.c_str(), "%f %f %f %63s", &x, &y, &z, word);
    line_ += c_format("\"%10.3f\",\"%10.3f\",\"%10.3f\",\"%s\",\"%c\",", x, y, z, word,
                      title.find("BKG") != std::string::npos ? 'B' : ' ');
  }

  double region_sum(int a, int b) const {
    const int last = std::min(s_.spectrum.channels(), static_cast<int>(s_.spectrum.counts.size())) - 1;
    double sum = 0;
    for (int c = std::max(a, 0); c <= std::min(b, last); ++c) sum += s_.spectrum.counts[static_cast<std::size_t>(c)];
    return sum;
  }

  // Continuum counts of the channels a to b (rounded, inclusive) less the
  // fitted areas of the peaks whose centres lie strictly inside, scaled to
  // r channels.
  double continuum(double a, double b, double r) const {
    const int first = static_cast<int>(std::lround(a)), last = static_cast<int>(std::lround(b));
    if (last < first) return 0;
    double sum = region_sum(first, last);
    for (int k = 1; k <= s_.peaks.count; ++k)
      if (s_.peaks.centre[k] > a && s_.peaks.centre[k] < b) sum -= s_.peaks.net_area[k];
    return sum * r / (last - first + 1);
  }

  void compton(double energy, double width_kev) {
    if (energy == 0 || width_kev == 0 || full()) return;
    if (header_) {
      line_ += "\"Compton/Peak\",";
      return;
    }
    const int k = match_peak(energy);
    if (k == 0) {
      line_ += "0.0,";
      return;
    }
    const CalibrationRecord& cal = s_.spectrum.calibration;
    const PeakList& p = s_.peaks;
    const double c = p.centre[k];
    const double r = std::fabs(energy_to_channel(cal, energy + width_kev) - energy_to_channel(cal, energy));
    const double w = 5 * width_at_channel(cal, c, calibration_context(s_.spectrum, s_.flags));
    // Above the peak.
    double up_start = c + w;
    for (int j = k + 1; j <= p.count; ++j)
      if (std::fabs(p.centre[j] - up_start) <= w) up_start = p.centre[j] + w;
    double up_end = c + r;
    for (int j = k + 1; j <= p.count; ++j)
      if (std::fabs(p.centre[j] - up_end) <= w) up_end = std::min(up_end, p.centre[j] - w);
    // Below the peak.
    double low_end = c - w;
    for (int j = k - 1; j >= 1; --j)
      if (p.centre[j] + w >= low_end) low_end = std::min(low_end, p.centre[j] - w);
    double low_start = c - r;
    for (int j = k - 1; j >= 1; --j)
      if (std::fabs(p.centre[j] - low_start) <= w) low_start = std::max(low_start, p.centre[j] + w);
    const double upper = continuum(up_start, up_end, r);
    const double lower = continuum(low_start, low_end, r);
    if (p.net_area[k] > 0)
      line_ += num("%11.4e", (lower - upper) / p.net_area[k]) + ",";
    else
      line_ += "0.0,";
  }

  void append_unidentified() {
    if (header_) {
      line_ += "\"Unidentified Energies\"";
      return;
    }
    for (int k = 1; k <= s_.peaks.count; ++k) {
      if (line_.size() >= kDatabaseLineLimit) break;
      if (reported_.count(k) != 0) continue;
      if (s_.results.peak_sum[k] < 0.25 && s_.peaks.net_area[k] > 0)
        line_ += c_format("%3.1f,", peak_energy(s_, k));
    }
  }

  const ReportSession& s_;
  const TokenContext& ctx_;
  bool header_;
  std::string* prefix_;
  std::vector<std::string> lines_;
  std::string line_;
  bool decay_ = false, absolute_ = false, percent_ = false, unid_ = false;
  std::set<int> reported_;
};

// The option words of the custom report.
constexpr const char* kCustomOptions[] = {"ISO", "ENE", "REF", "YIE", "CHA", "FWH", "GFI", "SIG", "STA",
                                          "STO", "ARE", "GPS", "%UN", "ACT", "UNC", "EFF", "CPS"};

struct Word {
  std::string text;
  std::size_t column;
};

std::vector<Word> split_words(const std::string& line) {
  std::vector<Word> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    if (i >= line.size()) break;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ') ++i;
    words.push_back({line.substr(start, i - start), start});
  }
  return words;
}

}  // namespace

std::string database_line(const ReportSession& state, const TokenContext& ctx, const std::string& tpl,
                          bool header_pass, std::string* prefix) {
  DatabasePass pass(state, ctx, header_pass, prefix);
  return pass.run(tpl);
}

std::string database_stem(const ReportSession& state) {
  std::string stem = state.flags.database_path;
  if (stem.empty()) stem = to_string(state.params.database_name);
  if (stem.empty()) stem = "dbase";
  if (stem.front() != '/') stem = join_path(state.paths.working_dir, stem);
  return stem;
}

int update_activity_database(const ReportSession& state) {
  return update_activity_database(
      state, [](const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); });
}

int update_activity_database(const ReportSession& state, const DatabaseOpener& open) {
  // A name from the Defaults file stays in the working folder (the dbase=
  // keyword of a command line may name any place).
  const std::string stored = to_string(state.params.database_name);
  if (state.flags.database_path.empty() && !stored.empty() && !stays_inside(stored)) {
    state.ui->message_box("The database name must be a file in the working folder:- " + stored, {},
                          kMsgError);
    return 0;
  }
  const std::string stem = database_stem(state);
  std::string tpl;
  std::vector<std::uint8_t> bytes;
  const std::string own = resolve_path(stem + ".TPL");
  if (file_exists(own) && read_file(own, bytes, 1u << 20)) {
    tpl.assign(bytes.begin(), bytes.end());
  } else if (!fetch_template(state, "dbase.tpl", tpl)) {
    state.ui->message_box("Could not find the template file:- dbase.tpl");
    return 0;
  }
  const std::string path = resolve_path(stem + ".CSV");
  // A new file is created exclusively (two runs starting together cannot
  // both take it for new and truncate each other's row); an existing one
  // is only appended to.
  std::FILE* f = nullptr;
  bool is_new = false;
  for (;;) {
    errno = 0;
    f = open(path, "wbx");
    if (f != nullptr) {
      is_new = true;
      break;
    }
    if (errno == EEXIST) {
      errno = 0;
      f = open(path, "ab");
      if (f != nullptr) break;
    }
    if (errno != EACCES && errno != EBUSY && errno != ETXTBSY) {
      state.ui->message_box("Could not open database file:- " + path, {}, kMsgError);
      return 0;
    }
    const int answer = state.ui->message_box("The database file is in use by another application", "",
                                             kMsgOkCancel, kAnswerCancel);
    if (answer != kAnswerOk) {
      state.flags.abort_requested = true;
      return 0;
    }
  }
  const int fd = ::fileno(f);
  struct stat st;
  off_t before = ::fstat(fd, &st) == 0 ? st.st_size : -1;
  // A file left (nearly) empty, such as a lone line end, starts again.
  if (!is_new && before >= 0 && before < 3 && ::ftruncate(fd, 0) == 0) {
    is_new = true;
    before = 0;
  }
  TokenContext ctx(state);
  std::string text;
  if (is_new) {
    std::string prefix;
    std::string header = database_line(state, ctx, tpl, true, &prefix);
    text = prefix + header;
  }
  text += database_line(state, ctx, tpl, false, nullptr);
  text = text_as_utf8(text);
  // The whole row or nothing: a failed write (a full disk) is cut back to
  // the file as it was, so that the next run does not append to half a row.
  bool ok = true;
  if (int code = state.paths.write_faults ? state.paths.write_faults->before(path, WriteStep::kAppend) : 0) {
    // As a full disk would: part of the row reaches the file, then the error.
    std::fwrite(text.data(), 1, text.size() / 2, f);
    errno = code;
    ok = false;
  }
  ok = ok && std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = std::fflush(f) == 0 && ok;
  ok = ok && ::fsync(fd) == 0;
  if (!ok && before >= 0) {
    if (::ftruncate(fd, before) != 0) {
      // Nothing more can be done; the message below says the row failed.
    }
  }
  ok = std::fclose(f) == 0 && ok;
  if (!ok) {
    state.ui->message_box("Error writing the database file:- " + path, {}, kMsgError);
    return 0;
  }
  return 1;
}

void custom_report_section(const ReportSession& state, TemplateProcessor& tp, std::string& out) {
  std::string option_line, format_line;
  if (!tp.next_raw_line(option_line)) return;
  std::vector<Word> options;
  for (const Word& w : split_words(option_line.substr(0, std::min<std::size_t>(option_line.size(), 128)))) {
    bool valid = false;
    for (const char* o : kCustomOptions) valid |= iequals(w.text.substr(0, 3), o);
    if (valid)
      options.push_back({to_upper(w.text.substr(0, 3)), w.column});
    else
      out += "The Custom Report option:- '" + w.text + "' was not valid\r\n";
  }
  if (!tp.next_raw_line(format_line)) return;
  std::vector<Word> formats = split_words(format_line);
  for (std::size_t i = 0; i < formats.size(); ++i) {
    if (formats[i].text.find('%') == std::string::npos) {
      out += c_format("The Custom Report format number %d did not contain a %% symbol\r\n",
                      static_cast<int>(i + 1));
      out += format_line + "\r\n";
      return;
    }
  }
  if (options.size() != formats.size()) {
    out += "The number of Custom Report options and formats did not match\r\n";
    out += c_format("There were %d valid options, %d valid formats\r\n", static_cast<int>(options.size()),
                    static_cast<int>(formats.size()));
    return;
  }
  const NuclideResults& res = state.results;
  const PeakList& pk = state.peaks;
  const SpectrumHeader& h = state.spectrum.header;
  const double sigma_ratio =
      state.params.peak_sigma > 0 ? state.params.activity_sigma / state.params.peak_sigma : 1.0;
  for (const NuclideResult* rp : ordered_results(state)) {
    const NuclideResult& r = *rp;
    if (r.library_index < 0) continue;
    const double half_life = r.library_index < static_cast<int>(state.library.nuclides.size())
                                 ? state.library.nuclides[r.library_index].half_life
                                 : 0.0;
    bool first = true;
    for (const IdentifiedLine& l : res.lines) {
      if (l.nuclide < 0 || l.nuclide >= static_cast<int>(res.accepted.size())) continue;
      if (res.accepted[l.nuclide].library_index != r.library_index) continue;
      const int k = l.peak;
      if (k < 1 || k > pk.count) continue;
      double act = l.yield > 0 ? pk.gps[k] / l.yield : 0;
      act = decay_correct(specific_activity(act, h.sample_size, h.correction_factor, state.params.activity_factor),
                          res.decay_interval, half_life, h.true_time);
      std::string row;
      for (std::size_t i = 0; i < options.size(); ++i) {
        if (row.size() < options[i].column) row.resize(options[i].column, ' ');
        const std::string& o = options[i].text;
        RowValue v = 0.0;
        if (o == "ISO") v = first ? r.name : std::string(" ");
        else if (o == "ENE") v = peak_energy(state, k);
        else if (o == "REF") v = l.energy;
        else if (o == "YIE") v = l.yield * 100;
        else if (o == "CHA") v = static_cast<double>(pk.centre[k]);
        else if (o == "FWH") v = static_cast<double>(pk.fwhm_kev[k]);
        else if (o == "GFI") v = static_cast<double>(pk.goodness[k]);
        else if (o == "SIG") v = static_cast<double>(pk.significance[k]);
        else if (o == "STA") v = pk.fit_start[k];
        else if (o == "STO") v = pk.fit_end[k];
        else if (o == "ARE") v = static_cast<double>(pk.net_area[k]);
        else if (o == "GPS") v = static_cast<double>(pk.gps[k]);
        else if (o == "%UN") v = pk.net_area_pct[k] * sigma_ratio;
        else if (o == "ACT") v = act;
        else if (o == "UNC") v = act * 0.01 * pk.net_area_pct[k] * sigma_ratio;
        else if (o == "EFF") v = efficiency_at_energy(state, peak_energy(state, k)) * 100;
        else if (o == "CPS") v = h.live_time > 0 ? pk.net_area[k] / h.live_time : pk.net_area[k];
        row += format_row(formats[i].text, {v});
      }
      out += tidy_exponents(row) + "\r\n";
      first = false;
    }
  }
}

}  // namespace kestrim
