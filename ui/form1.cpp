#include "ui/form1.h"

#include "core/numtext.h"
#include "ui/temra_app.h"
#include "ui/widgets.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace temra::ui {

namespace {

// A decorative picture: a drop of water over a line of hills.
QPixmap Picture(bool drop) {
    QPixmap pm(48, 48);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    if (drop) {
        QPainterPath path;
        path.moveTo(24, 4);
        path.cubicTo(34, 20, 40, 28, 40, 32);
        path.arcTo(8, 16, 32, 32, 0, -180);
        path.cubicTo(8, 28, 14, 20, 24, 4);
        p.fillPath(path, QColor(46, 134, 222));
    } else {
        p.setBrush(QColor(76, 153, 76));
        p.setPen(Qt::NoPen);
        const QPointF hills[] = {{0, 44}, {14, 20}, {24, 32}, {36, 12}, {48, 44}};
        p.drawPolygon(hills, 5);
    }
    return pm;
}

} // namespace

Form1::Form1(TemraApp& app) : app_(app) {
    setObjectName("Form1");
    setWindowTitle("Temra");
    BuildHeading();
    BuildConditions();
    BuildMeasurements();
    BuildCommands();

    auto* heading = new QHBoxLayout;
    heading->addWidget(Image1);
    heading->addWidget(Label8, 1, Qt::AlignCenter);
    heading->addWidget(Image2);
    auto* commands = new QHBoxLayout;
    commands->addWidget(Command2);
    commands->addWidget(Command1);
    commands->addWidget(Command4);
    auto* page = new QVBoxLayout(this);
    page->addLayout(heading);
    page->addWidget(Frame1);
    page->addWidget(Frame3);
    page->addLayout(commands);
    BuildMenu();
    page->setMenuBar(MenuBar);
    FitFirstSize(*this, Twips(9600), Twips(8400));
    Form_Load();
}

void Form1::BuildHeading() {
    Label8 = MakeLabel(this, "Label8", "Temra_ Input Page");
    Label8->setFont(Font("Comic Sans MS", 18, true));
    Image1 = MakeLabel(this, "Image1", "");
    Image1->setPixmap(Picture(true));
    Image2 = MakeLabel(this, "Image2", "");
    Image2->setPixmap(Picture(false));
}

// The grid's ranges, the relation H = aT + b, chloride and density.
void Form1::BuildConditions() {
    Frame1 = new QGroupBox(this);
    Frame1->setObjectName("Frame1");
    Label19 = MakeLabel(Frame1, "Label19", "Min ");
    Label16 = MakeLabel(Frame1, "Label16", "Max ");
    Label22 = MakeLabel(Frame1, "Label22", "Step");
    Label23 = MakeLabel(Frame1, "Label23", "Equilibrium Elevation Range (m)");
    Text18 = MakeEdit(Frame1, FieldId::ElevMin, 855);
    Text18->setToolTip("Sampling elevation (m)");
    Text19 = MakeEdit(Frame1, FieldId::ElevMax, 855);
    Text25 = MakeEdit(Frame1, FieldId::ElevStep, 855);
    Label18 = MakeLabel(Frame1, "Label18", "Equilibrium Temperature Range (°C)");
    Text21 = MakeEdit(Frame1, FieldId::TempMax, 855);
    Text26 = MakeEdit(Frame1, FieldId::TempStep, 855);
    Label10 = MakeLabel(Frame1, "Label10", FieldLabel(FieldId::MaatTick));
    Check1 = MakeCheck(Frame1, "Check1", "");
    Check1->setChecked(Form1Texts().Check1);
    Label17 = new WrappingLabel(
        "MAATvs Elevation Equation Parameters                          H = aT + b   (m , °C)",
        Frame1);
    Label17->setObjectName("Label17");
    Label21 = MakeLabel(Frame1, "Label21", "H =");
    Text20 = MakeEdit(Frame1, FieldId::MaatA, 855);
    Label20 = MakeLabel(Frame1, "Label20", "T   +");
    Text22 = MakeEdit(Frame1, FieldId::MaatB, 855);
    Label12 = MakeLabel(Frame1, "Label12", FieldLabel(FieldId::Chloride));
    Text15 = MakeEdit(Frame1, FieldId::Chloride, 855);
    Label11 = MakeLabel(Frame1, "Label11", FieldLabel(FieldId::Density));
    Text14 = MakeEdit(Frame1, FieldId::Density, 855);

    auto* conditions = new QGridLayout(Frame1);
    conditions->addWidget(Label19, 0, 1, Qt::AlignHCenter);
    conditions->addWidget(Label16, 0, 2, Qt::AlignHCenter);
    conditions->addWidget(Label22, 0, 3, Qt::AlignHCenter);
    conditions->addWidget(Label23, 1, 0);
    conditions->addWidget(Text18, 1, 1);
    conditions->addWidget(Text19, 1, 2);
    conditions->addWidget(Text25, 1, 3);
    conditions->addWidget(Label18, 2, 0);
    conditions->addWidget(Text21, 2, 2);
    conditions->addWidget(Text26, 2, 3);
    auto* maatTick = new QHBoxLayout;
    maatTick->addWidget(Label10);
    maatTick->addWidget(Check1);
    maatTick->addStretch();
    conditions->addLayout(maatTick, 3, 0, 1, 4);
    conditions->addWidget(Label17, 4, 0, 1, 4);
    auto* relation = new QHBoxLayout;
    relation->addWidget(Label21);
    relation->addWidget(Text20);
    relation->addWidget(Label20);
    relation->addWidget(Text22);
    relation->addStretch();
    conditions->addLayout(relation, 5, 0, 1, 4);
    conditions->addWidget(Label12, 6, 0);
    conditions->addWidget(Text15, 6, 1);
    conditions->addWidget(Label11, 7, 0);
    conditions->addWidget(Text14, 7, 1);
}

// The measured gases in two columns: He-4 to Kr-84, then Xe, N2 and O2.
void Form1::BuildMeasurements() {
    Frame3 = new QGroupBox(this);
    Frame3->setObjectName("Frame3");
    Label9 = MakeLabel(Frame3, "Label9", "Measured Gas Concentrations (cm³ STP/cm³ H2O)");
    Label9->setFont(Font("Arial", 9.75, true));
    QLabel** labels[] = {&Label1, &Label2, &Label3, &Label4, &Label5, &Label6, &Label7};
    QLineEdit** edits[] = {&Text1, &Text2, &Text3, &Text4, &Text5, &Text6, &Text7};
    auto* measured = new QGridLayout(Frame3);
    measured->addWidget(Label9, 0, 0, 1, 4);
    for (int g = 0; g < GasCount; ++g) {
        const FieldId gas = fields::Measured(g);
        const std::string label = "Label" + std::to_string(g + 1); // Label1 to Label7
        *labels[g] = MakeLabel(Frame3, label.c_str(), FieldLabel(gas));
        *edits[g] = MakeEdit(Frame3, gas, 1335);
        const int row = g < 4 ? g + 1 : g - 3, column = g < 4 ? 0 : 2;
        measured->addWidget(*labels[g], row, column);
        measured->addWidget(*edits[g], row, column + 1);
    }
}

void Form1::BuildMenu() {
    MenuBar = new QMenuBar(this);
    MenuBar->setObjectName("MenuBar");
    QMenu* file = MenuBar->addMenu("&File");
    file->addAction("&Open samples…", QKeySequence::Open, this, [this] { app_.OpenSamples(); });
    file->addSeparator();
    file->addAction("&Quit", QKeySequence(Qt::CTRL | Qt::Key_Q), this, [this] { app_.End(); });
    QMenu* window = MenuBar->addMenu("&Window");
    window->addAction("&Samples", this, [this] { app_.ShowSamples(); });
    QMenu* help = MenuBar->addMenu("&Help");
    help->addAction("&User guide", QKeySequence::HelpContents, this, [this] { app_.ShowGuide(); });
    help->addAction("&About Temra", this, [this] { app_.ShowAbout(this); });
}

QStringList Form1::UseSample(const study::Sample& sample) {
    QLineEdit* measured[] = {Text1, Text2, Text3, Text4, Text5, Text6, Text7};
    QStringList kept;
    for (int g = 0; g < GasCount; ++g) {
        const std::string& text = sample.measured[static_cast<std::size_t>(g)];
        if (text.empty())
            kept << FieldLabel(fields::Measured(g));
        else
            measured[g]->setText(QString::fromStdString(text));
    }
    if (!sample.chloride.empty()) Text15->setText(QString::fromStdString(sample.chloride));
    if (!sample.density.empty()) Text14->setText(QString::fromStdString(sample.density));
    return kept;
}

void Form1::BuildCommands() {
    Command2 = MakeButton(this, "Command2", "Draw Gas Pair Graph");
    Command1 = MakeButton(this, "Command1", FieldLabel(FieldId::Calculate));
    Command4 = MakeButton(this, "Command4", "End ");
    for (QPushButton* b : {Command2, Command1, Command4})
        b->setFont(Font("MS Sans Serif", 9.75, true));
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Command4, &QPushButton::clicked, this, [this] { Command4_Click(); });
    // Enter in any box calculates, as the page's main command.
    for (QLineEdit* e : findChildren<QLineEdit*>())
        connect(e, &QLineEdit::returnPressed, Command1, &QPushButton::click);
}

void Form1::Form_Load() {
    app_.module().LoadGasTable();
}

Form1Texts Form1::Texts() const {
    Form1Texts t;
    for (const Field& f : kFields)
        if (f.form1)
            t.*f.form1 = Text(findChild<QLineEdit*>(
                QString::fromUtf8(f.control.data(), static_cast<int>(f.control.size()))));
    t.Check1 = Check1->isChecked();
    return t;
}

// A grid this large is only computed when the user says so.
constexpr CaseNumber kConfirmCases = 10'000'000;

void Form1::Command1_Click() {
    Module1& m = app_.module();
    const Form1Texts texts = Texts();
    GridPlan plan;
    if (!app_.Run(this, tr("Counting the grid cases…"),
                  [&](RunControl& c) { plan = m.PlanSolubility(texts, c); }))
        return; // nothing is shown of a failed run; every typed value stays
    if (plan.Cases() > kConfirmCases &&
        !app_.Confirm(this,
                      tr("The grid holds %1 cases and needs about %2 of memory, with its "
                         "graph. Computing and drawing it takes a while.\n\nGo on?")
                          .arg(Q(CountText(static_cast<double>(plan.Cases()))))
                          .arg(QString::fromStdString(ByteText(static_cast<double>(plan.bytes))))))
        return;
    if (!app_.Run(
            this,
            tr("Computing %1 grid cases…").arg(Q(CountText(static_cast<double>(plan.Cases())))),
            [&](RunControl& c) { m.FillSolubility(plan, c); }))
        return;
    m.CommitSolubility(std::move(plan));
    if (m.CaseCount() == 0) {
        // A graph without lines explains nothing: the page says why instead.
        app_.Inform(this, tr("The run produced no grid case: %1.")
                              .arg(QString::fromStdString(EmptyGridReason(m.Grid()))));
        return;
    }
    app_.ShowSolubilityGraph();
}

void Form1::Command2_Click() {
    app_.ShowGasPairSelection();
}

void Form1::Command4_Click() {
    app_.End();
}

void Form1::closeEvent(QCloseEvent* event) {
    // The input page stays while the user stays with an unsaved table.
    if (app_.End())
        event->accept();
    else
        event->ignore();
}

} // namespace temra::ui
