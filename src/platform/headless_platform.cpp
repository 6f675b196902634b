#include "platform/headless_platform.h"

#include <unistd.h>

#include <string>

namespace kestrim {

HeadlessPlatform::HeadlessPlatform(std::FILE* err) : err_(err), tty_(isatty(fileno(err)) != 0) {}

HeadlessPlatform::~HeadlessPlatform() { clear_status_line(); }

void HeadlessPlatform::clear_status_line() {
  if (status_shown_) {
    std::fputs("\r\033[K", err_);
    std::fflush(err_);
    status_shown_ = false;
  }
}

int HeadlessPlatform::message_box(std::string_view text, std::string_view caption, int style,
                                  int default_answer) {
  clear_status_line();
  // "kestrim: text", with the caption after it where it says more than
  // the kind of box or the help hint.
  std::string line = "kestrim: ";
  line += text;
  if (!caption.empty() && caption != "Error" && caption != "Warning" &&
      caption != "Press F1 for Help") {
    line += " (";
    line += caption;
    line += ')';
  }
  line += '\n';
  std::fputs(line.c_str(), err_);
  std::fflush(err_);
  return default_answer_for(style, default_answer);
}

void HeadlessPlatform::set_status(std::string_view text) {
  if (!tty_ || !progress_) return;
  std::string line = "\r\033[K";
  line += text.substr(0, 100);
  std::fputs(line.c_str(), err_);
  std::fflush(err_);
  status_shown_ = true;
}

}  // namespace kestrim
