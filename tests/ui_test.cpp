// The windows, driven as a user would: buttons clicked, boxes typed and ticked.
// Runs offscreen; every message the program would show is collected instead.
#include "tests/ui_session.h"

#include "ui/guide_window.h"

#include <QApplication>
#include <QFile>
#include <QMenuBar>
#include <QTextBrowser>
#include <qcustomplot.h>

#include <cstdio>

TEST_F(Session, StartsOnTheInputPageWithItsDefaults) {
    Form1& f = app.form1();
    EXPECT_TRUE(f.isVisible());
    EXPECT_EQ(f.Label8->text(), "Temra_ Input Page");
    EXPECT_EQ(f.Command4->text(), "End ");
    EXPECT_EQ(f.Text1->text(), "4.87138E-08");
    EXPECT_EQ(f.Text7->text(), "2.077E-5");
    EXPECT_EQ(f.Text18->toolTip(), "Sampling elevation (m)");
    EXPECT_EQ(f.findChild<QLineEdit*>("Text22")->text(), "2289");
    EXPECT_FALSE(f.Check1->isChecked());
    // The gas constants are loaded with the page.
    EXPECT_EQ(app.module().GasTable[5].AtmFraction, 0.78084);
    f.Command4->click();
    EXPECT_TRUE(ended);
}

TEST_F(Session, CalculateSolubilityDrawsEveryCase) {
    Calculate();
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(app.form1().isVisible());
    SolGraphForm& g = graph();
    EXPECT_TRUE(g.isVisible());
    EXPECT_EQ(app.module().CaseCount(), 341);
    EXPECT_TRUE(g.SolGraph2->isVisible());
    EXPECT_FALSE(g.SolGraph3->isVisible());
    ASSERT_EQ(g.SolGraph2->ChannelCount(), 342);
    EXPECT_EQ(g.SolGraph2->TitleText(), "Temra Gas Solubility");
    EXPECT_EQ(g.SolGraph2->channel(0).PointCount(), 7);
    EXPECT_FALSE(g.SolGraph2->channel(0).TraceVisible);
    EXPECT_TRUE(g.SolGraph2->channel(0).MarkersVisible);
    EXPECT_EQ(g.SolGraph2->channel(0).MarkersSize, 6);
    EXPECT_EQ(g.SolGraph2->channel(341).PointCount(), 7);
    EXPECT_EQ(g.SolGraph2->channel(341).PointAt(6).y,
              static_cast<float>(app.module().GasSolubility(7, 341)));
    EXPECT_TRUE(g.SolGraph2->LogY());
    EXPECT_EQ(g.SolGraph2->xAxis().Min + g.SolGraph2->xAxis().Span, 7);
    EXPECT_FALSE(g.Command5->isVisible());
    EXPECT_FALSE(g.Command6->isVisible());
    for (QCheckBox* c : g.Check) EXPECT_TRUE(c->isVisible());
    EXPECT_EQ(g.Command5->text(),
              "Find best fitted cases for selected gases           (without excess air)");
    std::vector<QString> labels;
    for (const auto& [pos, label] : g.SolGraph2->XTickLabels())
        if (pos >= 1 && pos <= 7) labels.push_back(label);
    EXPECT_EQ(labels, (std::vector<QString>{"He-4", "Ne-20", "Ar-40", "Kr-84", "Xe", "N2", "O2"}));
}

TEST_F(Session, RedrawWithoutHeliumAndXenon) {
    Calculate();
    SolGraphForm& g = graph();
    g.Check[0]->click();
    EXPECT_TRUE(g.Check[0]->isChecked());
    EXPECT_FALSE(g.Check[0]->isVisible()); // hides itself at once
    EXPECT_TRUE(g.Check[1]->isVisible());
    g.Check[4]->click();
    Redraw();
    EXPECT_TRUE(g.SolGraph3->isVisible());
    EXPECT_FALSE(g.SolGraph2->isVisible());
    EXPECT_EQ(app.module().SelGasCount(), 5);
    EXPECT_EQ(g.SolGraph3->ChannelCount(), 342);
    EXPECT_EQ(g.SolGraph3->channel(0).PointCount(), 5);
    EXPECT_EQ(g.SolGraph3->xAxis().Min, 0);
    EXPECT_EQ(g.SolGraph3->xAxis().Span, 5);
    std::map<double, QString> labels;
    for (const auto& [pos, label] : g.SolGraph3->XTickLabels()) labels[pos] = label;
    EXPECT_EQ(labels[1], "Ne - 20");
    EXPECT_EQ(labels[2], "Ar - 40");
    EXPECT_EQ(labels[3], "Kr - 84");
    EXPECT_EQ(labels[4], "N2");
    EXPECT_EQ(labels[5], "O2");
    EXPECT_EQ(labels[0], "0"); // the plot's own label
    EXPECT_TRUE(g.Command5->isVisible());
    EXPECT_TRUE(g.Command6->isVisible());
    EXPECT_FALSE(g.Command2->isVisible());
    for (QCheckBox* c : g.Check) EXPECT_FALSE(c->isVisible());
}

TEST_F(Session, ManyCasesAreDrawnAsTheDensityOfTheirLines) {
    app.form1().Text26->setText("0.001"); // 31 elevations x 10,001 temperatures
    Calculate();
    ASSERT_TRUE(messages.empty()) << messages[0].text.toStdString();
    SolGraphForm& g = graph();
    EXPECT_EQ(g.SolGraph2->DensityLineCount(), 310031u);
    ASSERT_EQ(g.SolGraph2->ChannelCount(), 1); // the measured dots only, on top
    EXPECT_EQ(g.SolGraph2->channel(0).PointCount(), 7);
    EXPECT_TRUE(g.SolGraph2->channel(0).MarkersVisible);
    EXPECT_TRUE(g.DensityNote->isVisible());
    EXPECT_TRUE(g.DensityNote->text().contains("cases are drawn as a shaded band"));
    // The selected gases too.
    g.Check[0]->click();
    Redraw();
    EXPECT_EQ(g.SolGraph3->DensityLineCount(), 310031u);
    EXPECT_EQ(g.SolGraph3->channel(0).PointCount(), 6);
    EXPECT_TRUE(g.DensityNote->isVisible());
    // Back to a grid that is drawn line by line.
    g.Command3->click();
    app.form1().Text26->setText("1");
    Calculate();
    EXPECT_EQ(g.SolGraph2->DensityLineCount(), 0u);
    EXPECT_EQ(g.SolGraph2->ChannelCount(), 342);
    EXPECT_FALSE(g.DensityNote->isVisible());
}

TEST_F(Session, RedrawRefusesWithEveryGasTicked) {
    Calculate();
    for (QCheckBox* c : graph().Check) c->click();
    Redraw();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.contains("Subscript out of range"));
    EXPECT_TRUE(messages[0].text.contains("Tick to Delete Gas"));
    EXPECT_TRUE(graph().SolGraph2->isVisible());
    EXPECT_FALSE(graph().Command5->isVisible());
}

TEST_F(Session, BackAndANewRunStartAfresh) {
    Calculate();
    graph().Check[2]->click();
    Redraw();
    graph().Command3->click();
    EXPECT_FALSE(graph().isVisible());
    EXPECT_TRUE(app.form1().isVisible());
    EXPECT_EQ(graph().SolGraph2->ChannelCount(), 0);
    app.form1().Text26->setText("2");
    Calculate();
    SolGraphForm& g = graph();
    for (QCheckBox* c : g.Check) {
        EXPECT_TRUE(c->isVisible());
        EXPECT_FALSE(c->isChecked());
    }
    EXPECT_TRUE(g.Command2->isVisible());
    EXPECT_FALSE(g.Command5->isVisible());
    EXPECT_TRUE(g.SolGraph2->isVisible());
    EXPECT_EQ(g.SolGraph2->ChannelCount(), 6 * 31 + 1);
    EXPECT_EQ(app.form1().Text26->text(), "2"); // typed values kept
}

TEST_F(Session, ATypeMismatchKeepsEveryTypedText) {
    app.form1().Text1->setText("abc");
    app.form1().Text19->setText("2500");
    Calculate();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].error);
    EXPECT_TRUE(messages[0].text.contains("Run-time error '13'"));
    EXPECT_TRUE(messages[0].text.contains("Type mismatch"));
    EXPECT_TRUE(messages[0].text.contains("Helium-4"));
    EXPECT_TRUE(app.form1().isVisible());
    EXPECT_EQ(app.form1().Text1->text(), "abc");
    EXPECT_EQ(app.form1().Text19->text(), "2500");
    EXPECT_FALSE(app.module().HasGrid());
}

TEST_F(Session, ResultWindowShowsTheTenBestCases) {
    Calculate();
    Redraw();
    graph().Command5->click();
    Form4& r = app.form4();
    EXPECT_TRUE(r.isVisible());
    const BestFitNoEa& fit = app.module().NoEa();
    for (int k = 1; k <= 10; ++k) {
        const CaseNumber c = fit.BestCase[k - 1];
        EXPECT_EQ(r.findChild<QLabel*>(QString("Label%1").arg(k))->text(),
                  QString("CASE %1:").arg(k));
        EXPECT_EQ(r.findChild<QLabel*>(QString("Label%1").arg(15 + k))->text().toStdString(),
                  FormatGeneral(app.module().CaseTemp(c)));
        EXPECT_EQ(r.findChild<QLabel*>(QString("Label%1").arg(25 + k))->text().toStdString(),
                  FormatGeneral(app.module().CaseElev(c)));
        EXPECT_EQ(r.findChild<QLabel*>(QString("Label%1").arg(35 + k))->text().toStdString(),
                  FormatGeneral(fit.BestRms[k - 1]));
    }
    EXPECT_EQ(r.findChild<QLabel*>("Label26")->text(), "1000");
    EXPECT_EQ(r.findChild<QLabel*>("Label16")->text(), "10");

    // The export hides the window and writes the search it shows.
    r.Command1->click();
    EXPECT_FALSE(r.isVisible());
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_TRUE(fs::exists(opened[0]));
    EXPECT_TRUE(graph().ExportStatus->text().contains(QString::fromStdString(opened[0].string())));
    EXPECT_EQ(RowsOf(opened[0]), 343);
}

TEST_F(Session, NoEligibleCaseShowsEmptyRowsAndSaysWhy) {
    app.form1().Text1->setText("44333"); // every deviation lies above 10000
    Calculate();
    Redraw();
    graph().Command5->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_FALSE(messages[0].error);
    EXPECT_TRUE(messages[0].text.contains("no case has a deviation below 10000"))
        << messages[0].text.toStdString();
    EXPECT_FALSE(messages[0].text.contains("excluded"));
    EXPECT_EQ(app.form4().findChild<QLabel*>("Label16")->text(), "");
    EXPECT_EQ(app.form4().findChild<QLabel*>("Label36")->text(), "");
}

TEST_F(Session, ExcessAirDialogWritesSelectedResults) {
    Calculate();
    for (int g : {0, 5, 6}) graph().Check[g]->click();
    Redraw();
    graph().Command6->click();
    Dialog& d = app.dialog();
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(d.Text17->text(), "0.001");
    EXPECT_EQ(d.Text23->text(), "0.05");
    EXPECT_EQ(d.Text24->text(), "0.001");
    d.OKButton->click();
    EXPECT_FALSE(d.isVisible());
    ASSERT_EQ(opened.size(), 1u) << (messages.empty() ? "" : messages[0].text.toStdString());
    EXPECT_EQ(opened[0].parent_path(), folder);
    EXPECT_NE(opened[0].filename().string().find("Selected Results"), std::string::npos);
    EXPECT_EQ(RowsOf(opened[0]), 492); // 490 result rows below the two header rows

    // A refused range brings the dialog back with its texts.
    graph().Command6->click();
    d.Text24->setText("0");
    d.OKButton->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.contains("Excess Air Step"));
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(d.Text24->text(), "0");
    d.CancelButton->click();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(opened.size(), 1u);
}

TEST_F(Session, SolubilityWorkbookAndAFailingFolder) {
    Calculate();
    graph().Command1->click();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(RowsOf(opened[0]), 343);
    // Without a program to open it, the window says where the workbook is.
    app.exportDestination.opener = [](const fs::path&) { return false; };
    graph().Command1->click();
    EXPECT_TRUE(graph().ExportStatus->text().contains("could be started"));
    // A folder that cannot be made: a clear message naming it; the grid stays.
    app.exportDestination.folder = "/proc/no-such-place/Temra";
    graph().Command1->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.contains("/proc/no-such-place/Temra"));
    EXPECT_EQ(app.module().CaseCount(), 341);
}

// ---- The gas-pair road -------------------------------------------------------

namespace {
void Tick(Form2& f, std::initializer_list<int> gases) {
    for (int g : gases) f.Check[static_cast<std::size_t>(g - 1)]->click();
}
} // namespace

TEST_F(Session, GasPairGraphOfHeliumAndNeon) {
    app.form1().Command2->click();
    Form2& f2 = app.form2();
    EXPECT_TRUE(f2.isVisible());
    EXPECT_FALSE(app.form1().isVisible());
    Tick(f2, {2, 1}); // the order of the clicks does not matter
    f2.Command1->click();
    Dialog1& d1 = app.dialog1();
    EXPECT_FALSE(f2.isVisible());
    EXPECT_TRUE(d1.isVisible());
    EXPECT_EQ(d1.Text5->text(), "30");
    d1.OKButton->click();
    ASSERT_TRUE(messages.empty()) << messages[0].text.toStdString();
    ArN2GraphForm& g = app.arN2GraphForm();
    EXPECT_TRUE(g.isVisible());
    EXPECT_FALSE(d1.isVisible());
    EXPECT_FALSE(app.form1().isVisible());
    plot::Plot* p = g.ArN2Graph;
    ASSERT_EQ(p->ChannelCount(), 7); // six curves and the measured point
    EXPECT_EQ(p->TitleText(), "Gas Pair Graph");
    EXPECT_EQ(p->ChannelTitle(0), "EA Content: 0");
    EXPECT_EQ(p->ChannelTitle(5), "EA Content: 0.05");
    EXPECT_EQ(p->ChannelTitle(6), "Measured Data");
    EXPECT_EQ(p->channel(0).PointCount(), 7);
    EXPECT_FALSE(p->channel(6).TraceVisible);
    EXPECT_EQ(p->xAxis().Title, "He-4 (cm3STP/gH2O)");
    EXPECT_EQ(p->yAxis().Title, "Ne-20 (cm3STP/gH2O)");
    const GasPairGraph& pair = app.module().GasPair();
    EXPECT_EQ(p->xAxis().Min, pair.PairXMin);
    EXPECT_EQ(p->yAxis().Span, pair.PairYMax);
    EXPECT_NEAR(p->channel(1).PointAt(2).x, 9.932e-8, 0.0005e-8); // 10 °C, excess air 0.01
    EXPECT_EQ(g.Label3->text(), "Tmin=0oC");
    EXPECT_EQ(g.Label4->text(), "Tmax=30oC");
}

TEST_F(Session, GasPairRangesFromTheDialog) {
    app.form1().Command2->click();
    Tick(app.form2(), {1, 2});
    app.form2().Command1->click();
    Dialog1& d1 = app.dialog1();
    d1.Text3->setText("0.1");
    d1.Text2->setText("0.3");
    d1.OKButton->click();
    EXPECT_EQ(app.arN2GraphForm().ArN2Graph->ChannelCount(), 4); // three curves
    // Back to the dialog, new temperatures, OK again: only the new curves.
    app.arN2GraphForm().Command1->click();
    EXPECT_TRUE(d1.isVisible());
    EXPECT_FALSE(app.form1().isVisible());
    EXPECT_EQ(app.arN2GraphForm().ArN2Graph->ChannelCount(), 0);
    d1.Text5->setText("1");
    d1.Text6->setText("0.3");
    d1.OKButton->click();
    plot::Plot* p = app.arN2GraphForm().ArN2Graph;
    EXPECT_EQ(p->channel(0).PointCount(), 4);
    EXPECT_EQ(app.arN2GraphForm().Label4->text(), "Tmax=0.9oC");
}

// Many curves: at the graph's first size the legend keeps off the points; at its
// smallest, every axis's labels stand apart.
TEST_F(Session, AGasPairGraphOfManyCurvesKeepsItsLabelsApart) {
    app.form1().Command2->click();
    Tick(app.form2(), {1, 2});
    app.form2().Command1->click();
    Dialog1& d1 = app.dialog1();
    d1.Text3->setText("0.001");
    d1.Text2->setText("0.012");
    d1.OKButton->click();
    ArN2GraphForm& g = app.arN2GraphForm();
    plot::Plot* p = g.ArN2Graph;
    ASSERT_GE(p->ChannelCount(), 13);
    for (const bool smallest : {false, true}) {
        if (smallest) g.resize(1, 1);
        for (int i = 0; i < 5; ++i) QApplication::processEvents();
        EXPECT_FALSE(p->LegendHidesData()) << smallest;
        for (const QCPAxis* axis : {p->Canvas()->xAxis, p->Canvas()->yAxis})
            EXPECT_TRUE(plot::TickLabelsApart(axis))
                << smallest << ": " << axis->tickVectorLabels().join(" | ").toStdString();
    }
}

TEST_F(Session, GasPairRefusalsKeepTheDialog) {
    app.form1().Command2->click();
    Tick(app.form2(), {3});
    app.form2().Command1->click();
    Dialog1& d1 = app.dialog1();
    d1.OKButton->click();
    // One gas ticked: the selection window comes back with its tick, and says what
    // to do.
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.contains("two gases are needed, 1 is selected"))
        << messages[0].text.toStdString();
    EXPECT_TRUE(messages[0].text.contains("Tick two gases on the selection window"))
        << messages[0].text.toStdString();
    EXPECT_FALSE(d1.isVisible());
    EXPECT_TRUE(app.form2().isVisible());
    EXPECT_TRUE(app.form2().Check[2]->isChecked());
    EXPECT_FALSE(app.HasArN2GraphForm() && app.arN2GraphForm().isVisible());
    Tick(app.form2(), {6});
    app.form2().Command1->click();
    EXPECT_TRUE(d1.isVisible());
    for (auto [box, text, expected] : {std::tuple{d1.Text3, "0", "Division by zero"},
                                       {d1.Text6, "-5", "points away"},
                                       {d1.Text3, "x", "Type mismatch"},
                                       {d1.Text3, "0.0001", "at most 100"},
                                       {d1.Text6, "0.01", "at most 1000"}}) {
        const QString before = box->text();
        messages.clear();
        box->setText(text);
        d1.OKButton->click();
        ASSERT_EQ(messages.size(), 1u) << text;
        EXPECT_TRUE(messages[0].text.contains(expected)) << messages[0].text.toStdString();
        EXPECT_TRUE(d1.isVisible());
        EXPECT_EQ(box->text(), text);
        box->setText(before);
    }
}

TEST_F(Session, BackTwiceEndsOnTheInputPageWithNoBoxTicked) {
    app.form1().Command2->click();
    Tick(app.form2(), {1, 3});
    app.form2().Command1->click();
    app.dialog1().Text2->setText("0.02");
    app.dialog1().OKButton->click();
    app.arN2GraphForm().Command1->click();
    app.dialog1().CancelButton->click();
    EXPECT_TRUE(app.form1().isVisible());
    EXPECT_FALSE(app.dialog1().isVisible());
    EXPECT_FALSE(app.form2().isVisible());
    for (QCheckBox* c : app.form2().Check) EXPECT_FALSE(c->isChecked());
    EXPECT_EQ(app.dialog1().Text2->text(), "0.02"); // the ranges stay
    app.form1().Command2->click();
    EXPECT_TRUE(app.form2().isVisible());
    for (QCheckBox* c : app.form2().Check) EXPECT_FALSE(c->isChecked());
}

TEST_F(Session, AGasPairGraphLeavesTheOpenResultWindowsExportIntact) {
    Calculate();
    Redraw();
    graph().Command5->click();
    const auto shown = app.module().NoEaPtr();
    graph().Command3->click(); // back to the input page; the result window stays open
    EXPECT_TRUE(app.form4().isVisible());
    app.form1().Command2->click();
    Tick(app.form2(), {3, 6});
    app.form2().Command1->click();
    app.dialog1().OKButton->click();
    app.form4().Command1->click();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(RowsOf(opened[0]), 343);
    EXPECT_EQ(app.module().CaseCount(), 341);
    EXPECT_EQ(app.module().NoEaPtr(), shown);
}

TEST_F(Session, EveryEndButtonEndsTheProgram) {
    Calculate();
    graph().Command4->click();
    EXPECT_TRUE(ended);
    ended = false;
    app.dialog1().Command1->click();
    EXPECT_TRUE(ended);
    ended = false;
    app.arN2GraphForm().Command2->click();
    EXPECT_TRUE(ended);
}

// Help ▸ User guide (F1) on the input page opens the guide the program holds,
// which is docs/guide.md as it stands, shown formatted.
TEST_F(Session, HelpUserGuideShowsTheGuide) {
    QAction* guide = nullptr;
    for (QAction* menu : app.form1().MenuBar->actions())
        if (menu->text() == "&Help")
            for (QAction* a : menu->menu()->actions())
                if (a->text() == "&User guide") guide = a;
    ASSERT_NE(guide, nullptr);
    EXPECT_EQ(guide->shortcut(), QKeySequence(QKeySequence::HelpContents));
    guide->trigger();
    GuideWindow& w = app.guideWindow();
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(app.form1().isVisible());
    const QString shown = w.Browser->document()->toPlainText();
    EXPECT_EQ(shown.section('\n', 0, 0), "Temra user guide");
    EXPECT_TRUE(shown.contains("10 A worked example"));
    EXPECT_FALSE(shown.contains("## ")) << "the Markdown is shown as it is written";
    QFile source(TEMRA_GUIDE_PATH);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    EXPECT_EQ(GuideWindow::GuideText(), QString::fromUtf8(source.readAll()));
    // Asked again, the same window comes back.
    w.hide();
    guide->trigger();
    EXPECT_EQ(&app.guideWindow(), &w);
    EXPECT_TRUE(w.isVisible());
}

// Renders every window to a PNG file in the build folder for review.
TEST_F(Session, RenderEveryWindow) {
    const fs::path out = fs::path(TEMRA_SCREENS_DIR);
    fs::create_directories(out);
    auto save = [&](QWidget& w, const char* name) {
        w.show();
        QApplication::processEvents();
        const QPixmap shot = w.grab();
        EXPECT_FALSE(shot.isNull()) << name;
        EXPECT_TRUE(
            shot.save(QString::fromStdString((out / (std::string(name) + ".png")).string())))
            << name;
    };
    save(app.form1(), "Form1");
    Calculate();
    save(graph(), "SolGraphForm-full");
    graph().Check[0]->click();
    graph().Check[4]->click();
    Redraw();
    save(graph(), "SolGraphForm-selected");
    graph().Command5->click();
    save(app.form4(), "Form4");
    save(app.dialog(), "Dialog");
    app.form2().Check[0]->click();
    app.form2().Check[1]->click();
    save(app.form2(), "Form2");
    save(app.dialog1(), "Dialog1");
    app.dialog1().OKButton->click();
    save(app.arN2GraphForm(), "ArN2GraphForm");
    save(app.guideWindow(), "GuideWindow");
}

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // TEMRA_TEST_SCREEN=<width>x<height>: the windows open on a screen of that size.
    const QByteArray screen = qgetenv("TEMRA_TEST_SCREEN");
    if (const auto x = screen.indexOf('x'); x > 0) {
        const std::string file =
            ::testing::TempDir() + "temra_screen_" + screen.toStdString() + ".json";
        std::FILE* f = std::fopen(file.c_str(), "w");
        if (!f) return 2;
        std::fprintf(f,
                     "{\"screens\": [{\"name\": \"test\", \"x\": 0, \"y\": 0, \"width\": %s, "
                     "\"height\": %s, \"logicalDpi\": 96}]}\n",
                     screen.left(x).constData(), screen.mid(x + 1).constData());
        std::fclose(f);
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + file.c_str());
    }
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
