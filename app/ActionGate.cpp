#include "ActionGate.h"

#include <QScopeGuard>

#include <algorithm>

namespace vg57 {

TActionGate::TScope::TScope(TActionGate& gate) : gate_(gate) {
    ++gate_.depth_;
}

TActionGate::TScope::~TScope() {
    gate_.Leave();
}

void TActionGate::Leave() {
    --depth_;
    if (depth_ == 0 && !queue_.empty() && !draining_ && scheduleDrain) scheduleDrain();
}

void TActionGate::RunNow(const TEnabled& enabled, const TRun& run) {
    if (enabled && !enabled()) return;
    TScope scope(*this);
    run();
}

void TActionGate::Close() {
    closed_ = true;
    std::deque<TPending> dropped;
    dropped.swap(queue_);
    for (const TPending& p : dropped)
        if (p.onLeave) p.onLeave();
}

void TActionGate::Trigger(const std::string& key, TEnabled enabled, TRun run, TRun onQueued,
                          TRun onLeave) {
    if (closed_) return;
    if (depth_ == 0 && queue_.empty()) {
        RunNow(enabled, run);
        return;
    }
    const bool already =
        std::any_of(queue_.begin(), queue_.end(), [&](const TPending& p) { return p.key == key; });
    if (!already) queue_.push_back({key, std::move(enabled), std::move(run), std::move(onLeave)});
    if (onQueued) onQueued();
    if (depth_ == 0 && !draining_ && scheduleDrain) scheduleDrain();
}

void TActionGate::Drain() {
    if (draining_ || closed_) return;
    draining_ = true;
    const auto reset = qScopeGuard([this] { draining_ = false; });
    while (depth_ == 0 && !queue_.empty()) {
        TPending next = std::move(queue_.front());
        queue_.pop_front();
        if (next.onLeave) next.onLeave(); // run or dropped, its cut ends here
        RunNow(next.enabled, next.run);
    }
}

} // namespace vg57
