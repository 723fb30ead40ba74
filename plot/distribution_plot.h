// One parameter's distribution as bars (a posterior marginal's cells, a
// histogram of Monte Carlo draws) with its 68 % interval shaded and its median
// drawn; or two parameters of the draws against each other as points.
#pragma once

#include <QString>
#include <QWidget>

#include <vector>

class QCustomPlot;

namespace temra::plot {

class DistributionPlot : public QWidget {
    Q_OBJECT
  public:
    explicit DistributionPlot(QWidget* parent = nullptr);

    void SetDecimalPoint(QChar point) { decimalPoint_ = point; }
    // Bars at `centre`, each `width` wide, of the given heights; the interval
    // [lo, hi] shaded and the median a line.
    void SetBars(const std::vector<double>& centre, const std::vector<double>& height, double width,
                 double median, double lo, double hi, const QString& xTitle, const QString& yTitle);
    // A histogram of `values` in about `bins` bins of equal width (share of the
    // values per bin), with their 16th, 50th and 84th percentiles.
    void SetHistogram(const std::vector<double>& values, int bins, double p16, double p50,
                      double p84, const QString& xTitle);
    // The pairs (x[i], y[i]) as points.
    void SetScatter(const std::vector<double>& x, const std::vector<double>& y,
                    const QString& xTitle, const QString& yTitle);
    void SetTitle(const QString& title);
    void Clear();

    QCustomPlot* Canvas() const { return canvas_; }
    // What is drawn (for tests): bars and points.
    int BarCount() const { return bars_; }
    int PointCount() const { return points_; }

  private:
    void KeepTitlesWhole();
    QCustomPlot* canvas_;
    QChar decimalPoint_ = QLatin1Char('.');
    int bars_ = 0, points_ = 0;
};

} // namespace temra::plot
