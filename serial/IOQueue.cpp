#include "IOQueue.h"

#include "MonotonicClock.h"

namespace vg57 {

void TIOQueue::Append(std::unique_ptr<TIOBuffer> buffer) {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(buffer));
    ++appends_;
    cv_.notify_all();
}

bool TIOQueue::Wait(std::int64_t deadlineMs, bool newOnly) {
    std::unique_lock lock(mutex_);
    const std::uint64_t seen = appends_;
    auto ready = [&] { return (newOnly ? appends_ != seen : !entries_.empty()) || kicked_; };
    if (deadlineMs < 0) {
        cv_.wait(lock, ready);
    } else {
        const std::int64_t left = deadlineMs - platform::MonotonicMs();
        if (left > 0) cv_.wait_for(lock, std::chrono::milliseconds(left), ready);
    }
    kicked_ = false;
    return !entries_.empty();
}

void TIOQueue::Kick() {
    std::lock_guard lock(mutex_);
    kicked_ = true;
    cv_.notify_all();
}

bool TIOQueue::Empty() const {
    std::lock_guard lock(mutex_);
    return entries_.empty();
}

void TIOQueue::Clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

} // namespace vg57
