#include "remote_control.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace kestrim::cli {

RemoteControl::~RemoteControl() {
  if (client_ >= 0) ::close(client_);
  if (listener_ >= 0) {
    ::close(listener_);
    ::unlink(path_.c_str());
  }
}

bool RemoteControl::listen(const std::string& path, std::string& error) {
  sockaddr_un addr{};
  if (path.size() >= sizeof addr.sun_path) {
    error = "the control socket path is too long: " + path;
    return false;
  }
  struct stat st{};
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      error = "the control socket path names a file that is not a socket: " + path;
      return false;
    }
    ::unlink(path.c_str());
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::string("cannot make the control socket: ") + std::strerror(errno);
    return false;
  }
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 1) != 0) {
    error = "cannot listen at " + path + ": " + std::strerror(errno);
    ::close(fd);
    return false;
  }
  listener_ = fd;
  path_ = path;
  return true;
}

int RemoteControl::poll() {
  if (listener_ < 0) return 0;
  if (client_ < 0) {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return 0;
    client_ = fd;
    registered_ = false;
    pending_.clear();
  }
  char buf[256];
  for (;;) {
    const ssize_t n = ::recv(client_, buf, sizeof buf, 0);
    if (n > 0) {
      pending_.append(buf, static_cast<std::size_t>(n));
      continue;
    }
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      // The client went away: the next one may register.
      ::close(client_);
      client_ = -1;
      registered_ = false;
    }
    break;
  }
  const std::size_t end = pending_.find('\n');
  if (end == std::string::npos) return 0;
  std::string line = pending_.substr(0, end);
  pending_.erase(0, end + 1);
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  if (line.size() == 1 && line[0] >= '1' && line[0] <= '4') return line[0] - '0';
  send("? unknown request");
  return 0;
}

void RemoteControl::send(const std::string& line) {
  if (client_ < 0) return;
  const std::string text = line + "\n";
  ::send(client_, text.data(), text.size(), MSG_NOSIGNAL);
}

}  // namespace kestrim::cli
