// A serial port opened for the serial MCA: POSIX termios, 38400 baud, 8 data
// bits, no parity, one stop bit, raw, opened exclusively. A receive thread
// appends what arrives to a buffer; the sender resets the buffer with each
// send and waits until the reply has the length it expects.
//
// The buffer, its count and the line-error state are shared between the two
// threads under one mutex; the waiting sender is woken by a condition
// variable and copies the bytes out under the same lock, so it never sees
// half-written bytes.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestrim {

// The pacing of every exchange. The defaults are those the MCA expects; the
// tests that drive the simulator set the sleeps to 0 and shorten the
// time-out of a missing reply.
struct SerialTiming {
  int before_send_ms = 100;
  int after_send_ms = 25;
  int reply_timeout_ms = 3000;
};

class SerialPort {
 public:
  // Large enough for the 55-byte header and 4096 channels of 4 bytes (the
  // last channel byte lies at 70 + 4095 x 4).
  static constexpr int kBufferSize = 16456;

  SerialPort() = default;
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  enum class OpenResult { kOk, kCannotOpen, kCannotConfigure };
  // Opens `path` for reading and writing, exclusively (TIOCEXCL and an
  // advisory lock, so that a second program cannot share the line), sets
  // the line, flushes both queues and starts the receive thread. A port
  // already open is closed first. `error` receives errno on failure.
  OpenResult open(const std::string& path, int& error);
  void close();
  bool is_open() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

  // Sets the received count to 0 and writes `bytes`, with the pacing
  // sleeps around the write. False with errno in `error` when the write
  // fails.
  bool send(const std::vector<std::uint8_t>& bytes, int& error);

  // Waits until `n` bytes arrived since the last send, the line failed or
  // the reply time-out passed. Returns the number of bytes received and
  // copies them (at most `n`) into `out`; `line_error` tells whether the
  // line failed (the device was unplugged or the read failed).
  int wait_for(int n, std::vector<std::uint8_t>& out, bool& line_error);

  // Waits until no byte has arrived for `quiet_ms` (at most the reply
  // time-out), so that the rest of a reply that was refused part-way does
  // not reach the next exchange.
  void wait_until_quiet(int quiet_ms);

  // The line failed: reads return errors or the device went away.
  bool line_failed() const;

  void set_timing(const SerialTiming& timing) { timing_ = timing; }
  const SerialTiming& timing() const { return timing_; }

 private:
  void receive_loop();

  int fd_ = -1;
  int wake_[2] = {-1, -1};  // pipe that ends the receive thread
  std::string path_;
  SerialTiming timing_;
  std::thread receiver_;

  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(kBufferSize, 0);
  int count_ = 0;           // valid bytes in buffer_
  int line_error_ = 0;      // errno of the failed read, or EIO on hang-up
};

}  // namespace kestrim
