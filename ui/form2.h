// Form2: the gas-pair selection. The first ticked gas in gas order goes on the X
// axis, the second on the Y axis.
#pragma once

#include "core/input_texts.h"
#include "ui/window.h"

#include <array>

class QCheckBox;
class QLabel;
class QPushButton;

namespace temra::ui {

class Form2 : public TemraWindow {
    Q_OBJECT
  public:
    explicit Form2(TemraApp& app);

    Form2Ticks Ticks() const;
    void UntickAll();

    QLabel *Label8, *Label1;
    std::array<QCheckBox*, 7> Check{}; // Check1 .. Check7
    std::array<QLabel*, 7> GasLabel{}; // Label2 .. Label7, Label9
    QPushButton* Command1;

    void Command1_Click();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace temra::ui
