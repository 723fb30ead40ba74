#include "plot/distribution_plot.h"

#include "plot/plot.h"

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

namespace temra::plot {

DistributionPlot::DistributionPlot(QWidget* parent) : QWidget(parent), canvas_(NewCanvas(this)) {
    PlaceCanvasWithTitle(this, canvas_, 9);
    setMinimumSize(220, 150);
}

void DistributionPlot::KeepTitlesWhole() {
    // The axes' titles whole beside the labels and margins the plot keeps.
    const QFontMetrics x(canvas_->xAxis->labelFont()), y(canvas_->yAxis->labelFont());
    constexpr int kAround = 90; // the other axis's labels and title, and the margins
    setMinimumSize(std::max(220, x.horizontalAdvance(canvas_->xAxis->label()) + kAround),
                   std::max(150, y.horizontalAdvance(canvas_->yAxis->label()) + kAround));
}

void DistributionPlot::Clear() {
    canvas_->clearPlottables();
    canvas_->clearItems();
    bars_ = points_ = 0;
}

void DistributionPlot::SetTitle(const QString& title) {
    if (auto* t = qobject_cast<QCPTextElement*>(canvas_->plotLayout()->element(0, 0)))
        t->setText(title);
}

void DistributionPlot::SetBars(const std::vector<double>& centre, const std::vector<double>& height,
                               double width, double median, double lo, double hi,
                               const QString& xTitle, const QString& yTitle) {
    Clear();
    double top = 0;
    for (double h : height) top = std::max(top, h);
    if (!(top > 0)) top = 1;
    // The interval first, under the bars.
    auto* band = new QCPItemRect(canvas_);
    band->topLeft->setCoords(lo, top * 1.08);
    band->bottomRight->setCoords(hi, 0);
    band->setPen(Qt::NoPen);
    band->setBrush(QColor(31, 119, 180, 45));
    auto* bars = new QCPBars(canvas_->xAxis, canvas_->yAxis);
    bars->setWidth(width);
    bars->setPen(QPen(QColor(31, 119, 180), 1));
    bars->setBrush(QColor(31, 119, 180, 150));
    bars->setData(QVector<double>(centre.begin(), centre.end()),
                  QVector<double>(height.begin(), height.end()));
    bars_ = static_cast<int>(centre.size());
    QCPGraph* mid = canvas_->addGraph();
    mid->setPen(QPen(Qt::black, 1.5, Qt::DashLine));
    mid->setData({median, median}, {0, top * 1.08});
    const double span = centre.empty() ? 1 : centre.back() - centre.front() + width;
    const double x0 = centre.empty() ? lo : std::min(centre.front() - width, lo);
    const double x1 = centre.empty() ? hi : std::max(centre.back() + width, hi);
    canvas_->xAxis->setRange(x0 - 0.02 * span, x1 + 0.02 * span);
    canvas_->yAxis->setRange(0, top * 1.1);
    canvas_->xAxis->setLabel(xTitle);
    canvas_->yAxis->setLabel(yTitle);
    UseTickStyle(canvas_->xAxis, decimalPoint_, false);
    UseTickStyle(canvas_->yAxis, decimalPoint_, false);
    KeepTitlesWhole();
    SpaceTicks(canvas_);
}

void DistributionPlot::SetHistogram(const std::vector<double>& values, int bins, double p16,
                                    double p50, double p84, const QString& xTitle) {
    if (values.empty()) {
        SetBars({}, {}, 1, p50, p16, p84, xTitle, "Share of draws");
        return;
    }
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    const int n = std::max(1, bins);
    const double width = *hi > *lo ? (*hi - *lo) / n : 1.0;
    std::vector<double> centre(static_cast<std::size_t>(n)), share(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) centre[static_cast<std::size_t>(i)] = *lo + (i + 0.5) * width;
    const double each = 1.0 / static_cast<double>(values.size());
    for (double v : values) {
        const auto bin = std::clamp(static_cast<int>(std::floor((v - *lo) / width)), 0, n - 1);
        share[static_cast<std::size_t>(bin)] += each;
    }
    SetBars(centre, share, width, p50, p16, p84, xTitle, "Share of draws");
}

void DistributionPlot::SetScatter(const std::vector<double>& x, const std::vector<double>& y,
                                  const QString& xTitle, const QString& yTitle) {
    Clear();
    QCPGraph* g = canvas_->addGraph();
    g->setLineStyle(QCPGraph::lsNone);
    g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, QColor(31, 119, 180, 90), 3));
    g->setData(QVector<double>(x.begin(), x.end()), QVector<double>(y.begin(), y.end()));
    points_ = static_cast<int>(std::min(x.size(), y.size()));
    canvas_->rescaleAxes();
    for (QCPAxis* axis : {canvas_->xAxis, canvas_->yAxis}) {
        const QCPRange r = axis->range();
        const double margin = r.size() > 0 ? 0.05 * r.size() : 0.5;
        axis->setRange(r.lower - margin, r.upper + margin);
        UseTickStyle(axis, decimalPoint_, false);
    }
    canvas_->xAxis->setLabel(xTitle);
    canvas_->yAxis->setLabel(yTitle);
    KeepTitlesWhole();
    SpaceTicks(canvas_);
}

} // namespace temra::plot
