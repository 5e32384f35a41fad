// The gate that keeps operator actions out of running handlers.
#include "ActionGate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using vg57::TActionGate;

TEST(ActionGate, actionsArrivingInsideAHandlerRunAfterItInOrderOnceEachIfStillEnabled) {
    TActionGate gate;
    int drains = 0;
    gate.scheduleDrain = [&] { ++drains; };
    std::vector<std::string> ran;
    bool stopEnabled = true, startEnabled = true;
    int cut = 0;
    {
        TActionGate::TScope tick(gate); // a handler waiting for the gauge
        gate.Trigger(
            "stop", [&] { return stopEnabled; },
            [&] {
                ran.push_back("stop");
                startEnabled = true;
            },
            [&] { ++cut; });
        gate.Trigger(
            "start", [&] { return startEnabled; }, [&] { ran.push_back("start"); });
        gate.Trigger(
            "stop", [&] { return stopEnabled; }, [&] { ran.push_back("stop again"); },
            [&] { ++cut; });
        EXPECT_TRUE(ran.empty());
        EXPECT_EQ(gate.Queued(), 2u);
        EXPECT_EQ(cut, 2) << "each press may cut the running wait short";
        startEnabled = false; // made unavailable meanwhile ...
    }
    EXPECT_EQ(drains, 1) << "the outermost handler's return schedules the queue";
    gate.Drain();
    // ... but Stop, running first, made it available again.
    EXPECT_EQ(ran, (std::vector<std::string>{"stop", "start"}));

    stopEnabled = false;
    {
        TActionGate::TScope handler(gate);
        gate.Trigger(
            "stop", [&] { return stopEnabled; }, [&] { ran.push_back("late stop"); });
    }
    gate.Drain();
    EXPECT_EQ(ran.size(), 2u) << "a queued action no longer enabled is dropped";
}

TEST(ActionGate, anActionThatArrivesWhileAQueuedOneRunsWaitsForIt) {
    TActionGate gate;
    gate.scheduleDrain = [] {};
    std::vector<std::string> ran;
    {
        TActionGate::TScope handler(gate);
        gate.Trigger("a", {}, [&] {
            ran.push_back("a begins");
            gate.Trigger("b", {}, [&] { ran.push_back("b"); }); // pressed inside a's wait
            ran.push_back("a ends");
        });
    }
    gate.Drain();
    EXPECT_EQ(ran, (std::vector<std::string>{"a begins", "a ends", "b"}));
    EXPECT_FALSE(gate.Busy());
}
