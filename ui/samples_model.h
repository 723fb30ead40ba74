// The table of samples of the samples window: one row per sample with its texts
// (name, the seven gases, their errors, chloride, density, elevation), editable,
// and beside them the results of the last fit. A cell that would make its sample
// an error row is marked, with the reason as its tooltip; a poor fit or a result
// at the edge of the grid is marked in colour and says so in its flags.
#pragma once

#include "study/study_fit.h"

#include <QAbstractTableModel>

#include <optional>
#include <vector>

namespace temra::ui {

class SamplesModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    // The result columns after the sample's own.
    enum ResultColumn {
        kT = study::SampleColumn::kCount,
        kTLo,
        kTHi,
        kElevation,
        kElevationLo,
        kElevationHi,
        kA,
        kALo,
        kAHi,
        kF,
        kFLo,
        kFHi,
        kChi2,
        kP,
        kFlags,
        kColumnCount
    };

    explicit SamplesModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    const std::vector<study::Sample>& Samples() const { return samples_; }
    // New samples; the results go with the old ones.
    void SetSamples(std::vector<study::Sample> samples);
    void AppendSamples(const std::vector<study::Sample>& samples);
    void AddRow();
    void RemoveRows(std::vector<int> rows);
    // The options the cells are checked against.
    void SetOptions(const study::StudyOptions& options, char gridSeparator);
    // The results of a fit of the samples as they are now, row by row.
    void SetResults(std::vector<study::StudyResult> results);
    const std::optional<study::StudyResult>& ResultAt(int row) const { return results_[row]; }
    bool HasResults() const;

  private:
    QVariant ResultText(const study::StudyResult& r, int column) const;
    void CheckRow(int row);

    std::vector<study::Sample> samples_;
    std::vector<std::optional<study::StudyResult>> results_;
    std::vector<std::vector<study::CellProblem>> problems_;
    study::StudyOptions options_;
    char separator_ = '.';
};

// A block of text pasted from a spreadsheet (tab-separated), with its header row
// (column names as in a table of samples) or without (the window's columns in
// order, starting with the name).
std::vector<study::Sample> SamplesFromText(const QString& text);

} // namespace temra::ui
