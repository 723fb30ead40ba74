// Form4: the ten best grid cases of the best fit without excess air, best first,
// each with its recharge temperature, recharge elevation and deviation; exports
// the deviation of every case to the workbook "Difference Results".
#pragma once

#include "core/module1.h"
#include "ui/window.h"

#include <array>
#include <memory>

class QLabel;
class QPushButton;

namespace temra::ui {

class Form4 : public TemraWindow {
    Q_OBJECT
  public:
    explicit Form4(TemraApp& app);

    // Shows the window and fills its ten rows from a finished search; the window
    // keeps that search for its export.
    void ShowBestFitNoEa(std::shared_ptr<const BestFitNoEa> fit);

    QLabel *Label15, *Label14, *Label11, *Label12, *Label13;
    std::array<QLabel*, 10> RankLabel{}; // Label1 .. Label10
    std::array<QLabel*, 10> TempLabel{}; // Label16 .. Label25
    std::array<QLabel*, 10> ElevLabel{}; // Label26 .. Label35
    std::array<QLabel*, 10> DevLabel{};  // Label36 .. Label45
    QPushButton *Command1, *Command2;

    void Command1_Click();

  private:
    std::shared_ptr<const BestFitNoEa> shown_;
};

} // namespace temra::ui
