// The samples window: a table of samples (opened from a CSV file, pasted from a
// spreadsheet, typed), the settings of the study fit above it, and the fit of
// them all. The table shows either the samples' measurements or their results,
// always beside the sample's name, which stays in place while the columns
// scroll; a fit brings the results into view, and the status line then says
// what the results cannot say by themselves. A sample can be sent to the input
// page, the input page's sample added as a row, a sample shown as a misfit map,
// the table saved as CSV and the results exported as a workbook. Edits, pastes,
// added and deleted rows can be undone.
#pragma once

#include "core/gas_table.h"
#include "study/models/models.h"
#include "study/study_fit.h"
#include "ui/window.h"

#include <array>
#include <map>
#include <optional>
#include <string>

class QAction;
class QCheckBox;
class QGroupBox;
class QHBoxLayout;
class QVBoxLayout;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenuBar;
class QPushButton;
class QTabBar;
class QTableWidget;
class QScrollArea;
class QTableView;

namespace temra::ui {

class SamplesModel;
struct SampleBlock;

class SamplesWindow : public TemraWindow {
    Q_OBJECT
  public:
    // A model's parameter, besides A, whose upper bound an option sets (the box
    // "Upper" and the bounds' dialog); nullptr when none.
    static const study::ModelParam* UpperParam(const study::ModelInfo& model);
    explicit SamplesWindow(TemraApp& app);

    // Reads a table of samples; a table that cannot be read is reported.
    bool OpenFile(const QString& path);
    // Asks for a file and opens it (after asking whether to drop unsaved changes).
    void Open();
    // Adds the rows of a block copied from a spreadsheet; a single value goes into
    // the current cell.
    void Paste(const QString& text);
    // Fits every sample; false when the fit was refused or cancelled (the earlier
    // results stay).
    bool FitAll();
    void UseOnInputPage();
    // The opposite: a row made from the input page's measured gases, density and
    // chloride, with blank errors (undoable), so that one sample can be fitted
    // with errors.
    void AddInputPageSample();
    // Asks whether the measured values the input page holds as its stored
    // defaults are measurements, and blanks them if not.
    void LeaveOutStoredDefaults(study::Sample& sample);
    void ShowMisfitMap();
    // The Monte Carlo draws of the selected sample, fitted again as its fit drew them.
    void ShowMonteCarloDraws();
    // The lapse-rate prior's offset from the MAAT line's temperature and its
    // spread (°C), as typed; false (reported, nothing changed) when either is no
    // number, or the spread is below 0.
    bool SetPriorSettings(const QString& offset, const QString& spread);
    // Asks for them (Fit ▸ Prior's offset and spread…).
    void AskPriorSettings();
    // Every model's bound and exponent as typed (by option); false (reported,
    // nothing changed) when one is no number or out of its range, naming its box.
    bool SetModelBounds(const std::map<std::string, QString>& texts);
    // Asks for them (Fit ▸ Bounds of the models…).
    void AskModelBounds();
    void ExportResults();
    // Writes the table as CSV (complete under its name, or not at all); false,
    // reported, when it cannot be written.
    bool SaveSamples(const QString& path);
    // Sets the window's settings of the fit (and the input page's grid) to `options`.
    void TakeOptions(const study::StudyOptions& options);
    // A "Study Results" workbook opened as the table: offers to take the settings
    // its study was fitted with, where they differ from the window's.
    void OfferFittedOptions(const QString& path);
    // Asks for a file name and saves the table; true when it was saved.
    bool Save();
    // Whether the table may be left as it stands: true when it has no changes since
    // it was opened or saved, or the user saves them or lets them go; false when
    // the user stays with it (Cancel, or a save that did not happen).
    bool MayLeaveTable();
    // "Fit again" from the misfit map: fits every sample and draws the map of the
    // same sample again.
    void FitAgainAndMap();
    // The input page or a setting of the fit has changed: the cells are checked
    // again and results fitted before the change are marked.
    void SettingsChanged();
    // The table: a number for each table opened, its file's name (empty while it
    // is typed or pasted), its samples as they stand.
    int TableNumber() const { return tableNumber_; }
    QString TableName() const { return tableName_; }
    std::vector<study::Sample> TableSamples() const;

    // The settings of the fit, with the input page's grid; false (reported, the
    // box in focus) when a box holds no usable number.
    bool Options(study::StudyOptions& options);

    enum View { kMeasurements = 0, kResults = 1 };
    // Shows the measurements or the results beside the samples' names.
    void ShowView(View view);

    SamplesModel* Model() const { return model_; }
    QTableView* Table;
    QTableView* Names; // the sample column, which stays in place
    QTabBar* ViewChoice;
    QComboBox* ModelChoice;
    QComboBox* SolubilityChoice;            // the solubility data set, by the table's order
    std::array<QCheckBox*, GasCount> Gas{}; // by gas index
    QLineEdit *RelErr, *AMax;
    // The upper bound of the chosen model's second parameter, where an option sets
    // it ("Largest R of PR"); hidden for the other models.
    QLabel* UpperLabel;
    QLineEdit* Upper;
    // The exponent of the chosen model's diffusivity ratio ("β of PD"); hidden for
    // the models without one.
    QLabel* BetaLabel;
    QLineEdit* Beta;
    // Comparing every model, in the place of those boxes: the bounds and exponents
    // of every model in a dialog (also Fit ▸ Bounds of the models…).
    QPushButton* BoundsButton;
    QCheckBox* PerGram;   // concentrations per gram of water
    QLineEdit* McDraws;   // Monte Carlo draws of each sample (0: none)
    QTableWidget* Models; // the current sample's fit with each model, side by side
    QLabel *GridNote, *RowNote, *Status;
    QScrollArea* StatusArea; // the status line, scrolling when it runs long
    QPushButton *OpenButton, *AddButton, *DeleteButton, *FitButton, *UseButton, *AddInputButton,
        *MapButton, *ExportButton;
    QMenuBar* MenuBar;
    QAction *SaveAction, *UndoAction, *RedoAction, *PasteAction;
    QAction* PriorAction;         // Fit ▸ Lapse-rate prior
    QAction* PriorSettingsAction; // Fit ▸ its offset and spread
    QAction* EnsembleAction;      // Fit ▸ the members of a group fitted together
    QAction* DrawsAction;         // Fit ▸ the selected sample's Monte Carlo draws

  protected:
    // Closing the window with unsaved changes asks whether to save them first.
    void closeEvent(QCloseEvent* event) override;

  private:
    double priorOffset_ = 0, priorSd_ = 1;      // the lapse-rate prior's (°C)
    std::map<std::string, QString> upperTexts_; // by option, as typed (bounds and exponents)
    std::string upperOption_, betaOption_;      // the options the boxes show
    // The window built in steps: its controls, their layout, the menu bar, the
    // connections.
    void MakeTable();
    void MakeButtons();
    QGroupBox* MakeSettings();
    QHBoxLayout* MakeSolubilityChoice(QGroupBox* settings);
    QHBoxLayout* MakeBounds(QGroupBox* settings);
    void MakeViewAndNotes();
    QVBoxLayout* LayOut(QGroupBox* settings);
    void MakeMenuBar();
    void ConnectControls();
    int SelectedRow() const;
    // The boxes of the models' own bounds and exponents keep their room while
    // another model is chosen, so that the window keeps its width and nothing moves.
    void KeepBoundBoxesInPlace();
    // The chosen model's exponent, read strictly (TemraError naming its box).
    void ReadExponent(study::StudyOptions& o) const;
    // The box of a refusal of the study's checks (in the bounds' dialog, every
    // bound is its own box there).
    FieldRef BoxOf(const study::StudyError& e, bool inBoundsDialog) const;
    // The study's checks of `o` (of one setting, or all), a refusal turned into
    // the error of its box.
    void CheckIn(const study::StudyOptions& o,
                 std::optional<study::StudySetting> only = std::nullopt,
                 bool inBoundsDialog = false) const;
    // Keeps the bound typed for the model left, and shows the chosen model's.
    void ShowUpperOf(const study::ModelInfo* model); // nullptr: every model
    // The models of the current row side by side, when every model was fitted.
    void UpdateModels(int row);
    void FitColumns();
    void UpdateRowNote();
    // The status line after a fit: what was fitted and refused, and the time it
    // took (TimeNote), the groups, the flags and the notes.
    QString FitStatus(const study::StudyOptions& o, std::size_t fitted, std::size_t refused,
                      const std::map<std::string, int>& flagged,
                      const std::vector<std::string>& notes, const QString& took) const;
    void UpdateViewNames();
    study::StudyOptions CurrentOptions() const; // as the boxes stand, without reporting
    QString BlockNote(const SampleBlock& block) const;

    SamplesModel* model_;
    QString source_;                       // the file the table was opened from or saved to
    std::vector<std::string> conversions_; // the table's columns of total gas, read as isotopes
    bool savedHere_ = false;               // whether the window wrote it
    char separator_; // the decimal separator of the samples' numbers and the grid's boxes
    int tableNumber_ = 0;
    QString tableName_;
    // The sample whose map was drawn last: its row number and name.
    std::size_t mappedRow_ = 0;
    std::string mappedName_;
};

} // namespace temra::ui
