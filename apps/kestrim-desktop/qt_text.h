// The program's strings (UTF-8, as the reports and files hold them) as Qt
// strings, up to the first NUL as a C string would be read.
#pragma once

#include <QString>

#include <string_view>

namespace kestrim::desktop {

inline QString qs(std::string_view s) {
  const std::size_t end = s.find('\0');
  if (end != std::string_view::npos) s = s.substr(0, end);
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace kestrim::desktop
