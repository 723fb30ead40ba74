// The samples window: a table of samples (opened from a CSV file, pasted from a
// spreadsheet, typed), the settings of the study fit beside it, and the fit of
// them all, with each sample's results beside it. A sample can be sent to the
// input page, shown as a misfit map, and the results exported as a workbook.
#pragma once

#include "study/study_fit.h"
#include "ui/window.h"

#include <array>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace temra::ui {

class SamplesModel;

class SamplesWindow : public TemraWindow {
    Q_OBJECT
  public:
    explicit SamplesWindow(TemraApp& app);

    // Reads a table of samples; a table that cannot be read is reported.
    bool OpenFile(const QString& path);
    // Asks for a file and opens it.
    void Open();
    // Adds the rows of a block copied from a spreadsheet.
    void Paste(const QString& text);
    void FitAll();
    void UseOnInputPage();
    void ShowMisfitMap();
    void ExportResults();

    // The settings of the fit, with the input page's grid; false (reported, the
    // box in focus) when a box holds no usable number.
    bool Options(study::StudyOptions& options);

    SamplesModel* Model() const { return model_; }
    QTableView* Table;
    QComboBox* ModelChoice;
    std::array<QCheckBox*, 7> Gas{};
    QLineEdit *RelErr, *AMax;
    QLabel *GridNote, *Status;
    QPushButton *OpenButton, *AddButton, *DeleteButton, *FitButton, *UseButton, *MapButton,
        *ExportButton;

  private:
    int SelectedRow() const;
    void CheckCells();
    void FitColumns();

    SamplesModel* model_;
    study::StudyOptions fitted_; // the options of the results shown
    QString source_;             // where the samples came from
};

} // namespace temra::ui
