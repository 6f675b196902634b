// A simulated temperature logger with the calls of the vendor's library
// (th03_open_unit, th03_set_channel, th03_get_temp, th03_close_unit), built
// as a shared library for the tests of the temperature gain correction.
// Units 1 to 8 open. The temperature, in hundredths of a degree Celsius,
// is read at each call from the file named by KESTRIM_SIM_LOGGER_FILE
// (20.00 degrees without one), so that a test sets it from outside.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" {

short th03_open_unit(short unit) { return unit >= 1 && unit <= 8 ? 1 : 0; }

short th03_set_channel(short unit, short channel, short type, short filter) {
  return unit >= 1 && unit <= 8 && channel == 1 && type == 1 && filter > 0 ? 1 : 0;
}

short th03_get_temp(std::int32_t* hundredths, short unit, short channel, short filtered) {
  if (hundredths == nullptr || unit < 1 || unit > 8 || channel != 1) return 0;
  (void)filtered;
  std::int32_t value = 2000;
  const char* path = std::getenv("KESTRIM_SIM_LOGGER_FILE");
  if (path != nullptr) {
    if (std::FILE* f = std::fopen(path, "rb")) {
      char text[32] = {};
      const std::size_t n = std::fread(text, 1, sizeof text - 1, f);
      std::fclose(f);
      std::from_chars(text, text + n, value);
    }
  }
  *hundredths = value;
  return 1;
}

short th03_close_unit(short unit) { return unit >= 1 && unit <= 8 ? 1 : 0; }

}  // extern "C"
