// kestrim detector dump Det_NN.cal [--geometry G] | make TEXT -o Det_NN.cal
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "commands.h"
#include "platform/c_locale.h"
#include "platform/files.h"
#include "settings/calibration_text.h"

namespace kestrim::cli {

namespace {
void usage() {
  c_printf(
      "Usage: kestrim detector dump Det_NN.cal [--geometry G]\n"
      "       kestrim detector make TEXT -o Det_NN.cal\n");
}
}  // namespace

int cmd_detector(const Args& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    usage();
    return args.empty() ? 2 : 0;
  }
  if (args[0] == "dump") {
    std::string file;
    int geometry = 0;
    for (std::size_t i = 1; i < args.size(); ++i) {
      if (args[i] == "--geometry" && i + 1 < args.size())
        geometry = std::atoi(args[++i].c_str());
      else if (file.empty())
        file = args[i];
      else {
        usage();
        return 2;
      }
    }
    std::vector<std::uint8_t> bytes;
    if (file.empty() || !read_file(resolve_path(file), bytes)) {
      c_fprintf(stderr, "kestrim: cannot read %s\n", file.c_str());
      return 1;
    }
    if (bytes.size() % 512 != 0)
      c_fprintf(stderr, "kestrim: %s: %zu bytes is not a whole number of 512-byte sections\n",
                   file.c_str(), bytes.size());
    if (geometry > 0 && static_cast<std::size_t>(geometry) * 512 > bytes.size()) {
      c_fprintf(stderr, "kestrim: %s has no geometry %d\n", file.c_str(), geometry);
      return 1;
    }
    std::fputs(detector_file_to_text(bytes, geometry).c_str(), stdout);
    return 0;
  }
  if (args[0] == "make") {
    std::string text_file, out;
    for (std::size_t i = 1; i < args.size(); ++i) {
      if (args[i] == "-o" && i + 1 < args.size())
        out = args[++i];
      else if (text_file.empty())
        text_file = args[i];
      else {
        usage();
        return 2;
      }
    }
    std::vector<std::uint8_t> text;
    if (text_file.empty() || out.empty()) {
      usage();
      return 2;
    }
    if (!read_file(text_file, text)) {
      c_fprintf(stderr, "kestrim: cannot read %s\n", text_file.c_str());
      return 1;
    }
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!detector_file_from_text(std::string(text.begin(), text.end()), bytes, error)) {
      c_fprintf(stderr, "kestrim: %s: %s\n", text_file.c_str(), error.c_str());
      return 1;
    }
    if (!write_file_atomic(out, bytes, &error)) {
      c_fprintf(stderr, "kestrim: cannot write %s: %s\n", out.c_str(), error.c_str());
      return 1;
    }
    return 0;
  }
  usage();
  return 2;
}

}  // namespace kestrim::cli
