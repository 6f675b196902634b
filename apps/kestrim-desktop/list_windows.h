// The file lists and editors of the desktop program, each a modeless
// window beside the main window:
//   SpectrumList    a folder's spectra of every readable format with their
//                   titles; open one, merge a selection ("Sum_Spec.dat"),
//                   analyse a selection as a batch with a progress bar and
//                   Abort;
//   DefaultsList    the Defaults files of both folders; switch to one,
//                   create one, delete one;
//   BackgroundList  the background files of a folder with their titles;
//                   choose one to load, or name one to save (the peaks of
//                   the analysed spectrum, or "Analyse and Save as Bkg");
//   DetectorEditor  the fields of a detector file (the detector-wide
//                   energy and shape calibration, each geometry's
//                   description, sample size, units, background and
//                   calibration uncertainty) on a copy: Save writes it,
//                   Cancel leaves the file and the session as they were;
//   GeometryDialog  the geometries of the spectrum's detector file: choose
//                   the one the spectrum is counted in, edit descriptions;
//   ReferenceList   the reference spectra (".rsd") of the reference folder
//                   with their titles and activities; OK makes the chosen
//                   ones (at most ten) the reference set and fits them.
// Each carries out its buttons through act(), which scripts call too.
#pragma once

#include <QDialog>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/file_lists.h"
#include "nuclides/background_file.h"
#include "settings/detector_file.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace kestrim {
struct State;
}

namespace kestrim::desktop {

class QtPlatform;

class ListWindow : public QDialog {
 public:
  ListWindow(State& state, QtPlatform& ui, QWidget* parent);
  // One action (a button; scripts): 1 done, 0 refused or failed (reported),
  // -1 unknown. Every window knows "screenshot PATH" and "close".
  virtual int act(const std::string& action, const std::string& argument) = 0;
  bool finished() const { return finished_; }

  // Runs a long operation as the main window runs its commands (busy, the
  // busy pointer, Abort taken); returns its result.
  std::function<int(const std::function<int()>&)> run_long = [](const std::function<int()>& f) { return f(); };
  // The session changed (a spectrum opened, a calibration read, ...).
  std::function<void()> on_changed = [] {};

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;
  // Closing the window (the close box, Escape, "close"): 1 closed.
  virtual int close_window();
  int screenshot(const std::string& path);
  void finish();
  void note(const std::string& line);
  QPushButton* button(const char* text, const char* action, QLayout* into);

  State& state_;
  QtPlatform& ui_;
  bool finished_ = false;
};

class SpectrumList : public ListWindow {
 public:
  SpectrumList(State& state, QtPlatform& ui, const std::string& folder, QWidget* parent);
  // folder PATH, select all|ROW..., lines, open, merge, analyse, abort,
  // screenshot PATH, close.
  int act(const std::string& action, const std::string& argument) override;
  // Asked before a spectrum is opened, merged or analysed: 1 go on.
  std::function<int()> ready_to_replace = [] { return 1; };

 protected:
  // While an analysis runs, closing (Escape, the close box) aborts it.
  int close_window() override;

 private:
  void fill();
  std::vector<ListedSpectrum> selection() const;
  void set_running(bool running);
  bool running_ = false;

  std::string folder_;
  std::vector<ListedSpectrum> spectra_;
  QLineEdit* folder_edit_ = nullptr;
  QTableWidget* table_ = nullptr;
  QCheckBox* print_[3] = {};
  QProgressBar* progress_ = nullptr;
  QLabel* progress_label_ = nullptr;
  std::vector<QPushButton*> buttons_;
  QPushButton* abort_ = nullptr;
};

class DefaultsList : public ListWindow {
 public:
  DefaultsList(State& state, QtPlatform& ui, QWidget* parent);
  // application NAME, select NUMBER, lines, switch, create [NUMBER] (of
  // the selected application; without a number the application and the
  // number are asked for), delete, screenshot PATH, close.
  int act(const std::string& action, const std::string& argument) override;

 private:
  void fill();
  void fill_numbers();
  std::vector<ListedDefaults> files_;
  std::string application_;
  int number_ = -1;
  QListWidget* applications_ = nullptr;
  QTableWidget* numbers_ = nullptr;
  QLabel* current_ = nullptr;
  bool filling_ = false;
};

class BackgroundList : public ListWindow {
 public:
  // `saving`: a name to save under (an existing file is only replaced after
  // its question); else a file to choose. `accepted` is called with the
  // accepted name and its result is the result of "ok".
  BackgroundList(State& state, QtPlatform& ui, bool saving, std::function<int(const std::string&)> accepted,
                 QWidget* parent);
  // directory PATH, name TEXT, ok [NAME], lines, screenshot PATH, close.
  int act(const std::string& action, const std::string& argument) override;

 private:
  void fill();
  bool saving_;
  std::function<int(const std::string&)> accepted_;
  std::string directory_;
  std::vector<BackgroundListing> files_;
  QLineEdit* directory_edit_ = nullptr;
  QLineEdit* name_edit_ = nullptr;
  QTableWidget* table_ = nullptr;
};

class DetectorEditor : public ListWindow {
 public:
  DetectorEditor(State& state, QtPlatform& ui, QWidget* parent);
  // Reads detector NN's file (the shipped one when the calibration folder
  // has none); false after the warning when there is none.
  bool open_detector(int detector);
  // open DETECTOR, set FIELD VALUE (detector-wide: energy_terms, c0, c1,
  // c2, form, width_terms, w0, w1, w2, low_terms, t0, t1, t2, high_terms,
  // h0, h1, h2), geometry G FIELD VALUE (description, size, units,
  // background, uncertainty), lines, save, cancel, screenshot PATH, close
  // (asks first when changed).
  int act(const std::string& action, const std::string& argument) override;

 protected:
  int close_window() override;

 private:
  void fill();
  int set_field(const std::string& field, const std::string& value);
  int set_geometry(int geometry, const std::string& field, const std::string& value);
  int save();

  int detector_ = 0;
  std::string path_;
  std::vector<std::uint8_t> image_, original_;
  std::vector<std::pair<std::string, QLineEdit*>> fields_;
  QTableWidget* geometries_ = nullptr;
  QLabel* file_label_ = nullptr;
  bool filling_ = false;
};

class GeometryDialog : public ListWindow {
 public:
  GeometryDialog(State& state, QtPlatform& ui, QWidget* parent);
  bool open_detector(int detector);
  // select G, edit G FIELD VALUE (description, size, units, background),
  // choose [G], lines, screenshot PATH, close (asks to update the file when
  // descriptions were edited).
  int act(const std::string& action, const std::string& argument) override;

 protected:
  int close_window() override;

 private:
  void fill();
  int detector_ = 0;
  int selected_ = 0;
  std::vector<GeometryDescription> rows_;
  std::vector<GeometryDescription> edits_;
  QTableWidget* table_ = nullptr;
  bool filling_ = false;
};

class ReferenceList : public ListWindow {
 public:
  ReferenceList(State& state, QtPlatform& ui, QWidget* parent);
  // select all|ROW..., lines, ok, screenshot PATH, close.
  int act(const std::string& action, const std::string& argument) override;
  // After OK has made the set: the fit (1 done).
  std::function<int()> fit = [] { return 1; };

 private:
  struct Listed {
    std::string file, title;
    double activity_bq = 0, uncertainty_pct = 0;
  };
  std::string folder_;
  std::vector<Listed> files_;
  QTableWidget* table_ = nullptr;
};

}  // namespace kestrim::desktop
