// The Platform of the desktop program: message boxes with the program's
// styles, answers and default buttons, the status bar, the abort poll that
// keeps the window responsive, file dialogs, text entry and the busy
// pointer.
//
// In scripted mode (kestrim-desktop --script) nothing modal is shown: every
// question takes the answer queued by the script, else its default, file
// dialogs take the queued path or are cancelled, and every call is written
// to the transcript, one line each, fields separated by tabs:
//   message <TAB> style <TAB> answer <TAB> caption <TAB> text
//   status <TAB> text
//   dialog <TAB> open|save <TAB> title <TAB> path chosen ("" cancelled)
//   ask <TAB> caption <TAB> prompt
#pragma once

#include <cstdio>
#include <deque>
#include <functional>
#include <string>

#include "platform/platform.h"
#include "reports/capabilities.h"

class QMainWindow;

namespace kestrim::desktop {

class QtPlatform : public Platform {
 public:
  int message_box(std::string_view text, std::string_view caption = {}, int style = kMsgOk,
                  int default_answer = 0) override;
  void set_status(std::string_view text) override;
  bool abort_requested() override;
  bool open_file_dialog(FileDialog& dialog) override;
  bool save_file_dialog(FileDialog& dialog) override;
  bool ask_text(std::string_view prompt, std::string_view caption, bool secret,
                std::string& answer) override;
  void wait_ms(int milliseconds) override;
  void set_window_title(std::string_view title) override;
  void set_command_checked(std::string_view command, bool checked) override;
  void calibration_changed() override;

  // The window that owns the boxes (none until it exists).
  void set_owner(QMainWindow* owner) { owner_ = owner; }
  // Whether the status bar is shown (the parameters' switch) and whether the
  // pointer moves to a box's default button.
  std::function<bool()> status_bar_on = [] { return true; };
  std::function<bool()> move_cursor_on = [] { return false; };
  // Called when the lower layers change the title, a check mark or the
  // calibration.
  std::function<void(const std::string&)> on_title;
  std::function<void(const std::string&, bool)> on_checked;
  std::function<void()> on_calibration;

  // The Abort command: the running operation stops at its next poll.
  void request_abort() { abort_ = true; }
  void clear_abort() { abort_ = false; }
  // Scripts: the Abort command arrives at the n-th poll from now.
  void abort_after_polls(int n) { abort_countdown_ = n; }

  // Scripted mode: answers come from these queues and every call goes to
  // the transcript.
  void set_scripted(std::FILE* transcript) { transcript_ = transcript; }
  bool scripted() const { return transcript_ != nullptr; }
  void note(const std::string& line);  // a transcript line (scripted mode)
  // Scripts: shows a real message box and presses `key` (Qt key code) in
  // it; returns the answer the box gave.
  int press_in_real_box(int style, int default_answer, int key);
  std::deque<int> answers;
  std::deque<std::string> file_answers;
  std::deque<std::string> text_answers;


 private:
  bool file_dialog(FileDialog& dialog, bool save);

  QMainWindow* owner_ = nullptr;
  std::FILE* transcript_ = nullptr;
  bool abort_ = false;
  int abort_countdown_ = -1;
};


// Printing of report files on the system's printers (Qt Print Support):
// the print dialog first when `ask` says so (interactive use), else the
// default printer (batch runs with /print).
class QtReportPrinter : public ReportPrinter {
 public:
  int print_text_file(const std::string& path, Platform& ui) override;
  std::function<bool()> ask = [] { return false; };
  QMainWindow* owner = nullptr;
};

}  // namespace kestrim::desktop
