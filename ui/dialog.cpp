#include "ui/dialog.h"

#include "export/exports.h"
#include "ui/temra_app.h"
#include "ui/widgets.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

namespace temra::ui {

Dialog::Dialog(TemraApp& app) : TemraWindow(app) {
    setObjectName("Dialog");
    setWindowTitle("Temra");
    setWindowFlag(Qt::Dialog);
    Label4 = MakeLabel(this, "Label4", " Temra_ Excess Air Content");
    Label4->setFont(Font("Comic Sans MS", 12, true));
    Label14 = new WrappingLabel("Excess Air       (cm3 STP/g H2O)", this);
    Label14->setObjectName("Label14");
    Label14->setFont(Font("Arial", 9.75, true));
    Label1 = MakeLabel(this, "Label1", "Min");
    Label2 = MakeLabel(this, "Label2", "Max");
    Label3 = MakeLabel(this, "Label3", "Step");
    Text17 = MakeEdit(this, FieldId::EaMin, 735);
    Text23 = MakeEdit(this, FieldId::EaMax, 735);
    Text24 = MakeEdit(this, FieldId::EaStep, 735);
    OKButton = MakeButton(this, "OKButton", "OK");
    CancelButton = MakeButton(this, "CancelButton", "Cancel");
    OKButton->setDefault(true);

    auto* grid = new QGridLayout(this);
    grid->addWidget(Label4, 0, 0, 1, 4);
    grid->addWidget(Label1, 1, 1, Qt::AlignHCenter);
    grid->addWidget(Label2, 1, 2, Qt::AlignHCenter);
    grid->addWidget(Label3, 1, 3, Qt::AlignHCenter);
    grid->addWidget(Label14, 2, 0);
    grid->addWidget(Text17, 2, 1);
    grid->addWidget(Text23, 2, 2);
    grid->addWidget(Text24, 2, 3);
    grid->addWidget(OKButton, 3, 2);
    grid->addWidget(CancelButton, 3, 3);
    connect(OKButton, &QPushButton::clicked, this, [this] { OKButton_Click(); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { hide(); });
    for (QLineEdit* e : {Text17, Text23, Text24})
        connect(e, &QLineEdit::returnPressed, OKButton, &QPushButton::click);
    FitFirstSize(*this, Twips(5670), Twips(1890));
}

DialogTexts Dialog::Texts() const {
    return {Text(Text17), Text(Text23), Text(Text24)};
}

void Dialog::OKButton_Click() {
    hide();
    Module1& m = app_.module();
    const DialogTexts texts = Texts();
    std::shared_ptr<const BestFitEa> fit;
    // A refused or cancelled search brings the dialog back with the texts as typed.
    if (!app_.Run(
            this, tr("Finding the best fitted cases with excess air…"),
            [&](RunControl& c) { fit = m.ComputeExcessAirSearch(texts, c); }, [this] { show(); }))
        return;
    m.CommitExcessAirSearch(fit);
    app_.ExportWorkbook(
        this,
        [fit](xl::Application& excel) -> xl::Workbook& {
            return xl::WriteSelectedResults(*fit, excel);
        },
        xl::kSelectedSheet);
    const auto unranked = std::count(fit->Ranked.begin(), fit->Ranked.end(), 0);
    if (unranked > 0)
        app_.Inform(nullptr, tr("For %1 of the %2 trial amounts no case has a deviation below "
                                "10000: the measured values lie far from every calculated one. "
                                "Their rows carry 10000.")
                                 .arg(unranked)
                                 .arg(fit->M));
}

} // namespace temra::ui
