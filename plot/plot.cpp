#include "plot.h"

#include <qcustomplot.h>

#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace temra::plot {

namespace {

// Above this many channels with lines, the lines share one colour and each
// distinct pixel segment is painted once.
constexpr int kBulkChannels = 200;

const QColor kPalette[] = {QColor(31, 119, 180),  QColor(214, 39, 40),   QColor(44, 160, 44),
                           QColor(148, 103, 189), QColor(255, 127, 14),  QColor(23, 190, 207),
                           QColor(140, 86, 75),   QColor(227, 119, 194), QColor(127, 127, 127),
                           QColor(188, 189, 34)};

QColor ChannelColour(int index) {
    return kPalette[static_cast<std::size_t>(index) % (sizeof kPalette / sizeof kPalette[0])];
}

void DrawMarker(QPainter* p, const QPointF& c, int style, double size, const QColor& colour) {
    const double r = std::max(1.5, size * 0.75);
    p->setPen(QPen(colour, 1.2));
    switch (style) {
    case kMarkerCircle:
        p->setBrush(Qt::NoBrush);
        p->drawEllipse(c, r + 1, r + 1);
        break;
    case kMarkerSquare:
        p->setBrush(Qt::NoBrush);
        p->drawRect(QRectF(c.x() - r - 1, c.y() - r - 1, 2 * r + 2, 2 * r + 2));
        break;
    case kMarkerDiamond: {
        p->setBrush(colour);
        const QPointF pts[] = {
            {c.x(), c.y() - r}, {c.x() + r, c.y()}, {c.x(), c.y() + r}, {c.x() - r, c.y()}};
        p->drawPolygon(pts, 4);
        break;
    }
    case kMarkerTriangle: {
        p->setBrush(colour);
        const QPointF pts[] = {{c.x(), c.y() - r}, {c.x() + r, c.y() + r}, {c.x() - r, c.y() + r}};
        p->drawPolygon(pts, 3);
        break;
    }
    case kMarkerCrossCircle:
        p->setBrush(Qt::NoBrush);
        p->setPen(QPen(colour, 2));
        p->drawEllipse(c, r + 2, r + 2);
        p->drawLine(QPointF(c.x() - r - 2, c.y()), QPointF(c.x() + r + 2, c.y()));
        p->drawLine(QPointF(c.x(), c.y() - r - 2), QPointF(c.x(), c.y() + r + 2));
        break;
    case kMarkerDisc:
    default:
        p->setBrush(colour);
        p->drawEllipse(c, r, r);
        break;
    }
}

} // namespace

// Draws every channel of the plot.
class ChannelsPlottable : public QCPAbstractPlottable {
  public:
    ChannelsPlottable(Plot* plot, QCPAxis* key, QCPAxis* value)
        : QCPAbstractPlottable(key, value), plot_(plot) {}

    double selectTest(const QPointF&, bool, QVariant*) const override { return -1; }

    QCPRange getKeyRange(bool& found, QCP::SignDomain) const override {
        double x0, x1, y0, y1;
        found = plot_->DataRange(x0, x1, y0, y1);
        return {x0, x1};
    }
    QCPRange getValueRange(bool& found, QCP::SignDomain, const QCPRange&) const override {
        double x0, x1, y0, y1;
        found = plot_->DataRange(x0, x1, y0, y1);
        return {y0, y1};
    }

  protected:
    void draw(QCPPainter* painter) override {
        QCPAxis* kx = keyAxis();
        QCPAxis* vy = valueAxis();
        if (!kx || !vy) return;
        const bool logY = plot_->logY_;
        auto toPixel = [&](const Point& pt, QPointF& out) {
            if (logY && !(pt.y > 0)) return false; // not drawable on a log axis
            out = QPointF(kx->coordToPixel(pt.x), vy->coordToPixel(pt.y));
            return std::isfinite(out.x()) && std::isfinite(out.y());
        };
        const auto& channels = plot_->channels_;
        int traced = 0;
        for (const Channel& c : channels)
            if (c.TraceVisible && c.PointCount() > 1) ++traced;
        const bool bulk = traced > kBulkChannels;

        if (bulk) {
            // One colour; a segment is painted once however many channels share it.
            std::vector<std::uint64_t> keys;
            keys.reserve(static_cast<std::size_t>(traced) * 6);
            auto clampPx = [](double v) {
                return static_cast<std::uint64_t>(std::clamp(std::lround(v) + 32768L, 0L, 65535L));
            };
            for (const Channel& c : channels) {
                if (!c.TraceVisible || c.PointCount() < 2) continue;
                QPointF prev;
                bool havePrev = false;
                for (int i = 0; i < c.PointCount(); ++i) {
                    QPointF cur;
                    const bool ok = toPixel(c.PointAt(i), cur);
                    if (ok && havePrev)
                        keys.push_back(clampPx(prev.x()) << 48 | clampPx(prev.y()) << 32 |
                                       clampPx(cur.x()) << 16 | clampPx(cur.y()));
                    havePrev = ok;
                    prev = cur;
                }
            }
            std::sort(keys.begin(), keys.end());
            keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
            QVector<QLine> lines;
            lines.reserve(static_cast<qsizetype>(keys.size()));
            for (std::uint64_t k : keys) {
                auto part = [&](int shift) {
                    return static_cast<int>((k >> shift) & 0xFFFF) - 32768;
                };
                lines.push_back(QLine(part(48), part(32), part(16), part(0)));
            }
            painter->setAntialiasing(false);
            painter->setPen(QPen(ChannelColour(0), 1));
            painter->drawLines(lines);
        }

        for (int ci = 0; ci < static_cast<int>(channels.size()); ++ci) {
            const Channel& c = channels[static_cast<std::size_t>(ci)];
            const QColor colour = ChannelColour(ci);
            if (!bulk && c.TraceVisible && c.PointCount() > 1) {
                painter->setAntialiasing(true);
                painter->setPen(QPen(colour, 1.5));
                QPolygonF line;
                for (int i = 0; i < c.PointCount(); ++i) {
                    QPointF px;
                    if (toPixel(c.PointAt(i), px)) {
                        line << px;
                    } else if (!line.isEmpty()) {
                        painter->drawPolyline(line);
                        line.clear();
                    }
                }
                if (line.size() > 1) painter->drawPolyline(line);
            }
            if (c.MarkersVisible || c.MarkersAllowIndividual) {
                painter->setAntialiasing(true);
                const auto individual = plot_->pointMarkers_.find(ci);
                for (int i = 0; i < c.PointCount(); ++i) {
                    int style = c.MarkersStyle;
                    bool draw = c.MarkersVisible;
                    if (c.MarkersAllowIndividual && individual != plot_->pointMarkers_.end()) {
                        auto it = individual->second.find(i);
                        if (it != individual->second.end()) {
                            style = it->second;
                            draw = true;
                        }
                    }
                    QPointF px;
                    if (draw && toPixel(c.PointAt(i), px))
                        DrawMarker(painter, px, style, c.MarkersSize,
                                   ci == 0 && bulk ? Qt::black : colour);
                }
            }
        }
    }

    void drawLegendIcon(QCPPainter*, const QRectF&) const override {}

  private:
    Plot* plot_;
};

// A legend row: the channel's line and marker, then its title.
class ChannelLegendItem : public QCPAbstractLegendItem {
  public:
    ChannelLegendItem(QCPLegend* legend, Plot* plot, int channel)
        : QCPAbstractLegendItem(legend), plot_(plot), channel_(channel) {}

  protected:
    void draw(QCPPainter* painter) override {
        const Channel& c = plot_->channel(channel_);
        const QColor colour = ChannelColour(channel_);
        const QRect r = mRect;
        const QRectF icon(r.left(), r.top(), 24, r.height());
        painter->setAntialiasing(true);
        if (c.TraceVisible) {
            painter->setPen(QPen(colour, 1.5));
            painter->drawLine(QPointF(icon.left(), icon.center().y()),
                              QPointF(icon.right(), icon.center().y()));
        }
        if (c.MarkersVisible)
            DrawMarker(painter, icon.center(), c.MarkersStyle, c.MarkersSize, colour);
        painter->setPen(Qt::black);
        painter->setFont(mFont);
        painter->drawText(QRectF(icon.right() + 6, r.top(), r.width() - 30, r.height()),
                          Qt::AlignLeft | Qt::AlignVCenter, plot_->ChannelTitle(channel_));
    }
    QSize minimumOuterSizeHint() const override {
        const QFontMetrics fm(mFont);
        const QSize text = fm.size(Qt::TextSingleLine, plot_->ChannelTitle(channel_));
        return QSize(30 + text.width(), std::max(text.height(), 14)) +
               QSize(mMargins.left() + mMargins.right(), mMargins.top() + mMargins.bottom());
    }

  private:
    Plot* plot_;
    int channel_;
};

// Ticks a fixed step apart when the plot asks for one, otherwise QCustomPlot's
// own choice; every label goes through the plot's callback.
class LabelTicker : public QCPAxisTicker {
  public:
    explicit LabelTicker(Plot* plot) : plot_(plot) {}
    double fixedStep = 0;

  protected:
    double getTickStep(const QCPRange& range) override {
        return fixedStep > 0 ? fixedStep : QCPAxisTicker::getTickStep(range);
    }
    QString getTickLabel(double tick, const QLocale& locale, QChar formatChar,
                         int precision) override {
        QString label = QCPAxisTicker::getTickLabel(tick, locale, formatChar, precision);
        if (plot_->OnXAxisCustomizeLabel) plot_->OnXAxisCustomizeLabel(0, tick, label);
        return label;
    }

  private:
    Plot* plot_;
};

void Channel::AddPoint(double x, double y) {
    const Point p{static_cast<float>(x), static_cast<float>(y)};
    if (count_ < kInline) {
        inline_[static_cast<std::size_t>(count_)] = p;
    } else {
        if (!more_) more_ = std::make_unique<std::vector<Point>>();
        more_->push_back(p);
    }
    ++count_;
    if (plot_) plot_->NoteValue(x, y);
}

Point Channel::PointAt(int i) const {
    return i < kInline ? inline_[static_cast<std::size_t>(i)]
                       : (*more_)[static_cast<std::size_t>(i - kInline)];
}

Plot::Plot(QWidget* parent) : QWidget(parent), canvas_(new QCustomPlot(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(canvas_);
    canvas_->setAutoAddPlottableToLegend(false);
    canvas_->setNotAntialiasedElements(QCP::aeAll);
    canvas_->plotLayout()->insertRow(0);
    titleElement_ = new QCPTextElement(canvas_, QString(), QFont("Arial", 10, QFont::Bold));
    canvas_->plotLayout()->addElement(0, 0, titleElement_);
    canvas_->xAxis->setTicker(QSharedPointer<LabelTicker>(new LabelTicker(this)));
    plottable_ = new ChannelsPlottable(this, canvas_->xAxis, canvas_->yAxis);
    Clear();
}

Plot::~Plot() = default;

void Plot::SetTitleText(const QString& text) {
    title_ = text;
    titleElement_->setText(text);
}

void Plot::SetTitleFontSize(int points) {
    QFont f = titleElement_->font();
    f.setPointSize(points);
    titleElement_->setFont(f);
}

void Plot::Clear() {
    channels_.clear();
    channels_.shrink_to_fit();
    titles_.clear();
    pointMarkers_.clear();
    dataXMin_ = dataYMin_ = std::numeric_limits<double>::infinity();
    dataXMax_ = dataYMax_ = -std::numeric_limits<double>::infinity();
}

int Plot::AddChannel() {
    channels_.emplace_back();
    channels_.back().plot_ = this;
    return static_cast<int>(channels_.size()) - 1;
}

Channel& Plot::channel(int index) {
    return channels_.at(static_cast<std::size_t>(index));
}
const Channel& Plot::channel(int index) const {
    return channels_.at(static_cast<std::size_t>(index));
}

void Plot::SetChannelTitle(int index, const QString& title) {
    titles_[index] = title;
}

QString Plot::ChannelTitle(int index) const {
    auto it = titles_.find(index);
    return it == titles_.end() ? QString() : it->second;
}

void Plot::SetPointMarker(int channelIndex, int point, int style) {
    pointMarkers_[channelIndex][point] = style;
}

Axis& Plot::xAxis(int index) {
    return xAxes_.at(static_cast<std::size_t>(index));
}
Axis& Plot::yAxis(int index) {
    return yAxes_.at(static_cast<std::size_t>(index));
}

int Plot::AddXAxis() {
    xAxes_.emplace_back();
    return XAxisCount() - 1;
}

int Plot::AddYAxis() {
    yAxes_.emplace_back();
    return YAxisCount() - 1;
}

void Plot::NoteValue(double x, double y) {
    if (std::isfinite(x)) {
        dataXMin_ = std::min(dataXMin_, x);
        dataXMax_ = std::max(dataXMax_, x);
    }
    if (std::isfinite(y) && (!logY_ || y > 0)) {
        dataYMin_ = std::min(dataYMin_, y);
        dataYMax_ = std::max(dataYMax_, y);
    }
}

bool Plot::DataRange(double& xMin, double& xMax, double& yMin, double& yMax) const {
    xMin = dataXMin_;
    xMax = dataXMax_;
    yMin = dataYMin_;
    yMax = dataYMax_;
    return xMin <= xMax && yMin <= yMax;
}

void Plot::Replot() {
    QCPAxis* x = canvas_->xAxis;
    QCPAxis* y = canvas_->yAxis;
    const bool haveX = !xAxes_.empty(), haveY = !yAxes_.empty();
    x->setVisible(haveX);
    y->setVisible(haveY);
    if (haveX) {
        const Axis& a = xAxes_.front();
        x->setLabel(a.Title);
        double lo = a.Min, hi = a.Min + a.Span;
        double dx0, dx1, dy0, dy1;
        if (a.TrackScaleMinMax && DataRange(dx0, dx1, dy0, dy1)) {
            lo = dx0;
            hi = dx1;
        }
        // With ticks at whole positions (the gases) the last one sits on the right
        // edge; a small margin keeps its marks whole.
        x->setRange(lo, xTickStep_ > 0 ? hi + 0.03 * (hi - lo) : hi);
        qSharedPointerCast<LabelTicker>(x->ticker())->fixedStep = xTickStep_;
    }
    if (haveY) {
        const Axis& a = yAxes_.front();
        y->setLabel(a.Title);
        y->setScaleType(logY_ ? QCPAxis::stLogarithmic : QCPAxis::stLinear);
        if (logY_ && !qSharedPointerDynamicCast<QCPAxisTickerLog>(y->ticker()))
            y->setTicker(QSharedPointer<QCPAxisTickerLog>(new QCPAxisTickerLog));
        if (!logY_ && qSharedPointerDynamicCast<QCPAxisTickerLog>(y->ticker()))
            y->setTicker(QSharedPointer<QCPAxisTicker>(new QCPAxisTicker));
        y->setNumberFormat(logY_ ? "eb" : "g");
        y->setNumberPrecision(logY_ ? 0 : 4);
        double lo = a.Min, hi = a.Min + a.Span;
        double dx0, dx1, dy0, dy1;
        if (a.TrackScaleMinMax && DataRange(dx0, dx1, dy0, dy1)) {
            lo = dy0;
            hi = dy1;
            if (logY_) {
                lo /= 1.25;
                hi *= 1.25;
            }
        }
        if (logY_ && !(lo > 0)) lo = hi > 0 ? hi / 100 : 1;
        if (!(hi > lo)) hi = lo * (logY_ ? 10 : 1) + (logY_ ? 0 : 1);
        y->setRange(lo, hi);
    }
    // Legend: one row per titled channel, in channel order.
    QCPLegend* legend = canvas_->legend;
    legend->clearItems();
    legend->setVisible(legendVisible_);
    // Top left: the curves of a gas-pair graph rise to the right.
    canvas_->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);
    if (legendVisible_)
        for (int i = 0; i < ChannelCount(); ++i)
            if (!ChannelTitle(i).isEmpty()) legend->addItem(new ChannelLegendItem(legend, this, i));
    canvas_->replot();
}

std::vector<std::pair<double, QString>> Plot::XTickLabels() const {
    std::vector<std::pair<double, QString>> out;
    QCPAxis* x = canvas_->xAxis;
    const QVector<double> ticks = x->tickVector();
    const QVector<QString> labels = x->tickVectorLabels();
    for (qsizetype i = 0; i < ticks.size() && i < labels.size(); ++i)
        out.emplace_back(ticks[i], labels[i]);
    return out;
}

} // namespace temra::plot
