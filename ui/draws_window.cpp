#include "ui/draws_window.h"

#include "plot/distribution_plot.h"
#include "plot/figure.h"
#include "study/models/models.h"
#include "ui/temra_app.h"
#include "ui/widgets.h"

#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <cmath>
#include <vector>

namespace temra::ui {

namespace {

constexpr int kBins = 30;

} // namespace

DrawsWindow::DrawsWindow(TemraApp& app) : TemraWindow(app) {
    setObjectName("DrawsWindow");
    setWindowTitle("Temra – Monte Carlo draws");
    Summary = MakeLabel(this, "Summary", "");
    Summary->setWordWrap(true);
    Summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* plots = new QGridLayout;
    const char* const names[] = {"HistogramT", "HistogramE", "HistogramA", "HistogramSecond"};
    for (std::size_t i = 0; i < Histogram.size(); ++i) {
        Histogram[i] = new plot::DistributionPlot(this);
        Histogram[i]->setObjectName(names[i]);
    }
    Pairs = new plot::DistributionPlot(this);
    Pairs->setObjectName("Pairs");
    for (plot::DistributionPlot* p :
         {Histogram[0], Histogram[1], Histogram[2], Histogram[3], Pairs}) {
        p->SetDecimalPoint(QLatin1Char(app.module().run.DecimalSeparator));
        plot::OfferFigureMenu(p->Canvas(), [this] { return figureName_; });
    }
    plots->addWidget(Histogram[0], 0, 0);
    plots->addWidget(Histogram[1], 0, 1);
    plots->addWidget(Pairs, 0, 2, 2, 1);
    plots->addWidget(Histogram[2], 1, 0);
    plots->addWidget(Histogram[3], 1, 1);
    OutOfDate = MakeLabel(this, "OutOfDate", "");
    OutOfDate->setWordWrap(true);
    OutOfDate->setStyleSheet("color: #9c2c00;");
    OutOfDate->hide();
    auto* page = new QVBoxLayout(this);
    page->addWidget(Summary);
    page->addWidget(OutOfDate);
    page->addLayout(plots, 1);
    FitFirstSize(*this, 900, 520);
}

bool DrawsWindow::ShowSample(const study::Sample& sample, const study::StudyOptions& options,
                             const study::McSummary& summary) {
    std::vector<study::McPoint> draws;
    const RunSettings& settings = app_.module().run;
    if (!app_.Run(this,
                  QString("Fitting the %1 draws of %2…")
                      .arg(summary.draws)
                      .arg(QString::fromStdString(study::SampleLabel(sample))),
                  [&](RunControl& c) {
                      draws = study::McDrawsOf(sample, summary.place, options, settings, c);
                  }))
        return false;
    Draw(draws, options, summary);
    const study::ModelInfo& model = study::InfoOf(options.model);
    Summary->setText(QString("%1: %2 of %3 draws fitted with %4 (seed %5), each drawn from the "
                             "measurements and their errors. Each histogram gives the median and "
                             "the 16th to 84th percentiles (shaded; the median dashed).")
                         .arg(QString::fromStdString(study::SampleLabel(sample)))
                         .arg(draws.size())
                         .arg(summary.draws)
                         .arg(Q(model.name))
                         .arg(options.mcSeed));
    figureName_ = QString::fromStdString("Monte Carlo draws " + study::SampleLabel(sample));
    stale_.Drawn(options, {sample}, app_.SamplesTable(), app_.SamplesTableName());
    SayIfStale();
    show();
    raise();
    return true;
}

void DrawsWindow::Draw(const std::vector<study::McPoint>& draws, const study::StudyOptions& options,
                       const study::McSummary& summary) {
    std::vector<double> T, E, A, second;
    for (const study::McPoint& d : draws) {
        T.push_back(d.T);
        E.push_back(d.E);
        A.push_back(d.A);
        if (d.second) second.push_back(*d.second);
    }
    const char sep = app_.module().run.DecimalSeparator;
    // Each histogram's title: the median and the 16th to 84th percentiles.
    const auto hist = [sep](plot::DistributionPlot& p, const std::vector<double>& v,
                            const study::Spread& s, const QString& name, const QString& unit,
                            QString (*text)(double, char)) {
        p.SetHistogram(v, kBins, s.p16, s.p50, s.p84,
                       unit.isEmpty() ? name : name + " (" + unit + ")");
        const QString u = unit.isEmpty() ? QString() : " " + unit;
        p.SetTitle(QString("%1: %2%3 (%4 to %5)")
                       .arg(name, text(s.p50, sep), u, text(s.p16, sep), text(s.p84, sep)));
    };
    hist(*Histogram[0], T, summary.T, "Temperature", "°C", TemperatureText);
    const bool free = summary.E.sd > 0;
    Histogram[1]->setVisible(free);
    if (free) hist(*Histogram[1], E, summary.E, "Elevation", "m", ElevationText);
    const study::ModelInfo& model = study::InfoOf(options.model);
    const auto axis = [](const study::ModelParam& p) {
        return p.unit.empty() ? Q(p.symbol) : Q(p.symbol) + " (" + Q(p.unit) + ")";
    };
    hist(*Histogram[2], A, summary.A, Q(model.params[0].symbol), Q(model.params[0].unit),
         GlanceText);
    Histogram[3]->setVisible(summary.second.has_value());
    if (summary.second)
        hist(*Histogram[3], second, *summary.second, Q(model.params[1].symbol),
             Q(model.params[1].unit), GlanceText);
    if (free)
        Pairs->SetScatter(T, E, "Temperature (°C)", "Elevation (m)");
    else
        Pairs->SetScatter(T, A, "Temperature (°C)", axis(model.params[0]));
    Pairs->SetTitle(free ? "Temperature against elevation" : "Temperature against A");
}

void DrawsWindow::CompareSettings(const study::StudyOptions& now) {
    stale_.CompareSettings(now);
    SayIfStale();
}

void DrawsWindow::FollowTable(int table, const std::vector<study::Sample>& samples) {
    stale_.FollowTable(table, samples);
    SayIfStale();
}

void DrawsWindow::SayIfStale() {
    QString text = stale_.Text();
    if (!text.isEmpty() && stale_.CanFitAgain())
        text += " Fit all with the settings as they stand, then show the sample's draws again "
                "(Fit ▸ Monte Carlo draws of the sample).";
    OutOfDate->setText(text);
    OutOfDate->setVisible(!text.isEmpty());
}

} // namespace temra::ui
