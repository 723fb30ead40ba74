// A colour map over two axes (a misfit over elevation x temperature), on a
// logarithmic colour scale with its legend, with lines and a marker drawn over it;
// or, for a single row, one curve. Cells that hold no value stay blank.
#pragma once

#include <QString>
#include <QWidget>

#include <array>
#include <vector>

class QCustomPlot;
class QCPColorMap;
class QCPColorScale;

namespace temra::plot {

class MapPlot : public QWidget {
    Q_OBJECT
  public:
    explicit MapPlot(QWidget* parent = nullptr);

    void SetDecimalPoint(QChar point) { decimalPoint_ = point; }
    void Clear();
    // How the colours read: a misfit on a logarithmic scale, its least the
    // lightest; or a share from 0 to 1 on a linear scale, its largest the lightest.
    enum class Scale { kMisfit, kShare };
    // nx x ny cells whose centres run from (x0, y0) to (x1, y1); values[iy * nx + ix],
    // NaN for a cell that holds none.
    void SetMap(int nx, int ny, double x0, double x1, double y0, double y1,
                const std::vector<double>& values, const QString& scaleTitle,
                Scale scale = Scale::kMisfit);
    // One curve instead of a map, on a logarithmic y axis.
    void SetCurve(const std::vector<double>& x, const std::vector<double>& y);
    void SetTitles(const QString& title, const QString& xTitle, const QString& yTitle);
    // Drawn over the map, each with its name in the legend.
    // `faint`: thin and grey, beneath the lines that matter.
    void AddSegments(const std::vector<std::array<double, 4>>& segments, const QString& name,
                     bool faint = false);
    // A marker; `other` draws it as a diamond, beside a first one.
    void AddMarker(double x, double y, const QString& name, bool other = false);
    // A straight line; `dotted` for a second one beside it.
    void AddLine(double x0, double y0, double x1, double y1, const QString& name,
                 bool dotted = false);
    // A level across the curve from x0 to x1 (such as chi2min + 1), the y axis
    // widened to show it.
    void AddLevel(double x0, double x1, double y, const QString& name);
    void Replot();

    QCustomPlot* Canvas() const { return canvas_; }
    // The value of the cell at a point of the map (NaN outside or blank).
    double ValueAt(double x, double y) const;
    bool HasMap() const;
    int OverlayCount() const;
    // The legend lies beside the plotting area, never over it.
    QRect LegendRect() const;
    QRect PlotRect() const;

  private:
    QCustomPlot* canvas_;
    QCPColorMap* map_ = nullptr;
    QCPColorScale* scale_ = nullptr;
    QChar decimalPoint_ = QLatin1Char('.');
};

} // namespace temra::plot
