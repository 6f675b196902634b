// The main window of the desktop program: menus built from the command
// table, the spectrum plot, the peak and nuclide lists, the report viewer,
// the status bar, the one-second timer, dropped files, command lines handed
// over by a second start, and the script runner of --script.
#pragma once

#include <QMainWindow>

#include <functional>
#include <map>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QTableWidget;
class QTabWidget;
class QTimer;

namespace kestrim {
struct State;
}

namespace kestrim::desktop {

class CalibrationWindow;
class HelpWindow;
class LibraryEditor;
class ListWindow;
class QtPlatform;
class SpectrumPlot;

class MainWindow : public QMainWindow {
 public:
  MainWindow(State& state, QtPlatform& ui);
  ~MainWindow() override;

  // Carries out a command: 1 done, 0 refused or failed (reported), -1 not
  // available now (disabled or not in the menus).
  int dispatch(int id);
  // Enables, checks and shows the commands as the session now stands.
  void update_commands();
  // Shows the spectrum in memory again (plot and lists).
  void refresh();
  // Runs the script; returns the exit status (0 when every line ran).
  int run_script(const std::string& path);
  // A command line handed over by a second start of the program.
  void take_command_line(const std::string& text);
  // Opens a dropped file.
  void open_dropped(const std::string& path);
  // Starts the one-second timer.
  void start_timer();
  // The report viewer shows a file of the working folder (or a full path).
  bool show_report(const std::string& name);

  SpectrumPlot& plot() { return *plot_; }
  bool report_viewer_active() const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // F1 in any window of the program opens the help at that window's section.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void build_menus();
  void fill_peak_table();
  void fill_nuclide_table();
  void timer_tick();
  int run_command(int id);
  int plot_command(int id);
  bool privileged(const char* message, bool refuse);
  int ready_to_replace();
  void clear_peak_results();
  void new_spectrum();
  int open_spectrum_command(int type);
  int show_working_file(const std::string& name);
  int list_files(const char* pattern, const char* title);
  int not_available(const std::string& what);
  int open_calibration_window(int id);
  int open_library_editor();
  int open_list_window(int id);
  int save_reference_command();
  int list_window_line(const std::string& word, const std::string& rest);
  int run_long(const std::function<int()>& operation);
  int quantitative_with_recalibration();
  // Help: the user guide at a section (the main window's: what it shows, or
  // the last command's).
  int open_help(const std::string& section);
  std::string main_help_section() const;
  int help_script_line(const std::string& word, const std::string& rest);
  int calibration_script_line(const std::string& word, const std::string& rest);
  int header_dialog();
  int passwords_dialog();
  int setup_dialog();
  int colour_dialog();
  void status_dialog();
  void about_box();
  void find_in_report(bool again, bool backwards);
  int save_report();
  int export_plot();
  int print_plot();
  bool removed(int id) const;
  bool enabled(int id) const;
  bool checked(int id) const;

  State& state_;
  QtPlatform& ui_;
  SpectrumPlot* plot_ = nullptr;
  QTableWidget* peaks_ = nullptr;
  QTableWidget* nuclides_ = nullptr;
  QPlainTextEdit* report_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  QLabel* cursor_label_ = nullptr;
  QLabel* clock_label_ = nullptr;
  QTimer* timer_ = nullptr;
  std::map<int, QAction*> actions_;
  std::vector<QMenu*> menus_;
  std::string report_path_;
  std::string find_text_;
  // Values a script gives the next set-up (parameter name, text).
  std::vector<std::pair<std::string, std::string>> setup_edits_;
  // A script's picture of the set-up dialog is saved here ("" none).
  std::string setup_picture_;
  // Values a script gives the next header edit (field name, text).
  std::vector<std::pair<std::string, std::string>> header_edits_;
  // The open calibration window (null when none).
  CalibrationWindow* calibration_window_ = nullptr;
  // The library editor (null until first opened).
  LibraryEditor* library_editor_ = nullptr;
  // The file lists and editors by their script word ("spectra",
  // "defaults", "background", "detector", "geometry").
  std::map<std::string, ListWindow*> list_windows_;
  HelpWindow* help_ = nullptr;
  std::string help_context_;  // the section of the last command
  bool busy_ = false;
  bool closing_ = false;
  bool analysing_background_ = false;
};

}  // namespace kestrim::desktop
