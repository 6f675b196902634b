// The help of the desktop program: the user guide (docs/user-guide.md,
// installed with the program's data as <program folder>/Help/user-guide.md,
// its pictures in Help/images) shown in a browser window.
//
// Each window names the guide's section that describes it
// (set_help_section); F1 in a window opens the guide at that section (the
// section heading's text, matched ignoring case). The main window names the
// section of what it shows or of the last command.
#pragma once

#include <QDialog>

#include <string>

class QLineEdit;
class QTextBrowser;
class QUrl;

namespace kestrim::desktop {

// The property a window carries its help section in.
inline constexpr const char* kHelpSectionProperty = "kestrim_help_section";
void set_help_section(QWidget* window, const std::string& section);
// The section of the widget's window ("" when it names none).
std::string help_section_of(const QWidget* widget);

// The section of the guide a command of the main window belongs to ("" for
// the help commands, which keep the section they were asked from).
std::string command_help_section(int id);

// The installed guide: <program folder>/Help/user-guide.md.
std::string user_guide_path(const std::string& program_dir);

// The anchor a heading gets in the guide's links ("#energy-calibration"):
// lower case, blanks to '-', other punctuation dropped.
std::string heading_anchor(const std::string& heading);

class HelpWindow : public QDialog {
 public:
  explicit HelpWindow(QWidget* parent);
  // Reads the guide; false when the file cannot be read.
  bool load(const std::string& path);
  // Scrolls to the heading of that text (or anchor); false when there is
  // none (the guide is shown from its start).
  bool show_section(const std::string& section);
  // Finds the text from the current position on; false when not found.
  bool find(const std::string& text);
  const std::string& path() const { return path_; }

 private:
  void link(const QUrl& url);

  QTextBrowser* browser_ = nullptr;
  QLineEdit* search_ = nullptr;
  std::string path_;
};

}  // namespace kestrim::desktop
