#include "ui/temra_app.h"

#include "ui/arn2_graph_form.h"
#include "ui/dialog.h"
#include "ui/dialog1.h"
#include "ui/form1.h"
#include "ui/form2.h"
#include "ui/form4.h"
#include "ui/misfit_window.h"
#include "ui/samples_window.h"
#include "ui/sol_graph_form.h"
#include "ui/widgets.h"

#include "core/version.h"
#include "plot/plot.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include <thread>

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
    messageSink = [](QWidget* parent, const QString& title, const QString& text, bool error) {
        if (error)
            QMessageBox::critical(parent, title, text);
        else
            QMessageBox::information(parent, title, text);
    };
}

TemraApp::~TemraApp() = default;

Form1& TemraApp::form1() {
    if (!form1_) {
        form1_ = std::make_unique<Form1>(*this);
        // The windows that depend on the input page learn of every change to it.
        for (QLineEdit* box : form1_->findChildren<QLineEdit*>())
            connect(box, &QLineEdit::textChanged, this, &TemraApp::InputPageChanged);
        connect(form1_->Check1, &QCheckBox::toggled, this, &TemraApp::InputPageChanged);
    }
    return *form1_;
}

SolGraphForm& TemraApp::solGraphForm() {
    if (!solGraph_) solGraph_ = std::make_unique<SolGraphForm>(*this);
    return *solGraph_;
}

Form4& TemraApp::form4() {
    if (!form4_) form4_ = std::make_unique<Form4>(*this);
    return *form4_;
}

Dialog& TemraApp::dialog() {
    if (!dialog_) dialog_ = std::make_unique<Dialog>(*this);
    return *dialog_;
}

Form2& TemraApp::form2() {
    if (!form2_) form2_ = std::make_unique<Form2>(*this);
    return *form2_;
}

Dialog1& TemraApp::dialog1() {
    if (!dialog1_) dialog1_ = std::make_unique<Dialog1>(*this);
    return *dialog1_;
}

SamplesWindow& TemraApp::samplesWindow() {
    if (!samples_) samples_ = std::make_unique<SamplesWindow>(*this);
    return *samples_;
}

MisfitWindow& TemraApp::misfitWindow() {
    if (!misfit_) misfit_ = std::make_unique<MisfitWindow>(*this);
    return *misfit_;
}

ArN2GraphForm& TemraApp::arN2GraphForm() {
    if (!arN2_) arN2_ = std::make_unique<ArN2GraphForm>(*this);
    return *arN2_;
}

void TemraApp::ShowInputPage() {
    form1().show();
}

void TemraApp::HideInputPage() {
    if (form1_) form1_->hide();
}

bool TemraApp::InputPageVisible() const {
    return form1_ && form1_->isVisible();
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
    if (dialog1_) dialog1_->hide();
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

void TemraApp::StudySettingsChanged(const study::StudyOptions& now) {
    if (misfit_) misfit_->CompareSettings(now);
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

void TemraApp::End() {
    if (endHook) {
        endHook();
        return;
    }
    ending_ = true;
    for (QWidget* w : QApplication::topLevelWidgets()) w->hide();
    QCoreApplication::exit(0);
}

namespace {

// Holds back the user's input to Temra's windows while a computation runs, except
// for the progress window. A window's close is refused meanwhile.
class InputHold : public QObject {
  public:
    InputHold() { qApp->installEventFilter(this); }
    ~InputHold() override { qApp->removeEventFilter(this); }
    QPointer<QWidget> allowed;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::Close:
            if (!watched->isWidgetType() || Allowed(watched)) return false;
            event->ignore();
            return true;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::Wheel:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::ContextMenu:
            // Events reach a window first and its widgets next: the widgets decide.
            return watched->isWidgetType() && !Allowed(watched);
        default:
            return false;
        }
    }

  private:
    bool Allowed(QObject* watched) const {
        auto* w = static_cast<QWidget*>(watched);
        return allowed && (w == allowed || allowed->isAncestorOf(w));
    }
};

} // namespace

// The window that tells how far a long computation is and offers Cancel.
class RunProgress : public QDialog {
  public:
    RunProgress(const QString& what, QWidget* parent, RunControl& control)
        : QDialog(parent), control_(control) {
        setObjectName("RunProgress");
        setWindowTitle("Temra");
        setModal(true);
        label_ = new QLabel(what, this);
        bar_ = new QProgressBar(this);
        bar_->setRange(0, 1000);
        auto* cancel = new QPushButton(tr("Cancel"), this);
        cancel->setObjectName("Cancel");
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(label_);
        layout->addWidget(bar_);
        layout->addWidget(cancel, 0, Qt::AlignRight);
        connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
        setMinimumWidth(360);
    }
    void Update() { bar_->setValue(static_cast<int>(control_.Fraction() * 1000)); }

    // Cancel, Escape and the window's close all cancel the computation.
    void reject() override {
        control_.Cancel();
        label_->setText(tr("Cancelling…"));
    }

  private:
    RunControl& control_;
    QLabel* label_;
    QProgressBar* bar_;
};

bool TemraApp::Run(QWidget* parent, const QString& what,
                   const std::function<void(RunControl&)>& work,
                   const std::function<void()>& onFailure) {
    RunControl control;
    if (runStartedHook) runStartedHook(control);
    std::exception_ptr failure;
    {
        InputHold hold;
        BusyCursor busy;
        QEventLoop loop;
        std::thread worker([&] {
            try {
                work(control);
            } catch (...) {
                failure = std::current_exception();
            }
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        // The progress window, after about a second.
        RunProgress progress(what, parent, control);
        hold.allowed = &progress;
        QTimer appear;
        appear.setSingleShot(true);
        connect(&appear, &QTimer::timeout, &progress, [&] {
            QGuiApplication::setOverrideCursor(Qt::ArrowCursor); // the progress window is live
            progress.show();
        });
        appear.start(1000);
        QTimer tick;
        connect(&tick, &QTimer::timeout, &progress, [&] { progress.Update(); });
        tick.start(100);
        loop.exec();
        worker.join();
        if (progress.isVisible()) QGuiApplication::restoreOverrideCursor();
    } // the progress window is gone before anything is reported

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
    } catch (const std::exception& e) {
        ReportExportError(parent, e);
    }
}

bool TemraApp::Confirm(QWidget* parent, const QString& text) {
    if (confirmSink) return confirmSink(parent, text);
    QMessageBox box(QMessageBox::Question, "Temra", text, QMessageBox::NoButton, parent);
    QPushButton* goOn = box.addButton(tr("Go on"), QMessageBox::AcceptRole);
    QPushButton* stop = box.addButton(tr("Stop"), QMessageBox::RejectRole);
    box.setDefaultButton(stop);
    box.exec();
    return box.clickedButton() == goOn;
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
    if (solGraph_ && solGraph_->isVisible()) {
        solGraph_->ShowExportMessage(message);
        return;
    }
    // The window that started the export may be hidden by now: the message goes
    // over a window the user can see.
    QWidget* shown = parent && parent->isVisible() ? parent : nullptr;
    if (!shown && form1_ && form1_->isVisible()) shown = form1_.get();
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
        messageSink(form2_.get(), "Temra",
                    ErrorText(error) +
                        "\n\nTick two gases on the selection window, then press OK there.",
                    true);
        return;
    }
    messageSink(parent, "Temra", ErrorText(error), true);
    QWidget* box = FieldWidget(error.field());
    if (!box || !box->isVisible() || !box->window()->isVisible()) return;
    box->window()->activateWindow();
    box->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(box)) edit->selectAll();
}

QWidget* TemraApp::FieldWidget(const FieldRef& field) const {
    QWidget* window = nullptr;
    if (field.window == "Form1") window = form1_.get();
    if (field.window == "Dialog") window = dialog_.get();
    if (field.window == "Dialog1") window = dialog1_.get();
    if (field.window == "Form2") window = form2_.get();
    if (field.window == "SolGraphForm") window = solGraph_.get();
    if (field.window == "Samples") window = samples_.get();
    if (!window || field.control.empty()) return nullptr;
    return window->findChild<QWidget*>(QString::fromStdString(field.control));
}

void TemraApp::ReportExportError(QWidget* parent, const std::exception& error) {
    messageSink(parent, "Temra", QString::fromStdString(error.what()), true);
}

void TemraApp::Inform(QWidget* parent, const QString& text) {
    messageSink(parent, "Temra", text, false);
}

} // namespace temra::ui
