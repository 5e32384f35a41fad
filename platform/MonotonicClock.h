// Milliseconds of CLOCK_MONOTONIC: the one clock every deadline and tick in the program runs on.
#pragma once

#include <cstdint>

namespace vg57::platform {

// Full-width milliseconds since an unspecified start (boot); never goes back.
std::int64_t MonotonicMs();

// The same clock in nanoseconds, for what is timed within a character (RS-485 direction).
std::int64_t MonotonicNs();

// The same counter cut to 32 bits, as the serial link's tick arithmetic expects; wraps after
// about 49.7 days.
inline std::uint32_t MonotonicMs32() {
    return static_cast<std::uint32_t>(MonotonicMs());
}

} // namespace vg57::platform
