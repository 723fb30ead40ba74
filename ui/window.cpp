#include "window.h"

#include "form1.h"
#include "temra_app.h"

#include <QApplication>
#include <QCloseEvent>

namespace temra::ui {

void TemraWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    hide();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->isWindow() && dynamic_cast<TemraWindow*>(w)) return;
    if (!app_.form1().isVisible()) app_.form1().show();
}

} // namespace temra::ui
