// The main window offscreen against the gauge simulator: its start state, its layout, the
// connection set-up, and operator actions that arrive while a handler waits for the gauge.
#include "WindowFixture.h"

#include "ChartArea.h"
#include "ValuePanel.h"

#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <chrono>
#include <filesystem>

using namespace vg57;
using namespace vg57::test;

namespace {

class MainForm : public WindowFixture {};

QString NoData() {
    return QString::fromUtf8(TValuePanel::kNoData);
}

} // namespace

TEST_F(MainForm, startsStoppedWithTheDesignedActionsAndNoReadings) {
    const struct {
        TActionId id;
        bool enabled;
    } rows[] = {
        {TActionId::Start, true},           {TActionId::Stop, false},
        {TActionId::LoadfromFile, true},    {TActionId::Exit, true},
        {TActionId::DeviceSettings, false}, {TActionId::CalibrAtm, false},
        {TActionId::CalibrZero, false},     {TActionId::ProgramSettings, true},
        {TActionId::ConnectionSetup, true}, {TActionId::LoadReference, true},
    };
    for (const auto& r : rows)
        EXPECT_EQ(Enabled(r.id), r.enabled) << window->Action(r.id)->text().toStdString();
    EXPECT_TRUE(window->AboutAction()->isEnabled());

    TValuePanel* panel = window->ValuePanel();
    EXPECT_EQ(panel->PressureText()->text(), NoData());
    EXPECT_EQ(panel->Units()->text(), NoData());
    for (int i = 0; i < kSetPointCount; ++i)
        EXPECT_EQ(panel->SetPoint(i)->text(), NoData());
    EXPECT_EQ(panel->Indicator(), TIndicator::face);
    EXPECT_FALSE(window->Vg57Port.Open()) << "nothing is sent at start";
    EXPECT_TRUE(Requests().empty());
}

TEST_F(MainForm, startsAtItsDesignSizeCannotShrinkAndGrowsTheChartWhileThePanelKeepsItsCorner) {
    window->show();
    QCoreApplication::processEvents();
    const QSize start = window->StartSize();
    EXPECT_EQ(window->size(), start);
    EXPECT_EQ(window->minimumSize(), start);
    // With the bars at their real heights, the chart area and the pressure track have their
    // design sizes, so the start range of the pressure slider is the designed one.
    EXPECT_EQ(window->ChartArea()->size(),
              QSize(TChartArea::kDesignWidth, TChartArea::kDesignHeight));
    EXPECT_EQ(window->ChartArea()->Panel5()->height(), 400);
    window->Chart().SetAutoScale(false);
    EXPECT_NEAR(window->Chart().Pmin(), 74400, 1);
    const QSize chartBefore = window->ChartArea()->size();
    const QSize panelSize = window->ValuePanel()->size();
    window->resize(1300, 800);
    QCoreApplication::processEvents();
    const QWidget* client = window->centralWidget();
    EXPECT_EQ(window->ValuePanel()->size(), panelSize);
    EXPECT_EQ(window->ValuePanel()->geometry().right(), client->width() - 1);
    EXPECT_EQ(window->ValuePanel()->y(), 0);
    EXPECT_EQ(window->ChartArea()->width(), chartBefore.width() + 1300 - start.width());
    EXPECT_EQ(window->ChartArea()->height(), chartBefore.height() + 800 - start.height());
    window->resize(100, 100);
    QCoreApplication::processEvents();
    EXPECT_GE(window->width(), start.width());
    EXPECT_GE(window->height(), start.height());
}

TEST_F(MainForm, rightClicksOnTheBarsOpenNoMenuWhileTheChartKeepsItsOwn) {
    window->show();
    for (QWidget* w : {(QWidget*)window->menuBar(), (QWidget*)window->findChild<QToolBar*>(),
                       (QWidget*)window->ChartArea()->Chart1()}) {
        // A menu runs its own loop: the check runs in it and closes it.
        QString opened;
        QTimer::singleShot(0, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                opened = menu->actions().value(0)->text();
                menu->close();
            }
        });
        QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                                w->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(w, &click);
        QCoreApplication::processEvents();
        EXPECT_EQ(opened, w == window->ChartArea()->Chart1() ? "&Параметры отображения" : "");
    }
}

TEST_F(MainForm, valuePanelCaptionsStandOnTheirValuesBaselineWithAGap) {
    // Where QLabel puts a line's baseline: its box, centred or not, and the font.
    const auto baseline = [](const QLabel* l) {
        const QFontMetrics fm(l->font());
        const int spare = l->contentsRect().height() - fm.height();
        return l->y() + l->contentsRect().top() + fm.ascent() +
               (l->alignment() & Qt::AlignVCenter ? spare / 2 : 0);
    };
    const QList<QLabel*> labels = window->ValuePanel()->findChildren<QLabel*>();
    for (const QLabel* value : labels) {
        const QString name = value->objectName() == "Units" ? "Ед. изм." : value->objectName();
        if (!name.startsWith("SP") && name != "Ед. изм.") continue;
        const auto caption = std::find_if(labels.begin(), labels.end(),
                                          [&](const QLabel* l) { return l->text() == name; });
        ASSERT_NE(caption, labels.end()) << name.toStdString();
        EXPECT_EQ(baseline(*caption), baseline(value)) << name.toStdString();
        const int inkEnd = (*caption)->x() + (*caption)->fontMetrics().horizontalAdvance(name);
        EXPECT_GE(value->x() - inkEnd, 4) << name.toStdString();
    }
}

TEST_F(MainForm, connectionSetUpFillsThePanelFromTheGaugeAndOffersItsActions) {
    sim->Command("pressure 0.0025");
    Press(TActionId::ConnectionSetup);
    EXPECT_TRUE(window->Link().GaugeReady);
    for (TActionId id : {TActionId::DeviceSettings, TActionId::CalibrAtm, TActionId::CalibrZero})
        EXPECT_TRUE(Enabled(id));
    TValuePanel* panel = window->ValuePanel();
    EXPECT_EQ(panel->Units()->text(), QStringLiteral("Па"));
    EXPECT_EQ(panel->PressureText()->text(), QStringLiteral("0.0025 Па"));
    EXPECT_NE(panel->SetPoint(SP1L)->text(), NoData());
    EXPECT_EQ(panel->Indicator(), TIndicator::green);
    EXPECT_EQ(window->Chart().Points().Size(), 0u) << "the set-up's reading is not plotted";
    const std::vector<std::string> expected = {"S3", "R2", "R3", "R4", "R1", "R1", "S1"};
    EXPECT_EQ(Requests(), expected);
}

TEST_F(MainForm, shortcutsActOnlyWhileTheirActionIsEnabled) {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_F6);
    EXPECT_FALSE(window->Cycle().Measuring());
    QTest::keyClick(window.get(), Qt::Key_F5);
    EXPECT_TRUE(window->Cycle().Measuring());
    EXPECT_FALSE(Enabled(TActionId::Start));
    QTest::keyClick(window.get(), Qt::Key_F5); // disabled now: no second run
    QTest::keyClick(window.get(), Qt::Key_F6);
    EXPECT_FALSE(window->Cycle().Measuring());
    EXPECT_TRUE(Enabled(TActionId::Start));
}

TEST_F(MainForm, anActionPressedDuringAWaitRunsOnceAfterTheHandlerReturned) {
    sim->Command("delay 400");
    bool queuedWhileWaiting = false;
    QTimer::singleShot(150, [&] {
        Press(TActionId::Start);
        Press(TActionId::Start); // the same action twice runs once
        queuedWhileWaiting = window->Gate().Queued() == 1 && !window->Cycle().Measuring();
    });
    Press(TActionId::ConnectionSetup);
    EXPECT_TRUE(queuedWhileWaiting);
    EXPECT_FALSE(window->Cycle().Measuring()) << "Start must not run inside the set-up's wait";
    ASSERT_TRUE(Until([&] { return window->Cycle().Measuring(); }, 8000));
    Until([&] { return !window->Gate().Busy(); }, 8000);
    EXPECT_EQ(window->Gate().Queued(), 0u);
}

TEST_F(MainForm, closingWhileACalibrationAwaitsItsFreshReadingAsksAndSendsNothing) {
    Press(TActionId::ConnectionSetup);
    ASSERT_TRUE(Enabled(TActionId::CalibrAtm));
    sim->Command("silent on");
    window->show();
    QTimer::singleShot(200, [&] { window->close(); });
    Press(TActionId::CalibrAtm); // its "R1" waits for the silent gauge
    ASSERT_TRUE(Until([&] { return !window->isVisible(); }));
    EXPECT_TRUE(questions.isEmpty());
    EXPECT_EQ(Requests().back(), "R1");
}

// Closing during a wait, by the close box or by "Выход", also after a Stop that was queued.
class ClosingDuringAWait : public WindowFixture,
                           public ::testing::WithParamInterface<std::pair<const char*, bool>> {};

TEST_P(ClosingDuringAWait, endsTheWaitAndWritesNothingMore) {
    const auto [how, stopFirst] = GetParam();
    sim->Command("silent on");
    window->show();
    const auto start = std::chrono::steady_clock::now();
    QTimer::singleShot(200, [&, how = std::string(how), stopFirst = stopFirst] {
        if (stopFirst) Press(TActionId::Stop);
        if (how == "exit")
            Press(TActionId::Exit);
        else
            window->close();
    });
    Press(TActionId::Start); // its "S3" would wait 2.2 s for the silent gauge
    ASSERT_TRUE(Until([&] { return !window->isVisible(); }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    const std::size_t sent = Requests().size();
    EXPECT_EQ(sent, 1u) << "only the first S3";
    window.reset(); // the port and its threads go with the window
    EXPECT_TRUE(std::filesystem::is_symlink(sim->LinkPath())) << "the simulator's link is kept";
    EXPECT_EQ(Requests().size(), sent);
}

INSTANTIATE_TEST_SUITE_P(Ways, ClosingDuringAWait,
                         ::testing::Values(std::pair{"box", false}, std::pair{"exit", false},
                                           std::pair{"box", true}));

// A run is not ended by a stray click on the close box: "Нет" keeps it going; "Да", or a session
// that ends (logout, SIGTERM) without asking, stop it with the archive closed.
TEST_F(MainForm, closingWhileMeasuringAsksFirstAndAnEndingSessionDoesNot) {
    const struct {
        const char* how;
        bool yes;
        QStringList asked;
    } rows[] = {
        {"box", false, {"Идут измерения. Остановить и выйти?"}},
        {"box", true, {"Идут измерения. Остановить и выйти?"}},
        {"session", false, {}},
        // The session ends while the question is open (a SIGTERM then): no answer is needed.
        {"box, then session", false, {"Идут измерения. Остановить и выйти?"}},
    };
    for (const auto& r : rows) {
        TearDown();
        SetUp();
        questions.clear();
        window->MeasureTimer.setInterval(60);
        const bool sessionEnds = std::string(r.how).ends_with("session");
        window->askQuestion = [&](const QString& q) {
            questions << q;
            if (std::string(r.how) != "session" && sessionEnds) window->EndSession();
            return r.yes;
        };
        window->show();
        Press(TActionId::Start);
        ASSERT_TRUE(Until([&] { return window->Chart().Points().Size() >= 2; })) << r.how;
        ASSERT_TRUE(window->Archive().ArchiveOpen());
        const std::string archive = window->Archive().Path();
        if (std::string(r.how) == "session")
            window->EndSession();
        else
            window->close();
        const bool closes = r.yes || sessionEnds;
        EXPECT_EQ(Until([&] { return !window->isVisible(); }, closes ? 3000 : 300), closes)
            << r.how << r.yes;
        EXPECT_EQ(questions, r.asked) << r.how << r.yes;
        EXPECT_EQ(window->Cycle().Measuring(), !closes) << r.how << r.yes;
        const auto size = std::filesystem::file_size(archive);
        Until([] { return false; }, 200);
        EXPECT_EQ(std::filesystem::file_size(archive) > size, !closes)
            << r.how << r.yes << ": readings go on only while the run does";
        if (!closes) Press(TActionId::Stop);
    }
}
