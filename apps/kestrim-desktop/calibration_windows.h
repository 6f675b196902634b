// The calibration windows of the desktop program: energy, peak shape,
// efficiency, automatic energy re-calibration and the quantitative
// auto-calibration ("Quantitative Auto-Calibration Results", opened by Quan
// with Auto-cal with the identified lines). Each shows the point table (add, delete, edit), the order and
// form choices, and beside the table the fitted function with its points and
// the residuals. The window drives the calibration operations of the core on
// the live calibration record; OK keeps the result, Cancel puts back the
// calibration record and the efficiency points copied when the window was
// opened (before the checks changed anything).
//
// The windows are modeless: the main window stays usable (Add Peak takes the
// channel last clicked in its plot). Scripts drive an open window through
// `act` (see MainWindow::run_script).
#pragma once

#include <QDialog>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "calibration/cal_points.h"
#include "calibration/calibration_checks.h"

class QDoubleSpinBox;
class QLabel;
class QSpinBox;
class QLineEdit;
class QTableWidget;
class QVBoxLayout;

namespace kestrim {
struct State;
}

namespace kestrim::desktop {

class QtPlatform;

enum class CalibrationKind { kEnergy, kShape, kEfficiency, kAuto, kQuantitative };

// The user guide's section for each window (F1).
const char* calibration_help_section(CalibrationKind kind);

// The plot beside the table: points and the fitted function above, the
// residuals (measured - fitted) below.
class FitPlot : public QWidget {
 public:
  explicit FitPlot(QWidget* parent = nullptr);
  struct Data {
    std::string x_label, y_label, residual_label;
    bool log_x = false, log_y = false;
    std::vector<std::pair<double, double>> points;     // measured
    std::vector<double> errors;                        // absolute error bars of the points (may be empty)
    std::vector<std::vector<std::pair<double, double>>> curves;  // fitted functions
    std::vector<std::pair<double, double>> residuals;
    double marker_x = 0;                               // a vertical line (crossover), 0 none
  };
  void set_data(Data data);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Data data_;
};

class CalibrationWindow : public QDialog {
 public:
  // `copies` are those the checks took before they changed anything.
  CalibrationWindow(CalibrationKind kind, State& state, QtPlatform& ui, const CalibrationCopies& copies,
                    std::function<int()> cursor_channel, std::function<void()> changed, QWidget* parent);
  ~CalibrationWindow() override;

  CalibrationKind kind() const { return kind_; }
  // The identified lines a quantitative auto-calibration starts from
  // (before start()).
  void set_points(std::vector<CalPoint> points) { points_ = std::move(points); }
  // Called after OK stored a quantitative auto-calibration.
  std::function<void()> on_accepted;
  // Runs the start of the calibration (set-up, list file dialog). Returns 0
  // when the calibration could not start (the record is as it was and the
  // window is finished).
  int start();
  // One action by name, as the buttons do (scripts): read, save, fit_peaks,
  // first, second, log, width, low_tail, high_tail, fit_all, fit_next,
  // refit, fit, add CHANNEL, delete ROW, delete_all, edit ROW VALUE,
  // low_order N, high_order N, crossover E, inverse 0|1, high_tail_cal 0|1,
  // edf, merge, listing, recalibrate, ok, cancel. Returns 1 done, 0 refused, -1 unknown.
  int act(const std::string& action, const std::string& argument);
  // The point table's lines as the core formats them.
  std::vector<std::string> lines() const;
  bool finished() const { return finished_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void build();
  void refresh();
  void fill_plot();
  int selected_row() const;
  int ok();
  int cancel();
  void cell_edited(int row, int column);

  CalibrationKind kind_;
  State& state_;
  QtPlatform& ui_;
  CalibrationCopies copies_;
  std::function<int()> cursor_channel_;
  std::function<void()> changed_;
  struct Work;
  std::unique_ptr<Work> work_;
  QTableWidget* table_ = nullptr;
  FitPlot* plot_ = nullptr;
  QLabel* goodness_ = nullptr;
  QSpinBox* low_order_ = nullptr;
  QSpinBox* high_order_ = nullptr;
  QDoubleSpinBox* crossover_ = nullptr;
  std::vector<CalPoint> points_;
  bool finished_ = false;
  bool filling_ = false;
};

}  // namespace kestrim::desktop
