#include "ui/arn2_graph_form.h"

#include "plot/figure.h"
#include "plot/plot.h"
#include "ui/temra_app.h"
#include "ui/widgets.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace temra::ui {

ArN2GraphForm::ArN2GraphForm(TemraApp& app) : TemraWindow(app) {
    setObjectName("ArN2GraphForm");
    setWindowTitle("Temra");
    Label1 = MakeLabel(this, "Label1", "Temra_ Gas Pair Graph");
    Label1->setFont(Font("Comic Sans MS", 12, true));
    Line1 = new QFrame(this);
    Line1->setObjectName("Line1");
    Line1->setFrameShape(QFrame::HLine);
    ArN2Graph = new plot::Plot(this);
    ArN2Graph->setObjectName("ArN2Graph");
    ArN2Graph->SetTitleText("Untitled");
    ArN2Graph->SetLegendVisible(true);
    ArN2Graph->SetMinimumPlotSize(QSize(Twips(11175) / 2, Twips(6975) / 2));
    ArN2Graph->SetDecimalPoint(QLatin1Char(app.module().run.DecimalSeparator));
    Label3 = MakeLabel(this, "Label3", "");
    Label4 = MakeLabel(this, "Label4", "");
    Label2 = MakeLabel(this, "Label2",
                       "Note: Circle and Square in series with minimum EA indicates minimum and "
                       "maximum equilibrium temperatures, respectively.");
    Label2->setStyleSheet("QLabel { color: white; background-color: #1f3a5f; padding: 4px; }");
    WrapWithin(Label2, Twips(7095) * 2 / 3);
    Command1 = MakeButton(this, "Command1", "<< Back");
    Command2 = MakeButton(this, "Command2", "End");

    auto* temps = new QVBoxLayout;
    temps->addWidget(Label3);
    temps->addWidget(Label4);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(Command1);
    bottom->addWidget(Command2);
    bottom->addLayout(temps);
    bottom->addWidget(Label2, 1);
    auto* page = new QVBoxLayout(this);
    page->addWidget(Label1);
    page->addWidget(Line1);
    page->addWidget(ArN2Graph, 1);
    page->addLayout(bottom);
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { app_.End(); });
    plot::OfferFigureMenu(ArN2Graph->Canvas(), [] { return QString("Gas pair"); });
    auto* save = new QShortcut(QKeySequence::Save, this);
    connect(save, &QShortcut::activated, this,
            [this] { plot::AskAndSaveFigure(this, ArN2Graph->Canvas(), "Gas pair"); });
    FitFirstSize(*this, Twips(11475), Twips(8550));
}

namespace {

// A curve per excess-air value on fresh axes: lines with small markers, from the
// lowest to the highest temperature; the first curve has a circle on its first
// and a square on its last point.
void AddCurves(plot::Plot& g, const GasPairGraph& p) {
    g.RemoveAllXAxes();
    g.RemoveAllYAxes();
    g.AddXAxis();
    g.AddYAxis();
    for (int j = 1; j <= p.J; ++j) {
        const int c = g.AddChannel();
        g.SetChannelTitle(c,
                          QString::fromStdString(p.CurveTitles[static_cast<std::size_t>(j - 1)]));
    }
    g.xAxis().Title = QString::fromStdString(p.PairXTitle);
    g.yAxis().Title = QString::fromStdString(p.PairYTitle);
    for (int c = 0; c < p.J; ++c) {
        plot::Channel& ch = g.channel(c);
        ch.MarkersVisible = true;
        ch.MarkersStyle = plot::kMarkerDisc;
        ch.MarkersSize = 5;
        for (int t = 1; t <= p.nPts; ++t) ch.AddPoint(p.Conc(t, c + 1, 1), p.Conc(t, c + 1, 2));
    }
    // Beyond the palette's ten colours the curves differ by their dashes and markers.
    plot::DistinguishCurves(g, p.J);
    g.channel(0).MarkersAllowIndividual = true;
    g.SetPointMarker(0, 0, plot::kMarkerCircle);
    g.channel(0).MarkersSize = 5;
    g.SetPointMarker(0, p.nPts - 1, plot::kMarkerSquare);
}

// The measured sample: a distinct larger marker without a line.
void AddMeasured(plot::Plot& g, const GasPairGraph& p) {
    const int measured = g.AddChannel();
    plot::Channel& m = g.channel(measured);
    m.MarkersVisible = true;
    m.MarkersSize = 6;
    m.MarkersStyle = plot::kMarkerCrossCircle;
    m.TraceVisible = false;
    m.Colour = Qt::black; // no curve is black, however many there are
    m.AddPoint(p.MeasuredX, p.MeasuredY);
    g.SetChannelTitle(measured, "Measured Data");
}

void SetRanges(plot::Plot& g, const GasPairGraph& p) {
    g.xAxis().Min = p.PairXMin;
    g.yAxis().Min = p.PairYMin;
    g.xAxis().Span = p.PairXMax;
    g.yAxis().Span = p.PairYMax;
    // The curves' first and last points lie on the ends of the axes: drawn with
    // a little room so that their markers are whole.
    g.xAxis().Margin = 0.03;
    g.yAxis().Margin = 0.03;
}

} // namespace

void ArN2GraphForm::DrawGasPairGraph() {
    const GasPairGraph& p = app_.module().GasPair();
    plot::Plot* g = ArN2Graph;
    g->Clear();
    app_.HideGasPairRanges();
    app_.HideInputPage();
    show();
    raise();
    g->setVisible(true);
    g->SetTitleText("Gas Pair Graph");
    g->SetTitleFontSize(10);
    AddCurves(*g, p);
    AddMeasured(*g, p);
    SetRanges(*g, p);
    g->Replot();
    Label3->setText(QString::fromStdString(p.Label3));
    Label4->setText(QString::fromStdString(p.Label4));
    Label3->setVisible(true);
    Label4->setVisible(true);
}

void ArN2GraphForm::Command1_Click() {
    hide();
    ArN2Graph->Clear();
    ArN2Graph->RemoveAllXAxes();
    ArN2Graph->RemoveAllYAxes();
    ArN2Graph->Replot();
    app_.HideInputPage();
    app_.ShowGasPairRanges();
}

} // namespace temra::ui
