#include "Rs485Direction.h"

#include <algorithm>

namespace vg57 {

using platform::kRs485Enabled;
using platform::kRs485RtsAfterSend;
using platform::kRs485RtsOnSend;

namespace {

constexpr std::uint32_t kPolarity = kRs485RtsOnSend | kRs485RtsAfterSend;

// The polarity bits the driver states, or 0 when it states none (or, meaninglessly, both).
std::uint32_t StatedPolarity(const platform::Rs485Settings& s) {
    const std::uint32_t p = s.flags & kPolarity;
    return p == kPolarity ? 0 : p;
}

} // namespace

platform::Rs485Settings Rs485Request(const platform::Rs485Settings& held, TRtsOnSend choice) {
    platform::Rs485Settings want = held;
    std::uint32_t polarity = StatedPolarity(held);
    if (choice == TRtsOnSend::High || polarity == 0) polarity = kRs485RtsOnSend;
    if (choice == TRtsOnSend::Low) polarity = kRs485RtsAfterSend;
    want.flags = (held.flags & ~kPolarity) | kRs485Enabled | polarity;
    return want;
}

bool RtsHighWhileSending(const platform::Rs485Settings* held, TRtsOnSend choice) {
    if (choice != TRtsOnSend::Driver) return choice == TRtsOnSend::High;
    return !held || StatedPolarity(*held) != kRs485RtsAfterSend;
}

std::string DescribeRs485(const TRs485State& s) {
    const std::string level =
        s.rtsHighWhileSending ? "RTS высокий при передаче" : "RTS низкий при передаче";
    switch (s.direction) {
    case TRs485Direction::Off:
        return "RS-485 выключен";
    case TRs485Direction::Driver:
        return "направление RS-485 переключает драйвер (" + level + ", задержки " +
               std::to_string(s.delayBeforeMs) + "/" + std::to_string(s.delayAfterMs) + " мс)";
    case TRs485Direction::UserToggle:
        return "направление RS-485 переключает программа (" + level + ")";
    case TRs485Direction::None:
        return "направление RS-485 не переключается: у порта нет линии RTS";
    }
    return {};
}

int BitsPerCharacter(const platform::LineTermios& line) {
    return 1 + platform::DataBitsOf(line) +
           (platform::ParityOf(line) != platform::kParityNone ? 1 : 0) + platform::StopBitsOf(line);
}

std::int64_t TransmitNs(std::size_t n, int bitsPerChar, std::uint32_t rate) {
    if (rate == 0) return 0;
    return static_cast<std::int64_t>(n) * bitsPerChar * 1000000000LL / rate;
}

std::int64_t PollStepNs(std::int64_t remainingNs) {
    // Far from the end, one sleep to 0.2 ms before it: every wake-up is a chance for a busy
    // machine to wake us late, so there are few. Near the end and past it (a driver that started
    // late) a look every 0.1 ms keeps the drop within a fraction of the 0.5 ms allowed.
    constexpr std::int64_t kNearNs = 100000;
    if (remainingNs > 4 * kNearNs) return remainingNs - 2 * kNearNs;
    return std::max(remainingNs / 2, kNearNs);
}

std::int64_t HoldMarginNs(std::int64_t transmitNs) {
    return transmitNs / 8 + 20000000; // 12.5 % of clock error, 20 ms of a late start
}

} // namespace vg57
