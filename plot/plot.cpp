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

// The lines [from, to) counted into one histogram of (bin at x[i], bin at x[i+1])
// per stretch.
void CountPairs(const std::vector<const double*>& rows, std::size_t from, std::size_t to,
                const LineDensity& d, std::vector<std::uint32_t>& histograms) {
    const std::size_t n = rows.size(), V = kDensityBins;
    const double scale = V / (d.tMax - d.tMin);
    std::vector<std::uint16_t> bins(n * kDensityChunk);
    for (std::size_t begin = from; begin < to; begin += kDensityChunk) {
        const std::size_t count = std::min(kDensityChunk, to - begin);
        for (std::size_t i = 0; i < n; ++i) {
            const double* row = rows[i] + begin;
            std::uint16_t* out = bins.data() + i * kDensityChunk;
            for (std::size_t k = 0; k < count; ++k) {
                const double v = row[k];
                const double t = d.logarithmic ? (v > 0 ? std::log10(v) : NAN) : v;
                const double b = (t - d.tMin) * scale;
                out[k] = b >= 0 && b < V + 1
                             ? static_cast<std::uint16_t>(std::min<double>(b, V - 1))
                             : kNoBin;
            }
        }
        for (std::size_t s = 0; s + 1 < n; ++s) {
            const std::uint16_t* a = bins.data() + s * kDensityChunk;
            const std::uint16_t* b = bins.data() + (s + 1) * kDensityChunk;
            std::uint32_t* h = histograms.data() + s * V * V;
            for (std::size_t k = 0; k < count; ++k)
                if (a[k] != kNoBin && b[k] != kNoBin) ++h[a[k] * V + b[k]];
        }
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
            painter->setPen(QPen(plot_->ColourOf(ci), 1.5));
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
class ChannelLegendItem : public QCPAbstractLegendItem {
  public:
    ChannelLegendItem(QCPLegend* legend, Plot* plot, int channel)
        : QCPAbstractLegendItem(legend), plot_(plot), channel_(channel) {}

  protected:
    void draw(QCPPainter* painter) override {
        const Channel& c = plot_->channel(channel_);
        const QColor colour = plot_->ColourOf(channel_);
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
    QString getTickLabel(double tick, const QLocale&, QChar, int) override {
        // A tick that should be 0 may carry the rounding of its computation.
        if (std::fabs(tick) < 1e-9 * std::fabs(tickStep_)) tick = 0;
        QString label = TickText(tick, decimalPoint);
        if (callback_ && plot_ && plot_->OnXAxisCustomizeLabel)
            plot_->OnXAxisCustomizeLabel(0, tick, label);
        return label;
    }
    QVector<double> createTickVector(double tickStep, const QCPRange& range) override {
        tickStep_ = tickStep;
        return QCPAxisTicker::createTickVector(tickStep, range);
    }

  private:
    Plot* plot_;
    bool callback_;
    double tickStep_ = 0;
};

class LogTicker : public QCPAxisTickerLog {
  public:
    QChar decimalPoint = QLatin1Char('.');

  protected:
    QString getTickLabel(double tick, const QLocale&, QChar, int) override {
        return TickText(tick, decimalPoint, true);
    }
};

namespace {
QString Superscript(int n) {
    static const QString digits = QStringLiteral("⁰¹²³⁴⁵⁶⁷⁸⁹");
    QString out = n < 0 ? QStringLiteral("⁻") : QString();
    for (QChar c : QString::number(std::abs(n))) out += digits[c.digitValue()];
    return out;
}
} // namespace

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

Plot::Plot(QWidget* parent) : QWidget(parent), canvas_(new QCustomPlot(this)) {
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
    const int width = label.height() + tickWidth + std::max(xTitle + 24, 160) + 40;
    const int height =
        title.height() + std::max(yTitle + 24, 120) + 2 * ticks.height() + label.height() + 40;
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
        if (logY_) {
            lo /= 1.25;
            hi *= 1.25;
        }
    }
    if (logY_ && !(lo > 0)) lo = hi > 0 ? hi / 100 : 1;
    if (!(hi > lo)) hi = lo * (logY_ ? 10 : 1) + (logY_ ? 0 : 1);
    Widen(lo, hi, a.Margin, logY_);
    y->setRange(lo, hi);
}

// One row per titled channel, in channel order.
void Plot::ApplyLegend() {
    QCPLegend* legend = canvas_->legend;
    legend->clearItems();
    legend->setVisible(legendVisible_);
    // Top left: the curves of a gas-pair graph rise to the right.
    canvas_->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);
    if (legendVisible_)
        for (int i = 0; i < ChannelCount(); ++i)
            if (!ChannelTitle(i).isEmpty()) legend->addItem(new ChannelLegendItem(legend, this, i));
}

void Plot::Replot() {
    ApplyXAxis();
    ApplyYAxis();
    ApplyLegend();
    updateGeometry(); // the titles decide the smallest size
    canvas_->replot();
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

std::vector<std::pair<double, QString>> Plot::XTickLabels() const {
    return TickLabelsOf(canvas_->xAxis);
}

std::vector<std::pair<double, QString>> Plot::YTickLabels() const {
    return TickLabelsOf(canvas_->yAxis);
}

} // namespace temra::plot
