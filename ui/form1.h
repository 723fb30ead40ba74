// Form1: the input page and main window. It holds the measured concentrations of
// one water sample and the conditions of the grid, and starts the solubility
// calculation and the gas-pair graph.
#pragma once

#include "core/input_texts.h"
#include "study/study_fit.h"

#include <QWidget>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenuBar;
class QPushButton;

namespace temra::ui {

class TemraApp;

class Form1 : public QWidget {
    Q_OBJECT
  public:
    explicit Form1(TemraApp& app);

    // The boxes as typed.
    Form1Texts Texts() const;
    // A sample's measured values, chloride and density, where it has them; the
    // other boxes keep what they hold. Returns the labels of the gas boxes kept.
    QStringList UseSample(const study::Sample& sample);

    QLabel* Label8;
    QLabel* Image1;
    QLabel* Image2;
    QGroupBox* Frame1;
    QGroupBox* Frame3;
    QLabel *Label19, *Label16, *Label22, *Label23, *Label18, *Label10, *Label17, *Label21, *Label20,
        *Label12, *Label11, *Label9;
    QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label7;
    QLineEdit *Text18, *Text19, *Text25, *Text21, *Text26, *Text20, *Text22, *Text15, *Text14;
    QLineEdit *Text1, *Text2, *Text3, *Text4, *Text5, *Text6, *Text7;
    QCheckBox* Check1;
    QPushButton *Command2, *Command1, *Command4;
    QMenuBar* MenuBar; // File, Window, Help: what is added beside the page's own controls

    void Command1_Click();
    void Command2_Click();
    void Command4_Click();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildHeading();
    void BuildConditions();
    void BuildMeasurements();
    void BuildCommands();
    void BuildMenu();
    void Form_Load();
    TemraApp& app_;
};

} // namespace temra::ui
