// The windows as a new user meets them: "End" ends the program whatever is open,
// controls keep their places, messages appear where they can be seen, the box at
// fault gets the cursor, long work shows progress and can be cancelled, and every
// window shows all of its texts.
#include "tests/ui_session.h"

#include "plot/figure.h"
#include "ui/guide_window.h"
#include "ui/samples_window.h"

#include <qcustomplot.h>

#include <QDialog>
#include <QFontInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QTimer>

#include <chrono>
#include <set>
#include <thread>
#include <tuple>

namespace {

void Settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

// The colour drawn at a data point of a plot.
QColor PixelAt(plot::Plot* p, double x, double y) {
    const QImage image = p->grab().toImage();
    QCustomPlot* c = p->Canvas();
    const QPoint px(qRound(c->xAxis->coordToPixel(x)), qRound(c->yAxis->coordToPixel(y)));
    return image.pixelColor(c->mapTo(p, px));
}

void Click(QWidget* w) {
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QApplication::sendEvent(w, &release);
}

class Manners : public Session {
  protected:
    void DrawPair(std::initializer_list<int> gases, const char* eaMax = "0.05") {
        app.form1().Command2->click();
        for (int g : gases) app.form2().Check[static_cast<std::size_t>(g - 1)]->click();
        app.form2().Command1->click();
        app.dialog1().Text2->setText(eaMax);
        app.dialog1().OKButton->click();
        Settle();
    }
};

} // namespace

// "End" on the solubility graph ends the program at once, also while the result
// window or the excess-air dialog is open beside it.
TEST(Ending, EndEndsTheProgramWhateverIsOpen) {
    for (int open : {5, 6}) {
        TemraApp app;
        app.hooks.message = [](QWidget*, const QString&, const QString&, bool) {};
        app.form1().show();
        app.form1().Command1->click();
        SolGraphForm& g = app.solGraphForm();
        g.Command2->click();
        (open == 5 ? g.Command5 : g.Command6)->click();
        ASSERT_TRUE(open == 5 ? app.form4().isVisible() : app.dialog().isVisible());
        QTimer watchdog; // a program that runs on fails the test instead of hanging it
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        watchdog.start(5000);
        QTimer::singleShot(0, g.Command4, &QPushButton::click);
        EXPECT_EQ(QApplication::exec(), 0) << "with Command" << open << "'s window open";
        for (QWidget* w : QApplication::topLevelWidgets())
            EXPECT_FALSE(w->isVisible()) << w->objectName().toStdString();
    }
}

TEST_F(Manners, ANewRunNeverRanksTheTablesOfTheLastOne) {
    app.form1().Text14->setText("1.5");
    Calculate();
    Redraw();
    graph().Command5->click();
    graph().Command6->click();
    graph().close(); // through its frame, with the result window and the dialog open
    Settle();
    EXPECT_TRUE(app.form1().isVisible());
    app.form1().Text14->setText("1");
    Calculate();
    SolGraphForm& g = graph();
    EXPECT_TRUE(g.SolGraph2->isVisible());
    EXPECT_FALSE(g.SolGraph3->isVisible());
    EXPECT_TRUE(g.Command2->isVisible());
    EXPECT_FALSE(g.Command5->isVisible());
    EXPECT_FALSE(g.Command6->isVisible());
    for (QCheckBox* c : g.Check) EXPECT_TRUE(c->isVisible() && !c->isChecked());
    // The dialog left open asks for a redraw instead of ranking the old tables.
    app.dialog().OKButton->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.contains("redraw")) << messages[0].text.toStdString();
    EXPECT_TRUE(opened.empty());
    Redraw();
    g.Command5->click();
    EXPECT_EQ(app.form4().findChild<QLabel*>("Label16")->text(), "10");
    EXPECT_EQ(app.form4().findChild<QLabel*>("Label26")->text(), "1000");
    EXPECT_TRUE(app.form4().findChild<QLabel*>("Label36")->text().startsWith("0.00299"));
}

TEST_F(Manners, ATickedBoxLeavesTheOthersInPlace) {
    Calculate();
    Settle();
    std::array<QRect, 7> before;
    for (std::size_t i = 0; i < 7; ++i) before[i] = graph().Check[i]->geometry();
    for (std::size_t i : {2u, 0u, 6u}) {
        graph().Check[i]->click();
        Settle();
    }
    for (std::size_t i : {1u, 3u, 4u, 5u}) EXPECT_EQ(graph().Check[i]->geometry(), before[i]) << i;
}

TEST_F(Manners, TheWorkbookLineMovesNothingAndGoesWithANewRun) {
    Calculate();
    Settle();
    const QRect button = graph().Command1->geometry(), plot = graph().SolGraph2->geometry();
    graph().Command1->click();
    Settle();
    ASSERT_TRUE(graph().ExportStatus->text().contains("Workbook written to"));
    EXPECT_EQ(graph().Command1->geometry(), button);
    EXPECT_EQ(graph().SolGraph2->geometry(), plot);
    graph().Command3->click();
    Calculate();
    EXPECT_TRUE(graph().ExportStatus->text().isEmpty());
}

TEST_F(Manners, AnExportWithTheGraphHiddenIsReportedWhereTheUserCanSeeIt) {
    Calculate();
    Redraw();
    graph().Command5->click();
    graph().Command3->click(); // the result window stays, the graph goes
    app.form4().Command1->click();
    ASSERT_EQ(opened.size(), 1u);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_FALSE(messages[0].error);
    EXPECT_TRUE(messages[0].text.contains(QString::fromStdString(opened[0].string())));
    app.dialog().show();
    app.dialog().OKButton->click();
    ASSERT_EQ(opened.size(), 2u);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(messages[1].text.contains(QString::fromStdString(opened[1].string())));
}

TEST_F(Manners, MeasuredDotsAreBlackAndDrawnOverTheLines) {
    // A measured composition equal to case 5 of a small grid: its line runs
    // through every dot.
    Form1& f = app.form1();
    f.Text19->setText("200");
    Calculate();
    std::array<double, 7> values{};
    for (int g = 1; g <= 7; ++g) values[g - 1] = app.module().GasSolubility(g, 5);
    graph().Command3->click();
    QLineEdit* edits[] = {f.Text1, f.Text2, f.Text3, f.Text4, f.Text5, f.Text6, f.Text7};
    for (int g = 0; g < 7; ++g) edits[g]->setText(QString::fromStdString(ExactText(values[g])));
    Calculate();
    Settle();
    plot::Plot* p = graph().SolGraph2;
    ASSERT_EQ(p->ChannelCount(), 34);
    EXPECT_EQ(p->ColourOf(0), QColor(Qt::black));
    for (int g = 0; g < 7; ++g) EXPECT_EQ(PixelAt(p, g + 1, values[g]), QColor(Qt::black)) << g;
}

TEST_F(Manners, TheMeasuredPointKeepsItsOwnColourAmongManyCurves) {
    DrawPair({1, 2}, "0.1"); // eleven curves
    plot::Plot* p = app.arN2GraphForm().ArN2Graph;
    ASSERT_EQ(p->ChannelCount(), 12);
    for (int c = 0; c < 11; ++c) EXPECT_NE(p->ColourOf(c), p->ColourOf(11)) << c;
    const GasPairGraph& pair = app.module().GasPair();
    EXPECT_EQ(PixelAt(p, pair.MeasuredX, pair.MeasuredY), QColor(Qt::black));
}

TEST_F(Manners, GasPairPointsAreWholeAndBothAxesShareOneLabelStyle) {
    DrawPair({1, 2});
    plot::Plot* p = app.arN2GraphForm().ArN2Graph;
    const GasPairGraph& pair = app.module().GasPair();
    QCustomPlot* c = p->Canvas();
    // The numbers of the axes stay; only the drawing has room around the curves.
    EXPECT_EQ(p->xAxis().Min, pair.PairXMin);
    EXPECT_EQ(p->yAxis().Span, pair.PairYMax);
    const QRect area = c->axisRect()->rect();
    EXPECT_GT(c->xAxis->coordToPixel(pair.PairXMin) - area.left(), 5);
    EXPECT_GT(area.bottom() - c->yAxis->coordToPixel(pair.PairYMin), 5);
    const QRegularExpression style("^(0|-?[0-9.]+|-?([0-9.]+·)?10[⁻]?[⁰¹²³⁴⁵⁶⁷⁸⁹]+)$");
    for (const auto& labels : {p->XTickLabels(), p->YTickLabels()}) {
        ASSERT_FALSE(labels.empty());
        bool power = false;
        for (const auto& [at, label] : labels) {
            EXPECT_TRUE(style.match(label).hasMatch()) << label.toStdString();
            power = power || label.contains("10⁻");
        }
        EXPECT_TRUE(power);
    }
}

TEST_F(Manners, ARefusalPutsTheCursorIntoTheBoxToChange) {
    struct Row {
        QLineEdit* Form1::*box;
        const char* control;
        const char* text;
    };
    const Row rows[] = {{&Form1::Text25, "Text25", "-100"}, {&Form1::Text19, "Text19", "-500"},
                        {&Form1::Text21, "Text21", "-5"},   {&Form1::Text14, "Text14", "0"},
                        {&Form1::Text1, "Text1", "abc"},    {&Form1::Text21, "Text21", "100"},
                        {&Form1::Text2, "Text2", "0"},      {&Form1::Text15, "Text15", "-1"}};
    Form1& f = app.form1();
    Settle();
    for (const Row& row : rows) {
        QLineEdit* box = f.*row.box;
        const QString before = box->text();
        box->setText(row.text);
        messages.clear();
        Calculate();
        ASSERT_EQ(messages.size(), 1u) << row.control;
        EXPECT_TRUE(messages[0].text.contains(QString("(Form1.%1)").arg(row.control)))
            << messages[0].text.toStdString();
        EXPECT_EQ(f.focusWidget(), box) << row.control;
        EXPECT_EQ(box->selectedText(), row.text);
        EXPECT_TRUE(f.isVisible());
        box->setText(before);
    }
    EXPECT_FALSE(app.module().HasGrid());
}

TEST_F(Manners, ARunWithoutCasesStaysOnTheInputPageAndSaysWhy) {
    app.form1().Check1->setChecked(true);
    app.form1().Text19->setText("800");
    Calculate();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_FALSE(messages[0].error);
    EXPECT_TRUE(messages[0].text.contains("MAAT")) << messages[0].text.toStdString();
    EXPECT_TRUE(app.form1().isVisible());
    EXPECT_FALSE(graph().isVisible());
}

TEST_F(Manners, AHugeGridIsComputedOnlyWhenTheUserSaysSo) {
    Calculate();
    graph().Command3->click();
    app.module().run.MemoryBudget = std::uint64_t{1} << 40;
    std::vector<QString> asked;
    app.hooks.confirm = [&](QWidget*, const QString& text) {
        asked.push_back(text);
        return false;
    };
    Form1& f = app.form1();
    f.Text25->setText("1");
    f.Text21->setText("30");
    f.Text26->setText("0.005"); // about 18 million cases
    Calculate();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_TRUE(asked[0].contains(QRegularExpression("\\d[\\d,. ]{7,} cases")))
        << asked[0].toStdString();
    EXPECT_TRUE(asked[0].contains("GB")) << asked[0].toStdString();
    EXPECT_EQ(app.module().CaseCount(), 341);
    EXPECT_TRUE(f.isVisible());
    EXPECT_TRUE(messages.empty());
}

TEST_F(Manners, ACancelledRunSearchOrExportChangesNothing) {
    Calculate();
    Redraw();
    graph().Command5->click();
    const auto fit = app.module().NoEaPtr();
    app.hooks.runStarted = [](RunControl& c) { c.Cancel(); };
    graph().Command3->click();
    app.form1().Text26->setText("0.5");
    Calculate();
    EXPECT_EQ(app.module().CaseCount(), 341);
    EXPECT_TRUE(app.form1().isVisible());
    app.form4().Command1->click();
    app.dialog().show();
    app.dialog().OKButton->click();
    EXPECT_TRUE(app.dialog().isVisible()); // comes back, as after a refusal
    EXPECT_FALSE(app.module().HasBestFitEa());
    EXPECT_EQ(app.module().NoEaPtr(), fit);
    EXPECT_TRUE(opened.empty());
    EXPECT_TRUE(!fs::exists(folder) || fs::is_empty(folder)); // no workbook, no temporary file
    EXPECT_TRUE(messages.empty());
}

TEST_F(Manners, LongWorkShowsProgressKeepsWindowsLiveAndCanBeCancelled) {
    int ticks = 0;
    QTimer live;
    QObject::connect(&live, &QTimer::timeout, [&] { ++ticks; });
    live.start(50);
    bool progressShown = false;
    QTimer::singleShot(1500, [&] {
        Click(app.form1().Command4); // "End " while the work runs: held back
        auto* progress = app.form1().findChild<QDialog*>("RunProgress");
        progressShown = progress && progress->isVisible();
        if (progress) progress->findChild<QPushButton*>("Cancel")->click();
    });
    const bool completed = app.Run(&app.form1(), "Waiting", [](RunControl& c) {
        c.Begin(100);
        while (!c.IsCancelled()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        c.CheckCancelled();
    });
    EXPECT_FALSE(completed);
    EXPECT_TRUE(progressShown);
    EXPECT_GT(ticks, 10);
    EXPECT_FALSE(ended);
    EXPECT_TRUE(messages.empty());
}

namespace {

// Every visible label and button of `w` shows its whole text.
void ExpectTextsShown(QWidget* w, const std::string& name) {
    for (QWidget* c : w->findChildren<QWidget*>()) {
        if (!c->isVisibleTo(w) || c->inherits("QCustomPlot")) continue;
        const std::string what = name + "." + c->objectName().toStdString();
        if (auto* l = qobject_cast<QLabel*>(c)) {
            if (l->text().isEmpty()) continue;
            if (l->wordWrap())
                EXPECT_GE(l->height(), l->heightForWidth(l->width())) << what;
            else
                EXPECT_TRUE(l->width() >= l->minimumSizeHint().width() &&
                            l->height() >= l->minimumSizeHint().height())
                    << what << " " << l->width() << "x" << l->height();
        } else if (qobject_cast<QAbstractButton*>(c) || qobject_cast<plot::Plot*>(c)) {
            EXPECT_GE(c->width(), c->minimumSizeHint().width()) << what;
            EXPECT_GE(c->height(), c->minimumSizeHint().height()) << what;
        }
    }
}

// No two visible controls side by side in `w` overlap (a plot's own parts aside).
void ExpectNoOverlap(QWidget* w, const std::string& name) {
    QList<QWidget*> parents = w->findChildren<QWidget*>();
    parents << w;
    for (QWidget* parent : parents) {
        if (qobject_cast<plot::Plot*>(parent) || parent->inherits("QCustomPlot")) continue;
        const auto kids = parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        for (int i = 0; i < kids.size(); ++i)
            for (int j = i + 1; j < kids.size(); ++j) {
                if (!kids[i]->isVisibleTo(w) || !kids[j]->isVisibleTo(w)) continue;
                EXPECT_FALSE(kids[i]->geometry().intersects(kids[j]->geometry()))
                    << name << ": " << kids[i]->objectName().toStdString() << " and "
                    << kids[j]->objectName().toStdString();
            }
    }
}

} // namespace

// Every window's first size shows all of its texts, and no window can be made so
// small that its controls overlap or their texts are cut.
TEST_F(Manners, EveryWindowShowsAllOfItsTexts) {
    Calculate();
    Redraw();
    graph().Command5->click();
    graph().Command6->click();
    DrawPair({4, 6});
    QWidget* windows[] = {&app.form1(), &graph(),       &app.form4(),         &app.dialog(),
                          &app.form2(), &app.dialog1(), &app.arN2GraphForm(), &app.guideWindow()};
    for (QWidget* w : windows) {
        const std::string name = w->objectName().toStdString();
        for (const QSize attempt : {QSize(), QSize(1, 1)}) {
            w->show();
            if (attempt.isValid()) w->resize(attempt);
            Settle();
            ExpectTextsShown(w, name);
            ExpectNoOverlap(w, name);
        }
    }
}

TEST_F(Manners, SmallerManners) {
    EXPECT_FALSE(app.form4().windowTitle().trimmed().isEmpty());
    // A click on a gas's name ticks its box, a second one unticks it.
    app.form1().Command2->click();
    Form2& f2 = app.form2();
    Click(f2.GasLabel[2]);
    EXPECT_TRUE(f2.Check[2]->isChecked());
    Click(f2.GasLabel[2]);
    EXPECT_FALSE(f2.Check[2]->isChecked());
    f2.hide();
    app.form1().show();
    // Enter in a box of the input page calculates.
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(app.form1().Text19, &enter);
    EXPECT_TRUE(graph().isVisible());
    EXPECT_EQ(app.module().CaseCount(), 341);
    // A window shown again appears where it was.
    graph().move(120, 80);
    Settle();
    graph().hide();
    graph().show();
    Settle();
    EXPECT_EQ(graph().pos(), QPoint(120, 80));
}

// Every window's first size fits the screen it opens on, with every control
// inside it (also run on screens of 1366 x 768 and 1280 x 720).
TEST_F(Manners, EveryWindowOpensWhollyOnTheScreen) {
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    std::vector<QWidget*> windows{&app.form1()};
    auto check = [&](QWidget* w) {
        Settle();
        const std::string name = w->objectName().toStdString();
        EXPECT_TRUE(room.contains(w->frameGeometry()))
            << name << " on " << room.width() << "x" << room.height();
        for (QWidget* c : w->findChildren<QWidget*>()) {
            if (!c->isVisibleTo(w) ||
                !(qobject_cast<QAbstractButton*>(c) || qobject_cast<plot::Plot*>(c)))
                continue;
            EXPECT_TRUE(w->rect().contains(QRect(c->mapTo(w, QPoint()), c->size())))
                << name << "." << c->objectName().toStdString();
        }
    };
    check(&app.form1());
    Calculate();
    check(&graph());
    Redraw();
    check(&graph());
    graph().Command5->click();
    check(&app.form4());
    graph().Command6->click();
    check(&app.dialog());
    DrawPair({1, 2});
    check(&app.arN2GraphForm());
    app.arN2GraphForm().Command1->click();
    check(&app.dialog1());
    // The samples window, its table beside its settings, needs a screen 1024 wide.
    if (room.width() >= 1024) {
        app.ShowSamples();
        check(&app.samplesWindow());
    }
}

// A window opens the first time over the window the user came from, wholly on the
// screen, and comes back exactly where it was last.
TEST_F(Manners, WindowsComeBackWhereTheyWere) {
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    Form1& f = app.form1();
    // The page partly off the screen's corner: the selection window opens on it.
    f.move(room.right() - 200, room.bottom() - 150);
    Settle();
    f.Command2->click();
    Settle();
    EXPECT_TRUE(room.contains(app.form2().frameGeometry()));
    app.form2().Command1->click();
    app.dialog1().CancelButton->click();
    Settle();
    // Back on the page where it was; the graph opens centred over it.
    f.move(40, 30);
    Settle();
    const QRect page = f.frameGeometry();
    Calculate();
    Settle();
    const QPoint offCentre = graph().frameGeometry().center() - page.center();
    EXPECT_LE(offCentre.manhattanLength(), 2) << offCentre.x() << "," << offCentre.y();
    graph().move(graph().pos() + QPoint(17, 9));
    Settle();
    const QRect moved = graph().frameGeometry();
    graph().Command3->click();
    Settle();
    EXPECT_EQ(f.frameGeometry(), page);
    Calculate();
    Settle();
    EXPECT_EQ(graph().frameGeometry(), moved);
    graph().Command3->click();
    // The gas-pair road there and back: every window where it was.
    DrawPair({1, 2});
    const QRect pairGraph = app.arN2GraphForm().frameGeometry();
    app.arN2GraphForm().Command1->click();
    app.dialog1().move(app.dialog1().pos() + QPoint(-11, 13));
    Settle();
    const QRect ranges = app.dialog1().frameGeometry();
    app.dialog1().OKButton->click();
    Settle();
    EXPECT_EQ(app.arN2GraphForm().frameGeometry(), pairGraph);
    app.arN2GraphForm().Command1->click();
    Settle();
    EXPECT_EQ(app.dialog1().frameGeometry(), ranges);
    app.dialog1().CancelButton->click();
    Settle();
    EXPECT_EQ(f.frameGeometry(), page);
}

// The redraw swaps its own button for the best-fit buttons: nothing else moves.
TEST_F(Manners, TheRedrawMovesNoOtherControl) {
    Calculate();
    Settle();
    SolGraphForm& g = graph();
    const std::vector<QWidget*> fixed{g.Command1, g.Command3, g.Command4, g.Label3};
    std::vector<QRect> before;
    before.reserve(fixed.size());
    for (QWidget* w : fixed) before.push_back(w->geometry());
    const QRect plot = g.SolGraph2->geometry();
    Redraw();
    Settle();
    for (std::size_t i = 0; i < fixed.size(); ++i)
        EXPECT_EQ(fixed[i]->geometry(), before[i]) << fixed[i]->objectName().toStdString();
    EXPECT_EQ(g.SolGraph3->geometry(), plot);
}

// The log axis runs over whole decades: every value drawn lies between two labels.
TEST_F(Manners, EveryDotLiesBetweenTwoLabelledDecades) {
    Calculate();
    graph().Check[0]->click();
    graph().Check[4]->click();
    Redraw();
    Settle();
    for (plot::Plot* p : {graph().SolGraph2, graph().SolGraph3}) {
        p->Replot();
        double x0, x1, lowest, highest;
        ASSERT_TRUE(p->DataRange(x0, x1, lowest, highest));
        const auto labels = p->YTickLabels();
        ASSERT_GE(labels.size(), 2u);
        double low = std::numeric_limits<double>::infinity(), high = -low;
        for (const auto& [at, text] : labels) {
            if (at < p->Canvas()->yAxis->range().lower || at > p->Canvas()->yAxis->range().upper)
                continue;
            low = std::min(low, at);
            high = std::max(high, at);
        }
        EXPECT_LE(low, lowest) << p->objectName().toStdString();
        EXPECT_GE(high, highest) << p->objectName().toStdString();
    }
}

// At the gas-pair window's smallest size the legend stays inside the plotting
// area and "Measured Data" is whole; a hundred curves all look different, and
// those the legend has no room for are counted.
TEST_F(Manners, TheLegendStaysInsideAndEveryCurveLooksItsOwn) {
    for (const char* eaMax : {"0.05", "0.14", "0.99"}) {
        app.form1().show();
        DrawPair({1, 2}, eaMax);
        ArN2GraphForm& w = app.arN2GraphForm();
        w.resize(1, 1);
        Settle();
        plot::Plot* p = w.ArN2Graph;
        QCustomPlot* c = p->Canvas();
        c->replot();
        const int curves = app.module().GasPair().J;
        // Inside the plotting area while its rows fit there, else beside it.
        const QRect area = c->axisRect()->rect(), legend = c->legend->outerRect();
        EXPECT_TRUE(c->rect().contains(legend)) << eaMax;
        EXPECT_TRUE(curves <= 7 ? area.contains(legend) : !area.intersects(legend)) << eaMax;
        const QStringList rows = p->LegendTexts();
        ASSERT_FALSE(rows.isEmpty());
        EXPECT_EQ(rows.back(), "Measured Data") << eaMax;
        if (rows.size() < curves + 1) {
            EXPECT_TRUE(rows[rows.size() - 2].contains(
                QString("%1 more curves").arg(curves - (rows.size() - 2))))
                << rows[rows.size() - 2].toStdString();
        }
        if (curves <= 7) {
            EXPECT_EQ(rows.size(), curves + 1);
        }
        std::set<std::tuple<QRgb, int, int>> looks;
        for (int k = 0; k < curves; ++k)
            looks.emplace(p->ColourOf(k).rgb(), static_cast<int>(p->channel(k).Dash),
                          p->channel(k).MarkersStyle);
        EXPECT_EQ(looks.size(), static_cast<std::size_t>(curves)) << eaMax;
        w.Command1->click();
        app.dialog1().CancelButton->click();
    }
}

// A figure saved as SVG is laid out as on the screen: its texts keep the size of
// the screen's, so they stay clear of the lines beside them.
TEST_F(Manners, AnSvgFigureKeepsTheScreensTextSizes) {
    DrawPair({1, 2});
    QCustomPlot* c = app.arN2GraphForm().ArN2Graph->Canvas();
    const fs::path file = fs::path(::testing::TempDir()) / "temra_pair.svg";
    QString reason;
    ASSERT_TRUE(plot::SaveFigure(c, QString::fromStdString(file.string()), 300, reason))
        << reason.toStdString();
    QFile f(QString::fromStdString(file.string()));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString svg = QString::fromUtf8(f.readAll());
    const auto text = svg.indexOf(">Measured Data</text>");
    ASSERT_GE(text, 0);
    const QRegularExpression size("font-size=\"([0-9.]+)\"");
    double fontSize = 0;
    for (auto it = size.globalMatch(svg.left(text)); it.hasNext();)
        fontSize = it.next().captured(1).toDouble();
    EXPECT_NEAR(fontSize, QFontInfo(c->legend->font()).pixelSize(), 0.5);
}

// Labels of one linear axis share one style: plain, or each times the same power.
TEST(TickLabels, OneStyleForAWholeAxis) {
    struct Row {
        QVector<double> ticks;
        QChar point;
        QStringList texts;
    };
    const Row rows[] = {
        {{8e-4, 1e-3, 1.2e-3}, '.', {"0.8·10⁻³", "1.0·10⁻³", "1.2·10⁻³"}},
        {{1e-3, 1.2e-3, 1.4e-3}, '.', {"0.0010", "0.0012", "0.0014"}},
        {{5e-8, 1e-7, 1.5000000000000002e-7}, '.', {"0.5·10⁻⁷", "1.0·10⁻⁷", "1.5·10⁻⁷"}},
        {{7.5e-4, 1e-3}, ',', {"0,75·10⁻³", "1,00·10⁻³"}},
        {{0, 2, 4}, '.', {"0", "2", "4"}},
        {{0, 0.30000000000000004, 0.6}, ',', {"0", "0,3", "0,6"}},
        {{-50000, 0, 50000, 100000}, '.', {"-0.5·10⁵", "0", "0.5·10⁵", "1.0·10⁵"}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(plot::AxisTickTexts(row.ticks, row.point), row.texts)
            << row.texts.join(" ").toStdString();
}

TEST(TickLabels, OneStyleForEveryAxis) {
    const std::pair<double, const char*> cases[] = {{0, "0"},
                                                    {5e-8, "5·10⁻⁸"},
                                                    {1e-6, "10⁻⁶"},
                                                    {-1e-6, "-10⁻⁶"},
                                                    {2.5e-7, "2.5·10⁻⁷"},
                                                    {1.5000000000000002e-7, "1.5·10⁻⁷"},
                                                    {0.01, "0.01"},
                                                    {3000, "3000"},
                                                    {0.30000000000000004, "0.3"},
                                                    {2e5, "2·10⁵"},
                                                    {7, "7"}};
    for (const auto& [value, text] : cases)
        EXPECT_EQ(plot::TickText(value, QLatin1Char('.')), QString::fromUtf8(text)) << value;
    EXPECT_EQ(plot::TickText(2.5e-7, QLatin1Char(',')), QString::fromUtf8("2,5·10⁻⁷"));
    EXPECT_EQ(plot::TickText(0.25, QLatin1Char(',')), QString::fromUtf8("0,25"));
    // A logarithmic axis: every decade a power.
    EXPECT_EQ(plot::TickText(0.01, QLatin1Char('.'), true), QString::fromUtf8("10⁻²"));
    EXPECT_EQ(plot::TickText(1, QLatin1Char('.'), true), QString::fromUtf8("10⁰"));
}

// In a German locale numbers are read and shown with a decimal comma; a text that
// reads two ways is refused, and the graphs' labels keep their style.
TEST(GermanLocale, CommaNumbersAndOneLabelStyle) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    {
        TemraApp app;
        std::vector<QString> messages;
        app.hooks.message = [&](QWidget*, const QString&, const QString& text, bool) {
            messages.push_back(text);
        };
        EXPECT_EQ(app.module().run.DecimalSeparator, ',');
        app.form1().show();
        app.form1().Text19->setText("3.000");
        app.form1().Command1->click();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_TRUE(messages[0].contains("can be read two ways")) << messages[0].toStdString();
        EXPECT_EQ(app.form1().focusWidget(), app.form1().Text19);
        app.form1().Text19->setText("3000");
        app.form1().Command2->click();
        app.form2().Check[0]->click();
        app.form2().Check[1]->click();
        app.form2().Command1->click();
        app.dialog1().Text2->setText("0,05");
        app.dialog1().OKButton->click();
        Settle();
        plot::Plot* p = app.arN2GraphForm().ArN2Graph;
        for (const auto& labels : {p->XTickLabels(), p->YTickLabels()})
            for (const auto& [at, label] : labels) {
                EXPECT_FALSE(label.contains('E') || label.contains('e') || label.contains('.'))
                    << label.toStdString();
            }
    }
    QLocale::setDefault(QLocale::c());
}
