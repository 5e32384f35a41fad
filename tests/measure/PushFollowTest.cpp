// Following archive files for a push, on a real disk: local times to instants across both
// summer-time changes and midnight, in file order, with the follower made anew at every batch so
// that each resumes from the cursor alone; and which files a live follower takes.
#include "ArchiveFollower.h"
#include "LineProtocol.h"
#include "TempDir.h"

#include <QDateTime>

#include <gtest/gtest.h>

#include <fstream>

using namespace vg57;

namespace {

const QTimeZone kBerlin("Europe/Berlin");

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::app) << text;
}

// Each point's time as UTC "yyyy-MM-ddThh:mm:ss.zzz".
std::vector<std::string> Times(const std::string& body) {
    std::vector<std::string> out;
    for (std::size_t at = 0, nl; (nl = body.find('\n', at)) != std::string::npos; at = nl + 1) {
        const std::string line = body.substr(at, nl - at);
        const long long ns = std::stoll(line.substr(line.rfind(' ') + 1));
        out.push_back(QDateTime::fromMSecsSinceEpoch(ns / 1'000'000, Qt::UTC)
                          .toString("yyyy-MM-ddThh:mm:ss.zzz")
                          .toStdString());
    }
    return out;
}

// Batches of two points, each by a follower made anew; the times pushed and the lines skipped.
std::vector<std::string> PushInTwos(const std::string& path, std::size_t& skipped) {
    std::vector<std::string> times;
    for (int guard = 0; guard < 50; ++guard) {
        TArchiveFollower follower(PointPrefix('0', {}), kBerlin);
        follower.AddFile(path);
        TPushBatch batch;
        std::string problem;
        EXPECT_TRUE(follower.Next(2, batch, problem)) << problem;
        if (batch.Empty()) break;
        for (const std::string& t : Times(batch.body))
            times.push_back(t);
        skipped += batch.skippedLines;
        EXPECT_TRUE(follower.Commit(batch, problem)) << problem;
    }
    return times;
}

} // namespace

TEST(PushFollow, localTimesBecomeInstantsInFileOrderAcrossSummerTimeAndMidnight) {
    ASSERT_TRUE(kBerlin.isValid());
    struct Row {
        const char* what;
        const char* file;
        const char* text;
        std::vector<std::string> utc;
        std::size_t skipped;
    } rows[] = {
        {"autumn: the repeated hour, first pass summer, second standard",
         "2026_10_25 01_30_00.txt",
         "01:30:00.000 1 0001\r\n02:15:00.000 2 0001\r\n02:45:00.000 3 0001\r\n"
         "02:15:00.000 4 0001\r\n02:45:00.000 5 0001\r\n03:15:00.250 6 0001\r\n",
         {"2026-10-24T23:30:00.000", "2026-10-25T00:15:00.000", "2026-10-25T00:45:00.000",
          "2026-10-25T01:15:00.000", "2026-10-25T01:45:00.000", "2026-10-25T02:15:00.250"},
         0},
        {"spring: the skipped hour is simply not there",
         "2026_03_29 01_59_59.txt",
         "01:59:59.999 1 0001\r\n03:00:00.000 2 0001\r\n03:00:00.001 3 0001\r\n",
         {"2026-03-29T00:59:59.999", "2026-03-29T01:00:00.000", "2026-03-29T01:00:00.001"},
         0},
        {"midnight; lines that are no reading; a gauge's address in the name",
         "2026_12_31 23_59_59 a5.txt",
         "23:59:59.999 1 0003\r\nnonsense\r\n00:00:00.500 2 0003\r\n\r\n12:00:00.000 3 0003\r\n"
         "12:00:01.000 4",
         {"2026-12-31T22:59:59.999", "2026-12-31T23:00:00.500", "2027-01-01T11:00:00.000"},
         2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        test::TempDir dir;
        const std::string path = dir.Path() + "/" + row.file;
        Write(path, row.text);
        std::size_t skipped = 0;
        EXPECT_EQ(PushInTwos(path, skipped), row.utc);
        EXPECT_EQ(skipped, row.skipped);
        // The unfinished last line waits; once whole it goes, and nothing before it again.
        Write(path, " 0003\r\n");
        skipped = 0;
        EXPECT_EQ(PushInTwos(path, skipped).size(), std::string(row.text).back() == '\n' ? 0u : 1u);
    }
}

TEST(PushFollow, pointsCarryEscapedTagsTheUnitsNameAndPascals) {
    std::string out;
    ASSERT_TRUE(AppendPoint(out, PointPrefix('5', {{"system", "chamber 2,a=b"}}), "0003", 1.5e-3,
                            1796668472177));
    EXPECT_EQ(out, "vg57,address=5,system=chamber\\ 2\\,a\\=b,unit=mbar pressure=0.0015,"
                   "pascals=0.15 1796668472177000000\n");
    EXPECT_FALSE(AppendPoint(out, "vg57", "0001", std::numeric_limits<double>::infinity(), 0));
}

TEST(PushFollow, aLiveFollowerTakesUnfinishedAndNewFilesAndLeavesTheUnpushedPast) {
    test::TempDir dir;
    const std::string d = dir.Path() + "/";
    Write(d + "2026_01_01 10_00_00.txt", "10:00:00.000 1 0001\r\n"); // the past: a backfill's
    Write(d + "2026_01_02 10_00_00.txt", "10:00:00.000 1 0001\r\n10:00:01.000 2 0001\r\n");
    Write(d + "2026_01_02 10_00_00.txt.pushed", "21 0 0 0 0 0\n");      // one line pushed
    Write(d + "2026_01_03 10_00_00.txt", "10:00:00.000 1 0001\r\n");    // after the last cursor
    Write(d + "2026_01_03 10_00_00 a1.txt", "10:00:00.000 1 0001\r\n"); // another gauge's
    TArchiveFollower follower(PointPrefix('0', {}), kBerlin);
    std::string problem;
    ASSERT_TRUE(follower.FollowFolder(dir.Path(), "", problem)) << problem;
    Write(d + "2026_01_04 10_00_00.txt", "10:00:00.000 1 0001\r\n"); // appears while following
    TPushBatch batch;
    ASSERT_TRUE(follower.Next(100, batch, problem)) << problem;
    EXPECT_EQ(Times(batch.body),
              (std::vector<std::string>{"2026-01-02T09:00:01.000", "2026-01-03T09:00:00.000",
                                        "2026-01-04T09:00:00.000"}));
    ASSERT_TRUE(follower.Commit(batch, problem)) << problem;
    ASSERT_TRUE(follower.Next(100, batch, problem));
    EXPECT_TRUE(batch.Empty());
}

// A commit writes the cursor in place, into the older of two slots: a crash that tears the
// newest slot leaves the one before, and the one-line cursor of earlier versions still reads.
TEST(PushFollow, aTornCursorSlotFallsBackToTheCursorBeforeIt) {
    test::TempDir dir;
    const std::string path = dir.Path() + "/2026_01_02 10_00_00.txt";
    Write(path, "10:00:00.000 1 0001\r\n10:00:01.000 2 0001\r\n10:00:02.000 3 0001\r\n");
    Write(CursorPath(path), "21 0 0 0 0 0\n"); // the one-line form: the first line pushed
    const auto pushOne = [&] {
        TArchiveFollower follower(PointPrefix('0', {}), kBerlin);
        follower.AddFile(path);
        TPushBatch batch;
        std::string problem;
        EXPECT_TRUE(follower.Next(1, batch, problem)) << problem;
        EXPECT_TRUE(follower.Commit(batch, problem)) << problem;
        return Times(batch.body);
    };
    EXPECT_EQ(pushOne(), std::vector<std::string>{"2026-01-02T09:00:01.000"});
    EXPECT_EQ(pushOne(), std::vector<std::string>{"2026-01-02T09:00:02.000"});
    TPushCursor cursor;
    ASSERT_TRUE(ReadCursor(path, cursor));
    EXPECT_EQ(cursor.offset, 63u);
    // Tear the slot just written (the newest): one of its digits changed on the disk.
    std::fstream file(CursorPath(path), std::ios::in | std::ios::out | std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), {});
    ASSERT_EQ(text.size(), 320u) << "two slots of 160 bytes";
    const std::size_t newest = text.compare(0, 2, "63") == 0 ? 0 : 160;
    ASSERT_EQ(text.substr(newest, 3), "63 ");
    file.seekp(static_cast<std::streamoff>(newest));
    file.write("53", 2);
    file.close();
    ASSERT_TRUE(ReadCursor(path, cursor));
    EXPECT_EQ(cursor.offset, 42u) << "the slot before the torn one";
    EXPECT_EQ(pushOne(), std::vector<std::string>{"2026-01-02T09:00:02.000"});
}
