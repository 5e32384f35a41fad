// The serial link's exceptions: one class per result code, in a tree under ESerialException.
#pragma once

#include <stdexcept>
#include <string>

namespace vg57 {

class ESerialException : public std::runtime_error {
public:
    ESerialException(int code, const std::string& message, std::string detail = {})
        : std::runtime_error(message), errorCode_(code), detail_(std::move(detail)) {}
    int ErrorCode() const { return errorCode_; }
    // What a person can act on beyond the fixed message: the port, the device, the OS's words.
    const std::string& Detail() const { return detail_; }

private:
    int errorCode_;
    std::string detail_;
};

#define VG57_SERIAL_EXCEPTION(Name, Base)                                                          \
    class Name : public Base {                                                                     \
    public:                                                                                        \
        using Base::Base;                                                                          \
    };

VG57_SERIAL_EXCEPTION(EGeneral, ESerialException)
VG57_SERIAL_EXCEPTION(EBadArgument, EGeneral)
VG57_SERIAL_EXCEPTION(EOpenComm, ESerialException)
VG57_SERIAL_EXCEPTION(EBadId, EOpenComm)
VG57_SERIAL_EXCEPTION(ECommNotOpen, EOpenComm)
VG57_SERIAL_EXCEPTION(EAlreadyOpen, EOpenComm)
VG57_SERIAL_EXCEPTION(ENoPortSelected, EOpenComm)
VG57_SERIAL_EXCEPTION(ESerialIO, ESerialException)
VG57_SERIAL_EXCEPTION(ENullApi, ESerialIO)
VG57_SERIAL_EXCEPTION(EOutputBufferTooSmall, ESerialIO)
VG57_SERIAL_EXCEPTION(EBufferIsEmpty, ESerialIO)
VG57_SERIAL_EXCEPTION(EBaseAddressNotSet, ESerialIO)
VG57_SERIAL_EXCEPTION(ETrigger, ESerialException)
VG57_SERIAL_EXCEPTION(ENoMoreTriggers, ETrigger)
VG57_SERIAL_EXCEPTION(EBadTriggerHandle, ETrigger)
VG57_SERIAL_EXCEPTION(EPacket, ESerialException)
VG57_SERIAL_EXCEPTION(EInvalidProperty, EPacket)

#undef VG57_SERIAL_EXCEPTION

// The runtime's input/output error: an operating system error number and its text.
class EInOutError : public std::runtime_error {
public:
    EInOutError(int errorCode, const std::string& message, std::string detail = {})
        : std::runtime_error(message), errorCode_(errorCode), detail_(std::move(detail)) {}
    int ErrorCode() const { return errorCode_; }
    const std::string& Detail() const { return detail_; }

private:
    int errorCode_;
    std::string detail_;
};

// The message that belongs to a code (for an operating system error: its text).
std::string SerialErrorMessage(int code);

// Raises the exception that belongs to a negative code; detail names the port or device.
// An operating system error raises EInOutError with its errno (ENOMEM: std::bad_alloc), as do
// -160 .. -162; ecPermissionDenied raises it with EACCES and says how to get the right.
[[noreturn]] void RaiseSerialError(int code, const std::string& detail = {});

// Raises for a negative code and returns a non-negative one.
inline int CheckSerial(int code, const std::string& detail = {}) {
    if (code < 0) RaiseSerialError(code, detail);
    return code;
}

} // namespace vg57
