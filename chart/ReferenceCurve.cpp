#include "ReferenceCurve.h"

#include "ChartModel.h"
#include "PressureUnit.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vg57 {

std::string TReferenceCurve::Assign(const std::vector<double>& times,
                                    const std::vector<double>& pressures,
                                    const std::vector<std::uint8_t>& units,
                                    const std::vector<std::string>& unitCodes) {
    const std::size_t n = std::min({times.size(), pressures.size(), units.size()});
    // A reading in a unit we can't name could never be compared with the live one.
    for (std::size_t i = 0; i < n; ++i) {
        if (units[i] >= unitCodes.size()) return "?";
        if (PascalsPerUnit(unitCodes[units[i]]) <= 0) return unitCodes[units[i]];
    }
    if (n == 0) {
        Clear();
        return {};
    }
    const auto end = static_cast<std::ptrdiff_t>(n);
    std::vector<double> after(times.begin(), times.begin() + end);
    for (double& t : after)
        t -= times.front();
    points_.Assign(std::move(after), {pressures.begin(), pressures.begin() + end},
                   {units.begin(), units.begin() + end});
    // Where the file pauses, the reference breaks as the loaded view does.
    MarkSpacingGaps(points_, TChartModel::kLoadedGapFactor, TChartModel::kMinLoadedGap);
    codes_ = unitCodes;
    SetDisplayUnit(std::string(displayUnit_)); // a copy: the factors of the new codes
    return {};
}

void TReferenceCurve::Clear() {
    points_.Clear();
    codes_.clear();
}

std::string_view TReferenceCurve::LastUnit() const {
    if (Empty()) return {};
    const std::uint8_t u = points_.Unit(points_.Size() - 1);
    return u < codes_.size() ? std::string_view(codes_[u]) : std::string_view();
}

void TReferenceCurve::SetDisplayUnit(std::string_view unitCode) {
    displayUnit_ = unitCode;
    factors_.fill(std::numeric_limits<double>::quiet_NaN());
    for (std::size_t i = 0; i < codes_.size() && i < factors_.size(); ++i)
        factors_[i] = UnitFactor(codes_[i], displayUnit_);
}

std::optional<double> TReferenceCurve::PressureAt(double time) const {
    const double t = time - origin_;
    const std::size_t after = points_.LowerBound(t);
    if (after >= points_.Size()) return std::nullopt;
    const auto value = [&](std::size_t i) { return points_.Y(i) * factors_[points_.Unit(i)]; };
    const double b = value(after);
    if (points_.X(after) == t) return std::isnan(b) ? std::nullopt : std::optional(b);
    if (after == 0 || points_.GapBefore(after)) return std::nullopt;
    const double a = value(after - 1);
    if (std::isnan(a) || std::isnan(b)) return std::nullopt;
    const double x0 = points_.X(after - 1), x1 = points_.X(after);
    const double k = (t - x0) / (x1 - x0);
    if (a > 0 && b > 0) return a * std::pow(b / a, k);
    return a + (b - a) * k;
}

void TReferenceCurve::Thin(TThinOptions o, std::vector<double>& keys,
                           std::vector<double>& values) const {
    o.xmin -= origin_;
    o.xmax -= origin_;
    o.keyScale = 1.0;
    o.factors = factors_.data();
    ThinVisible(points_, o, keys, values);
    for (double& k : keys)
        k += origin_;
}

} // namespace vg57
