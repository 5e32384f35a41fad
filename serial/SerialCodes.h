// The serial link's result codes: 0 or a count on success, a negative code on failure.
//
// Two kinds of negative code share the int, in ranges that cannot meet: an operating system
// error is its errno negated, made only by OsErrorCode (-1 .. -kLargestErrno), and the link's
// own codes below all lie beyond that range. So no errno can be taken for "device already open".
#pragma once

#include <cerrno>

namespace vg57 {

// Linux numbers its errors from 1 to 133 (EHWPOISON).
constexpr int kLargestErrno = 133;
static_assert(EHWPOISON == kLargestErrno, "errno numbering changed: check the ranges below");

// The code for an operating system error; a number outside the errno range counts as EIO.
constexpr int OsErrorCode(int err) {
    return err >= 1 && err <= kLargestErrno ? -err : -EIO;
}
constexpr bool IsOsErrorCode(int code) {
    return code <= -1 && code >= -kLargestErrno;
}

// The link's own codes.
constexpr int ecDeviceWrite = -160;
constexpr int ecDeviceRead = -161;
constexpr int ecBadArgument = -1002;
constexpr int ecBadId = -2001; // the device does not exist, or is no serial device
constexpr int ecCommNotOpen = -2007;
constexpr int ecAlreadyOpen = -2008; // another program holds the device
// No right to open the device (open refused with EACCES or EPERM). Ours, not -EACCES: an EACCES
// from any later step is a plain system error and must not carry the hint about the right.
constexpr int ecPermissionDenied = -2009;
constexpr int ecNoPortSelected = -2011;
constexpr int ecNullApi = -3001;
constexpr int ecOutputBufferTooSmall = -3006;
constexpr int ecBufferIsEmpty = -3007;
constexpr int ecBaseAddressNotSet = -3010;
constexpr int ecNoMoreTriggers = -5001;
constexpr int ecBadTriggerHandle = -5003;
constexpr int ecNoMemoryForChunk = -13868;

static_assert(!IsOsErrorCode(ecDeviceWrite) && !IsOsErrorCode(ecDeviceRead) &&
                  !IsOsErrorCode(ecPermissionDenied),
              "the link's own codes must lie beyond every errno");

} // namespace vg57
