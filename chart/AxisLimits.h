// One chart axis: its limits, whether they follow the data, and the rules for setting them.
#pragma once

#include <stdexcept>

namespace vg57 {

// An axis setting refused; the message is shown to the operator as it stands.
class EChartAxisError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TAxisLimits {
public:
    double Min() const { return min_; }
    double Max() const { return max_; }
    bool Automatic() const { return automatic_; }
    void SetAutomatic(bool on) { automatic_ = on; }
    bool Logarithmic() const { return logarithmic_; }

    // Both limits at once: manual at both ends, swapped if reversed, at least 1e-10 apart.
    void SetBoth(double lo, double hi);
    // One limit: refused when it would pass the other.
    void SetMin(double v);
    void SetMax(double v);
    // Limits found by automatic scaling (only while automatic).
    void SetAutomaticLimits(double lo, double hi);
    // Refused with "Logarithmic Axis Min and Max values should be >= 0" when a limit is negative.
    void SetLogarithmic(bool on);

private:
    double min_ = 0, max_ = 0;
    bool automatic_ = true;
    bool logarithmic_ = false;
};

} // namespace vg57
