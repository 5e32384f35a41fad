// The calibration and device-settings actions against the gauge simulator: what goes out on the
// line (the simulator's log), and what the operator is shown. A gauge reporting a unit code
// the simulator can't play is a scripted far end on a pseudo-terminal.
#include "GaugeActions.h"

#include "GaugeRig.h"
#include "SPSetup.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>
#include <gtest/gtest.h>

#include <algorithm>

using namespace vg57;
using test::LinkRig;
using test::ScriptedGauge;
using Strings = std::vector<std::string>;

namespace {

// The main window's link, configured, with a widget to own the dialogs.
struct Program : LinkRig {
    explicit Program(int com) : LinkRig(com) { link.PortConfigured = true; }
    bool DialogsLeft() const { return !owner.findChildren<TSPSetupForm*>().isEmpty(); }
    QWidget owner;
};

struct SimRig : test::SimRig {
    SimRig() { rig.link.PortConfigured = true; }
    bool DialogsLeft() const { return !owner.findChildren<TSPSetupForm*>().isEmpty(); }
    QWidget owner;
};

const Strings kReadAll = {"0R2", "0R3", "0R4", "0R1"};

Strings Join(std::initializer_list<Strings> parts) {
    Strings out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Strings Writes(const Strings& requests) {
    Strings out;
    std::copy_if(requests.begin(), requests.end(), std::back_inserter(out),
                 [](const std::string& q) { return q.size() > 1 && q[1] == 'W'; });
    return out;
}

// A gauge that answers the dialog's reads and takes every write.
std::map<std::string, std::string> Answers(const char* unit) {
    return {{"S3", "0S"},         {"R1", unit},         {"R2", "0R10035003"},
            {"R3", "0R10015001"}, {"R4", "0R10135013"}, {"W1", "0W"},
            {"W2", "0W"},         {"W3", "0W"},         {"W4", "0W"}};
}

// Fills the dialog as an operator would and presses "Ok" (the dialog's own check runs).
TSPSetupExec Operator(std::function<void(TSPSetupForm&)> edit) {
    return [edit](TSPSetupForm& d) {
        edit(d);
        d.Button1Click();
        return d.result();
    };
}

} // namespace

TEST(DeviceSettings, changingOnlySp2hWritesTheUnitAndEveryPairThenReadsBack) {
    SimRig s;
    std::array<std::string, 6> shown;
    int unitShown = -2;
    ActionDeviceSettingsExecute(&s.owner, s.rig.link, Operator([&](TSPSetupForm& d) {
        shown = d.Texts();
        unitShown = d.UnitMeasure->currentIndex();
        d.SP2H->setText("7E-1");
    }));
    EXPECT_EQ(shown, (std::array<std::string, 6>{"0.001", "0.005", "0.1", "0.5", "1000", "5000"}));
    EXPECT_EQ(unitShown, 0);
    EXPECT_EQ(s.Requests(), Join({{"0S3"},
                                  kReadAll,
                                  {"0W10001", "0W210035003", "0W310017001", "0W410135013"},
                                  kReadAll}));
    EXPECT_EQ(s.rig.view.setPoints[SP2H], "7.0e-1") << "the panel shows the gauge's value";
    EXPECT_FALSE(s.DialogsLeft());
}

// The operator clicks again while the gauge is slow: the click runs right after the time-out,
// and the late reply must neither fill the dialog nor reach a relay.
TEST(DeviceSettings, aClickAfterASlowReplyShowsAndWritesEachRelaysOwnValues) {
    SimRig s;
    ASSERT_TRUE(s.rig.link.ReadUnit());
    // Later than the time-out (2201..2255 ms) and well before the next request may go (500 ms
    // of quiet after it): a reply later still can't be told from the next one's answer.
    s.sim.Command("delay 2400 once");
    int dialogs = 0;
    std::array<std::string, 6> shown;
    const auto look = Operator([&](TSPSetupForm& d) {
        ++dialogs;
        shown = d.Texts();
    });
    ActionDeviceSettingsExecute(&s.owner, s.rig.link, look);
    EXPECT_EQ(dialogs, 0) << "a failed read shows no dialog";
    ActionDeviceSettingsExecute(&s.owner, s.rig.link, look);
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(shown, (std::array<std::string, 6>{"0.001", "0.005", "0.1", "0.5", "1000", "5000"}));
    EXPECT_EQ(Writes(s.Requests()),
              (Strings{"0W10001", "0W210035003", "0W310015001", "0W410135013"}));
}

// The relays keep their pressures: the fields are converted as Torr is chosen, the unit goes
// first and the thresholds in Torr after it, whatever the gauge did with its own meanwhile.
TEST(DeviceSettings, choosingTorrConvertsTheFieldsAndWritesThemAfterTheUnit) {
    SimRig s;
    std::array<std::string, 6> shown;
    QString unitSaid;
    ActionDeviceSettingsExecute(&s.owner, s.rig.link, Operator([&](TSPSetupForm& d) {
        d.UnitMeasure->setCurrentIndex(1);
        shown = d.Texts();
        unitSaid = d.SetPointUnit->text();
    }));
    EXPECT_EQ(shown,
              (std::array<std::string, 6>{"7.5E-6", "3.8E-5", "0.00075", "0.0038", "7.5", "38"}));
    EXPECT_EQ(unitSaid, QStringLiteral("в единицах: Torr"));
    EXPECT_EQ(s.Requests(), Join({{"0S3"},
                                  kReadAll,
                                  {"0W10002", "0W275063805", "0W375043803", "0W475103811"},
                                  kReadAll}));
    EXPECT_EQ(s.rig.link.UnitCode, "0002");
    EXPECT_EQ(s.rig.view.units, "Торр") << "read back";
    EXPECT_EQ(s.rig.view.setPoints[SP3H], "3.8e+1") << "read back";
}

TEST(DeviceSettings, cancelSendsNothingAndKeepsTheValuesRead) {
    SimRig s;
    ActionDeviceSettingsExecute(&s.owner, s.rig.link, [](TSPSetupForm& d) {
        d.SP1L->setText("2");
        d.UnitMeasure->setCurrentIndex(2);
        return int(QDialog::Rejected);
    });
    EXPECT_EQ(s.Requests(), Join({{"0S3"}, kReadAll}));
    EXPECT_EQ(double(s.rig.link.SetPoints[SP1L]), 0.001);
    EXPECT_EQ(s.rig.link.UnitCode, "0001");
    EXPECT_FALSE(s.DialogsLeft());
}

TEST(DeviceSettings, anUnknownUnitIsWrittenOnlyWhenTheOperatorChoosesOne) {
    const Strings pairs = {"0W210035003", "0W310015001", "0W410135013"};
    for (const int choice : {-1, 2}) { // -1: leave the list as it opened
        ScriptedGauge gauge(Answers("0R0004"));
        Program program(ScriptedGauge::kCom);
        int opened = -2;
        ActionDeviceSettingsExecute(&program.owner, program.link, Operator([&](TSPSetupForm& d) {
            opened = d.UnitMeasure->currentIndex();
            if (choice < 0) return;
            d.UnitMeasure->setCurrentIndex(choice);
            gauge.SetReply("R1", "0R0003"); // the unit takes effect
        }));
        EXPECT_EQ(opened, -1) << "no entry for an unknown code";
        EXPECT_EQ(Writes(gauge.Requests()), choice < 0 ? pairs : Join({{"0W10003"}, pairs}));
        EXPECT_EQ(program.link.UnitCode, choice < 0 ? "0004" : "0003");
    }
}

TEST(DeviceSettings, bothAreReadBackAfterWritingAndTheUnitCodeIsWhatTheGaugeTook) {
    struct Row {
        const char* w1; // the gauge's answers once the dialog is open
        const char* r2;
        const char* r1;
        bool raises; // a letter in the read-back set points
        const char* unitAfter;
        const char* lastWrite; // a refused unit gets no set points meant for it
    };
    const Row rows[] = {
        {"0X", "0R1A035003", "0R0001", true, "0001", "0W10002"}, // the unit is read even so
        {"0X", "0R1", "0R1", false, "0001", "0W10002"}, // refused, nothing read: the unit as read
        {"0W", "0R1", "0R1", false, "0002", "0W475103811"}, // taken, though not read back
    };
    for (const Row& r : rows) {
        ScriptedGauge gauge(Answers("0R0001"));
        Program program(ScriptedGauge::kCom);
        bool raised = false;
        try {
            ActionDeviceSettingsExecute(&program.owner, program.link,
                                        Operator([&](TSPSetupForm& d) {
                                            d.UnitMeasure->setCurrentIndex(1);
                                            gauge.SetReply("W1", r.w1);
                                            gauge.SetReply("R2", r.r2);
                                            gauge.SetReply("R1", r.r1);
                                        }));
        } catch (const ESetPointConversion&) {
            raised = true;
        }
        EXPECT_EQ(raised, r.raises) << r.w1 << " " << r.r2;
        const auto q = gauge.Requests();
        EXPECT_EQ(Strings(q.end() - std::min<std::size_t>(q.size(), 3), q.end()),
                  (Strings{r.lastWrite, "0R2", "0R1"}))
            << r.w1 << " " << r.r2;
        EXPECT_EQ(program.link.UnitCode, r.unitAfter) << r.w1 << " " << r.r2;
        EXPECT_FALSE(program.DialogsLeft());
    }
}

TEST(DeviceSettings, aUnitCodeThatIsNoNumberIsReportedAndShowsNoDialog) {
    ScriptedGauge gauge(Answers("0R00X1"));
    Program program(ScriptedGauge::kCom);
    bool shown = false;
    EXPECT_THROW(ActionDeviceSettingsExecute(&program.owner, program.link,
                                             [&](TSPSetupForm&) {
                                                 shown = true;
                                                 return int(QDialog::Accepted);
                                             }),
                 EUnitCodeNotNumber);
    EXPECT_FALSE(shown);
    EXPECT_FALSE(program.DialogsLeft());
}

TEST(DeviceSettings, theDialogIsFreedWhenAnErrorIsRaisedAfterOk) {
    ScriptedGauge gauge(Answers("0R0001"));
    Program program(ScriptedGauge::kCom);
    // OK without the dialog's own check: the texts are checked again before anything goes out.
    EXPECT_THROW(ActionDeviceSettingsExecute(&program.owner, program.link,
                                             [](TSPSetupForm& d) {
                                                 d.SP3H->setText("-5");
                                                 return int(QDialog::Accepted);
                                             }),
                 std::runtime_error);
    EXPECT_FALSE(program.DialogsLeft());
    EXPECT_EQ(Writes(gauge.Requests()), Strings{});
}

const TConfirm kYes = [](const std::string&) { return true; };

TEST(Calibration, eachResultIsShownWithItsTextAndNoReplyShowsNone) {
    SimRig s;
    auto& messages = s.rig.view.messages;
    struct Row {
        const char* pressure;
        void (*action)(TGaugeLink&, const TConfirm&);
        const char* text;
    };
    const Row rows[] = {
        {"1.0E5", ActionCalibrAtmExecute, "Калибровка по атмосферному давлению выполнена"},
        {"1.0E5", ActionCalibrZeroExecute,
         "Калибровка нуля датчика не выполнена! Возможно давление слишком высокое."},
        {"0.01", ActionCalibrAtmExecute,
         "Калибровка по атмосферному давлению не выполнена!Возможно давление слишком низкое."},
        {"0.01", ActionCalibrZeroExecute, "Калибровка нуля датчика выполнена"},
    };
    for (const Row& r : rows) {
        s.sim.Command(std::string("pressure ") + r.pressure);
        messages.clear();
        r.action(s.rig.link, kYes);
        EXPECT_EQ(messages, Strings{r.text}) << r.pressure;
    }
    s.sim.Command("silent on");
    messages.clear();
    ActionCalibrZeroExecute(s.rig.link, kYes); // waits out the reply time-outs
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(s.Requests().back(), "0C2") << "the command went out";
}

// The question says first when the fresh reading is far from where the calibration belongs.
TEST(Calibration, asksWithAFreshReadingAndSendsNothingUnlessTheAnswerIsYes) {
    SimRig s;
    const std::string atm = "Выполнить калибровку по атмосферному давлению? Текущее давление: ";
    const std::string zero = "Выполнить калибровку нуля? Текущее давление: ";
    const struct {
        const char* pressure; // null: the gauge is silent
        void (*action)(TGaugeLink&, const TConfirm&);
        bool answer;
        std::string asked;
        Strings sent; // the first exchange readies the gauge ("S3")
    } rows[] = {
        {"1.0E5", ActionCalibrAtmExecute, false, atm + "100000 Па", {"0S3", "0R1", "0S1"}},
        {"1.0E5", ActionCalibrAtmExecute, true, atm + "100000 Па", {"0R1", "0S1", "0C1"}},
        {"2.9E-4",
         ActionCalibrAtmExecute,
         false,
         "Давление 2.9E-4 Па далеко от атмосферного. " + atm + "0.00029 Па",
         {"0R1", "0S1"}},
        {"1.0E5",
         ActionCalibrZeroExecute,
         false,
         "Давление 1.0E+5 Па далеко от нуля. " + zero + "100000 Па",
         {"0R1", "0S1"}},
        {"0.1", ActionCalibrZeroExecute, false, zero + "0.1 Па", {"0R1", "0S1"}},
        {nullptr, ActionCalibrZeroExecute, false, zero + "нет данных", {"0R1"}},
    };
    for (const auto& r : rows) {
        s.sim.Command(r.pressure ? std::string("pressure ") + r.pressure : "silent on");
        const std::size_t before = s.Requests().size();
        Strings asked;
        r.action(s.rig.link, [&](const std::string& q) { return asked.push_back(q), r.answer; });
        EXPECT_EQ(asked, Strings{r.asked});
        const Strings all = s.Requests();
        EXPECT_EQ(Strings(all.begin() + std::ptrdiff_t(before), all.end()), r.sent);
    }
}
