#include "ui/stale_note.h"

#include "study/output/study_results.h"
#include "study/uncertainty/ensemble.h"

#include <algorithm>

namespace temra::ui {

void StaleNote::Drawn(const study::StudyOptions& options, std::vector<study::Sample> samples,
                      int table, QString tableName) {
    options_ = options;
    samples_ = std::move(samples);
    table_ = table;
    tableName_ = std::move(tableName);
    const std::string group =
        samples_.size() > 1 ? "group " + study::GroupKey(samples_.front().group) : std::string();
    name_ = QString::fromStdString(!group.empty()     ? group
                                   : samples_.empty() ? std::string("the sample")
                                                      : study::SampleLabel(samples_.front()));
    settings_.clear();
    tableGone_ = sampleGone_ = sampleChanged_ = false;
}

void StaleNote::CompareSettings(const study::StudyOptions& now) {
    settings_.clear();
    for (const std::string& change : study::ChangedSettings(options_, now, study::Words::kWindow))
        settings_ << QString::fromStdString(change);
}

void StaleNote::FollowTable(int table, const std::vector<study::Sample>& samples) {
    tableGone_ = table != table_;
    sampleGone_ = sampleChanged_ = false;
    if (tableGone_) return;
    for (const study::Sample& drawn : samples_) {
        const auto same = [&](const study::Sample& s) {
            return s.row == drawn.row && s.name == drawn.name;
        };
        const auto at = std::find_if(samples.begin(), samples.end(), same);
        if (at == samples.end())
            sampleGone_ = true;
        else if (!(*at == drawn))
            sampleChanged_ = true;
    }
}

QString StaleNote::Text() const {
    if (tableGone_) {
        const QString table = tableName_.isEmpty() ? QString("the table typed or pasted")
                                                   : "the table \"" + tableName_ + "\"";
        return QString("Out of date: this is %1 of %2, which is no longer open in the samples "
                       "window. Select a sample there and draw it again.")
            .arg(name_, table);
    }
    QStringList why;
    if (sampleGone_) why << name_ + " (or a member) was taken out of the table";
    if (sampleChanged_) why << "the values of " + name_ + " changed in the table";
    if (!settings_.isEmpty()) why << "a change of " + settings_.join("; ");
    if (why.isEmpty()) return {};
    return "Out of date: drawn with the grid, settings and values of its fit, before " +
           why.join("; and ") + ".";
}

} // namespace temra::ui
