// Dialog: the range of excess air for the best fit with excess air. OK runs the
// search for every trial amount and writes the workbook "Selected Results".
#pragma once

#include "core/input_texts.h"
#include "ui/window.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace temra::ui {

class Dialog : public TemraWindow {
    Q_OBJECT
  public:
    explicit Dialog(TemraApp& app);

    DialogTexts Texts() const;

    QLabel *Label4, *Label14, *Label1, *Label2, *Label3;
    QLineEdit *Text17, *Text23, *Text24;
    QPushButton *OKButton, *CancelButton;

    void OKButton_Click();
};

} // namespace temra::ui
