// Small helpers shared by the windows: named controls, sizes in twips, fonts,
// and the busy cursor.
#pragma once

#include <QCheckBox>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QWidget>

namespace temra::ui {

// 15 twips are one pixel at 96 dpi; Qt scales logical pixels on HiDPI screens.
constexpr int Twips(int twips) {
    return (twips + 7) / 15;
}

// The named family where it is installed; otherwise Qt's closest match (the
// system font) at the given size and weight.
QFont Font(const char* family, double points, bool bold = false, bool italic = false);

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text);
QLineEdit* MakeEdit(QWidget* parent, const char* name, const std::string& text, int widthTwips);
QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption);
QCheckBox* MakeCheck(QWidget* parent, const char* name, const QString& caption);

// A push button whose caption (kept exactly as given) is drawn wrapped at its
// blanks, like "Find best fitted cases for selected gases           (with excess
// air)", which shows the parenthesis on a second line.
class WrappingButton : public QPushButton {
  public:
    WrappingButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {}
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// The wait cursor while a computation runs.
class BusyCursor {
  public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

std::string Text(const QLineEdit* edit);

} // namespace temra::ui
