#include "platform/scripted_platform.h"

namespace kestrim {

int ScriptedPlatform::message_box(std::string_view text, std::string_view caption, int style,
                                  int default_answer) {
  RecordedMessage m;
  m.text = std::string(text);
  m.caption = std::string(effective_caption(caption));
  m.style = style;
  m.default_answer = default_answer;
  if (!answers.empty()) {
    m.answer = answers.front();
    answers.pop_front();
  } else {
    m.answer = default_answer_for(style, default_answer);
  }
  messages.push_back(m);
  return m.answer;
}

bool ScriptedPlatform::abort_requested() {
  ++polls;
  return abort_after_polls >= 0 && polls > abort_after_polls;
}

static bool replay(std::deque<FileDialog>& queue, std::vector<FileDialog>& shown,
                   FileDialog& dialog) {
  shown.push_back(dialog);
  if (queue.empty()) return false;
  FileDialog r = queue.front();
  queue.pop_front();
  dialog.paths = r.paths;
  dialog.directory = r.directory;
  dialog.analyse = r.analyse;
  if (!r.filters.empty() || r.filter_index != 0) dialog.filter_index = r.filter_index;
  return !dialog.paths.empty() || dialog.analyse;
}

bool ScriptedPlatform::open_file_dialog(FileDialog& dialog) {
  return replay(open_results, dialogs_shown, dialog);
}

bool ScriptedPlatform::save_file_dialog(FileDialog& dialog) {
  return replay(save_results, dialogs_shown, dialog);
}

bool ScriptedPlatform::ask_text(std::string_view prompt, std::string_view, bool,
                                std::string& answer) {
  prompts.emplace_back(prompt);
  if (text_answers.empty()) return false;
  answer = text_answers.front();
  text_answers.pop_front();
  return true;
}

std::vector<std::string> ScriptedPlatform::texts() const {
  std::vector<std::string> out;
  for (const auto& m : messages) out.push_back(m.text);
  return out;
}

bool ScriptedPlatform::said(std::string_view text) const {
  for (const auto& m : messages)
    if (m.text == text) return true;
  return false;
}

}  // namespace kestrim
