#include "InfluxPush.h"

#include <algorithm>

namespace vg57 {

namespace {

constexpr int kMaxBackoffMs = 60'000;
constexpr int kSpacingMs = 1000; // at most one request a second, live

} // namespace

TInfluxPush::TInfluxPush(TArchiveFollower& follower, TInfluxWriter& writer,
                         std::function<void(const std::string&)> say)
    : follower_(follower), writer_(writer), say_(std::move(say)) {}

TInfluxPush::~TInfluxPush() {
    Stop();
}

void TInfluxPush::Start() {
    thread_ = std::thread([this] { Loop(); });
}

void TInfluxPush::Stop() {
    if (!thread_.joinable()) return;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        stopping_ = true;
        wake_.notify_all();
        // A request in progress may finish: cut short, its batch would be sent again later.
        if (!wake_.wait_for(lock, std::chrono::milliseconds(900), [this] { return ended_; })) {
            abort_ = true;
            writer_.Abort();
        }
    }
    thread_.join();
}

TInfluxPushCounts TInfluxPush::Counts() const {
    std::lock_guard<std::mutex> lock(countsMutex_);
    return counts_;
}

bool TInfluxPush::Wait(int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
    return !stopping_;
}

void TInfluxPush::Loop() {
    for (;;) {
        const int after = Step();
        if (!Wait(after < 0 ? kSpacingMs : std::max(after, kSpacingMs))) break;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    wake_.notify_all();
}

TInfluxPushCounts TInfluxPush::RunToEnd(int attempts) {
    for (;;) {
        const int after = Step();
        if (after < 0) break;
        if (failuresInRow_ >= attempts) {
            std::lock_guard<std::mutex> lock(countsMutex_);
            counts_.gaveUp = true;
            break;
        }
        if (after > 0 && !Wait(after)) break;
    }
    return Counts();
}

int TInfluxPush::Step() {
    std::string problem;
    if (!pending_) {
        if (!follower_.Next(kMaxPoints, batch_, problem)) {
            if (problem != lastProblem_) say_(problem);
            lastProblem_ = problem;
            ++failuresInRow_;
            return backoffMs_;
        }
        if (batch_.Empty()) return -1;
        pending_ = true;
    }
    EWriteResult result = EWriteResult::written;
    std::string reason;
    if (batch_.points > 0) result = writer_.Write(batch_.body, reason);
    if (result == EWriteResult::failed) {
        if (abort_) return 0;
        ++failuresInRow_;
        if (!away_) {
            say_("InfluxDB недоступен (" + writer_.Origin() + ": " + reason +
                 "), показания ждут в архиве");
            away_ = true;
            sinceBack_ = 0;
        }
        // Read again at the next try, with what the archive gained meanwhile.
        pending_ = false;
        const int wait = backoffMs_;
        backoffMs_ = std::min(backoffMs_ * 2, kMaxBackoffMs);
        return wait;
    }
    if (result == EWriteResult::refused)
        say_("InfluxDB отверг " + std::to_string(batch_.points) + " показаний: " + reason);
    if (!follower_.Commit(batch_, problem)) {
        // Sent, but the cursor did not move: sent again later, which the server takes as the
        // same points.
        if (problem != lastProblem_) say_(problem);
        lastProblem_ = problem;
        ++failuresInRow_;
        return backoffMs_;
    }
    lastProblem_.clear();
    pending_ = false;
    failuresInRow_ = 0;
    backoffMs_ = 1000;
    if (away_) {
        away_ = false;
        catchingUp_ = true;
    }
    if (catchingUp_) {
        sinceBack_ += batch_.points;
        // A batch short of the limit took all there was: the backlog is gone.
        if (batch_.points < kMaxPoints) {
            say_("InfluxDB снова доступен, догружено " + std::to_string(sinceBack_) + " показаний");
            catchingUp_ = false;
        }
    }
    {
        std::lock_guard<std::mutex> lock(countsMutex_);
        (result == EWriteResult::written ? counts_.written : counts_.refused) += batch_.points;
        counts_.skipped += batch_.skippedLines;
    }
    return 0;
}

} // namespace vg57
