// The serial port component: one serial device with its line settings as properties. It opens
// and closes the device through a dispatcher it creates at every open, queues outgoing text,
// tells its users when it opens and closes, and turns failures into exceptions.
#pragma once

#include "SerialDispatcher.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vg57 {

enum TParity : int { pNone, pOdd, pEven, pMark, pSpace };
using THWFlowOptions = std::uint32_t; // bits of THWFlowOption
enum TTraceLogState : int { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause, tlAppendAndContinue };
enum TDeviceLayer : int { dlWin32, dlWinsock };
enum TTapiMode : int { tmNone, tmAuto, tmOn, tmOff };
// portDestroying: the port component goes away; its users let go of it.
enum TPortEvent : int { portOpened, portClosing, portClosed, portDestroying };

class TComPort;
using TPortCallback = std::function<void(TComPort& port, TPortEvent event)>;
using TNotifyEvent = std::function<void(TComPort& sender)>;

// Asks the operator for a port when none is chosen; returns its number, or 0 for Cancel.
using TPortPrompt = std::function<int()>;

// Used from the user-interface thread only. Inside a packet event (a call handed over by the
// dispatch thread) the port may be closed, reopened or given another number; it must not be
// destroyed there, since destroying waits for that very thread.
class TComPort {
public:
    TComPort();
    ~TComPort();
    TComPort(const TComPort&) = delete;
    TComPort& operator=(const TComPort&) = delete;

    // ---- published settings ----
    std::uint16_t ComNumber() const { return comNumber_; }
    void SetComNumber(std::uint16_t v);
    std::int32_t Baud() const { return baud_; }
    void SetBaud(std::int32_t v);
    TParity Parity() const { return parity_; }
    void SetParity(TParity v);
    std::uint16_t DataBits() const { return dataBits_; }
    void SetDataBits(std::uint16_t v);
    std::uint16_t StopBits() const { return stopBits_; }
    void SetStopBits(std::uint16_t v);
    std::uint16_t InSize() const { return inSize_; }
    void SetInSize(std::uint16_t v);
    std::uint16_t OutSize() const { return outSize_; }
    void SetOutSize(std::uint16_t v);
    bool AutoOpen() const { return autoOpen_; }
    void SetAutoOpen(bool v) { autoOpen_ = v; }
    // True from a successful open until the close has completed (also while it is deferred).
    bool Open() const { return open_; }
    void SetOpen(bool v);
    bool PromptForPort() const { return promptForPort_; }
    void SetPromptForPort(bool v) { promptForPort_ = v; }
    bool DTR() const { return dtr_; }
    void SetDTR(bool v);
    bool RTS() const { return rts_; }
    void SetRTS(bool v);
    THWFlowOptions HWFlowOptions() const { return hwFlow_; }
    void SetHWFlowOptions(THWFlowOptions v);
    TSWFlowOptions SWFlowOptions() const { return swFlow_; }
    void SetSWFlowOptions(TSWFlowOptions v);
    char XOnChar() const { return xonChar_; }
    void SetXOnChar(char v);
    char XOffChar() const { return xoffChar_; }
    void SetXOffChar(char v);
    std::uint16_t BufferFull() const { return bufferFull_; }
    void SetBufferFull(std::uint16_t v);
    std::uint16_t BufferResume() const { return bufferResume_; }
    void SetBufferResume(std::uint16_t v);
    bool RS485Mode() const { return rs485_; }
    void SetRS485Mode(bool v);
    // The RTS level while sending in RS-485 mode; applied at once while open.
    TRtsOnSend RtsOnSend() const { return rtsOnSend_; }
    void SetRtsOnSend(TRtsOnSend v);
    // Which RS-485 direction control is in force, in words; while closed, which one was at the
    // last open of this port number (empty if none).
    std::string Rs485Text() const;
    // The traffic trace and log are not part of this system: the settings are kept, no more.
    TTraceLogState Tracing() const { return tracing_; }
    void SetTracing(TTraceLogState v) { tracing_ = v; }
    TTraceLogState Logging() const { return logging_; }
    void SetLogging(TTraceLogState v) { logging_ = v; }
    std::uint32_t TraceSize() const { return traceSize_; }
    void SetTraceSize(std::uint32_t v) { traceSize_ = std::min<std::uint32_t>(v, 4000000); }
    std::uint32_t LogSize() const { return logSize_; }
    void SetLogSize(std::uint32_t v) { logSize_ = std::min<std::uint32_t>(v, 16000000); }
    std::string TraceName = "SERIAL.TRC", LogName = "SERIAL.LOG";
    bool TraceHex = true, LogHex = true, TraceAllHex = false, LogAllHex = false;
    bool UseEventWord = true;
    std::uint16_t CommNotificationLevel = 10;
    TDeviceLayer DeviceLayer = dlWin32;
    TTapiMode TapiMode = tmAuto;

    TNotifyEvent OnPortOpen, OnPortClose;
    // Raised once on the user-interface thread when the device is lost (a pulled adapter): the
    // port stays open but carries nothing until it is closed and opened again.
    TNotifyEvent OnDeviceLost;
    // Raised on the user-interface thread with what the link says once per open beside its
    // errors (direction control that can't work as it should), the port named in the text.
    std::function<void(TComPort& sender, const std::string& text)> OnLineNotice;

    // ---- operations ----
    // Hands the text to the dispatcher and returns at once; opens the port first when closed
    // and AutoOpen is on; ignored while the port is closing.
    void WriteText(const std::string& text);

    void RegisterPortUser(TPortCallback callback, const void* object);
    void UnregisterPortUser(const void* object);

    // The dispatcher of the open port; opens the port first when closed and AutoOpen is on.
    TSerialDispatcher& Dispatcher();
    // The dispatcher if the port is open, without opening it (none while a close is deferred).
    TSerialDispatcher* CurrentDispatcher() const { return dispatcher_.get(); }

    // A device opened in place of COM<ComNumber>'s (a service names its adapter by path, so that a
    // renumbering can never give it another gauge); empty: the port map decides. No prompt for a
    // port is shown while it is set.
    const std::string& FixedDevice() const { return fixedDevice_; }
    void SetFixedDevice(std::string path) { fixedDevice_ = std::move(path); }
    // The device that the port opens (empty if none), and the loss of an open device.
    std::string DevicePath() const;
    // The device the open port opened (empty while closed): what a lost adapter was.
    const std::string& OpenedDevice() const { return device_; }
    bool DeviceLost() const;
    std::string DeviceLossText() const;

    // How the port chooser is shown (the program installs the dialog).
    static void SetPortPrompt(TPortPrompt prompt);

private:
    enum class TOpenState { closed, open, closing };
    void DoOpen();
    void DoClose();
    void FinishRelease();
    void ReapRetired();
    void ApplyAfterOpen();
    void ApplyHandshake();
    void ApplySoftwareHandshake();
    void ApplyRS485();
    void ApplyHandshakeChars();
    void ApplyLine();
    void Notify(TPortEvent e);
    bool RequireOpenForChange();
    std::string PortLabel() const;
    std::uint16_t EffectiveFull(bool software) const;
    std::uint16_t EffectiveResume(bool software) const;

    std::uint16_t comNumber_ = 0;
    std::int32_t baud_ = 19200;
    TParity parity_ = pNone;
    std::uint16_t dataBits_ = 8, stopBits_ = 1;
    std::uint16_t inSize_ = 4096, outSize_ = 4096;
    bool autoOpen_ = true, open_ = false, promptForPort_ = true;
    bool dtr_ = true, rts_ = true;
    THWFlowOptions hwFlow_ = 0;
    TSWFlowOptions swFlow_ = swfNone;
    char xonChar_ = 17, xoffChar_ = 19;
    std::uint16_t bufferFull_ = 0, bufferResume_ = 0;
    bool rs485_ = false;
    TRtsOnSend rtsOnSend_ = TRtsOnSend::Driver;
    std::string lastRs485Text_; // the direction control at the last open, while the number stays
    TTraceLogState tracing_ = tlOff, logging_ = tlOff;
    std::uint32_t traceSize_ = 10000, logSize_ = 10000;

    TOpenState state_ = TOpenState::closed;
    std::unique_ptr<TSerialDispatcher> dispatcher_;
    // Closed from inside their own packet events: destroyed once their threads have ended.
    std::vector<std::unique_ptr<TSerialDispatcher>> retiring_;
    std::string device_; // what the open dispatcher opened
    std::string fixedDevice_;
    struct User {
        TPortCallback callback;
        const void* object;
    };
    std::vector<User> users_;
    std::vector<TBaseDispatcher::TTimerSlotCopy> savedTimers_;
    bool lossReported_ = false;
    std::shared_ptr<TComPort*> alive_; // queued calls from worker threads check it
};

} // namespace vg57
