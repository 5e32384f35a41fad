// The output ring and the table of dispatchers, without threads or a device: the writer never
// takes the bytes here, so "before the writer has taken them" is exact.
#include "BaseDispatcher.h"
#include "SerialCodes.h"

#include <gtest/gtest.h>

#include <string>

using namespace vg57;

namespace {
class RingOnly : public TBaseDispatcher {
public:
    explicit RingOnly(std::uint32_t outSize) { ResetBuffers(outSize); }
    int queuedSignals = 0;

protected:
    void OnOutputQueued() override { ++queuedSignals; }
    void OnStopRequested() override {}
};
} // namespace

TEST(OutputRing, exactlyTheBufferSizeFitsAndOneMoreByteDoesNot) {
    RingOnly d(4096);
    const std::string big(4097, 'x');
    EXPECT_EQ(d.QueueOutput(big.data(), 4097), ecOutputBufferTooSmall);
    EXPECT_EQ(d.OutputQueued(), 0u) << "a refused block queues nothing";
    EXPECT_EQ(d.queuedSignals, 0);
    EXPECT_EQ(d.QueueOutput(big.data(), 4096), 4096);
    EXPECT_EQ(d.OutputQueued(), 4096u);
    EXPECT_EQ(d.QueueOutput(big.data(), 1), ecOutputBufferTooSmall);
    EXPECT_EQ(d.QueueOutput(big.data(), 0), 0);
}

TEST(OutputRing, partialFillsAddUpAndAreTakenInOrder) {
    RingOnly d(16);
    EXPECT_EQ(d.QueueOutput("0123456789", 10), 10);
    EXPECT_EQ(d.QueueOutput("abcdefg", 7), ecOutputBufferTooSmall);
    EXPECT_EQ(d.QueueOutput("abcdef", 6), 6);
    EXPECT_EQ(d.OutputQueued(), 16u);
}

TEST(DispatcherTable, handlesAreFirstFreeSlotsAndTrailingSlotsGo) {
    const int before = TBaseDispatcher::TableSize();
    auto a = std::make_unique<RingOnly>(16);
    auto b = std::make_unique<RingOnly>(16);
    auto c = std::make_unique<RingOnly>(16);
    EXPECT_EQ(b->Handle(), a->Handle() + 1);
    const int bHandle = b->Handle();
    b.reset();
    EXPECT_EQ(TBaseDispatcher::FromHandle(bHandle), nullptr);
    auto d = std::make_unique<RingOnly>(16);
    EXPECT_EQ(d->Handle(), bHandle) << "the first free slot is reused";
    c.reset();
    d.reset();
    a.reset();
    EXPECT_EQ(TBaseDispatcher::TableSize(), before) << "trailing empty slots are removed";
}

TEST(DispatcherTimers, handlesAreReusedOnceAllHaveBeenGiven) {
    RingOnly d(16);
    int last = 0;
    for (int i = 0; i < 4095; ++i)
        last = d.AllocTimer();
    EXPECT_EQ(last, 4095 * 8);
    for (int h = 8; h <= 4095 * 8; h += 8)
        if (h != 16) d.FreeTimer(h);
    EXPECT_EQ(d.AllocTimer(), 8) << "the smallest free multiple of 8 is reused";
    EXPECT_EQ(d.AllocTimer(), 24);
}

TEST(DispatcherTimers, noFreeHandleIsNoMoreTriggers) {
    RingOnly d(16);
    for (int i = 0; i < 4095; ++i)
        d.AllocTimer();
    // Reuse looks only at 8..4096: all 512 of them are still in use.
    EXPECT_EQ(d.AllocTimer(), ecNoMoreTriggers);
}
