// libFuzzer target for a whole batch analysis: the fuzzed bytes are a
// spectrum file, analysed as `kestrim /batch /file=` does with the shipped
// Defaults, libraries and templates: open, peak search, the real region
// driver and fitting engine, identification, activities and every report.
// The first byte picks the file's extension (native ".dat" for most values,
// a foreign format otherwise). Besides the sanitizers' checks, no report may
// hold "nan" or "inf".
//
//   CC=clang CXX=clang++ cmake -S . -B build-fuzz -DKESTRIM_FUZZ=ON \
//         -DKESTRIM_TESTS=OFF -DKESTRIM_BENCH=OFF
//   cmake --build build-fuzz --target kestrim_batch_fuzz kestrim_data
//   build-fuzz/fuzz/kestrim_batch_fuzz -max_total_time=600 fuzz/corpus/batch
#include <unistd.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/startup.h"
#include "app/state.h"
#include "platform/files.h"
#include "spectrum/formats.h"
#include "platform/silent_platform.h"

namespace {

using namespace kestrim;

// A whole word "nan" or "inf" (any case) in a report.
bool holds_non_number(const std::string& text) {
  auto letter = [&](std::size_t i) { return std::isalpha(static_cast<unsigned char>(text[i])) != 0; };
  for (std::size_t i = 0; i + 3 <= text.size(); ++i) {
    std::string word;
    for (std::size_t k = 0; k < 3; ++k) word += static_cast<char>(std::tolower(static_cast<unsigned char>(text[i + k])));
    if (word != "nan" && word != "inf") continue;
    if ((i > 0 && letter(i - 1)) || (i + 3 < text.size() && letter(i + 3))) continue;
    return true;
  }
  return false;
}

void remove_tree(const std::string& dir) {
  for (const std::string& name : list_directory(dir)) {
    const std::string path = join_path(dir, name);
    if (directory_exists(path))
      remove_tree(path);
    else
      remove_file(path);
  }
  ::rmdir(dir.c_str());
}

std::string program_dir() {
  if (const char* home = std::getenv("KESTRIM_HOME"); home && *home) return home;
  return KESTRIM_BUILD_DATA_DIR;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  int type = data[0] < 128 ? 0 : data[0] % kSpectrumTypeCount;
  const std::string extension = spectrum_format(type)->extension;
  if (extension.empty()) return 0;

  char dir_template[] = "/tmp/kestrim-batch-fuzz-XXXXXX";
  if (!::mkdtemp(dir_template)) return 0;
  const std::string dir = dir_template;
  const std::string spectrum = join_path(dir, "fuzzed." + extension);
  if (!write_file_atomic(spectrum, data + 1, size - 1)) {
    remove_tree(dir);
    return 0;
  }

  SilentPlatform ui;
  State state(ui);
  state.paths.program_dir = program_dir();
  state.paths.user_dir = join_path(dir, "user");
  state.paths.working_dir = dir;
  run_program(state, "/batch /file=" + spectrum);

  for (const char* report : {"Main Report.txt", "Activity Report.txt", "Peak Fit Report.txt",
                             "Header Report.txt"}) {
    std::vector<std::uint8_t> bytes;
    if (!read_file(join_path(dir, report), bytes)) continue;
    if (holds_non_number(std::string(bytes.begin(), bytes.end()))) __builtin_trap();
  }
  remove_tree(dir);
  return 0;
}
