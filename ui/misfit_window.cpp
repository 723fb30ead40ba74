#include "ui/misfit_window.h"

#include "plot/distribution_plot.h"
#include "plot/figure.h"
#include "plot/map_plot.h"
#include "study/fit/contour.h"
#include "study/models/models.h"
#include "study/uncertainty/ensemble.h"
#include "ui/temra_app.h"
#include "ui/widgets.h"

#include <qcustomplot.h>

#include <QComboBox>
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
    ViewChoice = new QComboBox(this);
    ViewChoice->setObjectName("ViewChoice");
    ViewChoice->addItems({"Misfit (χ²)", "Posterior with the lapse-rate prior"});
    ViewChoice->setToolTip("The misfit of the gases alone, or the posterior: the misfit "
                           "weighed by the prior on the temperature around the MAAT line");
    Marginals = new QWidget(this);
    Marginals->setObjectName("Marginals");
    MarginalT = new plot::DistributionPlot(Marginals);
    MarginalE = new plot::DistributionPlot(Marginals);
    for (plot::DistributionPlot* m : {MarginalT, MarginalE}) {
        m->SetDecimalPoint(QLatin1Char(app.module().run.DecimalSeparator));
        m->setMinimumHeight(150);
        m->setMaximumHeight(190);
    }
    auto* marginals = new QHBoxLayout(Marginals);
    marginals->setContentsMargins(0, 0, 0, 0);
    marginals->addWidget(MarginalT);
    marginals->addWidget(MarginalE);
    ViewChoice->hide();
    Marginals->hide();
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
    page->addWidget(ViewChoice, 0, Qt::AlignLeft);
    page->addWidget(Map, 1);
    page->addWidget(Marginals);
    page->addWidget(Summary);
    page->addLayout(stale);
    connect(FitAgain, &QPushButton::clicked, this, [this] { app_.FitSamplesAgain(); });
    connect(ViewChoice, &QComboBox::currentIndexChanged, this, [this] { Draw(); });
    plot::OfferFigureMenu(Map->Canvas(), [this] { return figureName_; });
    auto* save = new QShortcut(QKeySequence::Save, this);
    connect(save, &QShortcut::activated, this,
            [this] { plot::AskAndSaveFigure(this, Map->Canvas(), figureName_); });
    FitFirstSize(*this, 760, 680);
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
    stale_.Drawn(options, {sample}, app_.SamplesTable(), app_.SamplesTableName());
    posterior_ = study::PosteriorOfMap(map, options);
    map_ = std::move(map);
    group_.reset();
    name_ = study::SampleLabel(sample);
    Draw();
    CompareSettings(options);
    figureName_ = QString::fromStdString("Misfit map " + study::SampleLabel(sample));
    show();
    raise();
    return true;
}

bool MisfitWindow::ShowGroup(const std::vector<study::Sample>& members,
                             const study::StudyOptions& options) {
    study::GroupMap group;
    const RunSettings& settings = app_.module().run;
    if (!app_.Run(this, "Computing the group's misfit map…", [&](RunControl& c) {
            group = study::GroupMisfits(members, options, settings, c);
        }))
        return false;
    if (group.chi2.empty()) {
        app_.Inform(this, "The group cannot be mapped: fewer than two of its members could be "
                          "fitted together.");
        return false;
    }
    options_ = options;
    stale_.Drawn(options, members, app_.SamplesTable(), app_.SamplesTableName());
    posterior_.reset();
    group_ = std::move(group);
    name_ = members.empty() ? std::string() : study::GroupKey(members.front().group);
    Draw();
    CompareSettings(options);
    figureName_ = QString::fromStdString("Misfit map of group " + name_);
    show();
    raise();
    return true;
}

namespace {

// One elevation: chi2 against temperature, the level chi2min + 1 and the best fit
// (T, chi2).
void DrawChi2Curve(plot::MapPlot& plot, const GridPlan& plan, const std::vector<double>& chi2,
                   double bestT, double bestChi2, const QString& title, const QString& axis) {
    const SolubilityGrid& g = *plan.grid;
    const auto N = static_cast<std::size_t>(g.CaseCount);
    std::vector<double> t(g.Temp.data(), g.Temp.data() + N);
    plot.SetCurve(t, chi2);
    plot.SetTitles(title, "Temperature (°C)", axis);
    plot.AddLevel(*std::min_element(t.begin(), t.end()), *std::max_element(t.begin(), t.end()),
                  bestChi2 + 1, "Δχ² = 1 (1σ range)");
    plot.AddMarker(bestT, std::max(bestChi2, 1e-300), "Best fit");
}

// A value of each grid case as cells on the grid's steps, temperatures across and
// elevations up (NaN where no case lies).
struct Raster {
    int nx = 0, ny = 0;
    double tMin = 0, tMax = 0, hMin = 0, tStep = 1, hStep = 1;
    std::vector<double> cells, xs, ys;
};

Raster RasterOf(const GridPlan& plan, const std::vector<double>& perCase) {
    const SolubilityGrid& g = *plan.grid;
    const auto N = std::min(static_cast<std::size_t>(g.CaseCount), perCase.size());
    Raster r;
    r.tStep = std::fabs(g.TempStep);
    r.hStep = std::fabs(g.ElevStep);
    r.tMin = *std::min_element(g.Temp.data(), g.Temp.data() + g.CaseCount);
    r.tMax = *std::max_element(g.Temp.data(), g.Temp.data() + g.CaseCount);
    r.hMin = std::min(plan.elevations.front().H, plan.elevations.back().H);
    const double hMax = std::max(plan.elevations.front().H, plan.elevations.back().H);
    r.nx = static_cast<int>(std::lround((r.tMax - r.tMin) / r.tStep)) + 1;
    r.ny = static_cast<int>(std::lround((hMax - r.hMin) / r.hStep)) + 1;
    r.cells.assign(static_cast<std::size_t>(r.nx) * static_cast<std::size_t>(r.ny),
                   std::numeric_limits<double>::quiet_NaN());
    for (std::size_t k = 0; k < N; ++k) {
        const auto ix = std::lround((g.Temp[k] - r.tMin) / r.tStep);
        const auto iy = std::lround((g.Elev[k] - r.hMin) / r.hStep);
        if (ix >= 0 && ix < r.nx && iy >= 0 && iy < r.ny)
            r.cells[static_cast<std::size_t>(iy) * static_cast<std::size_t>(r.nx) +
                    static_cast<std::size_t>(ix)] = perCase[k];
    }
    for (int i = 0; i < r.nx; ++i) r.xs.push_back(r.tMin + i * r.tStep);
    for (int i = 0; i < r.ny; ++i) r.ys.push_back(r.hMin + i * r.hStep);
    return r;
}

void SetRaster(plot::MapPlot& plot, const Raster& r, const QString& scaleTitle,
               plot::MapPlot::Scale scale) {
    plot.SetMap(r.nx, r.ny, r.tMin, r.xs.back(), r.hMin, r.ys.back(), r.cells, scaleTitle, scale);
}

// The MAAT line H = aT + b: where the grid follows it, or `always` (the group's
// map, where it places a shared recharge against the air's temperature).
void AddMaatLine(plot::MapPlot& plot, const SolubilityGrid& g, const Raster& r,
                 bool always = false) {
    if (g.MaatInUse || always)
        plot.AddLine(r.tMin, g.MaatSlope * r.tMin + g.MaatIntercept, r.tMax,
                     g.MaatSlope * r.tMax + g.MaatIntercept, "MAAT: H = aT + b");
}

// The lapse-rate prior's line: the MAAT line's temperature plus the offset.
void AddPriorLine(plot::MapPlot& plot, const SolubilityGrid& g, const Raster& r,
                  const study::StudyOptions& options) {
    const auto lineH = [&](double T) {
        return g.MaatSlope * (T - options.priorOffset) + g.MaatIntercept;
    };
    plot.AddLine(r.tMin, lineH(r.tMin), r.tMax, lineH(r.tMax),
                 options.priorOffset == 0 ? QString("Prior: the MAAT line")
                                          : QString("Prior: the MAAT line %1 %2 °C")
                                                .arg(options.priorOffset > 0 ? "+" : "−")
                                                .arg(std::fabs(options.priorOffset)),
                 true);
}

// The misfit's cells; over them the 1-sigma region's edge, the best fit, the
// MAAT line when the grid follows it and the prior's line when there is one.
// Returns the region's edge.
std::vector<std::array<double, 4>> DrawChi2Map(plot::MapPlot& plot, const study::MisfitMap& map,
                                               const study::StudyOptions& options,
                                               const QString& title) {
    const study::StudyResult& r = map.result;
    const Raster raster = RasterOf(map.plan, map.chi2);
    SetRaster(plot, raster, "χ²", plot::MapPlot::Scale::kMisfit);
    plot.SetTitles(title, "Temperature (°C)", "Elevation (m)");
    // The region's contour from the continuous model where it was rastered,
    // else from the grid's cases.
    std::vector<std::array<double, 4>> contour =
        map.fine.empty() ? study::ContourSegments(raster.cells, raster.xs, raster.ys, r.chi2 + 1)
                         : study::ContourSegments(map.fine, map.fineT, map.fineE, r.chi2 + 1);
    plot.AddSegments(contour, "Δχ² = 1 (1σ region)");
    plot.AddMarker(r.temperature, r.elevation, "Best fit");
    AddMaatLine(plot, *map.plan.grid, raster);
    if (options.prior) AddPriorLine(plot, *map.plan.grid, raster, options);
    return contour;
}

// The posterior's cells, each case's weight over the largest; over them the
// prior's line (the MAAT line's temperature plus the offset), the posterior
// median and the best fit of the gases alone.
void DrawPosteriorMap(plot::MapPlot& plot, const study::MisfitMap& map,
                      const study::PosteriorDetail& posterior, const study::StudyOptions& options,
                      const QString& title) {
    const SolubilityGrid& g = *map.plan.grid;
    const Raster raster = RasterOf(map.plan, posterior.weight);
    SetRaster(plot, raster, "Posterior (share of its peak)", plot::MapPlot::Scale::kShare);
    plot.SetTitles(title, "Temperature (°C)", "Elevation (m)");
    AddPriorLine(plot, g, raster, options);
    plot.AddMarker(posterior.summary.T.value, posterior.summary.E.value, "Posterior median", true);
    plot.AddMarker(map.result.temperature, map.result.elevation, "Best fit of the gases");
}

// The first member's row fitted with the group: the group's T and E, its fit.
const study::StudyResult* GroupRow(const study::GroupMap& group) {
    for (const study::StudyResult& r : group.results)
        if (r.error.empty() && r.group && r.group->members > 1) return &r;
    return nullptr;
}

// The group's summed misfit with its 1-sigma region's edge; beneath it, faint,
// each member's own region (its least misfit + 1); the group's best and the
// MAAT line. Returns the group region's edge.
std::vector<std::array<double, 4>> DrawGroupMap(plot::MapPlot& plot, const study::GroupMap& group,
                                                const study::StudyResult& best,
                                                const QString& title) {
    const Raster raster = RasterOf(group.plan, group.chi2);
    SetRaster(plot, raster, "Σχ² of the group", plot::MapPlot::Scale::kMisfit);
    plot.SetTitles(title, "Temperature (°C)", "Elevation (m)");
    // Each member's region around its least misfit: on the continuous models'
    // raster where there is one, else on the grid's cases.
    std::vector<std::array<double, 4>> members;
    const auto addRegion = [&](const std::vector<double>& cells, const std::vector<double>& xs,
                               const std::vector<double>& ys) {
        double least = std::numeric_limits<double>::infinity();
        for (double v : cells)
            if (std::isfinite(v)) least = std::min(least, v);
        if (!std::isfinite(least)) return;
        const auto edge = study::ContourSegments(cells, xs, ys, least + 1);
        members.insert(members.end(), edge.begin(), edge.end());
    };
    if (!group.memberFine.empty()) {
        for (const std::vector<double>& m : group.memberFine)
            addRegion(m, group.memberFineT, group.memberFineE);
    } else {
        for (const std::vector<double>& m : group.members) {
            const Raster own = RasterOf(group.plan, m);
            addRegion(own.cells, own.xs, own.ys);
        }
    }
    plot.AddSegments(members, "Each member's own Δχ² = 1", true);
    // The region's contour from the continuous models where they were rastered.
    const double level = best.group->chi2 + 1;
    std::vector<std::array<double, 4>> contour =
        group.fine.empty() ? study::ContourSegments(raster.cells, raster.xs, raster.ys, level)
                           : study::ContourSegments(group.fine, group.fineT, group.fineE, level);
    plot.AddSegments(contour, "The group's Δχ² = 1 (1σ region)");
    plot.AddMarker(best.temperature, best.elevation, "The group's best fit");
    AddMaatLine(plot, *group.plan.grid, raster, true);
    return contour;
}

// The grid a map is drawn on, as its boxes mean it.
QString GridText(const GridPlan& plan, char sep) {
    const SolubilityGrid& g = *plan.grid;
    const auto N = static_cast<std::size_t>(g.CaseCount);
    const auto full = [sep](double v) { return FullText(v, sep); };
    const double tLo = *std::min_element(g.Temp.data(), g.Temp.data() + N);
    const double tHi = *std::max_element(g.Temp.data(), g.Temp.data() + N);
    const auto& els = plan.elevations;
    QString text = els.size() == 1
                       ? QString("Grid: %1 m, %2 to %3 °C in steps of %4")
                             .arg(full(els.front().H), full(tLo), full(tHi), full(g.TempStep))
                       : QString("Grid: %1 to %2 m in steps of %3, %4 to %5 °C in steps of %6")
                             .arg(full(std::min(els.front().H, els.back().H)),
                                  full(std::max(els.front().H, els.back().H)), full(g.ElevStep),
                                  full(tLo), full(tHi), full(g.TempStep));
    if (g.MaatInUse) text += " along the MAAT equation";
    return text + ".";
}

// The group's fit: its members, shared T and E with their ranges, its chi2,
// degrees of freedom and p; the members fitted apart; the grid.
QString GroupText(const study::GroupMap& group, const study::StudyResult& best, char sep) {
    QStringList together, apart;
    for (const study::StudyResult& r : group.results) {
        if (r.error.empty() && r.group && r.group->members > 1)
            together << Q(r.sample);
        else
            apart << Q(r.sample) + " (" + Q(r.error.empty() ? r.leftOut : r.error) + ")";
    }
    const study::GroupFit& fit = *best.group;
    QString text =
        QString("Group %1, %2 members fitted together (%3): %4 °C, %5 m")
            .arg(Q(fit.name))
            .arg(fit.members)
            .arg(together.join(", "),
                 RangeText(best.temperature, best.temperatureLo, best.temperatureHi, sep,
                           TemperatureText),
                 RangeText(best.elevation, best.elevationLo, best.elevationHi, sep, ElevationText));
    text +=
        QString(", Σχ² = %1, %2 degrees of freedom").arg(GlanceText(fit.chi2, sep)).arg(fit.dof);
    if (fit.p) text += ", p = " + GlanceText(*fit.p, sep);
    if (fit.p && *fit.p < 0.01) text += " (group-misfit: the members may not share one recharge)";
    text += ".";
    if (!apart.isEmpty()) text += " Not in the group's fit: " + apart.join("; ") + ".";
    return text + " " + GridText(group.plan, sep);
}

// The best fit as the samples window shows it; the grid the map is drawn on,
// which is the grid of the sample's fit, as its boxes mean it.
QString SummaryText(const study::MisfitMap& map, const study::StudyOptions& options, char sep) {
    const study::StudyResult& r = map.result;
    QString summary = QString("Best fit: %1 °C, %2 m, A = %3")
                          .arg(TemperatureText(r.temperature, sep), ElevationText(r.elevation, sep),
                               GlanceText(r.A, sep));
    if (r.second)
        summary += ", " + Q(study::InfoOf(options.model).params[1].symbol) + " = " +
                   GlanceText(r.second->value, sep);
    summary += QString::fromUtf8(", χ² = ") + GlanceText(r.chi2, sep);
    if (r.p) summary += ", p = " + GlanceText(*r.p, sep);
    summary += QString(" (nearest grid case %1). ").arg(r.caseNo);
    return summary + GridText(map.plan, sep);
}

// The posterior's medians and 68 % intervals, and the prior they come from.
QString PosteriorText(const study::Posterior& p, const study::StudyOptions& options, char sep) {
    QString text = options.priorSd > 0 ? QString("With the lapse-rate prior (%1 °C about the "
                                                 "MAAT line")
                                             .arg(FullText(options.priorSd, sep))
                                       : QString("With the lapse-rate prior (on the MAAT line");
    if (options.priorOffset != 0)
        text += QString(", offset %1 °C").arg(FullText(options.priorOffset, sep));
    text += "): " + RangeText(p.T.value, p.T.lo, p.T.hi, sep, TemperatureText) + " °C, " +
            RangeText(p.E.value, p.E.lo, p.E.hi, sep, ElevationText) +
            " m (medians and 68 % intervals)";
    if (p.cut) text += "; an interval reaches the grid's end, which cuts it";
    return text + ".";
}

} // namespace

void MisfitWindow::DrawGroup() {
    const study::StudyResult& best = *GroupRow(*group_);
    Map->Clear();
    BestT = best.temperature;
    BestH = best.elevation;
    Chi2Min = best.group->chi2;
    Contour.clear();
    ViewChoice->hide();
    Marginals->hide();
    const QString title = QString::fromStdString("Misfit of group " + name_ + " (" +
                                                 std::string(study::InfoOf(options_.model).name) +
                                                 ", " + study::GasList(options_.gases) + ")");
    if (group_->plan.elevations.size() == 1)
        DrawChi2Curve(*Map, group_->plan, group_->chi2, best.temperature, best.group->chi2, title,
                      "Σχ²");
    else
        Contour = DrawGroupMap(*Map, *group_, best, title);
    Map->Replot();
    Summary->setText(GroupText(*group_, best, app_.module().run.DecimalSeparator));
}

void MisfitWindow::Draw() {
    if (group_) {
        DrawGroup();
        return;
    }
    const study::StudyResult& r = map_.result;
    Map->Clear();
    BestT = r.temperature;
    BestH = r.elevation;
    Chi2Min = r.chi2;
    Contour.clear();
    const std::string what = std::string(study::InfoOf(options_.model).name) + ", " +
                             study::GasList(options_.gases) + ")";
    const bool curve = map_.plan.elevations.size() == 1;
    const bool posterior = posterior_ && !curve && !posterior_->weight.empty();
    ViewChoice->setVisible(posterior);
    if (curve)
        DrawChi2Curve(*Map, map_.plan, map_.chi2, r.temperature, r.chi2,
                      QString::fromStdString("Misfit of " + name_ + " (" + what), "χ²");
    else if (posterior && ViewChoice->currentIndex() == kPosterior)
        DrawPosteriorMap(*Map, map_, *posterior_, options_,
                         QString::fromStdString("Posterior of " + name_ + " (" + what));
    else
        Contour = DrawChi2Map(*Map, map_, options_,
                              QString::fromStdString("Misfit of " + name_ + " (" + what));
    Map->Replot();
    const char sep = app_.module().run.DecimalSeparator;
    QString summary = SummaryText(map_, options_, sep);
    if (posterior_) summary += " " + PosteriorText(posterior_->summary, options_, sep);
    Summary->setText(summary);
    DrawMarginals();
}

void MisfitWindow::DrawMarginals() {
    Marginals->setVisible(posterior_.has_value());
    if (!posterior_) return;
    const study::PosteriorDetail& p = *posterior_;
    const SolubilityGrid& g = *map_.plan.grid;
    const char sep = app_.module().run.DecimalSeparator;
    const auto draw = [&](plot::DistributionPlot& plot, const study::MarginalCells& cells,
                          const study::Estimate& e, double step, const QString& name,
                          const QString& axis, QString (*text)(double, char), const char* unit) {
        plot.SetBars(cells.centre, cells.mass, step, e.value, e.lo, e.hi, axis, "Posterior share");
        plot.SetTitle(QString("%1: %2 %4 (%3)")
                          .arg(name, text(e.value, sep), text(e.lo, sep) + " to " + text(e.hi, sep),
                               QString::fromUtf8(unit)));
    };
    draw(*MarginalT, p.T, p.summary.T, std::fabs(g.TempStep), "Temperature", "Temperature (°C)",
         TemperatureText, "°C");
    const bool elevations = map_.plan.elevations.size() > 1;
    MarginalE->setVisible(elevations);
    if (elevations)
        draw(*MarginalE, p.E, p.summary.E, std::fabs(g.ElevStep), "Elevation", "Elevation (m)",
             ElevationText, "m");
}

void MisfitWindow::CompareSettings(const study::StudyOptions& now) {
    stale_.CompareSettings(now);
    SayIfStale();
}

void MisfitWindow::FollowTable(int table, const std::vector<study::Sample>& samples) {
    stale_.FollowTable(table, samples);
    SayIfStale();
}

void MisfitWindow::SayIfStale() {
    const QString text = stale_.Text();
    OutOfDate->setText(text);
    OutOfDate->setVisible(!text.isEmpty());
    FitAgain->setVisible(stale_.CanFitAgain());
}

} // namespace temra::ui
