// The Monte Carlo draws of one sample: the histograms of its fitted temperature,
// elevation (when free), excess air A and the model's second parameter, each
// with its 16th to 84th percentiles shaded and its median drawn, and the draws'
// temperature against elevation (or against A at a known elevation). The draws
// are those the sample's summary was made from: the same seed and place in the
// table give the same numbers.
#pragma once

#include "study/uncertainty/monte_carlo.h"
#include "ui/stale_note.h"
#include "ui/window.h"

#include <array>
#include <vector>

class QLabel;

namespace temra::plot {
class DistributionPlot;
}

namespace temra::ui {

class DrawsWindow : public TemraWindow {
    Q_OBJECT
  public:
    explicit DrawsWindow(TemraApp& app);

    // Fits the sample's draws again and shows them; false when refused or
    // cancelled (reported; what was shown stays).
    bool ShowSample(const study::Sample& sample, const study::StudyOptions& options,
                    const study::McSummary& summary);

    // Says whether the draws are out of date, as the misfit map does.
    void CompareSettings(const study::StudyOptions& now);
    void FollowTable(int table, const std::vector<study::Sample>& samples);

    QLabel *Summary, *OutOfDate;
    // T, elevation, A, the second parameter; the pair of parameters.
    std::array<plot::DistributionPlot*, 4> Histogram{};
    plot::DistributionPlot* Pairs;

  private:
    StaleNote stale_;
    void SayIfStale();
    // The histograms and the pairs of the draws fitted.
    void Draw(const std::vector<study::McPoint>& draws, const study::StudyOptions& options,
              const study::McSummary& summary);
    QString figureName_ = "Monte Carlo draws";
};

} // namespace temra::ui
