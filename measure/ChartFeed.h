// The chart's side of the measurement cycle: each tick trims the old points, then adds the
// reading, the gap or the demonstration value.
#pragma once

#include "ReadingSink.h"

namespace vg57 {

class TChartModel;

class TChartFeed final : public TReadingSink {
public:
    explicit TChartFeed(TChartModel& chart) : chart_(chart) {}
    void RunStarted() override;
    void Reading(double time, double pressure, const std::string& unitCode) override;
    void Missed(double time) override;
    void Demonstration(double time, double value) override;

private:
    TChartModel& chart_;
};

} // namespace vg57
