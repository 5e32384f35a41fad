// Replies that no working gauge sends, from a scripted far end on a pseudo-terminal: pressures
// and set points whose characters are not digits.
#include "GaugeRig.h"

#include <gtest/gtest.h>

namespace vg57::test {
namespace {

using Strings = std::vector<std::string>;

struct ScriptedRig {
    explicit ScriptedRig(std::map<std::string, std::string> replies) : gauge(std::move(replies)) {}
    ScriptedGauge gauge;
    LinkRig rig{ScriptedGauge::kCom};
};

struct PressureCase {
    const char* reply;
    bool accepted;
    const char* shown; // PressureText when accepted
    bool deviceError;  // "Ошибка от прибора" when refused
};

TEST(ReadMeasurement, takesOnlyAPressureOfDigitsWithTheRightLengthAndEcho) {
    const PressureCase cases[] = {
        {"0S2503", true, "0.0025 Па", false},
        {"0S1000", true, "1 Па", false},    // exponent 0 with a negative sign
        {"0S25Z3", true, "2500 Па", false}, // any sign character but '0' is positive
        {"0S9919", true, "9900000000 Па", false},
        {"0S 503", false, nullptr, true}, // would be -0.0155
        {"0S2 03", false, nullptr, true},
        {"0S250Z", false, nullptr, true}, // would be 2.5E-42
        {"0S-503", false, nullptr, true},
        {"0S250", false, nullptr, false},
        {"0S25033", false, nullptr, false},
        {"0X2503", false, nullptr, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        ScriptedRig s({{"S3", "0S"}, {"R1", "0R0001"}, {"S1", c.reply}});
        auto& l = s.rig.link;
        l.CurrentPressure = 7.0L;
        EXPECT_EQ(l.ReadMeasurement(), c.accepted);
        EXPECT_FALSE(l.Bus().GaugeBusy);
        EXPECT_EQ(s.rig.view.pressure, c.accepted ? c.shown : "");
        if (!c.accepted) {
            EXPECT_EQ(l.CurrentPressure, 7.0L) << "a refused reading changes nothing";
        }
        EXPECT_EQ(s.rig.view.test, c.deviceError ? "Ошибка от прибора" : "");
        EXPECT_EQ(s.gauge.Requests(), (Strings{"0S3", "0R1", "0S1"}));
    }
}

struct SetPointCase {
    const char* r3;        // reply to "R3"
    int index;             // the set point that is not a number
    const char* labelText; // what its label shows
};

TEST(ReadSetPoints, aSetPointThatIsNotANumberRaisesAfterTheGaugeIsReleased) {
    const SetPointCase cases[] = {
        {"0R1A015001", SP2L, "1.Ae-1"}, // a letter, as the instrument's own checks name it
        {"0R 0015001", SP2L, " .0e-1"}, // a blank would still parse, as 0.00
        {"0R-5015001", SP2L, "-.5e-1"}, // a sign would still parse, as -0.05
        {"0R10015A01", SP2H, "5.Ae-1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.r3);
        ScriptedRig s({{"S3", "0S"}, {"R2", "0R10035003"}, {"R3", c.r3}, {"R4", "0R10135013"}});
        auto& l = s.rig.link;
        try {
            l.ReadSetPoints();
            ADD_FAILURE() << "no error raised";
        } catch (const ESetPointConversion& e) {
            const std::string text = e.what();
            EXPECT_NE(text.find(c.labelText), std::string::npos) << text;
            EXPECT_NE(text.find(c.index == SP2L ? "SP2L" : "SP2H"), std::string::npos) << text;
            EXPECT_FALSE(l.Bus().GaugeBusy) << "released before the error goes on";
        }
        EXPECT_EQ(l.Bus().AcquireDepth, 0);
        EXPECT_EQ(s.rig.view.setPoints[static_cast<std::size_t>(c.index)], c.labelText);
        EXPECT_EQ(l.SetPoints[SP1L], 0.001L) << "values read before stay";
        EXPECT_EQ(l.SetPoints[SP1H], 0.005L);
        if (c.index == SP2H) {
            EXPECT_EQ(l.SetPoints[SP2L], 0.1L);
        }
        EXPECT_EQ(s.gauge.Requests(), (Strings{"0S3", "0R2", "0R3"}));
    }
}

TEST(WriteSetPoints, refusesAValueTheGaugeCannotHoldAndSendsNothing) {
    ScriptedRig s({{"S3", "0S"}, {"W2", "0W"}, {"W3", "0W"}, {"W4", "0W"}});
    auto& l = s.rig.link;
    for (long double bad : {-2.0L, 5e20L, 1e-12L, 9.96e9L, 9.4e-10L}) {
        for (int index = 0; index < kSetPointCount; ++index) {
            l.SetPoints = {1e-3L, 5e3L, 1e-1L, 5e1L, 1e3L, 5e3L};
            l.SetPoints[static_cast<std::size_t>(index)] = bad;
            EXPECT_FALSE(l.WriteSetPoints()) << (double)bad << " at " << index;
        }
    }
    EXPECT_EQ(s.rig.view.dialogs, 0) << "refused before the gauge was asked for";
    l.SetPoints = {9.94e9L, 9.95e-10L, 0.0L, 1.0L, 2.5e-3L, 1e-9L}; // the edges that fit
    EXPECT_TRUE(l.WriteSetPoints());
    EXPECT_EQ(s.gauge.Requests(), (Strings{"0S3", "0W299191009", "0W300101010", "0W425031009"}));
}

} // namespace
} // namespace vg57::test
