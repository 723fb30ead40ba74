#include "ui/form4.h"

#include "core/numtext.h"
#include "export/exports.h"
#include "ui/temra_app.h"
#include "ui/widgets.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace temra::ui {

Form4::Form4(TemraApp& app) : TemraWindow(app) {
    setObjectName("Form4");
    setWindowTitle("Temra");
    Label15 = MakeLabel(this, "Label15", "Temra_Results without Excess Air");
    Label15->setFont(Font("Comic Sans MS", 12.75, true));
    const QFont bold = Font("MS Sans Serif", 8.25, true);
    Label14 = MakeLabel(this, "Label14",
                        "BEST-FITTED RECHARGE TEMPERATURE and ELEVATION WITHOUT EXCESS AIR");
    Label11 = MakeLabel(this, "Label11", "Rech.Temp (oC)");
    Label12 = MakeLabel(this, "Label12", "Rech.Elev. (m)");
    Label13 = MakeLabel(this, "Label13", "Difference from meas.conc. (cm3 STP/g H2O)");
    for (QLabel* l : {Label14, Label11, Label12, Label13}) l->setFont(bold);
    WrapWithin(Label14, Twips(5415));
    WrapWithin(Label11, Twips(975));
    WrapWithin(Label12, Twips(1095));
    WrapWithin(Label13, Twips(2415));
    auto* table = new QGridLayout;
    table->addWidget(Label11, 0, 1);
    table->addWidget(Label12, 0, 2);
    table->addWidget(Label13, 0, 3);
    for (int k = 1; k <= 10; ++k) {
        auto name = [](int n) { return "Label" + std::to_string(n); };
        RankLabel[k - 1] = MakeLabel(this, name(k).c_str(), "");
        TempLabel[k - 1] = MakeLabel(this, name(15 + k).c_str(), "");
        ElevLabel[k - 1] = MakeLabel(this, name(25 + k).c_str(), "");
        DevLabel[k - 1] = MakeLabel(this, name(35 + k).c_str(), "");
        table->addWidget(RankLabel[k - 1], k, 0);
        table->addWidget(TempLabel[k - 1], k, 1);
        table->addWidget(ElevLabel[k - 1], k, 2);
        table->addWidget(DevLabel[k - 1], k, 3);
        for (QLabel* l : {TempLabel[k - 1], ElevLabel[k - 1], DevLabel[k - 1]})
            l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        table->setRowMinimumHeight(k, Twips(630) - 8);
    }
    table->setColumnMinimumWidth(0, Twips(855));
    table->setColumnMinimumWidth(1, Twips(975));
    table->setColumnMinimumWidth(2, Twips(1095));
    table->setColumnMinimumWidth(3, Twips(2415));
    Command1 = MakeButton(this, "Command1", "All results to excel worksheet");
    Command2 = MakeButton(this, "Command2", "Close Window");
    Command1->setFont(bold);
    Command2->setFont(bold);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    buttons->addStretch();
    auto* page = new QVBoxLayout(this);
    page->addWidget(Label15);
    Label14->setAlignment(Qt::AlignCenter);
    page->addWidget(Label14);
    page->addLayout(table);
    page->addStretch();
    page->addLayout(buttons);
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { hide(); });
    FitFirstSize(*this, Twips(7020), Twips(8700));
}

void Form4::ShowBestFitNoEa(std::shared_ptr<const BestFitNoEa> fit) {
    shown_ = std::move(fit);
    const BestFitNoEa& r = *shown_;
    const SolubilityGrid& grid = *r.grid;
    const char sep = app_.module().run.DecimalSeparator;
    show();
    raise();
    for (int k = 1; k <= 10; ++k) {
        RankLabel[k - 1]->setText(QString("CASE %1:").arg(k));
        const CaseNumber c = r.BestCase[static_cast<std::size_t>(k - 1)];
        if (r.Ranked > 0 && c >= 1 && c <= grid.CaseCount) {
            const auto i = static_cast<std::size_t>(c - 1);
            TempLabel[k - 1]->setText(QString::fromStdString(FormatGeneral(grid.Temp[i], sep)));
            ElevLabel[k - 1]->setText(QString::fromStdString(FormatGeneral(grid.Elev[i], sep)));
            DevLabel[k - 1]->setText(QString::fromStdString(
                FormatGeneral(r.BestRms[static_cast<std::size_t>(k - 1)], sep)));
        } else {
            // No case is eligible: the rows point at no case and stay empty.
            TempLabel[k - 1]->clear();
            ElevLabel[k - 1]->clear();
            DevLabel[k - 1]->clear();
        }
    }
    if (r.Ranked == 0)
        app_.Inform(this,
                    QString::fromStdString("No grid case can be ranked: " + NoFitReason(r) + "."));
}

void Form4::Command1_Click() {
    hide();
    if (!shown_) return;
    // The cases of the search this window shows, whatever ran since.
    const auto fit = shown_;
    app_.ExportWorkbook(
        this,
        [&fit](xl::Application& excel) -> xl::Workbook& {
            return xl::WriteBestFitToExcel(*fit, excel);
        },
        xl::kDifferenceSheet);
}

} // namespace temra::ui
