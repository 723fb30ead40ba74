// The samples window, the misfit map and the figures, driven as a user would.
#include "cli/cli.h"
#include "core/version.h"
#include "plot/figure.h"
#include "plot/map_plot.h"
#include "tests/ui_session.h"
#include "ui/misfit_window.h"
#include "ui/samples_model.h"
#include "ui/samples_window.h"

#include <qcustomplot.h>

#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QMenuBar>
#include <QTableView>

#include <fstream>
#include <sstream>

namespace {

// Samples made at 1500 m and 8 °C with 0.005 cm3 STP/g of excess air (exactly,
// and with a little noise), and one that cannot be read.
const char* kTable =
    "sample,He-4,Ne-20,Ar-40,Kr-84,Xe,N2,O2\n"
    "exact,6.5649e-08,2.390923811434094e-07,0.00038249591924833734,4.918371964418566e-08,"
    "1.2297883852476508e-08,0.0165,0.0079\n"
    "noisy,6.5649e-08,2.4028784304912643e-07,0.000384408398844579,4.9429638242406586e-08,"
    "1.235937327173889e-08,0.0166,0.0080\n"
    "bad,6.5649e-08,abc,0.000382,4.92e-08,1.23e-08,0.0165,0.0079\n";

class SamplesSession : public Session {
  protected:
    std::string WriteTable(const std::string& text = kTable) {
        fs::create_directories(folder);
        const std::string path = (folder / "samples.csv").string();
        std::ofstream(path) << text;
        return path;
    }
    SamplesWindow& samples() { return app.samplesWindow(); }
};

void Settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

} // namespace

TEST_F(SamplesSession, OpenATableAndPasteBlocksBadCellsMarked) {
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable())));
    SamplesModel* m = samples().Model();
    ASSERT_EQ(m->rowCount(), 3);
    EXPECT_EQ(m->data(m->index(0, 0)).toString(), "exact");
    const QModelIndex bad = m->index(2, study::SampleColumn::Measured(2));
    EXPECT_EQ(m->data(bad).toString(), "abc");
    EXPECT_TRUE(m->data(bad, Qt::BackgroundRole).isValid());
    EXPECT_TRUE(m->data(bad, Qt::ToolTipRole).toString().contains("is not a number"));
    EXPECT_FALSE(m->data(m->index(0, 2), Qt::BackgroundRole).isValid());
    // A block from a spreadsheet without its header: the window's columns.
    samples().Paste(
        "p1\t\t2.4e-07\t0.00038\t4.9e-08\t1.2e-08\np2\t\t\t0.00038\t4.9e-08\t1.2e-08\n");
    ASSERT_EQ(m->rowCount(), 5);
    EXPECT_EQ(m->data(m->index(3, study::SampleColumn::Measured(2))).toString(), "2.4e-07");
    EXPECT_TRUE(m->data(m->index(4, study::SampleColumn::Measured(2)), Qt::ToolTipRole)
                    .toString()
                    .contains("no value"));
    // With its header, in its own order.
    samples().Paste("Xe\tsample\tNe\tAr\tKr\n1.2e-08\tp3\t2.4e-07\t0.00038\t4.9e-08\n");
    ASSERT_EQ(m->rowCount(), 6);
    EXPECT_EQ(m->data(m->index(5, 0)).toString(), "p3");
    EXPECT_EQ(m->data(m->index(5, study::SampleColumn::Measured(5))).toString(), "1.2e-08");
    // An edited cell is checked again.
    m->setData(bad, "2.39e-07");
    EXPECT_FALSE(m->data(bad, Qt::BackgroundRole).isValid());
}

TEST_F(SamplesSession, FitAllAgreesWithTemraCliStudy) {
    const std::string path = WriteTable();
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(path)));
    samples().FitAll();
    ASSERT_TRUE(messages.empty()) << messages[0].text.toStdString();
    std::ostringstream out, err;
    EXPECT_EQ(cli::Run({"study", path}, out, err), 1); // the bad sample
    std::istringstream lines(out.str());
    std::string line;
    std::getline(lines, line); // header
    SamplesModel* m = samples().Model();
    for (int r = 0; r < 3; ++r) {
        std::getline(lines, line);
        const auto& result = m->ResultAt(r);
        ASSERT_TRUE(result.has_value());
        if (r == 2) {
            EXPECT_NE(result->error, "");
            EXPECT_TRUE(m->data(m->index(2, SamplesModel::kFlags)).toString().startsWith("error"));
            continue;
        }
        std::vector<std::string> cells;
        std::stringstream split(line);
        for (std::string c; std::getline(split, c, ',');) cells.push_back(c);
        EXPECT_EQ(ExactText(result->chi2), cells[5]) << line;
        EXPECT_EQ(std::to_string(result->caseNo), cells[7]) << line;
        EXPECT_EQ(ExactText(result->A), cells[14]) << line;
    }
    // chi2 to be read at a glance, and in full in its tooltip.
    const QModelIndex chi2 = m->index(0, SamplesModel::kChi2);
    EXPECT_EQ(m->data(chi2).toString(), QString::number(m->ResultAt(0)->chi2, 'g', 4));
    EXPECT_EQ(m->data(chi2, Qt::ToolTipRole).toString().toStdString(),
              FormatGeneral(m->ResultAt(0)->chi2));
    EXPECT_EQ(m->data(m->index(0, SamplesModel::kT)).toString(), "8");
    EXPECT_EQ(m->data(m->index(0, SamplesModel::kElevation)).toString(), "1500");
    EXPECT_TRUE(samples().Status->text().contains("2 samples fitted"));
}

TEST_F(SamplesSession, ACancelledFitKeepsTheEarlierResults) {
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable())));
    samples().FitAll();
    const double chi2 = samples().Model()->ResultAt(1)->chi2;
    samples().ModelChoice->setCurrentIndex(1); // CE
    app.runStartedHook = [](RunControl& c) { c.Cancel(); };
    samples().FitAll();
    ASSERT_TRUE(samples().Model()->ResultAt(1).has_value());
    EXPECT_EQ(samples().Model()->ResultAt(1)->chi2, chi2);
    EXPECT_TRUE(messages.empty());
}

TEST_F(SamplesSession, ASampleGoesToTheInputPage) {
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(
        WriteTable("sample,Ne-20,Ar-40,Kr-84,Xe,He-4,chloride,density\n"
                   "s,2.39e-07,0.00038,4.9e-08,1.2e-08,6.5e-08,0.2,1.01\n"))));
    samples().Table->selectRow(0);
    samples().UseButton->click();
    Form1& f = app.form1();
    EXPECT_TRUE(f.isVisible());
    EXPECT_EQ(f.Text1->text(), "6.5e-08");
    EXPECT_EQ(f.Text2->text(), "2.39e-07");
    EXPECT_EQ(f.Text5->text(), "1.2e-08");
    EXPECT_EQ(f.Text6->text(), ""); // the sample has no N2
    EXPECT_EQ(f.Text15->text(), "0.2");
    EXPECT_EQ(f.Text14->text(), "1.01");
}

TEST_F(SamplesSession, TheMisfitMapMarksTheBestCaseAndItsRegion) {
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable())));
    samples().Table->selectRow(1); // the noisy sample
    samples().MapButton->click();
    MisfitWindow& w = app.misfitWindow();
    ASSERT_TRUE(w.isVisible()) << (messages.empty() ? "" : messages[0].text.toStdString());
    ASSERT_TRUE(w.Map->HasMap());
    // The best case's cell holds the least misfit.
    EXPECT_EQ(w.Map->ValueAt(w.BestT, w.BestH), w.Chi2Min);
    // The truth (8 °C, 1500 m) lies in the 1-sigma region, which the contour
    // surrounds on every side.
    EXPECT_LE(w.Map->ValueAt(8, 1500), w.Chi2Min + 1);
    bool left = false, right = false, below = false, above = false;
    for (const auto& s : w.Contour)
        for (int e = 0; e < 2; ++e) {
            const double x = s[2 * e], y = s[2 * e + 1];
            if (std::fabs(y - 1500) < 300) {
                left = left || x < 8;
                right = right || x > 8;
            }
            if (std::fabs(x - 8) < 1.5) {
                below = below || y < 1500;
                above = above || y > 1500;
            }
        }
    EXPECT_TRUE(left && right && below && above);
    EXPECT_EQ(w.Map->OverlayCount(), 2); // the contour and the best case
    // A sample with a known elevation: chi2 against temperature.
    samples().Model()->setData(samples().Model()->index(1, study::SampleColumn::kElevation),
                               "1500");
    samples().MapButton->click();
    EXPECT_FALSE(w.Map->HasMap());
    EXPECT_EQ(w.BestH, 1500);
}

TEST_F(SamplesSession, FiguresAreWrittenAsPngSvgAndPdf) {
    Calculate();
    Settle();
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable())));
    samples().Table->selectRow(0);
    samples().MapButton->click();
    app.misfitWindow().resize(700, 550);
    Settle();
    fs::create_directories(folder);
    for (QCustomPlot* canvas : {graph().SolGraph2->Canvas(), app.misfitWindow().Map->Canvas()})
        for (const char* kind : {"png", "svg", "pdf"}) {
            const fs::path file =
                folder / (canvas->parent()->objectName().toStdString() + "." + kind);
            QString reason;
            ASSERT_TRUE(
                plot::SaveFigure(canvas, QString::fromStdString(file.string()), 300, reason))
                << file << ": " << reason.toStdString();
            ASSERT_TRUE(fs::exists(file));
            EXPECT_GT(fs::file_size(file), 1000u) << file;
            QFile f(QString::fromStdString(file.string()));
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            const QByteArray head = f.read(256);
            if (std::string(kind) == "pdf") {
                EXPECT_TRUE(head.startsWith("%PDF")) << file;
            }
            if (std::string(kind) == "svg") {
                EXPECT_TRUE(head.contains("<svg") || f.readAll().contains("<svg")) << file;
            }
            if (std::string(kind) == "png") {
                const QImage png(QString::fromStdString(file.string()));
                EXPECT_NEAR(png.width(), canvas->width() * 300.0 / 96, 2) << file;
            }
        }
    QString reason;
    EXPECT_FALSE(plot::SaveFigure(graph().SolGraph2->Canvas(), "/proc/no/figure.pdf", 300, reason));
    EXPECT_FALSE(reason.isEmpty());
}

TEST_F(SamplesSession, TheMenuBarLeadsToTheNewWindows) {
    QMenuBar* bar = app.form1().MenuBar;
    QStringList menus, actions;
    for (QAction* a : bar->actions()) {
        menus << a->text();
        for (QAction* b : a->menu()->actions())
            if (!b->isSeparator()) actions << b->text() + " " + b->shortcut().toString();
    }
    EXPECT_EQ(menus, (QStringList{"&File", "&Window", "&Help"}));
    EXPECT_TRUE(actions.contains("&Open samples… Ctrl+O")) << actions.join("|").toStdString();
    EXPECT_TRUE(actions.contains("&Quit Ctrl+Q"));
    EXPECT_TRUE(actions.contains("&Samples "));
    EXPECT_TRUE(actions.contains("&About Temra "));
    const QString about = TemraApp::AboutText();
    EXPECT_TRUE(
        about.contains(QString::fromUtf8(kVersion.data(), static_cast<int>(kVersion.size()))));
    EXPECT_TRUE(about.contains("General Public License"));
    EXPECT_TRUE(about.contains("QCustomPlot"));
    // The input page keeps every control it had.
    EXPECT_EQ(app.form1().Command1->text(), "Calculate Solubility");
}

TEST_F(SamplesSession, ResultsAreExportedAsAWorkbook) {
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable())));
    samples().show();
    samples().FitAll();
    samples().ExportButton->click();
    ASSERT_EQ(opened.size(), 1u) << (messages.empty() ? "" : messages[0].text.toStdString());
    EXPECT_NE(opened[0].filename().string().find("Study Results"), std::string::npos);
    EXPECT_EQ(RowsOf(opened[0]), 4); // the header and three samples
    EXPECT_TRUE(samples().Status->text().contains(QString::fromStdString(opened[0].string())));
}

TEST_F(SamplesSession, RenderTheSamplesWindowAndTheMisfitMap) {
    const fs::path out = fs::path(TEMRA_SCREENS_DIR);
    fs::create_directories(out);
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable())));
    samples().FitAll();
    samples().show();
    samples().Table->selectRow(1);
    Settle();
    EXPECT_TRUE(samples().grab().save(QString::fromStdString((out / "Samples.png").string())));
    samples().MapButton->click();
    app.misfitWindow().resize(760, 600);
    Settle();
    EXPECT_TRUE(
        app.misfitWindow().grab().save(QString::fromStdString((out / "MisfitMap.png").string())));
}
