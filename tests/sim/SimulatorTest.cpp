// The gauge simulator, driven through its pseudo-terminal by a client written from the command
// table: each command's reply length, echo letter and content, then each fault on demand.
#include "GaugeModel.h"
#include "Pty.h"
#include "SimProcess.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sys/wait.h>
#include <thread>

namespace fs = std::filesystem;
using vg57::test::Frame;
using vg57::test::LineClient;
using vg57::test::SimProcess;

namespace {

// A held chamber at a known pressure, so that replies are exact.
struct HeldGauge : ::testing::Test {
    HeldGauge() {
        sim.Command("hold");
        sim.Command("noise off");
    }
    SimProcess sim;
    LineClient line{sim.LinkPath()};
};

double Value(const std::string& c) {
    return vg57sim::DecodeNumber(c);
}

} // namespace

// ---- the command table ----

struct Row {
    const char* command;
    std::size_t length;
    char echo;
};

class CommandTable : public HeldGauge, public ::testing::WithParamInterface<Row> {};

TEST_P(CommandTable, replyHasItsLengthEchoAndAddress) {
    const Row r = GetParam();
    sim.Command("pressure 1e5"); // near atmosphere: C1 succeeds, C2 fails, both answer
    const std::string reply = line.Ask(r.command);
    ASSERT_EQ(reply.size(), r.length) << r.command << " -> " << reply;
    EXPECT_EQ(reply[0], '0') << "position 1 carries the address";
    EXPECT_EQ(reply[1], r.echo) << "position 2 echoes the command letter";
}

INSTANTIATE_TEST_SUITE_P(Commands, CommandTable,
                         ::testing::Values(Row{"S3", 2, 'S'}, Row{"R1", 6, 'R'}, Row{"S1", 6, 'S'},
                                           Row{"R2", 10, 'R'}, Row{"R3", 10, 'R'},
                                           Row{"R4", 10, 'R'}, Row{"W10002", 2, 'W'},
                                           Row{"W212035014", 2, 'W'}, Row{"W310011013", 2, 'W'},
                                           Row{"W410121014", 2, 'W'}, Row{"C1", 6, 'C'},
                                           Row{"C2", 6, 'C'}));

TEST_F(HeldGauge, thePressureIsEncodedInTheUnitSet) {
    struct Case {
        double pa;
        const char* unit;
        const char* expected;
    };
    const Case cases[] = {
        {1.0e5, "0001", "1015"},   {2.5e-3, "0001", "2503"},  {1.0, "0001", "1010"},
        {0.0, "0001", "0010"},     {1.0e-12, "0001", "1009"}, {1.0e5, "0002", "7512"},
        {133.322, "0002", "1010"}, {1.0e5, "0003", "1013"},   {0.5, "0003", "5003"},
    };
    for (const auto& c : cases) {
        char pa[32];
        std::snprintf(pa, sizeof pa, "%.6g", c.pa);
        sim.Command(std::string("pressure ") + pa);
        ASSERT_EQ(line.Ask(std::string("W1") + c.unit), "0W");
        EXPECT_EQ(line.Ask("R1"), std::string("0R") + c.unit);
        EXPECT_EQ(line.Ask("S1"), std::string("0S") + c.expected) << c.pa << " Pa in " << c.unit;
    }
}

TEST_F(HeldGauge, anUnknownUnitIsAcknowledgedAndIgnored) {
    ASSERT_EQ(line.Ask("W10003"), "0W");
    EXPECT_EQ(line.Ask("W10009"), "0W");
    EXPECT_EQ(line.Ask("R1"), "0R0003");
}

TEST_F(HeldGauge, setPointsAreStoredAndReturned) {
    EXPECT_EQ(line.Ask("W212035014"), "0W");
    EXPECT_EQ(line.Ask("W310011013"), "0W");
    EXPECT_EQ(line.Ask("W410009919"), "0W");
    EXPECT_EQ(line.Ask("R2"), "0R12035014");
    EXPECT_EQ(line.Ask("R3"), "0R10011013");
    EXPECT_EQ(line.Ask("R4"), "0R10009919");
    EXPECT_DOUBLE_EQ(Value("1203"), 0.0012);
    EXPECT_DOUBLE_EQ(Value("5014"), 50000);
}

TEST_F(HeldGauge, setPointsStayTheNumbersWrittenAcrossAUnitChange) {
    ASSERT_EQ(line.Ask("W212035014"), "0W");
    for (const char* unit : {"0002", "0003", "0001"}) {
        ASSERT_EQ(line.Ask(std::string("W1") + unit), "0W");
        EXPECT_EQ(line.Ask("R2"), "0R12035014") << "not converted on the change to " << unit;
    }
}

TEST_F(HeldGauge, calibrationsSucceedOnlyInTheirRange) {
    sim.Command("pressure 1.01e5");
    EXPECT_EQ(line.Ask("C1"), "0C0000");
    EXPECT_NE(line.Ask("C2"), "0C0000");
    sim.Command("pressure 4.9e4");
    EXPECT_NE(line.Ask("C1"), "0C0000") << "below 5.0E4 Pa the atmosphere calibration fails";
    sim.Command("pressure 0.1");
    EXPECT_EQ(line.Ask("C2"), "0C0000");
    sim.Command("pressure 0.11");
    EXPECT_NE(line.Ask("C2"), "0C0000") << "above 1.0E-1 Pa the zero calibration fails";
}

TEST_F(HeldGauge, otherAddressesAndBytesOutsideFramesGetNoAnswer) {
    EXPECT_EQ(line.Exchange('1', "R1", 200), "");
    EXPECT_EQ(line.Exchange('F', "S1", 200), "");
    line.WriteRaw("R1\r junk \r");
    EXPECT_EQ(line.Read(200), "");
    line.WriteRaw("noise\x02"
                  "0R1\r");
    EXPECT_EQ(line.Read(500), Frame("0R0001")) << "a frame after noise is still answered";
    EXPECT_EQ(line.Ask("X9"), "(none)") << "an unknown command";
}

TEST_F(HeldGauge, theAddressCanBeChanged) {
    EXPECT_EQ(sim.Command("address B"), "ok address B");
    EXPECT_EQ(line.Exchange('0', "R1", 200), "");
    EXPECT_EQ(line.Ask("R1", 'B'), "BR0001");
}

TEST(Simulator, pumpsDownFromAtmosphereAndVents) {
    SimProcess sim({"--speed", "200"});
    LineClient line(sim.LinkPath());
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // a minute of chamber time
    const double pumped = Value(line.Ask("S1").substr(2));
    EXPECT_LT(pumped, 100.0);
    EXPECT_GT(pumped, 1.0e-5);
    sim.Command("vent");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_GT(Value(line.Ask("S1").substr(2)), 9.0e4);
}

// ---- faults ----

TEST_F(HeldGauge, silentAnswersNothing) {
    sim.Command("silent on");
    EXPECT_EQ(line.Exchange('0', "R1", 300), "");
    sim.Command("silent off");
    EXPECT_EQ(line.Ask("R1"), "0R0001");
}

TEST_F(HeldGauge, wrongEchoAndWrongLength) {
    sim.Command("echo X");
    EXPECT_EQ(line.Ask("R1"), "0X0001");
    sim.Command("echo off");
    sim.Command("length -1");
    EXPECT_EQ(line.Ask("R1"), "0R000");
    sim.Command("length 2");
    EXPECT_EQ(line.Ask("R1"), "0R000199");
}

TEST_F(HeldGauge, garbageBetweenFramesNeverHoldsAStartByte) {
    sim.Command("garbage on");
    for (int i = 0; i < 20; ++i) {
        const std::string raw = line.Exchange('0', "R1");
        ASSERT_EQ(raw.find('\x02'), raw.size() - 8) << "only the reply's own start byte";
        EXPECT_EQ(raw.substr(raw.size() - 8), Frame("0R0001"));
    }
}

TEST_F(HeldGauge, splitRepliesComeInPiecesWithDelays) {
    sim.Command("split 3 80");
    line.WriteRaw(Frame("0R1"));
    const std::string first = line.Read(50, false);
    EXPECT_FALSE(first.empty());
    EXPECT_LT(first.size(), 8u);
    const std::string rest = line.Read(400);
    EXPECT_EQ(first + rest, Frame("0R0001"));
}

TEST_F(HeldGauge, aDelayHoldsTheReplyBack) {
    sim.Command("delay 300");
    line.WriteRaw(Frame("0R1"));
    EXPECT_EQ(line.Read(200), "");
    EXPECT_EQ(line.Read(400), Frame("0R0001"));
}

TEST_F(HeldGauge, aDelayOnceHoldsBackOneReplyAndTheNextWaitsItsTurn) {
    sim.Command("delay 300 once");
    line.WriteRaw(Frame("0R1"));
    line.WriteRaw(Frame("0R1"));
    EXPECT_EQ(line.Read(200, false), "");
    EXPECT_EQ(line.Read(400, false), Frame("0R0001") + Frame("0R0001"));
    EXPECT_EQ(line.Exchange('0', "R1", 100), Frame("0R0001")) << "then prompt again";
}

TEST_F(HeldGauge, noEndSendsAStartWithoutItsEnd) {
    sim.Command("noend on");
    EXPECT_EQ(line.Exchange('0', "R1", 300), "\x02"
                                             "0R0001");
}

TEST(Simulator, unplugHangsUpTheLineAndRemovesItsNameAndReplugPublishesANewOne) {
    SimProcess sim;
    {
        LineClient line(sim.LinkPath());
        EXPECT_EQ(line.Ask("R1"), "0R0001");
        sim.Command("unplug");
        char b;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const ssize_t n = read(line.Fd(), &b, 1);
        EXPECT_TRUE(n == 0 || (n < 0 && errno == EIO)) << "the client sees the device gone";
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(sim.LinkPath())))
        << "no name left on a freed pseudo-terminal that another process may get";
    const std::string answer = sim.Command("replug");
    ASSERT_EQ(answer.rfind("ok replugged /dev/pts/", 0), 0u) << answer;
    EXPECT_EQ(fs::read_symlink(sim.LinkPath()).string(), answer.substr(13));
    LineClient again(sim.LinkPath());
    EXPECT_EQ(again.Ask("R1"), "0R0001");
}

// ---- the link and the command line ----

TEST(Simulator, theLinkIsCreatedAndRemovedOnSignals) {
    for (int sig : {SIGTERM, SIGINT}) {
        SimProcess sim({"--com", "17"});
        ASSERT_TRUE(fs::is_symlink(sim.LinkPath(17)));
        EXPECT_EQ(fs::read_symlink(sim.LinkPath(17)).string().rfind("/dev/pts/", 0), 0u);
        const int status = sim.Terminate(sig);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "signal " << sig;
        EXPECT_FALSE(fs::exists(fs::symlink_status(sim.LinkPath(17)))) << "signal " << sig;
    }
}

TEST(Simulator, theLogHoldsEveryRequestAndReplyAsSoonAsTheyPass) {
    vg57::test::TempDir dir;
    const std::string log = dir.Path() + "/sim.log";
    SimProcess sim({"--log", log});
    LineClient line(sim.LinkPath());
    line.WriteRaw("\x02"
                  "0W2120350"); // a request in two writes is one REQ line
    line.Read(50);
    line.WriteRaw("14\r");
    line.Read(500);
    line.Ask("R1");
    // Read while the simulator still runs: every line is on disk already.
    std::ifstream in(log);
    std::vector<std::string> lines, requests;
    for (std::string l; std::getline(in, l);) {
        lines.push_back(l);
        if (const auto at = l.find(" REQ "); at != std::string::npos)
            requests.push_back(l.substr(at + 5));
    }
    EXPECT_EQ(requests, (std::vector<std::string>{"0W212035014", "0R1"}));
    ASSERT_GE(lines.size(), 6u);
    EXPECT_NE(lines[lines.size() - 3].find(" RX 02 30 52 31 0D"), std::string::npos);
    EXPECT_NE(lines.back().find(" TX 02 30 52 30 30 30 31 0D  \".0R0001.\""), std::string::npos)
        << lines.back();
    EXPECT_EQ(lines[0][4], '-') << "a time stamp leads each line";
}

// Runs the simulator with `args` until it ends; its exit code and what it printed.
std::pair<int, std::string> RunSim(const std::string& env, const std::string& args) {
    // A simulator that wrongly starts would run on: the time limit ends it.
    const std::string cmd = env + " timeout 10 " + VG57_SIM_PATH + " " + args + " </dev/null 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[256];
    while (fgets(buf, sizeof buf, p))
        out += buf;
    const int status = pclose(p);
    return {WEXITSTATUS(status), out};
}

TEST(Simulator, badCommandLinesAreRefusedWithAReason) {
    struct Row {
        std::string env, args;
        int rc;
        std::string says;
    };
    std::vector<Row> rows = {
        {"", "--com 0", 2, "invalid COM number '0'"},
        {"", "--address G", 2, "invalid address 'G'"},
        {"", "--bogus", 2, "unknown option '--bogus'"},
        {"", "--pressure abc", 2, "invalid --pressure 'abc'"},
        {"", "--help", 0, "C2 (zero calibration"},
        {"", "--addresses 0,1,0", 2, "address 0 given twice in '0,1,0'"},
        {"", "--addresses 0,,1", 2, "invalid address '' in '0,,1'"},
        {"", "--address 1 --addresses 2,3", 2, "give the gauges' addresses once"},
        {"", "--wire --baud 0", 2, "invalid --baud '0'"},
        {"", "--wire --parity odd1", 2, "invalid --parity 'odd1'"},
        {"", "--wire --stop-bits 1.5", 2, "invalid --stop-bits '1.5'"},
        // /proc cannot hold the folder: the error names it.
        {"XDG_CONFIG_HOME=/proc/self", "", 2,
         "cannot create the port map folder /proc/self/vg57/ports"},
    };
    for (const std::string speed : {"1e20", "nan", "inf", "0", "-1", "abc", "2x", ""})
        rows.push_back({"", "--speed '" + speed + "'", 2, "invalid --speed '" + speed + "'"});
    for (const Row& r : rows) {
        const auto [rc, out] = RunSim(r.env, r.args);
        EXPECT_EQ(rc, r.rc) << r.args;
        EXPECT_NE(out.find(r.says), std::string::npos) << out;
    }
}

TEST(Simulator, neverReplacesTheLinkOfARealAdapter) {
    vg57::test::TempDir home;
    fs::create_directories(home.Path() + "/vg57/ports");
    fs::create_symlink("/dev/ttyUSB0", home.Path() + "/vg57/ports/COM3");
    const auto [rc, out] = RunSim("XDG_CONFIG_HOME=" + home.Path(), "");
    EXPECT_EQ(rc, 2);
    EXPECT_NE(out.find("already maps COM3 to /dev/ttyUSB0"), std::string::npos) << out;
    EXPECT_EQ(fs::read_symlink(home.Path() + "/vg57/ports/COM3"), "/dev/ttyUSB0");
}

TEST_F(HeldGauge, controlCommandsWithBadNumbersAreRefusedAndChangeNothing) {
    ASSERT_EQ(sim.Command("pressure 0.0025"), "ok pressure 0.0025");
    for (const char* bad :
         {"pressure abc", "pressure -1", "pressure 1e5x", "pressure nan", "pressure", "delay x",
          "delay -5", "delay 5 twice", "delay off once", "length 2x", "split two 10", "split 2",
          "noise maybe", "echo XY", "address G", "leak 0", "leak -3", "leak x"}) {
        const std::string answer = sim.Command(bad);
        EXPECT_EQ(answer.rfind(std::string("error: '") + bad + "' refused: ", 0), 0u) << answer;
    }
    EXPECT_EQ(line.Ask("S1"), "0S2503") << "the pressure is as it was";
    EXPECT_EQ(line.Exchange('0', "R1", 200), Frame("0R0001"))
        << "no delay, no change of length, no pieces";
}

TEST(SimulatorModel, anyStretchOfTimeAdvancesInOneStepAndEndsAtTheUltimatePressure) {
    // Before, the chamber was integrated second by second: 1e20 s never ended (1e20 - 1 is 1e20).
    EXPECT_EXIT(
        {
            alarm(5);
            vg57sim::GaugeModel g(1.0e5);
            g.SetNoise(false);
            g.Advance(1.0e20);
            const bool ultimate = g.PressurePa() > 0.99e-5 && g.PressurePa() < 1.01e-5;
            g.Advance(std::numeric_limits<double>::infinity());
            std::exit(ultimate && g.PressurePa() > 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    vg57sim::GaugeModel g(1.0e5);
    g.SetNoise(false);
    g.Advance(60); // 41 s to 100 Pa at 6 s, then 19 s at 25 s
    EXPECT_NEAR(g.PressurePa(), 100 * std::exp(-(60 - 6 * std::log(1e5 / 100)) / 25), 0.01);
}

TEST(SimulatorNumbers, encodingRoundsAndClamps) {
    using vg57sim::EncodeNumber;
    EXPECT_EQ(EncodeNumber(0), "0010");
    EXPECT_EQ(EncodeNumber(0.0012), "1203");
    EXPECT_EQ(EncodeNumber(50000), "5014");
    EXPECT_EQ(EncodeNumber(9.96), "1011");
    EXPECT_EQ(EncodeNumber(1e-12), "1009");
    EXPECT_EQ(EncodeNumber(1e12), "9919");
    EXPECT_DOUBLE_EQ(vg57sim::DecodeNumber("1000"), 1.0);
}
