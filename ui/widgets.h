// Small helpers shared by the windows: named controls, sizes in twips, fonts,
// the busy cursor, and the texts of results.
#pragma once

#include "core/fields.h"

#include <QCheckBox>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include <string_view>

namespace temra::ui {

// "1 sample", "2 samples": a count with its noun (an English plural in -s).
QString Counted(std::size_t n, const char* noun);

// A text of the core (UTF-8) as Qt's.
inline QString Q(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}

// 15 twips are one pixel at 96 dpi; Qt scales logical pixels on HiDPI screens.
constexpr int Twips(int twips) {
    return (twips + 7) / 15;
}

// The named family where it is installed; otherwise Qt's closest match (the
// system font) at the given size and weight.
QFont Font(const char* family, double points, bool bold = false, bool italic = false);

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text);
QLineEdit* MakeEdit(QWidget* parent, const char* name, const std::string& text, int widthTwips);
// A text box of the table of input fields: named as its control, holding its
// stored default.
QLineEdit* MakeEdit(QWidget* parent, FieldId field, int widthTwips);
// What the table of input fields says beside a box.
QString FieldLabel(FieldId field);
QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption);
QCheckBox* MakeCheck(QWidget* parent, const char* name, const QString& caption);

// A caption drawn on several lines where it holds a run of five or more blanks,
// as "Find best fitted cases for selected gases           (with excess air)"
// shows the parenthesis on a second line; the caption itself stays as given.
QStringList CaptionLines(const QString& caption);

class WrappingButton : public QPushButton {
  public:
    WrappingButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {}
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
};

class WrappingLabel : public QLabel {
  public:
    WrappingLabel(const QString& caption, QWidget* parent) : QLabel(caption, parent) {}
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// A label that wraps its words within at least `width` pixels and is never given
// less height than its lines then need (a window's smallest size keeps it whole).
void WrapWithin(QLabel* label, int width);

// A control that keeps its place in the layout while hidden, so that nothing
// around it moves.
void RetainPlaceWhenHidden(QWidget* control);

// A window's size and place. Its first size is the given one, or larger where its
// texts need more, but never more than the screen it opens on offers (where its
// layout needs more, what stretches, the plot, gives up height first); the window
// cannot be made smaller than its controls need. The first time it is shown it
// opens centred over the window the user came from (the active one, else the one
// hidden last), wholly on that screen; afterwards it comes back exactly where it
// was last and as large, moved onto the screen if the screen has changed.
void FitFirstSize(QWidget& window, int width, int height);

// The wait cursor while a computation runs.
class BusyCursor {
  public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

std::string Text(const QLineEdit* edit);

// Results as the windows show them, with the decimal separator `separator`; the
// CSV and the workbooks keep every digit. A temperature to 0.01 °C ("8.56"), an
// elevation to 1 m ("1300"), anything else to four significant digits ("0.00488",
// "1.234e-05").
QString TemperatureText(double celsius, char separator);
QString ElevationText(double metres, char separator);
QString GlanceText(double value, char separator);
// A value in full, as the program writes numbers (15 significant digits), for a
// tooltip or a grid's bounds and steps. A value within a few units in its last
// place of a decimal of at most 12 digits is that decimal: the sums of a grid's
// steps (5.649999999999988 for 5.65) are shown as the grid means them.
QString FullText(double value, char separator);
// A value with its range, each shown by `text`: "8.02 (7.50 to 8.61)".
QString RangeText(double value, double lo, double hi, char separator,
                  QString (*text)(double, char));

} // namespace temra::ui
