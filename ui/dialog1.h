// Dialog1: the excess-air and temperature ranges of the gas-pair graph. OK draws
// the graph; "<< Back" returns to the input page and clears the gas selection.
#pragma once

#include "core/input_texts.h"
#include "ui/window.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace temra::ui {

class Dialog1 : public TemraWindow {
    Q_OBJECT
  public:
    explicit Dialog1(TemraApp& app);

    Dialog1Texts Texts() const;

    QLabel *Label4, *Label3, *Label1, *Label2, *Label5, *Label6, *Label7;
    QLineEdit *Text1, *Text2, *Text3, *Text4, *Text5, *Text6;
    QPushButton *CancelButton, *OKButton, *Command1;

    void OKButton_Click();
    void CancelButton_Click();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    bool loaded_ = false;
};

} // namespace temra::ui
