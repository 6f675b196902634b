// Damaged copies of real spectrum files through `kestrim info`, `peaks` and
// `/batch` with the shipped Defaults: whatever the damage, the program ends
// with a status of its own (0, 1 or 2), never by a signal or an abort. The
// damage is drawn from a fixed seed, so every run tries the same files.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "platform/binio.h"
#include "platform/files.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

// A small fixed pseudo-random sequence (64-bit LCG).
class Draw {
 public:
  explicit Draw(std::uint64_t seed) : state_(seed) {}
  std::uint32_t next() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::uint32_t>(state_ >> 33);
  }
  std::size_t below(std::size_t n) { return n == 0 ? 0 : next() % n; }

 private:
  std::uint64_t state_;
};

// One damaged copy: bytes flipped, a field set to an impossible number, the
// file cut short, a block zeroed or junk appended.
std::vector<std::uint8_t> damaged(std::vector<std::uint8_t> b, Draw& d) {
  if (b.empty()) return b;
  const float specials[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                            -3600.0f, 1e30f, -1e30f, 0.0f};
  const int kind = static_cast<int>(d.below(5));
  const std::size_t head = std::min<std::size_t>(b.size(), 1024);
  switch (kind) {
    case 0:
      for (int i = 0; i < 8; ++i) b[d.below(head)] = static_cast<std::uint8_t>(d.next());
      break;
    case 1:
      for (int i = 0; i < 4 && head >= 4; ++i)
        bin::put_f32(b.data() + (d.below(head - 3) & ~std::size_t{1}), specials[d.below(6)]);
      break;
    case 2:
      b.resize(d.below(b.size()));
      break;
    case 3: {
      const std::size_t from = d.below(b.size());
      const std::size_t n = std::min<std::size_t>(b.size() - from, 1 + d.below(512));
      std::fill(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + n), 0);
      break;
    }
    default:
      for (int i = 0; i < 300; ++i) b.push_back(static_cast<std::uint8_t>(d.next()));
      break;
  }
  return b;
}

class Mutations : public ::testing::Test {
 protected:
  // The exit status of one command in a fresh working folder.
  int kestrim(const std::string& args, std::string* out) {
    return test::run_command("cd '" + dir.path() + "' && XDG_DATA_HOME='" + dir.file("user") + "' '" +
                                 test::kestrim_binary() + "' " + args + " 2>&1",
                             out, true);
  }

  void try_copies(const std::string& source, int copies, bool batch, std::uint64_t seed) {
    const std::vector<std::uint8_t> original = test::read_bytes(source);
    ASSERT_FALSE(original.empty()) << source;
    const std::string ext = extension_of(source);
    Draw d(seed);
    for (int i = 0; i < copies; ++i) {
      const std::string copy = dir.file("damaged-" + std::to_string(i) + "." + ext);
      test::write_bytes(copy, damaged(original, d));
      std::vector<std::string> commands = {"info '" + copy + "'", "info --json '" + copy + "'",
                                           "peaks --json '" + copy + "'"};
      if (batch) commands.push_back("/batch /file=" + copy);
      for (const std::string& c : commands) {
        std::string out;
        const int status = kestrim(c, &out);
        EXPECT_TRUE(status >= 0 && status <= 2) << base_name(source) << " copy " << i << ": kestrim " << c
                                               << " ended with " << status << "\n"
                                               << out.substr(0, 2000);
      }
      remove_file(copy);
    }
  }

  test::TempDir dir;
};

TEST_F(Mutations, ShippedExampleNeverCrashesTheProgram) {
  try_copies(test::source_data_dir() + "/examples/example-nai.dat", 10, true, 20261208);
}

TEST_F(Mutations, PublicSpectraNeverCrashTheProgram) {
  const std::string data = test::shared_data_dir();
  if (data.empty()) GTEST_SKIP() << "no public spectra";
  std::uint64_t seed = 1;
  int files = 0;
  for (const char* kind : {"chn", "spc", "spe", "n42", "cnf", "txt"}) {
    const std::string folder = data + "/spectra/" + kind;
    for (const std::string& name : list_directory(folder)) {
      const std::string path = folder + "/" + name;
      if (!file_exists(path) || file_size(path) > (1 << 20)) continue;
      try_copies(path, 2, false, seed++);
      ++files;
      break;  // one file of each kind keeps the test short
    }
  }
  EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace kestrim
