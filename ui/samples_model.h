// The table of samples of the samples window: one row per sample with its texts
// (name, the seven gases, their errors, chloride, density, elevation), editable,
// and beside them the results of the last fit. A cell that would make its sample
// an error row is marked, with the reason as its tooltip; a poor fit or a result
// at the edge of the grid is marked in colour; every flag is explained in words
// in the tooltip and the row's note; a blank cell of a fitted gas says the
// sample is fitted without it. Results are shown at a glance and in full in the tooltips; results
// whose grid or settings have changed since the fit are greyed and say what
// changed. Cell edits, pasted or added rows and deleted rows go through an undo
// stack.
#pragma once

#include "study/input/sample_values.h"
#include "study/output/study_results.h"

#include <QAbstractTableModel>
#include <QStringList>

#include <map>
#include <optional>
#include <string_view>
#include <vector>

class QUndoStack;

namespace temra::ui {

class SamplesModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit SamplesModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // A cell edit, undoable.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    std::vector<study::Sample> Samples() const;
    const study::Sample& SampleAt(int row) const {
        return rows_[static_cast<std::size_t>(row)].sample;
    }
    // A table opened: new samples, no results, nothing to undo.
    void SetSamples(std::vector<study::Sample> samples);
    // Rows added at the end (pasted or added), undoable; they are numbered after
    // the table's last row. `what` names the step in Undo's text ("a row added"
    // or "3 rows pasted" when empty).
    void AppendSamples(std::vector<study::Sample> samples, QString what = {});
    void AddRow();
    // Deletes the rows, undoable.
    void RemoveRows(std::vector<int> rows);
    // The rows numbered as a table saved from the window numbers them (the
    // header is row 1).
    void NumberAsSaved();
    QUndoStack* UndoStack() const { return undo_; }

    // The options the cells are checked against, and the results compared with.
    void SetOptions(const study::StudyOptions& options, char separator);
    // The results of a fit of the samples as they are now, row by row, with the
    // options they were made with.
    void SetResults(std::vector<study::StudyResult> results, const study::StudyOptions& options);
    const std::optional<study::StudyResult>& ResultAt(int row) const {
        return rows_[static_cast<std::size_t>(row)].result;
    }
    bool HasResults() const;
    // The options of the results shown.
    const study::StudyOptions& FitOptions() const { return fitted_; }
    // What has changed since the fit ("Temperature step: 1, now 0.5"); empty when
    // the results are those of the settings as they stand.
    const QStringList& OutOfDate() const { return outOfDate_; }
    // The window's column of the result column `name` (as the CSV names it, e.g.
    // "temperature_C"); -1 when the window does not show it. The result columns
    // follow the sample's own, drawn from the table of result columns.
    int ResultColumnOf(std::string_view name) const;
    // Whether a column is one the window shows for some results only (the
    // parameters of some models) and no result shown fills it.
    bool UnusedColumn(int column) const;
    // Every model's result for a row, when every model was fitted and the row is
    // as it was fitted; nullptr otherwise.
    const std::vector<study::StudyResult>* ModelResultsAt(int row) const;
    // The results as the CSV and the workbook give them: a row per sample, or,
    // comparing models, a row per sample and model; a row changed since the fit is
    // said to be so.
    std::vector<study::StudyResult> ResultsToExport() const;
    // A sample's Monte Carlo summary in words, for the line under the table.
    QString MonteCarloNote(const study::McSummary& mc) const;
    // A row's result (or its refusal) in full, for the status line.
    QString ResultNote(int row) const;

    // The meaning of a result flag ("edge-T", "poor-fit", "missing:Kr-84", ...).
    static QString FlagMeaning(const std::string& flag);

  private:
    struct Row {
        study::Sample sample;
        std::optional<study::StudyResult> result;
        int fit = 0; // the fit the result came from
        std::vector<study::CellProblem> problems;
    };
    friend class EditCell;
    friend class InsertRows;
    friend class DeleteRows;

    QVariant SampleData(const Row& row, int column, int role) const;
    QVariant ResultData(const study::StudyResult& r, int column, int role) const;
    static QVariant ResultBackground(const study::StudyResult& r, bool stale);
    QString ResultTip(const study::StudyResult& r, int column, bool stale) const;
    QVariant ResultText(const study::StudyResult& r, int column) const;
    // The result column a window column shows; nullptr for a sample's column.
    const study::ResultColumn* ResultColumnAt(int column) const;
    // The number a result column holds; nothing for a column without one.
    std::optional<double> ResultNumber(const study::StudyResult& r, int column) const;
    void CheckRow(Row& row) const;
    void SetText(int row, int column, const std::string& text,
                 const std::optional<study::StudyResult>& result, int fit);
    void InsertAt(const std::vector<std::pair<int, Row>>& rows);
    std::vector<std::pair<int, Row>> TakeRows(std::vector<int> rows);
    std::size_t NextRowNumber() const;

    std::vector<Row> rows_;
    std::vector<study::ResultColumn> columns_; // the result columns the window shows, in order
    // Every model's results of the last fit with every model, by the sample's row
    // number.
    std::map<std::size_t, std::vector<study::StudyResult>> compared_;
    study::StudyOptions options_, fitted_;
    QStringList outOfDate_;
    char separator_ = '.';
    int fit_ = 0; // the fit the results shown come from
    QUndoStack* undo_;
};

// A table of samples as the window takes it in, with what it says about it.
struct SampleBlock {
    std::vector<study::Sample> samples;
    std::vector<std::string> ignored; // the names of columns the window does not read
    char decimal = '.';               // the decimal separator its numbers were read with
    std::vector<std::string> notes;   // what reading it converted, said once
};

// The samples of a table read from a file or pasted, with its header row (column
// names as in a table of samples). Numbers are read with the user's decimal
// separator `separator` ('.' as well), except in a comma-separated table, whose
// numbers can only have '.' (an unquoted decimal comma would split them): these
// are taken with `separator` in place of '.'. A row with more fields than the
// header is refused (a study::TableError naming it).
SampleBlock SamplesOfTable(const study::SampleTable& table, char separator);

// A block of text pasted from a spreadsheet (tab-separated), with its header row
// or without: then its columns must be all of the window's, in order (a block
// of another width is refused with its count and the order expected).
SampleBlock SamplesFromText(const QString& text, char separator);

} // namespace temra::ui
