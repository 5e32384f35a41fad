// The chart series' points: date-times (days since 30 December 1899) in ascending order with
// their pressures, each with a tag: the index of the unit it was taken in (into the chart's table
// of unit codes) and whether the line breaks before it (a failed reading, Stop and Start, an
// adapter outage, a gap in a loaded file). Appending at the end and dropping from the front cost
// O(1) amortised, so a day of readings at 0.5 s (172 800 points) moves no memory per tick.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vg57 {

class TPointStore {
public:
    static constexpr std::size_t kUnits = 128; // unit indices 0 .. 127

    std::size_t Size() const { return x_.size() - head_; }
    bool Empty() const { return Size() == 0; }
    double X(std::size_t i) const { return x_[head_ + i]; }
    double Y(std::size_t i) const { return y_[head_ + i]; }
    std::uint8_t Unit(std::size_t i) const { return tag_[head_ + i] & kUnitMask; }
    // The line does not join this point to the one before it.
    bool GapBefore(std::size_t i) const { return (tag_[head_ + i] & kGapBit) != 0; }
    void SetGapBefore(std::size_t i, bool gap);
    // Points held in each unit.
    std::size_t UnitCount(std::uint8_t unit) const { return counts_[unit & kUnitMask]; }

    // Inserts after every point whose time is less than or equal to x, so readings with equal
    // times keep their arrival order. A reading later than all others is a plain append.
    void Add(double x, double y, std::uint8_t unit = 0, bool gapBefore = false);
    void RemoveFirst();
    void Clear();
    // Replaces all points (the loaded view), keeping the insertion rule for unordered input.
    // `units` holds one index per point, or is empty for unit 0 throughout. No gaps. Ordered
    // input is taken over as it is, without a copy.
    void Assign(std::vector<double> xs, std::vector<double> ys,
                const std::vector<std::uint8_t>& units = {});

    // First index with X >= x, and first index with X > x.
    std::size_t LowerBound(double x) const;
    std::size_t UpperBound(double x) const;

private:
    static constexpr std::uint8_t kUnitMask = 0x7F, kGapBit = 0x80;
    void Compact();
    std::vector<double> x_, y_;
    std::vector<std::uint8_t> tag_; // unit index | kGapBit
    std::array<std::size_t, kUnits> counts_{};
    std::size_t head_ = 0; // points before it have been removed
};

// Breaks the line where two points lie more than `factor` times the median spacing apart, and
// more than `minGap`: a loaded file's pauses between runs are not drawn as readings.
void MarkSpacingGaps(TPointStore& points, double factor, double minGap);

} // namespace vg57
