#include "reports/row_format.h"
#include "platform/c_locale.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/c_format.h"

namespace kestrim {

std::string format_row(std::string_view format, const std::vector<RowValue>& values) {
  std::string out;
  std::size_t next = 0;
  std::size_t i = 0;
  while (i < format.size()) {
    const char ch = format[i];
    if (ch != '%') {
      out += ch;
      ++i;
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      i += 2;
      continue;
    }
    // Flags, width, precision (digits only), length modifiers, conversion.
    std::size_t j = i + 1;
    while (j < format.size() && std::strchr("-+ #0", format[j]) != nullptr) ++j;
    while (j < format.size() && format[j] >= '0' && format[j] <= '9') ++j;
    if (j < format.size() && format[j] == '.') {
      ++j;
      while (j < format.size() && format[j] >= '0' && format[j] <= '9') ++j;
    }
    const std::size_t spec_end = j;
    while (j < format.size() && std::strchr("hlLqjzt", format[j]) != nullptr) ++j;
    if (j >= format.size()) {
      out.append(format.substr(i));
      break;
    }
    const char conv = format[j];
    std::string spec(format.substr(i, spec_end - i));
    const RowValue* v = next < values.size() ? &values[next] : nullptr;
    ++next;
    auto number = [&] {
      if (v == nullptr) return 0.0;
      return v->kind == RowValue::Kind::kNumber ? v->number : c_atof(v->text.c_str());
    };
    switch (conv) {
      case 's': {
        std::string text;
        if (v != nullptr)
          text = v->kind == RowValue::Kind::kText ? v->text : c_format("%g", v->number);
        out += c_format((spec + "s").c_str(), text.c_str());
        break;
      }
      case 'c': {
        int c = ' ';
        if (v != nullptr)
          c = v->kind == RowValue::Kind::kText ? (v->text.empty() ? ' ' : v->text[0])
                                               : static_cast<int>(v->number);
        out += c_format((spec + "c").c_str(), c);
        break;
      }
      case 'd': case 'i': case 'u': case 'o': case 'x': case 'X': {
        double d = number();
        long n = std::isfinite(d) && std::fabs(d) < 9e18 ? static_cast<long>(d) : 0;
        out += c_format((spec + "l" + conv).c_str(), n);
        break;
      }
      case 'e': case 'E': case 'f': case 'F': case 'g': case 'G':
        out += c_format((spec + conv).c_str(), number());
        break;
      default:
        // Not a conversion: copied as it stands, no value used.
        --next;
        out.append(format.substr(i, j + 1 - i));
        break;
    }
    i = j + 1;
  }
  return out;
}

double round_half_up_at(double value, double step) {
  if (!(step > 0)) return value;
  return std::floor(value / step + 0.5) * step;
}

double round_up_at(double value, double step) {
  if (!(step > 0)) return value;
  // A quotient a hair above a whole number is that number (2.5 / 0.1).
  return std::ceil(value / step - 1e-9) * step;
}

}  // namespace kestrim
