#include "ChartFeed.h"

#include "ChartModel.h"

namespace vg57 {

void TChartFeed::RunStarted() {
    chart_.LoadedView = false;
    chart_.RunStarted();
}

void TChartFeed::Reading(double time, double pressure, const std::string& unitCode) {
    chart_.TrimOldPoints(time);
    chart_.AddMeasurementPoint(time, pressure, unitCode);
}

void TChartFeed::Missed(double time) {
    chart_.TrimOldPoints(time);
    chart_.AddMissedTick(time);
}

void TChartFeed::Demonstration(double time, double value) {
    chart_.TrimOldPoints(time);
    chart_.AddDemoPoint(time, value);
}

} // namespace vg57
