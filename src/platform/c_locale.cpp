#include "platform/c_locale.h"

#include <locale.h>

#include <cstdlib>

namespace kestrim {

namespace {

// The "C" locale, made once and never changed.
locale_t c_numeric_locale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return locale;
}

// Switches the calling thread to the "C" locale while it lives.
class CLocaleScope {
 public:
  CLocaleScope() : previous_(uselocale(c_numeric_locale())) {}
  ~CLocaleScope() { uselocale(previous_); }
  CLocaleScope(const CLocaleScope&) = delete;
  CLocaleScope& operator=(const CLocaleScope&) = delete;

 private:
  locale_t previous_;
};

}  // namespace

int c_vsnprintf(char* buffer, std::size_t size, const char* format, std::va_list args) {
  CLocaleScope scope;
  return std::vsnprintf(buffer, size, format, args);
}

int c_snprintf(char* buffer, std::size_t size, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const int n = c_vsnprintf(buffer, size, format, args);
  va_end(args);
  return n;
}

int c_fprintf(std::FILE* stream, const char* format, ...) {
  CLocaleScope scope;
  std::va_list args;
  va_start(args, format);
  const int n = std::vfprintf(stream, format, args);
  va_end(args);
  return n;
}

int c_printf(const char* format, ...) {
  CLocaleScope scope;
  std::va_list args;
  va_start(args, format);
  const int n = std::vprintf(format, args);
  va_end(args);
  return n;
}

int c_sscanf(const char* text, const char* format, ...) {
  CLocaleScope scope;
  std::va_list args;
  va_start(args, format);
  const int n = std::vsscanf(text, format, args);
  va_end(args);
  return n;
}

double c_strtod(const char* text, char** end) { return strtod_l(text, end, c_numeric_locale()); }

double c_atof(const char* text) { return c_strtod(text, nullptr); }

}  // namespace kestrim
