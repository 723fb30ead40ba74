// The drawing of a plot's channels (lines, then markers) and the density of many
// lines (Plot::SetLineDensity).
#include "plot/plot_parts.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

namespace temra::plot {

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

ChannelsPlottable* NewChannelsPlottable(Plot* plot, QCPAxis* key, QCPAxis* value) {
    return new ChannelsPlottable(plot, key, value);
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

} // namespace temra::plot
