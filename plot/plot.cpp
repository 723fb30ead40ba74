#include "plot/plot.h"

#include "plot/plot_parts.h"

#include <qcustomplot.h>

#include <QVBoxLayout>

#include <thread>

#include <algorithm>
#include <cmath>
#include <limits>

namespace temra::plot {

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
    plottable_ = NewChannelsPlottable(this, canvas_->xAxis, canvas_->yAxis);
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

} // namespace temra::plot
