// Helpers shared by the tests: temporary folders and the public data.
#pragma once

#include <cstdint>
#include <utility>
#include <string>
#include <vector>

namespace kestrim::test {

// A fresh empty folder, removed with everything in it at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// ../shared/data beside the project, or "" when absent (tests then skip).
std::string shared_data_dir();
// The project's data/ folder (sources of the shipped files).
std::string source_data_dir();
// The built kestrim program.
std::string kestrim_binary();

std::vector<std::uint8_t> read_bytes(const std::string& path);
void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::string read_text(const std::string& path);
void write_text(const std::string& path, const std::string& text);

// Runs a shell command, capturing stdout (and stderr when asked); returns the exit status.
int run_command(const std::string& command, std::string* output, bool merge_stderr = false);

// Writes the shipped Defaults (data/DefaultFiles/Normal.txt) with the given
// keys set to new values as the user's Defaults file 0 under `user_dir`
// (the XDG data folder the tests give kestrim), through `kestrim defaults
// make`. Returns that command's output ("" on success).
std::string make_user_defaults(const std::string& user_dir,
                               const std::vector<std::pair<std::string, std::string>>& changes);

}  // namespace kestrim::test
