#include "ui/misfit_window.h"

#include "plot/figure.h"
#include "plot/map_plot.h"
#include "study/contour.h"
#include "study/models.h"
#include "ui/temra_app.h"
#include "ui/widgets.h"

#include <qcustomplot.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace temra::ui {

MisfitWindow::MisfitWindow(TemraApp& app) : TemraWindow(app) {
    setObjectName("MisfitMap");
    setWindowTitle("Temra – Misfit map");
    Map = new plot::MapPlot(this);
    Map->setObjectName("Map");
    Map->SetDecimalPoint(QLatin1Char(app.module().run.DecimalSeparator));
    Summary = MakeLabel(this, "Summary", "");
    Summary->setWordWrap(true);
    Summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    OutOfDate = MakeLabel(this, "OutOfDate", "");
    OutOfDate->setWordWrap(true);
    OutOfDate->setStyleSheet("color: #9c2c00;");
    FitAgain = MakeButton(this, "FitAgain", "Fit again");
    FitAgain->setToolTip("Fits every sample of the samples window with the settings as they "
                         "stand and draws this sample's map again");
    auto* stale = new QHBoxLayout;
    stale->addWidget(OutOfDate, 1);
    stale->addWidget(FitAgain, 0, Qt::AlignTop);
    OutOfDate->hide();
    FitAgain->hide();
    auto* page = new QVBoxLayout(this);
    page->addWidget(Map, 1);
    page->addWidget(Summary);
    page->addLayout(stale);
    connect(FitAgain, &QPushButton::clicked, this, [this] { app_.FitSamplesAgain(); });
    plot::OfferFigureMenu(Map->Canvas(), [this] { return figureName_; });
    auto* save = new QShortcut(QKeySequence::Save, this);
    connect(save, &QShortcut::activated, this,
            [this] { plot::AskAndSaveFigure(this, Map->Canvas(), figureName_); });
    FitFirstSize(*this, 760, 560);
}

bool MisfitWindow::ShowSample(const study::Sample& sample, const study::StudyOptions& options) {
    study::MisfitMap map;
    const RunSettings& settings = app_.module().run;
    if (!app_.Run(this, "Computing the misfit map…",
                  [&](RunControl& c) { map = study::CaseMisfits(sample, options, settings, c); }))
        return false;
    if (!map.result.error.empty()) {
        app_.Inform(this,
                    QString::fromStdString("The sample cannot be mapped: " + map.result.error));
        return false;
    }
    options_ = options;
    Draw(map, options, sample.name);
    CompareSettings(options);
    figureName_ = QString::fromStdString("Misfit map " + sample.name);
    show();
    raise();
    return true;
}

namespace {

// One elevation: chi2 against temperature, the level chi2min + 1 and the best fit.
void DrawChi2Curve(plot::MapPlot& plot, const study::MisfitMap& map, const QString& title) {
    const SolubilityGrid& g = *map.plan.grid;
    const auto N = static_cast<std::size_t>(g.CaseCount);
    const study::StudyResult& r = map.result;
    std::vector<double> t(g.Temp.data(), g.Temp.data() + N);
    plot.SetCurve(t, map.chi2);
    plot.SetTitles(title, "Temperature (°C)", "χ²");
    plot.AddLevel(*std::min_element(t.begin(), t.end()), *std::max_element(t.begin(), t.end()),
                  r.chi2 + 1, "Δχ² = 1 (1σ range)");
    plot.AddMarker(r.temperature, std::max(r.chi2, 1e-300), "Best fit");
}

// Cells on the grid's steps, temperatures across and elevations up; over them the
// 1-sigma region's edge, the best fit and the MAAT line when the grid follows it.
// Returns the region's edge.
std::vector<std::array<double, 4>> DrawChi2Map(plot::MapPlot& plot, const study::MisfitMap& map,
                                               const QString& title) {
    const SolubilityGrid& g = *map.plan.grid;
    const auto N = static_cast<std::size_t>(g.CaseCount);
    const study::StudyResult& r = map.result;
    const double tStep = std::fabs(g.TempStep), hStep = std::fabs(g.ElevStep);
    const double tMin = *std::min_element(g.Temp.data(), g.Temp.data() + N);
    const double tMax = *std::max_element(g.Temp.data(), g.Temp.data() + N);
    const double hMin = std::min(map.plan.elevations.front().H, map.plan.elevations.back().H);
    const double hMax = std::max(map.plan.elevations.front().H, map.plan.elevations.back().H);
    const int nx = static_cast<int>(std::lround((tMax - tMin) / tStep)) + 1;
    const int ny = static_cast<int>(std::lround((hMax - hMin) / hStep)) + 1;
    std::vector<double> cells(static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny),
                              std::numeric_limits<double>::quiet_NaN());
    for (std::size_t k = 0; k < N; ++k) {
        const auto ix = std::lround((g.Temp[k] - tMin) / tStep);
        const auto iy = std::lround((g.Elev[k] - hMin) / hStep);
        if (ix >= 0 && ix < nx && iy >= 0 && iy < ny)
            cells[static_cast<std::size_t>(iy) * static_cast<std::size_t>(nx) +
                  static_cast<std::size_t>(ix)] = map.chi2[k];
    }
    plot.SetMap(nx, ny, tMin, tMin + (nx - 1) * tStep, hMin, hMin + (ny - 1) * hStep, cells, "χ²");
    plot.SetTitles(title, "Temperature (°C)", "Elevation (m)");
    std::vector<double> xs(static_cast<std::size_t>(nx)), ys(static_cast<std::size_t>(ny));
    for (int i = 0; i < nx; ++i) xs[static_cast<std::size_t>(i)] = tMin + i * tStep;
    for (int i = 0; i < ny; ++i) ys[static_cast<std::size_t>(i)] = hMin + i * hStep;
    // The region's contour from the continuous model where it was rastered,
    // else from the grid's cases.
    std::vector<std::array<double, 4>> contour =
        map.fine.empty() ? study::ContourSegments(cells, xs, ys, r.chi2 + 1)
                         : study::ContourSegments(map.fine, map.fineT, map.fineE, r.chi2 + 1);
    plot.AddSegments(contour, "Δχ² = 1 (1σ region)");
    plot.AddMarker(r.temperature, r.elevation, "Best fit");
    if (g.MaatInUse)
        plot.AddLine(tMin, g.MaatSlope * tMin + g.MaatIntercept, tMax,
                     g.MaatSlope * tMax + g.MaatIntercept, "MAAT: H = aT + b");
    return contour;
}

// The best fit as the samples window shows it; the grid the map is drawn on,
// which is the grid of the sample's fit, as its boxes mean it.
QString SummaryText(const study::MisfitMap& map, const study::StudyOptions& options, char sep) {
    const SolubilityGrid& g = *map.plan.grid;
    const auto N = static_cast<std::size_t>(g.CaseCount);
    const study::StudyResult& r = map.result;
    const auto full = [sep](double v) { return FullText(v, sep); };
    QString summary = QString("Best fit: %1 °C, %2 m, A = %3")
                          .arg(TemperatureText(r.temperature, sep), ElevationText(r.elevation, sep),
                               GlanceText(r.A, sep));
    if (r.second)
        summary += ", " + Q(study::InfoOf(options.model).params[1].symbol) + " = " +
                   GlanceText(r.second->value, sep);
    summary += QString::fromUtf8(", χ² = ") + GlanceText(r.chi2, sep);
    if (r.p) summary += ", p = " + GlanceText(*r.p, sep);
    summary += QString(" (nearest grid case %1)").arg(r.caseNo);
    const double tLo = *std::min_element(g.Temp.data(), g.Temp.data() + N);
    const double tHi = *std::max_element(g.Temp.data(), g.Temp.data() + N);
    const auto& els = map.plan.elevations;
    summary += map.plan.elevations.size() == 1
                   ? QString(". Grid: %1 m, %2 to %3 °C in steps of %4")
                         .arg(full(els.front().H), full(tLo), full(tHi), full(g.TempStep))
                   : QString(". Grid: %1 to %2 m in steps of %3, %4 to %5 °C in steps of %6")
                         .arg(full(std::min(els.front().H, els.back().H)),
                              full(std::max(els.front().H, els.back().H)), full(g.ElevStep),
                              full(tLo), full(tHi), full(g.TempStep));
    if (g.MaatInUse) summary += " along the MAAT equation";
    return summary + ".";
}

} // namespace

void MisfitWindow::Draw(const study::MisfitMap& map, const study::StudyOptions& options,
                        const std::string& name) {
    const study::StudyResult& r = map.result;
    Map->Clear();
    BestT = r.temperature;
    BestH = r.elevation;
    Chi2Min = r.chi2;
    Contour.clear();
    const QString title = QString::fromStdString("Misfit of " + name + " (" +
                                                 std::string(study::InfoOf(options.model).name) +
                                                 ", " + study::GasList(options.gases) + ")");
    if (map.plan.elevations.size() == 1)
        DrawChi2Curve(*Map, map, title);
    else
        Contour = DrawChi2Map(*Map, map, title);
    Map->Replot();
    Summary->setText(SummaryText(map, options, app_.module().run.DecimalSeparator));
}

void MisfitWindow::CompareSettings(const study::StudyOptions& now) {
    QStringList changed;
    for (const std::string& change : study::ChangedSettings(options_, now))
        changed << QString::fromStdString(change);
    OutOfDate->setText(changed.isEmpty()
                           ? QString()
                           : "Out of date: the map shows the grid and settings of its fit, made "
                             "before a change of " +
                                 changed.join("; ") + ".");
    OutOfDate->setVisible(!changed.isEmpty());
    FitAgain->setVisible(!changed.isEmpty());
}

} // namespace temra::ui
