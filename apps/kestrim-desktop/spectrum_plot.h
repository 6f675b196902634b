// The spectrum plot: counts on a linear, square-root or logarithmic scale,
// zoom (rubber band, wheel, keys) and pan, a cursor read-out, peak markers,
// the fitted curve with its continuum and residuals, markers of the
// identified nuclides' lines, the overlay spectrum, and the energy, width
// and efficiency calibration plots with their points.
//
// Colours come from "COLOUR.INF" in the working folder when it is there:
// thirteen 4-byte entries (red, green, blue, 0), in this order: background,
// spectrum, axes and text, fitted curve, peak markers, selected peak and
// region, grid, cursor, residuals, nuclide markers, continuum, overlay,
// calibration points. A file shorter than 52 bytes only sets the last
// colour to light grey.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

#include <array>
#include <functional>
#include <string>

namespace kestrim {
struct State;
}

namespace kestrim::desktop {

enum class YScale { kLinear, kSquareRoot, kLog };
enum class PlotType { kSpectrum, kEnergy, kShape, kEfficiency, kResiduals, kOverlayOnly };

inline constexpr int kColourCount = 13;
using ColourTable = std::array<QColor, kColourCount>;
ColourTable default_colours();
// Reads the colour file; the defaults stay where it has nothing.
ColourTable read_colour_file(const std::string& path);
// Writes the table in the same layout; false when it could not be written.
bool write_colour_file(const std::string& path, const ColourTable& colours);
// What each entry colours, in file order.
const char* colour_role(int index);

class SpectrumPlot : public QWidget {
 public:
  explicit SpectrumPlot(const State& state, QWidget* parent = nullptr);

  YScale scale = YScale::kLinear;
  PlotType type = PlotType::kSpectrum;
  bool show_fit = true;
  bool show_continuum = true;
  bool show_residuals = false;
  bool show_markers = true;
  bool show_nuclides = false;
  bool show_overlay = false;
  ColourTable colours = default_colours();

  // The channels shown.
  double first() const { return first_; }
  double last() const { return last_; }
  void show_channels(double first, double last);
  void show_all();
  bool expanded() const;
  // Expand: the marked channels fill the plot; again: the whole spectrum.
  void toggle_expand();
  // Centres the plot on a peak and selects it (0: none).
  void centre_on_peak(int peak);
  int selected_peak() const { return selected_; }
  void select_peak(int peak) { selected_ = peak; update(); }
  // The channel last clicked (0: none); a click also selects the nearest peak.
  int clicked_channel() const { return clicked_; }
  void click_channel(double channel);

  // The picture of the plot (clipboard, files).
  QImage image();

  // Cursor read-out: channel, energy (keV, 0 uncalibrated), counts.
  std::function<void(int, double, double)> on_cursor;

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void wheelEvent(QWheelEvent*) override;
  void keyPressEvent(QKeyEvent*) override;

 private:
  void draw(QPainter& p, const QRect& area);
  void draw_spectrum(QPainter& p, const QRect& plot, const QRect& residual_strip);
  void draw_calibration(QPainter& p, const QRect& plot);
  int channel_count() const;
  double channel_at(int x) const;
  double y_of(double counts, double top) const;
  void zoom(double factor, double centre);
  void pan(double channels);

  const State& state_;
  double first_ = 2, last_ = 1024;
  double marked_first_ = 0, marked_last_ = 0;
  QRect plot_rect_;
  int selected_ = 0;
  int clicked_ = 0;
  bool dragging_ = false, panning_ = false;
  int drag_from_ = 0, drag_to_ = 0;
  double pan_from_channel_ = 0;
};

}  // namespace kestrim::desktop
