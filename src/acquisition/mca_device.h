// Acquisition devices (serial and sound-card multichannel analysers): an
// optional capability that the front end supplies. A build without one
// says so and fails.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "acquisition/acquisition_run.h"
#include "acquisition/serial_port.h"

namespace kestrim {

class Platform;
class SerialMca;

class McaDevices {
 public:
  virtual ~McaDevices() = default;
  // The devices that can be opened now, by the names users choose them by.
  virtual std::vector<std::string> list() = 0;
  // Opens the serial MCA on `device` ("Initialised MCA %d successfully" or
  // the failure). 1 on success.
  virtual int initialise_serial(Platform& ui, const std::string& device, int mca_number) = 0;
  // The unit opened last, or null.
  virtual McaUnit* unit() = 0;
  // Closes the unit (at exit).
  virtual void close() = 0;
};

// The serial ports of this machine (/dev/ttyS*, /dev/ttyUSB*) and the
// serial MCA on one of them.
class SerialMcaDevices final : public McaDevices {
 public:
  explicit SerialMcaDevices(SerialTiming timing = {});
  ~SerialMcaDevices() override;
  std::vector<std::string> list() override;
  int initialise_serial(Platform& ui, const std::string& device, int mca_number) override;
  McaUnit* unit() override;
  void close() override;

 private:
  SerialTiming timing_;
  std::unique_ptr<SerialMca> mca_;
};

}  // namespace kestrim
