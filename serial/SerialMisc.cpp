#include "SerialMisc.h"

#include "EventLoop.h"
#include "MonotonicClock.h"

namespace vg57 {

namespace {
std::uint32_t TickOfMs(std::uint32_t ms) {
    return ms / kTickMs;
}

// Ticks from a to b, forward, modulo the counter's wrap.
std::uint32_t TicksBetween(std::int32_t a, std::int32_t b) {
    const auto ua = static_cast<std::uint32_t>(a) % kTicksPerWrap;
    const auto ub = static_cast<std::uint32_t>(b) % kTicksPerWrap;
    return ub >= ua ? ub - ua : kTicksPerWrap - ua + ub;
}
} // namespace

std::int32_t CurrentTick() {
    return static_cast<std::int32_t>(TickOfMs(platform::MonotonicMs32()));
}

void StartTickTimerAt(TTickTimer& timer, std::int32_t ticks, std::int32_t nowTick) {
    if (ticks > kMaxTimerTicks) ticks = kMaxTimerTicks;
    if (ticks < 0) ticks = 0;
    timer.startTick = nowTick;
    timer.expireTick = static_cast<std::int32_t>(
        (static_cast<std::uint32_t>(nowTick) + static_cast<std::uint32_t>(ticks)) % kTicksPerWrap);
}

void StartTickTimer(TTickTimer& timer, std::int32_t ticks) {
    StartTickTimerAt(timer, ticks, CurrentTick());
}

bool TickTimerExpiredAt(const TTickTimer& timer, std::int32_t nowTick) {
    // Elapsed and length both count forward from the start, so the wrap cancels out.
    return TicksBetween(timer.startTick, nowTick) > TicksBetween(timer.startTick, timer.expireTick);
}

bool TickTimerExpired(const TTickTimer& timer) {
    return TickTimerExpiredAt(timer, CurrentTick());
}

std::int64_t TickTimerRemainingMs(const TTickTimer& timer) {
    const std::uint32_t nowMs = platform::MonotonicMs32();
    const auto now = static_cast<std::int32_t>(TickOfMs(nowMs));
    if (TickTimerExpiredAt(timer, now)) return 0;
    const std::uint32_t ticksLeft =
        TicksBetween(timer.startTick, timer.expireTick) - TicksBetween(timer.startTick, now) + 1;
    return static_cast<std::int64_t>(ticksLeft) * kTickMs - nowMs % kTickMs;
}

std::uint32_t YieldOnce() {
    if (platform::QuitRequested()) return kQuitMessage;
    const bool handled = platform::PumpOnce();
    if (platform::QuitRequested()) return kQuitMessage;
    return handled ? 1u : 0u;
}

void WaitForEventOrExpiry(const TTickTimer& timer) {
    if (platform::QuitRequested()) return;
    platform::WaitForEvents(platform::MonotonicMs() + TickTimerRemainingMs(timer));
}

} // namespace vg57
