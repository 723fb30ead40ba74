// ArN2GraphForm: the gas-pair graph. One curve per excess-air value across the
// temperatures, the measured sample as a single point, and the temperature range
// of the curves.
#pragma once

#include "ui/window.h"

class QFrame;
class QLabel;
class QPushButton;

namespace temra::plot {
class Plot;
}

namespace temra::ui {

class ArN2GraphForm : public TemraWindow {
    Q_OBJECT
  public:
    explicit ArN2GraphForm(TemraApp& app);

    // Draws the module's last gas-pair graph; hides the range dialog and the input
    // page and shows this window.
    void DrawGasPairGraph();

    QLabel* Label1;
    QFrame* Line1;
    plot::Plot* ArN2Graph;
    QLabel *Label3, *Label4, *Label2;
    QPushButton *Command1, *Command2;

    void Command1_Click();
};

} // namespace temra::ui
