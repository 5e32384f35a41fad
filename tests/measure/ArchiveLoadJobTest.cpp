// The loading thread stopped at every point of a file: by Cancel with the result taken, and by
// destroying the job. Run under the thread sanitizer too.
#include "ArchiveLoadJob.h"
#include "ArchiveFormat.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

using namespace vg57;

namespace {

constexpr std::size_t kLines = 60000; // about 1.5 MB: many chunks, a few ms of work

std::string WriteArchive(const test::TempDir& dir) {
    const std::string path = dir.Path() + "/2026_12_07 10_00_00.txt";
    std::ofstream out(path, std::ios::binary);
    for (std::size_t i = 0; i < kLines; ++i)
        out << FormatArchiveLine({2026, 12, 7, 10, static_cast<int>(i / 1200 % 60),
                                  static_cast<int>(i / 20 % 60), static_cast<int>(i % 20 * 50)},
                                 1e-3L, "0002");
    return path;
}

TEST(ArchiveLoadJob, cancelAnywhereGivesACancelledOrACompleteLoadNeverAPartOne) {
    test::TempDir dir;
    const std::string path = WriteArchive(dir);
    int midFile = 0;
    for (int round = 0; round < 30; ++round) {
        std::atomic<int> finished{0};
        TArchiveLoadJob job({{path}}, [&] { ++finished; });
        std::this_thread::sleep_for(std::chrono::microseconds(round * 2500));
        const std::uint64_t before = job.Progress().bytesRead.load();
        job.Cancel();
        const TLoadResult r = job.Take();
        EXPECT_EQ(finished.load(), 1);
        if (r.cancelled) {
            EXPECT_TRUE(r.data.times.empty());
            if (before > 0 && before < job.Progress().bytesTotal.load()) ++midFile;
        } else {
            EXPECT_EQ(r.problem, "");
            EXPECT_EQ(r.data.times.size(), kLines);
        }
    }
    EXPECT_GT(midFile, 0) << "no cancel landed inside the file";
}

TEST(ArchiveLoadJob, destroyedWhileReadingStopsAndNeverCallsBackAfterwards) {
    test::TempDir dir;
    const std::string path = WriteArchive(dir);
    for (int round = 0; round < 30; ++round) {
        std::atomic<int> finished{0};
        std::atomic<bool> destroyed{false}, lateCall{false};
        {
            TArchiveLoadJob job({{path}}, [&] {
                if (destroyed.load()) lateCall = true;
                ++finished;
            });
            std::this_thread::sleep_for(std::chrono::microseconds(round * 2500));
        }
        destroyed = true;
        EXPECT_LE(finished.load(), 1);
        EXPECT_FALSE(lateCall.load());
    }
}

} // namespace
