#include "ui/widgets.h"

#include <QLayout>
#include <QPainter>
#include <QRegularExpression>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace temra::ui {

QFont Font(const char* family, double points, bool bold, bool italic) {
    QFont f(QString::fromLatin1(family));
    f.setPointSizeF(points);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    return l;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, const std::string& text, int widthTwips) {
    auto* e = new QLineEdit(QString::fromStdString(text), parent);
    e->setObjectName(QString::fromLatin1(name));
    if (widthTwips > 0) e->setMinimumWidth(Twips(widthTwips));
    return e;
}

namespace {
QString Utf8(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}
} // namespace

QLineEdit* MakeEdit(QWidget* parent, FieldId field, int widthTwips) {
    const Field& f = FieldOf(field);
    auto* e = new QLineEdit(Utf8(f.defaultText), parent);
    e->setObjectName(Utf8(f.control));
    if (widthTwips > 0) e->setMinimumWidth(Twips(widthTwips));
    return e;
}

QString FieldLabel(FieldId field) {
    return Utf8(FieldOf(field).label);
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, const QString& caption) {
    auto* c = new QCheckBox(caption, parent);
    c->setObjectName(QString::fromLatin1(name));
    return c;
}

QStringList CaptionLines(const QString& caption) {
    QStringList lines = caption.split(QRegularExpression("\\s{5,}"));
    for (QString& line : lines) line = line.trimmed();
    return lines;
}

namespace {
QSize LinesSize(const QFontMetrics& fm, const QStringList& lines) {
    int widest = 0;
    for (const QString& line : lines) widest = std::max(widest, fm.horizontalAdvance(line));
    return {widest, static_cast<int>(lines.size()) * fm.lineSpacing()};
}
} // namespace

QSize WrappingButton::sizeHint() const {
    const QSize lines = LinesSize(QFontMetrics(font()), CaptionLines(text()));
    return {lines.width() + 24, lines.height() + 12};
}

void WrappingButton::paintEvent(QPaintEvent*) {
    QStylePainter p(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    p.drawControl(QStyle::CE_PushButton, option);
    p.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    p.drawText(rect().adjusted(6, 2, -6, -2), Qt::AlignCenter, CaptionLines(text()).join('\n'));
}

QSize WrappingLabel::sizeHint() const {
    const QSize lines = LinesSize(QFontMetrics(font()), CaptionLines(text()));
    const int m = 2 * margin() + 2;
    return {lines.width() + m, lines.height() + m};
}

void WrappingLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(palette().color(foregroundRole()));
    p.setFont(font());
    p.drawText(contentsRect().adjusted(margin(), margin(), -margin(), -margin()),
               static_cast<int>(alignment()), CaptionLines(text()).join('\n'));
}

void WrapWithin(QLabel* label, int width) {
    label->setWordWrap(true);
    label->setMinimumWidth(width);
    label->setMinimumHeight(label->heightForWidth(width));
}

void RetainPlaceWhenHidden(QWidget* control) {
    QSizePolicy policy = control->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    control->setSizePolicy(policy);
}

void FitFirstSize(QWidget& window, int width, int height) {
    if (QLayout* layout = window.layout()) {
        layout->setSizeConstraint(QLayout::SetMinimumSize);
        layout->activate();
    }
    window.resize(
        QSize(width, height).expandedTo(window.minimumSizeHint()).expandedTo(window.minimumSize()));
}

void KeepPlace(QWidget& window) {
    // Placing it where it is marks the place as chosen, so it is kept on the next show.
    if (window.isWindow() && !window.isMinimized()) window.move(window.pos());
}

std::string Text(const QLineEdit* edit) {
    return edit->text().toStdString();
}

} // namespace temra::ui
