#include "ui/form2.h"

#include "ui/temra_app.h"
#include "ui/widgets.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

namespace temra::ui {

Form2::Form2(TemraApp& app) : TemraWindow(app) {
    setObjectName("Form2");
    setWindowTitle("Temra");
    Label8 = MakeLabel(this, "Label8", "Temra_ Gas Pair Graph");
    Label8->setFont(Font("Comic Sans MS", 12, true));
    Label1 = MakeLabel(this, "Label1", FieldLabel(FieldId::PairSelection));
    Label1->setFont(Font("Comic Sans MS", 9.75, true));
    const char* labelNames[] = {"Label2", "Label3", "Label4", "Label5",
                                "Label6", "Label7", "Label9"};
    auto* boxes = new QGridLayout;
    for (int g = 0; g < GasCount; ++g) {
        const std::string name = "Check" + std::to_string(g + 1); // Check1 to Check7
        Check[g] = MakeCheck(this, name.c_str(), "");
        const auto text = GasAt(g).pairSelection;
        GasLabel[g] = MakeLabel(this, labelNames[g],
                                QString::fromUtf8(text.data(), static_cast<int>(text.size())));
        GasLabel[g]->setBuddy(Check[g]);
        GasLabel[g]->installEventFilter(this); // a click on the name ticks the box
        boxes->addWidget(Check[g], g, 0);
        boxes->addWidget(GasLabel[g], g, 1);
    }
    boxes->setColumnStretch(1, 1);
    Command1 = MakeButton(this, "Command1", "OK");
    auto* page = new QVBoxLayout(this);
    page->addWidget(Label8);
    page->addWidget(Label1);
    page->addLayout(boxes);
    page->addStretch();
    page->addWidget(Command1, 0, Qt::AlignHCenter);
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    FitFirstSize(*this, Twips(4200), Twips(5400));
}

bool Form2::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        for (int g = 0; g < GasCount; ++g)
            if (watched == GasLabel[static_cast<std::size_t>(g)]) {
                Check[static_cast<std::size_t>(g)]->click();
                return true;
            }
    return TemraWindow::eventFilter(watched, event);
}

Form2Ticks Form2::Ticks() const {
    Form2Ticks t;
    for (int g = 0; g < GasCount; ++g) t.Check[static_cast<std::size_t>(g)] = Check[g]->isChecked();
    return t;
}

void Form2::UntickAll() {
    for (QCheckBox* c : Check) c->setChecked(false);
}

void Form2::Command1_Click() {
    hide();
    app_.ShowGasPairRanges();
}

} // namespace temra::ui
