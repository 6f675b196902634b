#include "acquisition/mca_device.h"

#include <algorithm>

#include "acquisition/serial_mca.h"
#include "platform/files.h"

namespace kestrim {

SerialMcaDevices::SerialMcaDevices(SerialTiming timing) : timing_(timing) {}
SerialMcaDevices::~SerialMcaDevices() = default;

std::vector<std::string> SerialMcaDevices::list() {
  std::vector<std::string> out;
  for (const std::string& name : list_directory("/dev")) {
    if (name.rfind("ttyS", 0) == 0 || name.rfind("ttyUSB", 0) == 0) out.push_back("/dev/" + name);
  }
  std::sort(out.begin(), out.end());
  return out;
}

int SerialMcaDevices::initialise_serial(Platform& ui, const std::string& device, int mca_number) {
  if (!mca_) mca_ = std::make_unique<SerialMca>(ui, timing_);
  return mca_->initialise(device, mca_number);
}

McaUnit* SerialMcaDevices::unit() { return mca_.get(); }

void SerialMcaDevices::close() {
  if (mca_) mca_->close();
}

}  // namespace kestrim
