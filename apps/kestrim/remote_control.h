// Remote control of an acquisition by another program, over a local
// (Unix-domain) stream socket: `kestrim acquire ... --control PATH`. One
// client at a time; each request and reply is a line of text:
//
//   request  reply          meaning
//   1        1 R            register this client; R = 1 when the MCA was
//                           initialised (always, once the command runs)
//   2        2 R            stop a running collection, wait 1000 ms, start
//                           a fresh one; R = 1 when it started
//   3        3 1            stop the collection (the counts are saved)
//   4        (none)         end the program (a running collection is
//                           stopped and saved first)
//   (sent)   0 CPS          after each analysed sound-card buffer, to a
//                           registered client: accepted counts per second
//
// Anything else is answered "? unknown request". While a client is
// registered a stopped collection does not end the command: it waits for
// the next request until "4" or Ctrl-C.
#pragma once

#include <string>

namespace kestrim::cli {

class RemoteControl {
 public:
  RemoteControl() = default;
  ~RemoteControl();
  RemoteControl(const RemoteControl&) = delete;
  RemoteControl& operator=(const RemoteControl&) = delete;

  // Listens at `path` (a socket left there is replaced). false with the
  // reason in `error`.
  bool listen(const std::string& path, std::string& error);
  bool active() const { return listener_ >= 0; }
  bool registered() const { return registered_; }

  // Accepts a waiting client and reads one complete request line without
  // blocking: 1-4 for a request, 0 for none.
  int poll();
  // Sends one line to the client (dropped when none is connected).
  void send(const std::string& line);
  // Marks the client registered (request 1).
  void set_registered() { registered_ = true; }

 private:
  int listener_ = -1;
  int client_ = -1;
  bool registered_ = false;
  std::string path_;
  std::string pending_;
};

}  // namespace kestrim::cli
