#include "TermiosRules.h"

#include <gtest/gtest.h>
#include <termios.h>

using namespace vg57::platform;

namespace {

// A terminal as Linux hands it out: canonical, echoing, CR mapped to NL.
LineTermios Cooked() {
    LineTermios t;
    t.iflag = ICRNL | IXON | BRKINT | INPCK;
    t.oflag = OPOST | ONLCR;
    t.cflag = B38400 | CS8 | CREAD | HUPCL;
    t.lflag = ICANON | ECHO | ECHOE | ISIG | IEXTEN;
    t.cc[VMIN] = 0;
    t.cc[VTIME] = 5;
    return t;
}

LineTermios Apply(std::uint32_t rate, int parity, int bits, int stop) {
    return ApplyLine(Cooked(), {rate, parity, bits, stop});
}

} // namespace

TEST(TermiosRules, rawModeKeepsCarriageReturnAndEchoesNothing) {
    const auto t = Apply(9600, kParityNone, 8, 1);
    EXPECT_FALSE(t.iflag & ICRNL) << "0x0D, the frame end, would arrive as 0x0A";
    EXPECT_FALSE(t.iflag & (IGNCR | INLCR));
    EXPECT_FALSE(t.lflag & (ICANON | ECHO | ISIG | IEXTEN));
    EXPECT_FALSE(t.oflag & OPOST);
    EXPECT_TRUE(t.cflag & CLOCAL);
    EXPECT_TRUE(t.cflag & CREAD);
    EXPECT_EQ(t.cc[VMIN], 1);
    EXPECT_EQ(t.cc[VTIME], 0);
}

TEST(TermiosRules, receivedParityIsNeverChecked) {
    for (int p = kParityNone; p <= kParitySpace; ++p) {
        const auto t = Apply(9600, p, 8, 1);
        EXPECT_FALSE(t.iflag & (INPCK | PARMRK | IGNPAR)) << "parity " << p;
    }
}

struct ParityRow {
    int code;
    bool parenb, parodd, cmspar;
};

class ParityRules : public ::testing::TestWithParam<ParityRow> {};

TEST_P(ParityRules, eachParityCodeSetsItsFlagsAndReadsBack) {
    const auto row = GetParam();
    const auto t = Apply(9600, row.code, 8, 1);
    EXPECT_EQ((t.cflag & PARENB) != 0, row.parenb);
    EXPECT_EQ((t.cflag & PARODD) != 0, row.parodd);
    EXPECT_EQ((t.cflag & CMSPAR) != 0, row.cmspar);
    EXPECT_EQ(ParityOf(t), row.code);
}

INSTANTIATE_TEST_SUITE_P(AllParities, ParityRules,
                         ::testing::Values(ParityRow{kParityNone, false, false, false},
                                           ParityRow{kParityOdd, true, true, false},
                                           ParityRow{kParityEven, true, false, false},
                                           ParityRow{kParityMark, true, true, true},
                                           ParityRow{kParitySpace, true, false, true}));

TEST(TermiosRules, characterSizesAndStopBits) {
    const std::pair<int, unsigned> sizes[] = {{5, CS5}, {6, CS6}, {7, CS7}, {8, CS8}};
    for (auto [bits, flag] : sizes) {
        for (int stop : {1, 2}) {
            const auto t = Apply(9600, kParityNone, bits, stop);
            EXPECT_EQ(t.cflag & CSIZE, flag);
            EXPECT_EQ(DataBitsOf(t), bits);
            // Five data bits always get the one-and-a-half setting (CSTOPB on a 5-bit UART).
            const bool cstopb = stop == 2 || bits == 5;
            EXPECT_EQ((t.cflag & CSTOPB) != 0, cstopb) << bits << " bits, " << stop << " stop";
        }
    }
}

TEST(TermiosRules, keepValuesLeaveTheCurrentSetting) {
    auto base = Apply(4800, kParityEven, 7, 2);
    const auto kept = ApplyLine(base, {0, kParityKeep, kDataBitsKeep, kStopBitsKeep});
    EXPECT_TRUE(SameLine(kept, base));
    EXPECT_EQ(RateOf(kept), 4800u);
    EXPECT_EQ(ParityOf(kept), kParityEven);
    EXPECT_EQ(DataBitsOf(kept), 7);
    EXPECT_EQ(StopBitsOf(kept), 2);
}

TEST(TermiosRules, anyRateGoesThroughBother) {
    for (std::uint32_t rate : {1200u, 9600u, 38400u, 31250u, 250000u}) {
        const auto t = Apply(rate, kParityNone, 8, 1);
        EXPECT_EQ(RateOf(t), rate);
    }
}

TEST(TermiosRules, sameLineIgnoresHowTheRateIsEncoded) {
    auto a = Apply(9600, kParityOdd, 8, 1);
    auto b = a;
    b.cflag = (b.cflag & ~CBAUD) | B9600; // the kernel may hand BOTHER 9600 back as B9600
    b.ispeed = b.ospeed = 9600;
    EXPECT_TRUE(SameLine(a, b));
    b.cflag |= CSTOPB;
    EXPECT_FALSE(SameLine(a, b));
}

TEST(TermiosRules, handshakeFlags) {
    auto t = ApplyHandshake(Apply(9600, kParityNone, 8, 1), true, true, false, 17, 19);
    EXPECT_TRUE(t.cflag & CRTSCTS);
    EXPECT_TRUE(t.iflag & IXOFF);
    EXPECT_FALSE(t.iflag & IXON);
    EXPECT_EQ(t.cc[VSTART], 17);
    EXPECT_EQ(t.cc[VSTOP], 19);
    // A later line change keeps the handshake.
    t = ApplyLine(t, {19200, kParityNone, 8, 1});
    EXPECT_TRUE(t.iflag & IXOFF);
    t = ApplyHandshake(t, false, false, false, 17, 19);
    EXPECT_FALSE(t.cflag & CRTSCTS);
    EXPECT_FALSE(t.iflag & (IXON | IXOFF));
}

TEST(TermiosRules, eighteenCharacterTimes) {
    // 9600 8N1: 1041 units of 0.1 us per bit x 10 bits x 18 = 187380 -> 19 ms.
    EXPECT_EQ(EighteenCharsMs(9600, 8, false, 1), 19u);
    // 8O2 adds two bits per character.
    EXPECT_EQ(EighteenCharsMs(9600, 8, true, 2), 23u);
    // 115200 8N1: 86 x 10 x 18 = 15480 -> 2 ms; short waits are doubled below 1 ms.
    EXPECT_EQ(EighteenCharsMs(115200, 8, false, 1), 2u);
    EXPECT_EQ(EighteenCharsMs(2000000, 8, false, 1), 1u);
}
