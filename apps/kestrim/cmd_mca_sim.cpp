// kestrim mca-sim: a simulated serial MCA on a pseudo-terminal, for trying
// `kestrim acquire` (or any program of the serial MCA) without hardware.
// Prints the device to open, then answers until interrupted; its clock runs
// at --speed times the real one.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <unistd.h>

#include "acquisition/mca_simulator.h"
#include "commands.h"
#include "platform/c_locale.h"
#include "platform/files.h"
#include "spectrum/native_file.h"
#include "spectrum/simulate.h"
#include "spectrum/spectrum_record.h"

namespace kestrim::cli {

namespace {

const char* kUsage =
    "Usage: kestrim mca-sim [--spectrum FILE.dat] [--bytes 1|2|4] [--channels N] [--speed F]\n"
    "                       [--scale S] [--link PATH] [--fault KIND --fault-at SECONDS]\n"
    "Serves a simulated serial MCA on a pseudo-terminal and prints its device.\n"
    "  --spectrum  count rates from a native spectrum (counts / live time);\n"
    "              default: a synthetic NaI soil spectrum\n"
    "  --bytes     bytes per channel of the spectrum reply (default 4)\n"
    "  --speed     simulated seconds per real second (default 1)\n"
    "  --scale     multiplies every count rate (default 1)\n"
    "  --link      also make PATH a symbolic link to the device\n"
    "  --fault     no-answer | short | wrong-echo | noise | bad-bytes=N | unplug,\n"
    "              armed once the simulated clock reaches --fault-at seconds\n";

std::atomic<bool> g_stop{false};
extern "C" void on_stop_signal(int) { g_stop = true; }

bool parse_int(const std::string& s, int& out) {
  char* end = nullptr;
  const double v = c_strtod(s.c_str(), &end);
  if (s.empty() || end == nullptr || *end != 0 || v != static_cast<int>(v)) return false;
  out = static_cast<int>(v);
  return true;
}

bool parse_fault(const std::string& s, SimFault& fault, std::uint8_t& command, int& value) {
  command = 0;
  if (s == "no-answer") fault = SimFault::kNoAnswer;
  else if (s == "short") fault = SimFault::kShortReply;
  else if (s == "wrong-echo") fault = SimFault::kWrongEcho;
  else if (s == "noise") fault = SimFault::kLineNoise;
  else if (s == "unplug") fault = SimFault::kUnplugMidRead;
  else if (s.rfind("bad-bytes=", 0) == 0) {
    fault = SimFault::kBadBytesPerChannel;
    return parse_int(s.substr(10), value);
  } else {
    return false;
  }
  return true;
}

}  // namespace

int cmd_mca_sim(const Args& args) {
  std::string spectrum_file, link;
  int bytes = 4, channels = 0;
  double speed = 1.0, scale = 1.0, fault_at = -1;
  std::string fault_text;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    auto number = [&](double& out) {
      char* end = nullptr;
      const std::string& v = args[++i];
      out = c_strtod(v.c_str(), &end);
      return !v.empty() && end != nullptr && *end == 0;
    };
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--spectrum" && has_value) {
      spectrum_file = args[++i];
    } else if (a == "--link" && has_value) {
      link = args[++i];
    } else if (a == "--bytes" && has_value) {
      if (!parse_int(args[++i], bytes) || (bytes != 1 && bytes != 2 && bytes != 4))
        return usage_error("mca-sim: --bytes takes 1, 2 or 4", kUsage);
    } else if (a == "--channels" && has_value) {
      if (!parse_int(args[++i], channels) || channels < 256 || channels > 4096 || channels % 256 != 0)
        return usage_error("mca-sim: --channels takes 256 to 4096 in steps of 256", kUsage);
    } else if (a == "--speed" && has_value) {
      if (!number(speed) || !(speed > 0)) return usage_error("mca-sim: --speed must be positive", kUsage);
    } else if (a == "--scale" && has_value) {
      if (!number(scale) || !(scale >= 0)) return usage_error("mca-sim: --scale must not be negative", kUsage);
    } else if (a == "--fault" && has_value) {
      fault_text = args[++i];
    } else if (a == "--fault-at" && has_value) {
      if (!number(fault_at) || fault_at < 0) return usage_error("mca-sim: --fault-at takes seconds", kUsage);
    } else {
      return usage_error("mca-sim: unexpected argument " + a, kUsage);
    }
  }
  SimFault fault = SimFault::kNone;
  std::uint8_t fault_command = 0;
  int fault_value = 0;
  if (!fault_text.empty() && !parse_fault(fault_text, fault, fault_command, fault_value))
    return usage_error("mca-sim: unknown fault " + fault_text, kUsage);
  if (fault != SimFault::kNone && fault_at < 0) fault_at = 0;

  SpectrumRecord source;
  if (!spectrum_file.empty()) {
    std::vector<std::uint8_t> data;
    BackgroundRecord background;
    NativeReadResult result;
    if (!read_file(spectrum_file, data) ||
        read_native(data, source, background, NativeReadOptions{}, result) != 1) {
      c_fprintf(stderr, "kestrim mca-sim: cannot read the native spectrum %s\n", spectrum_file.c_str());
      return 1;
    }
  } else {
    SimOptions o = example_nai_options(channels > 0 ? channels : 1024);
    o.noise = false;
    o.live_time = o.true_time = 3600;
    store_simulated(simulate_spectrum(o), o, source);
  }
  McaSimulatorOptions options;
  options.bytes_per_channel = bytes;
  options.channels = channels > 0 ? channels : source.header.channels;
  options.rates = rates_from_spectrum(source, scale);
  if (source.header.true_time > 0 && source.header.live_time > 0)
    options.live_fraction = source.header.live_time / source.header.true_time;

  McaSimulator sim(options);
  std::string error;
  if (!sim.open(error)) {
    c_fprintf(stderr, "kestrim mca-sim: %s\n", error.c_str());
    return 1;
  }
  if (!link.empty()) {
    ::unlink(link.c_str());
    if (::symlink(sim.device().c_str(), link.c_str()) != 0) {
      c_fprintf(stderr, "kestrim mca-sim: cannot make the link %s\n", link.c_str());
      return 1;
    }
  }
  std::signal(SIGINT, on_stop_signal);
  std::signal(SIGTERM, on_stop_signal);
  c_printf("%s\n", sim.device().c_str());
  std::fflush(stdout);
  c_fprintf(stderr,
            "kestrim mca-sim: serving a simulated MCA on %s (%d channels, %d bytes per channel, "
            "speed %g); Ctrl-C ends\n",
            sim.device().c_str(), options.channels, bytes, speed);

  using clock = std::chrono::steady_clock;
  auto last = clock::now();
  double carry_ms = 0;
  bool armed = fault == SimFault::kNone;
  while (!g_stop && !sim.unplugged()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto now = clock::now();
    carry_ms += std::chrono::duration<double, std::milli>(now - last).count() * speed;
    last = now;
    const auto whole = static_cast<std::int64_t>(carry_ms);
    carry_ms -= static_cast<double>(whole);
    sim.advance_ms(whole);
    if (!armed && static_cast<double>(sim.reading().true_ms) >= fault_at * 1000.0) {
      sim.inject(fault, fault_command, fault_value);
      if (fault == SimFault::kUnplugMidRead) c_fprintf(stderr, "kestrim mca-sim: the line goes at the next spectrum read\n");
      armed = true;
    }
  }
  const McaSimulator::Reading r = sim.reading();
  double total = 0;
  for (std::size_t k = 2; k < r.counts.size(); ++k) total += static_cast<double>(r.counts[k]);
  c_fprintf(stderr, "kestrim mca-sim: %s; live %.3f s, true %.3f s, %.0f counts\n",
            sim.unplugged() ? "unplugged" : "stopped", static_cast<double>(r.live_ms) / 1000.0,
            static_cast<double>(r.true_ms) / 1000.0, total);
  if (!link.empty()) ::unlink(link.c_str());
  return 0;
}

}  // namespace kestrim::cli
