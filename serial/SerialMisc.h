// Helpers of the serial link also used by the command waits: the 55 ms tick timer and the
// one-pass message yield.
#pragma once

#include <cstdint>

namespace vg57 {

constexpr std::uint32_t kTickMs = 55;
// Longest timer: half the tick counter's range, so that the wrap-aware test stays unambiguous.
constexpr std::int32_t kMaxTimerTicks = 39045157;
// The 32-bit millisecond counter wraps after this many ticks (2^32 / 55, rounded up).
constexpr std::uint32_t kTicksPerWrap = 78090315;

struct TTickTimer {
    std::int32_t startTick = 0;
    std::int32_t expireTick = 0;
};

// The current tick: the 32-bit monotonic millisecond counter divided by 55.
std::int32_t CurrentTick();

// Starts a timer of `ticks` (cut to kMaxTimerTicks) from the current tick.
void StartTickTimer(TTickTimer& timer, std::int32_t ticks);
void StartTickTimerAt(TTickTimer& timer, std::int32_t ticks, std::int32_t nowTick);

// True once the current tick is past the expiry tick: a timer of n ticks ends when tick
// start + n + 1 begins (40 ticks: 2201..2255 ms). Correct across the counter's wrap.
bool TickTimerExpired(const TTickTimer& timer);
bool TickTimerExpiredAt(const TTickTimer& timer, std::int32_t nowTick);

// Milliseconds from now until the timer reports expired (0 if it already does).
std::int64_t TickTimerRemainingMs(const TTickTimer& timer);

// The message identifier that the quit request yields; it ends every wait.
constexpr std::uint32_t kQuitMessage = 18;

// Handles the pending events of the calling thread once. Returns 0 when nothing was pending,
// kQuitMessage while the application's quit request is in force (nothing is handled then, and
// the request stays for the outer loop), otherwise a non-zero value.
std::uint32_t YieldOnce();

// Blocks until an event arrives for the calling thread or the timer expires; costs no CPU while
// nothing happens. Waits call this when YieldOnce returned 0 instead of spinning.
void WaitForEventOrExpiry(const TTickTimer& timer);

} // namespace vg57
