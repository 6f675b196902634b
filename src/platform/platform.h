// The operations the program's logic needs from its surroundings.
//
// Every message to the user, every progress text, every abort poll and every
// file dialog goes through this interface, so that the same logic runs in the
// desktop program, in a headless batch run and under test. Implementations:
//   HeadlessPlatform  - batch runs: messages to stderr, default answers;
//   ScriptedPlatform  - tests: records every call and replays queued answers;
//   the desktop one lives with the Qt front end.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrim {

// Message box styles: button set plus icon, as stored in the message calls.
enum MessageStyle : int {
  kMsgOk = 0,           // OK, information icon
  kMsgOkCancel = 1,     // OK, Cancel, information icon
  kMsgYesNoCancel = 3,  // Yes, No, Cancel, question icon
  kMsgYesNo = 4,        // Yes, No, question icon
  kMsgError = 16,       // OK, error icon
  kMsgWarning = 48,     // OK, warning icon
};

// Message box answers.
enum MessageAnswer : int {
  kAnswerOk = 1,
  kAnswerCancel = 2,
  kAnswerYes = 6,
  kAnswerNo = 7,
};

// The answer a box gives when the user just presses Enter: the requested
// default, or the first button of the style when none was given.
int default_answer_for(int style, int default_answer);

struct FileFilter {
  std::string name;     // "Spectrum File (*.dat)"
  std::string pattern;  // "*.dat"
};

struct FileDialog {
  // In
  std::string title;
  std::vector<FileFilter> filters;
  int filter_index = 0;           // preselected filter (0-based)
  std::string initial_directory;
  std::string initial_name;
  bool multiple = false;          // allow several files (merge)
  bool offer_analyse = false;     // show the "Analyse" choice (batch of a directory)
  // Out
  std::vector<std::string> paths;  // full paths chosen
  std::string directory;           // the directory the user ended in
  bool analyse = false;            // the "Analyse" choice was taken
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Shows `text` under `caption` (empty: "Error") with one of the styles
  // above and returns the answer. `default_answer` is the preselected button
  // (0: the first one).
  virtual int message_box(std::string_view text, std::string_view caption = {},
                          int style = kMsgOk, int default_answer = 0) = 0;

  // Progress and state texts for the status line.
  virtual void set_status(std::string_view text) = 0;

  // Polled by long operations between steps; true once the user asked to abort.
  virtual bool abort_requested() = 0;

  // File dialogs: true when the user chose, false when cancelled.
  virtual bool open_file_dialog(FileDialog& dialog) = 0;
  virtual bool save_file_dialog(FileDialog& dialog) = 0;

  // Free-text entry (passwords, names). Returns false when cancelled.
  virtual bool ask_text(std::string_view prompt, std::string_view caption, bool secret,
                        std::string& answer) = 0;

  // A pause between steps (fitting delay); headless runs never block.
  virtual void wait_ms(int milliseconds) = 0;

  // What a front end with a window shows besides messages; one without a
  // window has nothing to update.
  virtual void set_window_title(std::string_view /*title*/) {}
  // A command's check mark (for example "Reference Fitting").
  virtual void set_command_checked(std::string_view /*command*/, bool /*checked*/) {}
  // The calibration changed: redraw the status line and the plot axes.
  virtual void calibration_changed() {}
  // The stored window placement is too small to use: open full screen.
  virtual void use_full_screen() {}
};

// The caption a message is shown under.
inline std::string_view effective_caption(std::string_view caption) {
  return caption.empty() ? std::string_view("Error") : caption;
}

}  // namespace kestrim
