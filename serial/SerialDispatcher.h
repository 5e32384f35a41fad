// The port dispatcher for one tty: opens and configures the device and runs the reader, writer
// and line-status threads beside the dispatch loop of its base.
#pragma once

#include "BaseDispatcher.h"
#include "EventFd.h"
#include "Rs485Direction.h"
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

// What the link says once per open, beside its errors: direction control that can't work as
// it should. The text names the system's reason where there is one.
enum class TLineNotice : unsigned {
    RtsToSend = 1u << 0,    // switching RTS for sending failed
    RtsToReceive = 1u << 1, // switching it back failed
    Drain = 1u << 2,        // waiting for the driver's queue to drain failed
    NoEmptyReport = 1u << 3,
    NotEmptyInTime = 1u << 4,
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
    // RS-485 direction control on or off; with it on, the RTS level while sending as chosen.
    int SetRS485(bool on, TRtsOnSend rtsOnSend = TRtsOnSend::Driver);
    int SetQueueSizes(std::uint32_t inSize, std::uint32_t outSize);

    bool DtrAuto() const;
    bool RtsAuto() const;
    bool DtrState() const;
    bool RtsState() const;
    bool RS485Mode() const;
    TRs485Direction Rs485Direction() const;
    TRs485State Rs485State() const;
    // Called on the thread that noticed, once per kind and open, with the notice's text.
    void SetNoticeCallback(std::function<void(const std::string&)> cb);
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
    void ChooseDirection(int fd); // under lock_
    void Notice(TLineNotice kind, int err);
    // Switches RTS to its sending (or receiving) level for the user-space direction control.
    void SwitchRts(int fd, bool sending);

    std::atomic<int> fd_{-1};
    std::string name_;
    platform::EventFd outputEvent_, flushEvent_, stopEvent_;

    // Guarded by the general lock (lock_).
    platform::LineTermios line_;
    bool dtrState_ = true, rtsState_ = true;
    bool dtrAuto_ = false, rtsAuto_ = false;
    bool rs485_ = false;
    TRtsOnSend rtsOnSend_ = TRtsOnSend::Driver;
    TRs485State rs485State_;
    platform::Rs485Settings savedRs485_;
    bool savedRs485Taken_ = false;
    std::uint32_t lastRate_ = 115200;
    std::uint32_t inSize_ = 4096, outSize_ = 4096;
    std::uint32_t hwOptions_ = 0;
    int swOptions_ = swfNone;
    std::uint8_t xonChar_ = 17, xoffChar_ = 19;

    std::atomic<bool> writerAboveNormal_{false};
    std::atomic<bool> userToggle_{false};
    std::atomic<bool> rtsHighWhileSending_{true};
    std::atomic<std::int64_t> charNs_{0};  // one character's time on the line at the last rate
    std::atomic<bool> lsrRefused_{false};  // the driver can't tell an empty transmitter
    std::atomic<unsigned> noticesSaid_{0}; // TLineNotice bits said since the open
    std::atomic<bool> modemUnsupported_{false};
    std::atomic<bool> countersUnsupported_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<int> lineWrites_{0};

    // Flush acknowledgements of the writer. Guarded by flushLock_.
    std::mutex flushLock_;
    std::condition_variable flushCv_;
    std::uint64_t flushAcks_ = 0;

    platform::LineCounters baseCounters_; // guarded by lock_
    std::mutex noticeLock_;
    std::function<void(const std::string&)> noticeCallback_; // guarded by noticeLock_
};

} // namespace vg57
