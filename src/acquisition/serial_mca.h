// The serial MCA (RX720) on a serial line: its command exchanges.
//
// Every multi-byte value on the wire is big-endian; byte positions count
// from the first byte received after the last send.
//   clear memory  echo command 0x92
//   start         echo command 0xA6, then 00 01 01 00 00 00 00 00 00 00 00 00
//   stop          echo command 0xA6, then 00 00 01 01 00 00 00 00 00 00 00 00
//   read times    0xA5 -> at least 33 bytes; bytes 6-8 the live time, bytes
//                 10-12 the elapsed time, 24-bit counts of milliseconds
//   read spectrum echo command 0x94, then 00 00 00 -> a 55-byte header whose
//                 byte 40 is the bytes per channel b (1, 2 or 4); channel k
//                 ends at byte 70 + k*b (b = 4: the low three bytes of the
//                 group count)
// An echo command is one byte that the MCA sends back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "acquisition/acquisition_run.h"
#include "acquisition/serial_port.h"

namespace kestrim {

// The device of serial port number `port` (1 = the first): /dev/ttyS{N-1}
// when it exists, else /dev/ttyUSB{N-1}.
std::string serial_device_for_port(int port);

class SerialMca final : public McaUnit {
 public:
  explicit SerialMca(Platform& ui, SerialTiming timing = {});

  // Opens the line to the MCA ("Initialising the MCA", then "Checking MCA
  // Communication"): "Initialised MCA %d successfully" with `mca_number`,
  // or the failure as a warning. 1 on success.
  int initialise(const std::string& device, int mca_number);
  void close() { port_.close(); }
  bool is_open() const { return port_.is_open(); }

  int start(AcquisitionSession& s, bool fresh) override;
  int stop(AcquisitionSession& s) override;
  int read(AcquisitionSession& s, bool full) override;
  bool lost() const override { return port_.line_failed(); }

  // The primitives: send bytes ("Could not send data to MCA, error %d"),
  // wait for a reply of `n` bytes (the bytes received, or -1 after "Error
  // receiving data from the MCA"), and an echo command.
  bool send(const std::vector<std::uint8_t>& bytes);
  int wait_reply(int n, std::vector<std::uint8_t>& reply);
  bool echo_command(std::uint8_t command);

 private:
  bool stop_sequence();

  Platform& ui_;
  SerialPort port_;
};

// Extends a 24-bit millisecond time word that wraps every 4.66 hours: a word
// that falls from the top ten minutes of its range to the bottom ten
// minutes has wrapped. `last` is the previous word of this run (-1 none)
// and `wraps` the wraps counted so far; both are updated.
std::int64_t unwrap_time_word(std::uint32_t word, std::int64_t& last, std::int64_t& wraps);

}  // namespace kestrim
