// A session in temporary folders: a program directory with Libraries/ and a
// start-up Defaults file, an empty user directory and a working directory.
#pragma once

#include <string>

#include "app/state.h"
#include "platform/files.h"
#include "platform/scripted_platform.h"
#include "settings/defaults_file.h"
#include "spectrum/native_file.h"
#include "support/test_support.h"

namespace kestrim::test {

class AppSession {
 public:
  AppSession() : state(ui) {
    state.paths.program_dir = dir.file("program");
    state.paths.user_dir = dir.file("user");
    state.paths.working_dir = dir.file("work");
    make_directories(dir.file("program/Libraries"));
    make_directories(dir.file("program/DefaultFiles"));
    make_directories(dir.file("work"));
    make_directories(dir.file("spectra"));
    AnalysisParameters p = make_initial_parameters();
    p.search_start = 10;
    p.search_stop = 1000;
    p.search_discriminator = 4;
    p.search_smoothing = 1;
    p.peak_sigma = 2;
    p.max_width_change = 0.2f;
    p.residual_peak_search = 1;
    p.default_sampling_uncertainty = 3.0f;
    assign(p.own_format_dir, dir.file("spectra"));
    assign(p.other_format_dir, dir.file("spectra"));
    p.checksum = compute_checksum(p);
    write_defaults(0, p);
    state.params = p;
  }

  void write_defaults(int number, AnalysisParameters p) {
    p.defaults_number = number;
    p.checksum = compute_checksum(p);
    std::vector<std::uint8_t> bytes = build_defaults_file(p, nullptr);
    write_bytes(dir.file("program/DefaultFiles/" + defaults_file_name("Normal", number)), bytes);
  }

  // Writes a native spectrum into the spectra folder.
  std::string write_spectrum(const std::string& name, SpectrumRecord rec) {
    std::vector<std::uint8_t> bytes = encode_native(rec, DateTime{1, 1, 2025, 0, 0}, nullptr);
    std::string path = dir.file("spectra/" + name);
    write_bytes(path, bytes);
    return path;
  }

  static SpectrumRecord simple_spectrum(int channels, float level, int detector = 0) {
    SpectrumRecord rec;
    rec.header.channels = static_cast<std::int16_t>(channels);
    rec.header.live_time = 100;
    rec.header.true_time = 100;
    rec.header.detector = static_cast<std::int16_t>(detector);
    assign(rec.header.title, "test spectrum");
    for (int i = 2; i < channels; ++i) rec.counts[i] = level;
    return rec;
  }

  TempDir dir;
  ScriptedPlatform ui;
  State state;
};

}  // namespace kestrim::test
