// A plot's legend: its rows, and where it goes (inside the plotting area, or
// beside it when it would not fit there or would hide a curve's points).
#include "plot/plot_parts.h"

#include <algorithm>

namespace temra::plot {

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
    // With the legend beside, the area inside would be wider by its column.
    const double wide =
        besideLegend_ ? area.width() + besideLegend_->outerRect().width() : area.width();
    return PointIn(room, area.left(), area.width() > 0 ? wide / area.width() : 1, true);
}

bool Plot::LegendHidesData() const {
    const QCPLegend* legend = canvas_->legend;
    if (!legend->visible() || legendEntries_ == 0) return false;
    return PointIn(legend->outerRect(), 0, 1, false);
}

bool Plot::PointIn(const QRectF& room, double left, double stretch, bool markers) const {
    for (const Channel& ch : channels_) {
        const double pad = !markers ? 0 : ch.MarkersVisible ? ch.MarkersSize + 2 : 2;
        const QRectF near = room.adjusted(-pad, -pad, pad, pad);
        for (int i = 0; i < ch.PointCount(); ++i) {
            const Point p = ch.PointAt(i);
            const double px = left + (canvas_->xAxis->coordToPixel(p.x) - left) * stretch;
            if (near.contains(px, canvas_->yAxis->coordToPixel(p.y))) return true;
        }
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

} // namespace temra::plot
