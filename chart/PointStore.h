// The chart series' points: date-times (days since 30 December 1899) in ascending order with
// their pressures, each with a tag: the index of the unit it was taken in (into the chart's table
// of unit codes) and whether the line breaks before it (a failed reading, Stop and Start, an
// adapter outage, a gap in a loaded file). Appending at the end and dropping from the front cost
// O(1) amortised, so a day of readings at 0.5 s (172 800 points) moves no memory per tick.
// Beside the points the store keeps a summary of fixed blocks of them (16 points, 16 blocks of
// those, ...): each block's lowest and highest reading. A drawing of a month in view then reads
// a few blocks per pixel column instead of every reading.
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
    // Changes with every change of the points but an append at the end and a removal from the
    // front, and differs between stores: a drawing of the points can tell what it may keep.
    std::uint64_t Revision() const { return revision_; }
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

    // A block of the summary: the offsets in it of its lowest and highest reading (the first of
    // equals). A plain block holds one unit, no break before any of its points and only
    // readings above zero (no NaN): to a drawing its points matter only through those two.
    // Their values and the block's last time are kept in it too, so that a drawing reads one
    // block, not three places in the points far apart.
    struct TBlock {
        double loY = 0, hiY = 0, lastX = 0;
        std::uint32_t lo = 0, hi = 0;
        std::uint8_t unit = 0;
        bool plain = true;
    };
    static constexpr int kLevels = 4;
    static constexpr std::size_t BlockSize(int level) {
        return std::size_t{1} << (4 * (level + 1));
    }
    // The block of `level` that starts at point i and is wholly held; null when i starts none.
    const TBlock* BlockAt(int level, std::size_t i) const;

private:
    static constexpr std::uint8_t kUnitMask = 0x7F, kGapBit = 0x80;
    void Compact();
    // Takes the stored point at s (an index into x_) into the last block of every level.
    void Summarise(std::size_t s);
    // Summarises afresh from the top-level block that holds the stored point s.
    void SummariseFrom(std::size_t s);
    std::vector<double> x_, y_;
    std::vector<std::uint8_t> tag_; // unit index | kGapBit
    std::array<std::size_t, kUnits> counts_{};
    std::size_t head_ = 0; // points before it have been removed
    std::uint64_t revision_ = NextRevision();
    static std::uint64_t NextRevision();
    // Per level, block k covers the stored points [k * BlockSize, (k + 1) * BlockSize); the
    // last may be partly filled.
    std::array<std::vector<TBlock>, kLevels> blocks_;
};

// Breaks the line where two points lie more than `factor` times the median spacing apart, and
// more than `minGap`: a loaded file's pauses between runs are not drawn as readings.
void MarkSpacingGaps(TPointStore& points, double factor, double minGap);

} // namespace vg57
