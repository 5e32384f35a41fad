// The simulator as a line of gauges: several addresses on one pseudo-terminal, characters paced
// at the line's rate, replies serialised as on one half-duplex pair, collisions, an echoing
// adapter. Timings are lower bounds only: a loaded machine is slower, never faster.
#include "Pty.h"
#include "SimProcess.h"
#include "Wire.h"

#include <gtest/gtest.h>

#include <chrono>

using vg57::test::Frame;
using vg57::test::LineClient;
using vg57::test::SimProcess;
using Clock = std::chrono::steady_clock;

namespace {

double MsSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Each reply's payload with the time its 0x0D arrived, for timeoutMs from t0.
std::vector<std::pair<std::string, double>> Arrivals(LineClient& line, Clock::time_point t0,
                                                     int timeoutMs) {
    std::vector<std::pair<std::string, double>> out;
    std::string bytes;
    while (MsSince(t0) < timeoutMs) {
        const std::string more = line.Read(static_cast<int>(timeoutMs - MsSince(t0)) + 1, true);
        bytes += more;
        for (auto cr = bytes.find('\r'); cr != std::string::npos; cr = bytes.find('\r')) {
            const auto stx = bytes.rfind('\x02', cr);
            out.emplace_back(stx == std::string::npos ? "" : bytes.substr(stx + 1, cr - stx - 1),
                             MsSince(t0));
            bytes.erase(0, cr + 1);
        }
    }
    return out;
}

} // namespace

TEST(LineModel, charactersPassInTheirTimeAndOverlapsGarbleEveryReceiver) {
    struct Send {
        int talker;
        int startHalves; // in half character times
        const char* bytes;
    };
    struct Row {
        std::vector<Send> sends;
        const char* received; // '#' for a garbled character
        bool hostHeard;
    };
    const Row rows[] = {
        {{{0, 0, "0R1"}}, "0R1", false},
        {{{0, 0, "ab"}, {1, 4, "cd"}}, "abcd", false},  // back to back: no overlap
        {{{0, 0, "ab"}, {0, 0, "cd"}}, "abcd", false},  // a talker never overlaps itself
        {{{0, 0, "ab"}, {1, 1, "cd"}}, "##", false},    // half a character apart
        {{{0, 0, "abcd"}, {1, 2, "x"}}, "a#cd", false}, // a stray character in the middle
        {{{vg57sim::kHost, 0, "ab"}, {1, 3, "cd"}},
         "a#d",
         true}, // the program is sending meanwhile
    };
    for (const Row& r : rows) {
        constexpr std::int64_t c = 1000;
        vg57sim::Wire wire(c);
        for (const Send& s : r.sends)
            wire.Send(s.talker, s.startHalves * c / 2, s.bytes);
        EXPECT_TRUE(wire.Take(c - 1).empty()) << "nothing before the first character ends";
        std::string received;
        bool hostHeard = false;
        for (const auto& ch : wire.Take(100 * c)) {
            EXPECT_EQ(ch.garbled, (ch.byte & 0x80) != 0) << r.received;
            received += ch.garbled ? '#' : ch.byte;
            hostHeard = hostHeard || (ch.host && ch.garbled);
        }
        EXPECT_EQ(received, r.received);
        EXPECT_EQ(hostHeard, r.hostHeard) << r.received;
        EXPECT_EQ(wire.NextDueNs(), INT64_MAX);
    }
    EXPECT_EQ(vg57sim::CharacterNs(9600, true, 1), 1'145'833) << "11 bit times at 9600 8O1";
    EXPECT_EQ(vg57sim::CharacterNs(2400, false, 2), 4'583'333);
}

class SeveralGauges : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(SeveralGauges, eachAnswersWithItsOwnStateAndAPrefixReachesOnlyItsGauge) {
    std::vector<std::string> args = {"--addresses", "0,1,5"};
    args.insert(args.end(), GetParam().begin(), GetParam().end());
    SimProcess sim(args);
    LineClient line(sim.LinkPath());
    EXPECT_EQ(sim.Command("hold"), "ok hold");
    sim.Command("noise off");
    EXPECT_EQ(sim.Command("@1 pressure 0.0025"), "ok @1 pressure 0.0025");
    sim.Command("@5 pressure 1");
    ASSERT_EQ(line.Ask("W10002", '5'), "5W");
    ASSERT_EQ(line.Ask("W212035014", '1'), "1W");
    struct Row {
        char address;
        const char *pressure, *unit, *setPoints;
    };
    for (const Row& r :
         {Row{'0', "0S1015", "0R0001", "0R10035003"}, Row{'1', "1S2503", "1R0001", "1R12035014"},
          Row{'5', "5S7503", "5R0002", "5R10035003"}}) {
        EXPECT_EQ(line.Ask("S1", r.address), r.pressure);
        EXPECT_EQ(line.Ask("R1", r.address), r.unit);
        EXPECT_EQ(line.Ask("R2", r.address), r.setPoints);
    }
    EXPECT_EQ(sim.Command("@5 silent on"), "ok @5 silent on");
    EXPECT_EQ(line.Exchange('5', "S1", 300), "");
    EXPECT_EQ(line.Ask("S1", '0'), "0S1015") << "the others still answer";
    EXPECT_EQ(line.Ask("S1", '1'), "1S2503");
    const std::string status = sim.Command("status");
    EXPECT_NE(status.find(" address 0; pressure 2.500e-03 Pa unit 0001 address 1; pressure "),
              std::string::npos)
        << status;
    EXPECT_NE(status.find(" unit 0002 address 5 device /dev/pts/"), std::string::npos) << status;
    for (const auto& [command, why] : {std::pair{"@7 vent", "no gauge at address 7"},
                                       {"@0 quit", "a command for the whole line takes no address"},
                                       {"@0 address 1", "another gauge has address 1"},
                                       {"address 3", "several gauges: name one"},
                                       {"@05 vent", "one address after @ needed"},
                                       {"@5", "a command needed after the address"}})
        EXPECT_EQ(
            sim.Command(command).rfind("error: '" + std::string(command) + "' refused: " + why), 0u)
            << command;
    EXPECT_EQ(sim.Command("@1 address 3"), "ok @1 address 3");
    EXPECT_EQ(line.Ask("S1", '3'), "3S2503");
}

INSTANTIATE_TEST_SUITE_P(Line, SeveralGauges,
                         ::testing::Values(std::vector<std::string>{},
                                           std::vector<std::string>{"--wire"}));

TEST(Wire, aRequestAndItsReplyTakeTheirCharactersTimeAtTheLinesRate) {
    struct Row {
        const char *baud, *parity, *stopBits;
        int bits;
    };
    for (const Row& r : {Row{"9600", "odd", "1", 11}, Row{"2400", "even", "2", 12},
                         Row{"1200", "none", "1", 10}}) {
        SimProcess sim(
            {"--wire", "--baud", r.baud, "--parity", r.parity, "--stop-bits", r.stopBits});
        LineClient line(sim.LinkPath());
        const auto t0 = Clock::now();
        ASSERT_EQ(line.Ask("R2"), "0R10035003"); // 5 characters out, 12 back
        EXPECT_GE(MsSince(t0), 17.0 * r.bits * 1000 / std::stoi(r.baud)) << r.baud;
    }
}

TEST(Wire, lateRepliesLeaveInOrderEachAfterItsOwnDelay) {
    SimProcess sim({"--wire"});
    LineClient line(sim.LinkPath());
    sim.Command("delay 200 once");
    sim.Command("delay 100");
    const auto t0 = Clock::now();
    line.WriteRaw(Frame("0R1") + Frame("0R2"));
    const auto got = Arrivals(line, t0, 600);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].first, "0R0001");
    EXPECT_EQ(got[1].first, "0R10035003");
    EXPECT_GE(got[0].second, 200.0);
    EXPECT_GE(got[1].second, 300.0) << "its own delay from the late one's end, not with it";
}

TEST(Wire, twoGaugesAnsweringAtOnceCollideIntoGarbage) {
    SimProcess sim({"--wire", "--addresses", "0,1"});
    LineClient line(sim.LinkPath());
    sim.Command("delay 100 once"); // both answer 100 ms after their requests, one request apart
    line.WriteRaw(Frame("0R1") + Frame("1R1"));
    const std::string got = line.Read(500, false);
    EXPECT_EQ(got.find(Frame("0R0001")), std::string::npos);
    EXPECT_EQ(got.find(Frame("1R0001")), std::string::npos);
    EXPECT_NE(std::count_if(got.begin(), got.end(), [](char c) { return c & 0x80; }), 0) << got;
    EXPECT_EQ(line.Ask("R1", '1'), "1R0001") << "the line is clear again";
}

TEST(Echo, theRequestComesBackByteForByteThenTheReplyUnlessNoGaugeAnswers) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--echo"}, std::vector<std::string>{"--echo", "--wire"}}) {
        SimProcess sim(args);
        LineClient line(sim.LinkPath());
        for (const bool silent : {false, true}) {
            sim.Command(silent ? "silent on" : "silent off");
            line.WriteRaw(Frame("0R1"));
            EXPECT_EQ(line.Read(300, false), Frame("0R1") + (silent ? "" : Frame("0R0001")))
                << args.size() << silent;
        }
    }
}
