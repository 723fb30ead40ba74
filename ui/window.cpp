#include "ui/window.h"

#include "ui/temra_app.h"
#include "ui/widgets.h"

#include <QApplication>
#include <QCloseEvent>

namespace temra::ui {

void TemraWindow::closeEvent(QCloseEvent* event) {
    if (app_.Ending()) {
        event->accept();
        return;
    }
    event->ignore();
    hide();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->isWindow() && dynamic_cast<TemraWindow*>(w)) return;
    if (!app_.InputPageVisible()) app_.ShowInputPage();
}

} // namespace temra::ui
