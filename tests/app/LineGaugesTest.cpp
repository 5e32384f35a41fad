// The window measuring three gauges on one line of the simulator: each gauge's readings in its
// own archive and curve, the table of their states with one gone silent, calibration on the
// panel's gauge alone, and Stop pressed inside a wait ending every gauge's run once.
#include "WindowFixture.h"

#include "ArchiveFormat.h"
#include "GaugeTable.h"
#include "SPSetup.h"
#include "ValuePanel.h"

#include <QComboBox>
#include <QLabel>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <fstream>

using namespace vg57;
using namespace vg57::test;
namespace fs = std::filesystem;

namespace {

class LineGauges : public WindowFixture {
protected:
    void SetUp() override {
        simArgs = {"--addresses", "1,2,5"};
        WindowFixture::SetUp();
        for (const char* a : {"1", "2", "5"})
            sim->Command(std::string("@") + a + " pressure " + a + "00");
        window->MeasureTimer.setInterval(100);
        window->Settings.LineAddresses = "125";
    }
    std::size_t Readings(std::size_t k) const { return window->Chart().GaugePoints(k).Size(); }
    QString Cell(int row, int column) const {
        return window->ValuePanel()->GaugeTable()->item(row, column)->text();
    }
    bool Grey(int row) const {
        return window->ValuePanel()->GaugeTable()->item(row, 0)->foreground().color() ==
               QColor(Qt::gray);
    }
    // The requests the simulator received, with their addresses ("5C1").
    std::vector<std::string> Frames() const {
        return test::Frames(LoggedRequestBytes(home.Path() + "/sim.log"));
    }
    bool AllReading(std::size_t at_least) const {
        for (std::size_t k = 0; k < 3; ++k)
            if (Readings(k) < at_least) return false;
        return true;
    }
};

TEST_F(LineGauges, eachGaugeArchivesItsOwnReadingsAndASilentOneGreysOnlyItsRow) {
    Press(TActionId::Start);
    ASSERT_EQ(window->GaugeCount(), 3u);
    ASSERT_TRUE(Until([&] { return AllReading(3); }, 5000));
    ASSERT_EQ(window->ValuePanel()->GaugeTable()->rowCount(), 3);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(Cell(row, 3), "отвечает");
        EXPECT_FALSE(Grey(row));
    }
    EXPECT_EQ(Cell(2, 0), "5");
    EXPECT_EQ(Cell(2, 1), "500 Па");

    sim->Command("@5 silent on");
    ASSERT_TRUE(Until([&] { return Cell(2, 3) == "не отвечает"; }, 4000));
    EXPECT_TRUE(Grey(2));
    // Its time-out held the line for 2.2 s: the others' readings are late, not missing.
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(Cell(row, 3), "отвечает");
        EXPECT_FALSE(Grey(row));
    }
    EXPECT_TRUE(Cell(2, 2).endsWith(" с")) << "its age stays shown";
    // Once it failed twice it is tried only now and then: the others keep their rhythm.
    ASSERT_TRUE(Until([&] { return window->Bus.FailuresRunning('5') >= 2; }, 4000));
    const std::size_t before = Readings(0);
    Until([] { return false; }, 1000);
    EXPECT_GE(Readings(0), before + 6) << "at 100 ms, despite the silent gauge";
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(Cell(row, 3), "отвечает");
        EXPECT_FALSE(Grey(row));
    }
    // Choosing it shows its last value, never another gauge's, and the status bar names it.
    emit window->ValuePanel()->GaugeSelector()->activated(2);
    EXPECT_EQ(window->ValuePanel()->PressureText()->text(), "500 Па");
    EXPECT_TRUE(window->ValuePanel()->ValueGreyed()) << "as its row";
    EXPECT_EQ(window->StatusMessage(), "Нет ответа от прибора (адрес 5)…");

    Press(TActionId::Stop);
    ASSERT_TRUE(Until([&] { return !window->Gate().Busy(); }));
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(window->Archive().Folder()))
        files.push_back(e.path());
    std::sort(files.begin(), files.end());
    ASSERT_EQ(files.size(), 3u);
    const char* addresses = "125";
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(ArchiveNameAddress(files[k].string()), addresses[k]) << files[k];
        std::ifstream in(files[k], std::ios::binary);
        std::size_t lines = 0;
        for (std::string line; std::getline(in, line); ++lines)
            EXPECT_EQ(ParseArchiveLine(line)->pressure, (addresses[k] - '0') * 100.0) << line;
        EXPECT_EQ(lines, Readings(k)) << "every reading of gauge " << addresses[k];
    }
}

TEST_F(LineGauges, calibrationAndDeviceSettingsActOnThePanelsGaugeAndNameIt) {
    Press(TActionId::ConnectionSetup);
    ASSERT_TRUE(Enabled(TActionId::CalibrAtm));
    emit window->ValuePanel()->GaugeSelector()->activated(2);
    ASSERT_EQ(window->PanelGauge().Address(), '5');
    EXPECT_EQ(window->ValuePanel()->PressureText()->text(), "500 Па");
    const std::size_t sent = Frames().size();
    window->askQuestion = [&](const QString& q) {
        questions << q;
        return true;
    };
    Press(TActionId::CalibrAtm);
    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(questions[0].contains("Выполнить калибровку по атмосферному давлению (адрес 5)?"))
        << questions[0].toStdString();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].endsWith("(адрес 5)")) << messages[0].toStdString();
    QString title;
    window->deviceSettingsExec = [&](TSPSetupForm& form) {
        title = form.windowTitle();
        return int(QDialog::Rejected);
    };
    Press(TActionId::DeviceSettings);
    EXPECT_TRUE(title.endsWith("(адрес 5)")) << title.toStdString();
    const std::vector<std::string> frames = Frames();
    ASSERT_GT(frames.size(), sent + 4);
    for (std::size_t i = sent; i < frames.size(); ++i)
        EXPECT_EQ(frames[i][0], '5') << "only the chosen gauge is asked: " << frames[i];
    EXPECT_EQ(std::count(frames.begin(), frames.end(), "5C1"), 1);
}

TEST_F(LineGauges, stopPressedInsideATicksWaitEndsEveryGaugesRunOnce) {
    Press(TActionId::Start);
    ASSERT_TRUE(Until([&] { return AllReading(2); }, 5000));
    sim->Command("@2 delay 1500");
    // Stop, pressed while gauge 2's reply is awaited, cuts that wait and asks no gauge after it.
    bool pressed = false;
    std::chrono::steady_clock::time_point at;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (window->Bus.TransferState != tsWaiting || Frames().back()[0] != '2') return;
        watch.stop();
        pressed = true;
        at = std::chrono::steady_clock::now();
        Press(TActionId::Stop);
    });
    watch.start(10);
    ASSERT_TRUE(Until(
        [&] { return pressed && Enabled(TActionId::Start) && !window->Gate().Busy(); }, 5000));
    EXPECT_LT(std::chrono::steady_clock::now() - at, std::chrono::milliseconds(800));
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_FALSE(window->Gauge(k).cycle.Measuring());
        EXPECT_FALSE(window->Gauge(k).archive.Problem().size());
    }
    EXPECT_TRUE(Enabled(TActionId::Start));
    EXPECT_FALSE(Enabled(TActionId::Stop));
    // Nothing goes out after Stop, and a new Start runs three new files.
    const std::size_t sent = Frames().size();
    Until([] { return false; }, 400);
    EXPECT_EQ(Frames().size(), sent);
    sim->Command("@2 delay off");
    Press(TActionId::Start);
    ASSERT_TRUE(Until([&] { return window->Gauge(2).archive.ArchiveOpen(); }, 5000));
    for (std::size_t k = 0; k < 3; ++k)
        EXPECT_TRUE(window->Gauge(k).cycle.Measuring());
}

} // namespace

// The adapter is every gauge's: lost and found once for all, each run going on in its own file;
// a session that ends then closes every archive.
TEST_F(LineGauges, anAdapterLostAndFoundIsEveryGaugesAndAnEndingSessionClosesEveryArchive) {
    window->show();
    Press(TActionId::Start);
    ASSERT_TRUE(Until([&] { return AllReading(2); }, 5000));
    sim->Command("unplug");
    ASSERT_TRUE(Until([&] { return window->Gauge(2).cycle.AdapterGone(); }));
    for (std::size_t k = 0; k < 3; ++k)
        EXPECT_TRUE(window->Gauge(k).cycle.AdapterGone());
    EXPECT_EQ(Cell(0, 3), "адаптер отключён");
    sim->Command("replug");
    const std::size_t before = std::max({Readings(0), Readings(1), Readings(2)});
    ASSERT_TRUE(Until([&] { return AllReading(before + 2); }, 6000));
    std::vector<std::string> paths;
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_FALSE(window->Gauge(k).cycle.AdapterGone());
        paths.push_back(window->Gauge(k).archive.Path());
    }
    window->EndSession();
    ASSERT_TRUE(Until([&] { return !window->isVisible(); }));
    EXPECT_TRUE(questions.isEmpty());
    std::vector<std::uintmax_t> sizes;
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_FALSE(window->Gauge(k).cycle.Measuring());
        EXPECT_EQ(window->Gauge(k).archive.Path(), paths[k]) << "the same file all along";
        sizes.push_back(fs::file_size(paths[k]));
    }
    Until([] { return false; }, 300);
    for (std::size_t k = 0; k < 3; ++k)
        EXPECT_EQ(fs::file_size(paths[k]), sizes[k]) << "nothing written after the end";
}
