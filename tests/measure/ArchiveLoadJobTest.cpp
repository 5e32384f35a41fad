// The loading thread stopped at any point of a file, by Cancel with the result taken or by
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

TEST(ArchiveLoadJob, stoppedAnywhereItEndsCancelledOrCompleteAndNeverCallsBackLate) {
    test::TempDir dir;
    const std::string path = dir.Path() + "/2026_12_07 10_00_00.txt";
    constexpr int kLines = 60000; // about 1.5 MB: several chunks
    {
        std::ofstream out(path, std::ios::binary);
        for (int i = 0; i < kLines; ++i)
            out << FormatArchiveLine({2026, 12, 7, 10, i / 1200 % 60, i / 20 % 60, i % 20 * 50},
                                     1e-3L, "0002");
    }
    int midFile = 0;
    for (int round = 0; round < 60; ++round) {
        std::atomic<int> finished{0};
        std::atomic<bool> destroyed{false}, late{false};
        {
            TArchiveLoadJob job({{path}}, [&] {
                late = late || destroyed;
                ++finished;
            });
            std::this_thread::sleep_for(std::chrono::microseconds(round / 2 * 2500));
            if (round % 2) continue; // destroyed while reading
            const std::uint64_t read = job.Progress().bytesRead;
            job.Cancel();
            const TLoadResult r = job.Take();
            EXPECT_EQ(finished.load(), 1);
            // Never a part of the file: cancelled with nothing, or all of it.
            EXPECT_EQ(r.data.times.size(), r.cancelled ? 0u : std::size_t(kLines));
            midFile += r.cancelled && read > 0 && read < job.Progress().bytesTotal;
        }
        destroyed = true;
        EXPECT_LE(finished.load(), 1);
        EXPECT_FALSE(late.load());
    }
    EXPECT_GT(midFile, 0) << "no cancel landed inside the file";
}
