// The calibration and device-settings actions against the gauge simulator: what goes out on the
// line (the simulator's log), and what the operator is shown. A gauge reporting a unit code
// the simulator can't play is a scripted far end on a pseudo-terminal.
#include "GaugeActions.h"

#include "ComPort.h"
#include "DataPacket.h"
#include "GaugeLink.h"
#include "SPSetup.h"

#include "MainWindowLink.h"
#include "Pty.h"
#include "SimProcess.h"
#include "TempDir.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSocketNotifier>
#include <QWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <unistd.h>

using namespace vg57;
using test::SimProcess;

namespace {

class RecordingView : public TGaugeView {
public:
    std::vector<std::string> messages;
    std::array<std::string, 6> setPoints;
    std::string units;
    void SetUnitsText(const std::string& t) override { units = t; }
    void SetPressureText(const std::string&) override {}
    void SetTestText(const std::string&) override {}
    void SetSetPointText(int i, const std::string& t) override { setPoints.at(std::size_t(i)) = t; }
    void SetTransferIndicator(TIndicator) override {}
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    bool RunConnectionDialog() override { return true; }
};

// The main window's port, framer and gauge link on COM3 of the port map (in `configHome`, if
// given).
struct Program {
    RecordingView view;
    TComPort port;
    TDataPacket framer;
    TGaugeLink link{port, view};
    QWidget owner;

    explicit Program(const std::string& configHome = {}) {
        if (!configHome.empty()) setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
        test::MainWindowPort(port, 3);
        test::MainWindowFramer(framer);
        framer.OnStringPacket = [this](TDataPacket& f, const std::string& d) {
            link.DataPacket1StringPacket(f, d);
        };
        framer.SetComPort(&port);
        link.PortConfigured = true;
        link.DevAddress = '0';
    }
    ~Program() { port.SetOpen(false); }
    bool DialogsLeft() const { return !owner.findChildren<TSPSetupForm*>().isEmpty(); }
};

// The commands in the simulator's log, in order, without frame bytes and address.
std::vector<std::string> Requests(const std::string& logPath) {
    std::ifstream in(logPath);
    std::string bytes;
    for (std::string line; std::getline(in, line);) {
        const auto rx = line.find(" RX "), quote = line.find("  \"");
        if (rx == std::string::npos || quote == std::string::npos) continue;
        std::istringstream hex(line.substr(rx + 4, quote - rx - 4));
        for (unsigned b; hex >> std::hex >> b;)
            bytes += char(b);
    }
    std::vector<std::string> out;
    for (std::size_t start; (start = bytes.find('\x02')) != std::string::npos;) {
        const auto end = bytes.find('\r', start);
        if (end == std::string::npos) break;
        out.push_back(bytes.substr(start + 2, end - start - 2));
        bytes.erase(0, end + 1);
    }
    return out;
}

struct SimRig {
    test::TempDir dir;
    std::string log = dir.Path() + "/sim.log";
    SimProcess sim{{"--log", log}};
    Program program{sim.ConfigHome()};
    SimRig() {
        sim.Command("hold");
        sim.Command("noise off");
    }
};

const std::vector<std::string> kReadAll = {"R2", "R3", "R4", "R1"};

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
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

TEST(DeviceSettings, changingOnlySp2hWritesEveryPairAndTheUnitThenReadsBack) {
    SimRig rig;
    std::array<std::string, 6> shown;
    int unitShown = -2;
    ActionDeviceSettingsExecute(&rig.program.owner, rig.program.link,
                                Operator([&](TSPSetupForm& d) {
                                    shown = d.Texts();
                                    unitShown = d.UnitMeasure->currentIndex();
                                    d.SP2H->setText("7E-1");
                                }));
    EXPECT_EQ(shown, (std::array<std::string, 6>{"0.001", "0.005", "0.1", "0.5", "1000", "5000"}));
    EXPECT_EQ(unitShown, 0);
    EXPECT_EQ(
        Requests(rig.log),
        Join({{"S3"}, kReadAll, {"W210035003", "W310017001", "W410135013", "W10001"}, kReadAll}));
    EXPECT_EQ(rig.program.view.setPoints[SP2H], "7.0e-1") << "the panel shows the gauge's value";
    EXPECT_FALSE(rig.program.DialogsLeft());
}

TEST(DeviceSettings, choosingTorrWritesUnitCode0002) {
    SimRig rig;
    ActionDeviceSettingsExecute(&rig.program.owner, rig.program.link, Operator([](TSPSetupForm& d) {
        d.UnitMeasure->setCurrentIndex(1);
    }));
    const auto sent = Requests(rig.log);
    ASSERT_GE(sent.size(), 9u);
    EXPECT_EQ(sent[8], "W10002");
    EXPECT_EQ(rig.program.link.UnitCode, "0002");
    EXPECT_EQ(rig.program.view.units, "Торр") << "read back";
}

TEST(DeviceSettings, cancelSendsNothingAndKeepsTheValuesRead) {
    SimRig rig;
    ActionDeviceSettingsExecute(&rig.program.owner, rig.program.link, [](TSPSetupForm& d) {
        d.SP1L->setText("2");
        d.UnitMeasure->setCurrentIndex(2);
        return int(QDialog::Rejected);
    });
    EXPECT_EQ(Requests(rig.log), Join({{"S3"}, kReadAll}));
    EXPECT_EQ(double(rig.program.link.SetPoints[SP1L]), 0.001);
    EXPECT_EQ(rig.program.link.UnitCode, "0001");
    EXPECT_FALSE(rig.program.DialogsLeft());
}

namespace {

// A gauge that answers from a table, on the master side of a pseudo-terminal published as COM3.
// It answers inside the program's command waits, which handle this thread's events.
struct ScriptedGauge {
    test::PtyPair pty;
    test::TempPortMap map;
    std::map<std::string, std::string> answers = {
        {"S3", "0S"}, {"R2", "0R10035003"}, {"R3", "0R10015001"}, {"R4", "0R10135013"}};
    std::vector<std::string> requests;
    std::string pending;
    bool unitFollowsW1 = true; // "R1" answers with the unit an accepted "W1" set
    QSocketNotifier notifier{pty.Master(), QSocketNotifier::Read};

    ScriptedGauge() {
        map.Link(3, pty.SlavePath());
        QObject::connect(&notifier, &QSocketNotifier::activated, [this] { Serve(); });
    }
    void Serve() {
        char buf[256];
        const ssize_t n = read(pty.Master(), buf, sizeof buf);
        if (n > 0) pending.append(buf, std::size_t(n));
        for (std::size_t end; (end = pending.find('\r')) != std::string::npos;) {
            const auto start = pending.rfind('\x02', end);
            const std::string command =
                start == std::string::npos ? "" : pending.substr(start + 2, end - start - 2);
            pending.erase(0, end + 1);
            requests.push_back(command);
            if (unitFollowsW1 && command.size() == 6 && command.rfind("W1", 0) == 0 &&
                answers["W1"] == "0W")
                answers["R1"] = "0R" + command.substr(2); // the unit takes effect
            const auto a = answers.find(command.substr(0, 2));
            if (a != answers.end()) pty.Write("\x02" + a->second + "\r");
        }
    }
};

} // namespace

TEST(DeviceSettings, anUnknownUnitIsWrittenOnlyWhenTheOperatorChoosesOne) {
    struct Row {
        const char* unitReply;
        int choice; // -1: leave the list as it opened
        std::vector<std::string> writes;
        const char* unitAfter;
    };
    const Row rows[] = {
        {"0R0004", -1, {"W210035003", "W310015001", "W410135013"}, "0004"},
        {"0R0004", 2, {"W210035003", "W310015001", "W410135013", "W10003"}, "0003"},
    };
    for (const Row& r : rows) {
        ScriptedGauge gauge;
        gauge.answers["R1"] = r.unitReply;
        for (const char* w : {"W1", "W2", "W3", "W4"})
            gauge.answers[w] = "0W";
        Program program;
        int opened = -2;
        ActionDeviceSettingsExecute(&program.owner, program.link, Operator([&](TSPSetupForm& d) {
            opened = d.UnitMeasure->currentIndex();
            if (r.choice >= 0) d.UnitMeasure->setCurrentIndex(r.choice);
        }));
        EXPECT_EQ(opened, -1) << "no entry for an unknown code";
        std::vector<std::string> writes;
        for (const auto& q : gauge.requests)
            if (q[0] == 'W') writes.push_back(q);
        EXPECT_EQ(writes, r.writes) << r.choice;
        EXPECT_EQ(program.link.UnitCode, r.unitAfter);
    }
}

TEST(DeviceSettings, bothAreReadBackAfterWritingAndTheUnitCodeIsWhatTheGaugeTook) {
    struct Row {
        const char* w1; // the gauge's answers once the dialog is open
        const char* r2;
        const char* r1;
        bool raises; // a letter in the read-back set points
        const char* unitAfter;
    };
    const Row rows[] = {
        {"0X", "0R1A035003", "0R0001", true, "0001"}, // the unit is read even so
        {"0X", "0R1", "0R1", false, "0001"},          // refused, nothing read: the unit as read
        {"0W", "0R1", "0R1", false, "0002"},          // taken, though not read back
    };
    for (const Row& r : rows) {
        ScriptedGauge gauge;
        gauge.unitFollowsW1 = false;
        gauge.answers["R1"] = "0R0001";
        for (const char* w : {"W1", "W2", "W3", "W4"})
            gauge.answers[w] = "0W";
        Program program;
        bool raised = false;
        try {
            ActionDeviceSettingsExecute(&program.owner, program.link,
                                        Operator([&](TSPSetupForm& d) {
                                            d.UnitMeasure->setCurrentIndex(1);
                                            gauge.answers["W1"] = r.w1;
                                            gauge.answers["R2"] = r.r2;
                                            gauge.answers["R1"] = r.r1;
                                        }));
        } catch (const ESetPointConversion&) {
            raised = true;
        }
        EXPECT_EQ(raised, r.raises) << r.w1 << " " << r.r2;
        const auto& q = gauge.requests;
        EXPECT_EQ(std::vector<std::string>(q.end() - std::min<std::size_t>(q.size(), 3), q.end()),
                  (std::vector<std::string>{"W10002", "R2", "R1"}))
            << r.w1 << " " << r.r2;
        EXPECT_EQ(program.link.UnitCode, r.unitAfter) << r.w1 << " " << r.r2;
        EXPECT_FALSE(program.DialogsLeft());
    }
}

TEST(DeviceSettings, aUnitCodeThatIsNoNumberIsReportedAndShowsNoDialog) {
    ScriptedGauge gauge;
    gauge.answers["R1"] = "0R00X1";
    Program program;
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
    ScriptedGauge gauge;
    gauge.answers["R1"] = "0R0001";
    Program program;
    // OK without the dialog's own check: the texts are checked again before anything goes out.
    EXPECT_THROW(ActionDeviceSettingsExecute(&program.owner, program.link,
                                             [](TSPSetupForm& d) {
                                                 d.SP3H->setText("-5");
                                                 return int(QDialog::Accepted);
                                             }),
                 std::runtime_error);
    EXPECT_FALSE(program.DialogsLeft());
    for (const auto& q : gauge.requests)
        EXPECT_NE(q[0], 'W') << q;
}

TEST(Calibration, eachResultIsShownWithItsTextAndNoReplyShowsNone) {
    SimRig rig;
    TGaugeLink& link = rig.program.link;
    auto& messages = rig.program.view.messages;
    struct Row {
        const char* pressure;
        void (*action)(TGaugeLink&);
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
        rig.sim.Command(std::string("pressure ") + r.pressure);
        messages.clear();
        r.action(link);
        EXPECT_EQ(messages, std::vector<std::string>{r.text}) << r.pressure;
    }
    rig.sim.Command("silent on");
    messages.clear();
    ActionCalibrZeroExecute(link); // waits out the reply time-out
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(Requests(rig.log).back(), "C2") << "the command went out";
}
