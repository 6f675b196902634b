// The platform of unattended runs: messages go to stderr as
// "kestrim: text (caption)"
// and every box takes its default answer (the batch answers); dialogs are
// cancelled and text entry gives nothing. Progress texts are shown as one
// updating line when stderr is a terminal.
#pragma once

#include <cstdio>

#include "platform/platform.h"

namespace kestrim {

class HeadlessPlatform : public Platform {
 public:
  explicit HeadlessPlatform(std::FILE* err = stderr);
  ~HeadlessPlatform() override;

  int message_box(std::string_view text, std::string_view caption, int style,
                  int default_answer) override;
  void set_status(std::string_view text) override;
  bool abort_requested() override { return false; }
  bool open_file_dialog(FileDialog&) override { return false; }
  bool save_file_dialog(FileDialog&) override { return false; }
  bool ask_text(std::string_view, std::string_view, bool, std::string&) override { return false; }
  void wait_ms(int) override {}

  // Quiet mode drops progress texts (messages are always shown).
  void set_progress_enabled(bool on) { progress_ = on; }

 private:
  void clear_status_line();
  std::FILE* err_;
  bool tty_;
  bool progress_ = true;
  bool status_shown_ = false;
};

}  // namespace kestrim
