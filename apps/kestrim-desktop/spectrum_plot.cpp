#include "spectrum_plot.h"
#include "qt_text.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <vector>

#include "app/state.h"
#include "platform/c_format.h"
#include "platform/files.h"
#include "settings/calibration_functions.h"

namespace kestrim::desktop {

namespace {

enum Colour {
  kBackground, kSpectrumColour, kAxes, kFit, kMarker, kSelected, kGrid, kCursor,
  kResidual, kNuclide, kContinuum, kOverlay, kPoints
};


bool calibrated(const CalibrationRecord& cal) { return cal.energy_terms >= 2; }

// Tick steps of 1, 2 or 5 times a power of ten, about `wanted` ticks.
double tick_step(double span, int wanted) {
  if (!(span > 0)) return 1;
  const double raw = span / std::max(1, wanted);
  const double mag = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (raw <= m * mag) return m * mag;
  return 10 * mag;
}

}  // namespace

ColourTable default_colours() {
  return {QColor(0, 0, 0),       QColor(0, 255, 0),   QColor(255, 255, 255), QColor(0, 255, 255),
          QColor(255, 0, 0),     QColor(255, 255, 0), QColor(192, 192, 192), QColor(0, 0, 0),
          QColor(128, 0, 0),     QColor(0, 255, 255), QColor(255, 0, 0),     QColor(0, 128, 128),
          QColor(192, 192, 192)};
}

ColourTable read_colour_file(const std::string& path) {
  ColourTable colours = default_colours();
  std::vector<std::uint8_t> bytes;
  if (!read_file(path, bytes, 4096)) return colours;
  if (bytes.size() < 4 * kColourCount) {
    colours[kColourCount - 1] = QColor(192, 192, 192);
    return colours;
  }
  for (int i = 0; i < kColourCount; ++i)
    colours[i] = QColor(bytes[4 * i], bytes[4 * i + 1], bytes[4 * i + 2]);
  // A background that hides the axes and the spectrum is no use.
  return colours;
}

bool write_colour_file(const std::string& path, const ColourTable& colours) {
  std::vector<std::uint8_t> bytes;
  for (const QColor& c : colours) {
    bytes.push_back(static_cast<std::uint8_t>(c.red()));
    bytes.push_back(static_cast<std::uint8_t>(c.green()));
    bytes.push_back(static_cast<std::uint8_t>(c.blue()));
    bytes.push_back(0);
  }
  return write_file_atomic(path, bytes);
}

const char* colour_role(int index) {
  static const char* const kRoles[kColourCount] = {
      "Background", "Spectrum", "Axes and text", "Fitted curve", "Peak markers",
      "Selected peak and region", "Grid", "Cursor", "Residuals", "Nuclide markers",
      "Continuum", "Overlay spectrum", "Calibration points"};
  return index >= 0 && index < kColourCount ? kRoles[index] : "";
}

SpectrumPlot::SpectrumPlot(const State& state, QWidget* parent) : QWidget(parent), state_(state) {
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setMinimumSize(320, 200);
}

int SpectrumPlot::channel_count() const {
  return std::clamp(static_cast<int>(state_.spectrum.header.channels), 0, kMaxChannels);
}

void SpectrumPlot::show_channels(double first, double last) {
  const double top = std::max(16, channel_count());
  if (last < first) std::swap(first, last);
  if (last - first < 8) {
    const double mid = (first + last) / 2;
    first = mid - 4;
    last = mid + 4;
  }
  first_ = std::clamp(first, 2.0, top - 8);
  last_ = std::clamp(last, first_ + 8, top);
  update();
}

void SpectrumPlot::show_all() {
  first_ = 2;
  last_ = std::max(16, channel_count());
  update();
}

bool SpectrumPlot::expanded() const { return first_ > 2 || last_ < std::max(16, channel_count()); }

void SpectrumPlot::toggle_expand() {
  if (expanded()) {
    show_all();
  } else if (marked_last_ > marked_first_) {
    show_channels(marked_first_, marked_last_);
  } else {
    const double mid = (first_ + last_) / 2, half = (last_ - first_) / 8;
    show_channels(mid - half, mid + half);
  }
}

void SpectrumPlot::centre_on_peak(int peak) {
  if (peak < 1 || peak > state_.peaks.count) return;
  selected_ = peak;
  const double c = state_.peaks.centre[peak];
  double half = (last_ - first_) / 2;
  if (!expanded()) half = std::max(25.0, 10 * width_at_channel(state_.spectrum.calibration, c));
  show_channels(c - half, c + half);
}

double SpectrumPlot::channel_at(int x) const {
  if (plot_rect_.width() <= 0) return first_;
  return first_ + (x - plot_rect_.left()) * (last_ - first_) / plot_rect_.width();
}

double SpectrumPlot::y_of(double counts, double top) const {
  counts = std::max(0.0, counts);
  switch (scale) {
    case YScale::kSquareRoot: return std::sqrt(counts) / std::sqrt(std::max(1.0, top));
    case YScale::kLog: return std::log10(1 + counts) / std::log10(1 + std::max(1.0, top));
    case YScale::kLinear:
    default: return counts / std::max(1.0, top);
  }
}

void SpectrumPlot::zoom(double factor, double centre) {
  show_channels(centre - (centre - first_) * factor, centre + (last_ - centre) * factor);
}

void SpectrumPlot::pan(double channels) {
  const double span = last_ - first_;
  double f = std::clamp(first_ + channels, 2.0, std::max(16, channel_count()) - span);
  show_channels(f, f + span);
}

QImage SpectrumPlot::image() {
  QImage img(size().expandedTo(QSize(640, 400)), QImage::Format_RGB32);
  QPainter p(&img);
  draw(p, img.rect());
  return img;
}

void SpectrumPlot::paintEvent(QPaintEvent*) {
  QPainter p(this);
  draw(p, rect());
}

void SpectrumPlot::draw(QPainter& p, const QRect& area) {
  p.fillRect(area, colours[kBackground]);
  p.setRenderHint(QPainter::Antialiasing, false);
  const QFontMetrics fm(p.font());
  const int left = fm.horizontalAdvance("000000000") + 8, bottom = 2 * fm.height() + 6;
  const int top = 2 * fm.height() + 6;
  QRect plot(area.left() + left, area.top() + top, area.width() - left - 12,
             area.height() - top - bottom);
  QRect strip;
  if (type == PlotType::kSpectrum && show_residuals && plot.height() > 160) {
    const int h = plot.height() / 5;
    strip = QRect(plot.left(), plot.bottom() - h + 1, plot.width(), h);
    plot.setBottom(strip.top() - 4);
  }
  plot_rect_ = plot;
  if (type == PlotType::kEnergy || type == PlotType::kShape || type == PlotType::kEfficiency)
    draw_calibration(p, plot);
  else
    draw_spectrum(p, plot, strip);
}

void SpectrumPlot::draw_spectrum(QPainter& p, const QRect& plot, const QRect& strip) {
  const int label_top = (strip.isValid() ? strip.bottom() : plot.bottom()) + 3;
  const SpectrumRecord& sp = state_.spectrum;
  const PeakList& peaks = state_.peaks;
  const CalibrationRecord& cal = sp.calibration;
  const int n = channel_count();
  const int lo = std::max(2, static_cast<int>(std::floor(first_)));
  const int hi = std::min(std::max(n - 1, 2), static_cast<int>(std::ceil(last_)));
  const bool overlay_only = type == PlotType::kOverlayOnly;
  const bool overlay = (show_overlay || overlay_only) && state_.second.loaded;
  auto value = [&](int ch) -> double {
    return overlay_only ? state_.second.counts[ch] : sp.counts[ch];
  };
  double top = 1;
  for (int ch = lo; ch <= hi; ++ch) top = std::max(top, value(ch));
  if (overlay && !overlay_only)
    for (int ch = lo; ch <= hi; ++ch) top = std::max(top, double(state_.second.counts[ch]));
  top *= 1.05;
  const double span = std::max(1.0, last_ - first_);
  auto xs = [&](double ch) { return plot.left() + (ch - first_) * plot.width() / span; };
  auto ys = [&](double c) { return plot.bottom() - y_of(c, top) * plot.height(); };

  // Grid and axes: channels below, energies above when calibrated.
  p.setPen(colours[kGrid]);
  const double step = tick_step(span, std::max(2, plot.width() / 90));
  for (double t = std::ceil(first_ / step) * step; t <= last_; t += step) {
    const int x = static_cast<int>(xs(t));
    p.setPen(QPen(colours[kGrid], 0, Qt::DotLine));
    p.drawLine(x, plot.top(), x, plot.bottom());
    p.setPen(colours[kAxes]);
    p.drawText(QRect(x - 40, label_top, 80, p.fontMetrics().height()), Qt::AlignHCenter,
               QString::number(t, 'f', 0));
  }
  if (calibrated(cal)) {
    const double e0 = channel_to_energy(cal, first_), e1 = channel_to_energy(cal, last_);
    const double estep = tick_step(std::fabs(e1 - e0), std::max(2, plot.width() / 90));
    for (double e = std::ceil(std::min(e0, e1) / estep) * estep; e <= std::max(e0, e1); e += estep) {
      const int x = static_cast<int>(xs(energy_to_channel(cal, e)));
      p.setPen(colours[kAxes]);
      p.drawLine(x, plot.top() - 4, x, plot.top());
      p.drawText(QRect(x - 40, plot.top() - 4 - p.fontMetrics().height(), 80, p.fontMetrics().height()),
                 Qt::AlignHCenter, QString::number(e, 'f', 0));
    }
    p.drawText(QRect(plot.right() - 60, plot.top() - 2 * p.fontMetrics().height() - 4, 60,
                     p.fontMetrics().height()),
               Qt::AlignRight, "keV");
  }
  // Counts axis.
  std::vector<double> ticks;
  if (scale == YScale::kLog) {
    for (double d = 1; d <= top; d *= 10) ticks.push_back(d);
  } else {
    const double cstep = tick_step(top, 6);
    for (double c = 0; c <= top; c += cstep) ticks.push_back(c);
  }
  for (double c : ticks) {
    const int y = static_cast<int>(ys(c));
    p.setPen(QPen(colours[kGrid], 0, Qt::DotLine));
    p.drawLine(plot.left(), y, plot.right(), y);
    p.setPen(colours[kAxes]);
    p.drawText(QRect(0, y - p.fontMetrics().height() / 2, plot.left() - 4, p.fontMetrics().height()),
               Qt::AlignRight | Qt::AlignVCenter, QString::number(c, 'g', 6));
  }
  p.setPen(colours[kAxes]);
  p.drawRect(plot.adjusted(0, 0, -1, -1));
  p.drawText(QRect(plot.left(), label_top + p.fontMetrics().height(), plot.width(), p.fontMetrics().height()),
             Qt::AlignHCenter, "Channel");
  p.setClipRect(plot);

  // The marked (expand) channels.
  if (marked_last_ > marked_first_)
    p.fillRect(QRectF(QPointF(xs(marked_first_), plot.top()), QPointF(xs(marked_last_), plot.bottom())),
               QColor(colours[kSelected].red(), colours[kSelected].green(), colours[kSelected].blue(), 40));

  // The selected peak's region.
  if (selected_ >= 1 && selected_ <= peaks.count && peaks.fit_end[selected_] > peaks.fit_start[selected_]) {
    QColor c = colours[kSelected];
    c.setAlpha(50);
    p.fillRect(QRectF(QPointF(xs(peaks.fit_start[selected_]), plot.top()),
                      QPointF(xs(peaks.fit_end[selected_] + 1), plot.bottom())),
               c);
  }

  auto histogram = [&](auto counts_of, const QColor& colour) {
    QPainterPath path;
    path.moveTo(xs(lo), ys(counts_of(lo)));
    for (int ch = lo; ch <= hi; ++ch) {
      const double y = ys(counts_of(ch));
      path.lineTo(xs(ch), y);
      path.lineTo(xs(ch + 1), y);
    }
    p.setPen(QPen(colour, 0));
    p.drawPath(path);
  };
  if (overlay && !overlay_only)
    histogram([&](int ch) { return double(state_.second.counts[ch]); }, colours[kOverlay]);
  histogram(value, colours[kSpectrumColour]);

  // Fitted regions: a straight continuum between the region's ends and the
  // Gaussian of each fitted peak above it.
  std::vector<double> fit(static_cast<size_t>(std::max(n, 2) + 1), -1.0);
  if (!overlay_only && peaks.count > 0) {
    int k = 1;
    while (k <= peaks.count) {
      const int start = peaks.fit_start[k], end = peaks.fit_end[k];
      int last_k = k;
      while (last_k + 1 <= peaks.count && peaks.fit_start[last_k + 1] == start &&
             peaks.fit_end[last_k + 1] == end)
        ++last_k;
      const bool fitted_region = end > start && start >= 2 && end < n;
      bool any_area = false;
      for (int j = k; j <= last_k; ++j) any_area = any_area || peaks.net_area[j] != 0;
      if (fitted_region && any_area) {
        auto mean3 = [&](int c) {
          double s = 0;
          int m = 0;
          for (int d = -1; d <= 1; ++d)
            if (c + d >= 2 && c + d < n) s += sp.counts[c + d], ++m;
          return m ? s / m : 0.0;
        };
        const double y0 = mean3(start), y1 = mean3(end);
        for (int ch = start; ch <= end; ++ch) {
          double cont = y0 + (y1 - y0) * (ch - start) / std::max(1, end - start);
          double sum = cont;
          for (int j = k; j <= last_k; ++j) {
            const double sigma = width_at_channel(cal, peaks.centre[j]);
            const double d = (ch + 0.5 - peaks.centre[j]) / sigma;
            sum += peaks.net_area[j] / (sigma * std::sqrt(2 * M_PI)) * std::exp(-0.5 * d * d);
          }
          fit[ch] = sum;
          if (ch >= lo - 1 && ch <= hi + 1) {
            if (show_continuum && ch < end) {
              double next = y0 + (y1 - y0) * (ch + 1 - start) / std::max(1, end - start);
              p.setPen(QPen(colours[kContinuum], 0));
              p.drawLine(QPointF(xs(ch + 0.5), ys(cont)), QPointF(xs(ch + 1.5), ys(next)));
            }
          }
        }
        if (show_fit) {
          QPainterPath path;
          path.moveTo(xs(start + 0.5), ys(fit[start]));
          for (int ch = start + 1; ch <= end; ++ch) path.lineTo(xs(ch + 0.5), ys(fit[ch]));
          p.setPen(QPen(colours[kFit], 0));
          p.drawPath(path);
        }
      }
      k = last_k + 1;
    }
  }

  // Peak markers.
  if (show_markers && !overlay_only) {
    for (int k = 1; k <= peaks.count; ++k) {
      const double c = peaks.centre[k];
      if (c < first_ || c > last_) continue;
      const int ch = std::clamp(static_cast<int>(c), 2, std::max(2, n - 1));
      const double y = ys(sp.counts[ch]);
      p.setPen(QPen(k == selected_ ? colours[kSelected] : colours[kMarker], k == selected_ ? 2 : 1));
      p.drawLine(QPointF(xs(c), y - 6), QPointF(xs(c), std::max<double>(plot.top(), y - 26)));
    }
  }

  // Lines of identified nuclides.
  if (show_nuclides && calibrated(cal)) {
    const NuclideResults& res = state_.results;
    p.setPen(QPen(colours[kNuclide], 0, Qt::DashLine));
    int row = 0;
    for (const IdentifiedLine& line : res.lines) {
      if (line.nuclide < 0 || line.nuclide >= static_cast<int>(res.accepted.size())) continue;
      const AcceptedNuclide& a = res.accepted[line.nuclide];
      if (a.removed) continue;
      const double ch = energy_to_channel(cal, line.energy);
      if (ch < first_ || ch > last_) continue;
      const double x = xs(ch);
      p.drawLine(QPointF(x, plot.top() + 14), QPointF(x, plot.bottom()));
      std::string name;
      if (a.library_index >= 0 && a.library_index < state_.library.nuclide_count)
        name = to_string(state_.library.nuclides[a.library_index].name);
      p.drawText(QPointF(x + 2, plot.top() + 12 + 12 * (row++ % 3)), qs(name));
    }
  }
  p.setClipping(false);

  // Residuals in their own strip: (counts - fit) / sqrt(counts).
  if (strip.isValid()) {
    p.setPen(colours[kAxes]);
    p.drawRect(strip.adjusted(0, 0, -1, -1));
    const double mid = strip.center().y();
    p.setPen(QPen(colours[kGrid], 0, Qt::DotLine));
    p.drawLine(strip.left(), static_cast<int>(mid), strip.right(), static_cast<int>(mid));
    p.setPen(QPen(colours[kResidual], 0));
    for (int ch = lo; ch <= hi; ++ch) {
      if (fit[ch] < 0) continue;
      const double r = (sp.counts[ch] - fit[ch]) / std::sqrt(std::max(1.0f, sp.counts[ch]));
      const double y = mid - std::clamp(r, -4.0, 4.0) * strip.height() / 8.5;
      p.drawLine(QPointF(xs(ch + 0.5), mid), QPointF(xs(ch + 0.5), y));
    }
  }

  // The rubber band being drawn.
  if (dragging_) {
    p.setPen(QPen(colours[kCursor] == colours[kBackground] ? colours[kAxes] : colours[kCursor], 0, Qt::DashLine));
    p.drawRect(QRect(QPoint(std::min(drag_from_, drag_to_), plot.top()),
                     QPoint(std::max(drag_from_, drag_to_), plot.bottom())));
  }
}

void SpectrumPlot::draw_calibration(QPainter& p, const QRect& plot) {
  const CalibrationRecord& cal = state_.spectrum.calibration;
  const int n = std::max(16, channel_count());
  struct Point { double x, y; };
  std::vector<Point> curve, points;
  QString xlabel, ylabel;
  if (type == PlotType::kEnergy) {
    xlabel = "Channel", ylabel = "Energy (keV)";
    if (calibrated(cal))
      for (int ch = 2; ch < n; ch += 8) curve.push_back({double(ch), channel_to_energy(cal, ch)});
    if (calibrated(cal))
      for (int i = 0; i < std::min<int>(cal.energy_count, kMaxCalibrationEnergies); ++i)
        if (cal.energies[i] > 0) points.push_back({energy_to_channel(cal, cal.energies[i]), cal.energies[i]});
  } else if (type == PlotType::kShape) {
    xlabel = "Energy (keV)", ylabel = "FWHM (keV)";
    if (calibrated(cal)) {
      for (int ch = 8; ch < n; ch += 8) {
        const double e = channel_to_energy(cal, ch);
        const double de = channel_to_energy(cal, ch + 1) - e;
        curve.push_back({e, 2.3548 * width_at_channel(cal, ch) * de});
      }
    }
    for (int k = 1; k <= state_.peaks.count; ++k)
      if (state_.peaks.fwhm_kev[k] > 0 && calibrated(cal))
        points.push_back({channel_to_energy(cal, state_.peaks.centre[k]), state_.peaks.fwhm_kev[k]});
  } else {
    xlabel = "Energy (keV)", ylabel = "Efficiency";
    if (cal.low_eff_terms > 0 || cal.high_eff_terms > 0)
      for (double e = 30; e <= 3000; e *= 1.05) curve.push_back({e, efficiency_at(cal, e)});
    const EfficiencyPoints& ep = state_.spectrum.efficiency;
    for (int i = 0; i < std::min<int>(ep.count, kMaxEfficiencyPoints); ++i)
      points.push_back({ep.energy[i], ep.efficiency[i]});
  }
  double x0 = 1e300, x1 = -1e300, y0 = 0, y1 = -1e300;
  for (const auto* v : {&curve, &points})
    for (const Point& q : *v)
      if (std::isfinite(q.x) && std::isfinite(q.y)) {
        x0 = std::min(x0, q.x), x1 = std::max(x1, q.x), y1 = std::max(y1, q.y);
      }
  p.setPen(colours[kAxes]);
  p.drawRect(plot.adjusted(0, 0, -1, -1));
  if (x1 <= x0 || y1 <= y0) {
    p.drawText(plot, Qt::AlignCenter, "No calibration to plot");
    return;
  }
  y1 *= 1.1;
  const double margin = (x1 - x0) * 0.03;
  x0 -= margin;
  x1 += margin;
  auto xs = [&](double x) { return plot.left() + (x - x0) * plot.width() / (x1 - x0); };
  auto ys = [&](double y) { return plot.bottom() - (y - y0) * plot.height() / (y1 - y0); };
  const double xstep = tick_step(x1 - x0, 8), ystep = tick_step(y1 - y0, 6);
  for (double t = std::ceil(x0 / xstep) * xstep; t <= x1; t += xstep)
    p.drawText(QRect(static_cast<int>(xs(t)) - 40, plot.bottom() + 3, 80, p.fontMetrics().height()),
               Qt::AlignHCenter, QString::number(t, 'g', 5));
  for (double t = 0; t <= y1; t += ystep)
    p.drawText(QRect(0, static_cast<int>(ys(t)) - 8, plot.left() - 4, 16), Qt::AlignRight | Qt::AlignVCenter,
               QString::number(t, 'g', 4));
  p.drawText(QRect(plot.left(), plot.bottom() + p.fontMetrics().height() + 3, plot.width(), 20),
             Qt::AlignHCenter, xlabel);
  p.drawText(QRect(plot.left() + 4, plot.top() - p.fontMetrics().height() - 4, plot.width(), 20),
             Qt::AlignLeft, ylabel);
  p.setClipRect(plot);
  p.setPen(QPen(colours[kFit], 0));
  for (size_t i = 1; i < curve.size(); ++i)
    p.drawLine(QPointF(xs(curve[i - 1].x), ys(curve[i - 1].y)), QPointF(xs(curve[i].x), ys(curve[i].y)));
  p.setPen(QPen(colours[kPoints], 2));
  for (const Point& q : points) p.drawEllipse(QPointF(xs(q.x), ys(q.y)), 3, 3);
}

void SpectrumPlot::click_channel(double ch) {
  clicked_ = static_cast<int>(std::floor(ch));
  // The nearest peak within a few channels is selected.
  int best = 0;
  double best_d = 3 + (last_ - first_) / 200;
  for (int k = 1; k <= state_.peaks.count; ++k) {
    const double d = std::fabs(state_.peaks.centre[k] - ch);
    if (d < best_d) best = k, best_d = d;
  }
  selected_ = best;
  update();
}

void SpectrumPlot::mousePressEvent(QMouseEvent* e) {
  const int x = static_cast<int>(e->position().x());
  if (e->button() == Qt::LeftButton) {
    dragging_ = true;
    drag_from_ = drag_to_ = x;
  } else if (e->button() == Qt::RightButton || e->button() == Qt::MiddleButton) {
    panning_ = true;
    pan_from_channel_ = channel_at(x);
  }
}

void SpectrumPlot::mouseMoveEvent(QMouseEvent* e) {
  const int x = static_cast<int>(e->position().x());
  if (dragging_) {
    drag_to_ = x;
    update();
  } else if (panning_) {
    pan(pan_from_channel_ - channel_at(x));
  }
  if (on_cursor && type != PlotType::kEnergy && type != PlotType::kShape && type != PlotType::kEfficiency) {
    const int ch = static_cast<int>(std::floor(channel_at(x)));
    const int n = channel_count();
    const double counts = ch >= 2 && ch < n ? state_.spectrum.counts[ch] : 0;
    const double energy = calibrated(state_.spectrum.calibration)
                              ? channel_to_energy(state_.spectrum.calibration, ch)
                              : 0;
    on_cursor(ch, energy, counts);
  }
}

void SpectrumPlot::mouseReleaseEvent(QMouseEvent* e) {
  if (dragging_ && e->button() == Qt::LeftButton) {
    dragging_ = false;
    const int x = static_cast<int>(e->position().x());
    if (std::abs(x - drag_from_) > 4) {
      marked_first_ = channel_at(std::min(x, drag_from_));
      marked_last_ = channel_at(std::max(x, drag_from_));
      show_channels(marked_first_, marked_last_);
    } else {
      click_channel(channel_at(x));
    }
  }
  panning_ = false;
}

void SpectrumPlot::wheelEvent(QWheelEvent* e) {
  const double centre = channel_at(static_cast<int>(e->position().x()));
  zoom(e->angleDelta().y() > 0 ? 0.8 : 1.25, centre);
}

void SpectrumPlot::keyPressEvent(QKeyEvent* e) {
  const double span = last_ - first_;
  switch (e->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal: zoom(0.8, (first_ + last_) / 2); break;
    case Qt::Key_Minus: zoom(1.25, (first_ + last_) / 2); break;
    case Qt::Key_Left: pan(-span / 10); break;
    case Qt::Key_Right: pan(span / 10); break;
    case Qt::Key_PageUp: pan(-span); break;
    case Qt::Key_PageDown: pan(span); break;
    case Qt::Key_Home: show_all(); break;
    default: QWidget::keyPressEvent(e); return;
  }
}

}  // namespace kestrim::desktop
