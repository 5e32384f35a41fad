// Where the measurement cycle puts what each tick found. The window feeds the chart through it
// (TChartFeed); a front end without a chart gives its own.
#pragma once

#include <string>

namespace vg57 {

class TReadingSink {
public:
    virtual ~TReadingSink() = default;
    // A run begins (Start): nothing of it is joined to what came before.
    virtual void RunStarted() = 0;
    // The gauge gave a pressure in the unit of `unitCode`, at the date-time `time`.
    virtual void Reading(double time, double pressure, const std::string& unitCode) = 0;
    // A tick passed without a reading: a failed or refused exchange, or no adapter.
    virtual void Missed(double time) = 0;
    // A tick showed a demonstration value (no gauge has answered "S3"); never a reading.
    virtual void Demonstration(double time, double value) = 0;
};

} // namespace vg57
