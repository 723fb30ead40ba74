#include "ui/sol_graph_form.h"

#include "core/numtext.h"
#include "plot/figure.h"
#include "plot/plot.h"
#include "ui/temra_app.h"
#include "ui/widgets.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include <cmath>

namespace temra::ui {

namespace {

void SetUpPlot(plot::Plot* p) {
    p->SetLogY(true);
    p->yAxis().Title = "Concentration (cm3 STP/g H2O)";
    p->yAxis().TrackScaleMinMax = true;
    p->SetXTickStep(1);
    p->SetLegendVisible(false);
}

// Channel 0 holds the measured values as dots: black, and drawn over the lines.
void StyleMeasuredChannel(plot::Plot* p) {
    plot::Channel& c = p->channel(0);
    c.MarkersVisible = true;
    c.MarkersSize = 6;
    c.TraceVisible = false;
    c.Colour = Qt::black;
}

} // namespace

SolGraphForm::SolGraphForm(TemraApp& app) : TemraWindow(app) {
    MakeControls();
    LayOut();
    ConnectControls();
    FitFirstSize(*this, Twips(10410), Twips(9285));
    Form_Load();
}

void SolGraphForm::MakeControls() {
    setObjectName("SolGraphForm");
    setWindowTitle("Temra");
    Label1 = MakeLabel(this, "Label1", "Temra_ Gas Solubility Graph");
    Label1->setFont(Font("Comic Sans MS", 14.25, true));
    Line1 = new QFrame(this);
    Line1->setObjectName("Line1");
    Line1->setFrameShape(QFrame::HLine);
    SolGraph2 = new plot::Plot(this);
    SolGraph2->setObjectName("SolGraph2");
    SolGraph3 = new plot::Plot(this);
    SolGraph3->setObjectName("SolGraph3");
    for (plot::Plot* p : {SolGraph2, SolGraph3}) {
        SetUpPlot(p);
        p->SetDecimalPoint(QLatin1Char(app_.module().run.DecimalSeparator));
        p->SetMinimumPlotSize(QSize(Twips(9975) / 2, Twips(5895) / 2));
    }
    Label3 = MakeLabel(this, "Label3",
                       "Dots: measured gas composition,  Lines: calculated gas composition ");
    DensityNote = MakeLabel(this, "DensityNote", "");
    DensityNote->setVisible(false);
    Label2 = MakeLabel(this, "Label2", FieldLabel(FieldId::GasSelection));
    Label2->setFont(Font("Arial", 9.75, true));
    WrapWithin(Label2, Twips(975));
    RetainPlaceWhenHidden(Label2);
    for (int g = 0; g < GasCount; ++g) {
        const std::string name = "Check" + std::to_string(g + 1); // Check1 to Check7
        Check[g] = MakeCheck(this, name.c_str(), Q(GasAt(g).graphLabel));
        Check[g]->setFont(Font("MS Sans Serif", 9.75, true));
        // A box that hides itself leaves its place empty: the others stay put.
        RetainPlaceWhenHidden(Check[g]);
    }
    Command2 = MakeButton(this, "Command2", "Redraw solubility graph for selected gases");
    Command1 = MakeButton(this, "Command1", "Write gas solubilities to Excel worksheet");
    Command3 = MakeButton(this, "Command3", "<< Back");
    Command5 = new WrappingButton(
        "Find best fitted cases for selected gases           (without excess air)", this);
    Command5->setObjectName("Command5");
    Command6 = new WrappingButton(
        "Find best fitted cases for selected gases           (with excess air)", this);
    Command6->setObjectName("Command6");
    Command4 = MakeButton(this, "Command4", "End");
    for (QPushButton* b : {Command1, Command2, Command3, Command4, Command5, Command6})
        b->setFont(Font("MS Sans Serif", 8.25, true));
    // The redraw hides its own button and shows the best-fit buttons: all three keep
    // their places, so nothing else moves.
    for (QPushButton* b : {Command2, Command5, Command6}) RetainPlaceWhenHidden(b);
    // Where the last workbook went: its two lines are kept free, so the buttons
    // never move when it appears.
    ExportStatus = MakeLabel(this, "ExportStatus", "");
    ExportStatus->setWordWrap(true);
    ExportStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ExportStatus->setFixedHeight(2 * ExportStatus->fontMetrics().lineSpacing() + 4);
}

void SolGraphForm::LayOut() {
    auto* heading = new QVBoxLayout;
    heading->addWidget(Label1);
    heading->addWidget(Line1);
    auto* boxes = new QHBoxLayout;
    boxes->addWidget(Label2);
    for (QCheckBox* c : Check) boxes->addWidget(c);
    boxes->addStretch();
    auto* buttons = new QGridLayout;
    buttons->addWidget(Command2, 0, 0);
    buttons->addWidget(Command1, 0, 1);
    buttons->addWidget(Command3, 0, 2);
    buttons->addWidget(Command5, 1, 0);
    buttons->addWidget(Command6, 1, 1);
    buttons->addWidget(Command4, 1, 2);
    buttons->setColumnStretch(0, 48);
    buttons->setColumnStretch(1, 38);
    buttons->setColumnStretch(2, 10);
    auto* page = new QVBoxLayout(this);
    page->addLayout(heading);
    page->addWidget(SolGraph2, 1);
    page->addWidget(SolGraph3, 1);
    page->addWidget(Label3, 0, Qt::AlignHCenter);
    page->addWidget(DensityNote, 0, Qt::AlignHCenter);
    page->addLayout(boxes);
    page->addLayout(buttons);
    page->addWidget(ExportStatus);
}

void SolGraphForm::ConnectControls() {
    // A ticked box hides itself at once; its gas stays out of the next redraw.
    for (QCheckBox* c : Check) connect(c, &QCheckBox::clicked, c, [c] { c->hide(); });
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    connect(Command4, &QPushButton::clicked, this, [this] { app_.End(); });
    connect(Command5, &QPushButton::clicked, this, [this] { Command5_Click(); });
    connect(Command6, &QPushButton::clicked, this, [this] { Command6_Click(); });

    // Axis labels: the gases at whole positions 1 to 7, the plot's own labels
    // elsewhere.
    SolGraph2->OnXAxisCustomizeLabel = [](int, double position, QString& label) {
        for (int g = 0; g < GasCount; ++g)
            if (position == g + 1) label = Q(GasAt(g).graphLabel);
    };
    SolGraph3->OnXAxisCustomizeLabel = [this](int, double position, QString& label) {
        const Module1& m = app_.module();
        if (!m.HasSelection()) return;
        const GasSelection& sel = m.Selection();
        for (int k = 1; k <= sel.SelGasCount; ++k)
            if (position == k) label = QString::fromStdString(sel.SelGasLabel[k - 1]);
    };
    // Figures: the context menu of each graph, and Ctrl+S for the one shown.
    plot::OfferFigureMenu(SolGraph2->Canvas(), [] { return QString("Gas solubility"); });
    plot::OfferFigureMenu(SolGraph3->Canvas(), [] { return QString("Gas solubility"); });
    auto* save = new QShortcut(QKeySequence::Save, this);
    connect(save, &QShortcut::activated, this, [this] {
        plot::Plot* shown = SolGraph3->isVisible() ? SolGraph3 : SolGraph2;
        plot::AskAndSaveFigure(this, shown->Canvas(), "Gas solubility");
    });
}

void SolGraphForm::Form_Load() {
    SolGraph2->setVisible(true);
    SolGraph3->setVisible(false);
    Command5->setVisible(false);
    Command6->setVisible(false);
    for (QCheckBox* c : Check) c->setVisible(true);
    Command2->setVisible(true);
    Label2->setVisible(true);
}

void SolGraphForm::ResetControls() {
    for (QCheckBox* c : Check) c->setVisible(true);
    for (QCheckBox* c : Check) c->setChecked(false);
    Command2->setVisible(true);
    Label2->setVisible(true);
    Command5->setVisible(false);
    Command6->setVisible(false);
}

void SolGraphForm::DrawSolubilityGraph() {
    const Module1& m = app_.module();
    BusyCursor busy;
    // Every run starts on the full graph, however this window was left (even
    // closed through its frame), and says nothing of an earlier export.
    ResetControls();
    ExportStatus->clear();
    SolGraph3->Clear();
    app_.HideInputPage();
    SolGraph2->setVisible(true);
    SolGraph3->setVisible(false);
    show();
    SolGraph2->SetTitleText("Temra Gas Solubility");
    SolGraph2->SetTitleFontSize(10);

    // Channel 0 the measured dots, channel j the line of grid case j; beyond
    // kLinesDrawnUpTo cases the lines are drawn as their density. Nothing of an
    // earlier run stays.
    SolGraph2->Clear();
    std::vector<double> x;
    std::vector<const double*> rows;
    for (int g = 0; g < GasCount; ++g) {
        x.push_back(g + 1); // gas g at position g + 1
        rows.push_back(m.Grid().Row(g).data());
    }
    FillGraph(SolGraph2, x, rows, m.CaseIndex(), [&](int i) { return m.MeasuredConc(i + 1); });
}

void SolGraphForm::FillGraph(plot::Plot* p, const std::vector<double>& x,
                             const std::vector<const double*>& rows, CaseNumber cases,
                             const std::function<double(int)>& measured) {
    try {
        FillChannels(p, x, rows, cases, measured);
    } catch (const std::bad_alloc&) {
        p->Clear();
        p->Replot();
        app_.ReportError(this, TemraError(ErrorNumber::OutOfMemory, fields::Ref(FieldId::Calculate),
                                          "the graph of " + std::to_string(cases) +
                                              " cases does not fit in memory; use larger steps"));
    }
}

void SolGraphForm::FillChannels(plot::Plot* p, const std::vector<double>& x,
                                const std::vector<const double*>& rows, CaseNumber cases,
                                const std::function<double(int)>& measured) {
    const bool dense = cases > kLinesDrawnUpTo;
    // The axis shows every gas from 0.
    p->xAxis().Min = 0;
    p->xAxis().Span = static_cast<double>(x.size());
    if (dense) {
        p->AddChannel();
        p->SetLineDensity(x, rows, static_cast<std::size_t>(cases));
    } else {
        p->ReserveChannels(static_cast<std::size_t>(cases) + 1);
        for (CaseNumber k = 0; k <= cases; ++k) p->AddChannel();
    }
    for (std::size_t i = 0; i < x.size(); ++i) {
        p->channel(0).AddPoint(x[i], measured(static_cast<int>(i)));
        if (dense) continue;
        for (CaseNumber j = 1; j <= cases; ++j)
            p->channel(static_cast<int>(j))
                .AddPoint(x[i], rows[i][static_cast<std::size_t>(j - 1)]);
    }
    StyleMeasuredChannel(p);
    QStringList notes;
    if (dense)
        notes << QString("The %1 cases are drawn as a shaded band: the darker, the more case lines "
                         "pass.")
                     .arg(Q(CountText(static_cast<double>(cases))));
    // A saline water is computed with a salt correction that holds to 0.1 °C only
    // up to kSalineChloride.
    if (const double cl = app_.module().Grid().Chloride; cl > kSalineChloride)
        notes << QString("The chloride, %1 mol/l, is beyond %2 mol/l, where the built-in salt "
                         "correction moves recharge temperatures by 0.1 °C against sea-salt "
                         "solubilities: they may be off by more.")
                     .arg(Q(ApproxText(cl)), Q(ApproxText(kSalineChloride)));
    DensityNote->setText(notes.join(' '));
    DensityNote->setWordWrap(true);
    DensityNote->setVisible(!notes.isEmpty());
    p->Replot();
}

void SolGraphForm::ShowGasBoxes() {
    for (QCheckBox* c : Check) c->setVisible(true);
}

void SolGraphForm::closeEvent(QCloseEvent* event) {
    // Closed through its frame: the same as "<< Back", whatever else is open.
    if (app_.Ending()) {
        event->accept();
        return;
    }
    event->ignore();
    Command3_Click();
}

void SolGraphForm::ShowExportMessage(const QString& message) {
    ExportStatus->setText(message);
}

void SolGraphForm::Command2_Click() {
    Module1& m = app_.module();
    std::array<bool, GasCount> deleted{};
    for (int g = 0; g < GasCount; ++g) deleted[g] = Check[g]->isChecked();
    // The tables first: a redraw without a gas or without a case is refused and
    // leaves the window as it was.
    if (!app_.Attempt(this, [&] { m.BuildSelectedGasTables(deleted); })) return;
    BusyCursor busy;
    ExportStatus->clear();
    SolGraph2->setVisible(false);
    SolGraph3->setVisible(true);
    Command5->setVisible(true);
    Command6->setVisible(true);
    Label2->setVisible(false);
    SolGraph3->SetTitleText("Gas Solubility");
    SolGraph3->SetTitleFontSize(10);

    const GasSelection& sel = m.Selection();
    SolGraph3->Clear();
    std::vector<double> x;
    std::vector<const double*> rows;
    for (int k = 1; k <= sel.SelGasCount; ++k) {
        x.push_back(sel.GasNumber[static_cast<std::size_t>(k - 1)]);
        rows.push_back(sel.grid->Row(sel.Gas[static_cast<std::size_t>(k - 1)]).data());
    }
    // The axis runs from 0 to the last gas.
    FillGraph(SolGraph3, x, rows, m.CaseIndex(),
              [&](int i) { return sel.SelMeasured[static_cast<std::size_t>(i)]; });
    Command2->setVisible(false);
    for (QCheckBox* c : Check) c->setVisible(false);
    Label2->setVisible(false);
}

void SolGraphForm::Command3_Click() {
    hide();
    SolGraph2->Clear();
    SolGraph3->Clear();
    SolGraph2->Replot();
    SolGraph3->Replot();
    ExportStatus->clear();
    app_.ShowInputPage();
    ResetControls();
}

void SolGraphForm::Command1_Click() {
    const Module1& m = app_.module();
    if (!m.HasGrid()) return;
    app_.ExportWorkbook(
        this,
        [&m](xl::Application& excel) -> xl::Workbook& {
            return xl::WriteSolubilityToExcel(m, excel);
        },
        xl::kSolubilitySheet);
}

void SolGraphForm::Command5_Click() {
    Module1& m = app_.module();
    std::shared_ptr<const BestFitNoEa> fit;
    if (!app_.Run(this, tr("Finding the best fitted cases…"),
                  [&](RunControl& c) { fit = m.ComputeBestFitNoEa(c); }))
        return;
    m.CommitBestFitNoEa(fit);
    app_.ShowBestFitResults(fit);
}

void SolGraphForm::Command6_Click() {
    app_.ShowExcessAirDialog();
}

} // namespace temra::ui
