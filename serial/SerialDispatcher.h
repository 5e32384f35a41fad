// The port dispatcher for one tty: opens and configures the device and runs the reader, writer
// and line-status threads beside the dispatch loop of its base.
#pragma once

#include "BaseDispatcher.h"
#include "EventFd.h"
#include "SerialDevice.h"
#include "TermiosRules.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace vg57 {

// Line options of OpenDevice.
enum : std::uint32_t { loDTR = 0x01, loRTS = 0x02, loUseDTR = 0x10, loUseRTS = 0x20 };

// Hardware handshake options, as a bit set.
enum THWFlowOption : std::uint32_t {
    hwfUseDTR = 0x01,
    hwfUseRTS = 0x02,
    hwfRequireDSR = 0x04,
    hwfRequireCTS = 0x08,
};
enum TSWFlowOptions : int { swfNone, swfReceive, swfTransmit, swfBoth };

// How RTS follows transmission while RS-485 mode is on.
enum class TRs485Direction {
    Off,        // RS-485 mode off
    Driver,     // the driver raises RTS while it sends (TIOCSRS485)
    UserToggle, // we raise RTS, write, wait for the transmitter to empty, drop RTS
    None,       // no modem control at all (pseudo-terminal, self-switching adapter): plain writes
};

class TReadThread;
class TWriteThread;
class TStatusThread;

class TSerialDispatcher : public TBaseDispatcher {
public:
    TSerialDispatcher();
    ~TSerialDispatcher() override;

    // Opens the device (a path), sets its line, discards what waited on the line, and starts
    // the threads; 0 or a negative code: ecBadId (no such device, or no terminal),
    // ecAlreadyOpen (held by another program), ecPermissionDenied (no right to open it),
    // otherwise the OsErrorCode of what the system said. On failure nothing is left open.
    int OpenDevice(const std::string& name, std::uint32_t rate, int parity, int dataBits,
                   int stopBits, std::uint32_t inSize, std::uint32_t outSize,
                   std::uint32_t lineOptions);
    // Discards unsent output and undelivered input, stops the threads, closes the device.
    void CloseDevice();
    bool DeviceOpen() const { return fd_.load() >= 0; }
    const std::string& DeviceName() const { return name_; }

    int ApplyLineSettings(std::uint32_t rate, int parity, int dataBits, int stopBits);
    int SetHandshake(std::uint32_t bufferFull, std::uint32_t bufferResume, std::uint32_t options);
    int SetSoftwareHandshake(int swOptions, std::uint32_t bufferFull, std::uint32_t bufferResume);
    int SetHandshakeChars(std::uint8_t xonChar, std::uint8_t xoffChar);
    // 0 done, 1 when the line is driven by the driver (or by RS-485 direction) and left alone.
    int SetDTRLine(bool on);
    int SetRTSLine(bool on);
    int SetRS485(bool on);
    int SetQueueSizes(std::uint32_t inSize, std::uint32_t outSize);

    bool DtrAuto() const;
    bool RtsAuto() const;
    bool DtrState() const;
    bool RtsState() const;
    bool RS485Mode() const;
    TRs485Direction Rs485Direction() const;
    std::uint32_t LastAppliedRate() const;
    platform::LineTermios LineSettings() const;
    // Attribute writes made to the device since the open (to prove that unchanged settings
    // touch nothing).
    int LineWrites() const { return lineWrites_.load(); }

protected:
    void OnOutputQueued() override;
    void OnStopRequested() override;
    std::uint8_t ReadModemStatus() override;
    std::uint32_t ReadLineErrors() override;

private:
    friend class TReadThread;
    friend class TWriteThread;
    friend class TStatusThread;

    int SetUpDevice(int fd, std::uint32_t rate, int parity, int dataBits, int stopBits,
                    std::uint32_t inSize, std::uint32_t outSize, std::uint32_t lineOptions);
    int WriteLine(const platform::LineTermios& t); // under lock_
    int RewriteHandshake();                        // under lock_
    void StopThreads();
    void ReleaseDevice();
    void AckFlush();

    std::atomic<int> fd_{-1};
    std::string name_;
    platform::EventFd outputEvent_, flushEvent_, stopEvent_;

    // Guarded by the general lock (lock_).
    platform::LineTermios line_;
    bool dtrState_ = true, rtsState_ = true;
    bool dtrAuto_ = false, rtsAuto_ = false;
    bool rs485_ = false;
    TRs485Direction direction_ = TRs485Direction::Off;
    platform::Rs485Saved savedRs485_;
    bool savedRs485Taken_ = false;
    std::uint32_t lastRate_ = 115200;
    std::uint32_t inSize_ = 4096, outSize_ = 4096;
    std::uint32_t hwOptions_ = 0;
    int swOptions_ = swfNone;
    std::uint8_t xonChar_ = 17, xoffChar_ = 19;

    std::atomic<bool> writerAboveNormal_{false};
    std::atomic<bool> userToggle_{false};
    std::atomic<bool> modemUnsupported_{false};
    std::atomic<bool> countersUnsupported_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<int> lineWrites_{0};

    // Flush acknowledgements of the writer. Guarded by flushLock_.
    std::mutex flushLock_;
    std::condition_variable flushCv_;
    std::uint64_t flushAcks_ = 0;

    platform::LineCounters baseCounters_; // guarded by lock_
};

} // namespace vg57
