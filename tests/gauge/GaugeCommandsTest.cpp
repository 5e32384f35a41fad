// Every command routine against the gauge simulator: what goes out on the line, what the
// window shows, and how each reply's length and echo letter are checked.
#include "GaugeRig.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace vg57::test {
namespace {

const char kDeviceError[] = "Ошибка от прибора";

struct CommandCase {
    const char* name;
    std::vector<std::string> simSetup;
    std::function<bool(TGaugeLink&)> run;
    bool result;
    std::vector<std::string> requests; // after the opening "S3"
    std::function<void(const TGaugeLink&, const RecordingView&)> check;
};

void RunTable(const std::vector<CommandCase>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimRig sim;
        for (const auto& line : c.simSetup)
            sim.sim.Command(line);
        EXPECT_EQ(c.run(sim.rig.link), c.result);
        EXPECT_FALSE(sim.rig.link.Bus().GaugeBusy) << "released on every way out";
        std::vector<std::string> expected = {"0S3"};
        expected.insert(expected.end(), c.requests.begin(), c.requests.end());
        EXPECT_EQ(sim.Requests(), expected);
        if (c.check) c.check(sim.rig.link, sim.rig.view);
    }
}

// A calibration at a pressure: the routine succeeds when the gauge says so, and its message box
// comes after the gauge is released.
CommandCase Calibration(const char* name, const char* pressure, bool atmosphere,
                        const char* message) {
    const bool done = std::string(message).find("не выполнена") == std::string::npos;
    return {name,
            {std::string("pressure ") + pressure},
            [atmosphere](TGaugeLink& l) {
                return atmosphere ? l.CalibrateAtmosphere() : l.CalibrateZero();
            },
            done,
            {atmosphere ? "0C1" : "0C2"},
            [message](const TGaugeLink&, const RecordingView& v) {
                EXPECT_EQ(v.messages, std::vector<std::string>{message});
                EXPECT_EQ(v.busyAtMessage, std::vector<bool>{false}) << "released before the box";
            }};
}

TEST(GaugeCommands, eachRoutineSendsItsCommandsAndShowsTheReplies) {
    RunTable({
        {"ReadUnit",
         {},
         [](TGaugeLink& l) { return l.ReadUnit(); },
         true,
         {"0R1"},
         [](const TGaugeLink& l, const RecordingView& v) {
             EXPECT_EQ(v.units, "Па");
             EXPECT_EQ(l.UnitCode, "0001");
             EXPECT_EQ(v.Indicator(), TIndicator::green);
         }},
        {"WriteUnit then ReadUnit",
         {},
         [](TGaugeLink& l) {
             l.UnitCode = "0002";
             return l.WriteUnit() && l.ReadUnit();
         },
         true,
         {"0W10002", "0R1"},
         [](const TGaugeLink& l, const RecordingView& v) {
             EXPECT_EQ(v.units, "Торр");
             EXPECT_EQ(l.UnitCode, "0002");
         }},
        {"ReadMeasurement",
         {"pressure 0.0025"},
         [](TGaugeLink& l) { return l.ReadMeasurement(); },
         true,
         {"0R1", "0S1"},
         [](const TGaugeLink& l, const RecordingView& v) {
             EXPECT_EQ(l.CurrentPressure, 25.0L / 10000.0L);
             EXPECT_EQ(v.pressure, "0.0025 Па");
             EXPECT_EQ(v.test, "");
         }},
        {"ReadSetPoints",
         {},
         [](TGaugeLink& l) { return l.ReadSetPoints(); },
         true,
         {"0R2", "0R3", "0R4"},
         [](const TGaugeLink& l, const RecordingView& v) {
             const std::array<std::string, 6> texts = {"1.0e-3", "5.0e-3", "1.0e-1",
                                                       "5.0e-1", "1.0e+3", "5.0e+3"};
             EXPECT_EQ(v.setPoints, texts);
             EXPECT_EQ(l.SetPoints[SP1L], 0.001L);
             EXPECT_EQ(l.SetPoints[SP2H], 0.5L);
             EXPECT_EQ(l.SetPoints[SP3H], 5000.0L);
         }},
        {"WriteSetPoints then ReadSetPoints",
         {},
         [](TGaugeLink& l) {
             l.SetPoints = {0.0012L, 50000.0L, 0.0L, 1e-9L, 9.9e9L, 0.0025L};
             return l.WriteSetPoints() && l.ReadSetPoints();
         },
         true,
         {"0W212035014", "0W300101009", "0W499192503", "0R2", "0R3", "0R4"},
         [](const TGaugeLink& l, const RecordingView& v) {
             EXPECT_EQ(v.setPoints[SP1L], "1.2e-3");
             EXPECT_EQ(v.setPoints[SP2L], "0.0e+0");
             EXPECT_EQ(l.SetPoints[SP1H], 50000.0L);
             EXPECT_EQ(l.SetPoints[SP3L], 9.9e9L);
         }},
        Calibration("CalibrateAtmosphere near atmosphere", "100000", true,
                    "Калибровка по атмосферному давлению выполнена"),
        Calibration("CalibrateAtmosphere at low pressure", "1000", true,
                    "Калибровка по атмосферному давлению не выполнена!"
                    "Возможно давление слишком низкое."),
        Calibration("CalibrateZero at low pressure", "0.01", false,
                    "Калибровка нуля датчика выполнена"),
        Calibration("CalibrateZero near atmosphere", "100000", false,
                    "Калибровка нуля датчика не выполнена! Возможно давление слишком высокое."),
    });
}

// What a refused reply leaves behind: no message, no values, and the error text only where the
// routine shows it.
void ExpectNothingShown(const RecordingView& v, bool deviceError) {
    EXPECT_EQ(v.test, deviceError ? kDeviceError : "");
    EXPECT_EQ(v.units, "");
    EXPECT_EQ(v.pressure, "");
    EXPECT_TRUE(v.messages.empty());
    EXPECT_EQ(v.Indicator(), TIndicator::green) << "the exchange itself succeeded";
}

CommandCase Refused(const char* name, const char* fault, std::function<bool(TGaugeLink&)> run,
                    std::vector<std::string> requests, bool deviceError) {
    return {name,
            {fault},
            std::move(run),
            false,
            std::move(requests),
            [deviceError](const TGaugeLink& l, const RecordingView& v) {
                ExpectNothingShown(v, deviceError);
                EXPECT_EQ(l.UnitCode, "");
                EXPECT_EQ(l.CurrentPressure, 0.0L);
                EXPECT_EQ(l.SetPoints[SP1L], 0.0L);
            }};
}

TEST(GaugeCommands, aReplyOfTheWrongLengthOrEchoStopsTheRoutine) {
    const auto readUnit = [](TGaugeLink& l) { return l.ReadUnit(); };
    const auto measure = [](TGaugeLink& l) { return l.ReadMeasurement(); };
    const auto readSp = [](TGaugeLink& l) { return l.ReadSetPoints(); };
    const auto writeSp = [](TGaugeLink& l) { return l.WriteSetPoints(); };
    const auto writeUnit = [](TGaugeLink& l) {
        l.UnitCode = "0003";
        return l.WriteUnit();
    };
    const auto atm = [](TGaugeLink& l) { return l.CalibrateAtmosphere(); };
    const auto zero = [](TGaugeLink& l) { return l.CalibrateZero(); };
    auto writeUnitCase = Refused("W1 echo", "echo X", writeUnit, {"0W10003"}, false);
    writeUnitCase.check = [](const TGaugeLink&, const RecordingView& v) {
        ExpectNothingShown(v, false);
    };
    auto s1Echo = Refused("S1 echo", "echo R", measure, {"0R1", "0S1"}, true);
    s1Echo.check = [](const TGaugeLink& l, const RecordingView& v) {
        EXPECT_EQ(v.test, kDeviceError);
        EXPECT_EQ(v.units, "Па") << "R1 passed";
        EXPECT_EQ(v.pressure, "");
        EXPECT_EQ(l.CurrentPressure, 0.0L);
    };
    auto writeUnitLength = writeUnitCase;
    writeUnitLength.name = "W1 length";
    writeUnitLength.simSetup = {"length 1"};
    // (The opening "S3" is answered by the same faulty gauge: its reply is not checked.)
    RunTable({
        Refused("R1 length", "length 1", readUnit, {"0R1"}, false),
        Refused("R1 echo", "echo X", readUnit, {"0R1"}, true),
        Refused("R1 of a reading, echo", "echo X", measure, {"0R1"}, true),
        s1Echo,
        Refused("R2 length", "length -1", readSp, {"0R2"}, false),
        Refused("R2 echo", "echo S", readSp, {"0R2"}, false),
        Refused("W2 length", "length 1", writeSp, {"0W200100010"}, false),
        Refused("W2 echo", "echo R", writeSp, {"0W200100010"}, false),
        writeUnitCase,
        writeUnitLength,
        Refused("C1 length", "length 2", atm, {"0C1"}, false),
        Refused("C1 echo", "echo W", atm, {"0C1"}, false),
        Refused("C2 length", "length -1", zero, {"0C2"}, false),
        Refused("C2 echo", "echo S", zero, {"0C2"}, false),
    });
}

} // namespace
} // namespace vg57::test
