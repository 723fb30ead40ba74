#include "widgets.h"

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

QSize WrappingButton::sizeHint() const {
    const QFontMetrics fm(font());
    int widest = 0;
    for (const QString& part : text().split(QRegularExpression("\\s{2,}")))
        widest = std::max(widest, fm.horizontalAdvance(part.trimmed()));
    return {widest + 24, 2 * fm.lineSpacing() + 12};
}

void WrappingButton::paintEvent(QPaintEvent*) {
    QStylePainter p(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    p.drawControl(QStyle::CE_PushButton, option);
    QString shown = text();
    shown.replace(QRegularExpression("\\s{2,}"), "\n");
    p.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    p.drawText(rect().adjusted(6, 2, -6, -2), Qt::AlignCenter | Qt::TextWordWrap, shown);
}

std::string Text(const QLineEdit* edit) {
    return edit->text().toStdString();
}

} // namespace temra::ui
