#include "FakeUart.h"

#include "MonotonicClock.h"

#include <algorithm>
#include <cerrno>
#include <time.h>

namespace vg57::test {

namespace {

void SleepNs(std::int64_t ns) {
    const timespec t{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    clock_nanosleep(CLOCK_MONOTONIC, 0, &t, nullptr);
}

} // namespace

FakeUart::FakeUart(const Board& board) : board_(board) {
    platform::SetDeviceFaults(this);
}

FakeUart::~FakeUart() {
    platform::SetDeviceFaults(nullptr);
}

void FakeUart::Fail(platform::DeviceCall call, int err) {
    std::lock_guard lock(lock_);
    failures_[call] = err;
}

std::vector<platform::Rs485Settings> FakeUart::Asked() const {
    std::lock_guard lock(lock_);
    return asked_;
}

platform::Rs485Settings FakeUart::Held() const {
    std::lock_guard lock(lock_);
    return board_.held;
}

bool FakeUart::RtsAsserted() const {
    std::lock_guard lock(lock_);
    return rts_;
}

std::vector<FakeUart::Send> FakeUart::Sends() const {
    std::lock_guard lock(lock_);
    return sends_;
}

bool FakeUart::WaitSends(std::size_t n, int timeoutMs) const {
    const std::int64_t until = platform::MonotonicMs() + timeoutMs;
    for (;;) {
        {
            std::lock_guard lock(lock_);
            if (sends_.size() >= n && std::all_of(sends_.begin(), sends_.end(),
                                                  [](const Send& s) { return s.rtsBackNs >= 0; }))
                return true;
        }
        if (platform::MonotonicMs() >= until) return false;
        SleepNs(1000000);
    }
}

int FakeUart::Inject(platform::DeviceCall call) {
    std::lock_guard lock(lock_);
    const auto it = failures_.find(call);
    return it == failures_.end() ? 0 : it->second;
}

int FakeUart::ModemLine(int line, bool on) {
    if (!board_.modemLines) return ENOTTY;
    if (line != platform::kLineRts) return 0;
    const std::int64_t now = platform::MonotonicNs();
    std::lock_guard lock(lock_);
    rts_ = on;
    if (!sends_.empty() && sends_.back().rtsBackNs < 0 &&
        sends_.back().rtsAssertedWhileSending != on)
        sends_.back().rtsBackNs = now;
    return 0;
}

int FakeUart::ModemLines(int& lines) {
    if (!board_.modemLines) return ENOTTY;
    std::lock_guard lock(lock_);
    lines = rts_ ? platform::kLineRts : 0;
    return 0;
}

int FakeUart::GetRs485(platform::Rs485Settings& settings) {
    if (!board_.rs485) return ENOTTY;
    std::lock_guard lock(lock_);
    settings = board_.held;
    return 0;
}

int FakeUart::SetRs485(const platform::Rs485Settings& settings) {
    if (!board_.rs485) return ENOTTY;
    std::lock_guard lock(lock_);
    asked_.push_back(settings);
    if (!board_.acceptsSet) return EINVAL;
    board_.held = settings;
    return 0;
}

std::int64_t FakeUart::TxEnd() const {
    std::lock_guard lock(lock_);
    return txEndNs_;
}

int FakeUart::TransmitterEmpty(bool& empty) {
    if (!board_.lsr) return ENOTTY;
    empty = board_.lsrStale || platform::MonotonicNs() >= TxEnd();
    return 0;
}

int FakeUart::Drain() {
    switch (board_.drain) {
    case DrainKind::Exact:
        if (const std::int64_t rest = TxEnd() - platform::MonotonicNs(); rest > 0) SleepNs(rest);
        break;
    case DrainKind::AtOnce:
        break;
    case DrainKind::CorePolling:
        while (platform::MonotonicNs() < TxEnd())
            SleepNs(8000000); // 2 jiffies at HZ=250
        break;
    }
    return 0;
}

void FakeUart::Wrote(std::size_t n) {
    const std::int64_t now = platform::MonotonicNs();
    const std::int64_t charNs = 1000000000LL * board_.bitsPerChar / board_.rate;
    std::lock_guard lock(lock_);
    txEndNs_ = std::max(txEndNs_, now) + static_cast<std::int64_t>(n) * charNs;
    if (sends_.empty() || sends_.back().rtsBackNs >= 0)
        sends_.push_back({rts_, txEndNs_});
    else
        sends_.back().endNs = txEndNs_;
}

} // namespace vg57::test
