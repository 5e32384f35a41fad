// A reference pump-down laid under the readings to compare against: an archive's readings kept
// as times after its first one, drawn from the date-time its first reading is aligned at. It is
// held apart from the readings' store, so it is never scaled to, analysed, exported or archived.
#pragma once

#include "PointStore.h"
#include "SliceThinning.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vg57 {

class TReferenceCurve {
public:
    // Takes readings in time order (date-times), each with an index into `unitCodes`. Refused
    // when a reading's unit is not one the chart can convert: the curve is then left as it was
    // and the offending code is returned ("?" for an index past the table); else empty.
    std::string Assign(const std::vector<double>& times, const std::vector<double>& pressures,
                       const std::vector<std::uint8_t>& units,
                       const std::vector<std::string>& unitCodes);
    void Clear();
    bool Empty() const { return points_.Empty(); }
    // Times in days after the first reading; pressures each in its own unit.
    const TPointStore& Points() const { return points_; }
    // The unit code of its last reading.
    std::string_view LastUnit() const;

    // The date-time its first reading is drawn at.
    double Origin() const { return origin_; }
    void SetOrigin(double dateTime) { origin_ = dateTime; }
    // Pressures are given in this unit from now on.
    void SetDisplayUnit(std::string_view unitCode);

    // The pressure in the display unit at the date-time `time`, between the two readings around
    // it (geometric between positive ones, as a pump-down falls); none before its first
    // reading, after its last, across a gap, or in a unit that can't be converted.
    std::optional<double> PressureAt(double time) const;
    // The visible slice as ThinVisible gives it for the readings: date-times, display unit.
    void Thin(TThinOptions o, std::vector<double>& keys, std::vector<double>& values) const;

private:
    TPointStore points_;
    std::vector<std::string> codes_;
    std::array<double, TPointStore::kUnits> factors_{};
    std::string displayUnit_;
    double origin_ = 0;
};

} // namespace vg57
