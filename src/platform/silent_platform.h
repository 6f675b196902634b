// A platform that shows nothing and answers every message with its default:
// for work the user is not to hear about (probing files with the readers,
// listing a folder's spectra).
#pragma once

#include "platform/platform.h"

namespace kestrim {

class SilentPlatform : public Platform {
 public:
  int message_box(std::string_view, std::string_view, int style, int default_answer) override {
    return default_answer_for(style, default_answer);
  }
  void set_status(std::string_view) override {}
  bool abort_requested() override { return false; }
  bool open_file_dialog(FileDialog&) override { return false; }
  bool save_file_dialog(FileDialog&) override { return false; }
  bool ask_text(std::string_view, std::string_view, bool, std::string&) override { return false; }
  void wait_ms(int) override {}
};

}  // namespace kestrim
