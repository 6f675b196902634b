#include "acquisition/mca_simulator.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "acquisition/mca_protocol.h"
#include "spectrum/spectrum_record.h"

namespace kestrim {

namespace {

using mca_protocol::kClearMemory;
using mca_protocol::kStartStop;
using mca_protocol::kReadTimes;
using mca_protocol::kReadSpectrum;
using mca_protocol::kTimesReply;
using mca_protocol::kLastByteOfChannel0;

void put_be24(std::vector<std::uint8_t>& b, int at, std::uint64_t v) {
  b[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(v >> 16);
  b[static_cast<std::size_t>(at + 1)] = static_cast<std::uint8_t>(v >> 8);
  b[static_cast<std::size_t>(at + 2)] = static_cast<std::uint8_t>(v);
}

bool write_all(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EINTR)) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, 1000) <= 0) return false;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

std::vector<double> rates_from_spectrum(const SpectrumRecord& rec, double scale) {
  std::vector<double> rates(static_cast<std::size_t>(rec.header.channels > 0 ? rec.header.channels : 0), 0.0);
  const double live = rec.header.live_time > 0 ? rec.header.live_time : 1.0;
  for (std::size_t k = 2; k < rates.size(); ++k) {
    const double c = rec.counts[k];
    rates[k] = c > 0 ? c / live * scale : 0.0;
  }
  return rates;
}

McaSimulator::McaSimulator(McaSimulatorOptions options) : options_(std::move(options)) {
  options_.rates.resize(static_cast<std::size_t>(options_.channels), 0.0);
}

McaSimulator::~McaSimulator() {
  if (server_.joinable()) {
    const char end = 1;
    while (::write(wake_[1], &end, 1) < 0 && errno == EINTR) {
    }
    server_.join();
  }
  close_line();
  for (int& w : wake_) {
    if (w >= 0) ::close(w);
    w = -1;
  }
}

bool McaSimulator::open(std::string& error) {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
    error = "cannot open a pseudo-terminal";
    return false;
  }
  char name[128];
  if (::ptsname_r(master_, name, sizeof name) != 0) {
    error = "cannot name the pseudo-terminal";
    return false;
  }
  device_ = name;
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) {
    error = "cannot open " + device_;
    return false;
  }
  // Raw at once, so that the line discipline neither echoes nor edits
  // what passes before the program sets the line up itself.
  termios t{};
  ::tcgetattr(slave_, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(slave_, TCSANOW, &t);
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  if (::pipe2(wake_, O_CLOEXEC) != 0) {
    error = "cannot make a pipe";
    return false;
  }
  server_ = std::thread([this] { serve(); });
  return true;
}

void McaSimulator::close_line() {
  if (master_ >= 0) ::close(master_);
  if (slave_ >= 0) ::close(slave_);
  master_ = slave_ = -1;
}

void McaSimulator::advance_ms(std::int64_t ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (counting_) true_ms_ += ms;
}

void McaSimulator::inject(SimFault fault, std::uint8_t command, int value) {
  std::lock_guard<std::mutex> lock(mutex_);
  fault_ = fault;
  fault_command_ = command;
  fault_value_ = value;
}

void McaSimulator::unplug() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (line_closed_ || !server_.joinable()) return;
  unplugged_ = true;
  // The server thread closes the line when its wake pipe says so.
  const char wake = 2;
  while (::write(wake_[1], &wake, 1) < 0 && errno == EINTR) {
  }
  changed_.wait(lock, [&] { return line_closed_; });
}



std::uint64_t McaSimulator::count(int channel) const {
  const double live_s = std::floor(static_cast<double>(true_ms_) * options_.live_fraction) / 1000.0;
  return static_cast<std::uint64_t>(std::floor(options_.rates[static_cast<std::size_t>(channel)] * live_s));
}

McaSimulator::Reading McaSimulator::reading() const {
  std::lock_guard<std::mutex> lock(mutex_);
  Reading r;
  r.true_ms = true_ms_;
  r.live_ms = static_cast<std::int64_t>(std::floor(static_cast<double>(true_ms_) * options_.live_fraction));
  r.counting = counting_;
  r.counts.resize(static_cast<std::size_t>(options_.channels), 0);
  for (int k = 2; k < options_.channels; ++k) r.counts[static_cast<std::size_t>(k)] = count(k);
  return r;
}

int McaSimulator::commands() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return commands_;
}

bool McaSimulator::unplugged() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return unplugged_;
}

bool McaSimulator::wait_commands(int n, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return commands_ >= n || unplugged_; });
}

std::vector<std::uint8_t> McaSimulator::times_reply() const {
  std::vector<std::uint8_t> b(kTimesReply, 0);
  b[0] = kReadTimes;
  const auto live = static_cast<std::uint64_t>(std::floor(static_cast<double>(true_ms_) * options_.live_fraction));
  put_be24(b, 6, live);
  put_be24(b, 10, static_cast<std::uint64_t>(true_ms_));
  return b;
}

std::vector<std::uint8_t> McaSimulator::spectrum_reply() const {
  const int b = options_.bytes_per_channel;
  const int c = options_.channels;
  std::vector<std::uint8_t> out(static_cast<std::size_t>(kLastByteOfChannel0 + (c - 1) * b + 1), 0);
  out[0] = kReadSpectrum;
  out[40] = static_cast<std::uint8_t>(b);
  for (int k = 0; k < c; ++k) {
    const std::uint64_t v = k >= 2 ? count(k) : 0;
    const int end = kLastByteOfChannel0 + k * b;
    for (int i = 0; i < b; ++i)
      out[static_cast<std::size_t>(end - i)] = static_cast<std::uint8_t>(v >> (8 * i));
  }
  return out;
}

// Sends one reply, or what an armed fault makes of it.
bool McaSimulator::reply(std::uint8_t command, std::vector<std::uint8_t> bytes, bool echo) {
  SimFault fault = SimFault::kNone;
  int value = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fault_ != SimFault::kNone && (fault_command_ == 0 || fault_command_ == command)) {
      const bool for_echo = fault_ == SimFault::kWrongEcho || fault_ == SimFault::kLineNoise;
      const bool for_data = fault_ == SimFault::kShortReply || fault_ == SimFault::kBadBytesPerChannel ||
                            fault_ == SimFault::kUnplugMidRead;
      const bool spectrum_data = !echo && command == kReadSpectrum;
      if (fault_ == SimFault::kNoAnswer || (for_echo && echo) || (for_data && !echo &&
          (fault_ == SimFault::kShortReply || spectrum_data))) {
        fault = fault_;
        value = fault_value_;
        fault_ = SimFault::kNone;
      }
    }
  }
  switch (fault) {
    case SimFault::kNone: break;
    case SimFault::kNoAnswer: return !echo;
    case SimFault::kShortReply: bytes.pop_back(); break;
    case SimFault::kWrongEcho:
      bytes[0] = static_cast<std::uint8_t>(bytes[0] ^ 0x5A);
      write_all(master_, bytes);
      return false;
    case SimFault::kLineNoise: {
      std::vector<std::uint8_t> noise(7);
      for (auto& n : noise) {
        noise_ ^= noise_ << 13;
        noise_ ^= noise_ >> 17;
        noise_ ^= noise_ << 5;
        n = static_cast<std::uint8_t>(noise_);
      }
      if (noise[0] == bytes[0]) noise[0] = static_cast<std::uint8_t>(~bytes[0]);
      noise.insert(noise.end(), bytes.begin(), bytes.end());
      write_all(master_, noise);
      return false;
    }
    case SimFault::kBadBytesPerChannel: bytes[40] = static_cast<std::uint8_t>(value); break;
    case SimFault::kUnplugMidRead: {
      bytes.resize(bytes.size() / 2);
      write_all(master_, bytes);
      ::tcdrain(master_);
      std::lock_guard<std::mutex> lock(mutex_);
      unplugged_ = true;
      close_line();
      line_closed_ = true;
      changed_.notify_all();
      return true;
    }
  }
  write_all(master_, bytes);
  return true;
}

void McaSimulator::handle(std::uint8_t byte) {
  // A packet left unfinished for a second is given up, as the unit does.
  const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
  if (expect_ != Expect::kCommand && now - packet_started_ms_ > 1000) expect_ = Expect::kCommand;
  switch (expect_) {
    case Expect::kStartStopPacket:
      packet_.push_back(byte);
      if (packet_.size() == 12) {
        expect_ = Expect::kCommand;
        std::lock_guard<std::mutex> lock(mutex_);
        if (packet_[1] == 1) counting_ = true;
        else if (packet_[1] == 0 && packet_[3] == 1) counting_ = false;
        ++commands_;
        changed_.notify_all();
      }
      return;
    case Expect::kSpectrumAck:
      packet_.push_back(byte);
      if (packet_.size() == 3) {
        expect_ = Expect::kCommand;
        std::vector<std::uint8_t> data;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          data = spectrum_reply();
        }
        reply(kReadSpectrum, std::move(data), false);
        std::lock_guard<std::mutex> lock(mutex_);
        ++commands_;
        changed_.notify_all();
      }
      return;
    case Expect::kCommand: break;
  }
  switch (byte) {
    case kClearMemory:
      if (reply(byte, {byte}, true)) {
        std::lock_guard<std::mutex> lock(mutex_);
        true_ms_ = 0;
      }
      break;
    case kStartStop:
      if (!reply(byte, {byte}, true)) break;
      packet_.clear();
      packet_started_ms_ = now;
      expect_ = Expect::kStartStopPacket;
      return;
    case kReadSpectrum:
      if (!reply(byte, {byte}, true)) break;
      packet_.clear();
      packet_started_ms_ = now;
      expect_ = Expect::kSpectrumAck;
      return;
    case kReadTimes: {
      std::vector<std::uint8_t> data;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        data = times_reply();
      }
      reply(byte, std::move(data), false);
      break;
    }
    default: return;  // not a command: ignored
  }
  std::lock_guard<std::mutex> lock(mutex_);
  ++commands_;
  changed_.notify_all();
}

void McaSimulator::serve() {
  std::vector<std::uint8_t> chunk(4096);
  for (;;) {
    if (master_ < 0) {
      // The line is gone: wait for the end.
      pollfd w{wake_[0], POLLIN, 0};
      ::poll(&w, 1, -1);
      return;
    }
    pollfd fds[2] = {{wake_[0], POLLIN, 0}, {master_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents != 0) {
      char why = 0;
      if (::read(wake_[0], &why, 1) == 1 && why == 2) {
        std::lock_guard<std::mutex> lock(mutex_);
        close_line();
        line_closed_ = true;
        changed_.notify_all();
        continue;
      }
      return;
    }
    const ssize_t n = ::read(master_, chunk.data(), chunk.size());
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) {
      // No program holds the line (cannot happen while our own end is
      // open); wait a moment rather than spin.
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    for (ssize_t i = 0; i < n; ++i) {
      handle(chunk[static_cast<std::size_t>(i)]);
      if (master_ < 0) break;
    }
  }
}

}  // namespace kestrim
