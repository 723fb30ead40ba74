// The windows as a new user meets them: "End" ends the program whatever is open,
// controls keep their places, messages appear where they can be seen, the box at
// fault gets the cursor, long work shows progress and can be cancelled, and every
// window shows all of its texts.
#include "tests/ui_session.h"

#include <qcustomplot.h>

#include <QDialog>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QTimer>

#include <chrono>
#include <thread>

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
        app.messageSink = [](QWidget*, const QString&, const QString&, bool) {};
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
                        {&Form1::Text1, "Text1", "abc"},    {&Form1::Text21, "Text21", "100"}};
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
    app.module().MemoryBudget = std::uint64_t{1} << 40;
    std::vector<QString> asked;
    app.confirmSink = [&](QWidget*, const QString& text) {
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
    app.runStartedHook = [](RunControl& c) { c.Cancel(); };
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

// Every window's first size shows all of its texts, and no window can be made so
// small that its controls overlap or their texts are cut.
TEST_F(Manners, EveryWindowShowsAllOfItsTexts) {
    Calculate();
    Redraw();
    graph().Command5->click();
    graph().Command6->click();
    DrawPair({4, 6});
    QWidget* windows[] = {&app.form1(), &graph(),       &app.form4(),        &app.dialog(),
                          &app.form2(), &app.dialog1(), &app.arN2GraphForm()};
    for (QWidget* w : windows) {
        const std::string name = w->objectName().toStdString();
        for (const QSize attempt : {QSize(), QSize(1, 1)}) {
            w->show();
            if (attempt.isValid()) w->resize(attempt);
            Settle();
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
            // Controls side by side never overlap.
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
        app.messageSink = [&](QWidget*, const QString&, const QString& text, bool) {
            messages.push_back(text);
        };
        EXPECT_EQ(app.module().DecimalSeparator, ',');
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
