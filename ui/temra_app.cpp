#include "ui/temra_app.h"

#include "ui/arn2_graph_form.h"
#include "ui/dialog.h"
#include "ui/dialog1.h"
#include "ui/draws_window.h"
#include "ui/form1.h"
#include "ui/form2.h"
#include "ui/form4.h"
#include "ui/guide_window.h"
#include "ui/misfit_window.h"
#include "ui/run_progress.h"
#include "ui/samples_window.h"
#include "ui/sol_graph_form.h"
#include "ui/widgets.h"

#include "core/version.h"
#include "plot/plot.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>

namespace temra::ui {

TemraApp::TemraApp() {
    // The user's decimal separator for reading and showing numbers; '.' is always
    // read as well.
    const QString point = QLocale().decimalPoint();
    if (point.size() == 1 && point[0].unicode() < 128)
        module_.run.DecimalSeparator = static_cast<char>(point[0].unicode());
    // The solubility graph keeps every case twice (the full and the selected
    // graph) and needs more while it draws them: counted into every grid run.
    module_.run.ExtraCasesLimit = static_cast<std::uint64_t>(SolGraphForm::kLinesDrawnUpTo);
    module_.run.ExtraBytesPerCase =
        2 * plot::Plot::BytesPerChannel() + plot::Plot::BytesToDrawChannel();

    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    exportDestination.folder =
        QDir(documents.isEmpty() ? QDir::homePath() : documents).filePath("Temra").toStdString();
    exportDestination.opener = [](const std::filesystem::path& file) {
        return QDesktopServices::openUrl(
            QUrl::fromLocalFile(QString::fromStdString(file.string())));
    };
}

TemraApp::~TemraApp() = default;

// The windows, each made the first time it is asked for.
// clang-format off
Form1& TemraApp::form1() { return form1_.Get(*this, &TemraApp::ConnectInputPage); }
SolGraphForm& TemraApp::solGraphForm() { return solGraph_.Get(*this); }
Form4& TemraApp::form4() { return form4_.Get(*this); }
Dialog& TemraApp::dialog() { return dialog_.Get(*this); }
Form2& TemraApp::form2() { return form2_.Get(*this); }
Dialog1& TemraApp::dialog1() { return dialog1_.Get(*this); }
ArN2GraphForm& TemraApp::arN2GraphForm() { return arN2_.Get(*this); }
SamplesWindow& TemraApp::samplesWindow() { return samples_.Get(*this); }
MisfitWindow& TemraApp::misfitWindow() { return misfit_.Get(*this); }
DrawsWindow& TemraApp::drawsWindow() { return draws_.Get(*this); }
GuideWindow& TemraApp::guideWindow() { return guide_.Get(*this); }
// clang-format on

void TemraApp::ConnectInputPage(Form1& page) {
    for (QLineEdit* box : page.findChildren<QLineEdit*>())
        connect(box, &QLineEdit::textChanged, this, &TemraApp::InputPageChanged);
    connect(page.Check1, &QCheckBox::toggled, this, &TemraApp::InputPageChanged);
}

void TemraApp::ShowInputPage() {
    form1().show();
}

void TemraApp::HideInputPage() {
    if (Form1* page = form1_.IfMade()) page->hide();
}

bool TemraApp::InputPageVisible() const {
    const Form1* page = form1_.IfMade();
    return page && page->isVisible();
}

Form1Texts TemraApp::InputTexts() {
    return form1().Texts();
}

void TemraApp::ShowSolubilityGraph() {
    SolGraphForm& graph = solGraphForm();
    graph.DrawSolubilityGraph();
    graph.ShowGasBoxes();
}

void TemraApp::ShowBestFitResults(std::shared_ptr<const BestFitNoEa> fit) {
    form4().ShowBestFitNoEa(std::move(fit));
}

void TemraApp::ShowExcessAirDialog() {
    dialog().show();
}

void TemraApp::ShowGasPairSelection() {
    form2().show();
    HideInputPage();
}

Form2Ticks TemraApp::GasPairTicks() {
    return form2().Ticks();
}

void TemraApp::ShowGasPairRanges() {
    dialog1().show();
}

void TemraApp::HideGasPairRanges() {
    if (Dialog1* ranges = dialog1_.IfMade()) ranges->hide();
}

void TemraApp::ShowGasPairGraph() {
    arN2GraphForm().DrawGasPairGraph();
}

void TemraApp::LeaveGasPairRanges() {
    ShowInputPage();
    form2().UntickAll();
}

void TemraApp::ShowSamples() {
    samplesWindow().show();
    samplesWindow().raise();
}

void TemraApp::OpenSamples() {
    ShowSamples();
    samplesWindow().Open();
}

void TemraApp::SetGridBoxes(const Form1Texts& texts) {
    for (const Field& f : kFields) {
        if (f.window != "Form1" || f.id < FieldId::Density) continue;
        QWidget* box = FieldWidget(fields::Ref(f.id));
        if (auto* edit = qobject_cast<QLineEdit*>(box); edit && f.form1)
            edit->setText(QString::fromStdString(texts.*f.form1));
        if (auto* tick = qobject_cast<QCheckBox*>(box); tick && f.tick)
            tick->setChecked(texts.*f.tick);
    }
}

QStringList TemraApp::UseSampleOnInputPage(const study::Sample& sample) {
    QStringList kept = form1().UseSample(sample);
    ShowInputPage();
    form1().raise();
    return kept;
}

void TemraApp::ShowMisfitMap(const study::Sample& sample, const study::StudyOptions& options,
                             const study::StudyOptions& now) {
    if (misfitWindow().ShowSample(sample, options)) misfitWindow().CompareSettings(now);
}

void TemraApp::ShowMonteCarloDraws(const study::Sample& sample, const study::StudyOptions& options,
                                   const study::McSummary& summary) {
    drawsWindow().ShowSample(sample, options, summary);
}

void TemraApp::ShowGroupMap(const std::vector<study::Sample>& members,
                            const study::StudyOptions& options, const study::StudyOptions& now) {
    if (misfitWindow().ShowGroup(members, options)) misfitWindow().CompareSettings(now);
}

void TemraApp::StudySettingsChanged(const study::StudyOptions& now) {
    if (MisfitWindow* map = misfit_.IfMade()) map->CompareSettings(now);
    if (DrawsWindow* draws = draws_.IfMade()) draws->CompareSettings(now);
}

int TemraApp::SamplesTable() {
    return samplesWindow().TableNumber();
}

QString TemraApp::SamplesTableName() {
    return samplesWindow().TableName();
}

void TemraApp::SamplesTableChanged() {
    MisfitWindow* map = misfit_.IfMade();
    DrawsWindow* draws = draws_.IfMade();
    if (!map && !draws) return;
    const std::vector<study::Sample> samples = samplesWindow().TableSamples();
    const int table = samplesWindow().TableNumber();
    if (map) map->FollowTable(table, samples);
    if (draws) draws->FollowTable(table, samples);
}

void TemraApp::FitSamplesAgain() {
    samplesWindow().FitAgainAndMap();
}

QString TemraApp::AboutText() {
    return QString(
               "<h3>Temra %1</h3>"
               "<p>Recharge temperatures and elevations from dissolved atmospheric gases: "
               "air-equilibrium concentrations over a grid, best fits with and without "
               "excess air, gas-pair diagrams and study fits of many samples.</p>"
               "<p>Temra is free software: GNU General Public License, version 3 or later.</p>"
               "<p>It uses Qt 6 (LGPL-3.0), QCustomPlot (GPL-3.0), libxlsxwriter "
               "(BSD-2-Clause), minizip (zlib licence), expat (MIT), libcsv (LGPL-2.1), Boost.Math "
               "(Boost Software License 1.0) and CLI11 (BSD-3-Clause).</p>")
        .arg(Q(kVersion));
}

void TemraApp::ShowAbout(QWidget* parent) {
    QMessageBox::about(parent, "About Temra", AboutText());
}

void TemraApp::ShowGuide(const QString& section) {
    guideWindow().show();
    guideWindow().raise();
    if (!section.isEmpty()) guideWindow().ShowSection(section);
}

bool TemraApp::Attempt(QWidget* parent, const std::function<void()>& step) {
    try {
        BusyCursor busy;
        step();
        return true;
    } catch (...) {
        ReportFailure(parent, std::current_exception());
        return false;
    }
}

bool TemraApp::End() {
    if (SamplesWindow* samples = samples_.IfMade(); samples && !samples->MayLeaveTable())
        return false;
    if (hooks.end) {
        hooks.end();
        return true;
    }
    ending_ = true;
    for (QWidget* w : QApplication::topLevelWidgets()) w->hide();
    QCoreApplication::exit(0);
    return true;
}

bool TemraApp::Run(QWidget* parent, const QString& what,
                   const std::function<void(RunControl&)>& work,
                   const std::function<void()>& onFailure) {
    RunControl control;
    if (hooks.runStarted) hooks.runStarted(control);
    const std::exception_ptr failure = RunWithProgress(parent, what, control, work);
    if (!failure) return true;
    if (onFailure) onFailure();
    ReportFailure(parent, failure);
    return false;
}

void TemraApp::ReportFailure(QWidget* parent, const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const Cancelled&) {
        // Cancelled by the user: nothing changed, nothing to say.
    } catch (const TemraError& e) {
        ReportError(parent, e);
    } catch (const std::bad_alloc&) {
        ReportError(parent, TemraError(ErrorNumber::OutOfMemory, fields::Ref(FieldId::Calculate),
                                       "the computation needs more memory than this process may "
                                       "use; use larger steps or narrower ranges"));
    } catch (const Refusal& e) { // a table, a study's option, a workbook: its culprit named
        Message(parent, "Temra", QString::fromStdString(e.what()), true);
        FocusBox(e.culprit().field);
    } catch (const std::exception& e) {
        ReportExportError(parent, e);
    }
}

bool TemraApp::Confirm(QWidget* parent, const QString& text) {
    return Ask(parent, text, tr("Go on"), tr("Stop"));
}

bool TemraApp::Ask(QWidget* parent, const QString& text, const QString& yes, const QString& no) {
    if (hooks.confirm) return hooks.confirm(parent, text);
    QMessageBox box(QMessageBox::Question, "Temra", text, QMessageBox::NoButton, parent);
    QPushButton* accept = box.addButton(yes, QMessageBox::AcceptRole);
    QPushButton* reject = box.addButton(no, QMessageBox::RejectRole);
    box.setDefaultButton(reject);
    box.exec();
    return box.clickedButton() == accept;
}

std::optional<int> TemraApp::Choose(QWidget* parent, const QString& text,
                                    const QStringList& items) {
    if (hooks.choose) return hooks.choose(parent, text, items);
    bool ok = false;
    const QString chosen = QInputDialog::getItem(parent, "Temra", text, items, 0, false, &ok);
    if (!ok) return std::nullopt;
    return static_cast<int>(items.indexOf(chosen));
}

TemraApp::SaveAnswer TemraApp::AskToSave(QWidget* parent, const QString& text) {
    if (hooks.askToSave) return hooks.askToSave(parent, text);
    QMessageBox box(QMessageBox::Question, "Temra", text,
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, parent);
    box.setDefaultButton(QMessageBox::Save);
    const int answer = box.exec();
    if (answer == QMessageBox::Save) return SaveAnswer::kSave;
    return answer == QMessageBox::Discard ? SaveAnswer::kDiscard : SaveAnswer::kCancel;
}

void TemraApp::ExportWorkbook(QWidget* parent,
                              const std::function<xl::Workbook&(xl::Application&)>& build,
                              const char* sheet, QLabel* statusLine) {
    std::filesystem::path file;
    const std::uint64_t budget = module_.run.MemoryAvailable();
    const std::filesystem::path folder = exportDestination.folder;
    const bool written =
        Run(parent, tr("Writing the workbook \"%1\"…").arg(sheet), [&](RunControl& c) {
            xl::Application excel;
            excel.MemoryBudget = budget;
            file = xl::WriteNew(build(excel), sheet, folder, c);
        });
    if (!written) return;
    const xl::ExportOutcome outcome = xl::Open(file, exportDestination.opener);
    ShowExportOutcome(parent, QString::fromStdString(outcome.message), statusLine);
}

void TemraApp::ShowExportOutcome(QWidget* parent, const QString& message, QLabel* statusLine) {
    if (statusLine && statusLine->isVisible()) {
        statusLine->setText(message);
        return;
    }
    if (SolGraphForm* graph = solGraph_.IfMade(); graph && graph->isVisible()) {
        graph->ShowExportMessage(message);
        return;
    }
    // The window that started the export may be hidden by now: the message goes
    // over a window the user can see.
    QWidget* shown = parent && parent->isVisible() ? parent : nullptr;
    if (!shown && InputPageVisible()) shown = form1_.IfMade();
    Inform(shown, message);
}

QString TemraApp::ErrorText(const TemraError& error) {
    QString text = QString("Run-time error '%1':\n%2").arg(error.code()).arg(error.description());
    const FieldRef& f = error.field();
    if (!f.label.empty() || !f.control.empty())
        text += QString("\n\nField: %1 (%2)")
                    .arg(QString::fromStdString(f.label.empty() ? f.control : f.label),
                         QString::fromStdString(f.window + "." + f.control));
    if (!error.detail().empty()) text += "\n" + QString::fromStdString(error.detail());
    return text;
}

void TemraApp::ReportError(QWidget* parent, const TemraError& error) {
    if (error.field().id == FieldId::PairSelection) {
        // The gases are ticked on the selection window: the user is taken there,
        // with what is ticked kept, and told what to do.
        HideGasPairRanges();
        form2().show();
        form2().raise();
        Message(form2_.IfMade(), "Temra",
                ErrorText(error) +
                    "\n\nTick two gases on the selection window, then press OK there.",
                true);
        return;
    }
    Message(parent, "Temra", ErrorText(error), true);
    FocusBox(error.field());
}

void TemraApp::FocusBox(const FieldRef& field) const {
    QWidget* box = FieldWidget(field);
    if (!box || !box->isVisible() || !box->window()->isVisible()) return;
    box->window()->activateWindow();
    box->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(box)) edit->selectAll();
}

QWidget* TemraApp::FieldWidget(const FieldRef& field) const {
    QWidget* window = nullptr;
    if (field.window == "Form1") window = form1_.IfMade();
    if (field.window == "Dialog") window = dialog_.IfMade();
    if (field.window == "Dialog1") window = dialog1_.IfMade();
    if (field.window == "Form2") window = form2_.IfMade();
    if (field.window == "SolGraphForm") window = solGraph_.IfMade();
    if (field.window == "Samples") window = samples_.IfMade();
    if (!window || field.control.empty()) return nullptr;
    return window->findChild<QWidget*>(QString::fromStdString(field.control));
}

void TemraApp::ReportExportError(QWidget* parent, const std::exception& error) {
    Message(parent, "Temra", QString::fromStdString(error.what()), true);
}

void TemraApp::Inform(QWidget* parent, const QString& text) {
    Message(parent, "Temra", text, false);
}

void TemraApp::Message(QWidget* parent, const QString& title, const QString& text, bool error) {
    if (hooks.message)
        hooks.message(parent, title, text, error);
    else if (error)
        QMessageBox::critical(parent, title, text);
    else
        QMessageBox::information(parent, title, text);
}

} // namespace temra::ui
