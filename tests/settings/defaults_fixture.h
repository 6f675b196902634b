// A State whose folders are fresh temporary directories and whose platform
// is scripted, plus helpers to place Defaults files in them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/state.h"
#include "platform/files.h"
#include "platform/scripted_platform.h"
#include "settings/defaults_file.h"
#include "support/test_support.h"

namespace kestrim::test {

class DefaultsFixture {
 public:
  DefaultsFixture() : state(ui) {
    state.paths.user_dir = tmp.file("user");
    state.paths.program_dir = tmp.file("program");
    state.paths.working_dir = tmp.file("work");
    make_directories(state.paths.program_dir + "/DefaultFiles");
    make_directories(state.paths.working_dir);
  }

  // A plausible record with a valid checksum.
  static AnalysisParameters sample_params(int number = 0, const std::string& app = "Normal") {
    AnalysisParameters p = make_initial_parameters();
    assign(p.application_name, app);
    p.defaults_number = number;
    p.search_start = 10;
    p.search_stop = 1000;
    p.search_discriminator = 3.5f;
    p.max_width_change = 0.1f;
    p.residual_peak_search = 1;
    p.sc_leading_edge_readings = 12;
    p.window_width = 800;
    p.checksum = compute_checksum(p);
    return p;
  }

  // Writes a file into <program_dir>/DefaultFiles or <user_dir>/DefaultFiles.
  std::string put_program_file(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::string path = state.paths.program_dir + "/DefaultFiles/" + name;
    write_bytes(path, bytes);
    return path;
  }
  std::string put_user_file(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    make_directories(state.paths.user_dir + "/DefaultFiles");
    std::string path = state.paths.user_dir + "/DefaultFiles/" + name;
    write_bytes(path, bytes);
    return path;
  }
  std::string user_file(const std::string& name) const {
    return state.paths.user_dir + "/DefaultFiles/" + name;
  }

  TempDir tmp;
  ScriptedPlatform ui;
  State state;
};

}  // namespace kestrim::test
