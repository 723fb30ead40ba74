#include "ui/widgets.h"

#include "core/numtext.h"

#include <QApplication>
#include <QLayout>
#include <QPainter>
#include <QRegularExpression>
#include <QScreen>
#include <QStyleOptionButton>
#include <QStylePainter>

#include <algorithm>
#include <cmath>
#include <limits>

namespace temra::ui {

QString Counted(std::size_t n, const char* noun) {
    return QString("%1 %2%3").arg(n).arg(noun).arg(n == 1 ? "" : "s");
}

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

namespace {

// The window the user left last (its frame), and the margins of a window's frame
// as the window manager draws them; both the same for every window of the program.
QRect gLastLeft;
QMargins gFrame;

// The room on the screen that holds `at` (the primary screen when none does).
QRect RoomAt(const QPoint& at) {
    QScreen* screen = QGuiApplication::screenAt(at);
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

// The top left corner that puts `frame` wholly within `room` (its top left corner
// when it is larger).
QPoint Within(const QRect& frame, const QRect& room) {
    const int x =
        std::clamp(frame.x(), room.left(), std::max(room.left(), room.right() + 1 - frame.width()));
    const int y =
        std::clamp(frame.y(), room.top(), std::max(room.top(), room.bottom() + 1 - frame.height()));
    return {x, y};
}

// Sizes and places one window (see FitFirstSize). Its place is taken while it is
// shown (the window manager may move a window as it hides it), and given back
// before it is shown again.
class Placement : public QObject {
  public:
    Placement(QWidget& window, QSize first) : QObject(&window), window_(window), first_(first) {
        window.installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != &window_) return false;
        switch (event->type()) {
        case QEvent::Show:
            if (!event->spontaneous()) Place();
            break;
        case QEvent::Move:
        case QEvent::Resize:
            Remember();
            break;
        case QEvent::Hide:
            if (!event->spontaneous() && known_) gLastLeft = inner_.marginsAdded(gFrame);
            break;
        default:
            break;
        }
        return false;
    }

  private:
    void Remember() {
        if (!window_.isVisible() || window_.isMinimized() || window_.isMaximized() ||
            window_.isFullScreen())
            return;
        const QRect frame = window_.frameGeometry(), inner = window_.geometry();
        const QMargins margins(inner.left() - frame.left(), inner.top() - frame.top(),
                               frame.right() - inner.right(), frame.bottom() - inner.bottom());
        if (!margins.isNull()) gFrame = margins;
        inner_ = inner;
        known_ = true;
    }

    // Moves the window so that its inside lands at `inside` (a window's move places
    // its frame, as far as the frame is known yet).
    void MoveInsideTo(const QPoint& inside) {
        window_.move(inside - (window_.geometry().topLeft() - window_.frameGeometry().topLeft()));
    }

    void Place() {
        if (known_) { // where it was, unless the middle of its title bar is on no screen now
            const QRect frame = inner_.marginsAdded(gFrame);
            window_.resize(inner_.size());
            if (QGuiApplication::screenAt(QPoint(frame.center().x(), frame.top() + 2))) {
                MoveInsideTo(inner_.topLeft());
            } else {
                const QRect room = RoomAt(frame.center());
                MoveInsideTo(Within(frame, room) + QPoint(gFrame.left(), gFrame.top()));
            }
            return;
        }
        // The first time: over the window the user came from, wholly on its screen.
        const QWidget* active = QApplication::activeWindow();
        const QRect opener = active && active != &window_ && active->isVisible()
                                 ? active->frameGeometry()
                                 : gLastLeft;
        const QRect room = RoomAt(opener.isValid() ? opener.center() : QPoint());
        const QSize size = first_.expandedTo(window_.minimumSizeHint())
                               .boundedTo(room.size().shrunkBy(gFrame))
                               .expandedTo(window_.minimumSize());
        window_.resize(size);
        QRect frame(QPoint(), size.grownBy(gFrame));
        frame.moveCenter(opener.isValid() ? opener.center() : room.center());
        MoveInsideTo(Within(frame, room) + QPoint(gFrame.left(), gFrame.top()));
    }

    QWidget& window_;
    QSize first_;
    bool known_ = false;
    QRect inner_; // the window's inside, where it was last shown
};

} // namespace

void FitFirstSize(QWidget& window, int width, int height) {
    if (QLayout* layout = window.layout()) layout->setSizeConstraint(QLayout::SetMinimumSize);
    new Placement(window, QSize(width, height));
}

std::string Text(const QLineEdit* edit) {
    return edit->text().toStdString();
}

namespace {

// A number written by Qt (always with '.') with the user's decimal separator;
// a value that rounds to zero is written without a sign.
QString WithSeparator(QString text, char separator) {
    if (text.startsWith('-') && !text.contains(QRegularExpression("[1-9]"))) text.remove(0, 1);
    if (separator != '.') text.replace('.', QChar(separator));
    return text;
}

} // namespace

QString TemperatureText(double celsius, char separator) {
    return WithSeparator(QString::number(celsius, 'f', 2), separator);
}

QString ElevationText(double metres, char separator) {
    return WithSeparator(QString::number(metres, 'f', 0), separator);
}

QString GlanceText(double value, char separator) {
    return WithSeparator(QString::number(value, 'g', 4), separator);
}

QString RangeText(double value, double lo, double hi, char separator,
                  QString (*text)(double, char)) {
    return QString("%1 (%2 to %3)")
        .arg(text(value, separator), text(lo, separator), text(hi, separator));
}

QString FullText(double value, char separator) {
    // 64 units in the last place: far more than a grid's steps add up to, far
    // less than the 13th digit a decimal of 12 digits leaves free.
    const double near = 64 * std::numeric_limits<double>::epsilon() * std::fabs(value);
    for (int digits = 1; digits <= 12 && std::isfinite(value); ++digits) {
        const double decimal = QString::number(value, 'g', digits).toDouble();
        if (std::fabs(decimal - value) <= near) {
            value = decimal;
            break;
        }
    }
    return Q(FormatGeneral(value, separator));
}

} // namespace temra::ui
