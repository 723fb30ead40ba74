// What makes a drawing of fitted samples (a misfit map, a sample's Monte Carlo
// draws) out of date, said under it: the study's settings changed since it was
// drawn, one of its samples changed or was taken out of the table, or the table
// it came from is no longer the one open in the samples window.
#pragma once

#include "study/input/samples.h"
#include "study/study_options.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace temra::ui {

class StaleNote {
  public:
    // A new drawing: of `samples` from the samples window's table `table` (a
    // number it gives each table it opens) named `tableName`, with `options`.
    void Drawn(const study::StudyOptions& options, std::vector<study::Sample> samples, int table,
               QString tableName);
    // The study's settings as they stand now.
    void CompareSettings(const study::StudyOptions& now);
    // The samples window's table as it stands now.
    void FollowTable(int table, const std::vector<study::Sample>& samples);

    // Empty while the drawing is up to date.
    QString Text() const;
    // Fitting the table again can bring the drawing up to date: its table is
    // still open and its samples are in it.
    bool CanFitAgain() const { return !Text().isEmpty() && !tableGone_ && !sampleGone_; }

  private:
    study::StudyOptions options_;
    std::vector<study::Sample> samples_;
    int table_ = 0;
    QString tableName_, name_;
    QStringList settings_;
    bool tableGone_ = false, sampleGone_ = false, sampleChanged_ = false;
};

} // namespace temra::ui
