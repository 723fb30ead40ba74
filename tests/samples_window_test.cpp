// The samples window, the misfit map and the figures, driven as a user would.
#include "cli/cli.h"
#include "core/solubility_sets.h"
#include "core/version.h"
#include "plot/distribution_plot.h"
#include "plot/figure.h"
#include "plot/map_plot.h"
#include "study/models/models.h"
#include "study/output/study_results.h"
#include "tests/ui_session.h"
#include "ui/draws_window.h"
#include "ui/guide_window.h"
#include "ui/misfit_window.h"
#include "ui/samples_model.h"
#include "ui/samples_window.h"

#include <qcustomplot.h>

#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QMenuBar>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTabBar>
#include <QTableView>
#include <QTextBlock>
#include <QTextBrowser>

#include <cmath>
#include <fstream>
#include <functional>
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
        std::string path = (folder / "samples.csv").string();
        std::ofstream(path) << text;
        return path;
    }
    SamplesWindow& samples() { return app.samplesWindow(); }
};

void Settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

namespace SC = study::SampleColumn;

int ProblemCells(const SamplesModel& m) {
    int n = 0;
    for (int r = 0; r < m.rowCount(); ++r)
        for (int c = 0; c < SC::kCount; ++c)
            n += m.data(m.index(r, c), Qt::BackgroundRole).isValid() ? 1 : 0;
    return n;
}

} // namespace

TEST_F(SamplesSession, OpenATableAndPasteBlocksBadCellsMarked) {
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable())));
    SamplesModel* m = samples().Model();
    ASSERT_EQ(m->rowCount(), 3);
    EXPECT_EQ(m->data(m->index(0, 0)).toString(), "exact");
    const QModelIndex bad = m->index(2, study::SampleColumn::Measured(1));
    EXPECT_EQ(m->data(bad).toString(), "abc");
    EXPECT_TRUE(m->data(bad, Qt::BackgroundRole).isValid());
    EXPECT_TRUE(m->data(bad, Qt::ToolTipRole).toString().contains("is not a number"));
    EXPECT_FALSE(m->data(m->index(0, 2), Qt::BackgroundRole).isValid());
    // A block from a spreadsheet without its header: all of the window's columns.
    samples().Paste("p1\t\t2.4e-07\t0.00038\t4.9e-08\t1.2e-08" + QString(13, '\t') +
                    "\np2\t\t\t0.00038\t4.9e-08\t1.2e-08" + QString(13, '\t') + "\n");
    ASSERT_TRUE(messages.empty()) << messages[0].text.toStdString();
    ASSERT_EQ(m->rowCount(), 5);
    EXPECT_EQ(m->data(m->index(3, study::SampleColumn::Measured(1))).toString(), "2.4e-07");
    // A fitted gas left blank is no fault: the sample is fitted without it.
    const QModelIndex blank = m->index(4, study::SampleColumn::Measured(1));
    EXPECT_FALSE(m->data(blank, Qt::BackgroundRole).isValid());
    EXPECT_TRUE(m->data(blank, Qt::ToolTipRole).toString().contains("no value for Ne-20"));
    // With its header, in its own order.
    samples().Paste("Xe\tsample\tNe\tAr\tKr\n1.2e-08\tp3\t2.4e-07\t0.00038\t4.9e-08\n");
    ASSERT_EQ(m->rowCount(), 6);
    EXPECT_EQ(m->data(m->index(5, 0)).toString(), "p3");
    EXPECT_EQ(m->data(m->index(5, study::SampleColumn::Measured(4))).toString(), "1.2e-08");
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
            EXPECT_TRUE(
                m->data(m->index(2, m->ResultColumnOf("flags"))).toString().startsWith("error"));
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
    const QModelIndex chi2 = m->index(0, m->ResultColumnOf("chi2"));
    EXPECT_EQ(m->data(chi2).toString(), QString::number(m->ResultAt(0)->chi2, 'g', 4));
    EXPECT_EQ(m->data(chi2, Qt::ToolTipRole).toString().toStdString(),
              FormatGeneral(m->ResultAt(0)->chi2));
    EXPECT_EQ(m->data(m->index(0, m->ResultColumnOf("temperature_C"))).toString(), "8.00");
    EXPECT_EQ(m->data(m->index(0, m->ResultColumnOf("elevation_m"))).toString(), "1500");
    EXPECT_TRUE(samples().Status->text().contains("2 samples fitted"));
}

// A model of the test's own: UA's excess air with a second parameter K fixed at
// 0.25, searched case by case.
study::Excess FixedK(const study::Fitted& f, const double* C, const study::Recharge& at,
                     const study::StudyOptions& o, int bits) {
    study::Excess e = study::InfoOf(study::Model::UA).fit.best(f, C, at, o, bits);
    e.second = 0.25;
    return e;
}
std::optional<double> NoExtreme(const study::Fitted&, const double*, const study::Recharge&,
                                const study::Excess&, const study::StudyOptions&, double,
                                study::Extreme) {
    return std::nullopt;
}
double UnitScale(const study::Fitted&, const study::Excess&, study::Extreme) {
    return 1;
}
double Two(const study::ModelParam&, const study::StudyOptions&) {
    return 2;
}

// A model added to the table appears in temra-cli's choices and results, the
// samples window's list and result columns, and the workbook's Settings, with no
// edit anywhere else.
TEST_F(SamplesSession, AModelAddedToTheTableIsOfferedAndReportedEverywhere) {
    study::ModelInfo tx = study::InfoOf(study::Model::UA);
    tx.model = static_cast<study::Model>(99);
    tx.key = "tx";
    tx.name = "TX";
    tx.choice = "TX: a model of the test";
    tx.settings = "TX (a model of the test)";
    tx.help = "a model of the test";
    tx.paramCount = 2;
    tx.params[1] = {"K", "test_k", "", 0, Two, "", "K=2", "", "K at its bound", "0 to 2"};
    tx.fit = {FixedK, NoExtreme, UnitScale, study::InfoOf(study::Model::UA).fit.conc};
    tx.closedForm = false;
    const study::ScopedModel added(tx);

    const std::string path = WriteTable();
    std::ostringstream help, out, err;
    cli::Run({"study", "--help"}, help, err);
    EXPECT_NE(help.str().find("tx: a model of the test"), std::string::npos) << help.str();
    EXPECT_EQ(cli::Run({"study", "--model", "TX", path}, out, err), 1) << err.str(); // the bad row
    std::istringstream lines(out.str());
    std::string header, first;
    std::getline(lines, header);
    std::getline(lines, first);
    EXPECT_NE(header.find(",relaxation_hi,test_k,test_k_lo,test_k_hi,preferred,"),
              std::string::npos)
        << header;
    EXPECT_NE(first.find(",TX,"), std::string::npos) << first;
    EXPECT_NE(first.find(",0.25,0.25,0.25,"), std::string::npos) << first;

    QComboBox* choice = samples().ModelChoice;
    const int at = choice->findText("TX: a model of the test");
    ASSERT_GE(at, 0);
    choice->setCurrentIndex(at);
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(path)));
    samples().FitAll();
    SamplesModel* m = samples().Model();
    const int k = m->ResultColumnOf("test_k");
    ASSERT_GE(k, 0);
    EXPECT_EQ(m->headerData(k, Qt::Horizontal).toString(), "K");
    EXPECT_EQ(m->data(m->index(0, k)).toString(), "0.25");
    EXPECT_FALSE(m->UnusedColumn(k));
    EXPECT_TRUE(m->UnusedColumn(m->ResultColumnOf("fractionation")));
    const auto settings = study::StudySettings(m->FitOptions());
    EXPECT_NE(std::find(settings.begin(), settings.end(),
                        std::pair<std::string, std::string>("K", "0 to 2")),
              settings.end());
}

// "All models": each row shows its preferred model, the selected sample's fits
// with every model stand side by side, and the export gives a row per model.
TEST_F(SamplesSession, AllModelsShowTheSelectedSamplesModelsSideBySide) {
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable())));
    samples().show();
    samples().ModelChoice->setCurrentIndex(samples().ModelChoice->count() - 1);
    ASSERT_TRUE(samples().FitAll());
    SamplesModel* m = samples().Model();
    const std::size_t M = study::Models().size();
    ASSERT_NE(m->ModelResultsAt(0), nullptr);
    EXPECT_EQ(m->ModelResultsAt(0)->size(), M);
    EXPECT_FALSE(samples().Table->isColumnHidden(m->ResultColumnOf("model")));
    samples().Table->selectRow(0);
    samples().Table->setCurrentIndex(m->index(0, m->ResultColumnOf("temperature_C")));
    Settle();
    EXPECT_TRUE(samples().Models->isVisible());
    EXPECT_EQ(samples().Models->rowCount(), static_cast<int>(M));
    EXPECT_EQ(m->ResultsToExport().size(), static_cast<std::size_t>(m->rowCount()) * M);
    // The row shows the preferred model where one has a degree of freedom.
    const auto& all = *m->ModelResultsAt(0);
    const bool anyPreferred =
        std::any_of(all.begin(), all.end(), [](const auto& r) { return r.preferred; });
    EXPECT_EQ(m->ResultAt(0)->preferred, anyPreferred);
}

// Monte Carlo draws in the window: their spread under the table, every model at
// once refused at the box.
TEST_F(SamplesSession, MonteCarloDrawsAreSummarisedUnderTheTable) {
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable())));
    samples().McDraws->setText("20");
    ASSERT_TRUE(samples().FitAll());
    SamplesModel* m = samples().Model();
    ASSERT_TRUE(m->ResultAt(0)->mc.has_value());
    EXPECT_TRUE(m->ResultNote(0).contains("Monte Carlo, 20 of 20 draws fitted: T "))
        << m->ResultNote(0).toStdString();
    EXPECT_EQ(m->FitOptions().mcDraws, 20);
    samples().ModelChoice->setCurrentIndex(samples().ModelChoice->count() - 1);
    messages.clear();
    EXPECT_FALSE(samples().FitAll());
    ASSERT_FALSE(messages.empty());
    EXPECT_TRUE(messages.back().text.contains("Monte Carlo draws"));
}

// Fit ▸ Lapse-rate prior: the posterior said under the table.
TEST_F(SamplesSession, ThePriorsPosteriorIsSaidUnderTheTable) {
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable())));
    samples().PriorAction->setChecked(true);
    ASSERT_TRUE(samples().FitAll());
    SamplesModel* m = samples().Model();
    ASSERT_TRUE(m->ResultAt(0)->posterior.has_value());
    EXPECT_TRUE(m->FitOptions().prior);
    EXPECT_TRUE(m->ResultNote(0).contains("With the lapse-rate prior: "))
        << m->ResultNote(0).toStdString();
    // The prior's offset and spread: a spread below 0 refused naming its box;
    // accepted ones named in the menu, the results out of date until fitted.
    EXPECT_FALSE(samples().SetPriorSettings("1.5", "-1"));
    ASSERT_FALSE(messages.empty());
    EXPECT_TRUE(messages.back().text.contains("Spread of the prior"))
        << messages.back().text.toStdString();
    const double before = m->ResultAt(0)->posterior->T.value;
    ASSERT_TRUE(samples().SetPriorSettings("1.5", "0.5"));
    EXPECT_EQ(samples().PriorAction->text(), "Lapse-rate &prior (MAAT line + 1.5 °C, ±0.5 °C)");
    ASSERT_TRUE(samples().FitAll());
    EXPECT_EQ(m->FitOptions().priorOffset, 1.5);
    EXPECT_EQ(m->FitOptions().priorSd, 0.5);
    EXPECT_NE(m->ResultAt(0)->posterior->T.value, before);
    // The posterior in the table's own columns, the prior said in the status line;
    // without the prior the columns are gone again.
    EXPECT_TRUE(samples().Status->text().contains(
        "with the lapse-rate prior (the MAAT line + 1.5 °C, ±0.5 °C)"))
        << samples().Status->text().toStdString();
    const int post = m->ResultColumnOf("posterior_temperature_C_median");
    ASSERT_GE(post, 0);
    EXPECT_EQ(m->headerData(post, Qt::Horizontal).toString(), "Post. T");
    EXPECT_FALSE(samples().Table->isColumnHidden(post));
    EXPECT_NEAR(m->data(m->index(0, post)).toString().toDouble(),
                m->ResultAt(0)->posterior->T.value, 0.005);
    samples().PriorAction->setChecked(false);
    ASSERT_TRUE(samples().FitAll());
    EXPECT_TRUE(samples().Table->isColumnHidden(post));
}

// With the prior the map offers the posterior (a share of its peak in each
// cell) and draws the marginals of T and elevation; Fit ▸ the sample's Monte
// Carlo draws shows their histograms, the draws its summary was made from.
TEST_F(SamplesSession, ThePosteriorAndTheDrawsAreDrawn) {
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable())));
    samples().Table->selectRow(0);
    samples().DrawsAction->trigger(); // no draws yet: the box is named
    ASSERT_FALSE(messages.empty());
    EXPECT_TRUE(messages.back().text.contains("\"Monte Carlo draws\""));
    samples().PriorAction->setChecked(true);
    samples().McDraws->setText("41");
    ASSERT_TRUE(samples().FitAll());
    samples().Table->selectRow(1);
    samples().MapButton->click();
    MisfitWindow& w = app.misfitWindow();
    ASSERT_TRUE(w.ViewChoice->isVisibleTo(&w));
    EXPECT_TRUE(w.Marginals->isVisibleTo(&w));
    EXPECT_TRUE(w.Summary->text().contains("With the lapse-rate prior (1 °C about the MAAT line)"))
        << w.Summary->text().toStdString();
    w.ViewChoice->setCurrentIndex(MisfitWindow::kPosterior);
    double most = 0;
    for (int t = 0; t <= 10; ++t)
        for (int h = 0; h <= 3000; h += 100) {
            const double v = w.Map->ValueAt(t, h);
            if (!std::isfinite(v)) continue;
            EXPECT_GE(v, 0);
            EXPECT_LE(v, 1);
            most = std::max(most, v);
        }
    EXPECT_EQ(most, 1.0);
    EXPECT_GT(w.MarginalT->BarCount(), 5);
    EXPECT_GT(w.MarginalE->BarCount(), 5);
    const study::StudyResult& fit = *samples().Model()->ResultAt(1);
    samples().DrawsAction->trigger();
    DrawsWindow& d = app.drawsWindow();
    ASSERT_TRUE(d.isVisible());
    EXPECT_EQ(static_cast<std::size_t>(d.Pairs->PointCount()), fit.mc->fitted);
    EXPECT_EQ(d.Histogram[0]->BarCount(), 30);
    const fs::path out = fs::path(TEMRA_SCREENS_DIR);
    fs::create_directories(out);
    w.resize(760, 700);
    d.resize(900, 520);
    Settle();
    EXPECT_TRUE(w.grab().save(QString::fromStdString((out / "MisfitPosterior.png").string())));
    EXPECT_TRUE(d.grab().save(QString::fromStdString((out / "MonteCarloDraws.png").string())));
    // At its first size and its smallest, every plot's tick labels stand apart
    // and its axes' titles are whole.
    const auto spaced = [&](const char* when) {
        for (plot::DistributionPlot* p : d.findChildren<plot::DistributionPlot*>()) {
            if (!p->isVisibleTo(&d)) continue;
            for (const QCPAxis* axis : {p->Canvas()->xAxis, p->Canvas()->yAxis}) {
                EXPECT_TRUE(plot::TickLabelsApart(axis))
                    << when << " " << p->objectName().toStdString() << ": "
                    << axis->tickVectorLabels().join(" | ").toStdString();
                const QRect area = axis->axisRect()->rect();
                EXPECT_LE(QFontMetrics(axis->labelFont()).horizontalAdvance(axis->label()),
                          axis->orientation() == Qt::Horizontal ? area.width() : area.height())
                    << when << " " << axis->label().toStdString();
            }
        }
    };
    spaced("first size");
    for (QWidget* window : {static_cast<QWidget*>(&w), static_cast<QWidget*>(&d)}) {
        window->resize(1, 1); // the smallest: every explanation whole
        Settle();
        for (QLabel* l : window->findChildren<QLabel*>()) {
            if (l->isVisibleTo(window) && l->wordWrap() && !l->text().isEmpty()) {
                EXPECT_GE(l->height(), l->heightForWidth(l->width()))
                    << l->objectName().toStdString();
            }
        }
    }
    spaced("smallest");
}

// Fit ▸ Fit groups together: the members of a group share T and elevation; the
// misfit map of a member is its group's, the refused member named; draws with
// it are refused naming their box.
TEST_F(SamplesSession, GroupsAreFittedTogetherAndMappedAsOne) {
    std::string table, line;
    std::istringstream rows(kTable);
    for (bool header = true; std::getline(rows, line); header = false)
        table += line + (header ? ",group\n" : ", G\n"); // every sample in group G
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable(table))));
    SamplesModel* m = samples().Model();
    ASSERT_EQ(m->SampleAt(2).group, "G");
    samples().EnsembleAction->setChecked(true);
    samples().McDraws->setText("10");
    samples().PriorAction->setChecked(true);
    EXPECT_FALSE(samples().FitAll()); // both conflicts named at once
    ASSERT_EQ(messages.size(), 1u);
    for (const char* said :
         {"Field: Monte Carlo draws", "Monte Carlo draws fit each sample alone",
          "the lapse-rate prior weighs each sample alone", "Fit ▸ Fit groups together"})
        EXPECT_TRUE(messages.back().text.contains(QString::fromUtf8(said)))
            << said << " in " << messages.back().text.toStdString();
    samples().PriorAction->setChecked(false);
    samples().McDraws->setText("0");
    ASSERT_TRUE(samples().FitAll());
    const study::StudyResult& first = *m->ResultAt(0);
    ASSERT_TRUE(first.group.has_value());
    EXPECT_EQ(first.group->members, 2u);
    EXPECT_EQ(first.temperature, m->ResultAt(1)->temperature);
    EXPECT_FALSE(SamplesModel::FlagMeaning("group-misfit").isEmpty());
    samples().Table->selectRow(1);
    samples().MapButton->click();
    MisfitWindow& w = app.misfitWindow();
    ASSERT_TRUE(w.isVisible()) << (messages.empty() ? "" : messages.back().text.toStdString());
    EXPECT_EQ(w.BestT, first.temperature);
    EXPECT_EQ(w.Chi2Min, first.group->chi2);
    EXPECT_FALSE(w.Contour.empty());
    EXPECT_FALSE(w.ViewChoice->isVisibleTo(&w));
    const QString summary = w.Summary->text();
    EXPECT_TRUE(summary.contains("Group G, 2 members fitted together (exact, noisy)"))
        << summary.toStdString();
    EXPECT_TRUE(summary.contains("Not in the group's fit: bad (")) << summary.toStdString();
    const fs::path out = fs::path(TEMRA_SCREENS_DIR);
    fs::create_directories(out);
    w.resize(760, 600);
    Settle();
    EXPECT_TRUE(w.grab().save(QString::fromStdString((out / "GroupMisfitMap.png").string())));
}

TEST_F(SamplesSession, ACancelledFitKeepsTheEarlierResults) {
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable())));
    samples().FitAll();
    const double chi2 = samples().Model()->ResultAt(1)->chi2;
    samples().ModelChoice->setCurrentIndex(1); // CE
    app.hooks.runStarted = [](RunControl& c) { c.Cancel(); };
    samples().FitAll();
    ASSERT_TRUE(samples().Model()->ResultAt(1).has_value());
    EXPECT_EQ(samples().Model()->ResultAt(1)->chi2, chi2);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(samples().Status->text(), "Fit cancelled; the earlier results are kept.");
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
    // The sample has no N2 and O2: their boxes keep what they held, and the
    // samples window says so.
    EXPECT_EQ(f.Text6->text(), "1.66E-02");
    EXPECT_EQ(f.Text7->text(), "2.077E-5");
    EXPECT_TRUE(samples().Status->text().contains("no value for N-28, O-32"))
        << samples().Status->text().toStdString();
    EXPECT_EQ(f.Text15->text(), "0.2");
    EXPECT_EQ(f.Text14->text(), "1.01");
    f.Command1->click(); // the page calculates with them
    EXPECT_TRUE(messages.empty()) << messages[0].text.toStdString();
}

TEST_F(SamplesSession, TheMisfitMapMarksTheBestCaseAndItsRegion) {
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable())));
    ASSERT_TRUE(samples().FitAll());
    samples().Table->selectRow(1); // the noisy sample
    samples().MapButton->click();
    MisfitWindow& w = app.misfitWindow();
    ASSERT_TRUE(w.isVisible()) << (messages.empty() ? "" : messages[0].text.toStdString());
    ASSERT_TRUE(w.Map->HasMap());
    // The marker is the sample's result in the samples window, which lies off the
    // grid's points (1 °C by 100 m); the continuous minimum is below every case's
    // misfit.
    const study::StudyResult& fit = *samples().Model()->ResultAt(1);
    EXPECT_EQ(w.BestT, fit.temperature);
    EXPECT_EQ(w.BestH, fit.elevation);
    EXPECT_EQ(w.Chi2Min, fit.chi2);
    EXPECT_GT(std::hypot(w.BestT - std::round(w.BestT), w.BestH / 100 - std::round(w.BestH / 100)),
              0.01);
    const QCPGraph* marker = w.Map->Canvas()->graph(w.Map->Canvas()->graphCount() - 1);
    ASSERT_EQ(marker->name(), "Best fit");
    EXPECT_EQ(marker->data()->begin()->key, w.BestT);
    EXPECT_EQ(marker->data()->begin()->value, w.BestH);
    for (int t = 0; t <= 10; ++t)
        for (int h = 0; h <= 3000; h += 100) EXPECT_LE(w.Chi2Min, w.Map->ValueAt(t, h)) << t << h;
    // The truth (8 °C, 1500 m) lies in the 1-sigma region, which the contour
    // surrounds on every side.
    EXPECT_LE(w.Map->ValueAt(8, 1500), w.Chi2Min + 1);
    bool left = false, right = false, below = false, above = false;
    for (const auto& s : w.Contour)
        for (std::size_t e = 0; e < 2; ++e) {
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
    // A sample with a known elevation: chi2 against temperature, with the level
    // chi2min + 1. The legend covers neither.
    w.resize(760, 600);
    Settle();
    EXPECT_FALSE(w.Map->LegendRect().isEmpty());
    EXPECT_FALSE(w.Map->LegendRect().intersects(w.Map->PlotRect()));
    samples().Model()->setData(samples().Model()->index(1, study::SampleColumn::kElevation),
                               "1500");
    samples().MapButton->click();
    EXPECT_FALSE(w.Map->HasMap());
    EXPECT_EQ(w.BestH, 1500);
    EXPECT_EQ(w.Map->OverlayCount(), 3); // the curve, the level and the best case
    const QCPGraph* level = w.Map->Canvas()->graph(1);
    EXPECT_EQ(level->name(), QString::fromUtf8("Δχ² = 1 (1σ range)"));
    EXPECT_EQ(level->data()->begin()->value, w.Chi2Min + 1);
    EXPECT_TRUE(w.Map->Canvas()->yAxis->range().contains(w.Chi2Min + 1));
    w.Map->Replot();
    EXPECT_FALSE(w.Map->LegendRect().intersects(w.Map->PlotRect()));
    // The logarithmic axis has a labelled decade below the best fit's χ² (the
    // lowest point drawn) and above the highest.
    const QCPRange chi2 = w.Map->Canvas()->yAxis->range();
    EXPECT_LE(chi2.lower, w.Chi2Min);
    EXPECT_EQ(chi2.lower, std::pow(10.0, std::round(std::log10(chi2.lower))));
    EXPECT_EQ(chi2.upper, std::pow(10.0, std::round(std::log10(chi2.upper))));
}

namespace {

// In the misfit map's SVG figure, the legend's line ends clear of its text.
void ExpectLegendLineClearOfText(const QString& svg, const fs::path& file) {
    const QRegularExpression text("x=\"([0-9.]+)\" y=\"([0-9.]+)\"[^>]*>\\s*Δχ²");
    const QRegularExpressionMatch t = text.match(svg);
    ASSERT_TRUE(t.hasMatch()) << file;
    const double textX = t.captured(1).toDouble(), textY = t.captured(2).toDouble();
    const QRegularExpression line("points=\"([0-9.]+),([0-9.]+) ([0-9.]+),([0-9.]+) \"");
    double lineEnd = -1;
    for (auto it = line.globalMatch(svg); it.hasNext();) {
        const QRegularExpressionMatch l = it.next();
        if (std::fabs(l.captured(2).toDouble() - textY) < 12 && l.captured(3).toDouble() < textX)
            lineEnd = std::max(lineEnd, l.captured(3).toDouble());
    }
    ASSERT_GT(lineEnd, 0) << file;
    EXPECT_GE(textX - lineEnd, 4) << file;
}

// A figure file as its kind is: a PDF whose colour map is an image kept as drawn
// (not JPEG), an SVG, a PNG at 300 dpi of the canvas.
void ExpectFigure(const fs::path& file, const std::string& kind, QCustomPlot* canvas, bool map) {
    ASSERT_TRUE(fs::exists(file));
    EXPECT_GT(fs::file_size(file), 1000u) << file;
    QFile f(QString::fromStdString(file.string()));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray all = f.readAll();
    if (kind == "pdf") {
        EXPECT_TRUE(all.startsWith("%PDF")) << file;
        EXPECT_FALSE(all.contains("/DCTDecode")) << file;
        if (map) {
            EXPECT_TRUE(all.contains("/Subtype /Image") && all.contains("/FlateDecode")) << file;
        }
    } else if (kind == "svg") {
        const QString svg = QString::fromUtf8(all);
        EXPECT_TRUE(svg.contains("<svg")) << file;
        if (map) ExpectLegendLineClearOfText(svg, file);
    } else {
        const QImage png(QString::fromStdString(file.string()));
        EXPECT_NEAR(png.width(), canvas->width() * 300.0 / 96, 2) << file;
    }
}

} // namespace

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
            ExpectFigure(file, kind, canvas, canvas == app.misfitWindow().Map->Canvas());
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
    // F1 in the samples window opens the guide at the study fit; the guide finds
    // a word again from the top, says when it holds none, and stays readable.
    QAction* f1 = nullptr;
    for (QAction* a : samples().findChildren<QAction*>())
        if (a->shortcut() == QKeySequence(QKeySequence::HelpContents)) f1 = a;
    ASSERT_NE(f1, nullptr);
    f1->trigger();
    GuideWindow& guide = app.guideWindow();
    ASSERT_TRUE(guide.isVisible());
    EXPECT_TRUE(guide.Browser->textCursor().block().text().startsWith("5 The study fit"));
    EXPECT_TRUE(guide.Find("lapse-rate prior"));
    const int first = guide.Browser->textCursor().position();
    while (guide.Find("lapse-rate prior") && guide.Browser->textCursor().position() != first) {
    }
    EXPECT_EQ(guide.Browser->textCursor().position(), first);
    EXPECT_FALSE(guide.Find("zzqx"));
    EXPECT_TRUE(guide.SearchNote->text().contains("\"zzqx\" is not in the guide"));
    guide.resize(100, 100);
    Settle();
    const QFontMetrics text = guide.Browser->fontMetrics();
    EXPECT_GE(guide.Browser->viewport()->height(), 5 * text.lineSpacing());
    EXPECT_GE(guide.Browser->viewport()->width(), 30 * text.averageCharWidth());
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

// A workbook of several sheets asks which holds the samples; Cancel opens nothing.
TEST_F(SamplesSession, AWorkbookOfSeveralSheetsAsksWhichHoldsTheSamples) {
    fs::create_directories(folder);
    const fs::path book = folder / "lab.xlsx";
    const std::string make =
        "/usr/bin/python3 -c \"import openpyxl; b = openpyxl.Workbook(); b.active.title = "
        "'Notes'; b.active.append(['remarks']); s = b.create_sheet('Gases'); s.append(['sample', "
        "'Ne-20', 'Ar-40', 'Kr-84', 'Xe']); s.append(['A', 2.391e-07, 0.0003825, 4.918e-08, "
        "1.2298e-08]); b.save('" +
        book.string() + "')\"";
    ASSERT_EQ(std::system(make.c_str()), 0);
    std::vector<QStringList> offered;
    std::optional<int> answer;
    app.hooks.choose = [&](QWidget*, const QString&, const QStringList& items) {
        offered.push_back(items);
        return answer;
    };
    const QString path = QString::fromStdString(book.string());
    EXPECT_FALSE(samples().OpenFile(path));
    EXPECT_EQ(samples().Model()->rowCount(), 0);
    answer = 1;
    ASSERT_TRUE(samples().OpenFile(path));
    ASSERT_EQ(offered.size(), 2u);
    EXPECT_EQ(offered[1], (QStringList{"Notes", "Gases"}));
    ASSERT_EQ(samples().Model()->rowCount(), 1);
    EXPECT_EQ(samples().Model()->SampleAt(0).name, "A");
    EXPECT_TRUE(messages.empty());
}

// The results' rows as the CSV writes them.
std::vector<std::vector<study::ResultCell>> ResultRows(const SamplesModel& m) {
    std::vector<std::vector<study::ResultCell>> rows;
    for (int r = 0; r < m.rowCount(); ++r)
        if (m.ResultAt(r)) rows.push_back(study::ResultRow(*m.ResultAt(r), m.FitOptions()));
    return rows;
}

// A "Study Results" workbook opened again gives its samples and offers the
// settings its study was fitted with; taken, "Fit all" gives the very results the
// workbook was written with.
TEST_F(SamplesSession, AStudyWorkbookOpensAgainWithTheSettingsItWasFittedWith) {
    // Values as a laboratory gives them (the workbook holds 16 digits of each).
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(
        WriteTable("sample,Ne-20,Ar-40,Kr-84,Xe\nA,2.391e-07,0.0003825,4.918e-08,1.2298e-08\n"
                   "B,2.403e-07,0.0003844,4.943e-08,1.2359e-08\n"))));
    auto set = [&](int model, const char* draws, const char* relErr, bool prior,
                   const char* tempMax) {
        samples().ModelChoice->setCurrentIndex(model);
        samples().McDraws->setText(draws);
        samples().RelErr->setText(relErr);
        samples().PriorAction->setChecked(prior);
        app.form1().Text21->setText(tempMax);
    };
    set(1, "20", "0.02", true, "20"); // CE with draws and the prior, to 20 °C
    ASSERT_TRUE(samples().FitAll());
    const auto fitted = ResultRows(*samples().Model());
    ASSERT_EQ(fitted.size(), 2u);
    samples().ExportButton->click();
    ASSERT_EQ(opened.size(), 1u);
    set(0, "0", "0.01", false, "10");
    std::vector<QString> asked;
    app.hooks.confirm = [&](QWidget*, const QString& text) {
        asked.push_back(text);
        return true;
    };
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(opened[0].string())));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_TRUE(asked[0].contains("• Model (UA (") && asked[0].contains("now CE (") &&
                asked[0].endsWith("Take them for the fit?"))
        << asked[0].toStdString();
    EXPECT_EQ(samples().ModelChoice->currentIndex(), 1);
    EXPECT_EQ(app.form1().Text21->text(), "20");
    ASSERT_TRUE(samples().FitAll());
    const auto again = ResultRows(*samples().Model());
    ASSERT_EQ(again.size(), fitted.size());
    for (std::size_t r = 0; r < fitted.size(); ++r)
        for (std::size_t c = 0; c < fitted[r].size(); ++c) {
            EXPECT_EQ(again[r][c].kind, fitted[r][c].kind) << r << "," << c;
            EXPECT_EQ(again[r][c].text, fitted[r][c].text) << r << "," << c;
            EXPECT_TRUE(again[r][c].number == fitted[r][c].number ||
                        (std::isnan(again[r][c].number) && std::isnan(fitted[r][c].number)))
                << r << "," << c;
        }
    // Opened again with the same settings, nothing is asked.
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(opened[0].string())));
    EXPECT_EQ(asked.size(), 1u);
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

// After a fit the results are in view beside the samples' names, whose column
// stays in place while the others scroll; flags are shown whole and explained.
TEST_F(SamplesSession, TheResultsComeIntoViewBesideTheNames) {
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable())));
    samples().show();
    samples().resize(900, 600);
    Settle();
    QTableView* t = samples().Table;
    SamplesModel* m = samples().Model();
    EXPECT_EQ(samples().ViewChoice->currentIndex(), SamplesWindow::kMeasurements);
    EXPECT_TRUE(t->isColumnHidden(m->ResultColumnOf("temperature_C")));
    // The measurements scrolled to their end: the names stay where they were.
    t->horizontalScrollBar()->setValue(t->horizontalScrollBar()->maximum());
    Settle();
    EXPECT_GT(t->horizontalScrollBar()->value(), 0);
    EXPECT_TRUE(samples().Names->isVisible());
    EXPECT_EQ(samples().Names->x(), t->verticalHeader()->width() + t->frameWidth());
    EXPECT_EQ(samples().Names->columnWidth(0), t->columnWidth(0));
    app.form1().Text21->setText("8"); // 8 °C, the samples' temperature, is the grid's edge
    ASSERT_TRUE(samples().FitAll());
    Settle();
    EXPECT_EQ(samples().ViewChoice->currentIndex(), SamplesWindow::kResults);
    for (int c :
         {m->ResultColumnOf("temperature_C"), m->ResultColumnOf("elevation_m"),
          m->ResultColumnOf("excess_air"), m->ResultColumnOf("chi2"), m->ResultColumnOf("p")}) {
        EXPECT_FALSE(t->isColumnHidden(c)) << c;
        EXPECT_TRUE(t->viewport()->rect().contains(t->visualRect(m->index(0, c)))) << c;
    }
    EXPECT_LT(t->visualRect(m->index(0, m->ResultColumnOf("flags"))).left(),
              t->viewport()->width());
    EXPECT_TRUE(t->isColumnHidden(SC::Measured(1)));
    EXPECT_TRUE(t->isColumnHidden(m->ResultColumnOf("fractionation"))); // UA has no F
    // Flags and refusals whole, explained in the tooltip and the row's note.
    for (int r : {0, 2}) {
        const QString flags = m->data(m->index(r, m->ResultColumnOf("flags"))).toString();
        EXPECT_TRUE(flags.startsWith(r == 0 ? "edge-T" : "error: Ne-20 on row 4")) << r;
        EXPECT_GE(t->columnWidth(m->ResultColumnOf("flags")),
                  t->fontMetrics().horizontalAdvance(flags));
    }
    EXPECT_TRUE(m->data(m->index(0, m->ResultColumnOf("flags")), Qt::ToolTipRole)
                    .toString()
                    .startsWith("edge-T: the best temperature is at an end"));
    t->selectRow(0);
    EXPECT_TRUE(samples().RowNote->text().contains("Flags: edge-T (the best temperature"))
        << samples().RowNote->text().toStdString();
}

// A pasted block is read by its header's names; without a header its columns
// must be all of the window's, in order, or it is refused with its count and
// the order expected. Columns not read are named.
TEST_F(SamplesSession, PastedBlocksAreReadByTheirNamesOrRefused) {
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable())));
    SamplesModel* m = samples().Model();
    // sample, the seven gases, then the errors of Ne-20, Ar-40, Kr-84 and Xe.
    const QString twelve =
        "p\t6.5e-08\t2.4e-07\t0.00038\t4.9e-08\t1.2e-08\t\t\t2.4e-09\t3.8e-06\t4.9e-10\t1.2e-10";
    const QString named = "sample\tHe-4\tNe-20\tAr-40\tKr-84\tXe\tN2\tO2\tNe-20 err\tAr-40 err\t"
                          "Kr-84 err\tXe err\tnotes\n";
    const QString eighteen =
        "q\t\t2.4e-07\t0.00038\t4.9e-08\t1.2e-08\t\t\t\t2.4e-09" + QString(8, '\t');
    struct Row {
        QString block;
        int added;
        const char* says;
        int column;
        const char* value;
    };
    const Row rows[] = {
        {twelve + "\n", 0, "has 12 columns and no header row", 0, ""},
        {named + twelve + "\tfrom the lab\n", 1, "columns not read: \"notes\"", SC::Error(1),
         "2.4e-09"},
        {eighteen + "\t\n", 1, "1 sample pasted", SC::Error(1), "2.4e-09"},
        {eighteen + "\tw1\n", 1, "1 sample pasted", SC::kGroup, "w1"},
        {eighteen + "\tw1\t1\n", 0, "has 20 columns", 0, ""},
        {"sample,Ne,Ar,Kr,Xe\nc,2.4e-07,0.00038,4.9e-08,1.2e-08\n", 1, "decimal separator \".\"",
         SC::Measured(1), "2.17152E-07"}, // total neon, held as Ne-20
        {"sample,Ne,Ar,Kr,Xe\nr,2,4e-07,0.00038,4.9e-08,1.2e-08\n", 0,
         "row 2 has 6 fields, its header 5", 0, ""},
    };
    for (const Row& row : rows) {
        const int before = m->rowCount();
        const std::size_t told = messages.size();
        samples().Paste(row.block);
        ASSERT_EQ(m->rowCount() - before, row.added) << row.block.toStdString();
        const QString said = row.added > 0            ? samples().Status->text()
                             : messages.size() > told ? messages.back().text
                                                      : QString();
        EXPECT_TRUE(said.contains(row.says)) << said.toStdString();
        if (row.added > 0) {
            EXPECT_EQ(m->data(m->index(before, row.column)).toString(), row.value);
        }
    }
    EXPECT_TRUE(messages[0].text.contains("in this order: sample, He-4, Ne-20, Ar-40"));
}

// A cell edit, a pasted value or block, deleted rows and an added row are undone
// by the Edit menu's Undo (Ctrl+Z), the results of their rows with them.
TEST_F(SamplesSession, EditsPastesAndDeletionsAreUndone) {
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable())));
    ASSERT_TRUE(samples().FitAll());
    SamplesModel* m = samples().Model();
    QTableView* t = samples().Table;
    auto table = [&] {
        std::string text = study::SamplesCsv(m->Samples(), '.');
        for (int r = 0; r < m->rowCount(); ++r) text += m->ResultAt(r) ? "+" : "-";
        return text;
    };
    struct Step {
        const char* name;
        std::function<void()> act;
    };
    const Step steps[] = {
        {"a cell edit", [&] { m->setData(m->index(0, SC::Measured(1)), "2.5e-07"); }},
        {"a value pasted into a cell",
         [&] {
             t->setCurrentIndex(m->index(1, SC::Measured(2)));
             samples().Paste("0.0004\n");
         }},
        {"a pasted block",
         [&] {
             samples().Paste("sample\tNe\tAr\tKr\tXe\nz\t2.4e-07\t0.00038\t4.9e-08\t1.2e-08\n");
         }},
        {"deleted rows",
         [&] {
             t->selectRow(0);
             t->selectionModel()->select(m->index(2, 0),
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
             samples().DeleteButton->click();
         }},
        {"an added row", [&] { samples().AddButton->click(); }},
    };
    for (const Step& step : steps) {
        const std::string before = table();
        step.act();
        const std::string after = table();
        EXPECT_NE(after, before) << step.name;
        samples().UndoAction->trigger();
        EXPECT_EQ(table(), before) << step.name;
        samples().RedoAction->trigger();
        EXPECT_EQ(table(), after) << step.name;
        samples().UndoAction->trigger();
    }
    EXPECT_EQ(samples().UndoAction->shortcut(), QKeySequence(QKeySequence::Undo));
    EXPECT_TRUE(messages.empty());
}

// In a German locale a table is read as the input page reads its boxes: decimal
// commas, '.' as well, "1.000" refused as ambiguous; a comma-separated table
// has '.' as decimal point. The status line says which separator was read.
TEST(GermanSamples, TablesAreReadAsTheInputPageReadsItsBoxes) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    {
        TemraApp app;
        std::vector<QString> messages;
        app.hooks.message = [&](QWidget*, const QString&, const QString& text, bool) {
            messages.push_back(text);
        };
        app.form1().show();
        SamplesWindow& w = app.samplesWindow();
        std::string semicolons = kTable;
        for (char& c : semicolons) c = c == ',' ? ';' : c == '.' ? ',' : c;
        struct Row {
            std::string table;
            const char* status;
            int problems;
            const char* ne20; // the first sample's Ne-20 as shown
        };
        const Row rows[] = {
            {semicolons, "decimal separator \",\" (\".\" read as well).", 1,
             "2,390923811434094e-07"},
            {kTable, "decimal separator \".\" (the table is comma-separated), shown with \",\"", 1,
             "2,390923811434094e-07"},
            {"sample;Ne-20;Ar-40;Kr-84;Xe;density\nx;2.39e-07;0,00038;4,9e-08;1,2e-08;1.000\n",
             "decimal separator \",\"", 1, "2.39e-07"},
        };
        const fs::path file = fs::path(::testing::TempDir()) / "temra_german_samples.csv";
        for (const Row& row : rows) {
            std::ofstream(file) << row.table;
            ASSERT_TRUE(w.OpenFile(QString::fromStdString(file.string())));
            EXPECT_TRUE(w.Status->text().contains(row.status)) << w.Status->text().toStdString();
            EXPECT_EQ(ProblemCells(*w.Model()), row.problems) << row.table;
            EXPECT_EQ(w.Model()->data(w.Model()->index(0, SC::Measured(1))).toString(), row.ne20);
        }
        EXPECT_TRUE(w.Model()
                        ->data(w.Model()->index(0, SC::kDensity), Qt::ToolTipRole)
                        .toString()
                        .contains("can be read two ways"));
        // The page gets the numbers with its separator; the fit reads them as shown.
        w.Table->selectRow(0);
        w.UseOnInputPage();
        EXPECT_EQ(app.form1().Text2->text(), "2,39e-07");
        EXPECT_EQ(app.form1().Text14->text(), "1.000"); // as typed: the page refuses it too
        app.form1().Text14->setText("1");
        std::ofstream(file) << kTable;
        ASSERT_TRUE(w.OpenFile(QString::fromStdString(file.string())));
        ASSERT_TRUE(w.FitAll());
        EXPECT_TRUE(w.Model()->ResultAt(0)->error.empty());
        EXPECT_TRUE(messages.empty()) << messages[0].toStdString();
    }
    QLocale::setDefault(QLocale::c());
}

// Results fitted before the input page's grid or the fit's settings changed are
// marked; the map of a fitted sample keeps the grid of its fit, says when it is
// out of date and fits again on request.
TEST_F(SamplesSession, ResultsOfAnotherGridAreMarkedAndTheMapKeepsItsFitsGrid) {
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable())));
    ASSERT_TRUE(samples().FitAll());
    SamplesModel* m = samples().Model();
    samples().Table->selectRow(1);
    samples().MapButton->click();
    MisfitWindow& w = app.misfitWindow();
    EXPECT_TRUE(w.Summary->text().contains("0 to 10 °C in steps of 1."))
        << w.Summary->text().toStdString();
    Form1& page = app.form1();
    struct Change {
        const char* what;
        std::function<void()> make;
        bool outOfDate;
    };
    const Change changes[] = {
        {"the sampling elevation, which no computation reads", [&] { page.Text18->setText("500"); },
         false},
        {"a measured gas of the page", [&] { page.Text1->setText("5E-08"); }, false},
        {"the model", [&] { samples().ModelChoice->setCurrentIndex(1); }, true},
        {"the model back", [&] { samples().ModelChoice->setCurrentIndex(0); }, false},
        {"the temperature step", [&] { page.Text26->setText("0.5"); }, true},
    };
    for (const Change& c : changes) {
        c.make();
        EXPECT_EQ(!m->OutOfDate().isEmpty(), c.outOfDate) << c.what;
        EXPECT_EQ(samples().ViewChoice->tabText(SamplesWindow::kResults).contains("out of date"),
                  c.outOfDate)
            << c.what;
        EXPECT_EQ(m->data(m->index(0, m->ResultColumnOf("chi2")), Qt::ForegroundRole).isValid(),
                  c.outOfDate)
            << c.what;
        EXPECT_EQ(w.OutOfDate->isVisible() && w.FitAgain->isVisible(), c.outOfDate) << c.what;
    }
    EXPECT_TRUE(w.OutOfDate->text().contains("Step (1, now 0.5)"))
        << w.OutOfDate->text().toStdString();
    // Drawn again, the map keeps the fit's grid.
    samples().MapButton->click();
    EXPECT_TRUE(w.Summary->text().contains("in steps of 1."));
    EXPECT_TRUE(w.OutOfDate->isVisible());
    w.FitAgain->click();
    EXPECT_TRUE(m->OutOfDate().isEmpty());
    EXPECT_TRUE(w.Summary->text().contains("0 to 10 °C in steps of 0.5."))
        << w.Summary->text().toStdString();
    EXPECT_FALSE(w.OutOfDate->isVisible());
    EXPECT_EQ(samples().ViewChoice->tabText(SamplesWindow::kResults), "Results");
    EXPECT_TRUE(messages.empty());
}

// The map and the draws follow the samples window's table: a change of model or
// bound, an edited or deleted sample, another table opened, each is said under
// them in the window's words (no temra-cli option), and "Fit again" is offered
// only where it can bring them up to date.
TEST_F(SamplesSession, TheMapAndTheDrawsFollowTheOpenTable) {
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable())));
    samples().ModelChoice->setCurrentIndex(2); // PR, whose bound has a box
    samples().McDraws->setText("12");
    ASSERT_TRUE(samples().FitAll());
    samples().Table->selectRow(1);
    samples().MapButton->click();
    samples().DrawsAction->trigger();
    MisfitWindow& map = app.misfitWindow();
    DrawsWindow& draws = app.drawsWindow();
    const auto stale = [&](const char* part, bool fitAgain) {
        for (QLabel* note : {map.OutOfDate, draws.OutOfDate}) {
            EXPECT_TRUE(note->isVisibleTo(note->window()));
            EXPECT_TRUE(note->text().contains(part)) << note->text().toStdString();
            EXPECT_FALSE(note->text().contains("--")) << note->text().toStdString();
        }
        EXPECT_EQ(map.FitAgain->isVisibleTo(&map), fitAgain) << part;
    };
    EXPECT_FALSE(map.OutOfDate->isVisibleTo(&map));
    EXPECT_FALSE(draws.OutOfDate->isVisibleTo(&draws));
    samples().Upper->setText("20");
    emit samples().Upper->editingFinished();
    stale("Largest R of PR (10, now 20)", true);
    samples().Upper->setText("10");
    emit samples().Upper->editingFinished();
    EXPECT_FALSE(draws.OutOfDate->isVisibleTo(&draws));
    // The mapped sample's neon edited, then put back.
    SamplesModel* m = samples().Model();
    const QModelIndex ne = m->index(1, SC::Measured(0));
    const QVariant was = m->data(ne, Qt::EditRole);
    ASSERT_TRUE(m->setData(ne, "2.5e-07"));
    stale("the values of noisy changed", true);
    ASSERT_TRUE(m->setData(ne, was));
    EXPECT_FALSE(map.OutOfDate->isVisibleTo(&map));
    // Taken out of the table: nothing to fit again.
    m->RemoveRows({1});
    stale("noisy (or a member) was taken out", false);
    m->UndoStack()->undo();
    EXPECT_FALSE(map.OutOfDate->isVisibleTo(&map));
    // Another table opened: the drawings say whose they are.
    const fs::path other = folder / "other.csv";
    std::ofstream(other) << kTable;
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(other.string())));
    ASSERT_TRUE(samples().FitAll());
    stale("this is noisy of the table \"samples.csv\", which is no longer open", false);
    // At its smallest, a long note is whole and below the plot, not over it.
    for (QWidget* window : {static_cast<QWidget*>(&map), static_cast<QWidget*>(&draws)}) {
        window->resize(1, 1);
        Settle();
        QLabel* note = window->findChild<QLabel*>("OutOfDate");
        EXPECT_GE(note->height(), note->heightForWidth(note->width()));
        for (QWidget* plot : window->findChildren<QWidget*>()) {
            if (plot->objectName() == "Map" || plot->objectName() == "Pairs") {
                EXPECT_FALSE(plot->geometry().intersects(note->geometry()));
            }
        }
    }
    EXPECT_TRUE(messages.empty());
}

// The table saved as CSV is complete under its name (or not written at all) and
// read back alike by the window and temra-cli; its rows are then numbered as in
// that file, and an export says whether the table was edited since.
TEST_F(SamplesSession, SavedSamplesAreReadBackByTheWindowAndTemraCli) {
    const std::string path = WriteTable();
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(path)));
    samples().show();
    SamplesModel* m = samples().Model();
    m->setData(m->index(2, SC::Measured(1)), "2.391e-07"); // "bad" mended
    ASSERT_TRUE(samples().FitAll());
    samples().ExportButton->click();
    ASSERT_EQ(opened.size(), 1u);
    const auto edited = [](const fs::path& workbook) {
        return Workbook(workbook, "dict(wb['Settings'].iter_rows(values_only=True))['Samples "
                                  "edited since opened or saved']");
    };
    EXPECT_EQ(edited(opened[0]), "yes: the sheet \"Samples\" holds the table as fitted");
    const fs::path saved = folder / "saved.csv";
    ASSERT_TRUE(samples().SaveSamples(QString::fromStdString(saved.string())));
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() != ".xlsx" && e.path().extension() != ".out")
            files.push_back(e.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"samples.csv", "saved.csv"})); // nothing else
    std::ostringstream out, err;
    EXPECT_EQ(cli::Run({"study", saved.string()}, out, err), 0) << err.str();
    EXPECT_NE(out.str().find("\nbad,UA,"), std::string::npos) << out.str();
    const std::vector<study::Sample> before = m->Samples();
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(saved.string())));
    for (int r = 0; r < m->rowCount(); ++r) {
        EXPECT_EQ(m->SampleAt(r).row, static_cast<std::size_t>(r) + 2);
        for (int c = 0; c < SC::kCount; ++c)
            EXPECT_EQ(SC::Text(m->SampleAt(r), c),
                      SC::Text(before[static_cast<std::size_t>(r)], c));
    }
    ASSERT_TRUE(samples().FitAll());
    samples().ExportButton->click();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(edited(opened[1]), "no");
    // A file that cannot be written: a message, and no file.
    EXPECT_FALSE(samples().SaveSamples("/proc/temra/saved.csv"));
    ASSERT_FALSE(messages.empty());
    EXPECT_TRUE(messages.back().text.contains("could not be saved"))
        << messages.back().text.toStdString();
}

// The study checks the options; the window takes the user to the box of each
// refusal, named in the message with the study's own words.
TEST_F(SamplesSession, EachRefusedOptionNamesItsBox) {
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable())));
    SamplesWindow& w = samples();
    struct Row {
        std::function<void()> set, unset;
        const char* box;  // the message's "Field:"
        const char* said; // the study's words
    };
    const Row rows[] = {
        {[&] { w.RelErr->setText("0"); }, [&] { w.RelErr->setText("0.01"); }, "Relative error",
         "the relative error (0) must be greater than 0"},
        {[&] { w.AMax->setText("-1"); }, [&] { w.AMax->setText("0.1"); }, "Largest A",
         "the largest A of UA (-1)"},
        {[&] { w.ModelChoice->setCurrentIndex(2), w.Upper->setText("0"); },
         [&] { w.Upper->setText("10"), w.ModelChoice->setCurrentIndex(0); }, "Largest R of PR",
         "the largest R of PR (0) must be greater than 0"},
        {[&] {
             w.ModelChoice->setCurrentIndex(static_cast<int>(study::Models().size())),
                 w.McDraws->setText("3");
         },
         [&] { w.McDraws->setText("0"), w.ModelChoice->setCurrentIndex(0); }, "Monte Carlo draws",
         "Monte Carlo fits the draws with one model"},
        {[&] {
             for (QCheckBox* g : w.Gas) g->setChecked(false);
         },
         [&] { w.Gas[1]->setChecked(true); }, "Fitted gases", "no gas is fitted"},
    };
    for (const Row& row : rows) {
        messages.clear();
        row.set();
        EXPECT_FALSE(w.FitAll()) << row.box;
        ASSERT_EQ(messages.size(), 1u) << row.box;
        const QString& text = messages.back().text;
        EXPECT_TRUE(text.contains(QString("Field: ") + row.box) && text.contains(row.said))
            << row.box << ": " << text.toStdString();
        row.unset();
    }
    messages.clear();
    EXPECT_FALSE(w.SetPriorSettings("0", "-2"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages.back().text.contains("Field: Spread of the prior") &&
                messages.back().text.contains("the spread (-2) must be 0 or more"))
        << messages.back().text.toStdString();
    EXPECT_TRUE(w.FitAll());
}

// "Solubility data" chooses the data set of the fit, as temra-cli's --solubility:
// the window's answer with Weiss/Clever is temra-cli's with weiss, and the
// Settings name the set.
TEST_F(SamplesSession, TheSolubilityDataAreChosenBesideTheModel) {
    const std::string path = WriteTable();
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(path)));
    ASSERT_EQ(samples().SolubilityChoice->count(), static_cast<int>(SolubilitySets().size()) + 1);
    ASSERT_TRUE(samples().FitAll());
    const double own = samples().Model()->ResultAt(0)->temperature;
    samples().SolubilityChoice->setCurrentIndex(static_cast<int>(SolubilitySet::Weiss));
    ASSERT_TRUE(samples().FitAll());
    const study::StudyResult& weiss = *samples().Model()->ResultAt(0);
    EXPECT_NE(weiss.temperature, own);
    std::ostringstream out, err;
    cli::Run({"study", path, "--solubility", "weiss"}, out, err);
    EXPECT_NE(out.str().find(ExactText(weiss.temperature)), std::string::npos) << out.str();
    bool named = false;
    for (const auto& [name, value] : study::StudySettings(samples().Model()->FitOptions()))
        named = named || (name == "Solubility data" && value.rfind("Weiss/Clever", 0) == 0);
    EXPECT_TRUE(named);
}

// "All data sets, side by side" with "All models": each row shows builtin's
// preferred fit, the selected sample's fits stand side by side labelled by model
// and data set with their shift against builtin, and the export gives every row,
// as temra-cli's --solubility all --model all does.
TEST_F(SamplesSession, AllDataSetsShowTheSelectedSamplesShiftsSideBySide) {
    const std::string path = WriteTable();
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(path)));
    samples().show();
    samples().ModelChoice->setCurrentIndex(samples().ModelChoice->count() - 1);
    samples().SolubilityChoice->setCurrentIndex(samples().SolubilityChoice->count() - 1);
    ASSERT_TRUE(samples().FitAll());
    SamplesModel* m = samples().Model();
    const std::size_t fits = study::Models().size() * SolubilitySets().size();
    ASSERT_NE(m->ModelResultsAt(0), nullptr);
    ASSERT_EQ(m->ModelResultsAt(0)->size(), fits);
    EXPECT_EQ(m->ResultAt(0)->solubility, SolubilitySet::Builtin);
    samples().Table->selectRow(0);
    samples().Table->setCurrentIndex(m->index(0, m->ResultColumnOf("temperature_C")));
    Settle();
    ASSERT_EQ(samples().Models->rowCount(), static_cast<int>(fits));
    EXPECT_EQ(samples().Models->verticalHeaderItem(static_cast<int>(fits) - 1)->text(),
              "GR, jenkins2019");
    EXPECT_EQ(samples().Models->horizontalHeaderItem(8)->text(), "ΔT vs builtin");
    EXPECT_EQ(samples().Models->item(0, 8)->text(), "0.00");
    const auto exported = m->ResultsToExport();
    EXPECT_EQ(exported.size(), static_cast<std::size_t>(m->rowCount()) * fits);
    std::ostringstream out, err;
    cli::Run({"study", path, "--solubility", "all", "--model", "all"}, out, err);
    for (const study::StudyResult& r : exported) {
        if (!r.error.empty() || !r.shift) continue;
        EXPECT_NE(out.str().find(ExactText(r.shift->T)), std::string::npos) << r.shift->T;
    }
    EXPECT_TRUE(samples().Status->text().contains("with every solubility data set"))
        << samples().Status->text().toStdString();
    EXPECT_TRUE(samples().Status->text().contains(
        QRegularExpression("\\d refused \\(fitted \\d+ samples in \\d[.\\d]* s\\)")))
        << samples().Status->text().toStdString();
}

// The row a message names is the row temra-cli names in the same table (the
// header is row 1), whatever rows are deleted around it; rows pasted follow the
// last.
TEST_F(SamplesSession, RowNumbersAreThoseTemraCliNames) {
    const std::string path = WriteTable("sample,Ne-20,Ar-40,Kr-84,Xe\n\na,2.39e-07,0.00038,4.9e-08,"
                                        "1.2e-08\nb,abc,0.00038,4.9e-08,1.2e-08\n");
    std::ostringstream out, err;
    cli::Run({"study", path}, out, err);
    EXPECT_NE(err.str().find("Ne-20 on row 3"), std::string::npos) << err.str();
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(path)));
    SamplesModel* m = samples().Model();
    EXPECT_TRUE(
        m->data(m->index(1, SC::Measured(1)), Qt::ToolTipRole).toString().contains("on row 3"));
    EXPECT_EQ(m->headerData(1, Qt::Vertical).toInt(), 3);
    m->RemoveRows({0});
    EXPECT_TRUE(
        m->data(m->index(0, SC::Measured(1)), Qt::ToolTipRole).toString().contains("on row 3"));
    samples().Paste("sample\tNe\nc\tx\n");
    EXPECT_EQ(m->headerData(1, Qt::Vertical).toInt(), 4);
}

// "Largest A" bounds every model and is read for each; "β of PD" only where PD is
// the model, and a model keeps the exponent typed for it.
TEST_F(SamplesSession, TheLargestAIsReadForEveryModelAndBetaForItsModel) {
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable())));
    samples().AMax->setText("abc");
    for (const int model : {0, 1}) {
        samples().ModelChoice->setCurrentIndex(model);
        EXPECT_FALSE(samples().FitAll());
    }
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(messages[0].text.contains("Largest A")) << messages[0].text.toStdString();
    samples().AMax->setText("0.1");
    samples().ModelChoice->setCurrentIndex(3); // PD
    ASSERT_FALSE(samples().Beta->isHidden());
    EXPECT_EQ(samples().BetaLabel->text(), "β of PD");
    EXPECT_EQ(samples().Beta->text(), "0.5");
    samples().Beta->setText("2.5");
    EXPECT_FALSE(samples().FitAll());
    EXPECT_TRUE(messages.back().text.contains("β of PD")) << messages.back().text.toStdString();
    samples().ModelChoice->setCurrentIndex(0);
    EXPECT_TRUE(samples().Beta->isHidden());
    EXPECT_TRUE(samples().FitAll());
    samples().ModelChoice->setCurrentIndex(3);
    EXPECT_EQ(samples().Beta->text(), "2.5");
    // Comparing every model, their bounds are at hand and read: one out of its
    // range is refused naming its box, and nothing of the set is taken.
    samples().Beta->setText("0.5");
    samples().ModelChoice->setCurrentIndex(static_cast<int>(study::Models().size()));
    EXPECT_TRUE(samples().Upper->isHidden());
    EXPECT_TRUE(samples().BoundsButton->isVisibleTo(&samples()));
    messages.clear();
    EXPECT_FALSE(samples().SetModelBounds({{"pr-r-max", "20"}, {"pd-g-max", "1e9"}}));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.contains("Field: Largest G of PD") &&
                messages[0].text.contains("the largest G of PD (1000000000) must be at most 100"))
        << messages[0].text.toStdString();
    EXPECT_TRUE(samples().SetModelBounds({{"pr-r-max", "20"}, {"pd-beta", "0.7"}}));
    ASSERT_TRUE(samples().FitAll());
    const study::StudyOptions fitted = samples().Model()->FitOptions();
    EXPECT_EQ(fitted.upper.at("pr-r-max"), 20);
    EXPECT_EQ(fitted.constants.at("pd-beta"), 0.7);
    EXPECT_EQ(fitted.upper.at("pd-g-max"), 3);
    samples().ModelChoice->setCurrentIndex(2); // PR shows what was set for it
    EXPECT_EQ(samples().Upper->text(), "20");
}

// The smallest samples window and misfit map show their explanations whole.
TEST_F(SamplesSession, TheSmallestWindowsShowTheirTextsWhole) {
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable())));
    ASSERT_TRUE(samples().FitAll());
    samples().Table->selectRow(0);
    samples().MapButton->click();
    app.form1().Text26->setText("0.5"); // the map's note and button appear
    for (QWidget* w :
         {static_cast<QWidget*>(&samples()), static_cast<QWidget*>(&app.misfitWindow())}) {
        w->show();
        w->resize(1, 1);
        Settle();
        for (QLabel* l : w->findChildren<QLabel*>()) {
            if (!l->isVisibleTo(w) || l->text().isEmpty() || !l->wordWrap()) continue;
            EXPECT_GE(l->height(), l->heightForWidth(l->width()))
                << w->objectName().toStdString() << "." << l->objectName().toStdString();
        }
    }
    EXPECT_TRUE(samples().GridNote->isVisible());
}

// Results at a glance: temperatures to 0.01 °C, elevations to 1 m, the others to
// four significant digits; in full in the tooltip, without a grid's drift.
TEST_F(SamplesSession, ResultsAreShownRoundedAndInFullWithoutDrift) {
    SamplesModel* m = samples().Model();
    study::Sample s;
    s.name = "s";
    m->SetSamples({s});
    study::StudyResult r;
    r.sample = "s";
    r.temperature = 5.649999999999988; // 0.05 added up 113 times
    r.temperatureHi = 8.559623167088992;
    r.elevation = 1299.6;
    r.elevationLo = -0.2;
    r.A = 0.0048798481713926058;
    r.chi2 = 12345.678;
    study::StudyOptions options;
    ASSERT_TRUE(samples().Options(options));
    m->SetResults({r}, options);
    struct Row {
        int column;
        const char *shown, *tip;
    };
    const Row rows[] = {
        {m->ResultColumnOf("temperature_C"), "5.65", "5.65"},
        {m->ResultColumnOf("temperature_hi_C"), "8.56", "8.55962316708899"},
        {m->ResultColumnOf("elevation_m"), "1300", "1299.6"},
        {m->ResultColumnOf("elevation_lo_m"), "0", "-0.2"},
        {m->ResultColumnOf("excess_air"), "0.00488", "0.00487984817139261"},
        {m->ResultColumnOf("chi2"), "1.235e+04", "12345.678"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(m->data(m->index(0, row.column)).toString(), row.shown) << row.column;
        EXPECT_EQ(m->data(m->index(0, row.column), Qt::ToolTipRole).toString(), row.tip)
            << row.column;
    }
    EXPECT_TRUE(m->ResultNote(0).startsWith("s: 5.65 (0.00 to 8.56) °C, 1300 (0 to 0) m"))
        << m->ResultNote(0).toStdString();
    // The misfit map's grid of steps of 0.1 °C, as its boxes mean it.
    app.form1().Text26->setText("0.1");
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable())));
    samples().Table->selectRow(1);
    samples().MapButton->click();
    const QString summary = app.misfitWindow().Summary->text();
    EXPECT_TRUE(summary.contains(QRegularExpression("^Best fit: \\d+\\.\\d\\d °C, \\d+ m, ")))
        << summary.toStdString();
    EXPECT_TRUE(summary.contains("0 to 10 °C in steps of 0.1.")) << summary.toStdString();
}

// Samples of 15 °C on the grid's 0 to 10 °C: after Fit all the status line says,
// once, that they are best at 10 °C and which box to raise, and what the blank Kr
// of one of them means.
TEST_F(SamplesSession, TheStatusLineSaysWhatTheResultsCannotSay) {
    Module1 grid;
    Form1Texts warm;
    warm.Text21 = "15";
    GridPlan plan = grid.PlanSolubility(warm);
    grid.FillSolubility(plan);
    const SolubilityGrid& g = *plan.grid;
    std::size_t k = 0;
    while (k + 1 < static_cast<std::size_t>(g.CaseCount) && (g.Temp[k] != 15 || g.Elev[k] != 1500))
        ++k;
    ASSERT_EQ(g.Temp[k], 15);
    std::string table = "sample,Ne-20,Ar-40,Kr-84,Xe\n";
    for (const char* name : {"warm", "warm without Kr"}) {
        table += name;
        for (int gas = 1; gas <= 4; ++gas) { // Ne-20 to Xe
            const double z = kGasTable[static_cast<std::size_t>(gas)].AtmFraction;
            const bool blank = gas == 3 && std::string(name) != "warm"; // Kr-84
            table += "," + (blank ? "" : ExactText(g.Row(gas)[k] + 0.005 * z));
        }
        table += "\n";
    }
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable(table))));
    ASSERT_TRUE(samples().FitAll());
    const QStringList lines = samples().Status->text().split('\n');
    const QStringList expected = {
        "2 of 2 samples are best at the highest temperature, 10 °C: raise \"Equilibrium "
        "Temperature Range (°C) Max\".",
        "1 of 2 samples is underdetermined: no more gases than free parameters",
        "1 of 2 samples is fitted without Kr-84, which their rows leave blank.",
    };
    for (const QString& line : expected)
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                [&](const QString& l) { return l.startsWith(line); }))
            << line.toStdString() << "\nin\n"
            << samples().Status->text().toStdString();
    SamplesModel* m = samples().Model();
    EXPECT_TRUE(m->data(m->index(1, m->ResultColumnOf("flags")), Qt::ToolTipRole)
                    .toString()
                    .contains("missing:Kr-84: Kr-84 is fitted, but the sample has no value"));
    EXPECT_TRUE(m->data(m->index(0, m->ResultColumnOf("temperature_C")), Qt::BackgroundRole)
                    .isValid()); // edge-T
}

// A table with changes not saved is offered to be saved before the window closes
// or Temra ends: Cancel keeps both, Discard lets the changes go; a table saved or
// unchanged asks nothing.
TEST_F(SamplesSession, AnEditedTableIsOfferedToBeSavedBeforeItIsLeft) {
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable())));
    samples().show();
    std::vector<QString> asked;
    TemraApp::SaveAnswer answer = TemraApp::SaveAnswer::kCancel;
    app.hooks.askToSave = [&](QWidget*, const QString& text) {
        asked.push_back(text);
        return answer;
    };
    EXPECT_TRUE(app.End()); // as opened: nothing to ask
    EXPECT_TRUE(ended);
    ended = false;
    samples().Model()->setData(samples().Model()->index(0, SC::Measured(1)), "2.5e-07");
    EXPECT_FALSE(app.End());
    samples().close(); // the window hides itself, or stays with the table
    EXPECT_FALSE(ended);
    EXPECT_TRUE(samples().isVisible());
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0], "The table \"samples.csv\" has changes that are not saved.\n\nSave them "
                        "first?");
    answer = TemraApp::SaveAnswer::kDiscard;
    const std::string edited = samples().Model()->SampleAt(0).measured[1];
    samples().close();
    EXPECT_FALSE(samples().isVisible());
    // Discarded: the table is as it was opened, and nothing is asked again.
    EXPECT_NE(samples().Model()->SampleAt(0).measured[1], edited);
    EXPECT_EQ(asked.size(), 3u);
    samples().Model()->setData(samples().Model()->index(0, SC::Measured(1)), "2.5e-07");
    EXPECT_TRUE(app.End());
    EXPECT_TRUE(ended);
    ASSERT_TRUE(samples().SaveSamples(QString::fromStdString((folder / "saved.csv").string())));
    asked.clear();
    EXPECT_TRUE(app.End());
    EXPECT_TRUE(asked.empty());
}

// "Add the input page's sample": a row of the page's gases, density and chloride
// with blank errors, fitted like the others and undone like any row.
TEST_F(SamplesSession, TheInputPagesSampleIsAddedAsARow) {
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable())));
    Form1& page = app.form1();
    page.Text2->setText("2.39e-07");
    page.Text14->setText(" 1.01 ");
    page.Text15->setText("0.2");
    page.Text7->setText("2.1e-5"); // O2 typed; the other gases keep their stored defaults
    // Asked whether the boxes holding their stored defaults are measured: the
    // first time not (left blank), the second time they are.
    std::vector<QString> asked;
    bool measured = false;
    app.hooks.confirm = [&](QWidget*, const QString& text) {
        asked.push_back(text);
        return !measured;
    };
    samples().AddInputButton->click();
    SamplesModel* m = samples().Model();
    ASSERT_EQ(m->rowCount(), 4);
    const study::Sample& s = m->SampleAt(3);
    EXPECT_EQ(s.name, "input page");
    const Form1Texts texts = app.InputTexts();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_TRUE(asked[0].contains("boxes Helium-4 (4.87138E-08), Argon-40"))
        << asked[0].toStdString();
    EXPECT_FALSE(asked[0].contains("2.39e-07") || asked[0].contains("2.1e-5"));
    for (int gas = 0; gas < GasCount; ++gas) {
        const bool typed = gas == 1 || gas == 6; // Ne-20, O2
        EXPECT_EQ(s.measured[static_cast<std::size_t>(gas)], typed ? texts.Measured(gas) : "")
            << gas;
        EXPECT_EQ(s.error[static_cast<std::size_t>(gas)], "") << gas;
    }
    EXPECT_EQ(s.density, "1.01");
    EXPECT_EQ(s.chloride, "0.2");
    EXPECT_EQ(samples().Table->currentIndex().column(), SC::Error(1)); // Ne-20's error
    EXPECT_TRUE(samples().Status->text().startsWith("The input page's sample is row 5"))
        << samples().Status->text().toStdString();
    measured = true;
    samples().AddInputButton->click();
    EXPECT_EQ(m->SampleAt(4).name, "input page 2");
    EXPECT_EQ(m->SampleAt(4).measured[0], texts.Measured(0));
    samples().UndoAction->trigger();
    ASSERT_EQ(m->rowCount(), 4);
    m->setData(m->index(3, SC::Error(1)), "2e-09");
    ASSERT_TRUE(samples().FitAll());
    ASSERT_TRUE(m->ResultAt(3).has_value());
    EXPECT_EQ(m->ResultAt(3)->error, "");
    EXPECT_TRUE(messages.empty()) << messages[0].text.toStdString();
}

// A laboratory's table of total neon and krypton per gram of water: read as the
// isotopes, fitted per gram as temra-cli --per-gram fits it, and the workbook's
// Settings say both.
TEST_F(SamplesSession, ATableOfTotalsPerGramIsFittedAsTemraCliFitsIt) {
    const std::string path = WriteTable("sample,Ne,Ar-40,Kr,Xe,density\n"
                                        "w1,2.64e-07,0.00038,8.63e-08,1.2e-08,1.002\n");
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(path)));
    EXPECT_TRUE(samples().Status->text().contains("\"Ne\" as Ne-20 (× 0.9048)"));
    samples().PerGram->setChecked(true);
    ASSERT_TRUE(samples().FitAll());
    std::ostringstream out, err;
    ASSERT_EQ(cli::Run({"study", "--per-gram", path}, out, err), 0) << err.str();
    const auto& result = samples().Model()->ResultAt(0);
    ASSERT_TRUE(result.has_value());
    EXPECT_NE(out.str().find("w1,UA,Ne-20;Ar-40;Kr-84;Xe,4,1," + ExactText(result->chi2) + ","),
              std::string::npos)
        << out.str();
    samples().ExportButton->click();
    ASSERT_EQ(opened.size(), 1u) << (messages.empty() ? "" : messages[0].text.toStdString());
    const std::string settings =
        Workbook(opened[0], "'|'.join(str(r[1].value) for r in wb['Settings'].iter_rows())");
    EXPECT_NE(settings.find("per gram of water"), std::string::npos) << settings;
    EXPECT_NE(settings.find("\"Kr\" as Kr-84 (× 0.56987)"), std::string::npos) << settings;
}

// The window's small words: counts in the singular, an undo's word gone with
// the next edit, a sample without a name called by its row, a column whose
// name does not say what it holds explained in its tooltip.
TEST_F(SamplesSession, TheSmallWordsAreRight) {
    ASSERT_TRUE(samples().OpenFile(QString::fromStdString(WriteTable())));
    SamplesModel* m = samples().Model();
    samples().Table->selectRow(2);
    samples().DeleteButton->click();
    samples().UndoAction->trigger();
    EXPECT_TRUE(samples().Status->text().startsWith("Undone: deletion of 1 row ("))
        << samples().Status->text().toStdString();
    ASSERT_TRUE(m->setData(m->index(0, SC::kName), ""));
    EXPECT_FALSE(samples().Status->text().startsWith("Undone")); // said of an older state
    EXPECT_TRUE(m->data(m->index(0, SC::kName), Qt::ToolTipRole)
                    .toString()
                    .contains("\"row 2 (no name)\""));
    ASSERT_TRUE(samples().FitAll());
    EXPECT_TRUE(samples().Status->text().startsWith("2 samples fitted"));
    samples().Table->selectRow(0);
    EXPECT_TRUE(samples().RowNote->text().startsWith("row 2 (no name)"))
        << samples().RowNote->text().toStdString();
    const int o2 = m->ResultColumnOf("O2_fraction");
    EXPECT_TRUE(m->headerData(o2, Qt::Horizontal, Qt::ToolTipRole)
                    .toString()
                    .contains("below 1, oxygen was used up"));
}
