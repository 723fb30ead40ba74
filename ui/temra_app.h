// The application: one Module1 for the whole run, the windows (each created on
// first use and afterwards only hidden and shown), the reporting of faults, and
// the destination of the workbooks.
#pragma once

#include "exports.h"
#include "module1.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QWidget;

namespace temra::ui {

class Form1;
class SolGraphForm;
class Form4;
class Dialog;
class Form2;
class Dialog1;
class ArN2GraphForm;

class TemraApp : public QObject {
    Q_OBJECT
  public:
    TemraApp();
    ~TemraApp() override;

    Module1& module() { return module_; }

    // Each window is created the first time it is asked for.
    Form1& form1();
    SolGraphForm& solGraphForm();
    Form4& form4();
    Dialog& dialog();
    Form2& form2();
    Dialog1& dialog1();
    ArN2GraphForm& arN2GraphForm();
    bool HasArN2GraphForm() const { return arN2_ != nullptr; }
    bool HasDialog1() const { return dialog1_ != nullptr; }

    // Ends the program at once: every window closes, nothing is asked or saved.
    void End();
    std::function<void()> endHook; // replaces quitting (tests)

    // Where workbooks go and how they are opened.
    xl::ExportDestination exportDestination;
    // Builds a workbook and writes it as a new file, which is then opened; the
    // solubility graph window says where it went. A failure is reported to the
    // user and leaves the calculation state as it was.
    void ExportWorkbook(QWidget* parent,
                        const std::function<xl::Workbook&(xl::Application&)>& build,
                        const char* sheet);

    // Messages to the user; tests replace the sink to read them without a dialog.
    std::function<void(QWidget* parent, const QString& title, const QString& text, bool error)>
        messageSink;
    void ReportError(QWidget* parent, const TemraError& error);
    void ReportExportError(QWidget* parent, const std::exception& error);
    void Inform(QWidget* parent, const QString& text);

    // The text of a computation fault: number, description, the field at fault.
    static QString ErrorText(const TemraError& error);

  private:
    Module1 module_;
    std::unique_ptr<Form1> form1_;
    std::unique_ptr<SolGraphForm> solGraph_;
    std::unique_ptr<Form4> form4_;
    std::unique_ptr<Dialog> dialog_;
    std::unique_ptr<Form2> form2_;
    std::unique_ptr<Dialog1> dialog1_;
    std::unique_ptr<ArN2GraphForm> arN2_;
};

} // namespace temra::ui
