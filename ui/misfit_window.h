// The misfit map of one sample (or of a group fitted together: the members'
// summed misfit with its 1-sigma region, each member's own region faint beneath): chi2 of every
// grid case (at its best A, and F) over elevation x temperature on a logarithmic colour scale, the
// 1-sigma region's edge (chi2 = chi2min + 1) drawn over it, the best fit marked (the minimum of the
// continuous model, as the samples window shows it), and the MAAT line H = aT + b when the input
// page uses it. A sample with a known elevation shows chi2 against temperature instead, with the
// level chi2min + 1. With the lapse-rate prior a switch shows the posterior over the same cells
// instead, with the prior's line and the posterior median, and under it the marginals of
// temperature and elevation with their 68 % intervals. Under the map: its grid, and when the
// settings it was drawn with are no longer the study's, a note that says so and offers to fit
// again.
#pragma once

#include "study/fit/posterior.h"
#include "study/study_fit.h"
#include "ui/stale_note.h"
#include "ui/window.h"

#include <optional>

class QComboBox;
class QLabel;
class QPushButton;

namespace temra::plot {
class DistributionPlot;
class MapPlot;
} // namespace temra::plot

namespace temra::ui {

class MisfitWindow : public TemraWindow {
    Q_OBJECT
  public:
    explicit MisfitWindow(TemraApp& app);

    // Computes and draws the sample's map; false when it is refused (reported).
    bool ShowSample(const study::Sample& sample, const study::StudyOptions& options);
    // Computes and draws the map of a group fitted together (the ensemble fit):
    // the members' summed misfit; false when it is refused (reported).
    bool ShowGroup(const std::vector<study::Sample>& members, const study::StudyOptions& options);
    // Says whether the map is out of date: drawn with settings other than `now`,
    // or of samples no longer in the samples window's table as they were.
    void CompareSettings(const study::StudyOptions& now);
    void FollowTable(int table, const std::vector<study::Sample>& samples);

    plot::MapPlot* Map;
    // With the lapse-rate prior: the misfit or the posterior, and the marginals.
    QComboBox* ViewChoice;
    QWidget* Marginals;
    plot::DistributionPlot *MarginalT, *MarginalE;
    QLabel *Summary, *OutOfDate;
    QPushButton* FitAgain;
    // What the last map holds (for tests): the best fit's (T, H) and chi2, and
    // the region's edge.
    double BestT = 0, BestH = 0, Chi2Min = 0;
    std::vector<std::array<double, 4>> Contour;

    enum View { kMisfit = 0, kPosterior = 1 };

  private:
    study::StudyOptions options_; // those the map was drawn with
    StaleNote stale_;
    void SayIfStale();
    study::MisfitMap map_; // what is drawn
    std::optional<study::PosteriorDetail> posterior_;
    std::optional<study::GroupMap> group_; // a group's map instead of map_
    std::string name_;
    void Draw();
    void DrawGroup();
    void DrawMarginals();

    QString figureName_ = "Misfit map"; // the name a saved figure is offered
};

} // namespace temra::ui
