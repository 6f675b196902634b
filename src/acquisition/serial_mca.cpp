#include "acquisition/serial_mca.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

#include "platform/c_locale.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "settings/parameters.h"
#include "settings/session.h"
#include "acquisition/mca_protocol.h"
#include "spectrum/spectrum_record.h"

namespace kestrim {

namespace {

using mca_protocol::kClearMemory;
using mca_protocol::kStartStop;
using mca_protocol::kReadTimes;
using mca_protocol::kReadSpectrum;
using mca_protocol::kTimesReply;
using mca_protocol::kHeaderReply;
using mca_protocol::kBytesPerChannelAt;
using mca_protocol::kLastByteOfChannel0;

constexpr int kQuietMs = 300;  // a pause that ends a reply

constexpr std::int64_t kTimeWordRange = std::int64_t{1} << 24;
constexpr std::int64_t kWrapMargin = 600000;  // ten minutes of milliseconds

void warn(Platform& ui, const std::string& text) { ui.message_box(text, {}, kMsgWarning); }

std::uint32_t be24(const std::vector<std::uint8_t>& b, int at) {
  return (std::uint32_t{b[static_cast<std::size_t>(at)]} << 16) |
         (std::uint32_t{b[static_cast<std::size_t>(at + 1)]} << 8) |
         std::uint32_t{b[static_cast<std::size_t>(at + 2)]};
}

// Clears the busy flag on every way out of an exchange.
struct BusyGuard {
  explicit BusyGuard(AcquisitionState& a) : acq(a) { acq.busy = true; }
  ~BusyGuard() { acq.busy = false; }
  AcquisitionState& acq;
};

}  // namespace

std::int64_t unwrap_time_word(std::uint32_t word, std::int64_t& last, std::int64_t& wraps) {
  const std::int64_t w = word & (kTimeWordRange - 1);
  if (last >= kTimeWordRange - kWrapMargin && w < kWrapMargin) ++wraps;
  last = w;
  return wraps * kTimeWordRange + w;
}

std::string serial_device_for_port(int port) {
  const int n = port > 0 ? port - 1 : 0;
  const std::string tty_s = "/dev/ttyS" + std::to_string(n);
  const std::string tty_usb = "/dev/ttyUSB" + std::to_string(n);
  if (::access(tty_s.c_str(), F_OK) == 0) return tty_s;
  if (::access(tty_usb.c_str(), F_OK) == 0) return tty_usb;
  return tty_s;
}

SerialMca::SerialMca(Platform& ui, SerialTiming timing) : ui_(ui) { port_.set_timing(timing); }

int SerialMca::initialise(const std::string& device, int mca_number) {
  ui_.set_status("Initialising the MCA");
  ui_.set_status("Checking MCA Communication");
  int error = 0;
  const SerialPort::OpenResult r = port_.open(device, error);
  if (r == SerialPort::OpenResult::kCannotOpen) {
    warn(ui_, "Could not open Comm Port " + device + " ");
    return 0;
  }
  if (r == SerialPort::OpenResult::kCannotConfigure) {
    char text[80];
    c_snprintf(text, sizeof text, "Could not SetCommState, error %d", error);
    warn(ui_, text);
    return 0;
  }
  char text[80];
  c_snprintf(text, sizeof text, "Initialised MCA %d successfully", mca_number);
  ui_.message_box(text, "", kMsgOk);
  return 1;
}

bool SerialMca::send(const std::vector<std::uint8_t>& bytes) {
  int error = 0;
  if (port_.send(bytes, error)) return true;
  char text[80];
  c_snprintf(text, sizeof text, "Could not send data to MCA, error %d", error);
  warn(ui_, text);
  return false;
}

int SerialMca::wait_reply(int n, std::vector<std::uint8_t>& reply) {
  bool line_error = false;
  const int got = port_.wait_for(n, reply, line_error);
  if (line_error) {
    warn(ui_, "Error receiving data from the MCA");
    return -1;
  }
  return got;
}

bool SerialMca::echo_command(std::uint8_t command) {
  if (!send({command})) {
    warn(ui_, "Could not send Command to MCA");
    return false;
  }
  std::vector<std::uint8_t> reply;
  if (wait_reply(1, reply) < 1 || reply.empty()) return false;  // no answer: silent
  if (reply[0] != command) {
    char text[80];
    c_snprintf(text, sizeof text, "Invalid response of %x from MCA command %x", reply[0], command);
    warn(ui_, text);
    return false;
  }
  return true;
}

int SerialMca::start(AcquisitionSession& s, bool fresh) {
  if (s.acq.busy) return 1;
  BusyGuard busy(s.acq);
  ui_.set_status("Checking MCA");
  ui_.set_status("Starting MCA Collect");
  if (fresh && !echo_command(kClearMemory)) return 0;
  if (!echo_command(kStartStop)) return 0;
  if (!send({0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0})) {
    warn(ui_, "Could not send Start command");
    return 0;
  }
  s.acq.new_data = true;
  s.acq.collecting = true;
  return 1;
}

bool SerialMca::stop_sequence() {
  if (!echo_command(kStartStop)) return false;
  if (!send({0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0})) {
    warn(ui_, "Could not send Stop command");
    return false;
  }
  return true;
}

int SerialMca::stop(AcquisitionSession& s) {
  if (s.acq.busy) return 1;
  BusyGuard busy(s.acq);
  ui_.set_status("Checking MCA");
  const bool stopped = stop_sequence();
  if (stopped) ui_.set_status("Finished Collecting data");
  s.acq.collecting = false;
  return stopped ? 1 : 0;
}

int SerialMca::read(AcquisitionSession& s, bool full) {
  if (s.acq.busy) return 1;
  BusyGuard busy(s.acq);
  AcquisitionState& acq = s.acq;
  if (full) ui_.set_status("Reading Spectral data");

  if (!send({kReadTimes})) {
    warn(ui_, "Could not send 0xa5");
    return 0;
  }
  std::vector<std::uint8_t> times;
  if (wait_reply(kTimesReply, times) < kTimesReply) {
    warn(ui_, "Did not receive elapsed time");
    return 0;
  }
  // The words are taken into the run's clocks only once the whole read
  // succeeded, so that a failed read changes nothing.
  std::int64_t live_last = acq.live_word_last, live_wraps = acq.live_word_wraps;
  std::int64_t true_last = acq.true_word_last, true_wraps = acq.true_word_wraps;
  const std::int64_t live_ms = unwrap_time_word(be24(times, 6), live_last, live_wraps);
  const std::int64_t true_ms = unwrap_time_word(be24(times, 10), true_last, true_wraps);
  const auto live_s = static_cast<std::int32_t>(live_ms / 1000);
  const auto true_s = static_cast<std::int32_t>(true_ms / 1000);
  auto keep_time_words = [&] {
    acq.live_word_last = live_last;
    acq.live_word_wraps = live_wraps;
    acq.true_word_last = true_last;
    acq.true_word_wraps = true_wraps;
  };

  if (!full) {
    keep_time_words();
    acq.counts[0] = live_s;
    acq.counts[1] = true_s;
    char text[120];
    c_snprintf(text, sizeof text, " Elapsed Time is %ld, Preset is %d seconds",
               static_cast<long>(acq.counts[1]), static_cast<int>(s.params.preset_time));
    ui_.set_status(text);
    return 1;
  }

  if (!echo_command(kReadSpectrum)) {
    warn(ui_, "Could not send 0x94");
    return 0;
  }
  if (!send({0, 0, 0})) {
    warn(ui_, "Could not send back data");
    return 0;
  }
  std::vector<std::uint8_t> reply;
  if (wait_reply(kHeaderReply, reply) < kHeaderReply) {
    warn(ui_, "Did not get header data");
    return 0;
  }
  const int b = reply[kBytesPerChannelAt];
  // A refused header: the channels that follow it are let through and
  // dropped, so that they cannot pass for the answer to the next command.
  if (b < 1 || b > 4 || b == 3) port_.wait_until_quiet(kQuietMs);
  if (b < 1 || b > 4) {
    warn(ui_, "Invalid Bytes/chan");
    return 0;
  }
  if (b == 3) {
    char text[80];
    c_snprintf(text, sizeof text, "Bytes per channal was %d", b);
    warn(ui_, text);
    return 0;
  }
  const int channels = acquisition_channels(s.params);
  s.spectrum.header.channels = static_cast<std::int16_t>(channels);
  // The whole reply up to the last byte of the last channel.
  const int length = kLastByteOfChannel0 + (channels - 1) * b + 1;
  if (wait_reply(length, reply) < length) {
    warn(ui_, "Did not get spectral data");
    return 0;
  }
  for (int k = 0; k < channels; ++k) {
    const int end = kLastByteOfChannel0 + k * b;
    std::uint32_t v = 0;
    if (b == 4) v = be24(reply, end - 2);
    else if (b == 2) v = (std::uint32_t{reply[static_cast<std::size_t>(end - 1)]} << 8) | reply[static_cast<std::size_t>(end)];
    else v = reply[static_cast<std::size_t>(end)];
    acq.counts[static_cast<std::size_t>(k)] = static_cast<std::int32_t>(v);
  }
  keep_time_words();
  acq.counts[0] = live_s;
  acq.counts[1] = true_s;
  acq.new_data = true;
  s.hooks.data_changed();
  return 1;
}

}  // namespace kestrim
