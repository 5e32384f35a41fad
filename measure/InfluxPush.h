// One gauge's archive into InfluxDB, on a thread of its own: batches read from the archive by a
// follower, written, and the cursors moved on only once the server said yes. A server that is
// away costs no memory (the readings wait in the archive) and is tried again after 1 s, doubling
// to 60 s. One line when it goes away and one when it is back, never one per attempt.
#pragma once

#include "ArchiveFollower.h"
#include "InfluxWriter.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace vg57 {

struct TInfluxPushCounts {
    std::uint64_t written = 0; // points acknowledged
    std::uint64_t refused = 0; // points in batches the server refused as malformed
    std::uint64_t skipped = 0; // archive lines that are no reading
    bool gaveUp = false;       // a backfill stopped after repeated failures
};

class TInfluxPush {
public:
    static constexpr std::size_t kMaxPoints = 5000;

    // `say` gets one line per change of state, from the push's thread.
    TInfluxPush(TArchiveFollower& follower, TInfluxWriter& writer,
                std::function<void(const std::string&)> say);
    // Stops (see Stop).
    ~TInfluxPush();
    TInfluxPush(const TInfluxPush&) = delete;
    TInfluxPush& operator=(const TInfluxPush&) = delete;

    // Live: follows on its thread, at most one request a second. `told`: Grew is called after
    // each line the archive's writer adds, and the archive is read again only then (once a
    // minute without); else it is looked at every second.
    void Start(bool told = false);
    // The archive grew (from any thread).
    void Grew();
    // Ends the thread within a second: a request in progress may finish until then, and is cut
    // short after (its batch is sent again by the next run; the server keeps one point per
    // series and time, so the database holds it once).
    void Stop();

    // Backfill, on the calling thread: everything up to the files' ends, with up to `inFlight`
    // requests out at once (each on a connection of its own), the next batch read and formatted
    // while they are. Cursors move in the order of the batches, each after its batch was
    // acknowledged and those before it too: a batch that fails holds back the ones after it,
    // which are read and sent again. Gives up (gaveUp) after `attempts` failures in a row.
    TInfluxPushCounts RunToEnd(int attempts = 5, int inFlight = kBackfillInFlight);
    static constexpr int kBackfillInFlight = 4;

    TInfluxPushCounts Counts() const;

private:
    // One step: sends the pending batch, or reads the next. Returns how long to wait after it
    // in milliseconds (0: go on at once), or -1 when there was nothing new.
    int Step();
    bool WaitForGrowth(); // false when stopping
    // A request failed: said once until the server is back; how long to wait before the next.
    int Failed(const std::string& reason);
    // The server answered the batch (written or refused for good): its cursors made durable and
    // it counted. False when the cursor could not be written.
    bool Answered(const TPushBatch& batch, EWriteResult result, const std::string& reason);
    void Loop();
    bool Wait(int ms); // false when stopping

    TArchiveFollower& follower_;
    TInfluxWriter& writer_;
    std::function<void(const std::string&)> say_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false; // guarded by mutex_
    bool ended_ = false;    // guarded by mutex_: the thread left its loop
    bool told_ = false;
    bool grown_ = false; // guarded by mutex_: Grew was called since the last step began
    bool idle_ = false;  // guarded by mutex_: the thread waits for growth
    std::atomic<bool> abort_{false};

    // The thread's own (or the caller's, for RunToEnd):
    TPushBatch batch_;
    bool pending_ = false;
    bool full_ = false; // the batch last sent had the most points: more may wait
    int backoffMs_ = 1000;
    bool away_ = false;
    int failuresInRow_ = 0;
    std::uint64_t sinceBack_ = 0; // points sent since the server came back
    bool catchingUp_ = false;
    std::string lastProblem_;
    mutable std::mutex countsMutex_;
    TInfluxPushCounts counts_; // guarded by countsMutex_
};

} // namespace vg57
