// The framer alone, fed with bytes: the behaviour the gauge's replies depend on.
#include "DataPacket.h"
#include "SerialExcept.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace vg57;

namespace {

// A collector installed as on an open port, delivering inline; its timer slot is recorded.
struct Bench {
    TDataPacketManager manager;
    TDataPacket framer;
    std::vector<std::string> packets;
    std::vector<std::string> rawPackets;
    int timeouts = 0;
    std::vector<std::int32_t> timerArms; // ticks asked of the slot; 0 = stopped

    explicit Bench(bool mainWindow = true) {
        if (mainWindow) {
            framer.StartString = "\x02";
            framer.SetEndString("\r");
            framer.SetEndCond(ecString);
            framer.IgnoreCase = false;
            framer.IncludeStrings = false;
        }
        framer.OnStringPacket = [this](TDataPacket&, const std::string& s) {
            packets.push_back(s);
        };
        framer.OnPacket = [this](TDataPacket&, const std::uint8_t* d, std::size_t n) {
            rawPackets.emplace_back(reinterpret_cast<const char*>(d), n);
        };
        framer.SetManager(&manager);
    }
    void Open() {
        manager.Install([this](std::int32_t t) { timerArms.push_back(t); },
                        [](std::function<void()> events) { events(); });
    }
    void Start() {
        Open();
        framer.SetEnabled(true);
    }
    // '^' stands for the start byte 0x02, '$' for the end byte 0x0D.
    void Feed(std::string bytes) {
        std::replace(bytes.begin(), bytes.end(), '^', '\x02');
        std::replace(bytes.begin(), bytes.end(), '$', '\r');
        manager.Receive(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
};

} // namespace

// ---- the main window's framer: 0x02 ... 0x0D ----

// A packet carries when its first byte arrived, so that a late reply can be told from the answer
// to a request written after it, even when both come in one read or one is split over reads.
TEST(FramerStartEnd, aPacketCarriesTheArrivalOfItsStartByte) {
    Bench b;
    b.Start();
    std::vector<std::int64_t> stamps;
    b.framer.OnStringPacket = [&](TDataPacket& f, const std::string&) {
        stamps.push_back(f.PacketArrivalMs());
    };
    const auto feed = [&](std::string bytes, std::int64_t at) {
        std::replace(bytes.begin(), bytes.end(), '^', '\x02');
        std::replace(bytes.begin(), bytes.end(), '$', '\r');
        b.manager.Receive(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), at);
    };
    feed("zz^A", 100);
    feed("B$^C", 200); // the first packet began at 100, the second at 200
    feed("$^D$", 300);
    feed("^E", 400);
    feed("$", 500);
    EXPECT_EQ(stamps, (std::vector<std::int64_t>{100, 200, 300, 400}));
}

TEST(FramerStartEnd, onlyTheBytesBetweenStartAndEndAreDeliveredWhateverTheReads) {
    struct Row {
        const char* what;
        std::vector<std::string> reads;
        std::vector<std::string> packets;
    };
    const Row rows[] = {
        {"start and end are left out", {"^AB$"}, {"AB"}},
        {"an empty packet", {"^$"}, {""}},
        {"bytes before the start never appear", {"xy^A$"}, {"A"}},
        {"a second start byte inside a packet is data",
         {"^A^B$"},
         {"A\x02"
          "B"}},
        {"two packets in one read", {"^A$^B$"}, {"A", "B"}},
        {"a packet split over reads", {"^A", "B$"}, {"AB"}},
        {"replies among stray bytes", {"zz^0R0002$$^0S1203$"}, {"0R0002", "0S1203"}},
        {"an end without start, bytes without start", {"$", "hello$world"}, {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        // As read, then a byte at a time: the cut never depends on the reads.
        for (const bool byBytes : {false, true}) {
            Bench b;
            b.Start();
            for (const std::string& read : r.reads)
                for (std::size_t at = 0; at < read.size(); at += byBytes ? 1 : read.size())
                    b.Feed(read.substr(at, byBytes ? 1 : read.size()));
            EXPECT_EQ(b.packets, r.packets) << byBytes;
            EXPECT_EQ(b.rawPackets, r.packets) << "OnPacket gets the same bytes";
            EXPECT_EQ(b.manager.Held(), 0u) << "bytes of no packet are discarded";
            EXPECT_EQ(b.manager.Capacity(), 0u) << "and the buffer is freed";
        }
    }
}

TEST(FramerStartEnd, theStartBeginsTheTimeOutAndTheEndStopsIt) {
    Bench b;
    b.Start();
    b.Feed("^A");
    ASSERT_EQ(b.timerArms, std::vector<std::int32_t>{2184});
    b.Feed("$");
    EXPECT_EQ(b.timerArms, (std::vector<std::int32_t>{2184, 0}));
}

// ---- closing and time-outs ----

TEST(FramerClose, aPacketCutOffByACloseIsLostAndTheNextOpenStartsAfresh) {
    Bench b;
    b.Start();
    b.Feed("^AB");
    b.manager.Uninstall();
    EXPECT_EQ(b.manager.Held(), 0u);
    EXPECT_TRUE(b.framer.Enabled()) << "Enabled stays as it was";
    b.Open();
    b.Feed("C$^D$");
    EXPECT_EQ(b.packets, std::vector<std::string>{"D"});
}

TEST(FramerClose, aCloseAndReopenFromInsideThePacketEventLeavesTheFramerWorking) {
    Bench b;
    b.framer.OnStringPacket = [&b](TDataPacket&, const std::string& s) {
        b.packets.push_back(s);
        if (b.packets.size() == 1) {
            b.manager.Uninstall(); // the port closes inside the handler ...
            b.Open();              // ... and opens again
        }
    };
    b.Start();
    b.Feed("^A$^lost with the close$");
    b.Feed("^B$");
    EXPECT_EQ(b.packets, (std::vector<std::string>{"A", "B"}));
}

TEST(FramerTimeout, theCollectedBytesAreDroppedAndTheNextPacketStillArrives) {
    for (const bool withHandler : {true, false}) {
        Bench b;
        if (withHandler) b.framer.OnTimeout = [&b](TDataPacket&) { ++b.timeouts; };
        b.Start();
        b.Feed("^partial");
        b.manager.TimerExpired();
        EXPECT_EQ(b.timeouts, withHandler ? 1 : 0);
        EXPECT_TRUE(b.packets.empty());
        EXPECT_EQ(b.manager.Held(), 0u);
        // Left disabled, the framer would never deliver again until a restart.
        EXPECT_TRUE(b.framer.Enabled()) << withHandler;
        b.Feed("$^0R0001$");
        EXPECT_EQ(b.packets, std::vector<std::string>{"0R0001"}) << withHandler;
    }
}

TEST(FramerTimeout, aHandlerThatDisablesTheFramerIsObeyed) {
    Bench b;
    b.framer.OnTimeout = [](TDataPacket& f) {
        f.SetEnabled(true);
        f.SetEnabled(false);
    };
    b.Start();
    b.Feed("^lost");
    b.manager.TimerExpired();
    EXPECT_FALSE(b.framer.Enabled());
    b.Feed("^next$");
    EXPECT_TRUE(b.packets.empty());
}

TEST(FramerTimeout, anExpiryWithNothingCollectedDoesNothing) {
    Bench b;
    b.framer.OnTimeout = [&b](TDataPacket&) { ++b.timeouts; };
    b.Start();
    b.manager.TimerExpired();
    EXPECT_EQ(b.timeouts, 0);
}

// ---- patterns ----

struct PatternRow {
    const char* what;
    const char* start;
    const char* end;
    bool includeStrings;
    bool ignoreCase;
    const char* input;
    std::vector<std::string> packets;
};

class FramerPatterns : public ::testing::TestWithParam<PatternRow> {};

TEST_P(FramerPatterns, cutTheExpectedPackets) {
    const PatternRow& r = GetParam();
    Bench b(false);
    b.framer.StartString = r.start;
    b.framer.SetEndString(r.end);
    b.framer.SetEndCond(ecString);
    b.framer.IncludeStrings = r.includeStrings;
    b.framer.IgnoreCase = r.ignoreCase;
    b.Start();
    b.Feed(r.input);
    EXPECT_EQ(b.packets, r.packets) << r.what;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FramerPatterns,
    ::testing::Values(
        PatternRow{
            "ignoring case, AB matches the start ab", "ab", "!", true, true, "AB-x!", {"AB-x!"}},
        PatternRow{"with case, AB does not match ab", "ab", "!", true, false, "AB-x!", {}},
        PatternRow{"? is a wildcard", "?", ";", true, false, "k1;", {"k1;"}},
        PatternRow{"\\? is a question mark", "\\?", ";", true, false, "k1;?z;", {"?z;"}},
        PatternRow{"a failed partial start is re-checked from its own bytes",
                   "aab",
                   ".",
                   true,
                   false,
                   "aaab.",
                   {"aab."}},
        PatternRow{"a failed partial end is re-checked from its own bytes",
                   "<",
                   "]]>",
                   false,
                   false,
                   "<x]]]>",
                   {"x]"}},
        PatternRow{"a final lone backslash is dropped", "#\\", ";", false, false, "#1;", {"1"}}));

// ---- arming ----

TEST(FramerArming, inconsistentSettingsAreRefusedWithTheirCodes) {
    struct Row {
        const char* start;
        TStartCond cond;
        TEndCond end;
        const char* endString;
        int size;
        int code;
        const char* message;
    };
    const Row rows[] = {
        {"", scString, ecString, "\r", 0, -5501, "Start string is empty"},
        {"abc", scString, ecPacketSize, "", 2, -5502,
         "Packet size cannot be smaller than start string"},
        {"", scAnyData, 0, "", 0, -5503, "CharCount packets must have an end-condition"},
        {"\x02", scString, ecString, "", 0, -5504, "End string is empty"},
        {"", scAnyData, ecPacketSize, "", 0, -5505, "Packet size cannot be zero"},
    };
    for (const auto& r : rows) {
        Bench b(false);
        b.framer.StartString = r.start;
        b.framer.StartCond = r.cond;
        b.framer.SetEndString(r.endString);
        b.framer.SetEndCond(r.end);
        b.framer.PacketSize = r.size;
        b.Open();
        try {
            b.framer.SetEnabled(true);
            ADD_FAILURE() << "no error for " << r.message;
        } catch (const EInvalidProperty& e) {
            EXPECT_EQ(e.ErrorCode(), r.code);
            EXPECT_STREQ(e.what(), r.message);
        }
    }
}

TEST(FramerArming, armingWhileClosedChecksNothingAndWaitsForTheOpen) {
    Bench b(false); // no start string at all
    b.framer.SetEnabled(true);
    EXPECT_EQ(b.framer.State(), TPacketState::idle);
    b.framer.StartString = "\x02";
    b.framer.SetEndString("\r");
    b.framer.SetEndCond(ecString);
    b.Open();
    EXPECT_EQ(b.framer.State(), TPacketState::waitingForStart);
}

TEST(FramerArming, anErrorEscapingAHandlerIsShownAndFramingGoesOn) {
    Bench b;
    std::vector<std::string> shown;
    b.manager.onError = [&](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            shown.push_back(x.what());
        }
    };
    b.framer.OnStringPacket = [&b](TDataPacket&, const std::string& s) {
        b.packets.push_back(s);
        if (s == "bad") throw std::runtime_error("handler failed");
    };
    b.Start();
    b.Feed("^bad$^good$");
    EXPECT_EQ(b.packets, (std::vector<std::string>{"bad", "good"}));
    EXPECT_EQ(shown, std::vector<std::string>{"handler failed"});
}

TEST(FramerArming, withoutAutoEnableTheFramerStopsAfterOnePacket) {
    Bench b;
    b.framer.AutoEnable = false;
    b.Start();
    b.Feed("^A$^B$");
    EXPECT_EQ(b.packets, std::vector<std::string>{"A"});
    EXPECT_FALSE(b.framer.Enabled());
}

TEST(FramerArming, enablingDuringADeliveryTakesEffectWhenItEnds) {
    Bench b;
    b.framer.AutoEnable = false;
    b.framer.OnStringPacket = [&b](TDataPacket& f, const std::string& s) {
        b.packets.push_back(s);
        f.SetEnabled(true); // the collector is busy: armed when the delivery ends
    };
    b.Start();
    b.Feed("^A$^B$");
    EXPECT_EQ(b.packets, (std::vector<std::string>{"A", "B"}));
}

TEST(FramerBuffer, growsInSteps) {
    Bench b;
    b.Start();
    b.Feed("\x02" + std::string(10000, 'x'));
    EXPECT_EQ(b.manager.Capacity() % TDataPacketManager::kGrowStep, 0u);
    EXPECT_GE(b.manager.Capacity(), 10001u);
    b.Feed("$");
    ASSERT_EQ(b.packets.size(), 1u);
    EXPECT_EQ(b.packets[0].size(), 10000u) << "no length limit";
    EXPECT_EQ(b.manager.Capacity(), 0u);
}

TEST(FramerSizes, aPacketSizeEndsThePacket) {
    Bench b(false);
    b.framer.StartString = "S";
    b.framer.SetEndCond(ecPacketSize);
    b.framer.PacketSize = 4;
    b.framer.IncludeStrings = true;
    b.Start();
    b.Feed("xxS123S456");
    EXPECT_EQ(b.packets, (std::vector<std::string>{"S123", "S456"}));
}
