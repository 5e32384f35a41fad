// The serial link against the gauge simulator: the program's port and framer on one side of a
// pseudo-terminal, the simulated gauge on the other, as an operator would run them.
#include "ComPort.h"
#include "DataPacket.h"
#include "SerialMisc.h"

#include "MainWindowLink.h"
#include "SimProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace vg57;
using vg57::test::PumpUntil;
using vg57::test::SimProcess;

namespace {

// The program's side: COM3 with the main window's line and framer.
struct Program {
    explicit Program(const std::string& configHome) {
        setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
        test::MainWindowPort(port, 3);
        test::MainWindowFramer(framer);
        framer.OnStringPacket = [this](TDataPacket&, const std::string& s) {
            replies.push_back(s);
        };
        framer.SetComPort(&port);
        port.OnDeviceLost = [this](TComPort&) { ++losses; };
    }
    std::string Ask(const std::string& command) {
        const std::size_t before = replies.size();
        port.WriteText("\x02"
                       "0" +
                       command + "\r");
        if (!PumpUntil([&] { return replies.size() > before; })) return "(no reply)";
        return replies.back();
    }
    TComPort port;
    TDataPacket framer;
    std::vector<std::string> replies;
    int losses = 0;
};

} // namespace

TEST(PortWithSimulator, requestsGetTheGaugesReplies) {
    SimProcess sim;
    Program program(sim.ConfigHome());
    sim.Command("hold");
    sim.Command("noise off");
    sim.Command("pressure 0.0025");
    EXPECT_EQ(program.Ask("S3"), "0S");
    EXPECT_EQ(program.Ask("R1"), "0R0001");
    EXPECT_EQ(program.Ask("S1"), "0S2503");
    EXPECT_EQ(program.Ask("W212035014"), "0W");
    EXPECT_EQ(program.Ask("R2"), "0R12035014");
}

TEST(PortWithSimulator, repliesInPiecesAndNoiseBetweenFramesStillArriveWhole) {
    SimProcess sim;
    Program program(sim.ConfigHome());
    sim.Command("garbage on");
    sim.Command("split 4 20");
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(program.Ask("R1"), "0R0001");
}

TEST(PortWithSimulator, aPulledAdapterIsReportedOnceAndAReopenAfterReplugWorks) {
    SimProcess sim;
    Program program(sim.ConfigHome());
    ASSERT_EQ(program.Ask("R1"), "0R0001");
    sim.Command("unplug");
    ASSERT_TRUE(PumpUntil([&] { return program.losses > 0; }));
    EXPECT_TRUE(program.port.Open());
    EXPECT_EQ(program.Ask("R1"), "(no reply)") << "nothing is carried, and nothing hangs";
    EXPECT_EQ(program.losses, 1);
    sim.Command("replug");
    program.port.SetOpen(false); // Stop ...
    program.port.SetOpen(true);  // ... and Start again
    EXPECT_EQ(program.Ask("R1"), "0R0001");
}
