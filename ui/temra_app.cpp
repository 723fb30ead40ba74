#include "temra_app.h"

#include "arn2_graph_form.h"
#include "dialog.h"
#include "dialog1.h"
#include "form1.h"
#include "form2.h"
#include "form4.h"
#include "sol_graph_form.h"
#include "widgets.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QMessageBox>
#include <QStandardPaths>
#include <QUrl>

namespace temra::ui {

TemraApp::TemraApp() {
    // The user's decimal separator for reading and showing numbers; '.' is always
    // read as well.
    const QString point = QLocale().decimalPoint();
    if (point.size() == 1 && point[0].unicode() < 128)
        module_.DecimalSeparator = static_cast<char>(point[0].unicode());

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
    if (!form1_) form1_ = std::make_unique<Form1>(*this);
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

ArN2GraphForm& TemraApp::arN2GraphForm() {
    if (!arN2_) arN2_ = std::make_unique<ArN2GraphForm>(*this);
    return *arN2_;
}

void TemraApp::End() {
    if (endHook) {
        endHook();
        return;
    }
    QApplication::closeAllWindows();
    QApplication::quit();
}

void TemraApp::ExportWorkbook(QWidget* parent,
                              const std::function<xl::Workbook&(xl::Application&)>& build,
                              const char* sheet) {
    xl::ExportOutcome outcome;
    try {
        BusyCursor busy;
        xl::Application excel;
        outcome = xl::Publish(build(excel), sheet, exportDestination);
    } catch (const std::exception& e) {
        ReportExportError(parent, e);
        return;
    }
    solGraphForm().ShowExportMessage(QString::fromStdString(outcome.message));
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
    messageSink(parent, "Temra", ErrorText(error), true);
}

void TemraApp::ReportExportError(QWidget* parent, const std::exception& error) {
    messageSink(parent, "Temra", QString::fromStdString(error.what()), true);
}

void TemraApp::Inform(QWidget* parent, const QString& text) {
    messageSink(parent, "Temra", text, false);
}

} // namespace temra::ui
