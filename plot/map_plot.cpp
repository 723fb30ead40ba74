#include "plot/map_plot.h"

#include "plot/plot.h"

#include <qcustomplot.h>

#include <cmath>
#include <limits>

namespace temra::plot {

MapPlot::MapPlot(QWidget* parent) : QWidget(parent), canvas_(NewCanvas(this)) {
    PlaceCanvasWithTitle(this, canvas_, 10);
    // The legend in a row of its own under the plot, centred, its entries side
    // by side: it covers neither the map nor the curve.
    canvas_->legend->setVisible(true);
    canvas_->axisRect()->insetLayout()->take(canvas_->legend);
    auto* legendRow = new QCPLayoutGrid;
    canvas_->plotLayout()->addElement(2, 0, legendRow);
    legendRow->addElement(0, 0, new QCPLayoutElement(canvas_));
    legendRow->addElement(0, 1, canvas_->legend);
    legendRow->addElement(0, 2, new QCPLayoutElement(canvas_));
    legendRow->setColumnStretchFactor(1, 0.001);
    legendRow->setMargins(QMargins(0, 0, 0, 4));
    canvas_->plotLayout()->setRowStretchFactor(2, 0.001);
    canvas_->legend->setFillOrder(QCPLegend::foColumnsFirst);
    canvas_->legend->setWrap(3);
    canvas_->legend->setBorderPen(Qt::NoPen);
    // QCustomPlot draws a line's icon 5 pixels beyond its box (so that dashes end
    // whole): the text keeps clear of it.
    canvas_->legend->setIconTextPadding(canvas_->legend->iconTextPadding() + 6);
    setMinimumSize(420, 320);
}

void MapPlot::Clear() {
    canvas_->clearPlottables();
    canvas_->clearGraphs();
    if (scale_) {
        canvas_->plotLayout()->remove(scale_);
        canvas_->plotLayout()->simplify();
    }
    map_ = nullptr;
    scale_ = nullptr;
}

void MapPlot::SetMap(int nx, int ny, double x0, double x1, double y0, double y1,
                     const std::vector<double>& values, const QString& scaleTitle, Scale scale) {
    const bool share = scale == Scale::kShare;
    map_ = new QCPColorMap(canvas_->xAxis, canvas_->yAxis);
    map_->setName(scaleTitle);
    map_->removeFromLegend();
    map_->data()->setSize(nx, ny);
    map_->data()->setRange(QCPRange(x0, x1), QCPRange(y0, y1));
    double lo = std::numeric_limits<double>::infinity(), hi = 0;
    for (int iy = 0; iy < ny; ++iy)
        for (int ix = 0; ix < nx; ++ix) {
            const double v = values[static_cast<std::size_t>(iy) * nx + ix];
            map_->data()->setCell(ix, iy, v);
            if (std::isfinite(v) && v > 0) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        }
    // A logarithmic scale from the least misfit (at least 0.01) to the largest; a
    // share from 0 to 1.
    lo = share ? 0.0 : std::isfinite(lo) ? std::max(lo, 0.01) : 0.01;
    hi = share ? 1.0 : std::max(hi, lo * 10);
    scale_ = new QCPColorScale(canvas_);
    canvas_->plotLayout()->addElement(1, 1, scale_);
    scale_->setType(QCPAxis::atRight);
    scale_->setDataScaleType(share ? QCPAxis::stLinear : QCPAxis::stLogarithmic);
    scale_->axis()->setLabel(scaleTitle);
    UseTickStyle(scale_->axis(), decimalPoint_, !share);
    map_->setColorScale(scale_);
    // Viridis, the least misfit (the largest share) the lightest colour: the scale
    // reads the same in grey and to colour-blind readers.
    QCPColorGradient gradient;
    const char* const viridis[] = {"#fde725", "#9fda3a", "#4ac16d", "#1fa187",
                                   "#277f8e", "#365c8d", "#46337e", "#440154"};
    QMap<double, QColor> stops;
    for (int i = 0; i < 8; ++i) stops.insert(share ? 1 - i / 7.0 : i / 7.0, QColor(viridis[i]));
    gradient.setColorStops(stops);
    gradient.setColorInterpolation(QCPColorGradient::ciRGB);
    gradient.setNanHandling(QCPColorGradient::nhTransparent);
    map_->setGradient(gradient);
    map_->setDataScaleType(share ? QCPAxis::stLinear : QCPAxis::stLogarithmic);
    map_->setDataRange(QCPRange(lo, hi));
    auto* margins = new QCPMarginGroup(canvas_);
    canvas_->axisRect()->setMarginGroup(QCP::msBottom | QCP::msTop, margins);
    scale_->setMarginGroup(QCP::msBottom | QCP::msTop, margins);
    const double dx = nx > 1 ? (x1 - x0) / (nx - 1) / 2 : 0.5;
    const double dy = ny > 1 ? (y1 - y0) / (ny - 1) / 2 : 0.5;
    canvas_->xAxis->setRange(x0 - dx, x1 + dx);
    canvas_->yAxis->setRange(y0 - dy, y1 + dy);
    canvas_->yAxis->setScaleType(QCPAxis::stLinear);
    UseTickStyle(canvas_->xAxis, decimalPoint_, false);
    UseTickStyle(canvas_->yAxis, decimalPoint_, false);
}

void MapPlot::SetCurve(const std::vector<double>& x, const std::vector<double>& y) {
    QCPGraph* g = canvas_->addGraph();
    g->setName("χ²");
    g->setPen(QPen(QColor(31, 119, 180), 1.5));
    g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, 4));
    QVector<double> xs, ys;
    for (std::size_t i = 0; i < x.size(); ++i)
        if (y[i] > 0) {
            xs << x[i];
            ys << y[i];
        }
    g->setData(xs, ys);
    canvas_->yAxis->setScaleType(QCPAxis::stLogarithmic);
    UseTickStyle(canvas_->xAxis, decimalPoint_, false);
    UseTickStyle(canvas_->yAxis, decimalPoint_, true);
    canvas_->rescaleAxes();
    const QCPRange r = canvas_->yAxis->range();
    canvas_->yAxis->setRange(r.lower / 1.5, r.upper * 1.5);
    // A margin on each side: a point at an end of the range is drawn whole.
    const QCPRange across = canvas_->xAxis->range();
    const double margin = across.size() > 0 ? 0.03 * across.size() : 0.5;
    canvas_->xAxis->setRange(across.lower - margin, across.upper + margin);
}

void MapPlot::SetTitles(const QString& title, const QString& xTitle, const QString& yTitle) {
    if (auto* t = qobject_cast<QCPTextElement*>(canvas_->plotLayout()->element(0, 0)))
        t->setText(title);
    canvas_->xAxis->setLabel(xTitle);
    canvas_->yAxis->setLabel(yTitle);
}

void MapPlot::AddSegments(const std::vector<std::array<double, 4>>& segments, const QString& name,
                          bool faint) {
    auto* curve = new QCPCurve(canvas_->xAxis, canvas_->yAxis);
    curve->setName(name);
    curve->setPen(faint ? QPen(QColor(110, 110, 110, 190), 1.2) : QPen(Qt::black, 2));
    double t = 0;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const auto& s : segments) {
        curve->addData(t++, s[0], s[1]);
        curve->addData(t++, s[2], s[3]);
        curve->addData(t++, nan, nan); // a gap before the next segment
    }
}

void MapPlot::AddMarker(double x, double y, const QString& name, bool other) {
    QCPGraph* g = canvas_->addGraph();
    g->setName(name);
    g->setLineStyle(QCPGraph::lsNone);
    g->setScatterStyle(other ? QCPScatterStyle(QCPScatterStyle::ssDiamond, QPen(Qt::black, 1.5),
                                               QBrush(QColor(255, 127, 14)), 13)
                             : QCPScatterStyle(QCPScatterStyle::ssCrossCircle, QPen(Qt::black, 2),
                                               QBrush(Qt::white), 12));
    g->setData({x}, {y});
}

void MapPlot::AddLine(double x0, double y0, double x1, double y1, const QString& name,
                      bool dotted) {
    QCPGraph* g = canvas_->addGraph();
    g->setName(name);
    g->setPen(dotted ? QPen(QColor(255, 127, 14), 2, Qt::DotLine)
                     : QPen(QColor(214, 39, 40), 2, Qt::DashLine));
    g->setData({x0, x1}, {y0, y1});
}

void MapPlot::AddLevel(double x0, double x1, double y, const QString& name) {
    QCPGraph* g = canvas_->addGraph();
    g->setName(name);
    g->setPen(QPen(Qt::black, 1.5, Qt::DashLine));
    g->setData({x0, x1}, {y, y});
    const QCPRange r = canvas_->yAxis->range();
    if (y * 1.5 > r.upper) canvas_->yAxis->setRange(r.lower, y * 1.5);
    if (y / 1.5 < r.lower) canvas_->yAxis->setRange(y / 1.5, canvas_->yAxis->range().upper);
}

void MapPlot::Replot() {
    if (canvas_->yAxis->scaleType() == QCPAxis::stLogarithmic) {
        // Whole decades around every point drawn (the curve, the best fit, the
        // level): each has a labelled decade below and above it.
        double lo = HUGE_VAL, hi = 0;
        for (int i = 0; i < canvas_->graphCount(); ++i)
            for (const QCPGraphData& d : *canvas_->graph(i)->data())
                if (d.value > 0 && std::isfinite(d.value)) {
                    lo = std::min(lo, d.value);
                    hi = std::max(hi, d.value);
                }
        if (hi > 0)
            canvas_->yAxis->setRange(std::pow(10.0, std::floor(std::log10(lo) - 1e-9)),
                                     std::pow(10.0, std::ceil(std::log10(hi) + 1e-9)));
    }
    SpaceTicks(canvas_);
}

double MapPlot::ValueAt(double x, double y) const {
    if (!map_) return std::numeric_limits<double>::quiet_NaN();
    int ix = 0, iy = 0;
    map_->data()->coordToCell(x, y, &ix, &iy);
    if (ix < 0 || iy < 0 || ix >= map_->data()->keySize() || iy >= map_->data()->valueSize())
        return std::numeric_limits<double>::quiet_NaN();
    return map_->data()->cell(ix, iy);
}

bool MapPlot::HasMap() const {
    return map_ != nullptr;
}

int MapPlot::OverlayCount() const {
    return canvas_->plottableCount() - (map_ ? 1 : 0);
}

QRect MapPlot::LegendRect() const {
    return canvas_->legend->outerRect();
}

QRect MapPlot::PlotRect() const {
    return canvas_->axisRect()->rect();
}

} // namespace temra::plot
