// Loading archives in the window: the load runs beside the event loop with Start and loading
// disabled, and a cancelled or refused load leaves the chart and the loaded view as they were.
#include "WindowFixture.h"

#include "ArchiveFormat.h"
#include "ChartModel.h"

#include <fstream>

using namespace vg57;
using namespace vg57::test;

namespace {

class LoadArchive : public WindowFixture {
protected:
    std::string Write(const std::string& name, int lines) {
        const std::string path = home.Path() + "/" + name;
        std::ofstream out(path, std::ios::binary);
        for (int i = 0; i < lines; ++i) // two a second from 10:10:10
            out << FormatArchiveLine(
                {2026, 12, 7, 10 + i / 7200, 10 + i / 120 % 50, 10 + i / 2 % 50, i % 2 * 500},
                i + 1, "0001");
        out << "not a reading\r\n";
        return path;
    }
    // Chooses the files, starts the load and reports whether Start and loading were disabled
    // meanwhile; the load has ended on return.
    bool Load(const QStringList& files, bool cancel = false) {
        window->chooseArchive = [files] { return files; };
        Press(TActionId::LoadfromFile);
        const bool locked =
            window->LoadRun() && !Enabled(TActionId::Start) && !Enabled(TActionId::LoadfromFile);
        if (cancel && window->LoadRun()) window->LoadRun()->Cancel();
        EXPECT_TRUE(Until([&] { return !window->LoadRun(); }));
        EXPECT_TRUE(Enabled(TActionId::Start) && Enabled(TActionId::LoadfromFile));
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
    const QString first = QString::fromStdString(Write("2026_12_07 10_10_10.txt", 3));
    EXPECT_TRUE(Load({first}));
    ASSERT_EQ(Times().size(), 3u);
    EXPECT_TRUE(window->Chart().LoadedView);
    EXPECT_EQ(window->StatusMessage(), "Загружено 3 точек, пропущено 1 строк");
    const std::vector<double> before = Times();
    const double axisMin = window->Chart().TimeAxis().Min();

    const QString big = QString::fromStdString(Write("2026_12_08 10_10_10.txt", 20000));
    window->maxLoadedReadings = 19999;
    window->Chart().LoadedView = false; // a refusal must not set it either
    const struct {
        const char* name;
        bool cancel;
        const char* message;
    } rows[] = {{"cancelled", true, nullptr}, {"overTheLimit", false, "Слишком много измерений"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        messages.clear();
        EXPECT_TRUE(Load({big, first}, r.cancel)) << "no run may begin under a load";
        EXPECT_EQ(messages, r.message ? QStringList{r.message} : QStringList{});
        EXPECT_EQ(Times(), before);
        EXPECT_EQ(window->Chart().TimeAxis().Min(), axisMin);
        EXPECT_FALSE(window->Chart().LoadedView);
    }
}
