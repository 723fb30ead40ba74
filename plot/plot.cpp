#include "plot/plot.h"

#include <qcustomplot.h>

#include <QVBoxLayout>

#include <thread>

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
    case kMarkerTriangleDown: {
        p->setBrush(colour);
        const QPointF pts[] = {{c.x(), c.y() + r}, {c.x() + r, c.y() - r}, {c.x() - r, c.y() - r}};
        p->drawPolygon(pts, 3);
        break;
    }
    case kMarkerCross:
        p->setPen(QPen(colour, 2));
        p->drawLine(QPointF(c.x() - r, c.y() - r), QPointF(c.x() + r, c.y() + r));
        p->drawLine(QPointF(c.x() - r, c.y() + r), QPointF(c.x() + r, c.y() - r));
        break;
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

namespace {

constexpr int kDensityBins = 400;    // value bins of a stretch
constexpr int kDensityColumns = 192; // columns across a stretch
constexpr std::uint16_t kNoBin = 0xFFFF;
constexpr std::size_t kDensityChunk = 16384;

// The value bin of each of `count` values (kNoBin for one outside the binned
// range, or not positive on a logarithmic axis).
void BinValues(const double* row, std::size_t count, const LineDensity& d, double scale,
               std::uint16_t* out) {
    const std::size_t V = kDensityBins;
    for (std::size_t k = 0; k < count; ++k) {
        const double v = row[k];
        const double t = d.logarithmic ? (v > 0 ? std::log10(v) : NAN) : v;
        const double b = (t - d.tMin) * scale;
        out[k] =
            b >= 0 && b < V + 1 ? static_cast<std::uint16_t>(std::min<double>(b, V - 1)) : kNoBin;
    }
}

// Counts `count` lines into the histogram h of one stretch: the pairs of their
// bins at its two ends, a and b, where both have one.
void CountStretch(const std::uint16_t* a, const std::uint16_t* b, std::size_t count,
                  std::uint32_t* h) {
    const std::size_t V = kDensityBins;
    for (std::size_t k = 0; k < count; ++k)
        if (a[k] != kNoBin && b[k] != kNoBin) ++h[a[k] * V + b[k]];
}

// The lines [from, to) counted into one histogram of (bin at x[i], bin at x[i+1])
// per stretch, a chunk of lines at a time.
void CountPairs(const std::vector<const double*>& rows, std::size_t from, std::size_t to,
                const LineDensity& d, std::vector<std::uint32_t>& histograms) {
    const std::size_t n = rows.size(), V = kDensityBins;
    const double scale = V / (d.tMax - d.tMin);
    std::vector<std::uint16_t> bins(n * kDensityChunk);
    for (std::size_t begin = from; begin < to; begin += kDensityChunk) {
        const std::size_t count = std::min(kDensityChunk, to - begin);
        for (std::size_t i = 0; i < n; ++i)
            BinValues(rows[i] + begin, count, d, scale, bins.data() + i * kDensityChunk);
        for (std::size_t s = 0; s + 1 < n; ++s)
            CountStretch(bins.data() + s * kDensityChunk, bins.data() + (s + 1) * kDensityChunk,
                         count, histograms.data() + s * V * V);
    }
}

// The image of one stretch: every (a, b) pair of bins drawn as a straight run
// across the columns, weighted by the lines it stands for.
QImage StretchImage(const std::uint32_t* h, const QColor& colour) {
    const int V = kDensityBins, S = kDensityColumns;
    std::vector<float> cells(static_cast<std::size_t>(V) * S, 0.0f);
    for (int a = 0; a < V; ++a)
        for (int b = 0; b < V; ++b) {
            const std::uint32_t c = h[a * V + b];
            if (!c) continue;
            for (int u = 0; u < S; ++u) {
                const double v0 = a + 0.5 + (b - a) * static_cast<double>(u) / S;
                const double v1 = a + 0.5 + (b - a) * static_cast<double>(u + 1) / S;
                const int lo = std::clamp(static_cast<int>(std::min(v0, v1)), 0, V - 1);
                const int hi = std::clamp(static_cast<int>(std::max(v0, v1)), 0, V - 1);
                for (int v = lo; v <= hi; ++v)
                    cells[static_cast<std::size_t>(v) * S + u] += static_cast<float>(c);
            }
        }
    const float top = *std::max_element(cells.begin(), cells.end());
    QImage image(S, V, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    if (!(top > 0)) return image;
    const float norm = std::log1p(top);
    for (int v = 0; v < V; ++v) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(V - 1 - v));
        for (int u = 0; u < S; ++u) {
            const float c = cells[static_cast<std::size_t>(v) * S + u];
            if (!(c > 0)) continue;
            const float alpha = 0.2f + 0.8f * std::log1p(c) / norm;
            line[u] = qPremultiply(
                qRgba(colour.red(), colour.green(), colour.blue(), static_cast<int>(alpha * 255)));
        }
    }
    return image;
}

} // namespace

// Draws every channel of the plot: the lines, then the markers of the channels
// with lines, then the markers of the channels without (the measured values).
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
        if (!keyAxis() || !valueAxis()) return;
        DrawDensity(painter);
        int traced = 0;
        for (const Channel& c : plot_->channels_)
            if (c.TraceVisible && c.PointCount() > 1) ++traced;
        if (traced > kBulkChannels)
            DrawSharedLines(painter, traced);
        else
            DrawLines(painter);
        DrawMarkers(painter, true);
        DrawMarkers(painter, false);
    }

    void drawLegendIcon(QCPPainter*, const QRectF&) const override {}

  private:
    // A point's pixel; false when it cannot be drawn (not positive on a log axis).
    bool ToPixel(const Point& pt, QPointF& out) const {
        if (plot_->logY_ && !(pt.y > 0)) return false;
        out = QPointF(keyAxis()->coordToPixel(pt.x), valueAxis()->coordToPixel(pt.y));
        return std::isfinite(out.x()) && std::isfinite(out.y());
    }

    // The density of many lines, each stretch's image stretched over its place.
    void DrawDensity(QCPPainter* painter) const {
        const LineDensity* d = plot_->density_.get();
        if (!d) return;
        const auto y = [&](double t) {
            return valueAxis()->coordToPixel(d->logarithmic ? std::pow(10.0, t) : t);
        };
        const double top = y(d->tMax), bottom = y(d->tMin);
        painter->save();
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
        for (std::size_t s = 0; s < d->stretches.size(); ++s) {
            const double left = keyAxis()->coordToPixel(d->x[s]);
            const double right = keyAxis()->coordToPixel(d->x[s + 1]);
            painter->drawImage(QRectF(left, top, right - left, bottom - top), d->stretches[s]);
        }
        painter->restore();
    }

    // Every line in its own colour.
    void DrawLines(QCPPainter* painter) const {
        const auto& channels = plot_->channels_;
        painter->setAntialiasing(true);
        for (int ci = 0; ci < static_cast<int>(channels.size()); ++ci) {
            const Channel& c = channels[static_cast<std::size_t>(ci)];
            if (!c.TraceVisible || c.PointCount() < 2) continue;
            QPen pen(plot_->ColourOf(ci), 1.5);
            pen.setStyle(c.Dash);
            painter->setPen(pen);
            QPolygonF line;
            for (int i = 0; i < c.PointCount(); ++i) {
                QPointF px;
                if (ToPixel(c.PointAt(i), px)) {
                    line << px;
                } else if (!line.isEmpty()) {
                    painter->drawPolyline(line);
                    line.clear();
                }
            }
            if (line.size() > 1) painter->drawPolyline(line);
        }
    }

    // Many lines: one colour, and a segment is painted once however many channels
    // share it.
    void DrawSharedLines(QCPPainter* painter, int traced) const {
        std::vector<std::uint64_t> keys;
        keys.reserve(static_cast<std::size_t>(traced) * 6);
        auto clampPx = [](double v) {
            return static_cast<std::uint64_t>(std::clamp(std::lround(v) + 32768L, 0L, 65535L));
        };
        for (const Channel& c : plot_->channels_) {
            if (!c.TraceVisible || c.PointCount() < 2) continue;
            QPointF prev;
            bool havePrev = false;
            for (int i = 0; i < c.PointCount(); ++i) {
                QPointF cur;
                const bool ok = ToPixel(c.PointAt(i), cur);
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
            auto part = [&](int shift) { return static_cast<int>((k >> shift) & 0xFFFF) - 32768; };
            lines.push_back(QLine(part(48), part(32), part(16), part(0)));
        }
        painter->setAntialiasing(false);
        painter->setPen(QPen(ChannelColour(0), 1));
        painter->drawLines(lines);
    }

    // The markers of the channels with a line (`traced`) or of those without.
    void DrawMarkers(QCPPainter* painter, bool traced) const {
        const auto& channels = plot_->channels_;
        painter->setAntialiasing(true);
        for (int ci = 0; ci < static_cast<int>(channels.size()); ++ci) {
            const Channel& c = channels[static_cast<std::size_t>(ci)];
            if (c.TraceVisible != traced || !(c.MarkersVisible || c.MarkersAllowIndividual))
                continue;
            const QColor colour = plot_->ColourOf(ci);
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
                if (draw && ToPixel(c.PointAt(i), px))
                    DrawMarker(painter, px, style, c.MarkersSize, colour);
            }
        }
    }

    Plot* plot_;
};

// A legend row: the channel's line and marker, then its title.
constexpr int kLegendIcon = 36;
class ChannelLegendItem : public QCPAbstractLegendItem {
  public:
    ChannelLegendItem(QCPLegend* legend, Plot* plot, int channel)
        : QCPAbstractLegendItem(legend), plot_(plot), channel_(channel) {}
    QString Text() const { return plot_->ChannelTitle(channel_); }

  protected:
    void draw(QCPPainter* painter) override {
        const Channel& c = plot_->channel(channel_);
        const QColor colour = plot_->ColourOf(channel_);
        const QRect r = mRect;
        const QRectF icon(r.left(), r.top(), kLegendIcon, r.height());
        painter->setAntialiasing(true);
        if (c.TraceVisible) {
            QPen pen(colour, 1.5);
            pen.setStyle(c.Dash);
            painter->setPen(pen);
            painter->drawLine(QPointF(icon.left(), icon.center().y()),
                              QPointF(icon.right(), icon.center().y()));
        }
        if (c.MarkersVisible)
            DrawMarker(painter, icon.center(), c.MarkersStyle, c.MarkersSize, colour);
        painter->setPen(Qt::black);
        painter->setFont(mFont);
        painter->drawText(
            QRectF(icon.right() + 6, r.top(), r.width() - kLegendIcon - 6, r.height()),
            Qt::AlignLeft | Qt::AlignVCenter, plot_->ChannelTitle(channel_));
    }
    QSize minimumOuterSizeHint() const override {
        const QFontMetrics fm(mFont);
        const QSize text = fm.size(Qt::TextSingleLine, plot_->ChannelTitle(channel_));
        return QSize(kLegendIcon + 6 + text.width(), std::max(text.height(), 14)) +
               QSize(mMargins.left() + mMargins.right(), mMargins.top() + mMargins.bottom());
    }

  private:
    Plot* plot_;
    int channel_;
};

// A legend row of text only: the curves the legend has no room for.
class NoteLegendItem : public QCPAbstractLegendItem {
  public:
    NoteLegendItem(QCPLegend* legend, QString text)
        : QCPAbstractLegendItem(legend), text_(std::move(text)) {}
    QString Text() const { return text_; }

  protected:
    void draw(QCPPainter* painter) override {
        painter->setPen(Qt::black);
        painter->setFont(mFont);
        painter->drawText(QRectF(mRect), Qt::AlignLeft | Qt::AlignVCenter, text_);
    }
    QSize minimumOuterSizeHint() const override {
        const QSize text = QFontMetrics(mFont).size(Qt::TextSingleLine, text_);
        return QSize(text.width(), std::max(text.height(), 14)) +
               QSize(mMargins.left() + mMargins.right(), mMargins.top() + mMargins.bottom());
    }

  private:
    QString text_;
};

namespace {

QString Superscript(int n) {
    static const QString digits = QStringLiteral("⁰¹²³⁴⁵⁶⁷⁸⁹");
    QString out = n < 0 ? QStringLiteral("⁻") : QString();
    for (QChar c : QString::number(std::abs(n))) out += digits[c.digitValue()];
    return out;
}

// The style of one axis's labels: plain or times a common power of ten, and the
// decimals every label is written with.
struct AxisStyle {
    bool plain = true;
    int exponent = 0;
    int decimals = 0;
};

AxisStyle StyleOf(const QVector<double>& ticks) {
    AxisStyle style;
    double top = 0, bottom = std::numeric_limits<double>::infinity();
    for (double v : ticks)
        if (v != 0 && std::isfinite(v)) {
            top = std::max(top, std::fabs(v));
            bottom = std::min(bottom, std::fabs(v));
        }
    style.plain = top == 0 || (bottom >= 1e-3 && top < 1e5);
    if (!style.plain) style.exponent = static_cast<int>(std::floor(std::log10(top) + 1e-12));
    const double scale = std::pow(10.0, style.exponent);
    // The fewest decimals that write every label as it is (to a part in 10⁹).
    for (double v : ticks) {
        const double m = v / scale;
        if (!std::isfinite(m)) continue;
        int d = style.decimals;
        while (d < 12 && std::fabs(std::round(m * std::pow(10.0, d)) / std::pow(10.0, d) - m) >
                             1e-9 * std::max(1.0, std::fabs(m)))
            ++d;
        style.decimals = d;
    }
    return style;
}

QString Styled(double value, const AxisStyle& style, QChar decimalPoint) {
    if (value == 0) return QStringLiteral("0");
    QString text = QString::number(value / std::pow(10.0, style.exponent), 'f', style.decimals);
    text.replace(QLatin1Char('.'), decimalPoint);
    if (style.plain) return text;
    return text + QStringLiteral("·10") + Superscript(style.exponent);
}

} // namespace

QStringList AxisTickTexts(const QVector<double>& ticks, QChar decimalPoint) {
    const AxisStyle style = StyleOf(ticks);
    QStringList texts;
    for (double v : ticks) texts << Styled(v, style, decimalPoint);
    return texts;
}

namespace {

// The size of a legend's rows (the tallest) and columns (the widest item).
QSize LegendCell(const QCPLegend* legend) {
    QSize cell;
    for (int i = 0; i < legend->itemCount(); ++i)
        if (const QCPAbstractLegendItem* item = legend->item(i))
            cell = cell.expandedTo(item->minimumOuterSizeHint());
    return cell;
}

// What a legend takes beyond its cells: its own margins and its distance from the
// plotting area's edges.
QSize LegendFrame(const QCustomPlot* canvas) {
    const QMargins m = canvas->legend->margins();
    const QMargins inset = canvas->axisRect()->insetLayout()->margins();
    return {m.left() + m.right() + inset.left() + inset.right() + 4,
            m.top() + m.bottom() + inset.top() + inset.bottom() + 4};
}

} // namespace

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
                                       int) override {
        QVector<double> values = ticks, shown;
        for (double& tick : values) {
            // A tick that should be 0 may carry the rounding of its computation.
            if (std::fabs(tick) < 1e-9 * std::fabs(tickStep_)) tick = 0;
            const double slack = 1e-9 * std::fabs(tickStep_);
            if (tick >= range_.lower - slack && tick <= range_.upper + slack) shown << tick;
        }
        const AxisStyle style = StyleOf(shown.isEmpty() ? values : shown);
        QVector<QString> labels;
        labels.reserve(values.size());
        for (qsizetype i = 0; i < values.size(); ++i) {
            QString label = Styled(values[i], style, decimalPoint);
            if (callback_ && plot_ && plot_->OnXAxisCustomizeLabel)
                plot_->OnXAxisCustomizeLabel(0, values[i], label);
            labels << label;
        }
        return labels;
    }

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

namespace {

// The room a label takes along its axis, with the gap it keeps from the next.
int LabelRoom(const QCPAxis* axis, const QString& label) {
    const QFontMetrics text(axis->tickLabelFont());
    return axis->orientation() == Qt::Horizontal
               ? text.horizontalAdvance(label) + 2 * text.averageCharWidth()
               : text.height() + text.height() / 2;
}

// An axis whose tick count the canvas chooses: linear, without a fixed step.
bool CountedTicks(const QCPAxis* axis) {
    if (!axis->visible() || axis->scaleType() != QCPAxis::stLinear) return false;
    const auto* label = dynamic_cast<const LabelTicker*>(axis->ticker().data());
    return !label || label->fixedStep <= 0;
}

class SpacedCanvas : public QCustomPlot {
  public:
    SpacedCanvas(QWidget* parent, int most) : QCustomPlot(parent), most_(most) {}
    int most_;

  protected:
    void resizeEvent(QResizeEvent* event) override {
        QCustomPlot::resizeEvent(event);
        SpaceTicks(this);
    }
};

} // namespace

QCustomPlot* NewCanvas(QWidget* parent, int most) {
    return new SpacedCanvas(parent, most);
}

bool TickLabelsApart(const QCPAxis* axis) {
    const QVector<double> ticks = axis->tickVector();
    const QVector<QString> labels = axis->tickVectorLabels();
    std::vector<std::pair<double, double>> spans; // each shown label's start and end (pixels)
    for (qsizetype i = 0; i < ticks.size() && i < labels.size(); ++i) {
        if (!axis->range().contains(ticks[i])) continue;
        const double at = axis->coordToPixel(ticks[i]);
        const double half = LabelRoom(axis, labels[i]) / 2.0;
        spans.emplace_back(at - half, at + half);
    }
    std::sort(spans.begin(), spans.end());
    for (std::size_t i = 1; i < spans.size(); ++i)
        if (spans[i].first < spans[i - 1].second) return false;
    return true;
}

void SpaceTicks(QCustomPlot* canvas) {
    const auto* spaced = dynamic_cast<const SpacedCanvas*>(canvas);
    const int most = spaced ? spaced->most_ : 6;
    const QList<QCPAxis*> axes = canvas->axisRect()->axes();
    // As many as the widest label (of the last drawing) leaves room for...
    for (QCPAxis* axis : axes) {
        if (!CountedTicks(axis)) continue;
        int widest = LabelRoom(axis, QStringLiteral("−0.00·10⁻⁰"));
        if (!axis->tickVectorLabels().isEmpty()) {
            widest = 0;
            for (const QString& label : axis->tickVectorLabels())
                widest = std::max(widest, LabelRoom(axis, label));
        }
        const int length = axis->orientation() == Qt::Horizontal ? axis->axisRect()->width()
                                                                 : axis->axisRect()->height();
        axis->ticker()->setTickStepStrategy(QCPAxisTicker::tssReadability);
        axis->ticker()->setTickCount(std::clamp(length / std::max(1, widest), 2, most));
    }
    canvas->replot();
    // ...then fewer while the labels drawn still touch.
    for (int round = 0; round < 4; ++round) {
        bool fewer = false;
        for (QCPAxis* axis : axes) {
            if (!CountedTicks(axis) || TickLabelsApart(axis) || axis->ticker()->tickCount() <= 2)
                continue;
            axis->ticker()->setTickCount(axis->ticker()->tickCount() - 1);
            fewer = true;
        }
        if (!fewer) break;
        canvas->replot();
    }
}

void PlaceCanvasWithTitle(QWidget* host, QCustomPlot* canvas, int points) {
    auto* layout = new QVBoxLayout(host);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(canvas);
    canvas->plotLayout()->insertRow(0);
    canvas->plotLayout()->addElement(
        0, 0, new QCPTextElement(canvas, QString(), QFont("Arial", points, QFont::Bold)));
}

void UseTickStyle(QCPAxis* axis, QChar decimalPoint, bool logarithmic) {
    axis->setNumberFormat("g");
    if (logarithmic) {
        auto ticker = QSharedPointer<LogTicker>(new LogTicker);
        ticker->decimalPoint = decimalPoint;
        axis->setTicker(ticker);
    } else {
        auto ticker = QSharedPointer<LabelTicker>(new LabelTicker(nullptr, false));
        ticker->decimalPoint = decimalPoint;
        axis->setTicker(ticker);
    }
}

QString TickText(double value, QChar decimalPoint, bool powers) {
    if (value == 0) return QStringLiteral("0");
    const double magnitude = std::fabs(value);
    if (!powers && magnitude >= 1e-3 && magnitude < 1e5) {
        QString plain = QString::number(value, 'g', 6);
        plain.replace(QLatin1Char('.'), decimalPoint);
        return plain;
    }
    const QString e = QString::number(value, 'e', 5); // "-2.50000e-08"
    const int ePos = e.indexOf(QLatin1Char('e'));
    QString mantissa = e.left(ePos);
    if (mantissa.contains(QLatin1Char('.'))) {
        while (mantissa.endsWith(QLatin1Char('0'))) mantissa.chop(1);
        if (mantissa.endsWith(QLatin1Char('.'))) mantissa.chop(1);
    }
    const int exponent = e.mid(ePos + 1).toInt();
    QString power = QStringLiteral("10") + Superscript(exponent);
    if (mantissa == QLatin1String("1")) return power;
    if (mantissa == QLatin1String("-1")) return QLatin1Char('-') + power;
    mantissa.replace(QLatin1Char('.'), decimalPoint);
    return mantissa + QStringLiteral("·") + power;
}

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

Plot::Plot(QWidget* parent) : QWidget(parent), canvas_(NewCanvas(this, 5)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(canvas_);
    canvas_->setAutoAddPlottableToLegend(false);
    canvas_->setNotAntialiasedElements(QCP::aeAll);
    canvas_->plotLayout()->insertRow(0);
    titleElement_ = new QCPTextElement(canvas_, QString(), QFont("Arial", 10, QFont::Bold));
    canvas_->plotLayout()->addElement(0, 0, titleElement_);
    canvas_->xAxis->setTicker(QSharedPointer<LabelTicker>(new LabelTicker(this, true)));
    canvas_->yAxis->setTicker(QSharedPointer<LabelTicker>(new LabelTicker(this, false)));
    // The labels come as they are shown; QCustomPlot's own exponent drawing stays off.
    canvas_->xAxis->setNumberFormat("g");
    canvas_->yAxis->setNumberFormat("g");
    plottable_ = new ChannelsPlottable(this, canvas_->xAxis, canvas_->yAxis);
    canvas_->installEventFilter(this);
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

void Plot::SetLineDensity(const std::vector<double>& x, const std::vector<const double*>& rows,
                          std::size_t lines) {
    auto d = std::make_unique<LineDensity>();
    d->x = x;
    d->logarithmic = logY_;
    d->lines = lines;
    // The range of the values (the positive ones on a log axis).
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (const double* row : rows)
        for (std::size_t k = 0; k < lines; ++k) {
            const double v = row[k];
            if (!std::isfinite(v) || (logY_ && !(v > 0))) continue;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    if (!(lo <= hi) || rows.size() < 2) {
        density_.reset();
        return;
    }
    d->yMin = lo;
    d->yMax = hi;
    d->tMin = logY_ ? std::log10(lo) : lo;
    d->tMax = logY_ ? std::log10(hi) : hi;
    if (!(d->tMax > d->tMin))
        d->tMax = d->tMin + (logY_ ? 0.01 : std::max(1e-300, std::fabs(lo) * 1e-6));
    // Two halves of the lines counted side by side, each into its own histograms.
    const std::size_t V = kDensityBins, stretches = rows.size() - 1;
    std::vector<std::uint32_t> first(stretches * V * V, 0), second(stretches * V * V, 0);
    const std::size_t half = lines / 2;
    std::thread other([&] { CountPairs(rows, half, lines, *d, second); });
    CountPairs(rows, 0, half, *d, first);
    other.join();
    for (std::size_t i = 0; i < first.size(); ++i) first[i] += second[i];
    for (std::size_t s = 0; s < stretches; ++s)
        d->stretches.push_back(StretchImage(first.data() + s * V * V, ChannelColour(0)));
    density_ = std::move(d);
    NoteValue(x.front(), lo);
    NoteValue(x.back(), hi);
}

void Plot::ClearLineDensity() {
    density_.reset();
}

std::size_t Plot::DensityLineCount() const {
    return density_ ? density_->lines : 0;
}

void Plot::Clear() {
    density_.reset();
    channels_.clear();
    channels_.shrink_to_fit();
    titles_.clear();
    pointMarkers_.clear();
    dataXMin_ = dataYMin_ = std::numeric_limits<double>::infinity();
    dataXMax_ = dataYMax_ = -std::numeric_limits<double>::infinity();
}

void Plot::ReserveChannels(std::size_t count) {
    channels_.reserve(count);
}

std::size_t Plot::BytesPerChannel() {
    return sizeof(Channel);
}

std::size_t Plot::BytesToDrawChannel() {
    // Six segment keys and up to six lines while many lines are drawn.
    return 6 * sizeof(std::uint64_t) + 6 * sizeof(QLine);
}

QColor Plot::ColourOf(int index) const {
    const QColor& own = channels_.at(static_cast<std::size_t>(index)).Colour;
    return own.isValid() ? own : ChannelColour(index);
}

QSize Plot::minimumSizeHint() const {
    const QFontMetrics label(canvas_->xAxis->labelFont());
    const QFontMetrics ticks(canvas_->xAxis->tickLabelFont());
    const QFontMetrics title(titleElement_->font());
    const int xTitle = xAxes_.empty() ? 0 : label.horizontalAdvance(xAxes_.front().Title);
    const int yTitle = yAxes_.empty() ? 0 : label.horizontalAdvance(yAxes_.front().Title);
    // The y title runs along the axis and the x title under it: the plotting area
    // is at least as long as each, beside the tick labels and the margins.
    const int tickWidth = ticks.horizontalAdvance(QStringLiteral("-8.88·10⁻⁸⁸"));
    int areaWidth = std::max(xTitle + 24, 160), areaHeight = std::max(yTitle + 24, 120);
    int besideWidth = 0;
    if (legendEntries_ > 0) { // kLegendRowsShown rows: in one column, or in columns beside
        const QCPLegend* legend = canvas_->legend;
        const QSize cell = LegendCell(legend), frame = LegendFrame(canvas_);
        const int rows = std::min(legendEntries_, kLegendRowsShown);
        areaHeight =
            std::max(areaHeight, rows * (cell.height() + legend->rowSpacing()) + frame.height());
        if (legendEntries_ <= kLegendRowsShown) {
            areaWidth = std::max(areaWidth, cell.width() + frame.width());
        } else {
            const int columns = std::min(
                kLegendColumnsBeside, (legendEntries_ + kLegendRowsShown - 1) / kLegendRowsShown);
            besideWidth = columns * (cell.width() + legend->columnSpacing()) + frame.width();
        }
    }
    const int width = label.height() + tickWidth + areaWidth + besideWidth + 40;
    const int height = title.height() + areaHeight + 2 * ticks.height() + label.height() + 40;
    return QSize(width, height).expandedTo(minimumPlotSize_);
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

namespace {

// Widens [lo, hi] by `margin` of its span on each side (in log10 on a log axis).
void Widen(double& lo, double& hi, double margin, bool logarithmic) {
    if (!(margin > 0)) return;
    if (logarithmic && lo > 0 && hi > 0) {
        const double pad = margin * (std::log10(hi) - std::log10(lo));
        lo /= std::pow(10.0, pad);
        hi *= std::pow(10.0, pad);
        return;
    }
    const double pad = margin * (hi - lo);
    lo -= pad;
    hi += pad;
}

} // namespace

void Plot::ApplyXAxis() {
    QCPAxis* x = canvas_->xAxis;
    x->setVisible(!xAxes_.empty());
    if (xAxes_.empty()) return;
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
    if (xTickStep_ > 0) hi += 0.03 * (hi - lo);
    Widen(lo, hi, a.Margin, false);
    x->setRange(lo, hi);
    auto ticker = qSharedPointerCast<LabelTicker>(x->ticker());
    ticker->fixedStep = xTickStep_;
    ticker->decimalPoint = decimalPoint_;
}

void Plot::ApplyYAxis() {
    QCPAxis* y = canvas_->yAxis;
    y->setVisible(!yAxes_.empty());
    if (yAxes_.empty()) return;
    const Axis& a = yAxes_.front();
    y->setLabel(a.Title);
    y->setScaleType(logY_ ? QCPAxis::stLogarithmic : QCPAxis::stLinear);
    if (logY_) {
        auto ticker = qSharedPointerDynamicCast<LogTicker>(y->ticker());
        if (!ticker) {
            ticker = QSharedPointer<LogTicker>(new LogTicker);
            y->setTicker(ticker);
        }
        ticker->decimalPoint = decimalPoint_;
        ticker->setTickCount(kLogDecadesLabelled); // every decade its label
    } else {
        auto ticker = qSharedPointerDynamicCast<LabelTicker>(y->ticker());
        if (!ticker) {
            ticker = QSharedPointer<LabelTicker>(new LabelTicker(this, false));
            y->setTicker(ticker);
        }
        ticker->decimalPoint = decimalPoint_;
    }
    double lo = a.Min, hi = a.Min + a.Span;
    double dx0, dx1, dy0, dy1;
    if (a.TrackScaleMinMax && DataRange(dx0, dx1, dy0, dy1)) {
        lo = dy0;
        hi = dy1;
        if (logY_) { // whole decades, with room for the markers on the outermost values
            lo = std::pow(10.0, std::floor(std::log10(lo / 1.02)));
            hi = std::pow(10.0, std::ceil(std::log10(hi * 1.02)));
        }
    }
    if (logY_ && !(lo > 0)) lo = hi > 0 ? hi / 100 : 1;
    if (!(hi > lo)) hi = lo * (logY_ ? 10 : 1) + (logY_ ? 0 : 1);
    Widen(lo, hi, a.Margin, logY_);
    y->setRange(lo, hi);
}

void DistinguishCurves(Plot& plot, int count) {
    static const int markers[] = {kMarkerDisc, kMarkerTriangle, kMarkerDiamond, kMarkerTriangleDown,
                                  kMarkerCross};
    const int colours = static_cast<int>(sizeof kPalette / sizeof kPalette[0]);
    for (int c = 0; c < count && c < plot.ChannelCount(); ++c) {
        const int round = c / colours;
        plot.channel(c).MarkersStyle = markers[round % 5];
        plot.channel(c).Dash = (round / 5) % 2 == 0 ? Qt::SolidLine : Qt::DashLine;
    }
}

// One row per titled channel, in channel order, arranged for the canvas as it is.
void Plot::ApplyLegend() {
    canvas_->legend->setVisible(legendVisible_);
    // Top left: the curves of a gas-pair graph rise to the right.
    canvas_->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);
    ArrangeLegend(canvas_->height());
}

void Plot::ArrangeLegend(int height) {
    QCPLegend* legend = canvas_->legend;
    legend->clearItems();
    std::vector<int> curves, points; // channels with a line, and the others (measured)
    for (int i = 0; i < ChannelCount(); ++i)
        if (!ChannelTitle(i).isEmpty()) (channel(i).TraceVisible ? curves : points).push_back(i);
    legendEntries_ = legendVisible_ ? static_cast<int>(curves.size() + points.size()) : 0;
    for (int i : curves) legend->addItem(new ChannelLegendItem(legend, this, i));
    for (int i : points) legend->addItem(new ChannelLegendItem(legend, this, i));
    // Rows down the plotting area's height; in one column inside the area where
    // they fit, otherwise in up to kLegendColumnsBeside columns beside it.
    const QSize cell = LegendCell(legend), frame = LegendFrame(canvas_);
    const int areaHeight = height - (aroundArea_ > 0 ? aroundArea_ : 90);
    const int rows = std::max(1, (areaHeight - frame.height() + legend->rowSpacing()) /
                                     (cell.height() + legend->rowSpacing()));
    const bool beside = legendEntries_ > rows || LegendWouldCoverData(cell, frame);
    PlaceLegend(beside);
    const int columns = beside ? kLegendColumnsBeside : 1;
    if (legendEntries_ > rows * columns) {
        // No room for all: the first curves, a row that counts the rest, the points.
        const int room = std::max(1, rows * columns - 1 - static_cast<int>(points.size()));
        const int shown = std::min(room, static_cast<int>(curves.size()));
        legend->clearItems();
        for (int k = 0; k < shown; ++k)
            legend->addItem(
                new ChannelLegendItem(legend, this, curves[static_cast<std::size_t>(k)]));
        const int rest = static_cast<int>(curves.size()) - shown;
        legend->addItem(new NoteLegendItem(
            legend, QString(rest == 1 ? "… and 1 more curve" : "… and %1 more curves").arg(rest)));
        for (int i : points) legend->addItem(new ChannelLegendItem(legend, this, i));
    }
    legend->setFillOrder(QCPLayoutGrid::foRowsFirst, false);
    legend->setWrap(rows);
    legend->setFillOrder(QCPLayoutGrid::foRowsFirst, true);
}

bool Plot::LegendWouldCoverData(QSize cell, QSize frame) const {
    // The legend inside the plotting area, at its top left, as high as its rows.
    const QCPLegend* legend = canvas_->legend;
    const QRect area = canvas_->axisRect()->rect();
    const int height = legendEntries_ * (cell.height() + legend->rowSpacing()) + frame.height();
    const QMargins inset = canvas_->axisRect()->insetLayout()->margins();
    const QRectF room(area.left() + inset.left(), area.top() + inset.top(),
                      cell.width() + frame.width(), height);
    const QCPAxis *x = canvas_->xAxis, *y = canvas_->yAxis;
    // With the legend beside, the area inside would be wider by its column.
    const double wide =
        besideLegend_ ? area.width() + besideLegend_->outerRect().width() : area.width();
    const double stretch = area.width() > 0 ? wide / area.width() : 1;
    for (int c = 0; c < ChannelCount(); ++c) {
        const Channel& ch = channels_[static_cast<std::size_t>(c)];
        const double marker = ch.MarkersVisible ? ch.MarkersSize + 2 : 2;
        const QRectF near = room.adjusted(-marker, -marker, marker, marker);
        for (int i = 0; i < ch.PointCount(); ++i) {
            const Point p = ch.PointAt(i);
            const double px = area.left() + (x->coordToPixel(p.x) - area.left()) * stretch;
            if (near.contains(px, y->coordToPixel(p.y))) return true;
        }
    }
    return false;
}

bool Plot::LegendHidesData() const {
    const QCPLegend* legend = canvas_->legend;
    if (!legend->visible() || legendEntries_ == 0) return false;
    const QRectF room = legend->outerRect();
    for (const Channel& ch : channels_)
        for (int i = 0; i < ch.PointCount(); ++i) {
            const Point p = ch.PointAt(i);
            if (room.contains(canvas_->xAxis->coordToPixel(p.x), canvas_->yAxis->coordToPixel(p.y)))
                return true;
        }
    return false;
}

void Plot::PlaceLegend(bool beside) {
    QCPLegend* legend = canvas_->legend;
    QCPLayoutInset* inset = canvas_->axisRect()->insetLayout();
    QCPLayoutGrid* layout = canvas_->plotLayout();
    if (beside == (besideLegend_ != nullptr)) return;
    if (beside) {
        // A column right of the plotting area: the legend at its top, as high as its
        // rows, aligned with the area's top edge.
        inset->take(legend);
        inset->simplify();
        besideLegend_ = new QCPLayoutGrid;
        layout->addElement(1, 1, besideLegend_);
        besideLegend_->setAutoMargins(QCP::msTop | QCP::msBottom);
        besideLegend_->setMargins(QMargins(6, 0, 8, 0));
        besideLegend_->addElement(0, 0, legend);
        besideLegend_->addElement(1, 0, new QCPLayoutElement(canvas_));
        besideLegend_->setRowStretchFactor(0, 0.001);
        besideLegend_->setRowStretchFactor(1, 1);
        layout->setColumnStretchFactor(1, 0.001);
        auto* edges = new QCPMarginGroup(canvas_);
        canvas_->axisRect()->setMarginGroup(QCP::msTop | QCP::msBottom, edges);
        besideLegend_->setMarginGroup(QCP::msTop | QCP::msBottom, edges);
    } else {
        canvas_->axisRect()->setMarginGroup(QCP::msTop | QCP::msBottom, nullptr);
        besideLegend_->take(legend);
        layout->remove(besideLegend_);
        besideLegend_ = nullptr;
        layout->simplify();
        inset->addElement(legend, Qt::AlignTop | Qt::AlignLeft);
    }
}

bool Plot::eventFilter(QObject* watched, QEvent* event) {
    // The ticks and the legend are fitted to the canvas's new size before it is drawn.
    if (watched == canvas_ && event->type() == QEvent::Resize) {
        const QSize size = static_cast<QResizeEvent*>(event)->size();
        if (legendVisible_) ArrangeLegend(size.height());
    }
    return QWidget::eventFilter(watched, event);
}

void Plot::Replot() {
    ApplyXAxis();
    ApplyYAxis();
    ApplyLegend();
    updateGeometry(); // the titles and the legend decide the smallest size
    canvas_->replot();
    // The legend's rows follow from the plotting area's size, known only now.
    const int around = canvas_->height() - canvas_->axisRect()->rect().height();
    const int aroundWidth = canvas_->width() - canvas_->axisRect()->rect().width();
    if (around != aroundArea_ || aroundWidth != aroundWidth_) {
        aroundArea_ = around;
        aroundWidth_ = aroundWidth;
        if (legendVisible_) ArrangeLegend(canvas_->height());
    }
    SpaceTicks(canvas_);
}

namespace {
std::vector<std::pair<double, QString>> TickLabelsOf(const QCPAxis* axis) {
    std::vector<std::pair<double, QString>> out;
    const QVector<double> ticks = axis->tickVector();
    const QVector<QString> labels = axis->tickVectorLabels();
    for (qsizetype i = 0; i < ticks.size() && i < labels.size(); ++i)
        out.emplace_back(ticks[i], labels[i]);
    return out;
}
} // namespace

QStringList Plot::LegendTexts() const {
    QStringList texts;
    const QCPLegend* legend = canvas_->legend;
    if (!legend->visible()) return texts;
    for (int i = 0; i < legend->itemCount(); ++i) { // in order of filling: down, then across
        if (const auto* c = dynamic_cast<const ChannelLegendItem*>(legend->item(i)))
            texts << c->Text();
        if (const auto* n = dynamic_cast<const NoteLegendItem*>(legend->item(i)))
            texts << n->Text();
    }
    return texts;
}

std::vector<std::pair<double, QString>> Plot::XTickLabels() const {
    return TickLabelsOf(canvas_->xAxis);
}

std::vector<std::pair<double, QString>> Plot::YTickLabels() const {
    return TickLabelsOf(canvas_->yAxis);
}

} // namespace temra::plot
