#include "calibration_windows.h"
#include "qt_text.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "app/state.h"
#include "calibration/auto_calibration.h"
#include "calibration/calibration_session.h"
#include "calibration/efficiency_calibration.h"
#include "calibration/energy_calibration.h"
#include "calibration/shape_calibration.h"
#include "platform/c_format.h"
#include "platform/c_locale.h"
#include "platform/files.h"
#include "help_window.h"
#include "qt_platform.h"
#include "settings/calibration_functions.h"
#include "settings/library.h"

namespace kestrim::desktop {

namespace {


double number_at(const std::string& text, int index) {
  size_t at = 0;
  for (int i = 0; i <= index; ++i) {
    while (at < text.size() && text[at] == ' ') ++at;
    if (i == index) break;
    while (at < text.size() && text[at] != ' ') ++at;
  }
  return at < text.size() ? c_strtod(text.c_str() + at, nullptr) : 0.0;
}

std::string word_at(const std::string& text, int index) {
  size_t at = 0;
  for (int i = 0; i <= index; ++i) {
    while (at < text.size() && text[at] == ' ') ++at;
    const size_t end = text.find(' ', at);
    if (i == index) return text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? text.size() : end;
  }
  return {};
}

double polynomial(float stored_terms, const std::array<float, 3>& c, double x) {
  const int n = std::min(term_count(stored_terms), 3);
  double y = 0, p = 1;
  for (int i = 0; i < n; ++i, p *= x) y += c[static_cast<size_t>(i)] * p;
  return y;
}

// The energy plot's data: the points (channel, energy), the function and the
// residuals (energy - fitted, or fitted - energy with `sign` -1, as the
// table gives them).
void energy_plot(FitPlot::Data& d, const std::vector<CalPoint>& points, bool fitted,
                 const std::function<double(double)>& energy_of, double sign = 1) {
  d.x_label = "Channel", d.y_label = "keV", d.residual_label = "keV";
  double top = 0;
  for (const CalPoint& pt : points) {
    if (!(pt.channel > 0 && pt.energy > 0)) continue;
    d.points.push_back({pt.channel, pt.energy});
    top = std::max(top, pt.channel);
    if (fitted) d.residuals.push_back({pt.channel, sign * (pt.energy - energy_of(pt.channel))});
  }
  if (fitted && top > 0) {
    std::vector<std::pair<double, double>> curve;
    for (int i = 0; i <= 100; ++i) {
      const double ch = std::max(1.0, top * 1.1 * i / 100);
      curve.push_back({ch, energy_of(ch)});
    }
    d.curves.push_back(std::move(curve));
  }
}

}  // namespace

const char* calibration_help_section(CalibrationKind kind) {
  switch (kind) {
    case CalibrationKind::kEnergy: return "Energy calibration";
    case CalibrationKind::kShape: return "Peak shape calibration";
    case CalibrationKind::kEfficiency: return "Efficiency calibration";
    case CalibrationKind::kAuto: return "Automatic energy re-calibration";
    case CalibrationKind::kQuantitative: return "Quantitative auto-calibration";
  }
  return "";
}

// ---------------------------------------------------------------- plot

FitPlot::FitPlot(QWidget* parent) : QWidget(parent) {
  setMinimumSize(360, 300);
  setAutoFillBackground(true);
}

void FitPlot::set_data(Data data) {
  data_ = std::move(data);
  update();
}

void FitPlot::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  p.setRenderHint(QPainter::Antialiasing, true);
  const int left = 64, right = 12, top = 10, gap = 26, bottom = 34;
  const int h = height() - top - bottom - gap;
  const QRect upper(left, top, width() - left - right, h * 2 / 3);
  const QRect lower(left, upper.bottom() + gap, upper.width(), h - upper.height());
  auto tx = [&](double x) { return data_.log_x ? (x > 0 ? std::log10(x) : -30.0) : x; };
  auto ty = [&](double y) { return data_.log_y ? (y > 0 ? std::log10(y) : -30.0) : y; };
  double x0 = 1e300, x1 = -1e300, y0 = 1e300, y1 = -1e300, r0 = 0, r1 = 0;
  auto take = [&](double x, double y) {
    if (!std::isfinite(tx(x)) || !std::isfinite(ty(y)) || tx(x) <= -30 || ty(y) <= -30) return;
    x0 = std::min(x0, tx(x)), x1 = std::max(x1, tx(x));
    y0 = std::min(y0, ty(y)), y1 = std::max(y1, ty(y));
  };
  for (const auto& pt : data_.points) take(pt.first, pt.second);
  for (const auto& c : data_.curves)
    for (const auto& pt : c) take(pt.first, pt.second);
  for (const auto& r : data_.residuals)
    if (std::isfinite(r.second)) r0 = std::min(r0, r.second), r1 = std::max(r1, r.second);
  p.setPen(Qt::black);
  p.drawRect(upper);
  p.drawRect(lower);
  p.drawText(QRect(0, upper.top(), left - 4, 16), Qt::AlignRight, qs(data_.y_label));
  p.drawText(QRect(0, lower.top(), left - 4, 16), Qt::AlignRight, qs(data_.residual_label));
  p.drawText(QRect(left, lower.bottom() + 4, lower.width(), 16), Qt::AlignHCenter, qs(data_.x_label));
  if (!(x1 > x0) || !(y1 >= y0)) {
    p.drawText(upper, Qt::AlignCenter, "No points");
    return;
  }
  if (y1 == y0) y0 -= 1, y1 += 1;
  const double ypad = (y1 - y0) * 0.05, xpad = (x1 - x0) * 0.03;
  y0 -= ypad, y1 += ypad, x0 -= xpad, x1 += xpad;
  if (r1 == r0) r0 -= 1, r1 += 1;
  const double rm = std::max(std::fabs(r0), std::fabs(r1)) * 1.1;
  auto px = [&](double x) { return upper.left() + (tx(x) - x0) / (x1 - x0) * upper.width(); };
  auto py = [&](double y) { return upper.bottom() - (ty(y) - y0) / (y1 - y0) * upper.height(); };
  auto pr = [&](double r) { return lower.center().y() - r / rm * lower.height() / 2; };
  auto scale_text = [&](double v, bool log) { return qs(c_format("%.4g", log ? std::pow(10.0, v) : v)); };
  p.drawText(QRect(0, upper.bottom() - 16, left - 4, 16), Qt::AlignRight, scale_text(y0, data_.log_y));
  p.drawText(QRect(0, upper.top() + 16, left - 4, 16), Qt::AlignRight, scale_text(y1, data_.log_y));
  p.drawText(QRect(left, upper.bottom() + 2, 80, 16), Qt::AlignLeft, scale_text(x0, data_.log_x));
  p.drawText(QRect(upper.right() - 80, upper.bottom() + 2, 80, 16), Qt::AlignRight, scale_text(x1, data_.log_x));
  p.drawText(QRect(0, lower.bottom() - 16, left - 4, 16), Qt::AlignRight, scale_text(-rm, false));
  p.setClipRect(upper);
  if (data_.marker_x > 0) {
    p.setPen(QPen(Qt::gray, 1, Qt::DashLine));
    p.drawLine(QPointF(px(data_.marker_x), upper.top()), QPointF(px(data_.marker_x), upper.bottom()));
  }
  const QColor curve_colours[] = {QColor(0, 0, 200), QColor(0, 140, 0), QColor(160, 0, 160)};
  for (size_t c = 0; c < data_.curves.size(); ++c) {
    QPainterPath path;
    bool started = false;
    for (const auto& pt : data_.curves[c]) {
      if (!std::isfinite(ty(pt.second)) || ty(pt.second) <= -30) continue;
      const QPointF q(px(pt.first), py(pt.second));
      if (started) path.lineTo(q);
      else path.moveTo(q), started = true;
    }
    p.setPen(QPen(curve_colours[c % 3], 1.5));
    p.drawPath(path);
  }
  p.setPen(QPen(Qt::red, 1.5));
  for (size_t i = 0; i < data_.points.size(); ++i) {
    const auto& pt = data_.points[i];
    const QPointF q(px(pt.first), py(pt.second));
    if (i < data_.errors.size() && data_.errors[i] > 0)
      p.drawLine(QPointF(q.x(), py(pt.second - data_.errors[i])), QPointF(q.x(), py(pt.second + data_.errors[i])));
    p.drawEllipse(q, 3, 3);
  }
  p.setClipRect(lower);
  p.setPen(QPen(Qt::gray, 1, Qt::DashLine));
  p.drawLine(QPointF(lower.left(), pr(0)), QPointF(lower.right(), pr(0)));
  p.setPen(QPen(Qt::red, 1.5));
  for (const auto& r : data_.residuals) {
    if (!std::isfinite(r.second)) continue;
    const QPointF q(px(r.first), pr(r.second));
    p.drawLine(QPointF(q.x(), pr(0)), q);
    p.drawEllipse(q, 2.5, 2.5);
  }
}

// ---------------------------------------------------------------- window

struct CalibrationWindow::Work {
  EnergyCalibration energy;
  ShapeCalibration shape;
  EfficiencyCalibration efficiency;
  AutoCalibration automatic;
  QuantAutoCalibration quantitative;
};

CalibrationWindow::CalibrationWindow(CalibrationKind kind, State& state, QtPlatform& ui,
                                     const CalibrationCopies& copies, std::function<int()> cursor_channel,
                                     std::function<void()> changed, QWidget* parent)
    : QDialog(parent),
      kind_(kind),
      state_(state),
      ui_(ui),
      copies_(copies),
      cursor_channel_(std::move(cursor_channel)),
      changed_(std::move(changed)),
      work_(std::make_unique<Work>()) {
  setModal(false);
  setWindowTitle(kind == CalibrationKind::kEnergy       ? "Energy Calibration"
                 : kind == CalibrationKind::kShape      ? "Peak Shape Calibration"
                 : kind == CalibrationKind::kEfficiency ? "Efficiency Calibration"
                 : kind == CalibrationKind::kAuto       ? "Auto-Energy Re-Calibration"
                                                        : "Quantitative Auto-Calibration Results");
  set_help_section(this, calibration_help_section(kind));
  build();
}

CalibrationWindow::~CalibrationWindow() = default;

void CalibrationWindow::build() {
  auto* outer = new QVBoxLayout(this);
  auto* split = new QSplitter(this);
  auto* left = new QWidget(split);
  auto* lv = new QVBoxLayout(left);
  lv->setContentsMargins(0, 0, 0, 0);
  table_ = new QTableWidget(left);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  QStringList heads;
  if (kind_ == CalibrationKind::kEnergy) heads << "Channel" << "Energy" << "Fitted" << "Difference";
  else if (kind_ == CalibrationKind::kShape) heads << "Energy" << "Width" << "Low Tail" << "High Tail" << "Area";
  else if (kind_ == CalibrationKind::kEfficiency)
    heads << "Energy" << "Efficiency %" << "+/- %" << "Fitted %" << "Difference %";
  else if (kind_ == CalibrationKind::kAuto) heads << "Channel" << "Original" << "Reference" << "Fitted" << "Difference";
  else heads << "Nuclide" << "Channel" << "Reference" << "Fitted" << "Difference" << "Weight";
  table_->setColumnCount(heads.size());
  table_->setHorizontalHeaderLabels(heads);
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  connect(table_, &QTableWidget::cellChanged, this, [this](int r, int c) { cell_edited(r, c); });
  lv->addWidget(table_);
  goodness_ = new QLabel(left);
  lv->addWidget(goodness_);
  auto* grid = new QGridLayout();
  int n = 0;
  auto button = [&](const char* text, const std::string& action, const std::string& argument = {}) {
    auto* b = new QPushButton(text, left);
    connect(b, &QPushButton::clicked, this, [this, action, argument] {
      std::string arg = argument;
      if (arg == "#row") arg = std::to_string(selected_row());
      act(action, arg);
    });
    grid->addWidget(b, n / 3, n % 3);
    ++n;
  };
  if (kind_ == CalibrationKind::kEnergy) {
    button("1st Order Fit", "first");
    button("2nd Order Fit", "second");
    button("Log Function", "log");
    button("Delete Chan", "delete_channel", "#row");
    button("Delete En.", "delete_energy", "#row");
    button("Delete Point", "delete", "#row");
    button("Delete All", "delete_all");
    button("Add Peak", "add");
    button("Read En.", "read");
    button("Fit Peaks", "fit_peaks");
  } else if (kind_ == CalibrationKind::kShape) {
    button("Width", "width");
    button("Low Tail", "low_tail");
    button("High Tail", "high_tail");
    button("1st Order Fit", "first");
    button("2nd Order Fit", "second");
    button("Read List", "read");
    button("Fit All", "fit_all");
    button("Fit Next", "fit_next", "#row");
    button("Re-fit Peak", "refit", "#row");
    button("Delete Point", "delete", "#row");
    button("Delete All", "delete_all");
    button("Add Peak", "add");
    auto* high = new QCheckBox("Perform High Energy Tailing Calibration", left);
    connect(high, &QCheckBox::toggled, this, [this](bool on) { act("high_tail_cal", on ? "1" : "0"); });
    grid->addWidget(high, n / 3 + 1, 0, 1, 3);
    n += 3;
  } else if (kind_ == CalibrationKind::kAuto) {
    button("1st Order Fit", "first");
    button("2nd Order Fit", "second");
    button("Log Function", "log");
    button("Re-Calibrate", "recalibrate");
    button("Delete Point", "delete", "#row");
  } else if (kind_ == CalibrationKind::kQuantitative) {
    button("Re-Calibrate", "recalibrate");
    button("Delete Point", "delete", "#row");
  } else {
    button("Load Source", "read");
    button("Save Source", "save");
    button("Calibrate", "fit");
    button("Delete Point", "delete", "#row");
    button("Merge .edf", "merge");
    button("Write .edf", "edf");
    button("Listing", "listing");
    auto* inverse = new QCheckBox("Linear Energy Polynomial", left);
    connect(inverse, &QCheckBox::toggled, this, [this](bool on) { act("inverse", on ? "1" : "0"); });
    grid->addWidget(inverse, n / 3 + 1, 0, 1, 3);
    n += 3;
    // The orders (number of terms) of the two curves and the crossover.
    auto* orders = new QHBoxLayout();
    low_order_ = new QSpinBox(left);
    low_order_->setRange(0, 5);
    high_order_ = new QSpinBox(left);
    high_order_->setRange(0, 6);
    crossover_ = new QDoubleSpinBox(left);
    crossover_->setRange(0, 3000);
    crossover_->setDecimals(1);
    orders->addWidget(new QLabel("Low order", left));
    orders->addWidget(low_order_);
    orders->addWidget(new QLabel("High order", left));
    orders->addWidget(high_order_);
    orders->addWidget(new QLabel("Crossover keV", left));
    orders->addWidget(crossover_);
    connect(low_order_, &QSpinBox::valueChanged, this, [this](int v) {
      if (!filling_) act("low_order", std::to_string(v));
    });
    connect(high_order_, &QSpinBox::valueChanged, this, [this](int v) {
      if (!filling_) act("high_order", std::to_string(v));
    });
    connect(crossover_, &QDoubleSpinBox::editingFinished, this, [this] {
      if (!filling_) act("crossover", c_format("%.1f", crossover_->value()));
    });
    lv->addLayout(orders);
  }
  lv->addLayout(grid);
  plot_ = new FitPlot(split);
  split->addWidget(left);
  split->addWidget(plot_);
  outer->addWidget(split, 1);
  auto* row = new QHBoxLayout();
  row->addStretch(1);
  auto* ok_button = new QPushButton("OK", this);
  auto* cancel_button = new QPushButton("Cancel", this);
  connect(ok_button, &QPushButton::clicked, this, [this] { act("ok", {}); });
  connect(cancel_button, &QPushButton::clicked, this, [this] { act("cancel", {}); });
  row->addWidget(ok_button);
  row->addWidget(cancel_button);
  outer->addLayout(row);
  resize(900, 520);
}

int CalibrationWindow::start() {
  Work& w = *work_;
  if (kind_ == CalibrationKind::kAuto) {
    if (!start_auto_calibration(state_, w.automatic)) {
      // Refused or too few matching peaks: nothing changed is kept.
      restore_copies(state_, copies_);
      finished_ = true;
      if (changed_) changed_();
      return 0;
    }
  } else if (kind_ == CalibrationKind::kQuantitative) {
    w.quantitative.list.points = std::move(points_);
    if (w.quantitative.list.count() > kMaxCalPoints) w.quantitative.list.points.resize(kMaxCalPoints);
    start_quantitative_calibration(state_, w.quantitative);
  } else if (kind_ == CalibrationKind::kEnergy) {
    if (start_energy_calibration(state_, w.energy) == SetupResult::kCoefficients) {
      // A coefficient list calibrated the record: the window closes as with OK.
      finished_ = true;
    }
  } else if (kind_ == CalibrationKind::kShape) {
    start_shape_calibration(state_, w.shape);
    ui_.set_status("Select 'Fit all' to proceed with the Calibration");
  } else {
    EfficiencyCalibration& ec = w.efficiency;
    ec.copies = copies_;
    if (state_.library.nuclide_count == 0 && !to_string(state_.params.analysis_library).empty())
      load_library(*state_.ui, state_.paths, to_string(state_.params.analysis_library), state_.library, nullptr);
    if (choose_source_file(state_, ec.source)) compute_efficiency_points(state_, ec);
  }
  refresh();
  if (changed_) changed_();
  return 1;
}

int CalibrationWindow::selected_row() const {
  const int r = table_->currentRow();
  return r < 0 ? 0 : r;
}

std::vector<std::string> CalibrationWindow::lines() const {
  const Work& w = *work_;
  if (kind_ == CalibrationKind::kEnergy) return energy_point_lines(state_, w.energy);
  if (kind_ == CalibrationKind::kShape) return shape_point_lines(w.shape);
  if (kind_ == CalibrationKind::kAuto) return auto_point_lines(state_, w.automatic);
  if (kind_ == CalibrationKind::kQuantitative) return quantitative_point_lines(w.quantitative);
  return efficiency_point_lines(state_, w.efficiency);
}

void CalibrationWindow::refresh() {
  filling_ = true;
  const Work& w = *work_;
  const CalibrationRecord& cal = state_.spectrum.calibration;
  auto item = [](const std::string& text, bool editable) {
    auto* it = new QTableWidgetItem(qs(text));
    it->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    if (!editable) it->setFlags(it->flags() & ~Qt::ItemIsEditable);
    return it;
  };
  double goodness = 0;
  if (kind_ == CalibrationKind::kEnergy) {
    const CalPointList& list = w.energy.list;
    table_->setRowCount(list.count());
    for (int i = 0; i < list.count(); ++i) {
      const CalPoint& pt = list.points[static_cast<size_t>(i)];
      const bool both = list.calibrated && pt.channel > 0 && pt.energy > 0;
      const double fitted = both ? channel_to_energy(cal, pt.channel) : 0;
      table_->setItem(i, 0, item(pt.peak > 0 ? c_format("%7.1f", pt.channel) : "Peak not found", false));
      table_->setItem(i, 1, item(c_format("%7.2f", pt.energy), true));
      table_->setItem(i, 2, item(both ? c_format("%7.2f", fitted) : "", false));
      table_->setItem(i, 3, item(both ? c_format("%5.2f", pt.energy - fitted) : "", false));
    }
    goodness = list.calibrated ? w.energy.goodness : 0;
  } else if (kind_ == CalibrationKind::kShape) {
    const CalPointList& list = w.shape.list;
    table_->setRowCount(list.count());
    for (int i = 0; i < list.count(); ++i) {
      const CalPoint& pt = list.points[static_cast<size_t>(i)];
      const bool fitted = pt.width > 0;
      table_->setItem(i, 0, item(c_format("%6.1f", pt.energy), false));
      table_->setItem(i, 1, item(fitted ? c_format("%5.3f", pt.width) : "", true));
      table_->setItem(i, 2, item(fitted ? c_format("%5.3f", pt.low_tail) : "", true));
      table_->setItem(i, 3, item(fitted ? c_format("%5.3f", pt.high_tail) : "", false));
      table_->setItem(i, 4, item(fitted ? c_format("%.0f", pt.weight) : "", false));
    }
    goodness = w.shape.calibrated ? w.shape.goodness : 0;
  } else if (kind_ == CalibrationKind::kAuto) {
    const AutoCalibration& ac = w.automatic;
    table_->setRowCount(ac.list.count());
    for (int i = 0; i < ac.list.count(); ++i) {
      const CalPoint& pt = ac.list.points[static_cast<size_t>(i)];
      const double fitted = ac.calibrated ? channel_to_energy(cal, pt.channel) : 0;
      table_->setItem(i, 0, item(c_format("%7.1f", pt.channel), false));
      table_->setItem(i, 1, item(c_format("%7.2f", pt.old_energy), false));
      table_->setItem(i, 2, item(c_format("%7.2f", pt.energy), false));
      table_->setItem(i, 3, item(ac.calibrated ? c_format("%7.2f", fitted) : "", false));
      table_->setItem(i, 4, item(ac.calibrated ? c_format("%6.2f", pt.energy - fitted) : "", false));
    }
    goodness = ac.calibrated ? ac.goodness : 0;
  } else if (kind_ == CalibrationKind::kQuantitative) {
    const QuantAutoCalibration& qc = w.quantitative;
    table_->setRowCount(qc.list.count());
    double sum = 0;
    for (int i = 0; i < qc.list.count(); ++i) {
      const CalPoint& pt = qc.list.points[static_cast<size_t>(i)];
      const double fitted = qc.fitted ? energy_from_coefficients(qc.terms, false, qc.c, pt.channel) : 0;
      table_->setItem(i, 0, item(pt.name, false));
      table_->setItem(i, 1, item(c_format("%7.1f", pt.channel), false));
      table_->setItem(i, 2, item(c_format("%7.2f", pt.energy), false));
      table_->setItem(i, 3, item(qc.fitted ? c_format("%7.2f", fitted) : "", false));
      table_->setItem(i, 4, item(qc.fitted ? c_format("%6.2f", fitted - pt.energy) : "", false));
      table_->setItem(i, 5, item(c_format("%.2f", pt.weight), false));
      sum += (fitted - pt.energy) * (fitted - pt.energy);
    }
    goodness = qc.fitted && qc.list.count() > 0 ? std::sqrt(sum / qc.list.count()) : 0;
  } else {
    const EfficiencyCalibration& ec = w.efficiency;
    table_->setRowCount(static_cast<int>(ec.points.size()));
    double sum = 0;
    for (size_t i = 0; i < ec.points.size(); ++i) {
      const EffPoint& pt = ec.points[i];
      const int r = static_cast<int>(i);
      const double fitted = ec.calibrated ? efficiency_at(cal, pt.energy) : 0;
      table_->setItem(r, 0, item(c_format("%6.1f", pt.energy), false));
      table_->setItem(r, 1, item(list_percent(pt.efficiency * 100, 0.05), false));
      table_->setItem(r, 2, item(c_format("%4.1f", pt.uncertainty * 100), false));
      table_->setItem(r, 3, item(ec.calibrated ? list_percent(fitted * 100, 0.1) : "", false));
      table_->setItem(r, 4, item(ec.calibrated && pt.efficiency > 0
                                     ? c_format("%6.2f", (fitted - pt.efficiency) * 100 / pt.efficiency)
                                     : "",
                                 false));
      sum += (fitted - pt.efficiency) * (fitted - pt.efficiency);
    }
    goodness = ec.calibrated && !ec.points.empty() ? std::sqrt(sum / static_cast<double>(ec.points.size())) : 0;
    low_order_->setValue(ec.low_order);
    high_order_->setValue(ec.high_order);
    crossover_->setValue(ec.crossover);
  }
  goodness_->setText(goodness > 0 ? qs("Goodness of fit: " + c_format("%11.3e", goodness)) : QString());
  if (kind_ == CalibrationKind::kQuantitative && w.quantitative.list.count() < 2)
    goodness_->setText("There are not enough Peaks for re-calibration");
  filling_ = false;
  fill_plot();
}

void CalibrationWindow::fill_plot() {
  const Work& w = *work_;
  const CalibrationRecord& cal = state_.spectrum.calibration;
  FitPlot::Data d;
  const auto record_energy = [&cal](double ch) { return channel_to_energy(cal, ch); };
  if (kind_ == CalibrationKind::kEnergy) {
    energy_plot(d, w.energy.list.points, w.energy.list.calibrated, record_energy);
  } else if (kind_ == CalibrationKind::kAuto) {
    energy_plot(d, w.automatic.list.points, w.automatic.calibrated, record_energy);
  } else if (kind_ == CalibrationKind::kQuantitative) {
    const QuantAutoCalibration& qc = w.quantitative;
    energy_plot(d, qc.list.points, qc.fitted,
                [&qc](double ch) { return energy_from_coefficients(qc.terms, false, qc.c, ch); }, -1);
  } else if (kind_ == CalibrationKind::kShape) {
    const ShapeCalibration& sc = w.shape;
    const int f = sc.displayed;
    d.x_label = "keV";
    d.y_label = f == kShapeWidth ? "Width" : f == kShapeLowTail ? "Low Tail" : "High Tail";
    d.residual_label = "channels";
    const float terms = f == kShapeWidth ? cal.width_terms : f == kShapeLowTail ? cal.low_tail_terms : cal.high_tail_terms;
    const std::array<float, 3>& c = f == kShapeWidth ? cal.width : f == kShapeLowTail ? cal.low_tail : cal.high_tail;
    double top = 0;
    for (const CalPoint& pt : sc.list.points) {
      if (!(pt.width > 0)) continue;
      const double v = f == kShapeWidth ? pt.width : f == kShapeLowTail ? pt.low_tail : pt.high_tail;
      d.points.push_back({pt.energy, v});
      top = std::max(top, pt.energy);
      if (sc.calibrated) d.residuals.push_back({pt.energy, v - polynomial(terms, c, pt.energy)});
    }
    if (sc.calibrated && top > 0) {
      std::vector<std::pair<double, double>> curve;
      for (int i = 0; i <= 100; ++i) curve.push_back({top * 1.1 * i / 100, polynomial(terms, c, top * 1.1 * i / 100)});
      d.curves.push_back(std::move(curve));
    }
  } else {
    const EfficiencyCalibration& ec = w.efficiency;
    d.x_label = "keV (log)", d.y_label = "Efficiency", d.residual_label = "% diff.";
    d.log_x = d.log_y = true;
    double lo = 1e9, hi = 0;
    for (const EffPoint& pt : ec.points) {
      d.points.push_back({pt.energy, pt.efficiency});
      d.errors.push_back(pt.efficiency * pt.uncertainty);
      lo = std::min(lo, pt.energy), hi = std::max(hi, pt.energy);
      if (ec.calibrated && pt.efficiency > 0)
        d.residuals.push_back({pt.energy, (efficiency_at(cal, pt.energy) - pt.efficiency) * 100 / pt.efficiency});
    }
    if (ec.calibrated && hi > lo) {
      // The low curve below the crossover and the high curve above it.
      const double cross = cal.crossover > 0 ? cal.crossover : 0;
      std::vector<std::pair<double, double>> low, high;
      for (int i = 0; i <= 120; ++i) {
        const double e = lo * 0.9 * std::pow(hi * 1.1 / (lo * 0.9), i / 120.0);
        (cross > 0 && e <= cross ? low : high).push_back({e, efficiency_at(cal, e)});
      }
      if (!low.empty()) d.curves.push_back(std::move(low));
      d.curves.push_back(std::move(high));
      d.marker_x = cross;
    }
  }
  plot_->set_data(std::move(d));
}

void CalibrationWindow::cell_edited(int row, int column) {
  if (filling_) return;
  const std::string text = table_->item(row, column)->text().toStdString();
  if (kind_ == CalibrationKind::kEnergy && column == 1) act("edit", std::to_string(row) + " " + text);
  else if (kind_ == CalibrationKind::kShape && (column == 1 || column == 2)) {
    const std::string other = table_->item(row, column == 1 ? 2 : 1)->text().toStdString();
    act("edit", std::to_string(row) + " " + (column == 1 ? text + " " + other : other + " " + text));
  } else {
    refresh();
  }
}

int CalibrationWindow::ok() {
  Work& w = *work_;
  int closed = 0;
  if (kind_ == CalibrationKind::kEnergy) closed = energy_ok(state_, w.energy);
  else if (kind_ == CalibrationKind::kShape) closed = shape_ok(state_, w.shape);
  else if (kind_ == CalibrationKind::kAuto) closed = auto_ok(state_, w.automatic);
  else if (kind_ == CalibrationKind::kQuantitative) closed = quantitative_ok(state_, w.quantitative);
  else closed = close_efficiency_window(state_, w.efficiency, false);
  return closed;
}

int CalibrationWindow::cancel() {
  Work& w = *work_;
  int closed = 0;
  if (kind_ == CalibrationKind::kEnergy) closed = energy_cancel(state_, w.energy);
  else if (kind_ == CalibrationKind::kShape) closed = shape_cancel(state_, w.shape);
  else if (kind_ == CalibrationKind::kAuto) auto_cancel(state_, w.automatic), closed = 1;
  else if (kind_ == CalibrationKind::kQuantitative) quantitative_cancel(state_, w.quantitative), closed = 1;
  else closed = close_efficiency_window(state_, w.efficiency, true);
  // The record as it was before the checks cleared or searched anything.
  if (closed) restore_copies(state_, copies_);
  return closed;
}

int CalibrationWindow::act(const std::string& action, const std::string& argument) {
  if (finished_) return 0;
  Work& w = *work_;
  const int row = static_cast<int>(number_at(argument, 0));
  auto cursor = [&]() -> double { return argument.empty() ? (cursor_channel_ ? cursor_channel_() : 0) : number_at(argument, 0); };
  int done = 1;
  if (action == "ok" || action == "cancel") {
    const int closed = action == "ok" ? ok() : cancel();
    if (closed) {
      finished_ = true;
      if (changed_) changed_();
      hide();
      if (action == "ok" && kind_ == CalibrationKind::kQuantitative && on_accepted) on_accepted();
      return 1;
    }
    refresh();
    return 0;
  }
  if (kind_ == CalibrationKind::kEnergy) {
    EnergyCalibration& ec = w.energy;
    const int n = ec.list.count();
    if (action == "first" || action == "second" || action == "log") {
      ec.list.choice = action == "first"    ? CalPointList::Choice::kFirstOrder
                       : action == "second" ? CalPointList::Choice::kSecondOrder
                                            : CalPointList::Choice::kLog;
      done = calibrate_energy(state_, ec);
      if (done) ui_.set_status("Select 'OK' to complete the Calibration routine");
    } else if (action == "read") {
      const SetupResult r = setup_energy_points(state_, ec, true);
      if (r == SetupResult::kCoefficients) {
        finished_ = true;
        ec.mode = false;
        if (changed_) changed_();
        hide();
        return 1;
      }
      done = r != SetupResult::kFailed;
    } else if (action == "fit_peaks") {
      // The peaks searched again at the calibration's discriminator and
      // fitted, so that the points take the fitted centres.
      calibration_peak_search(state_, 10.0f, true);
      done = setup_energy_points(state_, ec, false) != SetupResult::kFailed;
    } else if (action == "add") {
      done = add_energy_peak(state_, ec, cursor());
    } else if (action == "delete" || action == "delete_energy" || action == "delete_channel") {
      if (row < 0 || row >= n) return 0;
      if (action == "delete") delete_point(state_, ec, row);
      else if (action == "delete_energy") delete_energy(ec, row);
      else delete_channel(state_, ec, row);
    } else if (action == "delete_all") {
      delete_all_points(state_, ec);
    } else if (action == "edit") {
      if (row < 0 || row >= n) return 0;
      const int next = enter_energy(state_, ec, row, word_at(argument, 1));
      if (next >= 0 && next < ec.list.count()) table_->setCurrentCell(next, 1);
    } else {
      return -1;
    }
  } else if (kind_ == CalibrationKind::kAuto) {
    AutoCalibration& ac = w.automatic;
    if (action == "first" || action == "second" || action == "log" || action == "recalibrate") {
      if (action != "recalibrate")
        ac.list.choice = action == "first"    ? CalPointList::Choice::kFirstOrder
                         : action == "second" ? CalPointList::Choice::kSecondOrder
                                              : CalPointList::Choice::kLog;
      done = calibrate_auto(state_, ac);
      if (done) ui_.set_status("Select  'OK'  to complete the Calibration routine");
    } else if (action == "delete") {
      if (row < 0 || row >= ac.list.count()) return 0;
      delete_auto_point(state_, ac, row);
    } else {
      return -1;
    }
  } else if (kind_ == CalibrationKind::kQuantitative) {
    QuantAutoCalibration& qc = w.quantitative;
    if (action == "recalibrate") {
      done = fit_quantitative_calibration(state_, qc);
    } else if (action == "delete") {
      if (row < 0 || row >= qc.list.count()) return 0;
      delete_quantitative_point(state_, qc, row);
    } else {
      return -1;
    }
  } else if (kind_ == CalibrationKind::kShape) {
    ShapeCalibration& sc = w.shape;
    const int n = sc.list.count();
    if (action == "width" || action == "low_tail" || action == "high_tail") {
      sc.displayed = action == "width" ? kShapeWidth : action == "low_tail" ? kShapeLowTail : kShapeHighTail;
    } else if (action == "first" || action == "second") {
      done = set_shape_order(state_, sc, action == "first" ? 2 : 3);
    } else if (action == "read") {
      setup_shape_points(state_, sc, true);
    } else if (action == "fit_all") {
      done = fit_all_shape_points(state_, sc);
      if (done) ui_.set_status("Select a 1st or 2nd order Calibration function");
    } else if (action == "refit" || action == "fit_next") {
      if (row < 0 || row >= n) return 0;
      int target = row;
      if (action == "fit_next" && sc.list.points[static_cast<size_t>(row)].width > 0) {
        if (row + 1 >= n) {
          done = fit_shape_functions(state_, sc);
          target = -1;
        } else {
          target = row + 1;
        }
      }
      if (target >= 0) {
        done = fit_shape_point(state_, sc, target);
        if (sc.calibrated) fit_shape_functions(state_, sc);
        table_->setCurrentCell(target, 0);
      }
    } else if (action == "high_tail_cal") {
      set_high_tail_calibration(state_, sc, number_at(argument, 0) != 0);
    } else if (action == "add") {
      done = add_shape_peak(state_, sc, cursor());
    } else if (action == "delete") {
      if (row < 0 || row >= n) return 0;
      delete_shape_point(state_, sc, row, false);
    } else if (action == "delete_all") {
      delete_all_shape_points(state_, sc);
    } else if (action == "edit") {
      if (row < 0 || row >= n) return 0;
      done = manual_shape_entry(state_, sc, row, word_at(argument, 1), word_at(argument, 2));
    } else {
      return -1;
    }
  } else {
    EfficiencyCalibration& ec = w.efficiency;
    if (action == "read") {
      EfficiencySource source;
      done = choose_source_file(state_, source);
      if (done) {
        ec.source = source;
        ec.points.clear();
        ec.calibrated = false;
        done = compute_efficiency_points(state_, ec);
      }
    } else if (action == "save") {
      done = save_source_file(state_, ec.source);
    } else if (action == "fit") {
      done = fit_efficiency(state_, ec);
    } else if (action == "low_order" || action == "high_order") {
      const int v = static_cast<int>(number_at(argument, 0));
      if (v < 0 || v > (action == "low_order" ? 5 : 6)) return 0;
      (action == "low_order" ? ec.low_order : ec.high_order) = v;
      if (ec.calibrated) done = fit_efficiency(state_, ec);
    } else if (action == "crossover") {
      ec.crossover = number_at(argument, 0);
      if (ec.calibrated) done = fit_efficiency(state_, ec);
    } else if (action == "inverse") {
      ec.inverse = number_at(argument, 0) != 0;
      if (ec.calibrated) done = fit_efficiency(state_, ec);
    } else if (action == "delete") {
      if (row < 0 || row >= static_cast<int>(ec.points.size())) return 0;
      ec.points.erase(ec.points.begin() + row);
      if (ec.calibrated) done = fit_efficiency(state_, ec);
    } else if (action == "edf") {
      done = write_edf_file(state_, ec);
    } else if (action == "merge") {
      FileDialog d;
      d.title = "Open Efficiency data File";
      d.filters = {{"Efficiency data Files (*.edf)", "*.edf"}};
      d.initial_directory = state_.paths.working_dir;
      std::vector<std::uint8_t> bytes;
      done = ui_.open_file_dialog(d) && !d.paths.empty() && read_file(d.paths.front(), bytes);
      if (done) done = merge_edf_text(state_, ec, std::string(bytes.begin(), bytes.end()));
    } else if (action == "listing") {
      FileDialog d;
      d.title = "Select Efficiency Listing Files";
      d.initial_directory = state_.paths.working_dir;
      d.initial_name = c_format("Eff_%02d.efc", state_.spectrum.header.detector_file > 0 ? state_.spectrum.header.detector_file : 1);
      done = ui_.save_file_dialog(d) && !d.paths.empty() && write_efficiency_listing(state_, d.paths.front());
    } else {
      return -1;
    }
  }
  refresh();
  if (changed_) changed_();
  return done ? 1 : 0;
}

void CalibrationWindow::closeEvent(QCloseEvent* event) {
  // Closing the window's frame is Cancel.
  if (!finished_ && act("cancel", {}) != 1) {
    event->ignore();
    return;
  }
  event->accept();
}

void CalibrationWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Delete && kind_ != CalibrationKind::kEfficiency) {
    act("delete", std::to_string(selected_row()));
    return;
  }
  if (event->key() == Qt::Key_Escape) {
    act("cancel", {});
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace kestrim::desktop
