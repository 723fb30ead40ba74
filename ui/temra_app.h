// The application: one Module1 for the whole run, the windows (each created on
// first use and afterwards only hidden and shown), long computations off the
// window thread, the reporting of faults, and the destination of the workbooks.
#pragma once

#include "core/module1.h"
#include "export/exports.h"
#include "study/output/study_results.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QWidget;

namespace temra::ui {

class Form1;
class SolGraphForm;
class Form4;
class Dialog;
class Form2;
class Dialog1;
class ArN2GraphForm;
class SamplesWindow;
class MisfitWindow;
class DrawsWindow;
class GuideWindow;

// The place of one window: empty until the window is first asked for, then
// holding it, hidden or shown, until the program ends.
template <class W> class LazyWindow {
  public:
    // The window, made for `app` the first time it is asked for; `made`, when
    // given, then runs on it once (the connections it needs beyond its own).
    // Called where W is complete (ui/temra_app.cpp).
    template <class App> W& Get(App& app, void (App::*made)(W&) = nullptr) {
        if (!window_) {
            window_ = std::make_unique<W>(app);
            if (made) (app.*made)(*window_);
        }
        return *window_;
    }
    // The window when it has been made, else null.
    W* IfMade() const { return window_.get(); }

  private:
    std::unique_ptr<W> window_;
};

class TemraApp : public QObject {
    Q_OBJECT
  public:
    TemraApp();
    ~TemraApp() override;

    Module1& module() { return module_; }

    // ---- The windows' steps --------------------------------------------------
    // What one window does to another goes through these, so each window knows
    // the application only.
    void ShowInputPage();
    void HideInputPage();
    bool InputPageVisible() const;
    Form1Texts InputTexts(); // the input page's boxes as typed
    // Types the grid's boxes and tick of `texts` into the input page (the boxes
    // beside the measured gases).
    void SetGridBoxes(const Form1Texts& texts);
    // After a grid run: the full graph with all seven gas boxes.
    void ShowSolubilityGraph();
    void ShowBestFitResults(std::shared_ptr<const BestFitNoEa> fit);
    void ShowExcessAirDialog();
    // The gas-pair road: the selection, its ranges, the graph and back.
    void ShowGasPairSelection();
    Form2Ticks GasPairTicks();
    void ShowGasPairRanges();
    void HideGasPairRanges();
    void ShowGasPairGraph();
    void LeaveGasPairRanges(); // "<< Back": the input page, no gas ticked
    // The samples: their window, a sample sent to the input page, a sample's map.
    void ShowSamples();
    void OpenSamples(); // asks for a table of samples
    // Puts the sample's texts into the input page's boxes; a box of a gas the
    // sample has no value for keeps what it held. Returns those boxes' labels.
    QStringList UseSampleOnInputPage(const study::Sample& sample);
    // Draws the sample's misfit map with `options` (those of its fit, when it has
    // one); the map says when they are no longer `now`, the study's settings as
    // they stand.
    void ShowMisfitMap(const study::Sample& sample, const study::StudyOptions& options,
                       const study::StudyOptions& now);
    // Shows the Monte Carlo draws of a sample with its fit's `options` and summary.
    void ShowMonteCarloDraws(const study::Sample& sample, const study::StudyOptions& options,
                             const study::McSummary& summary);
    // Draws the misfit map of a group fitted together (its members' rows) with
    // `options`, as ShowMisfitMap.
    void ShowGroupMap(const std::vector<study::Sample>& members, const study::StudyOptions& options,
                      const study::StudyOptions& now);
    // The study's settings have changed (the input page's or the samples
    // window's): a map drawn with others says it is out of date.
    void StudySettingsChanged(const study::StudyOptions& now);
    // The samples window's table: a number for each table opened (a drawing of
    // samples from another is out of date) and its file's name (empty: typed).
    int SamplesTable();
    QString SamplesTableName();
    // The samples window's table changed (opened, edited, fitted): the map and
    // the draws say when their samples are no longer in it as they were.
    void SamplesTableChanged();
    // "Fit again" from the misfit map: the samples window fits every sample and
    // the map of the same sample is drawn again.
    void FitSamplesAgain();
    // "About Temra": the version and the licences.
    void ShowAbout(QWidget* parent);
    // "User guide": the guide the program holds, in its window.
    // `section`: the heading it opens at (empty: where it was).
    void ShowGuide(const QString& section = {});
    static QString AboutText();

    // A step on the window thread with the busy cursor; a fault is reported
    // (naming the box at fault) and the step changes nothing. True when it
    // completed.
    bool Attempt(QWidget* parent, const std::function<void()>& step);

    // Each window is created the first time it is asked for (LazyWindow).
    Form1& form1();
    SolGraphForm& solGraphForm();
    Form4& form4();
    Dialog& dialog();
    Form2& form2();
    Dialog1& dialog1();
    ArN2GraphForm& arN2GraphForm();
    SamplesWindow& samplesWindow();
    MisfitWindow& misfitWindow();
    DrawsWindow& drawsWindow();
    GuideWindow& guideWindow();
    bool HasArN2GraphForm() const { return arN2_.IfMade() != nullptr; }
    bool HasDialog1() const { return dialog1_.IfMade() != nullptr; }

    // Ends the program: every window closes. A table of samples with changes that
    // are not saved is offered to be saved first; false (nothing closes) when the
    // user stays with it.
    bool End();
    bool Ending() const { return ending_; }

    // Runs `work` on a worker thread while the windows keep repainting. After
    // about a second a progress window says what runs and offers Cancel; the
    // user's input to the other windows is held back meanwhile. Faults are
    // reported (naming the box at fault). True when the work completed; false
    // when it failed or was cancelled, in which case it changed nothing.
    // `onFailure` runs before the report (a dialog that hid itself comes back).
    // The worker, the progress window and the held input are ui/run_progress.h's.
    bool Run(QWidget* parent, const QString& what, const std::function<void(RunControl&)>& work,
             const std::function<void()>& onFailure = {});

    // Asks the user to go on or stop; true to go on.
    bool Confirm(QWidget* parent, const QString& text);
    // A question with two answers named by their buttons: true for `yes`.
    bool Ask(QWidget* parent, const QString& text, const QString& yes, const QString& no);
    // One of `items` chosen by the user (the first offered); nothing on Cancel.
    std::optional<int> Choose(QWidget* parent, const QString& text, const QStringList& items);
    // Whether to save changes before they are left: Save, Discard or Cancel.
    enum class SaveAnswer { kSave, kDiscard, kCancel };
    SaveAnswer AskToSave(QWidget* parent, const QString& text);

    // Where workbooks go and how they are opened.
    xl::ExportDestination exportDestination;
    // Builds a workbook and writes it as a new file, which is then opened; the
    // solubility graph window says where it went, or a message when that window is
    // hidden. A failure is reported to the user and leaves the calculation state
    // as it was.
    // `statusLine`, when given and visible, says where it went instead.
    void ExportWorkbook(QWidget* parent,
                        const std::function<xl::Workbook&(xl::Application&)>& build,
                        const char* sheet, QLabel* statusLine = nullptr);

    // Reports a fault, then puts the cursor into the box at fault with its text
    // selected, where that box can be seen.
    void ReportError(QWidget* parent, const TemraError& error);
    void ReportExportError(QWidget* parent, const std::exception& error);
    void Inform(QWidget* parent, const QString& text);
    // Takes the user to the box of `field`, where a window shows it.
    void FocusBox(const FieldRef& field) const;
    // The box a field names, when its window exists.
    QWidget* FieldWidget(const FieldRef& field) const;

    // The text of a computation fault: number, description, the field at fault.
    static QString ErrorText(const TemraError& error);

    // Where the tests take the user's place. A hook left empty leaves the
    // program as the user meets it.
    struct TestHooks {
        // Replaces quitting: End calls it and nothing closes.
        std::function<void()> end;
        // Sees every run's control before its work begins (to cancel it, say).
        std::function<void(RunControl&)> runStarted;
        // Answers the confirmations instead of the user; true to go on.
        std::function<bool(QWidget* parent, const QString& text)> confirm;
        // Chooses among items instead of the user (nothing: Cancel).
        std::function<std::optional<int>(QWidget* parent, const QString& text,
                                         const QStringList& items)>
            choose;
        // Answers whether to save changes before they are left.
        std::function<SaveAnswer(QWidget* parent, const QString& text)> askToSave;
        // Reads the messages to the user, which then show no dialog.
        std::function<void(QWidget* parent, const QString& title, const QString& text, bool error)>
            message;
    } hooks;

  signals:
    // A box or the tick of the input page has changed.
    void InputPageChanged();

  private:
    void ReportFailure(QWidget* parent, const std::exception_ptr& failure);
    void ShowExportOutcome(QWidget* parent, const QString& message, QLabel* statusLine);
    // A message box, or the test hook that reads it.
    void Message(QWidget* parent, const QString& title, const QString& text, bool error);
    // The windows that depend on the input page learn of every change to it.
    void ConnectInputPage(Form1& page);

    Module1 module_;
    bool ending_ = false;
    LazyWindow<Form1> form1_;
    LazyWindow<SolGraphForm> solGraph_;
    LazyWindow<Form4> form4_;
    LazyWindow<Dialog> dialog_;
    LazyWindow<Form2> form2_;
    LazyWindow<Dialog1> dialog1_;
    LazyWindow<ArN2GraphForm> arN2_;
    LazyWindow<SamplesWindow> samples_;
    LazyWindow<MisfitWindow> misfit_;
    LazyWindow<DrawsWindow> draws_;
    LazyWindow<GuideWindow> guide_;
};

} // namespace temra::ui
