// SolGraphForm: the solubility graph. Measured concentrations as dots and every
// grid case as a line across the gases, on a logarithmic concentration axis. The
// redraw for the gases left (not ticked for deletion) builds the selected-gas
// tables of the best-fit searches and offers the two best-fit buttons.
#pragma once

#include "core/module1.h"
#include "ui/window.h"

#include <array>
#include <functional>
#include <vector>

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
    // Up to this many cases every case is drawn as its own line; beyond, the
    // lines are drawn as their density (drawing each would take over a second).
    static constexpr CaseNumber kLinesDrawnUpTo = 200000;

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
    QLabel* DensityNote; // shown when the cases are drawn as their density

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command5_Click();
    void Command6_Click();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void MakeControls(); // the controls with their names, captions and fonts
    void LayOut();
    void ConnectControls(); // the controls' actions, the axes' labels, the figures
    void Form_Load();
    // The full-graph state of the controls: boxes shown and unticked, the redraw
    // offered, the best-fit buttons hidden.
    void ResetControls();
    // Channel 0 the measured dots, then every case's line through the gases (or
    // their density beyond kLinesDrawnUpTo cases).
    void FillGraph(plot::Plot* p, const std::vector<double>& x,
                   const std::vector<const double*>& rows, CaseNumber cases,
                   const std::function<double(int)>& measured);
    void FillChannels(plot::Plot* p, const std::vector<double>& x,
                      const std::vector<const double*>& rows, CaseNumber cases,
                      const std::function<double(int)>& measured);
};

} // namespace temra::ui
