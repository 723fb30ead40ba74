// A plot's axes: the tick labels' style (powers of ten as superscripts), the
// tickers, the tick counts fitted to the axes' lengths, and the plot's ranges.
#include "plot/plot_parts.h"

#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace temra::plot {

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

QVector<QString> LabelTicker::createLabelVector(const QVector<double>& ticks, const QLocale&, QChar,
                                                int) {
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
