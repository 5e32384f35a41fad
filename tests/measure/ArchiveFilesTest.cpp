// Several archives loaded together: placed on the dates in their names, in time order, and the
// loads that must be refused before anything is replaced.
#include "ArchiveFormat.h"
#include "ArchiveLoader.h"
#include "DateTime.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <utility>
#include <vector>

using namespace vg57;

namespace {

struct File {
    const char* name;
    const char* content;
};

struct FilesCase {
    const char* name;
    std::vector<File> files; // chosen in this order
    std::size_t maxReadings;
    // Loaded: (time, pressure, unit code) in the chart's order, and the skipped lines.
    std::vector<std::tuple<double, double, std::string>> expected;
    std::size_t skipped;
    // Refused: the message starts with this; the detail names these files (by index).
    const char* problem;
    std::vector<int> named;
};

double At(int d, int h, int m, int s, int ms = 0) {
    return MakeDateTime(2026, 12, d, h, m, s, ms);
}
double Tod(int h, int m) {
    return MakeDateTime(1899, 12, 30, h, m);
}

const FilesCase kCases[] = {
    {"twoDatedFilesAcrossMidnightLoadInTimeOrder",
     {{"2026_12_08 00_00_05.txt", "00:00:05.000 4 0002\r\n"},
      {"2026_12_07 23_59_58.txt",
       "23:59:58.000 1 0001\r\n23:59:59.500 2 0001\r\nbad\r\n00:00:01.000 3 0001\r\n"}},
     100,
     {{At(7, 23, 59, 58), 1, "0001"},
      {At(7, 23, 59, 59, 500), 2, "0001"},
      {At(8, 0, 0, 1), 3, "0001"},
      {At(8, 0, 0, 5), 4, "0002"}},
     1,
     nullptr,
     {}},
    {"aNameTakenJustBeforeMidnightPutsALineAfterItOnTheNextDay",
     {{"2026_12_07 23_59_59.txt", "00:00:00.100 1 0001\r\n"}},
     100,
     {{At(8, 0, 0, 0, 100), 1, "0001"}},
     0,
     nullptr,
     {}},
    {"anUndatedFileGoesOnDayZeroBesideADatedOne",
     {{"2026_12_07 10_00_00.txt", "10:00 2 0001\r\n"}, {"run.txt", "12:00 1 \r\n"}},
     100,
     {{Tod(12, 0), 1, ""}, {At(7, 10, 0, 0), 2, "0001"}},
     0,
     nullptr,
     {}},
    {"overlappingFilesAreRefusedByName",
     {{"2026_12_07 10_00_00.txt", "10:00 1 0001\r\n10:10 2 0001\r\n"},
      {"2026_12_07 10_20_00.txt", "10:20 1 0001\r\n"},
      {"2026_12_07 10_05_00.txt", "10:05 1 0001\r\n10:30 2 0001\r\n"}},
     100,
     {},
     0,
     "Файлы перекрываются по времени",
     {0, 2}},
    {"aFileWithoutAReadingIsRefusedByName",
     {{"2026_12_07 10_00_00.txt", "10:00 1 0001\r\n"}, {"notes.txt", "hello\r\n"}},
     100,
     {},
     0,
     "В файле ",
     {1}},
    {"moreReadingsThanTheLimitAreRefused",
     {{"2026_12_07 10_00_00.txt", "10:00 1 0001\r\n10:01 1 0001\r\n"},
      {"2026_12_07 11_00_00.txt", "11:00 1 0001\r\n11:01 1 0001\r\n"}},
     3,
     {},
     0,
     "Слишком много измерений",
     {}},
};

void PrintTo(const FilesCase& c, std::ostream* os) {
    *os << c.name;
}

class LoadFiles : public ::testing::TestWithParam<FilesCase> {};

TEST_P(LoadFiles, readingsAreOnTheirDatesOrRefused) {
    const FilesCase& c = GetParam();
    test::TempDir dir;
    TLoadRequest request;
    request.maxReadings = c.maxReadings;
    for (const File& f : c.files) {
        request.paths.push_back(dir.Path() + "/" + f.name);
        std::ofstream(request.paths.back(), std::ios::binary) << f.content;
    }
    TLoadProgress progress;
    const TLoadResult r = LoadArchives(request, progress);
    EXPECT_FALSE(r.cancelled);
    if (c.problem) {
        EXPECT_EQ(r.problem.rfind(c.problem, 0), 0u) << r.problem;
        for (int i : c.named)
            EXPECT_NE((r.problem + r.detail).find(request.paths[i]), std::string::npos);
        EXPECT_TRUE(r.data.times.empty());
        return;
    }
    ASSERT_EQ(r.problem, "");
    std::vector<std::tuple<double, double, std::string>> got;
    for (std::size_t i = 0; i < r.data.times.size(); ++i)
        got.emplace_back(r.data.times[i], r.data.pressures[i],
                         r.data.unitCodes.at(r.data.units.at(i)));
    ASSERT_EQ(got.size(), c.expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_NEAR(std::get<0>(got[i]), std::get<0>(c.expected[i]), 1e-9) << i;
        EXPECT_EQ(std::get<1>(got[i]), std::get<1>(c.expected[i])) << i;
        EXPECT_EQ(std::get<2>(got[i]), std::get<2>(c.expected[i])) << i;
    }
    EXPECT_EQ(r.data.Skipped(), c.skipped);
    EXPECT_EQ(progress.bytesRead.load(), progress.bytesTotal.load());
}

INSTANTIATE_TEST_SUITE_P(Archives, LoadFiles, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ArchiveName, onlyTheWrittenFormWithAPossibleDateCarriesOne) {
    for (const char* name :
         {"2024_02_30 10_00_00.txt", "2024_03_05 14_07_09.TXT", "x2024_03_05 14_07_09.txt",
          "2024_03_05 24_00_00.txt", "2024_03_05 14_07_09.txt.bak", "2024-03-05 14_07_09.txt"})
        EXPECT_FALSE(ArchiveNameDateTime(name)) << name;
}

} // namespace
