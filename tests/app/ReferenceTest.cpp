// The reference curve in the window against the simulator: loaded beside a running measurement,
// laid at the run's first reading, read out, moved by the context menu, refused in an unknown unit.
#include "WindowFixture.h"

#include "ArchiveFormat.h"
#include "ChartArea.h"
#include "ChartTools.h"
#include "DateTime.h"
#include "PressureChart.h"

#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QTimer>

#include <fstream>

using namespace vg57;
using namespace vg57::test;

namespace {

class Reference : public WindowFixture {
protected:
    // Loads a minute at a constant 1E-3 Pa; true when neither load could start meanwhile.
    bool Load(const std::string& name, const char* unit, bool stopMeanwhile = false) {
        const std::string path = home.Path() + "/" + name;
        std::ofstream out(path, std::ios::binary);
        for (int i = 0; i < 60; ++i)
            out << FormatArchiveLine({2026, 11, 1, 9, 0, i}, 0.001, unit);
        out.close();
        window->chooseArchive = [path](const QString&) {
            return QStringList{QString::fromStdString(path)};
        };
        Press(TActionId::LoadReference);
        if (stopMeanwhile) Press(TActionId::Stop);
        const bool locked = window->LoadRun() && !Enabled(TActionId::LoadReference) &&
                            !Enabled(TActionId::LoadfromFile);
        EXPECT_TRUE(Until([&] { return !window->LoadRun(); }));
        return locked;
    }
    int X(double t) const {
        return int(std::lround(Chart()->xAxis->coordToPixel(t * kSecondsPerDay)));
    }
    TPressureChart* Chart() const { return window->ChartArea()->Chart1(); }
    const TReferenceCurve& Curve() const { return window->Chart().Reference(); }
};

} // namespace

TEST_F(Reference, loadedWhileMeasuringItLiesUnderTheRunAndMovesByTheMenu) {
    window->MeasureTimer.setInterval(60);
    window->show();
    sim->Command("pressure 0.002");
    Press(TActionId::Start);
    ASSERT_TRUE(Until([&] { return window->Chart().Points().Size() >= 3; }));
    const double runFirst = window->Chart().Points().X(0);

    EXPECT_TRUE(Load("2026_11_01 09_00_00.txt", "0001"));
    EXPECT_TRUE(window->Cycle().Measuring());
    EXPECT_EQ(Curve().Origin(), runFirst);
    // The run's readings sit at the axis's right end: the cursor stands just inside it.
    window->ChartTools()->UpdateReadout(QPoint(X(runFirst) - 3, Chart()->axisRect()->center().y()));
    EXPECT_TRUE(window->ChartTools()->Readout()->text().endsWith(
        QStringLiteral("0.002 Па   эталон 1E-3 Па, ×2")));

    // A menu runs its own loop: the action is chosen in it.
    const int x = Chart()->axisRect()->center().x();
    QTimer::singleShot(0, [] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_TRUE(menu);
        for (QAction* a : menu->actions())
            if (a->text() == QStringLiteral("Сдвинуть эталон сюда")) a->trigger();
        menu->close();
    });
    QContextMenuEvent click(QContextMenuEvent::Mouse, {x, 50}, Chart()->mapToGlobal(QPoint(x, 50)));
    QApplication::sendEvent(Chart(), &click);
    EXPECT_EQ(X(Curve().Origin()), x);

    const double origin = Curve().Origin();
    EXPECT_TRUE(Load("2026_11_01 09_10_00.txt", "0007", true));
    EXPECT_TRUE(Enabled(TActionId::LoadfromFile)) << "the Stop under the load is kept";
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("«0007»")));
    EXPECT_EQ(Curve().Origin(), origin);
    window->RemoveReferenceAction()->trigger();
    EXPECT_TRUE(Until([&] { return Curve().Empty(); }));
}
