#include "main_window.h"
#include "qt_text.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QColorDialog>
#include <QCloseEvent>
#include <QDateTime>
#include <QElapsedTimer>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPageLayout>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QShortcut>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTableWidget>
#include <QTabWidget>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <charconv>
#include <functional>
#include <limits>
#include <type_traits>
#include <cmath>
#include <fstream>
#include <sstream>

#include "app/acquisition_control.h"
#include "app/analysis.h"
#include "app/analysis_steps.h"
#include "app/command_line.h"
#include "app/header_edit.h"
#include "app/open_spectrum.h"
#include "app/reference_analysis.h"
#include "app/settings_bridge.h"
#include "app/spectrum_file.h"
#include "app/state.h"
#include "reference/reference_file.h"
#include "calibration/auto_calibration.h"
#include "calibration/calibration_checks.h"
#include "calibration_windows.h"
#include "command_table.h"
#include "help_window.h"
#include "library_editor.h"
#include "list_windows.h"
#include "nuclides/activity.h"
#include "nuclides/background_file.h"
#include "peaks/library_search.h"
#include "peaks/peak_fit_report.h"
#include "peaks/peak_search.h"
#include "peaks/region_driver.h"
#include "platform/c_format.h"
#include "platform/files.h"
#include "qt_platform.h"
#include "reports/capabilities.h"
#include "reports/template_reports.h"
#include "reports/text_export.h"
#include "settings/calibration_functions.h"
#include "platform/c_locale.h"
#include "settings/detector_file.h"
#include "settings/parameter_fields.h"
#include "settings/setup_checks.h"
#include "spectrum_plot.h"

namespace kestrim::desktop {

namespace {


// A table cell that sorts by its number.
class NumberItem : public QTableWidgetItem {
 public:
  NumberItem(double value, const std::string& text) : QTableWidgetItem(qs(text)), value_(value) {}
  bool operator<(const QTableWidgetItem& other) const override {
    if (auto* o = dynamic_cast<const NumberItem*>(&other)) return value_ < o->value_;
    return QTableWidgetItem::operator<(other);
  }

 private:
  double value_;
};

std::string trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n"), b = s.find_last_not_of(" \t\r\n");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

// The number in the n-th blank-separated word of `text` (0 when none).
double number_word(const std::string& text, int n) {
  size_t at = 0;
  for (int i = 0;; ++i) {
    at = text.find_first_not_of(' ', at);
    if (at == std::string::npos) return 0;
    const size_t end = text.find(' ', at);
    if (i == n) return c_strtod(text.substr(at, end == std::string::npos ? std::string::npos : end - at).c_str(), nullptr);
    if (end == std::string::npos) return 0;
    at = end;
  }
}

}  // namespace

MainWindow::MainWindow(State& state, QtPlatform& ui) : state_(state), ui_(ui) {
  setAcceptDrops(true);
  plot_ = new SpectrumPlot(state_, this);
  peaks_ = new QTableWidget(0, 8, this);
  peaks_->setHorizontalHeaderLabels({"Peak", "Channel", "Energy (keV)", "Net area", "Unc. %",
                                     "Gammas/s", "FWHM (keV)", "Fit"});
  nuclides_ = new QTableWidget(0, 5, this);
  nuclides_->setHorizontalHeaderLabels({"Nuclide", "Confidence", "Activity", "Unc. %", "Specific activity"});
  for (QTableWidget* t : {peaks_, nuclides_}) {
    t->setSortingEnabled(true);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->verticalHeader()->setVisible(false);
    t->horizontalHeader()->setStretchLastSection(true);
    t->sortByColumn(0, Qt::AscendingOrder);
  }
  report_ = new QPlainTextEdit(this);
  report_->setReadOnly(true);
  report_->setLineWrapMode(QPlainTextEdit::NoWrap);
  report_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  tabs_ = new QTabWidget(this);
  tabs_->addTab(peaks_, "Peaks");
  tabs_->addTab(nuclides_, "Nuclides");
  tabs_->addTab(report_, "Report");
  auto* split = new QSplitter(Qt::Vertical, this);
  split->addWidget(plot_);
  split->addWidget(tabs_);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);
  setCentralWidget(split);

  cursor_label_ = new QLabel(this);
  clock_label_ = new QLabel(this);
  statusBar()->addPermanentWidget(cursor_label_);
  statusBar()->addPermanentWidget(clock_label_);
  plot_->on_cursor = [this](int ch, double energy, double counts) {
    cursor_label_->setText(energy > 0 ? qs(c_format("Channel %d  %.2f keV  %.0f counts", ch, energy, counts))
                                      : qs(c_format("Channel %d  %.0f counts", ch, counts)));
  };
  // Selecting a peak in the list centres the plot on it.
  connect(peaks_, &QTableWidget::itemSelectionChanged, this, [this] {
    const auto rows = peaks_->selectionModel()->selectedRows();
    if (rows.isEmpty()) return;
    const int peak = peaks_->item(rows.front().row(), 0)->data(Qt::UserRole).toInt();
    plot_->centre_on_peak(peak);
  });
  // Selecting a nuclide centres the plot on its principal peak.
  connect(nuclides_, &QTableWidget::itemSelectionChanged, this, [this] {
    const auto rows = nuclides_->selectionModel()->selectedRows();
    if (rows.isEmpty()) return;
    const int index = nuclides_->item(rows.front().row(), 0)->data(Qt::UserRole).toInt();
    for (const AcceptedNuclide& a : state_.results.accepted)
      if (a.library_index == index && a.principal_peak > 0) plot_->centre_on_peak(a.principal_peak);
  });
  connect(tabs_, &QTabWidget::currentChanged, this, [this] { update_commands(); });

  ui_.set_owner(this);
  ui_.status_bar_on = [this] { return state_.params.show_status_bar != 0; };
  ui_.move_cursor_on = [this] { return state_.params.move_cursor != 0; };
  ui_.on_title = [this](const std::string& t) { setWindowTitle(qs(t)); };
  ui_.on_checked = [this](const std::string&, bool) { update_commands(); };
  ui_.on_calibration = [this] { plot_->update(); };

  build_menus();
  // F1 is taken by the event filter below in every window of the program
  // (the menu still shows it): as the Help action's shortcut it would work
  // only in the main window.
  qApp->installEventFilter(this);
  if (auto help = actions_.find(230); help != actions_.end()) help->second->setShortcutContext(Qt::WidgetShortcut);
  // Abort works from the keyboard whatever the menus hold.
  auto* abort = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(abort, &QShortcut::activated, this, [this] { ui_.request_abort(); });
  statusBar()->showMessage("Ready");
  resize(1000, 720);
}

MainWindow::~MainWindow() = default;

void MainWindow::build_menus() {
  QMenu* current_sub = nullptr;
  std::string current_sub_title;
  int current_menu = -1;
  menus_.assign(kMenuCount, nullptr);
  for (const DesktopCommand& c : desktop_commands()) {
    if (c.menu != current_menu) {
      current_menu = c.menu;
      menus_[c.menu] = menuBar()->addMenu(menu_title(c.menu));
      // The help text of the menu, by its first command.
      const std::string help = submenu_help(c.id);
      QMenu* m = menus_[c.menu];
      connect(m, &QMenu::aboutToShow, this, [this, help] {
        if (!help.empty()) ui_.set_status(help);
      });
      current_sub = nullptr;
      current_sub_title.clear();
    }
    QMenu* target = menus_[c.menu];
    if (*c.submenu) {
      if (!current_sub || current_sub_title != c.submenu) {
        current_sub = target->addMenu(c.submenu);
        current_sub_title = c.submenu;
        const std::string help = submenu_help(c.id);
        connect(current_sub->menuAction(), &QAction::hovered, this, [this, help] {
          if (!help.empty()) ui_.set_status(help);
        });
      }
      target = current_sub;
    } else {
      current_sub = nullptr;
      current_sub_title.clear();
    }
    QAction* a = target->addAction(c.text);
    if (*c.shortcut && c.id != 174) a->setShortcut(QKeySequence(c.shortcut));
    a->setCheckable(c.checkable);
    const int id = c.id;
    connect(a, &QAction::triggered, this, [this, id] { dispatch(id); });
    connect(a, &QAction::hovered, this, [this, id] {
      if (state_.params.show_status_bar) statusBar()->showMessage(qs(command_help(id)));
    });
    actions_[c.id] = a;
  }
  for (QMenu* m : menus_)
    if (m) connect(m, &QMenu::aboutToHide, this, [this] { statusBar()->showMessage(qs(state_.app.status_text)); });
}

bool MainWindow::removed(int id) const {
  const AnalysisParameters& p = state_.params;
  if (p.full_menu == 0 && removed_by_short_menu(id)) return true;
  if ((p.mca_type == 0 || p.init_mca_at_startup == 0) && (id == 134 || id == 318 || id == 319)) return true;
  if (p.mca_variant == 0 && (id == 320 || id == 316 || id == 317)) return true;
  return false;
}

bool MainWindow::enabled(int id) const {
  if (removed(id)) return false;
  const PeakList& peaks = state_.peaks;
  switch (id) {
    case 211: return peaks.count > 0 && peaks.fit_enabled;
    case 197:
    case 239: return peaks.count > 0 && peaks.fit_enabled;
    case 187: return peaks.count > 0 ||
                     file_exists(resolve_path(join_path(state_.paths.working_dir, kPeakFitReportName)));
    case 305: return !state_.results.results.empty() || plot_->show_nuclides;
    case 223: case 224: case 225: case 228: return report_viewer_active();
    default: return true;
  }
}

bool MainWindow::checked(int id) const {
  switch (id) {
    case 116: return plot_->scale == YScale::kLinear;
    case 117: return plot_->scale == YScale::kSquareRoot;
    case 118: return plot_->scale == YScale::kLog;
    case 127: return plot_->expanded();
    case 193: return tabs_->currentWidget() == nuclides_;
    case 194: return tabs_->currentWidget() == peaks_;
    case 305: return plot_->show_nuclides;
    case 202: return plot_->type == PlotType::kSpectrum && !plot_->show_overlay;
    case 204: return plot_->type == PlotType::kEnergy;
    case 205: return plot_->type == PlotType::kShape;
    case 206: return plot_->type == PlotType::kEfficiency;
    case 207: return plot_->type == PlotType::kSpectrum && plot_->show_residuals;
    case 325: return plot_->type == PlotType::kSpectrum && plot_->show_overlay;
    case 327: return plot_->type == PlotType::kOverlayOnly;
    case 217: return plot_->show_fit;
    case 218: return plot_->show_continuum;
    case 219: return plot_->show_residuals;
    case 270: return plot_->show_markers;
    case 316: return state_.params.reference_fitting != 0;
    case 214: return analysing_background_;
    default: return false;
  }
}

void MainWindow::update_commands() {
  for (auto& [id, a] : actions_) {
    a->setVisible(!removed(id));
    a->setEnabled(enabled(id));
    if (a->isCheckable()) a->setChecked(checked(id));
  }
  if (menus_.size() > kMenuFitting && menus_[kMenuFitting])
    menus_[kMenuFitting]->menuAction()->setVisible(state_.params.full_menu != 0);
  statusBar()->setVisible(state_.params.show_status_bar != 0);
}

bool MainWindow::report_viewer_active() const {
  return tabs_->currentWidget() == report_ && !report_path_.empty();
}

void MainWindow::refresh() {
  if (state_.spectrum.header.channels > 0 &&
      (plot_->last() > state_.spectrum.header.channels || !plot_->expanded()))
    plot_->show_all();
  fill_peak_table();
  fill_nuclide_table();
  plot_->update();
  update_commands();
}

void MainWindow::fill_peak_table() {
  const PeakList& pk = state_.peaks;
  const CalibrationRecord& cal = state_.spectrum.calibration;
  peaks_->setSortingEnabled(false);
  peaks_->setRowCount(pk.count);
  for (int k = 1; k <= pk.count; ++k) {
    const int r = k - 1;
    const double e = cal.energy_terms >= 2 ? channel_to_energy(cal, pk.centre[k]) : 0;
    auto* first = new NumberItem(k, c_format("%d", k));
    first->setData(Qt::UserRole, k);
    peaks_->setItem(r, 0, first);
    peaks_->setItem(r, 1, new NumberItem(pk.centre[k], c_format("%.2f", pk.centre[k])));
    peaks_->setItem(r, 2, new NumberItem(e, e > 0 ? c_format("%.2f", e) : std::string()));
    peaks_->setItem(r, 3, new NumberItem(pk.net_area[k], c_format("%.1f", pk.net_area[k])));
    peaks_->setItem(r, 4, new NumberItem(pk.net_area_pct[k], c_format("%.1f", pk.net_area_pct[k])));
    peaks_->setItem(r, 5, new NumberItem(pk.gps[k], c_format("%.4g", pk.gps[k])));
    peaks_->setItem(r, 6, new NumberItem(pk.fwhm_kev[k], c_format("%.2f", pk.fwhm_kev[k])));
    peaks_->setItem(r, 7, new NumberItem(pk.goodness[k], c_format("%.2f", pk.goodness[k])));
  }
  peaks_->setSortingEnabled(true);
  peaks_->resizeColumnsToContents();
}

void MainWindow::fill_nuclide_table() {
  const NuclideResults& res = state_.results;
  nuclides_->setSortingEnabled(false);
  nuclides_->setRowCount(static_cast<int>(res.results.size()));
  int r = 0;
  for (const NuclideResult& n : res.results) {
    std::string name = n.name;
    if (n.marker != ' ' && n.marker != 0) name += n.marker;
    auto* first = new QTableWidgetItem(qs(name));
    first->setData(Qt::UserRole, n.library_index);
    nuclides_->setItem(r, 0, first);
    nuclides_->setItem(r, 1, new NumberItem(n.confidence, c_format("%.2f", n.confidence)));
    nuclides_->setItem(r, 2, new NumberItem(n.activity, c_format("%.4g", n.activity)));
    nuclides_->setItem(r, 3, new NumberItem(n.uncertainty, n.uncertainty > 0 ? c_format("%.1f", n.uncertainty)
                                                                             : std::string("limit")));
    nuclides_->setItem(r, 4, new NumberItem(n.decay_corrected, c_format("%.4g +- %.2g", n.decay_corrected,
                                                                        n.absolute_uncertainty)));
    ++r;
  }
  nuclides_->setSortingEnabled(true);
  nuclides_->resizeColumnsToContents();
}

bool MainWindow::show_report(const std::string& name) {
  std::string path = name.find('/') == std::string::npos ? join_path(state_.paths.working_dir, name) : name;
  path = resolve_path(path);
  std::vector<std::uint8_t> bytes;
  if (!file_exists(path) || !read_file(path, bytes, 64u << 20)) {
    ui_.message_box("Could not open:- " + path, {}, kMsgWarning);
    return false;
  }
  report_->setPlainText(QString::fromUtf8(reinterpret_cast<const char*>(bytes.data()),
                                          static_cast<qsizetype>(bytes.size())));
  report_path_ = path;
  tabs_->setTabText(2, qs(base_name(path)));
  tabs_->setCurrentWidget(report_);
  if (ui_.scripted()) ui_.note("report\t" + base_name(path));
  update_commands();
  return true;
}

int MainWindow::show_working_file(const std::string& name) {
  // A file the Defaults leave unnamed ("" or only an extension).
  if (name.empty() || name[0] == '.' || name.back() == '/') {
    ui_.message_box("No file of this kind is named in the Defaults file", {}, kMsgWarning);
    return 0;
  }
  return show_report(name) ? 1 : 0;
}

int MainWindow::list_files(const char* pattern, const char* title) {
  std::string dir = to_string(state_.params.calibration_dir);
  if (dir.empty() || !directory_exists(dir)) dir = state_.paths.working_dir;
  std::string text = std::string(title) + " (" + pattern + ") in " + dir + "\r\n\r\n";
  std::vector<std::string> names = list_directory(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& n : names)
    if (wildcard_match(pattern, to_lower(n))) text += n + "\r\n";
  report_->setPlainText(qs(text));
  report_path_.clear();
  tabs_->setTabText(2, title);
  tabs_->setCurrentWidget(report_);
  if (ui_.scripted()) ui_.note(std::string("list\t") + pattern);
  return 1;
}

int MainWindow::open_calibration_window(int id) {
  State& s = state_;
  if (calibration_window_ && !calibration_window_->finished()) {
    ui_.message_box("A calibration window is already open");
    calibration_window_->raise();
    return 0;
  }
  // The automatic re-calibration is open to every user; its checks run as
  // the window starts.
  if (id != 252 && !privileged("This function cannot be used", true)) return 0;
  CalibrationCopies copies;
  if (id == 252) keep_copies(s, copies);
  const int ok = id == 245 ? check_before_energy_calibration(s, copies)
               : id == 249 ? check_before_shape_calibration(s, copies)
               : id == 250 ? check_before_efficiency_calibration(s, copies)
                           : 1;
  if (!ok) {
    refresh();
    return 0;
  }
  const CalibrationKind kind = id == 245   ? CalibrationKind::kEnergy
                               : id == 249 ? CalibrationKind::kShape
                               : id == 250 ? CalibrationKind::kEfficiency
                                           : CalibrationKind::kAuto;
  delete calibration_window_;
  calibration_window_ = new CalibrationWindow(
      kind, s, ui_, copies, [this] { return plot_->clicked_channel(); },
      [this] {
        refresh();
        update_commands();
      },
      this);
  if (!calibration_window_->start()) return 0;
  if (!calibration_window_->finished()) calibration_window_->show();
  return 1;
}

int MainWindow::quantitative_with_recalibration() {
  State& s = state_;
  if (calibration_window_ && !calibration_window_->finished()) {
    ui_.message_box("A calibration window is already open");
    calibration_window_->raise();
    return 0;
  }
  std::vector<CalPoint> points;
  const int ok = quantitative_analysis_for_recalibration(s, points);
  close_activity_database(s);
  if (!ok) return 0;
  if (points.empty()) return 1;
  // The identified lines are offered in the window; OK stores the new
  // calibration and the analysis runs again with it.
  CalibrationCopies copies;
  keep_copies(s, copies);
  delete calibration_window_;
  calibration_window_ = new CalibrationWindow(
      CalibrationKind::kQuantitative, s, ui_, copies, [this] { return plot_->clicked_channel(); },
      [this] {
        refresh();
        update_commands();
      },
      this);
  calibration_window_->set_points(std::move(points));
  calibration_window_->on_accepted = [this] {
    quantitative_analysis_after_recalibration(state_);
    close_activity_database(state_);
    refresh();
  };
  calibration_window_->start();
  calibration_window_->show();
  return 1;
}

std::string MainWindow::main_help_section() const {
  if (report_viewer_active()) return "Reports and exporting";
  return help_context_.empty() ? "The main window" : help_context_;
}

int MainWindow::open_help(const std::string& section) {
  if (!help_) help_ = new HelpWindow(this);
  const std::string path = user_guide_path(state_.paths.program_dir);
  const bool loaded = help_->load(path);
  // Shown first, so that the section is scrolled to the top of its view.
  help_->show();
  help_->raise();
  help_->activateWindow();
  const bool found = loaded && help_->show_section(section);
  if (ui_.scripted()) ui_.note("help\t" + section + "\t" + (found ? "found" : loaded ? "missing" : "no guide"));
  return loaded ? 1 : 0;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1 &&
      watched->isWidgetType()) {
    QWidget* window = static_cast<QWidget*>(watched)->window();
    if (window == this) {
      dispatch(230);
    } else {
      const std::string section = help_section_of(window);
      open_help(section.empty() ? main_help_section() : section);
    }
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

int MainWindow::help_script_line(const std::string& word, const std::string& rest) {
  // key F1 main|calibration|library|help: the key pressed in that window.
  // window_screenshot calibration|library|help PATH: a picture of it.
  std::string args = rest;
  if (word == "key") {
    if (args.rfind("F1", 0) != 0) {
      ui_.note("error\tonly F1 is pressed by scripts");
      return 1;
    }
    args = trim(args.substr(2));
  }
  const std::string which = args.substr(0, args.find(' '));
  QWidget* target = which == "calibration" ? static_cast<QWidget*>(calibration_window_)
                    : which == "library"   ? static_cast<QWidget*>(library_editor_)
                    : which == "help"      ? static_cast<QWidget*>(help_)
                                           : static_cast<QWidget*>(this);
  if (!target || !target->isVisible()) {
    ui_.note("error\tno " + which + " window is open");
    return 1;
  }
  QCoreApplication::processEvents();
  if (word == "key") {
    QWidget* receiver = target->focusWidget() ? target->focusWidget() : target;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QCoreApplication::sendEvent(receiver, &press);
    return 0;
  }
  std::string path = args.size() > which.size() ? trim(args.substr(which.size())) : std::string();
  if (!path.empty() && path[0] != '/') path = join_path(state_.paths.working_dir, path);
  // 256 colours keep the pictures of the user guide small.
  const bool saved =
      !path.empty() && target->grab().toImage().convertToFormat(QImage::Format_Indexed8).save(qs(path), "PNG");
  ui_.note("screenshot\t" + base_name(path) + "\t" + (saved ? "saved" : "failed"));
  return saved ? 0 : 1;
}

// Script lines for the open calibration window: "act ACTION [ARGUMENTS]"
// (the buttons, see CalibrationWindow::act), "act_points" (the point
// table's lines) and "act_screenshot NAME.png".
int MainWindow::calibration_script_line(const std::string& word, const std::string& rest) {
  if (!calibration_window_ || calibration_window_->finished()) {
    ui_.note("error\tno calibration window is open");
    return 1;
  }
  if (word == "act_points") {
    for (const std::string& l : calibration_window_->lines()) ui_.note("point\t" + l);
    return 0;
  }
  if (word == "act_screenshot") {
    QCoreApplication::processEvents();
    std::string target = rest;
    if (!target.empty() && target[0] != '/') target = join_path(state_.paths.working_dir, target);
    const bool saved = calibration_window_->grab().save(qs(target), "PNG");
    ui_.note("screenshot\t" + rest + "\t" + (saved ? "saved" : "failed"));
    return saved ? 0 : 1;
  }
  const size_t sp = rest.find(' ');
  const std::string action = rest.substr(0, sp);
  const std::string argument = sp == std::string::npos ? std::string() : trim(rest.substr(sp + 1));
  const int r = calibration_window_->act(action, argument);
  ui_.note("act\t" + action + "\t" + (r == 1 ? "done" : r == 0 ? "refused" : "unknown") +
           (calibration_window_->finished() ? "\tclosed" : ""));
  return r < 0 ? 1 : 0;
}

// The library editor on the analysis library of the parameters; without
// the privilege it only shows it.
int MainWindow::open_library_editor() {
  privileged("Modifications cannot be made to the Library", false);  // warns only
  const bool may_modify = state_.app.privileged;
  delete library_editor_;
  library_editor_ = new LibraryEditor(state_, ui_, may_modify, this);
  const std::string title = to_string(state_.params.analysis_library);
  if (!title.empty()) library_editor_->open_library(title);
  library_editor_->show();
  return 1;
}

int MainWindow::run_long(const std::function<int()>& operation) {
  // From a list window's button while no command runs (a script line or a
  // click); inside a command the command's own busy state stands.
  const bool nested = busy_;
  if (!nested) {
    busy_ = true;
    ui_.clear_abort();
    state_.app.abort_requested = false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
  }
  const int result = operation();
  if (!nested) {
    QApplication::restoreOverrideCursor();
    busy_ = false;
    refresh();
    statusBar()->showMessage(qs(state_.app.status_text));
  }
  return result;
}

// The file lists and editors: each opens beside the main window (a new
// one replaces the one open before).
int MainWindow::open_list_window(int id) {
  State& s = state_;
  ListWindow* w = nullptr;
  std::string key;
  const int detector = calibration_detector_number(s.spectrum.header, s.params);
  if (id == 237) {
    auto* list = new SpectrumList(s, ui_, directory_for_type(s, s.params.default_spectrum_type), this);
    list->ready_to_replace = [this] { return ready_to_replace(); };
    w = list;
    key = "spectra";
  } else if (id == 241) {
    w = new DefaultsList(s, ui_, this);
    key = "defaults";
  } else if (id == 256) {
    auto* editor = new DetectorEditor(s, ui_, this);
    if (!editor->open_detector(detector)) {
      delete editor;
      return 0;
    }
    w = editor;
    key = "detector";
  } else if (id == 317) {
    auto* list = new ReferenceList(s, ui_, this);
    list->fit = [this] { return step_reference_fit(state_); };
    w = list;
    key = "references";
  } else if (id == 2101) {
    auto* dialog = new GeometryDialog(s, ui_, this);
    if (!dialog->open_detector(detector)) {
      delete dialog;
      return 0;
    }
    w = dialog;
    key = "geometry";
  } else {
    // The background files: 235 chooses one to load, 247 names the file
    // the analysed peaks are saved in, 214 the file a background analysis
    // is saved in.
    std::function<int(const std::string&)> accepted;
    if (id == 235) {
      accepted = [this](const std::string& name) { return app_load_background(state_, name); };
    } else if (id == 247) {
      accepted = [this](const std::string& name) { return save_background(state_, name); };
    } else {
      accepted = [this](const std::string& name) {
        return run_long([&] {
          analysing_background_ = true;
          update_commands();
          const int ok = analyse_and_save_background(state_, name);
          if (!ok && (state_.app.abort_requested || ui_.abort_requested())) ui_.set_status("Background save aborted");
          analysing_background_ = false;
          return ok;
        });
      };
    }
    w = new BackgroundList(s, ui_, id != 235, accepted, this);
    key = "background";
  }
  w->run_long = [this](const std::function<int()>& f) { return run_long(f); };
  w->on_changed = [this] {
    plot_->show_all();
    refresh();
  };
  if (auto it = list_windows_.find(key); it != list_windows_.end() && it->second) it->second->deleteLater();
  list_windows_[key] = w;
  w->setAttribute(Qt::WA_DeleteOnClose, false);
  w->show();
  if (ui_.scripted()) ui_.note("window\t" + w->windowTitle().toStdString());
  return 1;
}

// A script line for a list window: "WORD ACTION [ARGUMENTS]".
int MainWindow::list_window_line(const std::string& word, const std::string& rest) {
  const size_t sp = rest.find(' ');
  const std::string action = rest.substr(0, sp);
  const std::string argument = sp == std::string::npos ? std::string() : trim(rest.substr(sp + 1));
  auto it = list_windows_.find(word);
  if (it == list_windows_.end() || !it->second || (it->second->finished() && action != "screenshot")) {
    ui_.note("error\tno " + word + " window is open");
    return 1;
  }
  std::string target = argument;
  if (action == "screenshot" && !target.empty() && target[0] != '/') target = join_path(state_.paths.working_dir, target);
  const int r = it->second->act(action, action == "screenshot" ? target : argument);
  ui_.note(word + "\t" + action + "\t" + (r == 1 ? "done" : r == 0 ? "refused" : "unknown") +
           (it->second->finished() ? "\tclosed" : ""));
  return r < 0 ? 1 : 0;
}

// Save Reference Spectrum: the title, activity and uncertainty, then the
// file (the spectrum's name with ".rsd" proposed, in the reference folder);
// declining to replace an existing file asks for another name. The folder
// chosen becomes the reference folder.
int MainWindow::save_reference_command() {
  State& s = state_;
  std::string title = trim(to_string(s.spectrum.header.sample_type));
  if (title.size() > static_cast<size_t>(kMaxReferenceTitle)) title.resize(static_cast<size_t>(kMaxReferenceTitle));
  std::string activity, uncertainty = c_format("%3.1f", 0.0);
  const char* caption = "Save Reference Spectrum";
  if (!ui_.ask_text("&Spectrum Title (<16 chars) :-", caption, false, title)) return 0;
  if (title.size() > static_cast<size_t>(kMaxReferenceTitle)) {
    ui_.message_box("Spectrum Title should be less than 16 chars.", {}, kMsgError);
    return 0;
  }
  if (!ui_.ask_text("&Activity ( Bq ) :-", caption, false, activity)) return 0;
  if (!ui_.ask_text("&Uncertainty ( % ) :-", caption, false, uncertainty)) return 0;
  auto number = [](const std::string& text, double& value) {
    const std::string t = trim(text);
    char* end = nullptr;
    value = c_strtod(t.c_str(), &end);
    return !t.empty() && end != nullptr && *end == '\0';
  };
  double bq = 0, pct = 0;
  if (!number(activity, bq) || !number(uncertainty, pct)) {
    ui_.message_box("The activity and its uncertainty must be numbers", {}, kMsgError);
    return 0;
  }
  std::string dir = to_string(s.params.calibration_dir);
  if (dir.empty() || !directory_exists(dir)) dir = s.paths.working_dir;
  std::string name = base_name(s.app.current_file);
  if (const size_t dot = name.rfind('.'); dot != std::string::npos) name.resize(dot);
  for (;;) {
    FileDialog d;
    d.title = "Save Reference Spectral Data file";
    d.filters = {{"Reference Spectra (*.rsd)", "*.rsd"}};
    d.initial_directory = dir;
    d.initial_name = (name.empty() ? std::string("reference") : name) + ".rsd";
    if (!ui_.save_file_dialog(d) || d.paths.empty()) return 0;
    std::string path = d.paths.front();
    if (base_name(path).find('.') == std::string::npos) path += ".rsd";
    if (file_exists(resolve_path(path)) &&
        ui_.message_box(c_format("Update the existing file:- %s ?", path.c_str()),
                        "The Reference data file already exists", kMsgYesNo, kAnswerNo) != kAnswerYes) {
      name = base_name(path);
      name.resize(name.size() - 4);
      continue;
    }
    if (!save_reference_spectrum(s, path, title, bq, pct, true)) return 0;
    assign(s.params.calibration_dir, dir_name(path));
    return 1;
  }
}

int MainWindow::not_available(const std::string& what) {
  return capability_missing(ui_, what);
}

bool MainWindow::privileged(const char* message, bool refuse) {
  if (state_.app.privileged) return true;
  ui_.message_box(message, "The Password was not entered", kMsgWarning);
  return !refuse;
}

int MainWindow::ready_to_replace() {
  if (state_.acquisition.collecting) {
    ui_.message_box("MCA Data Collection is active", "", kMsgError);
    return 0;
  }
  if (state_.app.calibration_modified) {
    state_.app.spectrum_changed = true;
    const int answer = ui_.message_box("Save changes to a Detector file ?", "The Calibration has been modified",
                                       kMsgYesNoCancel, kAnswerYes);
    if (answer == kAnswerCancel) return 0;
    if (answer == kAnswerNo) {
      state_.app.calibration_modified = false;
    } else if (!write_detector_calibration(state_, true)) {
      return 0;
    }
  }
  return offer_to_save_changes(state_);
}

void MainWindow::clear_peak_results() {
  clear_peak_list(state_);
  state_.results = NuclideResults{};
  state_.fitting.report_open = false;
  plot_->show_nuclides = false;
  plot_->select_peak(0);
}

void MainWindow::new_spectrum() {
  clear_peak_results();
  state_.app.spectrum_loaded = false;
  state_.app.spectrum_changed = false;
  state_.spectrum.clear();
  state_.spectrum.header.channels =
      static_cast<std::int16_t>(state_.params.sc_channels > 0 ? std::min(state_.params.sc_channels, kMaxChannels) : 1024);
  state_.app.current_file = "MCA_Data.dat";
  state_.app.spectrum_path.clear();
  std::fill(state_.acquisition.counts.begin(), state_.acquisition.counts.end(), 0);
  state_.second = SecondSpectrum{};
  plot_->show_all();
}

int MainWindow::open_spectrum_command(int type) {
  state_.app.spectrum_type = type;
  if (!ready_to_replace()) return 0;
  if (!choose_and_open_spectra(state_, false)) return 0;
  if (state_.app.batch_analysis) {
    run_batch(state_);
    return 1;
  }
  clear_peak_results();
  const int ok = open_spectrum(state_, true);
  plot_->show_all();
  return ok;
}

void MainWindow::about_box() {
  const std::string text = "Kestrim " + state_.app.version +
                           "\nLow Resolution Gamma Analysis software\nfor sodium iodide detectors";
  if (ui_.scripted()) {
    ui_.note("window\tAbout Kestrim");
    return;
  }
  QMessageBox::about(this, "About Kestrim", qs(text));
}

void MainWindow::status_dialog() {
  const SpectrumRecord& sp = state_.spectrum;
  std::string text;
  text += "Spectrum: " + (state_.app.spectrum_loaded ? state_.app.current_file : std::string("none")) + "\n";
  text += c_format("Channels: %d\nLive time: %.1f s\nTrue time: %.1f s\n", sp.header.channels,
                   sp.header.live_time, sp.header.true_time);
  text += c_format("Detector: %d  Geometry: %d\n", sp.header.detector, sp.header.geometry);
  text += c_format("Energy calibration terms: %d\n", static_cast<int>(sp.calibration.energy_terms));
  text += c_format("Peaks: %d (%s)\n", state_.peaks.count, state_.peaks.fitted ? "fitted" : "not all fitted");
  text += c_format("Nuclides reported: %d\n", static_cast<int>(state_.results.results.size()));
  text += "Library: " + to_string(state_.params.analysis_library) + "\n";
  text += "Defaults: " + to_string(state_.params.application_name) +
          c_format(" %03d", static_cast<int>(state_.params.defaults_number)) + "\n";
  text += std::string("Privileged: ") + (state_.app.privileged ? "yes" : "no") + "\n";
  text += "Working folder: " + state_.paths.working_dir + "\n";
  if (ui_.scripted()) {
    ui_.note("window\tStatus");
    return;
  }
  QMessageBox::information(this, "Status", qs(text));
}

int MainWindow::header_dialog() {
  HeaderEdit edit = header_edit_from(state_);
  if (ui_.scripted()) {
    ui_.note("window\tEdit Spectrum Header");
    std::map<std::string, std::string*> named = {
        {"title", &edit.title}, {"description", &edit.description}, {"user", &edit.user},
        {"sample_number", &edit.sample_number}, {"sampling_uncertainty", &edit.sampling_uncertainty},
        {"live_time", &edit.live_time}, {"sample_size", &edit.sample_size}, {"units", &edit.units},
        {"sample_date", &edit.sample_date}, {"sample_time", &edit.sample_time},
        {"collection_date", &edit.collection_date}, {"collection_time", &edit.collection_time},
        {"location", &edit.location}, {"sample_id", &edit.sample_id}, {"sample_type", &edit.sample_type}};
    for (const auto& [name, value] : header_edits_) {
      if (name == "geometry") edit.geometry = static_cast<int>(number_word(value, 0));
      else if (named.count(name)) *named[name] = value;
    }
    header_edits_.clear();
    return apply_header_edit(state_, edit);
  }
  QDialog dialog(this);
  dialog.setWindowTitle("Spectrum Header");
  auto* form = new QFormLayout(&dialog);
  struct Field {
    const char* label;
    std::string* value;
  };
  std::vector<Field> fields = {
      {"Title", &edit.title},           {"Description", &edit.description},
      {"User", &edit.user},             {"Sample number", &edit.sample_number},
      {"Sampling uncertainty %", &edit.sampling_uncertainty},
      {"Live time (s)", &edit.live_time}, {"Sample size", &edit.sample_size},
      {"Units", &edit.units},           {"Sample date", &edit.sample_date},
      {"Sample time", &edit.sample_time}, {"Collection date", &edit.collection_date},
      {"Collection time", &edit.collection_time}, {"Location", &edit.location},
      {"Sample id", &edit.sample_id},   {"Sample type", &edit.sample_type}};
  std::vector<QLineEdit*> edits;
  for (const Field& f : fields) {
    auto* e = new QLineEdit(qs(*f.value), &dialog);
    form->addRow(f.label, e);
    edits.push_back(e);
  }
  auto* geometry = new QSpinBox(&dialog);
  geometry->setRange(0, 99);
  geometry->setValue(edit.geometry);
  form->addRow("Geometry", geometry);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  // The dialog stays open until every field passes its check.
  connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
    for (size_t i = 0; i < fields.size(); ++i) *fields[i].value = edits[i]->text().toStdString();
    edit.geometry = geometry->value();
    if (apply_header_edit(state_, edit)) dialog.accept();
  });
  return dialog.exec() == QDialog::Accepted ? 1 : 0;
}

namespace {

// One parameter as the set-up dialog edits it: its text and how to store
// an edited text (false when it is not a value of the field's kind).
struct ParameterField {
  std::string name, description;
  std::function<std::string()> get;
  std::function<bool(const std::string&)> set;
};

template <typename T>
ParameterField parameter_field(T& member, const char* name, const char* description) {
  ParameterField f{name, description, {}, {}};
  if constexpr (std::is_integral_v<T>) {
    f.get = [&member] { return c_format("%d", static_cast<int>(member)); };
    f.set = [&member](const std::string& text) {
      long long v = 0;
      const std::string t = trim(text);
      auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
      if (ec != std::errc() || end != t.data() + t.size() || t.empty()) return false;
      if (v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max()) return false;
      member = static_cast<T>(v);
      return true;
    };
  } else if constexpr (std::is_floating_point_v<T>) {
    f.get = [&member] { return c_format("%.7g", static_cast<double>(member)); };
    f.set = [&member](const std::string& text) {
      const std::string t = trim(text);
      char* end = nullptr;
      const double v = c_strtod(t.c_str(), &end);
      if (t.empty() || end != t.c_str() + t.size() || !std::isfinite(v)) return false;
      member = static_cast<T>(v);
      return true;
    };
  } else {
    f.get = [&member] { return to_string(member); };
    f.set = [&member](const std::string& text) {
      assign(member, text);
      return true;
    };
  }
  return f;
}

std::vector<ParameterField> parameter_fields(AnalysisParameters& p) {
  std::vector<ParameterField> out;
#define KESTRIM_DESKTOP_FIELD(kind, member, offset, size, name, description) \
  out.push_back(parameter_field(p.member, name, description));
  KESTRIM_PARAMETER_FIELDS(KESTRIM_DESKTOP_FIELD)
#undef KESTRIM_DESKTOP_FIELD
  // The checksum and the file's own number are kept by the Defaults file.
  std::erase_if(out, [](const ParameterField& f) { return f.name == "checksum" || f.name == "DEFN"; });
  return out;
}

// The page of the set-up dialog a parameter is shown on.
const char* setup_group(const ParameterField& f) {
  const std::string d = to_lower(f.description);
  auto has = [&](const char* w) { return d.find(w) != std::string::npos; };
  if (has("sound-card") || has("mca") || has("rx720") || has("serial") || has("preset") || has("adc") ||
      has("acquisition") || has("temperature") || has("gain"))
    return "Acquisition";
  if (has("reference")) return "Reference Fitting";
  if (has("directory") || has("file name") || has("library name")) return "Files";
  if (has("peak search") || has("discriminator") || has("smoothing") || has("fitting") || has("fit ") ||
      has("continuum") || has("width") || has("region") || has("peak") || has("tailing"))
    return "Peak Search and Fitting";
  if (has("activity") || has("nuclide") || has("limit") || has("lod") || has("uncertainty") ||
      has("energy tolerance") || has("confidence") || has("efficienc") || has("dose"))
    return "Quantitative";
  if (has("report") || has("database") || has("print")) return "Reports";
  if (has("window") || has("display") || has("menu") || has("status bar") || has("toolbar") ||
      has("cursor") || has("plot"))
    return "Display";
  return "General";
}

}  // namespace

int MainWindow::setup_dialog() {
  const bool allowed = privileged("Modifications made to the Parameters will not be used", false);
  AnalysisParameters edited = state_.params;
  std::vector<ParameterField> fields = parameter_fields(edited);
  // Accepting: the values must all read, then the set-up checks decide.
  auto accept = [&](const std::vector<std::string>& texts) -> bool {
    for (size_t i = 0; i < fields.size(); ++i) {
      if (!fields[i].set(texts[i])) {
        ui_.message_box("This value is not valid:- " + fields[i].description, {}, kMsgError);
        return false;
      }
    }
    if (!confirm_setup_checks(ui_, check_all_setup_pages(edited))) return false;
    if (!allowed) return true;  // the dialog closes, nothing is used
    state_.params = edited;
    apply_peak_fitting_page(state_.params, state_.app);
    app_save_parameters(state_);
    return true;
  };
  std::vector<std::string> texts;
  for (const ParameterField& f : fields) texts.push_back(f.get());
  if (ui_.scripted() && setup_picture_.empty()) {
    ui_.note("window\tSet-Up");
    for (const auto& [name, value] : setup_edits_)
      for (size_t i = 0; i < fields.size(); ++i)
        if (fields[i].name == name) texts[i] = value;
    setup_edits_.clear();
    return accept(texts) ? 1 : 0;
  }
  QDialog dialog(this);
  dialog.setWindowTitle("Set-Up");
  auto* layout = new QVBoxLayout(&dialog);
  auto* pages = new QTabWidget(&dialog);
  layout->addWidget(pages);
  std::map<std::string, QFormLayout*> forms;
  std::vector<QLineEdit*> edits;
  for (const char* g : {"General", "Peak Search and Fitting", "Quantitative", "Reports", "Files", "Display",
                        "Acquisition", "Reference Fitting"}) {
    auto* scroll = new QScrollArea(pages);
    auto* page = new QWidget(scroll);
    forms[g] = new QFormLayout(page);
    scroll->setWidget(page);
    scroll->setWidgetResizable(true);
    pages->addTab(scroll, g);
  }
  for (const ParameterField& f : fields) {
    auto* e = new QLineEdit(qs(f.get()), &dialog);
    e->setToolTip(qs(f.name));
    QString label = qs(f.description);
    if (!label.isEmpty()) label[0] = label[0].toUpper();
    forms[setup_group(f)]->addRow(label, e);
    edits.push_back(e);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
    std::vector<std::string> now;
    for (QLineEdit* e : edits) now.push_back(e->text().toStdString());
    if (accept(now)) dialog.accept();
  });
  dialog.resize(760, 560);
  if (!setup_picture_.empty()) {
    // A script's picture: shown, grabbed and closed without an answer.
    dialog.show();
    QCoreApplication::processEvents();
    const bool saved = dialog.grab().save(qs(setup_picture_), "PNG");
    ui_.note("screenshot\t" + setup_picture_ + "\t" + (saved ? "saved" : "failed"));
    setup_picture_.clear();
    dialog.reject();
    return saved ? 1 : 0;
  }
  return dialog.exec() == QDialog::Accepted ? 1 : 0;
}

int MainWindow::passwords_dialog() {
  // Fields: current manager password, new user password, new manager
  // password and its repetition.
  std::array<std::string, 4> entry;
  auto accept = [&]() -> bool {
    for (std::string& e : entry) {
      if (e.size() > 15) e.resize(15);
      e = to_lower(e);
    }
    Passwords& pw = state_.passwords;
    if (!pw.manager.empty()) {
      if (entry[0].empty()) {
        ui_.message_box("The Manager's Password has not been entered", "", kMsgWarning);
        return false;
      }
      if (!iequals(entry[0], pw.manager)) {
        ui_.message_box("The Manager's Password did not match", "", kMsgWarning);
        return false;
      }
    }
    if (!entry[1].empty()) {
      pw.user = entry[1];
      ui_.message_box("The User's Password has been updated", "", kMsgOk);
    } else {
      if (ui_.message_box("Do you want to clear the Password ?", "No user Password has been entered", kMsgYesNo,
                          kAnswerNo) != kAnswerYes)
        return false;
      pw.user.clear();
      state_.app.privileged = true;
    }
    if (!entry[2].empty()) {
      if (entry[2] != entry[3]) {
        ui_.message_box("The repeated Password did not match the Manager's new Password", "", kMsgWarning);
        return false;
      }
      pw.manager = entry[2];
      ui_.message_box("The Manager's Password has been updated", "", kMsgOk);
    }
    return true;
  };
  auto cancel = [&]() -> bool {
    return ui_.message_box("Do you want to exit this dialogue?", "The Passwords will not be changed", kMsgYesNo,
                           kAnswerNo) == kAnswerYes;
  };
  if (ui_.scripted()) {
    ui_.note("window\tSet Passwords");
    for (std::string& e : entry)
      if (!ui_.text_answers.empty()) e = ui_.text_answers.front(), ui_.text_answers.pop_front();
    if (accept()) return 1;
    return cancel() ? 0 : 0;
  }
  QDialog dialog(this);
  dialog.setWindowTitle("Passwords");
  auto* form = new QFormLayout(&dialog);
  const char* labels[4] = {"Manager's password", "New user password", "New manager password",
                           "Repeat new manager password"};
  std::array<QLineEdit*, 4> edits{};
  for (int i = 0; i < 4; ++i) {
    edits[i] = new QLineEdit(&dialog);
    edits[i]->setEchoMode(QLineEdit::Password);
    edits[i]->setMaxLength(15);
    form->addRow(labels[i], edits[i]);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
    for (int i = 0; i < 4; ++i) entry[i] = edits[i]->text().toStdString();
    if (accept()) dialog.accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, &dialog, [&] {
    if (cancel()) dialog.reject();
  });
  return dialog.exec() == QDialog::Accepted ? 1 : 0;
}

void MainWindow::find_in_report(bool again, bool backwards) {
  if (!again || find_text_.empty()) {
    if (ui_.scripted()) {
      if (!ui_.text_answers.empty()) find_text_ = ui_.text_answers.front(), ui_.text_answers.pop_front();
    } else {
      bool ok = false;
      QString t = QInputDialog::getText(this, "Find", "Find what:", QLineEdit::Normal, qs(find_text_), &ok);
      if (!ok) return;
      find_text_ = t.toStdString();
    }
  }
  if (find_text_.empty()) return;
  QTextDocument::FindFlags flags;
  if (backwards) flags |= QTextDocument::FindBackward;
  bool found = report_->find(qs(find_text_), flags);
  if (ui_.scripted()) ui_.note(std::string("find\t") + find_text_ + "\t" + (found ? "found" : "not found"));
  if (!found) ui_.set_status("Cannot find \"" + find_text_ + "\"");
}

int MainWindow::save_report() {
  FileDialog d;
  d.title = "Save Report";
  d.filters = {{"Text Files (*.txt)", "*.txt"}};
  d.initial_directory = state_.paths.working_dir;
  d.initial_name = report_path_.empty() ? std::string("Report.txt") : base_name(report_path_);
  if (!ui_.save_file_dialog(d) || d.paths.empty()) return 0;
  const std::string text = report_->toPlainText().toStdString();
  std::string error;
  if (!write_text_atomic(d.paths.front(), text, &error, state_.paths.write_faults)) {
    ui_.message_box("Error Creating:- " + d.paths.front());
    return 0;
  }
  return 1;
}

int MainWindow::colour_dialog() {
  const std::string path = join_path(state_.paths.working_dir, "COLOUR.INF");
  ColourTable colours = plot_->colours;
  if (ui_.scripted()) {
    ui_.note("window\tColours");
  } else {
    QStringList roles;
    for (int i = 0; i < kColourCount; ++i) roles << colour_role(i);
    bool ok = false;
    const QString role = QInputDialog::getItem(this, "Colours", "Colour of:", roles, 0, false, &ok);
    if (!ok) return 0;
    const int index = static_cast<int>(roles.indexOf(role));
    const QColor chosen = QColorDialog::getColor(colours[index], this, "Colour of " + role);
    if (!chosen.isValid()) return 0;
    colours[index] = chosen;
  }
  if (!write_colour_file(path, colours)) {
    ui_.message_box("Error Creating:- " + path);
    return 0;
  }
  plot_->colours = colours;
  plot_->update();
  return 1;
}

int MainWindow::export_plot() {
  FileDialog d;
  d.title = "Export Spectrum Plot";
  d.filters = {{"PNG image (*.png)", "*.png"}, {"PDF document (*.pdf)", "*.pdf"}};
  d.initial_directory = state_.paths.working_dir;
  d.initial_name = state_.app.current_file.empty() ? std::string("spectrum.png")
                                                    : state_.app.current_file + ".png";
  if (!ui_.save_file_dialog(d) || d.paths.empty()) return 0;
  const std::string path = d.paths.front();
  const QImage image = plot_->image();
  bool ok = false;
  if (iequals(extension_of(path), "pdf")) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(qs(path));
    printer.setPageOrientation(QPageLayout::Landscape);
    QPainter painter;
    if (painter.begin(&printer)) {
      const QRect page = painter.viewport();
      QSize size = image.size();
      size.scale(page.size(), Qt::KeepAspectRatio);
      painter.drawImage(QRect(page.topLeft(), size), image);
      ok = painter.end();
    }
  } else {
    ok = image.save(qs(path), "PNG");
  }
  if (!ok) {
    ui_.message_box("Error Creating:- " + path);
    return 0;
  }
  return 1;
}

int MainWindow::print_plot() {
  if (QPrinterInfo::availablePrinters().isEmpty()) {
    ui_.message_box("No printer is installed", {}, kMsgWarning);
    return 0;
  }
  QPrinter printer(QPrinter::HighResolution);
  printer.setPageOrientation(QPageLayout::Landscape);
  if (!ui_.scripted()) {
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() != QDialog::Accepted) return 0;
  }
  const QImage image = plot_->image();
  QPainter painter;
  if (!painter.begin(&printer)) {
    ui_.message_box("The printer could not be started");
    return 0;
  }
  const QRect page = painter.viewport();
  QSize size = image.size();
  size.scale(page.size(), Qt::KeepAspectRatio);
  painter.drawImage(QRect(page.topLeft(), size), image);
  painter.end();
  return 1;
}

int MainWindow::dispatch(int id) {
  const DesktopCommand* c = find_command(id);
  auto note = [&](const char* what) {
    if (ui_.scripted()) ui_.note(std::string("command\t") + std::to_string(id) + "\t" + what);
  };
  if (!c) {
    note("unknown");
    return -1;
  }
  if (const std::string section = command_help_section(id); !section.empty()) help_context_ = section;
  // While an operation runs only Abort is taken.
  if (busy_) {
    if (id == 174) ui_.request_abort();
    note(id == 174 ? "done" : "busy");
    return id == 174 ? 1 : -1;
  }
  if (removed(id)) {
    note("removed");
    return -1;
  }
  if (!enabled(id)) {
    note("disabled");
    return -1;
  }
  busy_ = true;
  ui_.clear_abort();
  state_.app.abort_requested = false;
  const bool long_operation = id == 209 || id == 152 || id == 200 || id == 211 || id == 315 || id == 197 ||
                              id == 239 || id == 214 || id == 245 || id == 249 || id == 250 || id == 252;
  if (long_operation) QApplication::setOverrideCursor(Qt::WaitCursor);
  int result = 0;
  if ((id >= 116 && id <= 118) || id == 127 || (id >= 164 && id <= 175) || (id >= 217 && id <= 219) ||
      id == 270 || id == 304 || id == 193 || id == 194 || id == 305 || id == 202 || (id >= 204 && id <= 207) ||
      id == 318 || id == 319 || id == 325 || id == 327 || id == 289 || id == 310 || id == 2001 || id == 2002)
    result = plot_command(id);
  else
    result = run_command(id);
  if (long_operation) QApplication::restoreOverrideCursor();
  busy_ = false;
  if (!closing_) {
    refresh();
    statusBar()->showMessage(qs(state_.app.status_text));
  }
  note(result == 1 ? "done" : "failed");
  return result;
}

int MainWindow::plot_command(int id) {
  SpectrumPlot& p = *plot_;
  switch (id) {
    case 116: p.scale = YScale::kLinear; break;
    case 117: p.scale = YScale::kSquareRoot; break;
    case 118: p.scale = YScale::kLog; break;
    case 127: p.toggle_expand(); break;
    case 174: ui_.request_abort(); break;
    case 217: p.show_fit = !p.show_fit; break;
    case 218: p.show_continuum = !p.show_continuum; break;
    case 219: p.show_residuals = !p.show_residuals; break;
    case 270: p.show_markers = !p.show_markers; break;
    case 170:
      if (state_.peaks.count > 0) p.centre_on_peak(std::min(state_.peaks.count, p.selected_peak() + 1));
      break;
    case 171:
      if (state_.peaks.count > 0) p.centre_on_peak(std::max(1, p.selected_peak() - 1));
      break;
    case 304:
      if (p.selected_peak() == 0) {
        ui_.message_box("No peak is selected", "", kMsgWarning);
        return 0;
      }
      p.centre_on_peak(p.selected_peak());
      break;
    case 164: {
      const int ch = p.clicked_channel();
      if (ch < 2 || ch >= state_.spectrum.header.channels) {
        ui_.message_box("Click in the plot where the Peak is to be added", "", kMsgWarning);
        return 0;
      }
      const int added = insert_peak(state_, ch);
      if (added == 0) {
        ui_.message_box("The Peak list is full", "", kMsgWarning);
        return 0;
      }
      state_.peaks.fitted = false;
      state_.peaks.fit_enabled = true;
      p.select_peak(added);
      break;
    }
    case 165:
    case 169: {
      const int k = p.selected_peak();
      if (k < 1 || k > state_.peaks.count) {
        ui_.message_box("No peak is selected", "", kMsgWarning);
        return 0;
      }
      if (id == 165) {
        if (!remove_peak(state_, state_.peaks.centre_channel[k])) return 0;
        state_.peaks.fitted = false;
        p.select_peak(0);
        break;
      }
      // The region the selected peak was last fitted in, from its first peak.
      int first = k;
      while (first > 1 && state_.peaks.fit_start[first - 1] == state_.peaks.fit_start[k] &&
             state_.peaks.fit_start[k] > 0)
        --first;
      Region& r = state_.peaks.region;
      r.first = first;
      r.bounds_user = false;
      r.continuum_forced = false;
      r.step_requested = false;
      r.continuum_choice = 0;
      if (!fit_region(state_, false)) return 0;
      break;
    }
    case 175:
      return not_available("Setting the region bounds by hand");
    case 193: tabs_->setCurrentWidget(nuclides_); break;
    case 194: tabs_->setCurrentWidget(peaks_); break;
    case 305: p.show_nuclides = !p.show_nuclides; break;
    case 202: p.type = PlotType::kSpectrum; p.show_overlay = false; break;
    case 204: p.type = PlotType::kEnergy; break;
    case 205: p.type = PlotType::kShape; break;
    case 206: p.type = PlotType::kEfficiency; break;
    case 207: p.type = PlotType::kSpectrum; p.show_residuals = true; break;
    case 318: case 319: return not_available("Acquisition");
    case 325:
    case 327:
      if (!state_.second.loaded) {
        ui_.message_box("There is no Overlap data loaded", "", kMsgWarning);
        return 0;
      }
      if (id == 325) p.type = PlotType::kSpectrum, p.show_overlay = true;
      else p.type = PlotType::kOverlayOnly;
      break;
    case 289:
      QApplication::clipboard()->setImage(p.image());
      break;
    case 2001:
      return export_plot();
    case 2002:
      return colour_dialog();
    case 310:
      return print_plot();
    default: return 0;
  }
  p.update();
  return 1;
}

int MainWindow::run_command(int id) {
  State& s = state_;
  Platform& ui = ui_;
  const std::string work = s.paths.working_dir;
  const int detector = calibration_detector_number(s.spectrum.header, s.params);
  const int geometry = s.spectrum.header.geometry > 0 ? s.spectrum.header.geometry : s.params.default_geometry;
  switch (id) {
    case 100: about_box(); return 1;
    case 102: return open_spectrum_command(s.params.default_spectrum_type);
    case 243: return open_spectrum_command(0);
    case 265: {
      s.app.sum_mode = true;
      s.app.spectrum_type = s.params.default_spectrum_type;
      const int ok = choose_and_open_spectra(s, true);
      s.app.sum_mode = false;
      if (ok) clear_peak_results();
      return ok;
    }
    case 212: return choose_detector_file(s);
    case 234: {
      FileDialog d;
      d.title = "Open Analysis Library";
      d.filters = {{"Library Files (*.lib;*.csv)", "*.lib;*.csv"}};
      d.initial_directory = join_path(s.paths.program_dir, "Libraries");
      if (!ui.open_file_dialog(d) || d.paths.empty()) return 0;
      assign(s.params.analysis_library, base_name(d.paths.front()));
      return app_load_analysis_library(s);
    }
    case 235: return open_list_window(id);
    case 324: {
      s.app.second_spectrum_mode = true;
      s.app.spectrum_type = s.params.default_spectrum_type;
      FileDialog d;
      d.title = "Open Overlap Data File";
      d.filters = {{"Spectral Data Files (*.*)", "*"}};
      d.initial_directory = directory_for_type(s, s.params.default_spectrum_type);
      int ok = 0;
      if (ui.open_file_dialog(d) && !d.paths.empty() && check_extension(s, d.paths.front()))
        ok = read_spectrum_file(s, d.paths.front());
      s.app.second_spectrum_mode = false;
      if (ok) {
        s.second.shown = true;
        plot_->show_overlay = true;
      }
      return ok;
    }
    case 237: if (!ready_to_replace()) return 0; return open_list_window(id);
    case 241: return open_list_window(id);
    case 248: return open_library_editor();
    case 256: if (!privileged("This function cannot be used", true)) return 0; return open_list_window(id);
    case 2101: return open_list_window(id);
    case 213:
      if (report_viewer_active()) return save_report();
      return save_spectrum(s, true, s.app.background_block_present, false);
    case 308: if (!privileged("This function cannot be used", true)) return 0; return write_detector_calibration(s, true);
    case 288: return save_text_spectrum(s);
    case 247: {
      if (!privileged("This function cannot be used", true)) return 0;
      if (s.peaks.count == 0) {
        ui.message_box("There is no Peak data to save", "", kMsgWarning);
        return 0;
      }
      if (!s.peaks.fitted && ui.message_box("Not all the Peaks have been fitted, do you want to Continue?", "",
                                            kMsgYesNo, kAnswerNo) != kAnswerYes)
        return 0;
      return open_list_window(id);
    }
    case 320: if (!privileged("This function cannot be used", true)) return 0; return save_reference_command();
    case 262: return passwords_dialog();
    case 246:
      if (report_viewer_active()) return 0;
      if (!ready_to_replace()) return 0;
      new_spectrum();
      s.app.calibration_modified = false;
      return 1;
    case 103:
      if (!ready_to_replace()) return 0;
      closing_ = true;
      QTimer::singleShot(0, this, [] { QCoreApplication::exit(0); });
      return 1;
    case 134:
      if (s.params.mca_type == 0) return 1;
      return not_available("Acquisition");
    case 1423: return not_available("Acquisition");
    case 321: case 322: case 323: {
      if (s.params.mca_type == 0) return 1;
      AppAcquisitionHooks hooks(s);
      if (id == 321) return command_start_acquisition(s, hooks);
      if (id == 322) return command_continue_acquisition(s, hooks);
      return command_stop_acquisition(s, hooks);
    }
    case 181: return setup_dialog();
    case 245: case 249: case 250: case 252: return open_calibration_window(id);
    case 251:
      if (!privileged("This function cannot be used", true)) return 0;
      if (!ready_to_replace()) return 0;
      s.spectrum.calibration = CalibrationRecord{};
      s.spectrum.efficiency = EfficiencyPoints{};
      s.app.use_efficiency_points = false;
      return 1;
    case 209: {
      s.app.print_main_report = s.app.print_peak_report = s.app.print_activity_report = false;
      const int ok = analyse_current_spectrum(s);
      close_activity_database(s);
      return ok;
    }
    case 152: return step_peak_search(s);
    case 200: return library_peak_search(s);
    case 211: return step_fit_all_regions(s);
    case 315: return drift_correction_with_search(s);
    case 197: {
      const int ok = step_quantitative_analysis(s);
      close_activity_database(s);
      return ok;
    }
    case 239: return quantitative_with_recalibration();
    case 326:
      if (!s.second.loaded) return 0;
      if (!offer_to_save_changes(s)) return 0;
      return not_available("Background stripping");
    case 316:
      if (s.params.reference_fitting) {
        s.params.reference_fitting = 0;
        return 1;
      }
      if (!offer_to_save_changes(s)) return 0;
      s.params.reference_fitting = 1;
      return step_reference_fit(s);
    case 317:
      if (!offer_to_save_changes(s)) return 0;
      return open_list_window(id);
    case 214:
      if (!privileged("This function cannot be used", true)) return 0;
      return open_list_window(id);
    case 298: clear_peak_results(); return 1;
    case 208: return header_dialog();
    case 215: status_dialog(); return 1;
    case 226:
      if (report_viewer_active()) {
        if (!s.services.printer) return capability_missing(ui, "Printing");
        return s.services.printer->print_text_file(report_path_, ui);
      }
      return plot_command(310);
    case 190: return show_working_file("Main Report.txt");
    case 196: return show_working_file("Header Report.txt");
    case 187:
      write_peak_database(s);
      return show_working_file(kPeakFitReportName);
    case 198: return show_working_file(kActivityReport);
    case 199: return show_working_file(kDiagnosticReport);
    case 188: case 189: case 191: case 192: {
      std::string name = id == 188 ? c_format("Det_%02d_ENE.TXT", detector)
                       : id == 189 ? c_format("Det_%02d_SHP.TXT", detector)
                       : id == 191 ? c_format("Det_%02d_%03d.TXT", detector, geometry)
                                   : c_format("Det_%02d_AUT.TXT", static_cast<int>(s.params.defaults_number));
      std::string dir = to_string(s.params.calibration_dir);
      std::string path = join_path(dir.empty() ? work : dir, name);
      if (!file_exists(resolve_path(path))) path = join_path(work, name);
      return show_working_file(path);
    }
    case 280: return show_working_file("Peak Database.csv");
    case 279:
      if (s.params.database_odbc) {
        ui.message_box("Cannot edit an Access database file", "The current database type is set to Access",
                       kMsgWarning);
        return 0;
      }
      return show_working_file(to_string(s.params.database_name) + ".csv");
    case 195: return show_working_file(to_string(s.params.report_template));
    case 261: return show_working_file("Header Report.tpl");
    case 260: return show_working_file(to_string(s.params.database_name) + ".TPL");
    case 291: return show_working_file(kPeakFitTemplateName);
    case 297: return show_working_file("Activity Report.tpl");
    case 254: return list_files("*.enc", "Energy Data files");
    case 255: return list_files("*.shp", "Shape Data files");
    case 299: return list_files("*.efc", "Efficiency Data files");
    case 240: return show_working_file(to_string(s.params.aux_peaks_file));
    case 311:
      if (!write_parameter_report(s)) return 0;
      return show_working_file("Analysis Params.txt");
    case 223: find_in_report(false, false); return 1;
    case 224: find_in_report(true, false); return 1;
    case 225: find_in_report(true, true); return 1;
    case 228: return not_available("The font dialog");
    case 230: return open_help(main_help_section());
    case 273: case 274: return open_help("Contents");
    default: return 0;
  }
}

void MainWindow::start_timer() {
  timer_ = new QTimer(this);
  connect(timer_, &QTimer::timeout, this, [this] { timer_tick(); });
  timer_->start(1000);
}

void MainWindow::timer_tick() {
  clock_label_->setText(QDateTime::currentDateTime().toString("HH:mm:ss"));
  if (busy_) return;
  if (state_.services.devices && state_.acquisition.collecting) {
    AppAcquisitionHooks hooks(state_);
    acquisition_timer_tick(state_, hooks);
    plot_->update();
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (closing_) {
    event->accept();
    return;
  }
  if (busy_) {
    ui_.request_abort();
    event->ignore();
    return;
  }
  if (state_.acquisition.collecting) {
    AppAcquisitionHooks hooks(state_);
    if (!acquisition_close_request(state_, hooks, false)) {
      event->ignore();
      return;
    }
  }
  if (!ready_to_replace()) {
    event->ignore();
    return;
  }
  closing_ = true;
  event->accept();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.isEmpty()) return;
  // Only the first dropped file is taken.
  open_dropped(urls.front().toLocalFile().toStdString());
  event->acceptProposedAction();
}

void MainWindow::open_dropped(const std::string& path) {
  raise();
  activateWindow();
  if (busy_) return;
  if (!check_extension(state_, path)) return;
  if (!ready_to_replace()) return;
  set_spectrum_directory(state_, state_.app.spectrum_type, dir_name(path));
  state_.app.current_file = base_name(path);
  clear_peak_results();
  busy_ = true;
  open_spectrum(state_, true);
  busy_ = false;
  plot_->show_all();
  refresh();
}

void MainWindow::take_command_line(const std::string& text) {
  raise();
  activateWindow();
  if (busy_ || trim(text).empty()) return;
  busy_ = true;
  CommandLineResult parsed = parse_command_line(state_, text);
  if (parsed.ok && parsed.file_named) {
    open_spectrum(state_, true);
    plot_->show_all();
    refresh();
    // The handed-over line runs as the command-line batch, which ends the
    // program.
    const int result = run_command_line_batch(state_, parsed.save_requested, parsed.update_without_asking);
    busy_ = false;
    closing_ = true;
    QCoreApplication::exit(result == 1 ? 0 : 1);
    return;
  }
  busy_ = false;
  refresh();
}

int MainWindow::run_script(const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    ui_.note("error\tcannot read script " + path);
    return 2;
  }
  int status = 0;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    line = trim(line);
    if (line.empty() || line[0] == '#') continue;
    const size_t space = line.find(' ');
    const std::string word = line.substr(0, space);
    const std::string rest = space == std::string::npos ? std::string() : trim(line.substr(space + 1));
    if (word == "screenshot") {
      QCoreApplication::processEvents();
      QPixmap shot = grab();
      std::string target = rest;
      if (!target.empty() && target[0] != '/') target = join_path(state_.paths.working_dir, target);
      const bool ok = shot.save(qs(target), "PNG");
      ui_.note("screenshot\t" + rest + "\t" + (ok ? "saved" : "failed"));
      if (!ok) status = 1;
    } else if (word == "key" || word == "window_screenshot") {
      if (help_script_line(word, rest)) status = 1;
    } else if (word == "act" || word == "act_points" || word == "act_screenshot") {
      if (calibration_script_line(word, rest)) status = 1;
    } else if (word == "lib") {
      // lib ACTION [ARGUMENTS]: a button of the open library editor.
      const size_t sp = rest.find(' ');
      const std::string action = rest.substr(0, sp);
      const int r = library_editor_ ? library_editor_->act(action, sp == std::string::npos ? std::string() : trim(rest.substr(sp + 1))) : -1;
      ui_.note("lib\t" + action + "\t" + (r == 1 ? "done" : r == 0 ? "refused" : "unknown"));
      if (r < 0) status = 1;
    } else if (list_windows_.count(word) || word == "spectra" || word == "defaults" || word == "background" ||
               word == "detector" || word == "geometry" || word == "references") {
      if (list_window_line(word, rest)) status = 1;
    } else if (word == "answer") {
      ui_.answers.push_back(static_cast<int>(number_word(rest, 0)));
    } else if (word == "file") {
      ui_.file_answers.push_back(rest);
    } else if (word == "header") {
      const size_t sp = rest.find(' ');
      header_edits_.emplace_back(rest.substr(0, sp), sp == std::string::npos ? std::string() : trim(rest.substr(sp + 1)));
    } else if (word == "param") {
      const size_t sp = rest.find(' ');
      setup_edits_.emplace_back(rest.substr(0, sp), sp == std::string::npos ? std::string() : trim(rest.substr(sp + 1)));
    } else if (word == "text") {
      ui_.text_answers.push_back(rest);
    } else if (word == "open") {
      open_dropped(rest);
      ui_.note("open\t" + base_name(rest) + "\t" + (state_.app.spectrum_loaded ? "loaded" : "failed"));
    } else if (word == "measure_redraw") {
      // Mean time of a full redraw of the plot into an image (a figure for
      // the user, never a test).
      QImage target(plot_->size(), QImage::Format_RGB32);
      const int rounds = 50;
      QElapsedTimer clock;
      clock.start();
      for (int i = 0; i < rounds; ++i) plot_->render(&target);
      ui_.note(c_format("redraw\t%.3f ms", clock.nsecsElapsed() / 1e6 / rounds));
    } else if (word == "screenshot_setup") {
      setup_picture_ = rest.empty() || rest[0] == '/' ? rest : join_path(state_.paths.working_dir, rest);
      if (setup_dialog() != 1) status = 1;
    } else if (word == "press_in_box") {
      // press_in_box STYLE DEFAULT escape|enter: the answer of a real box.
      const int style = static_cast<int>(number_word(rest, 0));
      const int preset = static_cast<int>(number_word(rest, 1));
      const bool escape = rest.find("escape") != std::string::npos;
      const int answer = ui_.press_in_real_box(style, preset, escape ? Qt::Key_Escape : Qt::Key_Return);
      ui_.note(c_format("box\t%d\t%d\t%s\t%d", style, preset, escape ? "escape" : "enter", answer));
    } else if (word == "abort_after") {
      ui_.abort_after_polls(static_cast<int>(number_word(rest, 0)));
    } else if (word == "click") {
      plot_->click_channel(c_strtod(rest.c_str(), nullptr));
      ui_.note(c_format("click\t%d\tpeak %d", plot_->clicked_channel(), plot_->selected_peak()));
    } else if (word == "peaks") {
      std::string line = c_format("peaks\t%d\t%s", state_.peaks.count, state_.peaks.fitted ? "fitted" : "not all fitted");
      for (int k = 1; k <= state_.peaks.count; ++k) line += c_format("\t%.0f", state_.peaks.centre[k]);
      ui_.note(line);
    } else if (word == "state") {
      for (const DesktopCommand& c : desktop_commands()) {
        ui_.note("state\t" + std::to_string(c.id) + "\t" + (removed(c.id) ? "removed" : enabled(c.id) ? "enabled" : "disabled") +
                 (checked(c.id) ? "\tchecked" : ""));
      }
    } else if (word == "show") {
      // show channels FIRST LAST | show peak N
      const std::string what = rest.substr(0, rest.find(' '));
      const double a = number_word(rest, 1), b = number_word(rest, 2);
      if (what == "channels") plot_->show_channels(a, b);
      else if (what == "peak") plot_->centre_on_peak(static_cast<int>(a));
      else if (what == "tab") tabs_->setCurrentIndex(static_cast<int>(a));
      QCoreApplication::processEvents();
    } else if (word == "size") {
      const int w = static_cast<int>(number_word(rest, 0)), h = static_cast<int>(number_word(rest, 1));
      if (w > 0 && h > 0) resize(w, h);
      QCoreApplication::processEvents();
    } else {
      const DesktopCommand* c = find_command(line);
      if (!c) {
        ui_.note("error\tline " + std::to_string(number) + ": unknown command " + line);
        status = 1;
        continue;
      }
      dispatch(c->id);
      if (closing_) break;
    }
  }
  return status;
}

}  // namespace kestrim::desktop
