// Several gauges in the window, as far as a load of their files shows them: one curve each, the
// panel's selector and the table of their states, and a click choosing the gauge.
#include "WindowFixture.h"

#include "ArchiveFormat.h"
#include "ChartArea.h"
#include "ChartModel.h"
#include "DateTime.h"
#include "GaugeStates.h"
#include "GaugeTable.h"
#include "ValuePanel.h"

#include <QComboBox>
#include <QMenu>
#include <QTest>

#include <fstream>

using namespace vg57;
using namespace vg57::test;

namespace {

TEST(GaugeRows, aRowIsGreyWhenItsGaugeIsNotCurrent) {
    const double now = MakeDateTime(2026, 12, 7, 10, 0, 30);
    const struct {
        TGaugeState gauge;
        TGaugeRow row;
    } rows[] = {
        {{1, true, 0.00012, "0003", now - 0.4 / 86400, EGaugeState::answering},
         {"1", "0.00012 мбар", "0 с", "отвечает", false}},
        {{10, true, 5, "0001", now - 12.0 / 86400, EGaugeState::answering},
         {"A", "5 Па", "12 с", "отвечает", true}},
        {{2, true, 5, "0001", now - 1.0 / 86400, EGaugeState::silent},
         {"2", "5 Па", "1 с", "не отвечает", true}},
        {{3, true, 5, "0002", now + 5.0 / 86400, EGaugeState::adapterGone},
         {"3", "5 Торр", "0 с", "адаптер отключён", true}},
        {{4, false, 0, "", 0, EGaugeState::answering}, {"4", "—", "", "отвечает", true}},
        // A file tells no link state: only its reading's age greys it.
        {{6, true, 7, "0001", now - 1.0 / 86400, EGaugeState::fromFile},
         {"6", "7 Па", "1 с", "из файла", false}},
        {{7, true, 7, "0001", now - 1.0 / 86400, EGaugeState::stopped},
         {"7", "7 Па", "1 с", "не измеряется", true}},
    };
    for (const auto& r : rows) {
        const TGaugeRow got = GaugeRow(r.gauge, now, 1.5);
        EXPECT_EQ(std::tie(got.address, got.pressure, got.age, got.state, got.grey),
                  std::tie(r.row.address, r.row.pressure, r.row.age, r.row.state, r.row.grey));
    }
}

class Gauges : public WindowFixture {
protected:
    // Gauge `address` of a run from 10:00:00, one reading a second at `base` Pa and up.
    QString Write(int address, int lines, double base) {
        const std::string path =
            home.Path() + "/2026_12_07 10_00_00 a" + std::to_string(address) + ".txt";
        std::ofstream out(path, std::ios::binary);
        for (int i = 0; i < lines; ++i)
            out << FormatArchiveLine({2026, 12, 7, 10, 0, i}, base + i, "0001");
        return QString::fromStdString(path);
    }
};

TEST_F(Gauges, aLoadOfThreeGaugesShowsThreeCurvesAndAClickChoosesOne) {
    window->chooseArchive = [this](const QString&) {
        return QStringList{Write(5, 3, 300), Write(1, 40, 100), Write(2, 40, 200)};
    };
    window->show();
    Press(TActionId::ConnectionSetup); // a live value on the panel first
    ASSERT_NE(window->ValuePanel()->PressureText()->text(), TValuePanel::kNoData);
    Press(TActionId::LoadfromFile);
    ASSERT_TRUE(Until([&] { return !window->LoadRun(); }));
    TChartModel& chart = window->Chart();
    ASSERT_EQ(chart.GaugeCount(), 3u);
    TPressureChart* plot = window->ChartArea()->Chart1();
    plot->Refresh(true);
    EXPECT_TRUE(plot->legend->visible());
    EXPECT_EQ(plot->GaugeLine(2)->name(), "Адрес 5");
    for (int k = 0; k < 3; ++k) // in the gauges' order
        EXPECT_EQ(qobject_cast<QCPPlottableLegendItem*>(plot->legend->item(k))->plottable(),
                  plot->GaugeLine(static_cast<std::size_t>(k)));
    EXPECT_LE(chart.PressureAxis().Min(), 100);
    EXPECT_GE(chart.PressureAxis().Max(), 302) << "automatic scaling spans every gauge";

    TValuePanel* panel = window->ValuePanel();
    EXPECT_TRUE(panel->GaugeSelector()->isVisible());
    ASSERT_EQ(panel->GaugeTable()->rowCount(), 3);
    EXPECT_EQ(panel->GaugeTable()->item(0, 3)->text(), "из файла") << "a file tells no link state";
    // The large value is the chosen file's last reading, never the live line's.
    EXPECT_EQ(panel->PressureText()->text(), "139 Па");
    EXPECT_TRUE(panel->ValueGreyed());
    EXPECT_EQ(panel->Caption()->text(), "Последнее в файле");
    // Gauge 5's last reading is 37 s older than the others': grey, with its age.
    EXPECT_EQ(panel->GaugeTable()->item(2, 2)->text(), "37 с");
    EXPECT_EQ(panel->GaugeTable()->item(2, 0)->foreground().color(), QColor(Qt::gray));
    EXPECT_NE(panel->GaugeTable()->item(0, 0)->foreground().color(), QColor(Qt::gray));

    emit panel->GaugeSelector()->activated(2);
    EXPECT_EQ(chart.ChosenGauge(), 2u);
    EXPECT_EQ(chart.Points().Size(), 3u) << "the tools read gauge 5's readings";
    EXPECT_EQ(panel->PressureText()->text(), "302 Па");

    // A click on gauge 2's curve, where its reading of 10:00:20 is drawn.
    plot->Refresh(true);
    const QPoint at(
        qRound(plot->xAxis->coordToPixel(MakeDateTime(2026, 12, 7, 10, 0, 20) * kSecondsPerDay)),
        qRound(plot->yAxis->coordToPixel(220)));
    QTest::mouseClick(plot, Qt::LeftButton, {}, at);
    EXPECT_EQ(chart.ChosenGauge(), 1u);
    EXPECT_EQ(panel->GaugeSelector()->currentIndex(), 1);

    plot->LegendAction()->setChecked(false);
    EXPECT_TRUE(plot->LegendAction()->isVisible());
    EXPECT_FALSE(plot->legend->visible()) << "hidden from the context menu";
}

} // namespace
