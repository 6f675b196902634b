// Acquisition devices (serial and sound-card multichannel analysers): an
// optional capability that the front end supplies. A build without one
// says so and fails.
#pragma once

#include <string>
#include <vector>

namespace kestrim {

class McaDevices {
 public:
  virtual ~McaDevices() = default;
  // The devices that can be opened now, by the names users choose them by.
  virtual std::vector<std::string> list() = 0;
};

}  // namespace kestrim
