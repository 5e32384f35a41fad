// Wall-clock times and instants across both summer-time changes of Europe/Berlin, whatever the
// machine's own zone: a run written by the real writer as the clock shows it, loaded, analysed
// and exported.
#include "CivilTime.h"
#include "ArchiveLoader.h"
#include "ArchiveWriter.h"
#include "CsvExport.h"
#include "DateTime.h"
#include "LeakRate.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <QDateTime>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace vg57;

namespace {

const QTimeZone kBerlin("Europe/Berlin");

std::int64_t Utc(int month, int day, int h, int m, int s = 0) {
    return QDateTime(QDate(2026, month, day), QTime(h, m, s), Qt::UTC).toMSecsSinceEpoch();
}

std::vector<std::string> Sorted(const std::string& folder) {
    std::vector<std::string> paths;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        paths.push_back(e.path().string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

TEST(CivilTime, aWallClockTimeNamesTheInstantsTheZoneGivesIt) {
    TZoneRules zone(kBerlin);
    const auto local = [](int month, int day, int h, int m) {
        return MakeLocalMs(2026, month, day, h, m);
    };
    const struct {
        const char* name;
        std::int64_t local, first, second;
        bool ambiguous;
    } rows[] = {
        {"winter", local(12, 7, 14, 0), Utc(12, 7, 13, 0), Utc(12, 7, 13, 0), false},
        {"summer", local(7, 1, 14, 0), Utc(7, 1, 12, 0), Utc(7, 1, 12, 0), false},
        // Skipped in spring: read as if the clock had not moved on.
        {"skippedHour", local(3, 29, 2, 30), Utc(3, 29, 1, 30), Utc(3, 29, 1, 30), false},
        {"repeatedHour", local(10, 25, 2, 30), Utc(10, 25, 0, 30), Utc(10, 25, 1, 30), true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const TZoneRules::TCandidates c = zone.InstantsOf(row.local);
        EXPECT_EQ(c.first, row.first);
        EXPECT_EQ(c.second, row.second);
        EXPECT_EQ(c.ambiguous, row.ambiguous);
        // And back, but for a time the clock never showed.
        if (row.local != local(3, 29, 2, 30)) {
            EXPECT_EQ(zone.LocalOf(row.second), row.local);
        }
    }
    EXPECT_EQ(zone.InstantsOf(local(10, 25, 2, 30)).foldEnd, local(10, 25, 3, 0));
}

// A steady rise of 2E-6 mbar/s, one reading every 30 s, written by the writer with the clock
// the zone shows. Each file, loaded alone, gives the true slope and duration; the two files of
// the autumn run overlap in wall-clock time and are refused together.
TEST(CivilTime, aRunAcrossASummerTimeChangeLoadsAnalysesAndExportsInInstants) {
    const struct {
        const char* name;
        std::int64_t from, to; // instants
        std::size_t files;
        std::vector<std::string> offsets; // of each file's first and last CSV row
    } rows[] = {
        {"spring", Utc(3, 29, 0, 30), Utc(3, 29, 1, 30), 1, {"+01:00", "+02:00"}},
        // Named by their first lines, the second pass's file sorts first.
        {"autumn",
         Utc(10, 25, 0, 15),
         Utc(10, 25, 2, 15),
         2,
         {"+01:00", "+01:00", "+02:00", "+02:00"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir dir;
        TArchiveWriter writer;
        writer.SetFolder(dir.Path());
        writer.Reset();
        TZoneRules zone(kBerlin);
        const auto pressure = [&](std::int64_t u) { return 1e-3 + 2e-6 * (u - row.from) / 1000.0; };
        for (std::int64_t u = row.from; u <= row.to; u += 30'000)
            writer.WriteArchiveLine(zone.LocalOf(u), pressure(u), "0003");
        writer.Close();
        ASSERT_EQ(writer.Problem(), "");
        const std::vector<std::string> paths = Sorted(dir.Path());
        ASSERT_EQ(paths.size(), row.files);

        TLoadProgress progress;
        if (row.files > 1) {
            const TLoadResult both = LoadArchives({paths, kMaxLoadedReadings, kBerlin}, progress);
            EXPECT_EQ(both.problem.rfind("Файлы перекрываются по времени", 0), 0u) << both.problem;
        }
        std::vector<std::string> offsets;
        for (const std::string& path : paths) {
            const TLoadResult r = LoadArchives({{path}, kMaxLoadedReadings, kBerlin}, progress);
            ASSERT_EQ(r.problem, "");
            const TArchiveData& d = r.data;
            for (std::size_t i = 0; i < d.times.size(); ++i)
                ASSERT_NEAR(d.pressures[i], pressure(InstantOfDays(d.times[i])), 1e-15) << i;
            const TLeakAnalysis a = AnalyseLeak(
                SelectLeakReadings(d.times, d.pressures, ReadingUnits(d), d.tmin, d.tmax), 1.0);
            ASSERT_EQ(a.problem, ELeakProblem::none);
            EXPECT_NEAR(a.result.slope, 2e-6, 1e-15);
            EXPECT_EQ(a.result.seconds, (d.times.size() - 1) * 30.0);

            const std::string csv = path + ".csv";
            TCsvRange range;
            range.zone = kBerlin;
            ASSERT_EQ(ExportCsv(csv, d.times, d.pressures, ReadingUnits(d), range), "");
            std::ifstream in(csv);
            std::string line, first, last;
            std::getline(in, line);
            while (std::getline(in, line))
                (first.empty() ? first : last) = line;
            for (const std::string& l : {first, last})
                offsets.push_back(l.substr(23, 6));
        }
        EXPECT_EQ(offsets, row.offsets);
    }
}

// A file of the old writer holds both passes through the repeated hour: the first is summer
// time, the second standard time, never interleaved.
TEST(CivilTime, bothPassesOfARepeatedHourInOneFileComeOutInOrder) {
    TZoneRules zone(kBerlin);
    std::vector<std::int64_t> local, expected;
    for (std::int64_t u = Utc(10, 25, 0, 0); u <= Utc(10, 25, 2, 0); u += 60'000) {
        local.push_back(zone.LocalOf(u));
        expected.push_back(u);
    }
    EXPECT_EQ(InstantsOfLocal(local, zone), expected);
    // The first pass alone, its file ending inside the repeat: summer time.
    const std::vector<std::int64_t> firstPass(local.begin() + 30, local.begin() + 60);
    EXPECT_EQ(InstantsOfLocal(firstPass, zone),
              std::vector<std::int64_t>(expected.begin() + 30, expected.begin() + 60));
}

} // namespace
