// What the window leaves behind after trouble on the line: a second Stop that lands inside the
// first, and a gauge that starts answering only after Start.
#include "WindowFixture.h"

#include "ValuePanel.h"

#include <QLabel>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <utility>

using namespace vg57;
using namespace vg57::test;

namespace {

class Recovery : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        window->MeasureTimer.setInterval(60);
    }
    std::size_t Count(const std::string& request) const {
        const auto r = Requests();
        return static_cast<std::size_t>(std::count(r.begin(), r.end(), request));
    }
    QToolButton* Button(TActionId id) const {
        for (QToolButton* b : window->findChildren<QToolButton*>())
            if (b->defaultAction() == window->Action(id)) return b;
        return nullptr;
    }
    bool Idle() const { return !window->Gate().Busy() && window->Gate().Queued() == 0; }
};

// A second Stop arrives while the first closes the port: it is queued and cuts the line, then
// dropped as Stop is disabled by then. The cut must end with it.
class SecondStop : public Recovery, public ::testing::WithParamInterface<const char*> {};

TEST_P(SecondStop, leavesTheLineOpenForTheNextStartAndForCalibration) {
    const std::string how = GetParam();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QToolButton* stop = Button(TActionId::Stop);
    ASSERT_NE(stop, nullptr);
    Press(TActionId::Start);
    ASSERT_TRUE(Until([&] { return Count("S1") >= 2; }));
    // The rest of the double click, or a second F6, reaches the window while the first Stop
    // closes the port (events are handled then).
    bool second = false;
    const auto unhook = qScopeGuard([&] { window->Vg57Port.OnPortClose = nullptr; });
    window->Vg57Port.OnPortClose = [&](TComPort&) {
        if (std::exchange(second, true)) return;
        if (how == "double click") {
            QTest::mouseDClick(stop, Qt::LeftButton);
            QTest::mouseRelease(stop, Qt::LeftButton);
        } else {
            Press(TActionId::Stop);
        }
    };
    if (how == "double click")
        QTest::mouseClick(stop, Qt::LeftButton);
    else
        Press(TActionId::Stop);
    ASSERT_TRUE(second);
    ASSERT_TRUE(Until([&] { return !window->Cycle().Measuring() && Idle(); }));

    Press(TActionId::Start);
    const std::size_t before = Count("S1");
    EXPECT_TRUE(Until([&] { return Count("S1") >= before + 2; })) << "requests on the line";
    Press(TActionId::Stop);
    ASSERT_TRUE(Until([&] { return Idle() && Enabled(TActionId::CalibrAtm); }));
    window->askQuestion = [](const QString&) { return true; }; // "Да" to the calibration
    Press(TActionId::CalibrAtm);
    EXPECT_EQ(Count("C1"), 1u);
    EXPECT_EQ(messages.size(), 1);
}

INSTANTIATE_TEST_SUITE_P(Ways, SecondStop,
                         ::testing::Values("double click", "press inside the first Stop"));

TEST_F(Recovery, aGaugeThatAnswersAfterStartIsSetUpAndItsErrorCleared) {
    sim->Command("silent on");
    Press(TActionId::Start);
    ASSERT_TRUE(window->Cycle().Measuring());
    EXPECT_FALSE(Enabled(TActionId::DeviceSettings));
    // An echo error first, then the gauge recovers.
    sim->Command("echo X");
    sim->Command("silent off");
    TValuePanel* panel = window->ValuePanel();
    const QString error = QStringLiteral("Ошибка от прибора");
    ASSERT_TRUE(Until([&] { return panel->StaticTextTest()->text() == error; }, 6000));
    sim->Command("echo off");
    ASSERT_TRUE(Until([&] { return Enabled(TActionId::DeviceSettings); }, 6000));
    EXPECT_EQ(panel->SetPoint(SP2L)->text(), QStringLiteral("1.0e-1"));
    EXPECT_EQ(panel->Units()->text(), QStringLiteral("Па"));
    EXPECT_EQ(panel->StaticTextTest()->text().trimmed(), QString()) << "cleared by a good reply";
    Until([] { return false; }, 300);
    EXPECT_EQ(Count("R2"), 1u) << "set up once";
}

} // namespace
