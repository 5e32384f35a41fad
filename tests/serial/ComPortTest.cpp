// The port component on pseudo-terminals mapped as COM ports.
#include "ComPort.h"
#include "DataPacket.h"
#include "EventLoop.h"
#include "SerialCodes.h"
#include "SerialExcept.h"
#include "SerialMisc.h"

#include "MainWindowLink.h"
#include "Pty.h"
#include "TempDir.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

#include <thread>

using namespace vg57;
using vg57::test::Frame;
using vg57::test::PtyPair;
using vg57::test::PumpUntil;
using vg57::test::TempPortMap;

namespace {

constexpr int kCom = 31;

class ComPortTest : public ::testing::Test {
protected:
    ComPortTest() { map.Link(kCom, pty.SlavePath()); }
    void MainWindowSettings(TComPort& p) { test::MainWindowPort(p, kCom); }
    TempPortMap map;
    PtyPair pty;
};

template <typename E> std::string MessageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return "(nothing raised)";
}

} // namespace

// ---- opening ----

TEST_F(ComPortTest, aNumberWithNoDeviceIsBadId) {
    TComPort p;
    p.SetComNumber(49);
    EXPECT_EQ(MessageOf<EBadId>([&] { p.SetOpen(true); }),
              "ie_BadId - Specified comport doesn't exist");
    EXPECT_FALSE(p.Open());
    EXPECT_EQ(p.CurrentDispatcher(), nullptr) << "no thread may remain";
}

TEST_F(ComPortTest, aLinkToAMissingDeviceIsBadIdAndNamesTheDevice) {
    map.Link(48, "/dev/ttyUSB-not-plugged-in");
    TComPort p;
    p.SetComNumber(48);
    try {
        p.SetOpen(true);
        FAIL() << "opened a missing device";
    } catch (const EBadId& e) {
        EXPECT_EQ(e.ErrorCode(), ecBadId);
        EXPECT_NE(e.Detail().find("COM48"), std::string::npos);
        EXPECT_NE(e.Detail().find("/dev/ttyUSB-not-plugged-in"), std::string::npos);
    }
}

TEST_F(ComPortTest, aDeviceHeldElsewhereIsAlreadyOpen) {
    TComPort first, second;
    first.SetComNumber(kCom);
    second.SetComNumber(kCom);
    first.SetOpen(true);
    EXPECT_EQ(MessageOf<EAlreadyOpen>([&] { second.SetOpen(true); }),
              "ie_Open - device already open");
    EXPECT_FALSE(second.Open());
}

TEST(ComPortErrors, permissionDeniedTellsHowToGetTheRight) {
    try {
        RaiseSerialError(ecPermissionDenied, "COM3 (/dev/ttyUSB0)");
        FAIL();
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), 13);
        const std::string m = e.what();
        EXPECT_NE(m.find("Permission denied"), std::string::npos) << m;
        EXPECT_NE(m.find("/dev/ttyUSB0"), std::string::npos) << m;
        EXPECT_NE(m.find("dialout"), std::string::npos) << m;
    }
}

TEST(ComPortErrors, everyCodeRaisesItsClassWithItsMessage) {
    struct Row {
        int code;
        const char* message;
    };
    const Row rows[] = {
        {ecCommNotOpen, "ie_NOpen - device not open"},
        {ecNoPortSelected, "The ComNumber property of the TComPort has not been set"},
        {ecNullApi, "No device layer specified"},
        {ecOutputBufferTooSmall, "Output buffer too small for block"},
        {ecBufferIsEmpty, "Buffer is empty"},
        {ecBaseAddressNotSet, "Base address not set"},
        {ecBadArgument, "Bad argument passed to function"},
        {ecNoMoreTriggers, "No more trigger slots"},
        {ecBadTriggerHandle, "Bad trigger handle"},
        {-9999, "Serial link exception"}};
    for (const auto& r : rows) {
        try {
            RaiseSerialError(r.code);
        } catch (const ESerialException& e) {
            EXPECT_EQ(e.ErrorCode(), r.code);
            EXPECT_STREQ(e.what(), r.message);
        }
    }
    EXPECT_THROW(RaiseSerialError(ecNoPortSelected), EOpenComm);
    EXPECT_THROW(RaiseSerialError(ecBufferIsEmpty), ESerialIO);
    EXPECT_THROW(RaiseSerialError(ecBadTriggerHandle), ETrigger);
    EXPECT_THROW(RaiseSerialError(ecBadArgument), EGeneral);
    EXPECT_THROW(RaiseSerialError(OsErrorCode(ENOMEM)), std::bad_alloc);
    try {
        RaiseSerialError(OsErrorCode(EIO));
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), 5);
        EXPECT_STREQ(e.what(), "Input/output error");
    }
}

TEST_F(ComPortTest, noPortNumberAndNoPromptIsNoPortSelected) {
    TComPort p;
    p.SetPromptForPort(false);
    EXPECT_THROW(p.SetOpen(true), ENoPortSelected);
    TComPort::SetPortPrompt([] { return 0; }); // the operator cancels the chooser
    p.SetPromptForPort(true);
    EXPECT_THROW(p.SetOpen(true), ENoPortSelected);
    TComPort::SetPortPrompt([] { return kCom; });
    p.SetOpen(true);
    EXPECT_EQ(p.ComNumber(), kCom);
    TComPort::SetPortPrompt(nullptr);
}

TEST_F(ComPortTest, openingAnOpenPortAndClosingAClosedOneDoNothing) {
    TComPort p;
    int opens = 0, closes = 0;
    p.OnPortOpen = [&](TComPort&) { ++opens; };
    p.OnPortClose = [&](TComPort&) { ++closes; };
    p.SetComNumber(kCom);
    p.SetOpen(false);
    p.SetOpen(true);
    auto* d = p.CurrentDispatcher();
    p.SetOpen(true);
    EXPECT_EQ(p.CurrentDispatcher(), d);
    p.SetOpen(false);
    p.SetOpen(false);
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(closes, 1);
}

TEST_F(ComPortTest, theMainWindowLine) {
    TComPort p;
    MainWindowSettings(p);
    p.SetOpen(true);
    auto& d = *p.CurrentDispatcher();
    EXPECT_TRUE(d.DtrState()) << "DTR raised";
    EXPECT_TRUE(d.RtsAuto()) << "RTS driven by the direction control";
    EXPECT_TRUE(d.RS485Mode());
    EXPECT_EQ(p.HWFlowOptions(), 0u) << "no handshake";
    EXPECT_EQ(d.LastAppliedRate(), 9600u);
    EXPECT_EQ(platform::ParityOf(d.LineSettings()), platform::kParityOdd);
    EXPECT_EQ(d.LineSettings().iflag & 020, 0u) << "received parity not checked (INPCK)";
}

// ---- settings ----

TEST_F(ComPortTest, settingsWhileClosedAreStoredForTheNextOpen) {
    TComPort p;
    p.SetComNumber(kCom);
    p.SetBaud(4800);
    p.SetParity(pEven);
    p.SetStopBits(2);
    EXPECT_EQ(p.CurrentDispatcher(), nullptr) << "no device touched";
    p.SetOpen(true);
    const auto line = p.CurrentDispatcher()->LineSettings();
    EXPECT_EQ(platform::RateOf(line), 4800u);
    EXPECT_EQ(platform::ParityOf(line), platform::kParityEven);
    EXPECT_EQ(platform::StopBitsOf(line), 2);
}

TEST_F(ComPortTest, settingsWhileOpenApplyAtOnceAndUnchangedOnesWriteNothing) {
    TComPort p;
    MainWindowSettings(p);
    p.SetOpen(true);
    auto& d = *p.CurrentDispatcher();
    const int writes = d.LineWrites();
    p.SetBaud(9600);
    p.SetParity(pOdd);
    p.SetStopBits(1);
    EXPECT_EQ(d.LineWrites(), writes);
    p.SetBaud(19200);
    EXPECT_EQ(d.LineWrites(), writes + 1);
    EXPECT_EQ(d.LastAppliedRate(), 19200u);
    p.SetStopBits(2);
    EXPECT_EQ(platform::StopBitsOf(d.LineSettings()), 2);
}

TEST_F(ComPortTest, rs485AndHardwareHandshakeExcludeEachOther) {
    TComPort p;
    p.SetHWFlowOptions(hwfUseRTS | hwfRequireCTS);
    p.SetRS485Mode(true);
    EXPECT_EQ(p.HWFlowOptions(), 0u);
    EXPECT_FALSE(p.RTS());
    p.SetHWFlowOptions(hwfRequireCTS);
    EXPECT_FALSE(p.RS485Mode());
}

TEST_F(ComPortTest, handshakeThresholdsAreDerivedFromTheReceiveSize) {
    TComPort p;
    p.SetHWFlowOptions(hwfUseDTR);
    EXPECT_EQ(p.BufferFull(), 3686);  // 90 % of 4096
    EXPECT_EQ(p.BufferResume(), 410); // 10 %
    TComPort q;
    q.SetSWFlowOptions(swfBoth);
    EXPECT_EQ(q.BufferFull(), 3072);   // 75 %
    EXPECT_EQ(q.BufferResume(), 1024); // 25 %
}

TEST_F(ComPortTest, changingTheNumberWhileOpenReopensOnTheNewDevice) {
    PtyPair other;
    map.Link(kCom + 1, other.SlavePath());
    TComPort p;
    p.SetComNumber(kCom);
    p.SetOpen(true);
    p.SetComNumber(kCom + 1);
    EXPECT_TRUE(p.Open());
    p.WriteText("hi");
    EXPECT_EQ(other.Read(1000, 2), "hi");
    EXPECT_EQ(pty.Read(50), "");
}

// ---- writing ----

TEST_F(ComPortTest, writeTextSizesAndEmptyText) {
    TComPort p;
    p.SetComNumber(kCom);
    p.SetOpen(true);
    p.WriteText("");
    EXPECT_THROW(p.WriteText(std::string(4097, 'x')), EOutputBufferTooSmall);
    EXPECT_EQ(pty.Read(100), "") << "a refused block queues nothing";
    p.WriteText(std::string(4096, 'y'));
    EXPECT_EQ(pty.Read(2000, 4096), std::string(4096, 'y'));
}

TEST_F(ComPortTest, writeTextOnAClosedPortOpensItWhenAutoOpen) {
    TComPort p;
    p.SetComNumber(kCom);
    p.WriteText(Frame("0S3"));
    EXPECT_TRUE(p.Open());
    EXPECT_EQ(pty.Read(1000, 5), Frame("0S3"));
    TComPort q;
    q.SetComNumber(kCom + 5);
    q.SetAutoOpen(false);
    EXPECT_THROW(q.WriteText("x"), ECommNotOpen);
}

// ---- closing ----

TEST_F(ComPortTest, usersAreToldInReverseOrder) {
    std::vector<std::string> told;
    TComPort p;
    p.SetComNumber(kCom);
    int a = 0, b = 0;
    p.RegisterPortUser([&](TComPort&, TPortEvent e) { told.push_back("a" + std::to_string(e)); },
                       &a);
    p.RegisterPortUser([&](TComPort&, TPortEvent e) { told.push_back("b" + std::to_string(e)); },
                       &b);
    p.SetOpen(true);
    p.SetOpen(false);
    EXPECT_EQ(told, (std::vector<std::string>{"b0", "a0", "b1", "a1", "b2", "a2"}));
    p.UnregisterPortUser(&a);
    p.UnregisterPortUser(&b);
}

TEST_F(ComPortTest, aReopenStartsWithEmptyBuffersAndNewTimerSlots) {
    TComPort p;
    p.SetComNumber(kCom);
    p.SetOpen(true);
    pty.Write("old bytes");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const int slot = p.CurrentDispatcher()->AllocTimer();
    p.CurrentDispatcher()->FreeTimer(slot);
    p.SetOpen(false);
    p.SetOpen(true);
    EXPECT_EQ(p.CurrentDispatcher()->InputAvailable(), 0u);
    EXPECT_EQ(p.CurrentDispatcher()->AllocTimer(), 8);
}

// ---- the framer on the port ----

class PortAndFramer : public ComPortTest {
protected:
    PortAndFramer() {
        MainWindowSettings(port);
        test::MainWindowFramer(framer);
        framer.OnStringPacket = [this](TDataPacket&, const std::string& s) {
            onUiThread = onUiThread && QThread::currentThread() == qApp->thread();
            packets.push_back(s);
        };
        framer.SetComPort(&port);
    }
    TComPort port;
    TDataPacket framer;
    std::vector<std::string> packets;
    bool onUiThread = true;
};

TEST_F(PortAndFramer, aRequestAndItsReplyArriveOnTheUserInterfaceThread) {
    port.WriteText(Frame("0R1"));
    EXPECT_EQ(pty.Read(1000, 5), Frame("0R1"));
    pty.Write(Frame("0R0002"));
    ASSERT_TRUE(PumpUntil([&] { return !packets.empty(); }));
    EXPECT_EQ(packets, std::vector<std::string>{"0R0002"});
    EXPECT_TRUE(onUiThread);
}

TEST_F(PortAndFramer, repliesSplitAcrossWritesAreJoinedAndNoiseIsDropped) {
    port.SetOpen(true);
    pty.Write("noise\r\x02"
              "0S");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pty.Write("1203\r\x02"
              "0R0001\r");
    ASSERT_TRUE(PumpUntil([&] { return packets.size() >= 2; }));
    EXPECT_EQ(packets, (std::vector<std::string>{"0S1203", "0R0001"}));
}

TEST_F(PortAndFramer, aPacketCutByACloseIsLostAndTheReopenedPortFramesAfresh) {
    port.SetOpen(true);
    pty.Write("\x02"
              "0S12");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    port.SetOpen(false);
    port.SetOpen(true);
    pty.Write("03\r\x02"
              "0S1000\r");
    ASSERT_TRUE(PumpUntil([&] { return !packets.empty(); }));
    EXPECT_EQ(packets, std::vector<std::string>{"0S1000"});
}

TEST_F(PortAndFramer, afterATimeOutTheNextReplyStillArrives) {
    framer.TimeOut = 2; // 110..165 ms instead of two minutes
    int timeouts = 0;
    framer.OnTimeout = [&](TDataPacket&) { ++timeouts; };
    port.SetOpen(true);
    pty.Write("\x02"
              "0S12"); // the end byte never comes
    ASSERT_TRUE(PumpUntil([&] { return timeouts == 1; }, 1000));
    EXPECT_TRUE(packets.empty());
    pty.Write(Frame("0S1203"));
    ASSERT_TRUE(PumpUntil([&] { return !packets.empty(); }));
    EXPECT_EQ(packets, std::vector<std::string>{"0S1203"});
}

TEST_F(PortAndFramer, closingFromInsideAPacketHandlerIsDeferredUntilTheDispatchThreadEnds) {
    bool openDuringHandler = false, stillOpenAfterSecondSet = false;
    framer.OnStringPacket = [&](TDataPacket&, const std::string& s) {
        packets.push_back(s);
        port.SetOpen(false);
        openDuringHandler = port.Open();
        port.SetOpen(false); // does nothing while the close is pending
        stillOpenAfterSecondSet = port.Open();
    };
    port.SetOpen(true);
    pty.Write(Frame("bye"));
    ASSERT_TRUE(PumpUntil([&] { return !packets.empty(); }));
    EXPECT_TRUE(openDuringHandler);
    EXPECT_TRUE(stillOpenAfterSecondSet);
    ASSERT_TRUE(PumpUntil([&] { return !port.Open(); }));
    EXPECT_EQ(port.CurrentDispatcher(), nullptr);
    // It opens again normally, and the framer delivers again.
    framer.OnStringPacket = [&](TDataPacket&, const std::string& s) { packets.push_back(s); };
    port.SetOpen(true);
    EXPECT_TRUE(port.Open());
    pty.Write(Frame("again"));
    ASSERT_TRUE(PumpUntil([&] { return packets.size() == 2; }));
    EXPECT_EQ(packets.back(), "again");
}

TEST_F(PortAndFramer, aPulledDeviceIsReportedOnceAndWritesDoNotFail) {
    int losses = 0;
    std::string why;
    port.OnDeviceLost = [&](TComPort& p) {
        ++losses;
        why = p.DeviceLossText();
    };
    port.SetOpen(true);
    pty.CloseMaster();
    ASSERT_TRUE(PumpUntil([&] { return losses > 0; }));
    EXPECT_TRUE(port.Open()) << "the port stays open until it is closed";
    for (int i = 0; i < 1000; ++i)
        port.WriteText(Frame("0S1"));
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(losses, 1);
    EXPECT_NE(why.find("Device read error"), std::string::npos) << why;
    port.SetOpen(false);
    EXPECT_FALSE(port.Open());
}

TEST_F(PortAndFramer, destroyingThePortUnbindsItsFramers) {
    auto p = std::make_unique<TComPort>();
    TDataPacket f;
    f.SetComPort(p.get());
    p.reset();
    EXPECT_EQ(f.ComPort(), nullptr);
}
