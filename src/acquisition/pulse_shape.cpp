#include "acquisition/pulse_shape.h"

#include <charconv>

#include "platform/c_format.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace kestrim {

namespace {

constexpr int kMinReadings = 5;
constexpr int kBuiltinReadings = 7;
constexpr int kTraceOffset = 32768;
constexpr int kMinSavedHeight = 250;

bool read_text_file(const std::string& path, std::string& text) {
  std::vector<std::uint8_t> bytes;
  if (!read_file(path, bytes)) return false;
  text.assign(bytes.begin(), bytes.end());
  return true;
}

}  // namespace

std::array<int, kShapeValues> builtin_pulse_values() {
  std::array<int, kShapeValues> v{};
  const int body[] = {-20, 20, 150, 550, 300, 150, 50, 0};
  for (int i = 0; i < 8; ++i) v[static_cast<std::size_t>(4 + i)] = body[i];
  return v;
}

void make_coefficients(PulseShape& shape, int& readings) {
  if (shape.count < readings || readings < kMinReadings) readings = kMinReadings;
  if (readings > kMaxReadings) readings = kMaxReadings;
  std::array<int, kShapeValues> v = shape.values;
  for (int i = 0; i + 1 < shape.count && i + 1 < kShapeValues; ++i)
    v[static_cast<std::size_t>(i)] = v[static_cast<std::size_t>(i + 1)] - v[static_cast<std::size_t>(i)];
  int start = shape.count / 2 - readings / 2;
  if (start < 0) start = 0;
  if (start + readings > kShapeValues) start = kShapeValues - readings;
  int sum = 0;
  for (int i = 0; i < readings; ++i) sum += v[static_cast<std::size_t>(start + i)];
  const int mean = sum / readings;
  shape.coefs.fill(0);
  for (int i = 0; i < readings; ++i)
    shape.coefs[static_cast<std::size_t>(i)] = v[static_cast<std::size_t>(start + i)] - mean;
  shape.read = true;
}

int read_pulse_shape(Platform& ui, const std::string& dir, PulseShape& shape, int& readings) {
  const std::string path = join_path(dir, kPulseShapeName);
  std::string text;
  if (!file_exists(path) || !read_text_file(path, text)) {
    if (shape.read) return 0;
    shape.values = builtin_pulse_values();
    shape.count = kShapeValues;
    readings = kBuiltinReadings;
    make_coefficients(shape, readings);
    return 0;
  }
  std::array<long long, kShapeValues> sums{};
  int lines = 0;
  int last_count = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    ++lines;
    int position = 0;
    std::size_t field = 0;
    while (field <= line.size()) {
      std::size_t comma = line.find(',', field);
      if (comma == std::string::npos) comma = line.size();
      std::size_t b = field;
      while (b < comma && (line[b] == ' ' || line[b] == '\t')) ++b;
      int value = 0;
      std::from_chars(line.data() + b, line.data() + comma, value);
      if (position < kShapeValues) sums[static_cast<std::size_t>(position)] += value;
      ++position;
      field = comma + 1;
    }
    last_count = position;
  }
  const int count = last_count;
  if (lines == 0 || count < 8) {
    ui.message_box(c_format("Only found %d coefs, expecting 15 in %d lines", count, lines), {}, kMsgWarning);
    for (int i = 0; i < kShapeValues; ++i)
      shape.values[static_cast<std::size_t>(i)] = static_cast<int>(sums[static_cast<std::size_t>(i)]);
    if (shape.count == 0) shape.count = kShapeValues;
  } else {
    shape.count = count > kShapeValues ? kShapeValues : count;
    for (int i = 0; i < kShapeValues; ++i)
      shape.values[static_cast<std::size_t>(i)] = static_cast<int>(sums[static_cast<std::size_t>(i)] / lines);
  }
  make_coefficients(shape, readings);
  ui.set_status("Pulse Shape Coefficients have been read from file 'PulseShape.csv'");
  return 1;
}

int save_pulse_shape(Platform& ui, const std::string& dir, const std::vector<int>& trace, int cursor) {
  const char* caption = "Move cursor to approximate centre of the pulse to be saved";
  if (cursor < 0 || trace.empty()) {
    ui.message_box(caption, {}, kMsgWarning);
    return 0;
  }
  const int n = static_cast<int>(trace.size());
  int best = -1;
  int at = 0;
  for (int k = cursor - 4 < 1 ? 1 : cursor - 4; k <= cursor + 4 && k < n; ++k) {
    if (best < 0 || trace[static_cast<std::size_t>(k)] > trace[static_cast<std::size_t>(at)]) {
      at = k;
      best = k;
    }
  }
  const int height = best < 0 ? 0 : trace[static_cast<std::size_t>(at)] - kTraceOffset;
  if (height < kMinSavedHeight) {
    ui.message_box(c_format("The Pulse height was only %d, expecting at least 250", height), caption,
                   kMsgWarning);
    return 0;
  }
  std::string line;
  for (int k = at - 7; k <= at + 7; ++k) {
    const int v = (k >= 0 && k < n ? trace[static_cast<std::size_t>(k)] : kTraceOffset) - kTraceOffset;
    line += c_format(k == at - 7 ? "%d" : ",%d", v);
  }
  line += "\r\n";
  const std::string path = join_path(dir, kPulseShapeName);
  std::string old;
  if (file_exists(path)) read_text_file(path, old);
  if (!write_text_atomic(path, old + line)) {
    ui.message_box("Error Creating:- " + path, {}, kMsgError);
    return 0;
  }
  ui.set_window_title(c_format("File %s has been updated", path.c_str()));
  return 1;
}

}  // namespace kestrim
