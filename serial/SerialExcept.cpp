#include "SerialExcept.h"

#include "SerialCodes.h"
#include "SerialDevice.h"

#include <cerrno>
#include <new>

namespace vg57 {

namespace {

// Turns control characters into blanks and runs of blanks into one.
std::string Tidy(const std::string& text) {
    std::string out;
    for (char c : text) {
        const char d = static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
        if (d == ' ' && !out.empty() && out.back() == ' ') continue;
        out += d;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

} // namespace

std::string SerialErrorMessage(int code) {
    switch (code) {
    case ecBadId:
        return "ie_BadId - Specified comport doesn't exist";
    case ecAlreadyOpen:
        return "ie_Open - device already open";
    case ecPermissionDenied:
        return Tidy(platform::OsErrorText(EACCES));
    case ecCommNotOpen:
        return "ie_NOpen - device not open";
    case ecNoPortSelected:
        return "The ComNumber property of the TComPort has not been set";
    case ecNullApi:
        return "No device layer specified";
    case ecOutputBufferTooSmall:
        return "Output buffer too small for block";
    case ecBufferIsEmpty:
        return "Buffer is empty";
    case ecBaseAddressNotSet:
        return "Base address not set";
    case ecBadArgument:
        return "Bad argument passed to function";
    case ecNoMoreTriggers:
        return "No more trigger slots";
    case ecBadTriggerHandle:
        return "Bad trigger handle";
    case -5501:
        return "Start string is empty";
    case -5502:
        return "Packet size cannot be smaller than start string";
    case -5503:
        return "CharCount packets must have an end-condition";
    case -5504:
        return "End string is empty";
    case -5505:
        return "Packet size cannot be zero";
    case ecDeviceWrite:
        return "Device write error";
    case ecDeviceRead:
        return "Device read error";
    default:
        break;
    }
    // Our operating system codes are Linux errno values: their text is the system's own.
    if (IsOsErrorCode(code)) return Tidy(platform::OsErrorText(-code));
    if (code == -162) return "General failure";
    return "Serial link exception";
}

void RaiseSerialError(int code, const std::string& detail) {
    const std::string msg = SerialErrorMessage(code);
    switch (code) {
    case ecBadId:
        throw EBadId(code, msg, detail);
    case ecAlreadyOpen:
        throw EAlreadyOpen(code, msg, detail);
    case ecCommNotOpen:
        throw ECommNotOpen(code, msg, detail);
    case ecNoPortSelected:
        throw ENoPortSelected(code, msg, detail);
    case ecNullApi:
        throw ENullApi(code, msg, detail);
    case ecOutputBufferTooSmall:
        throw EOutputBufferTooSmall(code, msg, detail);
    case ecBufferIsEmpty:
        throw EBufferIsEmpty(code, msg, detail);
    case ecBaseAddressNotSet:
        throw EBaseAddressNotSet(code, msg, detail);
    case ecBadArgument:
        throw EBadArgument(code, msg, detail);
    case ecNoMoreTriggers:
        throw ENoMoreTriggers(code, msg, detail);
    case ecBadTriggerHandle:
        throw EBadTriggerHandle(code, msg, detail);
    case -5501:
    case -5502:
    case -5503:
    case -5504:
    case -5505:
        throw EInvalidProperty(code, msg, detail);
    case OsErrorCode(ENOMEM):
        throw std::bad_alloc();
    case ecPermissionDenied:
        throw EInOutError(EACCES,
                          msg + (detail.empty() ? "" : ": " + detail) +
                              ". Serial devices belong to the group 'dialout': add the user to it "
                              "(sudo adduser $USER dialout) and log in again.",
                          detail);
    default:
        break;
    }
    if (IsOsErrorCode(code) || (code <= ecDeviceWrite && code >= -162))
        throw EInOutError(-code, msg, detail);
    throw ESerialException(code, msg, detail);
}

} // namespace vg57
