// Reading archives back into the chart: every line rule, the time span, runs across midnight,
// and files that cannot be read. Files are real files in a temporary folder.
#include "ArchiveFormat.h"
#include "ArchiveLoader.h"
#include "ChartModel.h"
#include "DateTime.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
#include <utility>
#include <vector>

using namespace vg57;
using namespace std::string_literals;

namespace {

using Points = std::vector<std::pair<double, double>>;

double Tod(int h, int m, int s, int ms = 0) {
    return MakeDateTime(1899, 12, 30, h, m, s, ms);
}
// The day after, in whole milliseconds as the reader gives it (one exact time per reading).
double NextDay(int h, int m, int s, int ms = 0) {
    return DaysOf(MakeLocalMs(1899, 12, 31, h, m, s, ms));
}

std::string WriteFile(const test::TempDir& dir, const std::string& content) {
    const std::string path = dir.Path() + "/archive.txt";
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

Points PointsOf(const TChartModel& m) {
    Points p;
    for (std::size_t i = 0; i < m.Points().Size(); ++i)
        p.emplace_back(m.Points().X(i), m.Points().Y(i));
    return p;
}

const std::string k100(100, '1');
const std::string k99 = std::string(98, '0') + "1";

struct LoadCase {
    const char* name;
    std::string content;
    Points expected; // in the chart's order
};

const LoadCase kLoadCases[] = {
    {"aWrittenLineLoadsAsItsTimeOnDayZero",
     "12:00:01.250 760 0001\r\n",
     {{Tod(12, 0, 1, 250), 760}}},
    {"lineFeedAloneEndsALine",
     "12:00:01.250 760 0001\n12:00:02.000 761 0001\n",
     {{Tod(12, 0, 1, 250), 760}, {Tod(12, 0, 2), 761}}},
    {"aLastLineWithoutLineEndCounts", "12:00:01.250 760 0001", {{Tod(12, 0, 1, 250), 760}}},
    {"noSpaceAfterThePressureIsSkipped", "12:00:01.250 760\r\n12:00:01.250 760\n", {}},
    {"anEmptyUnitCodeIsAccepted", "12:00:01.250 760 \r\n", {{Tod(12, 0, 1, 250), 760}}},
    // A full disk cut the line inside its unit: no unit "0", no reading.
    {"aUnitCodeOfOtherThanFourCharactersIsALineCutShort",
     "14:00:00.000 0.0001 0001\r\n14:00:01.000 0.00011 0\r\n14:00:02.000 0.00012 00012\r\n",
     {{Tod(14, 0, 0), 1e-4}}},
    {"aDecimalCommaIsSkipped", "12:00:01.250 7,6E2 0001\r\n", {}},
    // Negative, however small: "-1e-3012" is no double but still no pressure.
    {"aNegativePressureIsSkippedEvenBelowADoubles",
     "12:00:01.000 -1e-3012 0001\r\n12:00:02.000 -0.5 0001\r\n12:00:03.000 1e-3012 0001\r\n",
     {{Tod(12, 0, 3), 0}}},
    {"aLetterAfterTheMillisecondsIsSkipped", "12:00:01.250x 760 0001\r\n", {}},
    {"emptyAndBlankLinesAreSkipped", "\r\n\n \r\n  760 0001\r\n", {}},
    {"ninetyNineCharactersAndASpaceFitTheWindow",
     "12:00:00.000 " + k99 + " 0001\r\n",
     {{Tod(12, 0, 0), 1}}},
    {"aPressureReachingPastTheWindowIsSkipped", "12:00:00.000 " + k100 + " 0001\r\n", {}},
    {"linesOutOfOrderLoadSortedAndEqualTimesKeepFileOrder",
     "12:00:02.000 3 0001\r\n12:00:01.000 1 0001\r\n12:00:02.000 4 0001\r\n"
     "12:00:01.000 2 0001\r\n",
     {{Tod(12, 0, 1), 1}, {Tod(12, 0, 1), 2}, {Tod(12, 0, 2), 3}, {Tod(12, 0, 2), 4}}},
    {"theOptionalPartsOfATimeMayBeLeftOut",
     "7 1 0001\r\n7:05 2 0001\r\n7:05:09 3 0001\r\n7:05:09.5 4 0001\r\n",
     {{Tod(7, 0, 0), 1}, {Tod(7, 5, 0), 2}, {Tod(7, 5, 9), 3}, {Tod(7, 5, 9, 5), 4}}},
    {"anAmPmMarkerBeforeOrAfterIsHonoured",
     "am12:30 2 0001\r\n12:00:00.000pm 3 0001\r\n1:00PM 1 0001\r\n",
     {{Tod(0, 30, 0), 2}, {Tod(12, 0, 0), 3}, {Tod(13, 0, 0), 1}}},
    {"timesOutOfRangeAreSkipped",
     "24:00 1 0001\r\n12:60 1 0001\r\n12:00:60 1 0001\r\n12:00:00.1000 1 0001\r\n"
     "13:00PM 1 0001\r\nAMPM1 1 0001\r\n12:: 1 0001\r\n:30 1 0001\r\n12:00. 1 0001\r\n",
     {}},
    {"aShortDateCarriesItsDate",
     "05.03.2024 1.5 0001\r\n31.02.2024 1 0001\r\n",
     {{MakeDateTime(2024, 3, 5), 1.5}}},
    // A negative pressure is no reading the gauge can give: malformed.
    {"numbersWithSignExponentAndBarePoint",
     "1 +1.5e-3 0001\r\n2 -2 0001\r\n3 .5 0001\r\n4 5. 0001\r\n5 1.2E-5 0002\r\n",
     {{Tod(1, 0, 0), 1.5e-3}, {Tod(3, 0, 0), 0.5}, {Tod(4, 0, 0), 5}, {Tod(5, 0, 0), 1.2e-5}}},
    {"numbersTheChartCannotHoldOrThatAreNoNumbersAreSkipped",
     "1 1E999 0001\r\n1 inf 0001\r\n1 nan 0001\r\n1 0x10 0001\r\n1 1e 0001\r\n1 . 0001\r\n"
     "1 - 0001\r\n",
     {}},
    {"aNulInTheLineIsJustAnotherCharacter",
     "12:00:00.000 76\0 0001\r\n12:00:00.000 7 0\0\0\0\r\n"s,
     {{Tod(12, 0, 0), 7}}},
    {"aHugeLineIsSkippedAndTheNextOneReads",
     std::string(200000, '9') + " 1 0001\r\n12:00:00.000 " + std::string(200000, '2') +
         "\n12:00:00.000 3 0001\r\n",
     {{Tod(12, 0, 0), 3}}},
    {"aRunAcrossMidnightGoesOnToTheNextDay",
     "23:59:59.500 1 0001\r\n23:59:59.000 0 0001\r\n00:00:00.000 2 0001\r\n"
     "00:00:01.000 3 0001\r\n12:30 4 0001\r\n",
     {{Tod(23, 59, 59), 0},
      {Tod(23, 59, 59, 500), 1},
      {NextDay(0, 0, 0), 2},
      {NextDay(0, 0, 1), 3},
      {NextDay(12, 30, 0), 4}}},
    {"aLongGapAfterMidnightStaysOnItsDay",
     "23:00 1 0001\r\n01:00 2 0001\r\n14:00 3 0001\r\n",
     {{Tod(23, 0, 0), 1}, {NextDay(1, 0, 0), 2}, {NextDay(14, 0, 0), 3}}},
    {"aClockSetBackAcrossMidnightKeepsTimeOrder",
     "23:59:59.900 1 0001\r\n00:00:00.100 2 0001\r\n23:59:59.950 3 0001\r\n"
     "00:00:00.300 4 0001\r\n",
     {{Tod(23, 59, 59, 900), 1},
      {Tod(23, 59, 59, 950), 3},
      {NextDay(0, 0, 0, 100), 2},
      {NextDay(0, 0, 0, 300), 4}}},
    {"goingBackTwelveHoursExactlyStaysOnTheSameDay",
     "23:00 1 0001\r\n11:00 2 0001\r\n23:00 3 0001\r\n10:59:59 4 0001\r\n",
     {{Tod(11, 0, 0), 2}, {Tod(23, 0, 0), 1}, {Tod(23, 0, 0), 3}, {NextDay(10, 59, 59), 4}}},
    {"noAcceptedLineIsRefused", "garbage\r\n", {}},
    {"anEmptyFileIsRefused", "", {}},
};

void PrintTo(const LoadCase& c, std::ostream* os) {
    *os << c.name;
}

class LoadArchive : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadArchive, pointsSpanAndAxesAreAsTheLinesSay) {
    const LoadCase& c = GetParam();
    test::TempDir dir;
    TChartModel chart(MakeDateTime(2026, 1, 1));
    chart.Points().Add(MakeDateTime(2026, 1, 1), 5); // a live point the load replaces
    int changes = 0;
    chart.changed = [&] { ++changes; };

    const std::string path = WriteFile(dir, c.content);
    if (c.expected.empty()) {
        // Nothing to show is a refusal, not an empty chart on a made-up day.
        EXPECT_EQ(LoadArchiveFile(path, chart),
                  "В файле " + path + " нет ни одной строки с измерением");
        EXPECT_EQ(PointsOf(chart), (Points{{MakeDateTime(2026, 1, 1), 5}}));
        EXPECT_EQ(changes, 0);
    } else {
        EXPECT_EQ(LoadArchiveFile(path, chart), "");
        EXPECT_EQ(PointsOf(chart), c.expected);
        EXPECT_GE(changes, 1);
        const double lo = c.expected.front().first, hi = c.expected.back().first;
        EXPECT_EQ(chart.ViewStart, lo);
        EXPECT_EQ(chart.ViewEnd, hi);
        EXPECT_EQ(chart.TimeAxis().Min(), lo);
        EXPECT_EQ(chart.TimeAxis().Max(), hi - lo < 1e-10 ? lo + 1e-10 : hi);
        EXPECT_FALSE(chart.TimeAxis().Automatic());
    }

    // The same bytes in small pieces: a line cut by a read boundary reads the same.
    for (std::size_t piece : {1, 3, 7}) {
        TArchiveReader reader;
        const std::string_view all = c.content;
        for (std::size_t at = 0; at < all.size(); at += piece) {
            reader.Feed(all.substr(at, piece));
            ASSERT_LE(reader.Pending(), kArchiveLineExamined);
        }
        reader.Finish();
        TChartModel again(0);
        again.LoadArchive(reader.Data().times, reader.Data().pressures, reader.Data().tmin,
                          reader.Data().tmax);
        EXPECT_EQ(PointsOf(again), c.expected) << "in pieces of " << piece;
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, LoadArchive, ::testing::ValuesIn(kLoadCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LoadArchive, theAutomaticPressureRangeFollowsTheLoadedPoints) {
    test::TempDir dir;
    TChartModel chart(0);
    chart.Points().Add(0, 1e5);
    chart.UpdateAutomaticRange();
    ASSERT_EQ(LoadArchiveFile(WriteFile(dir, "1 2E-3 0001\r\n2 7E-4 0001\r\n"), chart), "");
    // The span 7E-4 .. 2E-3 with 5 % of it on each side.
    EXPECT_DOUBLE_EQ(chart.PressureAxis().Min(), 7e-4 - 0.05 * 1.3e-3);
    EXPECT_DOUBLE_EQ(chart.PressureAxis().Max(), 2e-3 + 0.05 * 1.3e-3);
}

TEST(LoadArchive, aFileThatCannotBeReadLeavesTheChartAndSaysWhy) {
    test::TempDir dir;
    const std::string fifo = dir.Path() + "/pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::string, std::string> cases[] = {
        {dir.Path() + "/missing.txt", "No such file or directory"},
        {dir.Path(), "Is a directory"},
        {fifo, "не обычный файл"}, // would block in open() or never end
    };
    for (const auto& [path, reason] : cases) {
        SCOPED_TRACE(path);
        TChartModel chart(MakeDateTime(2026, 1, 1));
        chart.Points().Add(MakeDateTime(2026, 1, 1), 5);
        const double viewStart = chart.ViewStart, viewEnd = chart.ViewEnd;
        const double axisMin = chart.TimeAxis().Min(), axisMax = chart.TimeAxis().Max();
        int changes = 0;
        chart.changed = [&] { ++changes; };

        EXPECT_EQ(LoadArchiveFile(path, chart), path + ": " + reason);
        EXPECT_EQ(PointsOf(chart), (Points{{MakeDateTime(2026, 1, 1), 5}}));
        EXPECT_EQ(chart.ViewStart, viewStart);
        EXPECT_EQ(chart.ViewEnd, viewEnd);
        EXPECT_EQ(chart.TimeAxis().Min(), axisMin);
        EXPECT_EQ(chart.TimeAxis().Max(), axisMax);
        EXPECT_EQ(changes, 0);
    }
}

// ---- what the writer writes, read back ----

TEST(ArchiveFormat, aLineReadsBackAsItsTimeAndPressure) {
    const struct {
        TLocalTime t;
        long double pressure;
        const char* unit;
        const char* line;
    } cases[] = {
        {{2024, 3, 5, 14, 7, 9, 512}, 1.2e-5L, "0002", "14:07:09.512 1.2E-5 0002\r\n"},
        {{2024, 3, 5, 0, 0, 0, 0}, 760, "0001", "00:00:00.000 760 0001\r\n"},
        {{2024, 3, 5, 23, 59, 59, 999}, 0.0012L, "0003", "23:59:59.999 0.0012 0003\r\n"},
        {{2024, 3, 5, 9, 5, 3, 7}, 5e20L, "", "09:05:03.007 5E20 \r\n"},
    };
    for (const auto& c : cases) {
        const std::string line = FormatArchiveLine(c.t, c.pressure, c.unit);
        EXPECT_EQ(line, c.line);
        const auto back = ParseArchiveLine(std::string_view(line).substr(0, line.size() - 1));
        ASSERT_TRUE(back) << line;
        EXPECT_EQ(back->time.value, Tod(c.t.hour, c.t.minute, c.t.second, c.t.millisecond));
        EXPECT_EQ(back->pressure, static_cast<double>(c.pressure));
        EXPECT_EQ(back->unitCode, c.unit);
    }
}

TEST(ArchiveFormat, aDateTimeSplitsIntoTheNameAndTimeItWasTaken) {
    const struct {
        double dateTime;
        const char* name;
        int ms;
    } cases[] = {
        {MakeDateTime(2024, 3, 5, 14, 7, 9, 512), "2024_03_05 14_07_09.txt", 512},
        {MakeDateTime(2024, 2, 29, 0, 0, 0, 0), "2024_02_29 00_00_00.txt", 0},
        {MakeDateTime(1999, 12, 31, 23, 59, 59, 999), "1999_12_31 23_59_59.txt", 999},
        // Less than half a millisecond before midnight belongs to the next day.
        {MakeDateTime(2023, 12, 31, 23, 59, 59, 999) + 0.6 / 86400000.0, "2024_01_01 00_00_00.txt",
         0},
        {MakeDateTime(2100, 3, 1, 6, 30, 0, 1), "2100_03_01 06_30_00.txt", 1},
    };
    for (const auto& c : cases) {
        const TLocalTime t = LocalTimeOf(c.dateTime);
        EXPECT_EQ(ArchiveFileName(t), c.name);
        EXPECT_EQ(t.millisecond, c.ms) << c.name;
        // The loader reads the name back, to the second.
        EXPECT_NEAR(ArchiveNameDateTime(std::string("/a/") + c.name).value_or(0),
                    c.dateTime - c.ms / 86400000.0, 1e-8)
            << c.name;
    }
}

TEST(ArchiveFormat, aGaugeOfSeveralOnALineIsReadBackFromItsFileName) {
    const TLocalTime t = LocalTimeOf(MakeDateTime(2024, 3, 5, 14, 7, 9, 512));
    EXPECT_EQ(ArchiveFileName(t, '5'), "2024_03_05 14_07_09 a5.txt");
    const struct {
        const char* name;
        std::optional<char> address;
        bool dated;
    } rows[] = {
        {"/a/2024_03_05 14_07_09 a5.txt", '5', true},
        {"2024_03_05 14_07_09 aF.txt", 'F', true},
        {"/a/2024_03_05 14_07_09.txt", std::nullopt, true},
        {"2024_03_05 14_07_09 aG.txt", std::nullopt, false},
        {"2024_03_05 14_07_09 a55.txt", std::nullopt, false},
        {"2024_03_05 14_07_09_a5.txt", std::nullopt, false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ArchiveNameAddress(row.name), row.address) << row.name;
        const auto date = ArchiveNameDateTime(row.name);
        EXPECT_EQ(date.has_value(), row.dated) << row.name;
        if (date) {
            EXPECT_NEAR(*date, MakeDateTime(2024, 3, 5, 14, 7, 9, 0), 1e-8) << row.name;
        }
    }
}

} // namespace
