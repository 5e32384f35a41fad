// The bus's cases, each a row: a line of gauges played on a pseudo-terminal by a far end that
// answers in order, each reply after its own delay (behind a late one too), so that a late reply
// lands exactly where a misbehaving gauge would put it.
#include "GaugeRig.h"

#include "MainWindowLink.h"
#include "MonotonicClock.h"

#include <QTimer>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <deque>

namespace vg57::test {
namespace {

using platform::MonotonicMs;
using Strings = std::vector<std::string>;

struct Answer {
    std::string payload;
    int delayMs = 10;
};

// What a working gauge at any address answers, its values told apart by address.
std::vector<Answer> GaugeAnswers(const std::string& request) {
    const std::string a = request.substr(0, 1), command = request.substr(1, 2);
    const std::map<std::string, std::string> table = {
        {"S3", "S"},         {"R1", "R0001"}, {"R2", "R10035003"}, {"R3", "R10015001"},
        {"R4", "R10135013"}, {"W1", "W"},     {"W2", "W"},         {"W3", "W"},
        {"W4", "W"},         {"C1", "C0000"}, {"C2", "C0000"},
    };
    if (command == "S1") return {{a + (a == "0" ? "S2503" : "S7502")}};
    const auto it = table.find(command);
    return it == table.end() ? std::vector<Answer>{} : std::vector<Answer>{{a + it->second}};
}

// The far end of the line: every request frame is logged and answered through `script`
// (request payload, how many times it came before) in order: a reply never overtakes an earlier
// one. With `echo`, each request is first handed back as a two-wire adapter does.
class LineFarEnd {
public:
    using Script = std::function<std::vector<Answer>(const std::string& request, int seen)>;
    static constexpr int kCom = 6;
    LineFarEnd(Script script, bool echo) : script_(std::move(script)), echo_(echo) {
        map_.Link(kCom, pty_.SlavePath());
        thread_ = std::thread([this] { Serve(); });
    }
    ~LineFarEnd() {
        stop_ = true;
        thread_.join();
    }
    Strings Requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    void Serve() {
        std::string pending;
        std::deque<std::pair<std::int64_t, std::string>> due; // in order, never overtaking
        std::map<std::string, int> seen;
        while (!stop_) {
            const std::int64_t now = MonotonicMs();
            while (!due.empty() && due.front().first <= now) {
                pty_.Write(Frame(due.front().second));
                due.pop_front();
            }
            const int wait = due.empty() ? 10 : static_cast<int>(due.front().first - now);
            pollfd p{pty_.Master(), POLLIN, 0};
            if (poll(&p, 1, std::max(0, std::min(wait, 10))) <= 0) continue;
            char buf[256];
            const ssize_t n = read(pty_.Master(), buf, sizeof buf);
            if (n <= 0) continue;
            pending.append(buf, static_cast<std::size_t>(n));
            const auto end = pending.rfind('\r');
            if (end == std::string::npos) continue;
            for (const std::string& frame : Frames(pending.substr(0, end + 1))) {
                {
                    std::lock_guard lock(mutex_);
                    requests_.push_back(frame);
                }
                std::int64_t at = MonotonicMs();
                if (echo_) due.emplace_back(at, frame);
                for (const Answer& a : script_(frame, seen[frame]++)) {
                    // Each after its own delay, also behind a late one: never several at once.
                    at = std::max(at, due.empty() ? 0 : due.back().first) + a.delayMs;
                    due.emplace_back(at, a.payload);
                }
            }
            pending.erase(0, end + 1);
        }
    }

    Script script_;
    const bool echo_;
    PtyPair pty_;
    TempPortMap map_;
    mutable std::mutex mutex_;
    Strings requests_; // guarded by mutex_
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The first `request` is answered after `delayMs`: past the time-out, and before the sentinel's
// reply, as a gauge that answers in order would.
LineFarEnd::Script LateOnce(const std::string& request, int delayMs) {
    return [request, delayMs](const std::string& r, int seen) {
        auto answers = GaugeAnswers(r);
        if (r == request && seen == 0 && !answers.empty()) answers.front().delayMs = delayMs;
        return answers;
    };
}

// Two gauges, at '0' and '5', on one line through one bus.
struct Line {
    explicit Line(LineFarEnd::Script script, bool echo = false) : far(std::move(script), echo) {
        MainWindowPort(bus.Port(), LineFarEnd::kCom);
        gauge0.DevAddress = '0';
        gauge5.DevAddress = '5';
        gauge0.PortConfigured = gauge5.PortConfigured = true;
    }
    ~Line() { bus.Port().SetOpen(false); }
    LineFarEnd far;
    TGaugeBus bus;
    RecordingView view0, view5;
    TGaugeLink gauge0{bus, view0}, gauge5{bus, view5};
};

const std::array<std::string, 6> kSetPoints = {"1.0e-3", "5.0e-3", "1.0e-1",
                                               "5.0e-1", "1.0e+3", "5.0e+3"};

struct BusCase {
    const char* name;
    LineFarEnd::Script script;
    std::function<void(Line&)> run; // runs the case and checks its outcome
};

void ReadsBackAfterALateReply(Line& l, const std::function<bool()>& sequence) {
    ASSERT_TRUE(l.gauge0.EnsureGaugeReady());
    EXPECT_FALSE(sequence()) << "the late reply misses its time-out";
    EXPECT_TRUE(sequence());
    EXPECT_EQ(l.view0.setPoints, kSetPoints);
}

const BusCase kCases[] = {
    {"lateReplyToR2", LateOnce("0R2", 2400),
     [](Line& l) { ReadsBackAfterALateReply(l, [&] { return l.gauge0.ReadSetPoints(); }); }},
    {"lateReplyToR3", LateOnce("0R3", 2400),
     [](Line& l) { ReadsBackAfterALateReply(l, [&] { return l.gauge0.ReadSetPoints(); }); }},
    {"lateReplyToR4", LateOnce("0R4", 2400),
     [](Line& l) { ReadsBackAfterALateReply(l, [&] { return l.gauge0.ReadSetPoints(); }); }},
    {"lateReplyToR1OfAReading", LateOnce("0R1", 2400),
     [](Line& l) {
         ASSERT_TRUE(l.gauge0.EnsureGaugeReady());
         EXPECT_FALSE(l.gauge0.ReadMeasurement());
         EXPECT_TRUE(l.gauge0.ReadMeasurement());
         EXPECT_EQ(l.view0.pressure, "0.0025 Па");
         EXPECT_EQ(l.gauge0.UnitCode, "0001");
     }},
    {"lateReplyToS1OfAReading", LateOnce("0S1", 2400),
     [](Line& l) {
         ASSERT_TRUE(l.gauge0.EnsureGaugeReady());
         EXPECT_FALSE(l.gauge0.ReadMeasurement());
         EXPECT_TRUE(l.gauge0.ReadMeasurement());
         EXPECT_TRUE(l.gauge0.ReadMeasurement());
         EXPECT_EQ(l.view0.pressure, "0.0025 Па");
         EXPECT_EQ(l.view0.test, "") << "no reply was taken for another's";
     }},
    {"replyFromAnotherAddressIsDroppedAndCounted",
     [](const std::string& r, int) {
         auto answers = GaugeAnswers(r);
         if (r == "0R1") answers.insert(answers.begin(), {"5R0002", 1});
         return answers;
     },
     [](Line& l) {
         ASSERT_TRUE(l.gauge0.ReadUnit());
         EXPECT_EQ(l.gauge0.UnitCode, "0001");
         EXPECT_EQ(l.bus.Counters().strays, 1u);
     }},
    {"collisionGarbageThenTheLostReplyLate",
     [](const std::string& r, int seen) {
         auto answers = GaugeAnswers(r);
         if (r == "0S1" && seen == 0) {
             answers.front().delayMs = 100; // after the next request went out
             answers.insert(answers.begin(), {"0\x7f\x13", 1});
         }
         return answers;
     },
     [](Line& l) {
         ASSERT_TRUE(l.gauge0.EnsureGaugeReady());
         EXPECT_FALSE(l.gauge0.ReadMeasurement()) << "garbage is no reading";
         EXPECT_TRUE(l.gauge0.ReadMeasurement());
         EXPECT_EQ(l.view0.pressure, "0.0025 Па");
         EXPECT_EQ(l.view0.test, "");
     }},
    {"silentGaugeCostsTwoTimeOutsThenWaitsItsTurn",
     [](const std::string& r, int) {
         return r[0] == '5' ? std::vector<Answer>{} : GaugeAnswers(r);
     },
     [](Line& l) {
         int read0 = 0;
         for (int round = 0; round < 30; ++round) {
             if (l.bus.TurnDue('0')) read0 += l.gauge0.ReadMeasurement();
             if (l.bus.TurnDue('5')) {
                 EXPECT_FALSE(l.gauge5.ReadMeasurement());
             }
         }
         EXPECT_EQ(read0, 30);
         Strings to5;
         for (const auto& r : l.far.Requests())
             if (r[0] == '5') to5.push_back(r);
         EXPECT_EQ(to5, (Strings{"5S3", "5S3"}));
         EXPECT_FALSE(l.gauge5.GaugeReady);
     }},
    {"actionOnOneGaugeHoldsTheLineWhileAnotherPolls",
     [](const std::string& r, int) {
         auto answers = GaugeAnswers(r);
         for (auto& a : answers)
             if (r[0] == '5') a.delayMs = 60;
         return answers;
     },
     [](Line& l) {
         ASSERT_TRUE(l.gauge0.ReadMeasurement());
         ASSERT_TRUE(l.gauge5.ReadSetPoints());
         QTimer poll0;
         int refused = 0;
         QObject::connect(&poll0, &QTimer::timeout, [&] {
             bool obtained = true;
             if (!l.gauge0.ReadMeasurement(&obtained) && !obtained) ++refused;
         });
         poll0.start(20);
         EXPECT_TRUE(l.gauge5.WriteSetPoints());
         poll0.stop();
         EXPECT_GT(refused, 0) << "the ticks came while the line was held";
         const Strings r = l.far.Requests();
         const auto w2 = std::find(r.begin(), r.end(), "5W210035003");
         ASSERT_NE(w2, r.end());
         ASSERT_GE(r.end() - w2, 3);
         EXPECT_EQ(Strings(w2, w2 + 3), (Strings{"5W210035003", "5W310015001", "5W410135013"}));
         EXPECT_TRUE(l.gauge0.ReadMeasurement());
     }},
};

void PrintTo(const BusCase& c, std::ostream* os) {
    *os << c.name;
}

class Bus : public testing::TestWithParam<BusCase> {};

TEST_P(Bus, aReplyAnswersOnlyItsOwnRequest) {
    Line line(GetParam().script);
    GetParam().run(line);
}

INSTANTIATE_TEST_SUITE_P(Cases, Bus, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// An adapter that hands every request back: the echo is never an answer.
TEST(BusEcho, anEchoingAdapterReadsEveryValueAndWithoutAGaugeIsNoContact) {
    for (const bool gauge : {true, false}) {
        SCOPED_TRACE(gauge ? "gauge answers" : "no gauge");
        Line l([gauge](const std::string& r,
                       int) { return gauge ? GaugeAnswers(r) : std::vector<Answer>{}; },
               true);
        Strings notices;
        l.bus.onNotice = [&](const std::string& t) { notices.push_back(t); };
        EXPECT_EQ(l.gauge0.EnsureGaugeReady(), gauge);
        EXPECT_EQ(l.gauge0.GaugeReady, gauge);
        int readings = 0;
        for (int i = 0; gauge && i < 10; ++i)
            readings += l.gauge0.ReadMeasurement() && l.view0.pressure == "0.0025 Па";
        EXPECT_EQ(readings, gauge ? 10 : 0);
        EXPECT_TRUE(l.bus.Echoing());
        EXPECT_EQ(notices, Strings{"адаптер возвращает отправленные байты"});
        EXPECT_EQ(l.bus.Counters().echoes, gauge ? 21u : 1u);
    }
}

} // namespace
} // namespace vg57::test
