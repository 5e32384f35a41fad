// Several archives loaded together: placed on the dates in their names, in time order, and the
// loads that are refused with nothing kept.
#include "ArchiveFormat.h"
#include "ArchiveLoader.h"
#include "ChartModel.h"
#include "DateTime.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <tuple>
#include <vector>

using namespace vg57;

namespace {

using Files = std::vector<std::pair<const char*, const char*>>; // name, content; chosen in order
using Reading = std::tuple<double, double, std::string>;        // time, pressure, unit code

TLoadResult Load(const test::TempDir& dir, const Files& files, std::vector<std::string>& paths,
                 std::size_t maxReadings = 100) {
    for (const auto& [name, content] : files) {
        paths.push_back(dir.Path() + "/" + name);
        std::ofstream(paths.back(), std::ios::binary) << content;
    }
    TLoadProgress progress;
    TLoadResult r = LoadArchives({paths, maxReadings}, progress);
    if (r.problem.empty()) {
        EXPECT_EQ(progress.bytesRead.load(), progress.bytesTotal.load());
    }
    return r;
}

double Dec(int d, int h, int m, int s, int ms = 0) {
    return MakeDateTime(2026, 12, d, h, m, s, ms);
}

TEST(LoadFiles, readingsGoOnTheDatesInTheFileNamesInTimeOrder) {
    const struct {
        Files files;
        std::vector<Reading> expected;
        std::size_t skipped;
    } rows[] = {
        // Two runs across midnight, chosen in reverse order.
        {{{"2026_12_08 00_00_05.txt", "00:00:05.000 4 0002\r\n"},
          {"2026_12_07 23_59_58.txt", "23:59:58.000 1 0001\r\nbad\r\n00:00:01.000 3 0001\r\n"}},
         {{Dec(7, 23, 59, 58), 1, "0001"},
          {Dec(8, 0, 0, 1), 3, "0001"},
          {Dec(8, 0, 0, 5), 4, "0002"}},
         1},
        // The name was taken just before midnight, the first line just after.
        {{{"2026_12_07 23_59_59.txt", "00:00:00.100 1 0001\r\n"}},
         {{Dec(8, 0, 0, 0, 100), 1, "0001"}},
         0},
        // A file named otherwise stays on day 0 beside a dated one.
        {{{"2026_12_07 10_00_00.txt", "10:00 2 0001\r\n"}, {"run.txt", "12:00 1 \r\n"}},
         {{0.5, 1, ""}, {Dec(7, 10, 0, 0), 2, "0001"}},
         0},
    };
    for (const auto& row : rows) {
        test::TempDir dir;
        std::vector<std::string> paths;
        const TLoadResult r = Load(dir, row.files, paths);
        ASSERT_EQ(r.problem, "") << paths.front();
        std::vector<Reading> got;
        for (std::size_t i = 0; i < r.data.times.size(); ++i)
            got.emplace_back(r.data.times[i], r.data.pressures[i],
                             r.data.unitCodes.at(r.data.units.at(i)));
        ASSERT_EQ(got.size(), row.expected.size()) << paths.front();
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_NEAR(std::get<0>(got[i]), std::get<0>(row.expected[i]), 1e-9) << i;
            EXPECT_EQ(std::tie(std::get<1>(got[i]), std::get<2>(got[i])),
                      std::tie(std::get<1>(row.expected[i]), std::get<2>(row.expected[i])));
        }
        EXPECT_EQ(r.data.Skipped(), row.skipped);
    }
}

TEST(LoadFiles, refusalsNameTheFilesAndKeepNothing) {
    const struct {
        Files files;
        std::size_t maxReadings;
        const char* problem;
        std::vector<int> named; // indices of the files the message or its detail names
    } rows[] = {
        {{{"2026_12_07 10_00_00.txt", "10:00 1 0001\r\n10:10 2 0001\r\n"},
          {"2026_12_07 10_20_00.txt", "10:20 1 0001\r\n"},
          {"2026_12_07 10_05_00.txt", "10:05 1 0001\r\n10:30 2 0001\r\n"}},
         100,
         "Файлы перекрываются по времени",
         {0, 2}},
        {{{"2026_12_07 10_00_00.txt", "10:00 1 0001\r\n"}, {"notes.txt", "hello\r\n"}},
         100,
         "В файле ",
         {1}},
        {{{"a.txt", "10:00 1 0001\r\n10:01 1 0001\r\n"}, {"b.txt", "11:00 1 0001\r\n"}},
         2,
         "Слишком много измерений",
         {}},
    };
    for (const auto& row : rows) {
        test::TempDir dir;
        std::vector<std::string> paths;
        const TLoadResult r = Load(dir, row.files, paths, row.maxReadings);
        EXPECT_EQ(r.problem.rfind(row.problem, 0), 0u) << r.problem;
        for (int i : row.named)
            EXPECT_NE((r.problem + r.detail).find(paths[i]), std::string::npos) << paths[i];
        EXPECT_TRUE(r.data.times.empty());
    }
    for (const char* name : {"2024_02_30 10_00_00.txt", "2024_03_05 24_00_00.txt",
                             "x2024_03_05 14_07_09.txt", "2024-03-05 14_07_09.txt"})
        EXPECT_FALSE(ArchiveNameDateTime(name)) << name;
}

} // namespace

namespace {

TEST(LoadFiles, filesOfSeveralGaugesOfOneRunBecomeOneCurveEach) {
    test::TempDir dir;
    std::vector<std::string> paths;
    // Chosen out of order; the gauges' files overlap in time, as one run's do.
    const TLoadResult r =
        Load(dir,
             {{"2026_12_07 10_00_00 a5.txt", "10:00:00.000 3 0003\r\n10:00:01.000 4 0003\r\n"},
              {"2026_12_07 10_00_00 a1.txt", "10:00:00.000 100 0001\r\nbad\r\n"},
              {"2026_12_07 10_00_03 a1.txt", "10:00:03.000 200 0001\r\n"},
              {"2026_12_07 10_00_00 aB.txt", "10:00:00.500 7 0001\r\n"}},
             paths);
    ASSERT_EQ(r.problem, "");
    ASSERT_EQ(r.gauges.size(), 3u);
    EXPECT_EQ(LoadedReadings(r), 5u);
    EXPECT_EQ(LoadedLinesSkipped(r), 1u);
    TChartModel chart(Dec(7, 9, 0, 0));
    ShowLoadedGauges(chart, TLoadResult(r).gauges);
    ASSERT_EQ(chart.GaugeCount(), 3u);
    const int addresses[] = {1, 5, 11};
    const std::vector<double> pascals[] = {{100, 200}, {300, 400}, {7}};
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(chart.GaugeAddress(k), addresses[k]);
        const TPointStore& s = chart.GaugePoints(k);
        ASSERT_EQ(s.Size(), pascals[k].size()) << k;
        for (std::size_t i = 0; i < s.Size(); ++i)
            EXPECT_DOUBLE_EQ(s.Y(i) * chart.DisplayFactor(s.Unit(i)), pascals[k][i]) << k;
    }
    EXPECT_EQ(chart.DisplayUnit(), "0001") << "the first gauge's unit";
    EXPECT_DOUBLE_EQ(chart.TimeAxis().Min(), Dec(7, 10, 0, 0));
    EXPECT_DOUBLE_EQ(chart.TimeAxis().Max(), Dec(7, 10, 0, 3));

    // One gauge's own files still may not overlap.
    std::vector<std::string> more;
    test::TempDir dir2;
    EXPECT_EQ(Load(dir2,
                   {{"2026_12_07 10_00_00 a1.txt", "10:00:00 1 0001\r\n10:00:09 1 0001\r\n"},
                    {"2026_12_07 10_00_05 a1.txt", "10:00:05 1 0001\r\n"},
                    {"2026_12_07 10_00_00 a2.txt", "10:00:00 1 0001\r\n"}},
                   more)
                  .problem.rfind("Файлы перекрываются", 0),
              0u);
}

} // namespace
