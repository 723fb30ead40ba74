// SolGraphForm: the solubility graph. Measured concentrations as dots and every
// grid case as a line across the gases, on a logarithmic concentration axis. The
// redraw for the gases left (not ticked for deletion) builds the selected-gas
// tables of the best-fit searches and offers the two best-fit buttons.
#pragma once

#include "ui/window.h"

#include <array>

class QCheckBox;
class QFrame;
class QLabel;
class QPushButton;

namespace temra::plot {
class Plot;
}

namespace temra::ui {

class SolGraphForm : public TemraWindow {
    Q_OBJECT
  public:
    explicit SolGraphForm(TemraApp& app);

    // The full graph of the last grid run; hides the input page, shows this window.
    void DrawSolubilityGraph();
    // Makes the seven "Tick to Delete Gas" boxes visible (after every grid run).
    void ShowGasBoxes();
    // Where the last export from this window (or its result windows) went.
    void ShowExportMessage(const QString& message);

    QLabel* Label1;
    QFrame* Line1;
    plot::Plot* SolGraph2;
    plot::Plot* SolGraph3;
    QLabel* Label3;
    QLabel* Label2;
    std::array<QCheckBox*, 7> Check{}; // Check1 .. Check7
    QPushButton *Command1, *Command2, *Command3, *Command4, *Command5, *Command6;
    QLabel* ExportStatus;

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command5_Click();
    void Command6_Click();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void Form_Load();
    // The full-graph state of the controls: boxes shown and unticked, the redraw
    // offered, the best-fit buttons hidden.
    void ResetControls();
};

} // namespace temra::ui
