// vg57-cli as a real process on real files: the exit codes of bad command lines and unusable
// archives, and the JSON of a rise across midnight in mixed units.
#include "ArchiveFormat.h"
#include "DateTime.h"
#include "NumberFormat.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimeZone>

#include <cmath>
#include <fstream>
#include <functional>

using namespace vg57;

namespace {

struct Result {
    int code = -1;
    QByteArray out, err;
};

Result RunCli(const QStringList& args, const QString& zone = {}) {
    QProcess p;
    if (!zone.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TZ", zone);
        p.setProcessEnvironment(env);
    }
    p.start(VG57_CLI_PATH, args);
    p.waitForFinished(30000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

// Twenty readings every 0.5 s from 23:59:55, rising 1E-4 Pa/s; the first ten are in mbar, the
// rest in Pa. `code` replaces the unit code of reading 12.
std::string WriteRise(const std::string& path, const char* code = "0001") {
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < 20; ++i) {
        const TLocalTime t = LocalTimeOf(MakeDateTime(2026, 12, 7, 23, 59, 55) + i * 0.5 / 86400);
        const long double pa = 2e-3L + 1e-4L * i * 0.5L;
        out << FormatArchiveLine(t, i < 10 ? pa / 100 : pa,
                                 i < 10 ? "0003" : (i == 12 ? code : "0001"));
    }
    return path;
}

class CliFiles : public testing::Test {
protected:
    test::TempDir dir;
    const QString archive =
        QString::fromStdString(WriteRise(dir.Path() + "/2026_12_07 23_59_55.txt"));
    const QString undated = QString::fromStdString(WriteRise(dir.Path() + "/rise.txt"));
    const QString oddUnit = QString::fromStdString(WriteRise(dir.Path() + "/odd.txt", "0009"));
    const QString csv = QString::fromStdString(dir.Path() + "/out.csv");
    // `n` lines made by `line`.
    QString Write(const std::string& name, int n, const std::function<std::string(int)>& line) {
        const std::string path = dir.Path() + "/" + name;
        std::ofstream out(path, std::ios::binary);
        for (int i = 0; i < n; ++i)
            out << line(i);
        return QString::fromStdString(path);
    }
    // 10:00 and 23:00 on two days by the midnight rule: a time of day names no single moment.
    const QString twoDays = [this] {
        const std::string path = dir.Path() + "/long.txt";
        std::ofstream(path) << "10:00:00.000 1 0001\n23:00:00.000 2 0001\n"
                               "10:00:00.000 3 0001\n23:00:00.000 4 0001\n";
        return QString::fromStdString(path);
    }();
    // Gauges 1 (in Pa) and 5 (in mbar) of a run from 23:59:55, one reading a second.
    const QString gauge1 = Write("2026_12_07 23_59_55 a1.txt", 3, [](int i) {
        return FormatArchiveLine({2026, 12, 7, 23, 59, 55 + i}, 1 + i, "0001");
    });
    const QString gauge5 = Write("2026_12_07 23_59_55 a5.txt", 3, [](int i) {
        return FormatArchiveLine({2026, 12, 7, 23, 59, 55 + i}, 5 + i, "0003");
    });
    // Lines that carry their own dates.
    const QString datedLines = [this] {
        const std::string path = dir.Path() + "/dated.txt";
        std::ofstream(path) << "7.12.2026 1 0001\n8.12.2026 2 0001\n";
        return QString::fromStdString(path);
    }();
};

TEST_F(CliFiles, badCommandLinesAndUnusableArchivesGiveTheirExitCodes) {
    const QStringList lr{"leak-rate", archive, "--volume", "10"};
    const struct {
        QStringList args;
        int code;
    } rows[] = {
        {{}, 2},
        {{"frobnicate"}, 2},
        {{"--help"}, 0},
        {{"leak-rate", "--help"}, 0},
        {{"export", "--help"}, 0},
        {lr + QStringList{"--from", "23:59:55"}, 2},                                // no --to
        {lr + QStringList{"--from", "23:59:55", "--to", "24:00:00"}, 2},            // no such time
        {lr + QStringList{"--from", "23:59:55", "--to", "00:00:04", "--bogus"}, 2}, // unknown
        {{"leak-rate", archive, "--from", "23:59:55", "--to", "00:00:04", "--volume", "0"}, 2},
        {{"leak-rate", archive, "--from", "23:59:55", "--to", "00:00:04", "--volume", "1,5"}, 2},
        {lr + QStringList{"--from", "00:00:04", "--to", "23:59:55"}, 2}, // --to before --from
        {lr + QStringList{"--from", "23:59:55", "--to", "23:59:56"}, 3}, // three readings
        {{"leak-rate", "/nonexistent/a.txt", "--from", "00:00:00", "--to", "00:00:01", "--volume",
          "1"},
         3},
        {{"leak-rate", oddUnit, "--from", "23:59:55", "--to", "00:00:04", "--volume", "1"}, 3},
        // A date-time needs a date that the undated file's name does not give.
        {{"leak-rate", undated, "--from", "2026-12-07T23:59:55", "--to", "00:00:04", "--volume",
          "1"},
         2},
        {{"leak-rate", twoDays, "--from", "10:00:00", "--to", "23:00:00", "--volume", "1"}, 2},
        {lr + QStringList{"--from", "23:59:55", "--to", "00:00:04"}, 0},
        {{"export", undated, "--csv", csv}, 2}, // --date needed
        {{"export", undated, "--date", "2026-13-01", "--csv", csv}, 2},
        {{"export", archive}, 2}, // no --csv
        {{"export", archive, "--csv", "/nonexistent/out.csv"}, 3},
        {{"export", undated, "--date", "2026-12-07", "--csv", csv}, 0},
        {{"export", datedLines, "--csv", csv}, 0},       // no --date needed
        {{"export", archive, undated, "--csv", csv}, 2}, // several, not named by gauge
        {{"export", gauge1, gauge1, "--csv", csv}, 2},   // one gauge twice
        {{"export", "--csv", csv}, 2},
    };
    for (const auto& row : rows) {
        const Result r = RunCli(row.args);
        EXPECT_EQ(r.code, row.code) << row.args.join(' ').toStdString() << "\n"
                                    << r.err.constData();
        // A refusal is one line on stderr.
        if (row.code != 0) {
            EXPECT_EQ(r.err.count('\n'), 1) << r.err.constData();
        }
    }
}

// One gauge's archive gives the three columns it always gave, also named with its address;
// several gauges' archives one file with their addresses, in time order, ties by address.
TEST_F(CliFiles, severalGaugesArchivesExportWithAnAddressColumn) {
    const auto exported = [&](const QStringList& archives) {
        const Result r = RunCli(QStringList{"export"} + archives +
                                    QStringList{"--from", "23:59:56", "--csv", csv},
                                "UTC");
        EXPECT_EQ(r.code, 0) << r.err.constData();
        QFile f(csv);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    EXPECT_EQ(exported({gauge5}), "time,pressure,unit\r\n"
                                  "2026-12-07T23:59:56.000+00:00,6,mbar\r\n"
                                  "2026-12-07T23:59:57.000+00:00,7,mbar\r\n");
    EXPECT_EQ(exported({gauge5, gauge1}), "time,pressure,unit,address\r\n"
                                          "2026-12-07T23:59:56.000+00:00,2,Pa,1\r\n"
                                          "2026-12-07T23:59:56.000+00:00,6,mbar,5\r\n"
                                          "2026-12-07T23:59:57.000+00:00,3,Pa,1\r\n"
                                          "2026-12-07T23:59:57.000+00:00,7,mbar,5\r\n");
    EXPECT_TRUE(RunCli({"export", "--help"}).out.contains("address"));
}

TEST_F(CliFiles, jsonOfARiseAcrossMidnightInMixedUnits) {
    const Result r =
        RunCli({"leak-rate", archive, "--from", "23:59:55", "--to", "00:00:04.5", "--volume", "10",
                "--json", "--volume-uncertainty", "10", "--limit", "0.3", "Pa/h"},
               "MSK-3");
    ASSERT_EQ(r.code, 0) << r.err.constData();
    const QJsonObject o = QJsonDocument::fromJson(r.out).object();
    EXPECT_EQ(o["readings"].toInt(), 20);
    EXPECT_EQ(o["start"].toString(), "2026-12-07T23:59:55.000+03:00");
    EXPECT_EQ(o["end"].toString(), "2026-12-08T00:00:04.500+03:00");
    EXPECT_EQ(o["unit"].toString(), "Pa");
    EXPECT_NEAR(o["p_start"].toDouble(), 2e-3, 1e-15);
    EXPECT_NEAR(o["slope_per_s"].toDouble(), 1e-4, 1e-12);
    EXPECT_NEAR(o["leak_rate"].toDouble(), 1e-3, 1e-11);
    EXPECT_EQ(o["leak_rate_unit"].toString(), "Pa*l/s");
    EXPECT_NEAR(o["leak_rate_pa_m3_s"].toDouble(), 1e-6, 1e-14);
    EXPECT_NEAR(o["r2"].toDouble(), 1.0, 1e-9);
    EXPECT_TRUE(o["resolved"].toBool());
    EXPECT_TRUE(o["linear"].toBool());
    EXPECT_EQ(o["verdict"].toString(), "leak");
    EXPECT_EQ(o["model"].toString(), "line");
    EXPECT_TRUE(o["rising"].toBool());
    EXPECT_TRUE(o["leak_rate_upper_limit"].isNull());
    EXPECT_NEAR(o["leak_rate_mbar_l_s"].toDouble(), 1e-5, 1e-13);
    EXPECT_NEAR(o["leak_rate_atm_cc_s"].toDouble(), 1e-5 / 1.01325, 1e-13);
    EXPECT_NEAR(o["leak_rate_sccm"].toDouble(), 1e-5 / 0.0168875, 1e-11);
    EXPECT_NEAR(o["rise_per_hour"].toDouble(), 0.36, 1e-8);
    // A step of 1E-4 Pa over 9.5 s bounds the slope's share (the readings lie on a line), then
    // 30 % from the gauge and 10 % from the volume.
    EXPECT_NEAR(o["leak_rate_uncertainty"].toDouble(),
                1e-3 * std::sqrt(std::pow(1 / 9.5, 2) + 0.09 + 0.01), 1e-12);
    EXPECT_EQ(o["uncertainty_source"].toString(), "quantisation");
    EXPECT_EQ(o["skipped_lines"].toInt(), 0);
    EXPECT_EQ(o["limit"].toObject()["unit"].toString(), "Pa/h");
    EXPECT_FALSE(o["pass"].toBool()); // 0.36 Pa/h and more, over 0.3 Pa/h
    EXPECT_EQ(o.size(), 31);
}

// The faults the command line once passed in silence, a row each.
TEST_F(CliFiles, faultsOnceSilentAreSaid) {
    // 100 lines, every other one broken: a negative pressure, or no pressure at all.
    const QString corrupted = Write("corrupted.txt", 100, [](int i) {
        const std::string t = "12:00:" + std::to_string(10 + i / 2) + "." + (i % 2 ? "500" : "000");
        if (i % 4 == 1) return t + " -1.0E-3 0001\n";
        if (i % 4 == 3) return t + " x 0001\n";
        return t + " " + std::to_string(1 + i) + ".0E-3 0001\n";
    });
    const QString binary = [this] {
        const std::string path = dir.Path() + "/binary.txt";
        std::ofstream out(path, std::ios::binary);
        for (int i = 0; i < 4096; ++i)
            out.put(static_cast<char>((i * 7919) % 256));
        return QString::fromStdString(path);
    }();
    const QString falling = Write("falling.txt", 60, [](int i) {
        return "12:00:" + std::to_string(10 + i / 2) + (i % 2 ? ".500 " : ".000 ") +
               FormatGeneral(5e-3L - 5e-5L * i) + " 0003\n";
    });
    const QString flat = Write("flat.txt", 60, [](int i) {
        return "12:00:" + std::to_string(10 + i / 2) + (i % 2 ? ".500" : ".000") + " 2.5E-3 0003\n";
    });
    const QStringList interval{"--from",   "12:00:10", "--to",  "12:00:59.5",
                               "--volume", "10",       "--json"};
    const struct {
        const char* name;
        QStringList args;
        int code;
        const char* said; // on stderr
        std::function<void(const QJsonObject&)> check;
    } rows[] = {
        {"skippedLinesOfAnExportAreCounted",
         {"export", corrupted, "--date", "2026-12-07", "--csv", csv},
         0,
         "50 readings written, 50 lines skipped",
         {}},
        {"aNegativePressureIsAMalformedLine", QStringList{"leak-rate", corrupted} + interval, 0, "",
         [](const QJsonObject& o) {
             EXPECT_EQ(o["skipped_lines"].toInt(), 50);
             EXPECT_EQ(o["readings"].toInt(), 50);
         }},
        {"aFileWithoutReadingsIsRefusedByExport",
         {"export", binary, "--date", "2026-12-07", "--csv", csv},
         3,
         "not a single reading",
         {}},
        {"aFileWithoutReadingsIsRefusedByLeakRate",
         QStringList{"leak-rate", binary} + interval,
         3,
         "not a single reading",
         {}},
        {"aFallingPressureGivesNoLeakRate", QStringList{"leak-rate", falling} + interval, 0,
         "the pressure does not rise",
         [](const QJsonObject& o) {
             EXPECT_FALSE(o["rising"].toBool(true));
             EXPECT_TRUE(o["leak_rate"].isNull());
             EXPECT_TRUE(o["leak_rate_pa_m3_s"].isNull());
             EXPECT_TRUE(o["leak_rate_upper_limit"].isNull());
             EXPECT_TRUE(o["verdict"].isNull());
             EXPECT_TRUE(o["linear"].isNull());
         }},
        {"aFlatRunGivesAnUpperLimit",
         QStringList{"leak-rate", flat} + interval + QStringList{"--limit", "1e-5", "mbar*l/s"}, 0,
         "upper limit",
         [](const QJsonObject& o) {
             // One step of 1E-4 mbar over 29.5 s, 10 l, raised by the gauge's 30 %: over the limit.
             EXPECT_NEAR(o["leak_rate_upper_limit"].toDouble(), 1e-3 / 29.5 * 1.3, 1e-12);
             EXPECT_TRUE(o["leak_rate"].isNull());
             EXPECT_FALSE(o["pass"].toBool(true));
             EXPECT_TRUE(o["r2"].isNull());
         }},
        {"aLimitInAnUnknownUnitIsAUsageError",
         QStringList{"leak-rate", flat} + interval + QStringList{"--limit", "1e-4", "mbar"},
         2,
         "--limit",
         {}},
        {"anAccuracyOverAHundredIsAUsageError",
         QStringList{"leak-rate", flat} + interval + QStringList{"--accuracy", "150"},
         2,
         "--accuracy",
         {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Result r = RunCli(row.args);
        EXPECT_EQ(r.code, row.code) << r.err.constData();
        EXPECT_TRUE(r.err.contains(row.said)) << r.err.constData();
        if (row.check) row.check(QJsonDocument::fromJson(r.out).object());
    }
}

// One exact time per reading: a dated interval selects what the same times of day select, and
// across a summer-time change the interval's length and slope are true ones. A rise of 2E-6 Pa/s
// from 2E-3 Pa, one reading a second, written as Berlin's wall clock shows it.
TEST(CliTimes, anIntervalSelectsTheSameReadingsAndMeasuresInInstants) {
    test::TempDir dir;
    const auto write = [&](const char* name, std::int64_t fromUtc, int readings) {
        const QTimeZone berlin("Europe/Berlin");
        std::ofstream out(dir.Path() + "/" + name, std::ios::binary);
        for (int i = 0; i < readings; ++i) {
            const QDateTime at = QDateTime::fromMSecsSinceEpoch(fromUtc + i * 1000LL, berlin);
            const TLocalTime t{at.date().year(),
                               at.date().month(),
                               at.date().day(),
                               at.time().hour(),
                               at.time().minute(),
                               at.time().second(),
                               0};
            out << FormatArchiveLine(t, 2e-3L + 2e-6L * i, "0001");
        }
        return QString::fromStdString(dir.Path() + "/" + name);
    };
    const auto utc = [](int month, int day, int h, int m) {
        return QDateTime(QDate(2026, month, day), QTime(h, m), Qt::UTC).toMSecsSinceEpoch();
    };
    const QString december = write("2026_12_07 14_00_00.txt", utc(12, 7, 13, 0), 1200);
    // 01:50 to 03:10 by the clock, 20 minutes.
    const QString spring = write("2026_03_29 01_50_00.txt", utc(3, 29, 0, 50), 1201);
    // The second pass through 02:00-03:00 and on, as the writer starts it after the clock went
    // back: 02:40 to 03:20 by the clock, 40 minutes.
    const QString autumn = write("2026_10_25 02_40_00.txt", utc(10, 25, 1, 40), 2401);
    const struct {
        QString archive, from, to;
        int readings;
        double seconds;
    } rows[] = {
        {december, "14:00:00", "14:10:00", 601, 600},
        {december, "2026-12-07T14:00:00", "2026-12-07T14:10:00", 601, 600},
        {december, "2026-12-07T14:00:00.001", "2026-12-07T14:09:59.999", 599, 598},
        {spring, "01:50:00", "03:10:00", 1201, 1200},
        {autumn, "2026-10-25T02:40:00", "2026-10-25T03:20:00", 2401, 2400},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE((row.from + " " + row.to).toStdString());
        const Result r = RunCli({"leak-rate", row.archive, "--from", row.from, "--to", row.to,
                                 "--volume", "1", "--json"},
                                "Europe/Berlin");
        ASSERT_EQ(r.code, 0) << r.err.constData();
        const QJsonObject o = QJsonDocument::fromJson(r.out).object();
        EXPECT_EQ(o["readings"].toInt(), row.readings);
        EXPECT_EQ(o["seconds"].toDouble(), row.seconds);
        EXPECT_NEAR(o["slope_per_s"].toDouble(), 2e-6, 1e-14);
        EXPECT_TRUE(o["linear"].toBool());
    }
    // The export gives each reading the offset then in force: the curve rises by instant.
    const QString csv = QString::fromStdString(dir.Path() + "/autumn.csv");
    ASSERT_EQ(RunCli({"export", autumn, "--csv", csv}, "Europe/Berlin").code, 0);
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    EXPECT_EQ(lines.at(1).left(29), "2026-10-25T02:40:00.000+01:00");
    EXPECT_EQ(lines.at(2401).left(29), "2026-10-25T03:20:00.000+01:00");
}

} // namespace
