// Fuzz target for the Defaults file: the input is taken both as the bytes of
// a Defaults file and as its text form.
//
// Properties checked besides memory safety:
//  - bytes: a file that parses gives a text that builds again, and building
//    from the text of the rebuilt file gives the same bytes once more (the
//    first rebuild may differ from the input only in its checksum);
//  - text: a text that builds gives bytes whose text builds the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "settings/defaults_file.h"
#include "settings/defaults_text.h"

namespace {

void check_fixed_point(const std::vector<std::uint8_t>& bytes) {
  std::string text = kestrim::defaults_to_text(bytes);
  std::vector<std::uint8_t> again;
  std::string error;
  if (!kestrim::defaults_from_text(text, again, error)) {
    // A dump may hold a 16-character password (a full field with no zero),
    // which the text form refuses; nothing else may fail.
    if (error.find("password") == std::string::npos) __builtin_trap();
    return;
  }
  std::vector<std::uint8_t> third;
  if (!kestrim::defaults_from_text(kestrim::defaults_to_text(again), third, error) ||
      third != again)
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kestrim::DefaultsFileImage image;
  if (kestrim::parse_defaults_file(data, size, image) == kestrim::kDefaultsParsedOk) {
    std::vector<std::uint8_t> bytes(data, data + size);
    check_fixed_point(bytes);
  }

  std::vector<std::uint8_t> built;
  std::string error;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (kestrim::defaults_from_text(text, built, error)) {
    std::string dumped = kestrim::defaults_to_text(built);
    std::vector<std::uint8_t> rebuilt;
    if (!kestrim::defaults_from_text(dumped, rebuilt, error) || rebuilt != built) __builtin_trap();
  }
  return 0;
}
