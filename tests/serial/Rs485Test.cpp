// RS-485 direction control on boards that only a fake UART behind the device-call seam can be:
// what the open asks of the driver, which direction control it chooses, how RTS follows a
// request, what is given back at close, and what is said once when the driver can't do its part.
#include "ComPort.h"
#include "Rs485Direction.h"

#include "FakeUart.h"
#include "MainWindowLink.h"
#include "Pty.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace vg57;
using platform::DeviceCall;
using platform::kRs485Enabled;
using platform::kRs485RtsAfterSend;
using platform::kRs485RtsOnSend;
using test::FakeUart;
using test::Frame;
using test::PtyPair;
using test::PumpUntil;

namespace {

constexpr std::uint32_t kNotAsked = ~0u;

platform::Rs485Settings Held(std::uint32_t flags, std::uint32_t before = 0,
                             std::uint32_t after = 0) {
    platform::Rs485Settings s;
    s.flags = flags;
    s.delayBeforeMs = before;
    s.delayAfterMs = after;
    return s;
}

FakeUart::Board Board(platform::Rs485Settings held, bool rs485 = true, bool acceptsSet = true,
                      bool modemLines = true) {
    FakeUart::Board b;
    b.held = held;
    b.rs485 = rs485;
    b.acceptsSet = acceptsSet;
    b.modemLines = modemLines;
    return b;
}

// The port as the window sets it, on the pseudo-terminal, opened.
void OpenPort(TComPort& port, const PtyPair& pty, TRtsOnSend choice) {
    port.SetFixedDevice(pty.SlavePath());
    port.SetBaud(9600);
    port.SetParity(pOdd);
    port.SetRTS(false);
    port.SetRS485Mode(true);
    port.SetRtsOnSend(choice);
    port.SetOpen(true);
}

struct BoardRow {
    const char* name;
    FakeUart::Board board;
    TRtsOnSend choice;
    std::uint32_t askedFlags; // kNotAsked: no TIOCSRS485 at the open
    std::uint32_t askedBefore, askedAfter;
    TRs485Direction direction;
    bool rtsHighWhileSending;
};

class Rs485Boards : public ::testing::TestWithParam<BoardRow> {};

} // namespace

TEST_P(Rs485Boards, asksOnlyWhatMustChangeChoosesTheDirectionAndGivesTheBoardBack) {
    const BoardRow& row = GetParam();
    PtyPair pty;
    FakeUart uart(row.board);
    {
        TComPort port;
        OpenPort(port, pty, row.choice);
        const TRs485State state = port.CurrentDispatcher()->Rs485State();
        EXPECT_EQ(state.direction, row.direction);
        const auto asked = uart.Asked();
        if (row.askedFlags == kNotAsked) {
            EXPECT_TRUE(asked.empty());
        } else {
            ASSERT_FALSE(asked.empty());
            EXPECT_EQ(asked[0].flags, row.askedFlags);
            EXPECT_EQ(asked[0].delayBeforeMs, row.askedBefore);
            EXPECT_EQ(asked[0].delayAfterMs, row.askedAfter);
        }
        if (row.direction == TRs485Direction::Driver) {
            EXPECT_EQ(state.rtsHighWhileSending, row.rtsHighWhileSending);
            EXPECT_EQ(state.delayBeforeMs, row.askedBefore);
        }
        EXPECT_NE(port.Rs485Text().find(row.direction == TRs485Direction::Driver ? "драйвер"
                                        : row.direction == TRs485Direction::UserToggle
                                            ? "программа"
                                            : "нет линии RTS"),
                  std::string::npos)
            << port.Rs485Text();

        port.WriteText(Frame("0S3"));
        EXPECT_EQ(pty.Read(2000, 5), Frame("0S3"));
        if (row.direction == TRs485Direction::UserToggle) {
            ASSERT_TRUE(uart.WaitSends(1, 2000));
            EXPECT_EQ(uart.Sends()[0].rtsAssertedWhileSending, row.rtsHighWhileSending);
            EXPECT_EQ(uart.RtsAsserted(), !row.rtsHighWhileSending) << "back to receiving";
        } else {
            // The bytes may reach the far end before the writer has told the fake.
            ASSERT_TRUE(PumpUntil([&] { return !uart.Sends().empty(); }));
            EXPECT_LT(uart.Sends()[0].rtsBackNs, 0) << "the program must leave RTS alone";
        }
    }
    EXPECT_EQ(uart.Held().flags, row.board.held.flags) << "the board's settings back at close";
    EXPECT_EQ(uart.Held().delayAfterMs, row.board.held.delayAfterMs);
}

INSTANTIATE_TEST_SUITE_P(
    Boards, Rs485Boards,
    ::testing::Values(
        BoardRow{"noRs485InTheDriver", Board({}, false), TRtsOnSend::Driver, kNotAsked, 0, 0,
                 TRs485Direction::UserToggle, true},
        BoardRow{"activeHigh", Board(Held(kRs485RtsOnSend)), TRtsOnSend::Driver,
                 kRs485Enabled | kRs485RtsOnSend, 0, 0, TRs485Direction::Driver, true},
        BoardRow{"activeLowFromTheDeviceTree", Board(Held(kRs485RtsAfterSend)), TRtsOnSend::Driver,
                 kRs485Enabled | kRs485RtsAfterSend, 0, 0, TRs485Direction::Driver, false},
        BoardRow{"delaysKept", Board(Held(kRs485RtsAfterSend | 0x10, 1, 2)), TRtsOnSend::Driver,
                 kRs485Enabled | kRs485RtsAfterSend | 0x10, 1, 2, TRs485Direction::Driver, false},
        BoardRow{"statesNoPolarity", Board(Held(0, 3, 0)), TRtsOnSend::Driver,
                 kRs485Enabled | kRs485RtsOnSend, 3, 0, TRs485Direction::Driver, true},
        BoardRow{"statesBothPolarities", Board(Held(kRs485RtsOnSend | kRs485RtsAfterSend)),
                 TRtsOnSend::Driver, kRs485Enabled | kRs485RtsOnSend, 0, 0, TRs485Direction::Driver,
                 true},
        BoardRow{"operatorHighOnActiveLow", Board(Held(kRs485RtsAfterSend, 1, 2)), TRtsOnSend::High,
                 kRs485Enabled | kRs485RtsOnSend, 1, 2, TRs485Direction::Driver, true},
        BoardRow{"operatorLowOnActiveHigh", Board(Held(kRs485RtsOnSend)), TRtsOnSend::Low,
                 kRs485Enabled | kRs485RtsAfterSend, 0, 0, TRs485Direction::Driver, false},
        BoardRow{"refusedKeepsTheDriversPolarity", Board(Held(kRs485RtsAfterSend), true, false),
                 TRtsOnSend::Driver, kRs485Enabled | kRs485RtsAfterSend, 0, 0,
                 TRs485Direction::UserToggle, false},
        BoardRow{"refusedButEnabledAtBoot",
                 Board(Held(kRs485Enabled | kRs485RtsOnSend), true, false), TRtsOnSend::Driver,
                 kRs485Enabled | kRs485RtsOnSend, 0, 0, TRs485Direction::Driver, true},
        BoardRow{"operatorLowWithoutRs485", Board({}, false), TRtsOnSend::Low, kNotAsked, 0, 0,
                 TRs485Direction::UserToggle, false},
        BoardRow{"noModemLines", Board({}, false, true, false), TRtsOnSend::Driver, kNotAsked, 0, 0,
                 TRs485Direction::None, true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- what the driver can't do, said once ----

namespace {

struct FailureRow {
    const char* name;
    bool lsr, lsrStale;
    DeviceCall failing; // with EIO once the port is open
    int err;
    std::size_t notices;
    const char* said; // in one of them
};

class Rs485Failures : public ::testing::TestWithParam<FailureRow> {};

} // namespace

TEST_P(Rs485Failures, isSaidOnceAndRtsNeverDropsBeforeTheLastStopBit) {
    const FailureRow& row = GetParam();
    PtyPair pty;
    FakeUart::Board board = Board({}, false);
    board.lsr = row.lsr;
    board.lsrStale = row.lsrStale;
    board.drain = FakeUart::DrainKind::AtOnce; // the bytes reached a USB adapter, nothing more
    FakeUart uart(board);
    TComPort port;
    std::vector<std::string> said;
    port.OnLineNotice = [&](TComPort&, const std::string& text) { said.push_back(text); };
    OpenPort(port, pty, TRtsOnSend::Driver);
    uart.Fail(row.failing, row.err);
    const bool rtsMoves = row.failing != DeviceCall::SetModemLine;
    for (std::size_t i = 1; i <= 3; ++i) {
        port.WriteText(Frame("0S3"));
        ASSERT_EQ(pty.Read(2000, 5), Frame("0S3"));
        if (rtsMoves) {
            ASSERT_TRUE(uart.WaitSends(i, 2000));
        }
    }
    for (const auto& s : uart.Sends()) {
        if (rtsMoves) {
            EXPECT_GE(s.rtsBackNs, s.endNs) << "the tail of the request cut off";
        }
    }
    PumpUntil([&] { return said.size() > row.notices; }, 300);
    ASSERT_EQ(said.size(), row.notices) << "once per kind and open";
    std::string all;
    for (const auto& text : said) {
        EXPECT_EQ(text.rfind(pty.SlavePath() + ": ", 0), 0u) << text;
        all += text + "\n";
    }
    EXPECT_NE(all.find(row.said), std::string::npos) << all;
}

INSTANTIATE_TEST_SUITE_P(
    Failures, Rs485Failures,
    ::testing::Values(
        FailureRow{"transmitterReportedEmptyBeforeTheWrite", true, true, DeviceCall::Drain, 0, 0,
                   ""},
        FailureRow{"transmitterNeverReported", false, false, DeviceCall::Drain, 0, 1,
                   "драйвер не сообщает, что передатчик пуст (Inappropriate ioctl"},
        FailureRow{"transmitterReportFails", true, false, DeviceCall::TransmitterEmpty, EIO, 1,
                   "драйвер не сообщает, что передатчик пуст (Input/output error)"},
        FailureRow{"drainFails", false, false, DeviceCall::Drain, EIO, 2,
                   "ожидание конца передачи (tcdrain) не удалось (Input/output error)"},
        FailureRow{"rtsCannotBeSwitched", true, false, DeviceCall::SetModemLine, EIO, 2,
                   "не удалось переключить RTS на приём (Input/output error)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Rs485Timing, aCharacterOnTheLineTakesItsStartParityAndStopBits) {
    platform::LineTermios line = platform::ApplyLine({}, {9600, platform::kParityOdd, 8, 2});
    EXPECT_EQ(BitsPerCharacter(line), 12);
    EXPECT_EQ(TransmitNs(5, 11, 9600), 5729166);    // the 5-byte request, 8O1
    EXPECT_EQ(TransmitNs(13, 11, 1200), 119166666); // a set-point write at the slowest rate
}
