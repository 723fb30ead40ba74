#include "ui/window.h"

#include "ui/temra_app.h"
#include "ui/widgets.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLayout>
#include <QResizeEvent>

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

void TemraWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    QLayout* page = layout();
    if (!page || !page->hasHeightForWidth()) return;
    const int need = page->totalMinimumHeightForWidth(width());
    if (need > 0 && need != minimumHeight()) setMinimumHeight(need);
}

} // namespace temra::ui
