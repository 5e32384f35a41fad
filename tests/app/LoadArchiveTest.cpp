// Loading archives in the window: Start and both loads are disabled while the files are read, and a
// cancelled or refused load leaves the chart and the loaded view as they were.
#include "WindowFixture.h"

#include "ArchiveFormat.h"
#include "ChartModel.h"

#include <fstream>

using namespace vg57;
using namespace vg57::test;

namespace {

class LoadArchive : public WindowFixture {
protected:
    QString Write(const std::string& name, int day, int lines) {
        const std::string path = home.Path() + "/" + name;
        std::ofstream out(path, std::ios::binary);
        for (int i = 0; i < lines; ++i) // one a second from 10:00:00
            out << FormatArchiveLine({2026, 12, day, 10 + i / 3600, i / 60 % 60, i % 60}, i,
                                     "0001");
        out << "not a reading\r\n";
        return QString::fromStdString(path);
    }
    // Runs a load to its end; true when Start and loading were disabled meanwhile.
    bool Load(const QStringList& files, bool cancel = false) {
        window->chooseArchive = [files](const QString&) { return files; };
        Press(TActionId::LoadfromFile);
        const bool locked = window->LoadRun() && !Enabled(TActionId::Start) &&
                            !Enabled(TActionId::LoadfromFile) && !Enabled(TActionId::LoadReference);
        if (cancel && window->LoadRun()) window->LoadRun()->Cancel();
        EXPECT_TRUE(Until([&] { return !window->LoadRun(); }));
        EXPECT_TRUE(Enabled(TActionId::Start) && Enabled(TActionId::LoadfromFile) &&
                    Enabled(TActionId::LoadReference));
        return locked;
    }
    std::vector<double> Times() const {
        std::vector<double> t;
        for (std::size_t i = 0; i < window->Chart().Points().Size(); ++i)
            t.push_back(window->Chart().Points().X(i));
        return t;
    }
};

} // namespace

TEST_F(LoadArchive, aCancelledOrRefusedLoadLeavesTheChartAsItWas) {
    const QString first = Write("2026_12_07 10_00_00.txt", 7, 3);
    EXPECT_TRUE(Load({first}));
    ASSERT_EQ(Times().size(), 3u);
    EXPECT_EQ(window->StatusMessage(), "Загружено 3 точек, пропущено 1 строк");
    const std::vector<double> before = Times();
    const double axisMin = window->Chart().TimeAxis().Min();

    const QString big = Write("2026_12_08 10_00_00.txt", 8, 20000);
    window->maxLoadedReadings = 20002;
    window->Chart().LoadedView = false; // neither may set it
    for (const bool cancel : {true, false}) {
        messages.clear();
        EXPECT_TRUE(Load({big, first}, cancel)) << "no run may begin under a load";
        EXPECT_EQ(messages, cancel ? QStringList{} : QStringList{"Слишком много измерений"});
        EXPECT_EQ(Times(), before);
        EXPECT_EQ(window->Chart().TimeAxis().Min(), axisMin);
        EXPECT_FALSE(window->Chart().LoadedView);
    }
}
