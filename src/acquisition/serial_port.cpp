#include "acquisition/serial_port.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace kestrim {

namespace {

void sleep_ms(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

SerialPort::~SerialPort() { close(); }

SerialPort::OpenResult SerialPort::open(const std::string& path, int& error) {
  close();
  error = 0;
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return OpenResult::kCannotOpen;
  }
  // Exclusive: no further opens of the line (TIOCEXCL), and an advisory
  // lock that also keeps out a second program running with privileges.
  if (!::isatty(fd) || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
    error = errno != 0 ? errno : ENOTTY;
    ::close(fd);
    return OpenResult::kCannotOpen;
  }
  termios t{};
  if (::tcgetattr(fd, &t) != 0) {
    error = errno;
    ::close(fd);
    return OpenResult::kCannotConfigure;
  }
  ::cfmakeraw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 1;  // with O_NONBLOCK an empty line reads as EAGAIN
  t.c_cc[VTIME] = 0;
  if (::cfsetispeed(&t, B38400) != 0 || ::cfsetospeed(&t, B38400) != 0 ||
      ::tcsetattr(fd, TCSANOW, &t) != 0) {
    error = errno;
    ::close(fd);
    return OpenResult::kCannotConfigure;
  }
  ::tcflush(fd, TCIOFLUSH);
  if (::pipe2(wake_, O_CLOEXEC) != 0) {
    error = errno;
    ::close(fd);
    return OpenResult::kCannotOpen;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    count_ = 0;
    line_error_ = 0;
  }
  fd_ = fd;
  path_ = path;
  receiver_ = std::thread([this] { receive_loop(); });
  return OpenResult::kOk;
}

void SerialPort::close() {
  if (receiver_.joinable()) {
    const char end = 1;
    while (::write(wake_[1], &end, 1) < 0 && errno == EINTR) {
    }
    receiver_.join();
  }
  for (int& w : wake_) {
    if (w >= 0) ::close(w);
    w = -1;
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void SerialPort::receive_loop() {
  std::vector<std::uint8_t> chunk(4096);
  bool reading = true;  // false once the line failed: only the end is awaited
  for (;;) {
    pollfd fds[2] = {{wake_[0], POLLIN, 0}, {fd_, static_cast<short>(reading ? POLLIN : 0), 0}};
    const int ready = ::poll(fds, reading ? 2 : 1, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      std::lock_guard<std::mutex> lock(mutex_);
      line_error_ = errno;
      arrived_.notify_all();
      return;
    }
    if (fds[0].revents != 0) return;
    if (!reading || fds[1].revents == 0) continue;
    // Read what the driver holds; a hang-up after the last bytes still
    // delivers them first. Reading and appending happen under the lock, so
    // that a send, which empties the line's input and the buffer under the
    // same lock, never finds bytes read before it appended after it.
    std::lock_guard<std::mutex> lock(mutex_);
    for (;;) {
      const ssize_t n = ::read(fd_, chunk.data(), chunk.size());
      if (n > 0) {
        // Bytes beyond the buffer are dropped (no reply is that long).
        const int room = kBufferSize - count_;
        const int take = static_cast<int>(n) < room ? static_cast<int>(n) : room;
        for (int i = 0; i < take; ++i)
          buffer_[static_cast<std::size_t>(count_ + i)] = chunk[static_cast<std::size_t>(i)];
        count_ += take;
        arrived_.notify_all();
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      // Nothing more for now (a tty answers 0 or EAGAIN), unless the line
      // hung up.
      const bool drained = n == 0 || errno == EAGAIN || errno == EWOULDBLOCK;
      if (drained && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) == 0) break;
      // A read error or a hang-up: the device has gone.
      line_error_ = n < 0 && !drained ? errno : EIO;
      reading = false;
      arrived_.notify_all();
      break;
    }
  }
}

bool SerialPort::send(const std::vector<std::uint8_t>& bytes, int& error) {
  error = 0;
  sleep_ms(timing_.before_send_ms);
  if (fd_ < 0) {
    error = EBADF;
    return false;
  }
  {
    // Every reply is read from the start of the buffer: what is left of an
    // earlier reply (late or unasked-for bytes) is dropped.
    std::lock_guard<std::mutex> lock(mutex_);
    ::tcflush(fd_, TCIFLUSH);
    count_ = 0;
  }
  std::size_t done = 0;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timing_.reply_timeout_ms);
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) {
        error = ETIMEDOUT;
        return false;
      }
      pollfd p{fd_, POLLOUT, 0};
      ::poll(&p, 1, static_cast<int>(left));
      continue;
    }
    error = n < 0 ? errno : EIO;
    if (error == EIO || error == ENXIO || error == ENODEV) {
      // The device has gone.
      std::lock_guard<std::mutex> lock(mutex_);
      line_error_ = error;
      arrived_.notify_all();
    }
    return false;
  }
  sleep_ms(timing_.after_send_ms);
  return true;
}

int SerialPort::wait_for(int n, std::vector<std::uint8_t>& out, bool& line_error) {
  if (n > kBufferSize) n = kBufferSize;
  std::unique_lock<std::mutex> lock(mutex_);
  arrived_.wait_for(lock, std::chrono::milliseconds(timing_.reply_timeout_ms),
                    [&] { return count_ >= n || line_error_ != 0; });
  line_error = count_ < n && line_error_ != 0;
  const int got = count_;
  const int copy = got < n ? got : n;
  out.assign(buffer_.begin(), buffer_.begin() + copy);
  return got;
}

void SerialPort::wait_until_quiet(int quiet_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timing_.reply_timeout_ms);
  while (line_error_ == 0 && std::chrono::steady_clock::now() < deadline) {
    const int seen = count_;
    if (!arrived_.wait_for(lock, std::chrono::milliseconds(quiet_ms),
                           [&] { return count_ != seen || line_error_ != 0; }))
      return;
  }
}

bool SerialPort::line_failed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return line_error_ != 0;
}

}  // namespace kestrim
