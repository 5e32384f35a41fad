// What the operator sees, with the real window offscreen and the gauge simulator: a gauge that
// falls silent and answers again, and an archive written in several units.
#include "WindowFixture.h"

#include "ChartArea.h"
#include "ValuePanel.h"

#include <QLabel>

#include <cmath>
#include <fstream>

using namespace vg57;
using namespace vg57::test;

namespace {

class ChartTrust : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        window->MeasureTimer.setInterval(60);
    }
    std::size_t Points() const { return window->Chart().Points().Size(); }
    TValuePanel* Panel() const { return window->ValuePanel(); }
    QString Caption() const { return Panel()->Caption()->text(); }
    std::size_t BreaksDrawn() const {
        std::size_t n = 0;
        const auto data = window->ChartArea()->Chart1()->Readings()->data();
        for (auto it = data->constBegin(); it != data->constEnd(); ++it)
            n += std::isnan(it->value) ? 1 : 0;
        return n;
    }
};

} // namespace

TEST_F(ChartTrust, aGaugeThatFallsSilentLeavesAGapAndAGreyAgeingValueUntilItAnswers) {
    sim->Command("pressure 2500");
    Press(TActionId::Start);
    ASSERT_TRUE(Until([&] { return Points() >= 3; }));
    EXPECT_FALSE(Panel()->ValueGreyed());
    const QString value = Panel()->PressureText()->text();

    sim->Command("silent on");
    const std::size_t before = Points();
    const double lastTime = window->Chart().Points().X(before - 1);
    ASSERT_TRUE(Until([&] { return Panel()->ValueGreyed(); }, 8000));
    EXPECT_EQ(Panel()->PressureText()->text(), value) << "the last value stays, marked";
    EXPECT_TRUE(Caption().startsWith(QStringLiteral("Текущее давление (")))
        << Caption().toStdString();
    EXPECT_TRUE(Caption().endsWith(QStringLiteral(" с назад)"))) << Caption().toStdString();
    EXPECT_EQ(window->StatusMessage(), QStringLiteral("Прибор не отвечает"));
    EXPECT_EQ(Points(), before) << "a failed reading adds no point";
    EXPECT_GT(window->Chart().TimeAxis().Max(), lastTime) << "the time axis moves on";

    sim->Command("silent off");
    ASSERT_TRUE(Until([&] { return Points() >= before + 2; }, 8000));
    EXPECT_FALSE(Panel()->ValueGreyed());
    EXPECT_EQ(Caption(), QStringLiteral("Текущее давление"));
    EXPECT_FALSE(window->StatusMessage().contains(QStringLiteral("не отвечает")));
    EXPECT_TRUE(window->Chart().Points().GapBefore(before)) << "the line breaks at the silence";
    for (std::size_t i = 1; i < Points(); ++i) {
        if (i == before) continue;
        EXPECT_FALSE(window->Chart().Points().GapBefore(i)) << i;
    }
    window->ChartArea()->Chart1()->Refresh(true);
    EXPECT_EQ(BreaksDrawn(), 1u);
    Press(TActionId::Stop);
}

TEST_F(ChartTrust, anArchiveInSeveralUnitsIsDrawnInTheUnitOfItsLastLineAndSaysSo) {
    const std::string file = home.Path() + "/mixed.txt";
    std::ofstream(file, std::ios::binary) << "10:00:00.000 100000 0001\r\n"
                                             "10:00:01.000 750.06 0002\r\n"
                                             "10:00:02.000 42 0042\r\n"
                                             "10:00:03.000 1000 0003\r\n"
                                             "10:00:04.000 900 0003\r\n";
    window->chooseArchive = [&](const QString&) {
        return QStringList{QString::fromStdString(file)};
    };
    Press(TActionId::LoadfromFile);
    ASSERT_TRUE(Until([&] { return !window->LoadRun(); }));
    const TChartModel& chart = window->Chart();
    EXPECT_EQ(chart.DisplayUnit(), "0003");
    window->ChartArea()->Chart1()->Refresh(true);
    EXPECT_EQ(window->ChartArea()->Chart1()->yAxis->label(), QStringLiteral("мбар"));
    const auto r = chart.Readings(0, 1);
    ASSERT_EQ(r.size(), 4u) << "the reading in an unknown unit is left out";
    EXPECT_NEAR(r[0].pressure, 1000, 1e-9);
    EXPECT_NEAR(r[1].pressure, 1000, 0.01);
    EXPECT_TRUE(r[2].gapBefore) << "not joined across the reading left out";
    EXPECT_EQ(window->StatusMessage(),
              QStringLiteral("Загружено 5 точек, пропущено 0 строк; "
                             "Показания приведены к единице мбар; "
                             "Не показано показаний в неизвестной единице: 1"));
    EXPECT_LE(chart.PressureAxis().Max(), 1100) << "scaled to the converted readings";
}
