#include "nuclides/library_listing.h"
#include "platform/text_encoding.h"
#include "platform/c_locale.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "nuclides/nuclide_session.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace kestrim {

namespace {

// Appends one printf-formatted line ending in CR LF.
[[gnu::format(printf, 2, 3)]] void line(std::string& out, const char* format, ...) {
  char buf[512];
  va_list args;
  va_start(args, format);
  c_vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  out += buf;
  out += "\r\n";
}

// Fractions above 0.01 are shown to 4 decimals of the fraction, rounded half up.
double listed_fraction(double v) {
  if (v > 0.01) return std::floor(v * 10000.0 + 0.5) / 10000.0;
  return v;
}

}  // namespace

std::string library_listing(const NuclideLibrary& lib, const DateTime& now) {
  std::string out;
  line(out, "%60s%s %s", "", format_date(now.day, now.month, now.year).c_str(),
       format_time(now.hour, now.minute).c_str());
  line(out, "        Listing of Analysis Library %s", lib.title.c_str());
  for (int k = 0; k < lib.nuclide_count; ++k) {
    const Nuclide& n = lib.nuclides[k];
    line(out, "%s", "");
    line(out, " %8s %s", to_string(n.name).c_str(), to_string(n.description).c_str());
    line(out, " Data Source:- %s", to_string(n.data_source).c_str());
    HalfLifeDisplay hl = display_half_life(n.half_life);
    if (hl.value >= 100000.0)
      line(out, " Half Life is %12.5e %s", hl.value, hl.unit);
    else
      line(out, " Half Life is %9.4f %s", hl.value, hl.unit);
    if (n.principal_energy > 0) line(out, " Principal Energy is %6.1f keV.", n.principal_energy);
    line(out, "%s", "");
    line(out, "%s", "        Energy    % Yield   Uncertainty");
    line(out, "%s", "");
    auto [first, end] = lib.lines_of(k);
    for (int i = first; i < end; ++i) {
      double energy = lib.line_energy[i];
      double yield = lib.line_yield[i];
      double uncertainty = lib.line_uncertainty[i];
      if (yield > 0.0001)
        line(out, "      %8.3f   %9.5f     %7.5f", energy, listed_fraction(yield) * 100.0,
             listed_fraction(uncertainty) * 100.0);
      else
        line(out, "      %8.3f %11.3e %11.3e", energy, yield * 100.0, uncertainty * 100.0);
    }
  }
  return out;
}

std::string listing_file_name(const std::string& title) {
  std::size_t dot = title.rfind('.');
  return (dot == std::string::npos ? title : title.substr(0, dot)) + ".txt";
}

int list_library_to_file(Platform& ui, const Paths& paths, const NuclideLibrary& lib) {
  FileDialog dialog;
  dialog.title = "Save Library as Text";
  dialog.filters = {{"Text files (*.txt)", "*.txt"}};
  dialog.initial_directory = paths.working_dir;
  dialog.initial_name = listing_file_name(lib.title);
  if (!ui.save_file_dialog(dialog) || dialog.paths.empty()) return 0;
  std::string path = dialog.paths.front();
  if (base_name(path).find('.') == std::string::npos) path += ".txt";
  if (!write_text_atomic(path, text_as_utf8(library_listing(lib, now_date_time())))) {
    ui.message_box("Error writing " + path);
    return 0;
  }
  return 1;
}

}  // namespace kestrim
