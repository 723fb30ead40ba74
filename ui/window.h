// The base of Temra's windows other than the input page: closing one through its
// frame only hides it, and if no window of the program is left visible the input
// page comes back, so the program never runs on without a window. Where a window
// opens and comes back is FitFirstSize's (ui/widgets.h).
#pragma once

#include <QWidget>

namespace temra::ui {

class TemraApp;

class TemraWindow : public QWidget {
    Q_OBJECT
  public:
    explicit TemraWindow(TemraApp& app) : app_(app) {}

  protected:
    void closeEvent(QCloseEvent* event) override;
    // The window is never lower than its word-wrapped texts need at its width:
    // a long note pushes the plots up, never over them.
    void resizeEvent(QResizeEvent* event) override;
    TemraApp& app_;
};

} // namespace temra::ui
