// A platform for tests: records every message, status text and dialog, and
// answers from queues that the test fills beforehand. When a queue is empty
// the default answer is given (message boxes) or the dialog is cancelled.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kestrim {

struct RecordedMessage {
  std::string text;
  std::string caption;  // as shown ("Error" when none was given)
  int style = 0;
  int default_answer = 0;
  int answer = 0;
};

class ScriptedPlatform : public Platform {
 public:
  int message_box(std::string_view text, std::string_view caption, int style,
                  int default_answer) override;
  void set_status(std::string_view text) override { statuses.emplace_back(text); }
  bool abort_requested() override;
  bool open_file_dialog(FileDialog& dialog) override;
  bool save_file_dialog(FileDialog& dialog) override;
  bool ask_text(std::string_view prompt, std::string_view caption, bool secret,
                std::string& answer) override;
  void wait_ms(int milliseconds) override { waits.push_back(milliseconds); }

  // Texts of all messages so far, in order.
  std::vector<std::string> texts() const;
  // True when some message had exactly this text.
  bool said(std::string_view text) const;

  std::deque<int> answers;                    // replayed by message_box
  std::deque<FileDialog> open_results;        // replayed by open_file_dialog
  std::deque<FileDialog> save_results;        // replayed by save_file_dialog
  std::deque<std::string> text_answers;       // replayed by ask_text
  int abort_after_polls = -1;                 // abort once this many polls were made

  std::vector<RecordedMessage> messages;
  std::vector<std::string> statuses;
  std::vector<FileDialog> dialogs_shown;
  std::vector<std::string> prompts;
  std::vector<int> waits;
  int polls = 0;
};

}  // namespace kestrim
