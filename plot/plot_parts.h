// The parts of a Plot that its files share: the palette and markers
// (plot/markers.cpp), the channels' drawing and the line density
// (plot/channels.cpp), the legend (plot/legend.cpp), the axes and their tickers
// (plot/axes.cpp). Not for the other layers: they use plot/plot.h.
#pragma once

#include "plot/plot.h"

#include <qcustomplot.h>

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QSize>

#include <cstddef>
#include <vector>

class QPainter;

namespace temra::plot {

// Above this many channels with lines, the lines share one colour and each
// distinct pixel segment is painted once.
constexpr int kBulkChannels = 200;

// The palette's colour of the channel `index`.
QColor ChannelColour(int index);

// A marker of `style` (MarkerStyle) and `size` centred on `c`.
void DrawMarker(QPainter* p, const QPointF& c, int style, double size, const QColor& colour);

// The density of many lines between neighbouring positions (Plot::SetLineDensity).
// Values are binned (in log10 on a logarithmic axis); each stretch between two
// positions is an image of columns across and value bins up, counting the lines
// that pass each cell.
struct LineDensity {
    std::vector<double> x;
    bool logarithmic = false;
    double tMin = 0, tMax = 1; // the binned range (log10 of the values on a log axis)
    double yMin = 0, yMax = 0; // the same in data units
    std::size_t lines = 0;
    std::vector<QImage> stretches;
};

// The plottable that draws every channel of `plot`.
ChannelsPlottable* NewChannelsPlottable(Plot* plot, QCPAxis* key, QCPAxis* value);

// The size of a legend's rows (the tallest) and columns (the widest item).
QSize LegendCell(const QCPLegend* legend);

// What a legend takes beyond its cells: its own margins and its distance from the
// plotting area's edges.
QSize LegendFrame(const QCustomPlot* canvas);

// Ticks a fixed step apart when the plot asks for one, otherwise QCustomPlot's
// own choice; labels in the plot's style, and on the x axis through the plot's
// callback.
class LabelTicker : public QCPAxisTicker {
  public:
    LabelTicker(Plot* plot, bool callback) : plot_(plot), callback_(callback) {}
    double fixedStep = 0;
    QChar decimalPoint = QLatin1Char('.');

  protected:
    double getTickStep(const QCPRange& range) override {
        return fixedStep > 0 ? fixedStep : QCPAxisTicker::getTickStep(range);
    }
    QVector<double> createTickVector(double tickStep, const QCPRange& range) override {
        tickStep_ = tickStep;
        range_ = range;
        return QCPAxisTicker::createTickVector(tickStep, range);
    }
    // One style for the labels the axis shows (the ticks beyond its ends, which
    // QCustomPlot keeps for drawing, take the style of the others).
    QVector<QString> createLabelVector(const QVector<double>& ticks, const QLocale&, QChar,
                                       int) override;

  private:
    Plot* plot_;
    bool callback_;
    double tickStep_ = 0;
    QCPRange range_;
};

// A logarithmic axis labels each of up to this many decades.
constexpr int kLogDecadesLabelled = 40;

class LogTicker : public QCPAxisTickerLog {
  public:
    QChar decimalPoint = QLatin1Char('.');

  protected:
    QString getTickLabel(double tick, const QLocale&, QChar, int) override {
        return TickText(tick, decimalPoint, true);
    }
};

} // namespace temra::plot
