#include "InfluxPush.h"

#include <algorithm>
#include <deque>
#include <future>
#include <memory>
#include <vector>

namespace vg57 {

namespace {

constexpr int kMaxBackoffMs = 60'000;
constexpr int kSpacingMs = 1000;   // at most one request a second, live
constexpr int kIdleLookMs = 60000; // told of growth: looked at anyway after this

} // namespace

TInfluxPush::TInfluxPush(TArchiveFollower& follower, TInfluxWriter& writer,
                         std::function<void(const std::string&)> say)
    : follower_(follower), writer_(writer), say_(std::move(say)) {}

TInfluxPush::~TInfluxPush() {
    Stop();
}

void TInfluxPush::Start(bool told) {
    told_ = told;
    thread_ = std::thread([this] { Loop(); });
}

void TInfluxPush::Grew() {
    std::lock_guard<std::mutex> lock(mutex_);
    grown_ = true;
    // Only a thread waiting for this is woken: one that waits out the second between two
    // requests reads what came meanwhile anyway.
    if (idle_) wake_.notify_all();
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

bool TInfluxPush::WaitForGrowth() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_ = true;
    wake_.wait_for(lock, std::chrono::milliseconds(kIdleLookMs),
                   [this] { return stopping_ || grown_; });
    idle_ = false;
    return !stopping_;
}

void TInfluxPush::Loop() {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            grown_ = false; // what grows from here on is read by this step or the next
        }
        const int after = Step();
        if (after > 0) { // a failure: tried again after the back-off, whatever came meanwhile
            if (!Wait(after)) break;
            continue;
        }
        if (!Wait(kSpacingMs)) break;
        // A full batch leaves more behind; else the next waits for the writer's word.
        if (told_ && !(after == 0 && full_) && !WaitForGrowth()) break;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    wake_.notify_all();
}

TInfluxPushCounts TInfluxPush::RunToEnd(int attempts, int inFlight) {
    // A connection of its own for each request beyond the first.
    std::vector<std::unique_ptr<TInfluxWriter>> own;
    std::vector<TInfluxWriter*> idle{&writer_};
    for (int i = 1; i < inFlight; ++i) {
        own.push_back(std::make_unique<TInfluxWriter>(writer_.Target()));
        idle.push_back(own.back().get());
    }
    struct TFlight {
        TPushBatch batch;
        TInfluxWriter* writer = nullptr;
        std::future<std::pair<EWriteResult, std::string>> answer;
    };
    std::deque<TFlight> flights; // in the follower's order; references stay put at both ends
    bool atEnd = false;          // the follower had nothing more
    bool failing = false;        // a batch failed: those after it are waited for, not committed
    int wait = 0;
    for (;;) {
        while (!failing && !atEnd && !idle.empty()) {
            TFlight& f = flights.emplace_back();
            std::string problem;
            if (!follower_.Next(kMaxPoints, f.batch, problem)) {
                flights.pop_back();
                if (problem != lastProblem_) say_(problem);
                lastProblem_ = problem;
                ++failuresInRow_;
                failing = true;
                wait = backoffMs_;
                break;
            }
            if (f.batch.Empty()) {
                flights.pop_back();
                atEnd = true;
                break;
            }
            f.writer = idle.back();
            idle.pop_back();
            if (f.batch.points == 0) { // lines without a reading only: their cursor moves on
                std::promise<std::pair<EWriteResult, std::string>> none;
                none.set_value({EWriteResult::written, {}});
                f.answer = none.get_future();
            } else {
                f.answer = std::async(std::launch::async, [&writer = *f.writer, &f] {
                    std::string reason;
                    const EWriteResult result = writer.Write(f.batch.body, reason);
                    return std::make_pair(result, std::move(reason));
                });
            }
        }
        if (flights.empty()) {
            if (!failing) break; // everything read was acknowledged
            if (failuresInRow_ >= attempts) {
                std::lock_guard<std::mutex> lock(countsMutex_);
                counts_.gaveUp = true;
                break;
            }
            // Read again from the cursors, with the batches that waited behind the failed one.
            follower_.Rewind();
            failing = false;
            if (wait > 0 && !Wait(wait)) break;
            continue;
        }
        TFlight& f = flights.front();
        const auto [result, reason] = f.answer.get();
        idle.push_back(f.writer);
        if (!failing) {
            if (result == EWriteResult::failed) {
                wait = Failed(reason);
                failing = true;
            } else if (!Answered(f.batch, result, reason)) {
                wait = backoffMs_;
                failing = true;
            }
        }
        flights.pop_front();
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
        // Read again at the next try, with what the archive gained meanwhile.
        pending_ = false;
        follower_.Rewind();
        return Failed(reason);
    }
    // Not answered for the cursor: sent again (the server takes it as the same points).
    if (!Answered(batch_, result, reason)) return backoffMs_;
    pending_ = false;
    full_ = batch_.points >= kMaxPoints;
    return 0;
}

int TInfluxPush::Failed(const std::string& reason) {
    ++failuresInRow_;
    if (!away_) {
        say_("InfluxDB недоступен (" + writer_.Origin() + ": " + reason +
             "), показания ждут в архиве");
        away_ = true;
        sinceBack_ = 0;
    }
    const int wait = backoffMs_;
    backoffMs_ = std::min(backoffMs_ * 2, kMaxBackoffMs);
    return wait;
}

bool TInfluxPush::Answered(const TPushBatch& batch, EWriteResult result,
                           const std::string& reason) {
    if (result == EWriteResult::refused)
        say_("InfluxDB отверг " + std::to_string(batch.points) + " показаний: " + reason);
    std::string problem;
    if (!follower_.Commit(batch, problem)) {
        // Sent, but the cursor did not move: sent again later, which the server takes as the
        // same points.
        if (problem != lastProblem_) say_(problem);
        lastProblem_ = problem;
        ++failuresInRow_;
        return false;
    }
    lastProblem_.clear();
    failuresInRow_ = 0;
    backoffMs_ = 1000;
    if (away_) {
        away_ = false;
        catchingUp_ = true;
    }
    if (catchingUp_) {
        sinceBack_ += batch.points;
        // A batch short of the limit took all there was: the backlog is gone.
        if (batch.points < kMaxPoints) {
            say_("InfluxDB снова доступен, догружено " + std::to_string(sinceBack_) + " показаний");
            catchingUp_ = false;
        }
    }
    std::lock_guard<std::mutex> lock(countsMutex_);
    (result == EWriteResult::written ? counts_.written : counts_.refused) += batch.points;
    counts_.skipped += batch.skippedLines;
    return true;
}

} // namespace vg57
