// kestrim acquire: collects a spectrum from the serial MCA with the Defaults
// in use, driven by a one-second timer as the desktop program is: the MCA is
// read every second tick, the run stops at the preset time (or at Ctrl-C,
// keeping what was counted) and the spectrum is saved. With --cycle N the
// runs are saved as SP%04d.DAT in the spectra folder and each is analysed
// before the next starts. Progress goes to stderr.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <unistd.h>

#include "acquire_sound.h"
#include "remote_control.h"
#include "acquisition/mca_device.h"
#include "app/acquisition_control.h"
#include "app/settings_bridge.h"
#include "app/spectrum_file.h"
#include "app/startup.h"
#include "app/state.h"
#include "commands.h"
#include "front_end_services.h"
#include "platform/c_locale.h"
#include "platform/files.h"
#include "platform/headless_platform.h"

namespace kestrim::cli {

namespace {

const char* kUsage =
    "Usage: kestrim acquire (--port PATH | --port-number N) --preset SECONDS -o FILE.dat\n"
    "       kestrim acquire (--port PATH | --port-number N) --preset SECONDS --cycle N\n"
    "                       [--first N] [--dir DIR]\n"
    "       kestrim acquire (--sound-card DEVICE | --wav FILE.wav) --preset SECONDS -o FILE.dat\n"
    "Options: --detector-file N  the calibration of detector file Det_NN.cal\n"
    "         --continue         take over the interrupted run kept in tempdata.$$$\n"
    "Collects a spectrum from the serial MCA until the preset time (Ctrl-C stops early and\n"
    "saves what was counted). --cycle N collects N spectra SP%04d.DAT in DIR (default: the\n"
    "current folder), numbered from --first (default 1), and analyses each.\n";

std::atomic<bool> g_interrupted{false};
extern "C" void on_interrupt(int) { g_interrupted = true; }

bool parse_count(const std::string& s, int& out, int low) {
  char* end = nullptr;
  const double v = c_strtod(s.c_str(), &end);
  if (s.empty() || end == nullptr || *end != 0 || v != static_cast<double>(static_cast<long>(v)) ||
      v < low || v > 2147483647.0)
    return false;
  out = static_cast<int>(v);
  return true;
}

// The front end's answers: the analysis of every cycle spectrum (whether
// or not the Defaults update an activity database) with the Defaults as
// this command set them (nothing is written to the user's
// Defaults file), and the number of runs asked for.
class CliHooks final : public AppAcquisitionHooks {
 public:
  CliHooks(State& state, int runs) : AppAcquisitionHooks(state), runs_(runs), kept_(state.params) {}
  int analyse_cycle_spectrum(const std::string& path) override {
    ++done_;
    c_fprintf(stderr, "\nkestrim acquire: saved %s; analysing it\n", path.c_str());
    const int ok = analyse_saved_spectrum(path);
    if (!ok) {
      c_fprintf(stderr, "kestrim acquire: the analysis of %s failed\n", path.c_str());
      failed_ = true;
    } else {
      c_printf("%s analysed (Main Report.txt)\n", path.c_str());
    }
    return ok;
  }
  int save_parameters() override {
    kept_.auto_save_number = state_.params.auto_save_number;
    return 1;
  }
  int reload_parameters() override {
    state_.params = kept_;
    return 1;
  }
  bool another_run() override { return done_ < runs_ && !g_interrupted; }
  bool failed() const { return failed_; }

 private:
  int runs_;
  int done_ = 0;
  bool failed_ = false;
  AnalysisParameters kept_;
};

double total_counts(const State& state) {
  double total = 0;
  const int channels = acquisition_channels(state.params);
  for (int k = 2; k < channels; ++k) total += state.acquisition.counts[static_cast<std::size_t>(k)];
  return total;
}

}  // namespace

int cmd_acquire(const Args& args) {
  std::string port, out, dir;
  int port_number = 0, preset = 0, cycle = 0, first = 1, detector_file = -1;
  bool take_over = false;
  SoundCardChoice sound;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    std::string sound_error;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      std::fputs(kSoundCardUsage, stdout);
      return 0;
    } else if (const int taken = parse_sound_card_option(args, i, sound, sound_error); taken != 0) {
      if (taken < 0) return usage_error(sound_error, kUsage);
    } else if (a == "--port" && has_value) {
      port = args[++i];
    } else if (a == "--port-number" && has_value) {
      if (!parse_count(args[++i], port_number, 1))
        return usage_error("acquire: --port-number takes a number from 1", kUsage);
    } else if (a == "--preset" && has_value) {
      if (!parse_count(args[++i], preset, 1))
        return usage_error("acquire: --preset takes whole seconds from 1", kUsage);
    } else if (a == "--cycle" && has_value) {
      if (!parse_count(args[++i], cycle, 1) || cycle > 9999)
        return usage_error("acquire: --cycle takes a number of runs from 1", kUsage);
    } else if (a == "--first" && has_value) {
      if (!parse_count(args[++i], first, 1) || first > 9999)
        return usage_error("acquire: --first takes a file number from 1 to 9999", kUsage);
    } else if (a == "--detector-file" && has_value) {
      if (!parse_count(args[++i], detector_file, 0) || detector_file > 99)
        return usage_error("acquire: --detector-file takes a number from 0 to 99", kUsage);
    } else if (a == "--dir" && has_value) {
      dir = args[++i];
    } else if ((a == "-o" || a == "--output") && has_value) {
      out = args[++i];
    } else if (a == "--continue") {
      take_over = true;
    } else {
      return usage_error("acquire: unexpected argument " + a, kUsage);
    }
  }
  if (port.empty() && port_number == 0 && !sound.wanted())
    return usage_error("acquire: no --port was given", kUsage);
  if (preset == 0) return usage_error("acquire: no --preset was given", kUsage);
  if (cycle == 0 && out.empty()) return usage_error("acquire: no -o FILE.dat was given", kUsage);
  if (!sound.control.empty() && !sound.wanted())
    return usage_error("acquire: --control works with the sound card", kUsage);
  if (cycle > 0 && !out.empty()) return usage_error("acquire: -o and --cycle exclude each other", kUsage);
  if (cycle == 0 && to_lower(extension_of(out)) != "dat")
    return usage_error("acquire: the output is a native spectrum FILE.dat", kUsage);

  HeadlessPlatform ui;
  ui.set_progress_enabled(false);
  State state(ui);
  FrontEndServices services;  // the analyses of an auto cycle may fit reference spectra
  services.supply(state);
  state.paths = default_paths();
  if (!initialise(state)) return 1;
  state.app.batch_mode = true;
  AnalysisParameters& p = state.params;
  p.mca_type = sound.wanted() ? kMcaTypeSoundBlaster : kMcaTypeSerial;
  if (port_number > 0) p.serial_port = port_number;
  state.app.serial_device = port;
  p.preset_time = preset;
  // Every second tick reads the whole spectrum: the running copy then
  // always holds the last good counts, and the end of the run reads them
  // a last time.
  p.rx720_display_while_collecting = 1;
  p.auto_acquisition_cycle = cycle > 0 ? 1 : 0;
  p.auto_save_number = cycle > 0 ? first : 0;
  if (detector_file >= 0) p.default_detector_file = detector_file;
  if (cycle > 0) state.app.own_format_dir = dir.empty() ? state.paths.working_dir : dir;

  SerialMcaDevices devices;
  state.services.devices = &devices;
  CliHooks hooks(state, cycle > 0 ? cycle : 1);

  const std::string running_copy = join_path(state.paths.working_dir, kRunningCopyName);
  bool continued = false;
  if (file_exists(running_copy)) {
    if (!take_over) {
      c_fprintf(stderr,
                "kestrim acquire: an interrupted acquisition is kept in %s: take it over with "
                "--continue, or move it away\n",
                running_copy.c_str());
      return 1;
    }
    if (!recover_interrupted_acquisition(state, hooks)) {
      c_fprintf(stderr, "kestrim acquire: %s is not a native spectrum\n", running_copy.c_str());
      return 1;
    }
    continued = true;
    c_fprintf(stderr, "kestrim acquire: continuing the interrupted run (%d s, %.0f counts)\n",
              state.acquisition.counts[1], total_counts(state));
  } else if (take_over) {
    c_fprintf(stderr, "kestrim acquire: there is no interrupted run (%s) to continue\n",
              running_copy.c_str());
    return 1;
  }
  if (!continued && p.default_detector_file > 0 &&
      !app_read_detector_calibration(state, p.default_detector_file, p.default_geometry))
    return 1;

  SoundCardFrontEnd sound_card;
  if (sound.wanted() ? !sound_card.open(state, sound) : !initialise_mca(state)) return 1;
  AcquisitionSession session = acquisition_session(state, hooks);
  if (sound.wanted()) session.mca = sound_card.unit();
  for (int n = 0; cycle > 0 && n < cycle; ++n) {
    p.auto_save_number = first + n;
    if (!confirm_cycle_file(session)) return 1;
  }
  p.auto_save_number = cycle > 0 ? first : 0;

  std::signal(SIGINT, on_interrupt);
  std::signal(SIGTERM, on_interrupt);
  RemoteControl control;
  if (!sound.control.empty()) {
    std::string error;
    if (!control.listen(sound.control, error)) {
      c_fprintf(stderr, "kestrim: acquire: %s\n", error.c_str());
      return 1;
    }
  }
  if (!start_collection(session, !continued)) return 1;

  using clock = std::chrono::steady_clock;
  const bool tty = ::isatty(2) != 0;
  auto next = clock::now() + std::chrono::seconds(1);
  bool lost = false;
  if (sound.wanted()) {
    run_sound_card(session, sound_card, control, tty, g_interrupted);
    lost = sound_card.unit()->lost();
  }
  while (state.acquisition.collecting && !sound.wanted()) {
    while (clock::now() < next && !g_interrupted)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    next += std::chrono::seconds(1);
    if (g_interrupted && !state.acquisition.stop_requested) {
      c_fprintf(stderr, "\nkestrim acquire: stopping: the counts so far are kept\n");
      state.acquisition.stop_requested = true;
    }
    const bool was_lost = devices.unit() != nullptr && devices.unit()->lost();
    timer_tick(session);
    lost = lost || was_lost || (devices.unit() != nullptr && devices.unit()->lost());
    if (state.acquisition.collecting && state.acquisition.ticks > 0 &&
        (tty || state.acquisition.ticks % 10 == 0)) {
      char run[32] = "";
      if (cycle > 0) c_snprintf(run, sizeof run, "SP%04d.DAT: ", p.auto_save_number);
      c_fprintf(stderr, "%skestrim acquire: %s%d of %d s, %.0f counts%s", tty ? "\r" : "", run,
                state.acquisition.counts[1], preset, total_counts(state), tty ? "  " : "\n");
    }
  }
  if (tty) c_fprintf(stderr, "\n");

  int status = lost || hooks.failed() ? 1 : 0;
  if (cycle == 0) {
    bool retry = false;
    if (!write_native_file(state, out, retry, false)) return 1;
    remove_file(running_copy);
    c_printf("%s: live %.0f s, true %.0f s, %.0f counts in %d channels\n", out.c_str(),
             static_cast<double>(state.spectrum.header.live_time),
             static_cast<double>(state.spectrum.header.true_time), total_counts(state),
             static_cast<int>(state.spectrum.header.channels));
  }
  devices.close();
  return status;
}

}  // namespace kestrim::cli
