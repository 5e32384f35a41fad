// The serial link's result codes: 0 or a count on success, a negative code on failure.
// Codes -2..-162 other than those below are operating system error numbers, negated.
#pragma once

namespace vg57 {

constexpr int ecNotFound = -2;          // device does not exist
constexpr int ecNotFoundAlt = -3;       // device node there, no device behind it
constexpr int ecAccessDenied = -5;      // another program holds the device
constexpr int ecPermissionDenied = -13; // no right to open the device (EACCES)
constexpr int ecDeviceWrite = -160;
constexpr int ecDeviceRead = -161;
constexpr int ecBadArgument = -1002;
constexpr int ecBadId = -2001;
constexpr int ecCommNotOpen = -2007;
constexpr int ecAlreadyOpen = -2008;
constexpr int ecNoPortSelected = -2011;
constexpr int ecNullApi = -3001;
constexpr int ecOutputBufferTooSmall = -3006;
constexpr int ecBufferIsEmpty = -3007;
constexpr int ecBaseAddressNotSet = -3010;
constexpr int ecNoMoreTriggers = -5001;
constexpr int ecBadTriggerHandle = -5003;
constexpr int ecNoMemoryForChunk = -13868;

} // namespace vg57
