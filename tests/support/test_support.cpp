#include "support/test_support.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kestrim::test {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "kestrim-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string shared_data_dir() {
  std::string dir = KESTRIM_SHARED_DATA;
  struct stat st;
  if (::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return dir;
  return {};
}

std::string source_data_dir() { return KESTRIM_SOURCE_DATA; }
std::string kestrim_binary() { return KESTRIM_BINARY; }

std::vector<std::uint8_t> read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
}

void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void write_text(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

int run_command(const std::string& command, std::string* output, bool merge_stderr) {
  std::string cmd = command + (merge_stderr ? " 2>&1" : "");
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  std::string out;
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = pclose(p);
  if (output) *output = out;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string make_user_defaults(const std::string& user_dir,
                               const std::vector<std::pair<std::string, std::string>>& changes) {
  std::istringstream in(read_text(source_data_dir() + "/DefaultFiles/Normal.txt"));
  std::string text;
  for (std::string line; std::getline(in, line);) {
    for (const auto& [key, value] : changes)
      if (line.rfind(key + " ", 0) == 0 || line.rfind(key + "=", 0) == 0) line = key + " = " + value;
    text += line + "\n";
  }
  const std::string folder = user_dir + "/kestrim/DefaultFiles";
  std::filesystem::create_directories(folder);
  write_text(user_dir + "/defaults.txt", text);
  std::string out;
  if (run_command("XDG_DATA_HOME='" + user_dir + "' '" + kestrim_binary() + "' defaults make '" + user_dir +
                      "/defaults.txt' -o '" + folder + "/Normal.000'",
                  &out, true) == 0)
    return "";
  return out.empty() ? "defaults make failed" : out;
}

}  // namespace kestrim::test
