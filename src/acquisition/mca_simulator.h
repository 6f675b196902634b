// A serial MCA simulator: a pseudo-terminal whose far end answers the
// serial MCA's command exchanges as the instrument does, so that the
// program's own serial code can be tried and tested without hardware.
//
// Its clock does not run by itself: whoever drives it (a test, or the
// `kestrim mca-sim` command from the real clock times a speed factor) calls
// advance_ms(). While counting, channel k holds floor(rate_k x live time),
// the live time being the true time times the live fraction; the replies
// carry the low bytes of these counters and of the millisecond times, as a
// unit with 24-bit time words and b-byte channels does.
//
// Faults can be armed for the next exchange of a command: no answer, a
// reply one byte short, a wrong echo, line noise in place of an echo (a
// command met by one of these was not taken by the unit), an
// impossible bytes-per-channel value, or the line going away half-way
// through the channel data (the pseudo-terminal's master is closed, as an
// unplugged adapter would).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestrim {

struct SpectrumRecord;

enum class SimFault {
  kNone,
  kNoAnswer,           // the next reply is not sent
  kShortReply,         // the next data reply lacks its last byte
  kWrongEcho,          // the next echo is another byte
  kLineNoise,          // noise bytes arrive in place of the next echo
  kBadBytesPerChannel, // the next spectrum header gives `value` bytes per channel
  kUnplugMidRead,      // the next spectrum read stops half-way: the line goes
};

struct McaSimulatorOptions {
  int bytes_per_channel = 4;  // 1, 2 or 4
  int channels = 1024;
  // Counts per second of live time of each channel (0 and 1 unused).
  std::vector<double> rates;
  double live_fraction = 1.0;  // live time per true time
};

// Count rates from a spectrum: each channel's counts per second of live
// time, times `scale`.
std::vector<double> rates_from_spectrum(const SpectrumRecord& rec, double scale);

class McaSimulator {
 public:
  explicit McaSimulator(McaSimulatorOptions options);
  ~McaSimulator();
  McaSimulator(const McaSimulator&) = delete;
  McaSimulator& operator=(const McaSimulator&) = delete;

  // Opens the pseudo-terminal and starts answering. False with the reason.
  bool open(std::string& error);
  // The device a program opens (/dev/pts/N).
  const std::string& device() const { return device_; }

  // Moves the clock on; time counts only while the unit is started.
  void advance_ms(std::int64_t ms);

  // Arms a fault for the next exchange of `command` (0: of any command).
  void inject(SimFault fault, std::uint8_t command = 0, int value = 0);
  // Closes the line now (an unplugged adapter); returns once it is closed.
  void unplug();

  struct Reading {
    std::int64_t live_ms = 0;
    std::int64_t true_ms = 0;
    bool counting = false;
    std::vector<std::uint64_t> counts;  // channel k's count (0 and 1 unused)
  };
  // What the unit holds now.
  Reading reading() const;
  // Commands answered so far, and whether a start or stop packet came.
  int commands() const;
  // Waits (up to `timeout_ms` of real time) until the line is closed by
  // the simulator or `commands()` reaches `n`; for the command-line tool.
  bool wait_commands(int n, int timeout_ms) const;
  bool unplugged() const;

 private:
  void serve();
  void handle(std::uint8_t byte);
  // False when a fault took the place of an echo: the unit did not take
  // the command.
  bool reply(std::uint8_t command, std::vector<std::uint8_t> bytes, bool echo);
  std::vector<std::uint8_t> times_reply() const;
  std::vector<std::uint8_t> spectrum_reply() const;
  std::uint64_t count(int channel) const;
  void close_line();

  McaSimulatorOptions options_;
  std::string device_;
  int master_ = -1;
  int slave_ = -1;  // held open so that the master never sees a hang-up
  int wake_[2] = {-1, -1};
  std::thread server_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::int64_t true_ms_ = 0;
  bool counting_ = false;
  int commands_ = 0;
  bool unplugged_ = false;
  bool line_closed_ = false;
  SimFault fault_ = SimFault::kNone;
  std::uint8_t fault_command_ = 0;
  int fault_value_ = 0;
  std::uint32_t noise_ = 0x2545F491u;

  // Parser state of the server thread.
  enum class Expect { kCommand, kStartStopPacket, kSpectrumAck };
  Expect expect_ = Expect::kCommand;
  std::vector<std::uint8_t> packet_;
  std::int64_t packet_started_ms_ = 0;  // real time of the packet's first byte
};

}  // namespace kestrim
