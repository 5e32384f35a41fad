// The CSV export on a real disk: a run across midnight read back through Qt's own ISO 8601
// parser gives the same instants, in zones east and west of UTC and with half-hour offsets.
#include "CsvExport.h"
#include "DateTime.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QTimeZone>

#include <cstdlib>
#include <ctime>

using namespace vg57;

namespace {

class ZoneScope {
public:
    explicit ZoneScope(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneScope() {
        if (old_.empty())
            ::unsetenv("TZ");
        else
            ::setenv("TZ", old_.c_str(), 1);
        ::tzset();
    }

private:
    std::string old_;
};

class CsvZone : public testing::TestWithParam<const char*> {};

TEST_P(CsvZone, timesAcrossMidnightReadBackAsTheSameInstants) {
    ZoneScope zone(GetParam());
    test::TempDir dir;
    const std::string path = dir.Path() + "/run.csv";
    // An undated file: times of day from 23:59:58.5, the last ones on the next day.
    std::vector<double> times, pressures;
    std::vector<EPressureUnit> units;
    for (int i = 0; i < 6; ++i) {
        times.push_back(MakeDateTime(1899, 12, 30, 23, 59, 58, 500) + i * 0.75 / 86400);
        pressures.push_back(1.25e-3 * (i + 1));
        units.push_back(i % 2 ? EPressureUnit::torr : EPressureUnit::mbar);
    }
    TCsvRange range;
    range.dateBase = MakeDateTime(2026, 12, 7) - MakeDateTime(1899, 12, 30);
    std::size_t rows = 0;
    ASSERT_EQ(ExportCsv(path, times, pressures, units, range, &rows), "");
    EXPECT_EQ(rows, 6u);

    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    ASSERT_EQ(lines.size(), 8); // header, six rows, nothing after the last CR LF
    EXPECT_EQ(lines[0], "time,pressure,unit\r");
    const QDateTime first(QDate(2026, 12, 7), QTime(23, 59, 58, 500));
    for (int i = 0; i < 6; ++i) {
        const QList<QByteArray> f = lines[i + 1].trimmed().split(',');
        ASSERT_EQ(f.size(), 3) << lines[i + 1].constData();
        const QDateTime t = QDateTime::fromString(QString::fromLatin1(f[0]), Qt::ISODateWithMs);
        ASSERT_TRUE(t.isValid()) << f[0].constData();
        EXPECT_EQ(t.toMSecsSinceEpoch(), first.toMSecsSinceEpoch() + i * 750) << f[0].constData();
        EXPECT_EQ(f[1].toDouble(), pressures[i]);
        EXPECT_EQ(f[2], i % 2 ? "Torr" : "mbar");
    }
    EXPECT_TRUE(lines[6].startsWith("2026-12-08T00:00:02.250"));
}

INSTANTIATE_TEST_SUITE_P(Zones, CsvZone,
                         testing::Values("Europe/Moscow", "America/New_York", "Asia/Kolkata",
                                         "UTC"));

// Undated and dated files loaded together: only the times of day get the date asked for.
TEST(CsvExport, theAskedDateGoesOnlyToReadingsWithoutOne) {
    const ZoneScope utc("UTC");
    vg57::test::TempDir dir;
    const std::string path = dir.Path() + "/mixed.csv";
    TCsvRange range;
    range.dateBase = MakeDateTime(2026, 12, 7);
    const double dated = MakeDateTime(2026, 12, 8) + 0.5;
    ASSERT_EQ(ExportCsv(path, {0.25, dated}, {1, 2}, {EPressureUnit::pa, EPressureUnit::pa}, range),
              "");
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    ASSERT_GE(lines.size(), 3);
    EXPECT_TRUE(lines[1].startsWith("2026-12-07T06:00:00.000+00:00")) << lines[1].constData();
    EXPECT_TRUE(lines[2].startsWith("2026-12-08T12:00:00.000+00:00")) << lines[2].constData();
}

std::string ReadAll(const std::string& path) {
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

// One gauge's file is what scripts read: its bytes stay exactly these.
TEST(CsvExport, oneGaugesFileKeepsItsThreeColumnsByteForByte) {
    const ZoneScope utc("UTC");
    test::TempDir dir;
    const std::string path = dir.Path() + "/one.csv";
    const double t = MakeDateTime(2026, 12, 7, 10, 0, 0);
    ASSERT_EQ(ExportCsv(path, {t + 0.5 / 86400, t}, {2.5e-3, 1200},
                        {EPressureUnit::mbar, EPressureUnit::unknown}, {}),
              "");
    EXPECT_EQ(ReadAll(path), "time,pressure,unit\r\n"
                             "2026-12-07T10:00:00.000+00:00,1200,\r\n"
                             "2026-12-07T10:00:00.500+00:00,0.0025,mbar\r\n");
}

// Several gauges in one file: time order across gauges, equal times by address whatever order
// the gauges come in, each gauge's equal times in its own order, a gauge's pause leaving no row.
TEST(CsvExport, severalGaugesInterleaveByTimeThenAddress) {
    const ZoneScope utc("UTC");
    test::TempDir dir;
    const std::string path = dir.Path() + "/all.csv";
    const double t = MakeDateTime(2026, 12, 7, 10, 0, 0), s = 1.0 / 86400;
    const auto pa = EPressureUnit::pa;
    const std::vector<TCsvGauge> gauges = {
        {10, {t, t + 2 * s}, {7, 8}, {pa, pa}},                    // "A"
        {5, {t, t + 3 * s, t + 3 * s}, {5, 6, 6.5}, {pa, pa, pa}}, // a pause at 1 and 2 s
        {1, {t, t + s, t + 2 * s, t + 9 * s}, {1, 2, 3, 4}, {pa, pa, pa, pa}},
    };
    TCsvRange range;
    range.to = t + 3 * s; // the last reading of gauge 1 lies beyond
    std::size_t rows = 0;
    ASSERT_EQ(ExportCsvGauges(path, gauges, range, &rows), "");
    EXPECT_EQ(rows, 8u);
    EXPECT_EQ(ReadAll(path), "time,pressure,unit,address\r\n"
                             "2026-12-07T10:00:00.000+00:00,1,Pa,1\r\n"
                             "2026-12-07T10:00:00.000+00:00,5,Pa,5\r\n"
                             "2026-12-07T10:00:00.000+00:00,7,Pa,A\r\n"
                             "2026-12-07T10:00:01.000+00:00,2,Pa,1\r\n"
                             "2026-12-07T10:00:02.000+00:00,3,Pa,1\r\n"
                             "2026-12-07T10:00:02.000+00:00,8,Pa,A\r\n"
                             "2026-12-07T10:00:03.000+00:00,6,Pa,5\r\n"
                             "2026-12-07T10:00:03.000+00:00,6.5,Pa,5\r\n");
}

TEST(CsvExport, unwritableFileNamesThePathAndTheReason) {
    const std::string problem = ExportCsv("/nonexistent-folder/x.csv", {}, {}, {}, {});
    EXPECT_EQ(problem.rfind("/nonexistent-folder/x.csv: ", 0), 0u) << problem;
}

} // namespace
