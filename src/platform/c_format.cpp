#include "platform/c_format.h"
#include "platform/c_locale.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace kestrim {
namespace {

// Widens each two-digit exponent of a formatted number ("e+05" -> "e+005").
std::string widen_exponent(std::string text) {
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    if ((text[i] != 'e' && text[i] != 'E') || (text[i + 1] != '+' && text[i + 1] != '-')) continue;
    std::size_t digits = 0;
    while (i + 2 + digits < text.size() && text[i + 2 + digits] >= '0' && text[i + 2 + digits] <= '9')
      ++digits;
    if (digits == 2) text.insert(i + 2, 1, '0');
  }
  return text;
}

// Pads `body` (a formatted number without width) to `width` as the flags ask.
std::string pad(std::string body, int width, bool left, bool zero) {
  if (width <= 0 || static_cast<int>(body.size()) >= width) return body;
  std::size_t fill = static_cast<std::size_t>(width) - body.size();
  if (left) return body + std::string(fill, ' ');
  if (zero) {
    // Zeros go after a sign or blank flag character.
    std::size_t at = (!body.empty() && (body[0] == '-' || body[0] == '+' || body[0] == ' ')) ? 1 : 0;
    body.insert(at, fill, '0');
    return body;
  }
  return std::string(fill, ' ') + body;
}

}  // namespace

std::string c_vformat(const char* fmt, std::va_list args) {
  std::string out;
  char buf[512];
  const char* p = fmt;
  while (*p) {
    if (*p != '%') {
      out += *p++;
      continue;
    }
    const char* start = p++;
    if (*p == '%') {
      out += '%';
      ++p;
      continue;
    }
    std::string flags;
    while (*p && std::strchr("-+ #0", *p)) flags += *p++;
    int width = -1;
    if (*p == '*') {
      width = va_arg(args, int);
      if (width < 0) {
        flags += '-';
        width = -width;
      }
      ++p;
    } else if (*p >= '0' && *p <= '9') {
      width = 0;
      while (*p >= '0' && *p <= '9' && width < 10000) width = width * 10 + (*p++ - '0');
      while (*p >= '0' && *p <= '9') ++p;
    }
    int precision = -1;
    if (*p == '.') {
      ++p;
      precision = 0;
      if (*p == '*') {
        precision = va_arg(args, int);
        ++p;
      } else {
        while (*p >= '0' && *p <= '9' && precision < 10000) precision = precision * 10 + (*p++ - '0');
        while (*p >= '0' && *p <= '9') ++p;
      }
    }
    if (width > 400) width = 400;
    if (precision > 100) precision = 100;
    std::string length;
    while (*p && std::strchr("hlLzjt", *p)) length += *p++;
    char conv = *p;
    if (conv == 0) {
      out.append(start);
      break;
    }
    ++p;
    // The conversion rebuilt with a fixed width and precision.
    std::string spec = "%" + flags;
    if (width >= 0) spec += std::to_string(width);
    if (precision >= 0) spec += "." + std::to_string(precision);
    switch (conv) {
      case 'd':
      case 'i': {
        long long v;
        if (length == "l") v = va_arg(args, long);
        else if (length == "ll") v = va_arg(args, long long);
        else if (length == "z") v = static_cast<long long>(va_arg(args, std::size_t));
        else v = va_arg(args, int);
        if (length == "h") v = static_cast<short>(v);
        if (length == "hh") v = static_cast<signed char>(v);
        c_snprintf(buf, sizeof buf, (spec + "lld").c_str(), v);
        out += buf;
        break;
      }
      case 'u':
      case 'o':
      case 'x':
      case 'X': {
        unsigned long long v;
        if (length == "l") v = va_arg(args, unsigned long);
        else if (length == "ll") v = va_arg(args, unsigned long long);
        else if (length == "z") v = va_arg(args, std::size_t);
        else v = va_arg(args, unsigned int);
        if (length == "h") v = static_cast<unsigned short>(v);
        if (length == "hh") v = static_cast<unsigned char>(v);
        c_snprintf(buf, sizeof buf, (spec + "ll" + conv).c_str(), v);
        out += buf;
        break;
      }
      case 'c': {
        int v = va_arg(args, int);
        c_snprintf(buf, sizeof buf, (spec + "c").c_str(), v);
        out += buf;
        break;
      }
      case 's': {
        const char* v = va_arg(args, const char*);
        if (!v) v = "(null)";
        std::string body = precision >= 0 ? std::string(v, strnlen(v, static_cast<std::size_t>(precision)))
                                          : std::string(v);
        out += pad(body, width, flags.find('-') != std::string::npos, false);
        break;
      }
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G': {
        double v = length == "L" ? static_cast<double>(va_arg(args, long double)) : va_arg(args, double);
        if (conv == 'f' || conv == 'F') {
          c_snprintf(buf, sizeof buf, (spec + conv).c_str(), v);
          out += buf;
          break;
        }
        // Formatted without the width, widened, then padded.
        std::string bare = "%";
        for (char f : flags)
          if (f != '-' && f != '0') bare += f;
        if (precision >= 0) bare += "." + std::to_string(precision);
        bare += conv;
        c_snprintf(buf, sizeof buf, bare.c_str(), v);
        out += pad(widen_exponent(buf), width, flags.find('-') != std::string::npos,
                   flags.find('0') != std::string::npos);
        break;
      }
      default:
        out.append(start, p);
        break;
    }
  }
  return out;
}

std::string c_format(const char* fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  std::string s = c_vformat(fmt, args);
  va_end(args);
  return s;
}

std::string tidy_exponents(std::string_view line) {
  std::string s(line);
  const auto digit = [&](std::size_t k) { return k < s.size() && s[k] >= '0' && s[k] <= '9'; };
  const auto alnum = [&](std::size_t k) {
    return k < s.size() && (std::isalnum(static_cast<unsigned char>(s[k])) || s[k] == '_');
  };
  // Only a number as c_format writes it: a digit or point, 'e', a sign and
  // three digits of which the first is '0', not followed by more of a word
  // ("site_e2019.dat" and "1e+0123x" stay as they are).
  for (std::size_t i = 1; i + 4 < s.size(); ++i) {
    if (s[i] != 'e' || !(digit(i - 1) || s[i - 1] == '.')) continue;
    if (s[i + 1] != '+' && s[i + 1] != '-') continue;
    if (s[i + 2] != '0' || !digit(i + 3) || !digit(i + 4) || alnum(i + 5)) continue;
    s.erase(i + 2, 1);
  }
  return s;
}

int count_conversions(std::string_view format) {
  int n = 0;
  for (std::size_t i = 0; i < format.size(); ++i)
    if (format[i] == '%' && (i + 1 >= format.size() || format[i + 1] != '%')) ++n;
  return n;
}

}  // namespace kestrim
