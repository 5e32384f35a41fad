// Measuring with the real window offscreen against the gauge simulator: Start, the ticks, the
// archive, Stop, a silent gauge, and an adapter that drops out.
#include "ChartArea.h"
#include "WindowFixture.h"

#include "ValuePanel.h"

#include <QLabel>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace vg57;
using namespace vg57::test;
namespace fs = std::filesystem;

namespace {

class Measuring : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        window->MeasureTimer.setInterval(60);
    }
    std::vector<fs::path> ArchiveFiles() const {
        std::vector<fs::path> files;
        for (const auto& e : fs::directory_iterator(window->Archive().Folder()))
            if (e.path().extension() == ".txt") files.push_back(e.path());
        std::sort(files.begin(), files.end());
        return files;
    }
    static std::vector<std::string> Lines(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    std::size_t Points() const { return window->Chart().Points().Size(); }
    std::size_t Count(const std::string& request) const {
        const auto r = Requests();
        return static_cast<std::size_t>(std::count(r.begin(), r.end(), request));
    }
};

using Clock = std::chrono::steady_clock;

} // namespace

TEST_F(Measuring, startReadsSetPointsAndUnitOnceThenAPressureEveryTick) {
    sim->Command("pressure 0.0025");
    Press(TActionId::Start);
    ASSERT_TRUE(window->Cycle().Measuring());
    EXPECT_FALSE(Enabled(TActionId::Start));
    EXPECT_TRUE(Enabled(TActionId::Stop));
    EXPECT_TRUE(Enabled(TActionId::DeviceSettings));
    for (TActionId id : {TActionId::ConnectionSetup, TActionId::CalibrAtm, TActionId::CalibrZero,
                         TActionId::LoadfromFile})
        EXPECT_FALSE(Enabled(id));
    ASSERT_TRUE(Until([&] { return Points() >= 3; }));
    Press(TActionId::Stop);
    EXPECT_EQ(Count("R2"), 1u);
    EXPECT_GE(Count("S1"), 3u);
    EXPECT_EQ(window->ValuePanel()->PressureText()->text(), QStringLiteral("0.0025 Па"));
    const auto files = ArchiveFiles();
    ASSERT_EQ(files.size(), 1u);
    const auto lines = Lines(files[0]);
    EXPECT_EQ(lines.size(), Points());
    for (const std::string& line : lines)
        EXPECT_TRUE(line.ends_with(" 0.0025 0001\r")) << line;
    EXPECT_TRUE(Enabled(TActionId::CalibrAtm));
    // The chart has the set points with the unit read after them.
    const TChartSetPoints& sp = window->ChartArea()->SetPoints()->Points();
    EXPECT_TRUE(sp.known);
    EXPECT_EQ(sp.unitCode, "0001");
    const double expected[] = {1e-3, 5e-3, 0.1, 0.5, 1000, 5000};
    for (int i = 0; i < 6; ++i)
        EXPECT_DOUBLE_EQ(sp.values[static_cast<std::size_t>(i)], expected[i]) << i;
}

TEST_F(Measuring, aPortInUseIsNamedWithTheSystemsReason) {
    TComPort other;
    MainWindowPort(other, 3);
    other.SetOpen(true);
    Press(TActionId::Start);
    EXPECT_FALSE(window->Cycle().Measuring());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], QStringLiteral("Невозможно открыть порт COM3"));
    EXPECT_FALSE(details[0].isEmpty());
    EXPECT_TRUE(Enabled(TActionId::Start));
    EXPECT_FALSE(Enabled(TActionId::Stop));
}

TEST_F(Measuring, stopAndStartAgainWriteTwoCompleteFiles) {
    Press(TActionId::Start);
    ASSERT_TRUE(Until([&] { return Points() >= 2; }));
    Press(TActionId::Stop);
    const std::size_t firstRun = Points();
    // The archive folder moved away between the runs: Start makes it again.
    const std::string folder = window->Archive().Folder();
    fs::rename(folder, folder + ".old");
    std::this_thread::sleep_for(std::chrono::milliseconds(1100)); // the next name is a second on
    Press(TActionId::Start);
    ASSERT_TRUE(Until([&] { return Points() >= firstRun + 2; }));
    Press(TActionId::Stop);
    const auto files = ArchiveFiles();
    ASSERT_EQ(files.size(), 1u);
    std::vector<std::string> old;
    for (const auto& e : fs::directory_iterator(folder + ".old"))
        old.push_back(e.path().string());
    ASSERT_EQ(old.size(), 1u);
    EXPECT_EQ(Lines(old[0]).size(), firstRun);
    EXPECT_EQ(Lines(old[0]).size() + Lines(files[0]).size(), Points());
}

TEST_F(Measuring, aMalformedSetPointIsShownAndMeasuringStillStarts) {
    sim->Command("corrupt 3 X"); // a letter where the first set point's digit belongs
    std::vector<std::string> shown;
    platform::SetExceptionDisplay([&](const std::string& message) { shown.push_back(message); });
    Press(TActionId::Start);
    platform::SetExceptionDisplay({});
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("SP1L"), std::string::npos) << shown[0];
    EXPECT_TRUE(window->Cycle().Measuring());
    EXPECT_TRUE(window->MeasureTimer.isActive());
    const auto r = Requests();
    ASSERT_GE(r.size(), 3u);
    EXPECT_EQ(r[1], "R2");
    EXPECT_EQ(r[2], "R1") << "the unit is still read";
    EXPECT_FALSE(window->ChartArea()->SetPoints()->Points().known);
}

TEST_F(Measuring, stopCutsATicksWaitShortAndArchivesNoFailedReading) {
    Press(TActionId::Start);
    ASSERT_TRUE(Until([&] { return Points() >= 2; }));
    sim->Command("silent on");
    // The next tick waits for its reply; Stop, pressed during that wait, must not wait behind it.
    Clock::time_point pressed;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (window->Link().Bus().TransferState != tsWaiting) return;
        watch.stop();
        pressed = Clock::now();
        Press(TActionId::Stop);
    });
    watch.start(20);
    ASSERT_TRUE(Until([&] { return !window->Cycle().Measuring() && !window->Gate().Busy(); }));
    EXPECT_LT(Clock::now() - pressed, std::chrono::milliseconds(800));
    const auto files = ArchiveFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(Lines(files[0]).size(), Points()) << "the cut tick is neither plotted nor archived";
}

TEST_F(Measuring, aSilentGaugeShowsDemonstrationValuesAndStopAndStartNeverInterleave) {
    sim->Command("silent on");
    // Stop, pressed during Start's first "S3", runs once Start has unwound. Its own "S3" then
    // takes its time-out (the gauge never answered); Start, pressed during that wait, runs after
    // Stop has returned, as an outermost handler.
    Clock::time_point stopRan;
    std::vector<int> depthWhenStartRan;
    QObject::connect(window->Action(TActionId::Start), &QAction::changed, [&] {
        if (!Enabled(TActionId::Start)) {
            depthWhenStartRan.push_back(window->Gate().Depth());
        } else if (stopRan == Clock::time_point()) {
            stopRan = Clock::now();
            QTimer::singleShot(100, [&] { Press(TActionId::Start); });
        }
    });
    const auto pressed = Clock::now();
    QTimer::singleShot(300, [&] { Press(TActionId::Stop); });
    Press(TActionId::Start);
    ASSERT_TRUE(Until([&] { return depthWhenStartRan.size() == 2; }, 8000));
    EXPECT_LT(stopRan - pressed, std::chrono::milliseconds(1000));
    EXPECT_EQ(depthWhenStartRan, (std::vector<int>{1, 1}));

    // Left alone, each tick's "S3" times out and draws a demonstration value, never as a reading
    // and never as the current pressure.
    ASSERT_TRUE(Until([&] { return window->Cycle().DemoShown(); }, 15000));
    EXPECT_EQ(window->ValuePanel()->PressureText()->text(), QStringLiteral("Нет связи"));
    EXPECT_TRUE(window->ValuePanel()->ValueGreyed());
    EXPECT_EQ(Points(), 0u);
    EXPECT_GE(window->Chart().DemoPoints().Size(), 1u);
    // Off the empty chart's pressure axis, they are not announced, nor named in a legend.
    window->ChartArea()->Chart1()->Refresh(true);
    EXPECT_FALSE(window->ChartArea()->Chart1()->legend->visible());
    EXPECT_EQ(window->StatusMessage(), QStringLiteral("Прибор не отвечает"));
    Press(TActionId::Stop);
    ASSERT_TRUE(Until([&] { return !window->Cycle().Measuring() && !window->Gate().Busy(); }));
    EXPECT_TRUE(ArchiveFiles().empty()) << "demonstration values are never archived";
}

// The first contact's time-out is the only one Start spends on a silent gauge, and the window
// says so as soon as it has passed; the set-up waits for the gauge's first answer.
TEST_F(Measuring, aSilentGaugeIsShownAsSuchWithinTheFirstTimeOut) {
    sim->Command("silent on");
    const auto pressed = Clock::now();
    Press(TActionId::Start);
    EXPECT_LT(Clock::now() - pressed, std::chrono::milliseconds(3000));
    EXPECT_TRUE(window->Cycle().Measuring());
    EXPECT_EQ(Requests(), std::vector<std::string>{"S3"}) << "no set-up read spends a time-out";
    EXPECT_EQ(window->StatusMessage(), QStringLiteral("Прибор не отвечает"));
    EXPECT_EQ(window->ValuePanel()->PressureText()->text(), QStringLiteral("Нет связи"));
    EXPECT_TRUE(window->ValuePanel()->ValueGreyed());

    sim->Command("silent off");
    ASSERT_TRUE(Until([&] { return Count("R2") == 1 && Points() >= 1; }, 8000));
    Press(TActionId::Stop);
    // Stopped, the last value stays but reads as what it is.
    EXPECT_TRUE(window->ValuePanel()->ValueGreyed());
    EXPECT_EQ(window->ValuePanel()->Caption()->text(),
              QStringLiteral("Текущее давление (измерения остановлены)"));
    EXPECT_EQ(window->ValuePanel()->Indicator(), TIndicator::face);
}

TEST_F(Measuring, anAdapterLostDuringStartIsLookedForAndTheRunBegins) {
    sim->Command("delay 300");
    QTimer::singleShot(100, [&] { sim->Command("unplug"); }); // during Start's first "S3"
    Press(TActionId::Start);
    ASSERT_TRUE(window->Cycle().Measuring());
    ASSERT_TRUE(window->Cycle().AdapterGone());
    sim->Command("delay off");
    sim->Command("replug");
    ASSERT_TRUE(Until([&] { return Points() >= 2; }, 6000));
}

TEST_F(Measuring, anAdapterThatDropsOutIsFoundAgainAndTheRunGoesOn) {
    Press(TActionId::Start);
    ASSERT_TRUE(Until([&] { return Points() >= 2; }));
    sim->Command("unplug");
    ASSERT_TRUE(Until([&] { return window->Cycle().AdapterGone(); }));
    // Our Russian words alone in the bar; the link's and the system's reason in its tooltip.
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Адаптер порта COM3 \\(/dev/\\S+\\) отключён$"))
                    .match(window->StatusMessage())
                    .hasMatch())
        << window->StatusMessage().toStdString();
    EXPECT_FALSE(window->StatusDetail().isEmpty());
    EXPECT_EQ(window->statusBar()->findChild<QLabel*>()->toolTip(), window->StatusDetail());
    EXPECT_NE(window->ValuePanel()->Indicator(), TIndicator::green);
    Until([] { return false; }, 300);
    const std::size_t during = Points();
    Until([] { return false; }, 400);
    EXPECT_EQ(Points(), during) << "no point while the adapter is away";
    sim->Command("replug");
    ASSERT_TRUE(Until([&] { return !window->Cycle().AdapterGone(); }, 5000));
    ASSERT_TRUE(Until([&] { return Points() >= during + 2; }));
    // Stop during an outage stops quietly.
    sim->Command("unplug");
    ASSERT_TRUE(Until([&] { return window->Cycle().AdapterGone(); }));
    Press(TActionId::Stop);
    EXPECT_FALSE(window->Cycle().Measuring());
    EXPECT_TRUE(Enabled(TActionId::Start));
    EXPECT_TRUE(messages.isEmpty());
    const auto files = ArchiveFiles();
    ASSERT_EQ(files.size(), 1u) << "the same run goes on in the same archive";
    EXPECT_EQ(Lines(files[0]).size(), Points());
}
