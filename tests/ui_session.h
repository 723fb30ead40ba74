// The fixture of the window tests: one program run with its windows, every
// message collected instead of shown, workbooks going to a fresh folder and
// "opened" by a recorder.
#pragma once

#include "core/numtext.h"
#include "plot/plot.h"
#include "ui/arn2_graph_form.h"
#include "ui/dialog.h"
#include "ui/dialog1.h"
#include "ui/form1.h"
#include "ui/form2.h"
#include "ui/form4.h"
#include "ui/sol_graph_form.h"
#include "ui/temra_app.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using namespace temra;
using namespace temra::ui;
namespace fs = std::filesystem;

namespace temra::test {

struct Message {
    QString text;
    bool error;
};

// One program run: the application object with its windows, messages collected,
// workbooks going to a fresh folder and "opened" by a recorder.
class Session : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::path(::testing::TempDir()) /
                 ("temra_ui_" +
                  std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder);
        app.hooks.message = [this](QWidget*, const QString&, const QString& text, bool error) {
            messages.push_back({text, error});
        };
        app.hooks.end = [this] { ended = true; };
        // A table a test leaves edited is let go when its windows close.
        app.hooks.askToSave = [](QWidget*, const QString&) {
            return TemraApp::SaveAnswer::kDiscard;
        };
        app.exportDestination = {folder, [this](const fs::path& p) {
                                     opened.push_back(p);
                                     return true;
                                 }};
        app.form1().show();
    }
    void TearDown() override { QApplication::closeAllWindows(); }

    void Calculate() { app.form1().Command1->click(); }
    void Redraw() { app.solGraphForm().Command2->click(); }
    SolGraphForm& graph() { return app.solGraphForm(); }

    TemraApp app;
    fs::path folder;
    std::vector<Message> messages;
    std::vector<fs::path> opened;
    bool ended = false;
};

// What a Python expression over a workbook `wb` (openpyxl) prints (its first line).
inline std::string Workbook(const fs::path& workbook, const std::string& expression) {
    const std::string out = workbook.string() + ".out";
    const std::string command = "/usr/bin/python3 -c \"import openpyxl,sys; wb = "
                                "openpyxl.load_workbook(sys.argv[1]); print(" +
                                expression + ")\" '" + workbook.string() + "' > '" + out + "'";
    if (std::system(command.c_str()) != 0) return "(python failed)";
    std::ifstream in(out);
    std::string text;
    std::getline(in, text);
    return text;
}

inline int RowsOf(const fs::path& workbook) {
    try {
        return std::stoi(Workbook(workbook, "wb.active.max_row"));
    } catch (const std::exception&) {
        return -1;
    }
}

} // namespace temra::test

using temra::test::RowsOf;
using temra::test::Session;
using temra::test::Workbook;
