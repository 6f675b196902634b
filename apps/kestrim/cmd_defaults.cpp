// kestrim defaults dump FILE          - prints the text form of a Defaults file
// kestrim defaults make TEXT -o FILE  - builds a Defaults file from its text
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "platform/c_locale.h"
#include "platform/files.h"
#include "settings/defaults_file.h"
#include "settings/defaults_text.h"

namespace kestrim::cli {

namespace {

// Text sources and Defaults files are small; anything larger is refused.
constexpr std::size_t kMaxInputBytes = 1u << 20;

int usage() {
  c_fprintf(stderr,
               "usage: kestrim defaults dump FILE\n"
               "       kestrim defaults make TEXT -o FILE\n");
  return 1;
}

int dump(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  if (!read_file(path, bytes, kMaxInputBytes)) {
    c_fprintf(stderr, "kestrim: %s: cannot read the file (missing, unreadable or over 1 MiB)\n",
                 path.c_str());
    return 1;
  }
  DefaultsFileImage image;
  if (parse_defaults_file(bytes.data(), bytes.size(), image) != kDefaultsParsedOk) {
    c_fprintf(stderr, "kestrim: %s: %zu bytes, shorter than the %d-byte parameters record\n",
                 path.c_str(), bytes.size(), kParametersSize);
    return 1;
  }
  if (image.ignored_bytes > 0)
    c_fprintf(stderr, "kestrim: %s: note: %zu bytes after the password fields ignored\n",
                 path.c_str(), image.ignored_bytes);
  std::string text = defaults_to_text(bytes);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

int make(const std::string& source, const std::string& output) {
  std::vector<std::uint8_t> text;
  if (!read_file(source, text, kMaxInputBytes)) {
    c_fprintf(stderr, "kestrim: %s: cannot read the file (missing, unreadable or over 1 MiB)\n",
                 source.c_str());
    return 1;
  }
  std::vector<std::uint8_t> bytes;
  std::string error;
  if (!defaults_from_text(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()),
                          bytes, error)) {
    c_fprintf(stderr, "kestrim: %s: %s\n", source.c_str(), error.c_str());
    return 1;
  }
  if (!write_file_atomic(output, bytes, &error)) {
    c_fprintf(stderr, "kestrim: %s: cannot write: %s\n", output.c_str(), error.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int cmd_defaults(const Args& args) {
  if (args.size() == 2 && args[0] == "dump") return dump(args[1]);
  if (args.size() == 4 && args[0] == "make") {
    if (args[2] == "-o") return make(args[1], args[3]);
    if (args[1] == "-o") return make(args[3], args[2]);
  }
  return usage();
}

}  // namespace kestrim::cli
