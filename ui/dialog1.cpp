#include "ui/dialog1.h"

#include "ui/temra_app.h"
#include "ui/widgets.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace temra::ui {

Dialog1::Dialog1(TemraApp& app) : TemraWindow(app) {
    setObjectName("Dialog1");
    setWindowTitle("Temra");
    Label4 = MakeLabel(this, "Label4", "Excess Air for Gas Pair Graph");
    Label4->setFont(Font("Comic Sans MS", 12, true));
    Label3 = MakeLabel(this, "Label3",
                       "Set Excess Air Content  and EquilibriumTemperature for Gas Pair Graph");
    Label3->setFont(Font("MS Sans Serif", 8.25, false, true));
    Label1 = MakeLabel(this, "Label1", "Excess Air (cm³STP/g H2O)");
    Label2 = MakeLabel(this, "Label2", "Temperature (°C)");
    Label5 = MakeLabel(this, "Label5", "Min");
    Label6 = MakeLabel(this, "Label6", "Max");
    Label7 = MakeLabel(this, "Label7", "Step");
    Text1 = MakeEdit(this, FieldId::PairEaMin, 1095);
    Text2 = MakeEdit(this, FieldId::PairEaMax, 1095);
    Text3 = MakeEdit(this, FieldId::PairEaStep, 1095);
    Text4 = MakeEdit(this, FieldId::PairTempMin, 1095);
    Text5 = MakeEdit(this, FieldId::PairTempMax, 1095);
    Text6 = MakeEdit(this, FieldId::PairTempStep, 1095);
    CancelButton = MakeButton(this, "CancelButton", "<< Back");
    OKButton = MakeButton(this, "OKButton", "OK");
    Command1 = MakeButton(this, "Command1", "End");

    auto* grid = new QGridLayout;
    grid->addWidget(Label1, 0, 1, Qt::AlignHCenter);
    grid->addWidget(Label2, 0, 2, Qt::AlignHCenter);
    grid->addWidget(Label5, 1, 0);
    grid->addWidget(Text1, 1, 1);
    grid->addWidget(Text4, 1, 2);
    grid->addWidget(Label6, 2, 0);
    grid->addWidget(Text2, 2, 1);
    grid->addWidget(Text5, 2, 2);
    grid->addWidget(Label7, 3, 0);
    grid->addWidget(Text3, 3, 1);
    grid->addWidget(Text6, 3, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(CancelButton);
    buttons->addWidget(OKButton);
    buttons->addWidget(Command1);
    auto* page = new QVBoxLayout(this);
    page->addWidget(Label4);
    page->addWidget(Label3);
    page->addLayout(grid);
    page->addLayout(buttons);
    connect(OKButton, &QPushButton::clicked, this, [this] { OKButton_Click(); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { CancelButton_Click(); });
    connect(Command1, &QPushButton::clicked, this, [this] { app_.End(); });
    for (QLineEdit* e : {Text1, Text2, Text3, Text4, Text5, Text6})
        connect(e, &QLineEdit::returnPressed, OKButton, &QPushButton::click);
    FitFirstSize(*this, Twips(5400), Twips(3600));
}

void Dialog1::showEvent(QShowEvent* event) {
    TemraWindow::showEvent(event);
    if (!loaded_) { // Form_Load: the first showing hides the input page
        loaded_ = true;
        app_.HideInputPage();
    }
}

Dialog1Texts Dialog1::Texts() const {
    return {Text(Text1), Text(Text2), Text(Text3), Text(Text4), Text(Text5), Text(Text6)};
}

void Dialog1::OKButton_Click() {
    Module1& m = app_.module();
    // Refused: the dialog stays with its texts.
    if (!app_.Attempt(this,
                      [&] { m.DrawGasPairGraph(app_.InputTexts(), app_.GasPairTicks(), Texts()); }))
        return;
    app_.ShowGasPairGraph();
}

void Dialog1::CancelButton_Click() {
    app_.LeaveGasPairRanges();
    hide();
}

} // namespace temra::ui
