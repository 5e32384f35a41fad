#include "SliceThinning.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace vg57 {

namespace {

constexpr double kBreak = std::numeric_limits<double>::quiet_NaN();

class TThinner {
public:
    TThinner(const TPointStore& p, const TThinOptions& o, std::vector<double>& keys,
             std::vector<double>& values)
        : p_(p), o_(o), keys_(keys), values_(values) {}

    // The point's value in the display unit; false when it is not drawn. A point that can't be
    // converted breaks the line; one below a log axis is only left out.
    bool Value(std::size_t i, double& v) {
        pendingBreak_ = pendingBreak_ || p_.GapBefore(i);
        const double f = o_.factors ? o_.factors[p_.Unit(i)] : 1.0;
        if (std::isnan(f)) {
            pendingBreak_ = true;
            return false;
        }
        v = p_.Y(i) * f;
        if (o_.logarithmic && !(v > 0)) return false;
        if (p_.X(i) >= o_.xmin && p_.X(i) <= o_.xmax) {
            if (!ext_.any || v < ext_.lo) ext_.lo = v;
            if (!ext_.any || v > ext_.hi) ext_.hi = v;
            ext_.any = true;
        }
        return true;
    }
    // The block's lowest and highest value in the display unit, as Value gives them for each
    // of its points (a plain block lies inside one column, inside the visible range).
    bool BlockValues(const TPointStore::TBlock& b, double& lo, double& hi) {
        const double f = o_.factors ? o_.factors[b.unit] : 1.0;
        if (std::isnan(f)) {
            pendingBreak_ = true;
            return false;
        }
        lo = b.loY * f;
        hi = b.hiY * f;
        if (!ext_.any || lo < ext_.lo) ext_.lo = lo;
        if (!ext_.any || hi > ext_.hi) ext_.hi = hi;
        ext_.any = true;
        return true;
    }
    // True once when the line is to break before the next point drawn.
    bool TakeBreak() {
        const bool b = pendingBreak_;
        pendingBreak_ = false;
        return b;
    }
    void Put(std::size_t i, double v) {
        keys_.push_back(p_.X(i) * o_.keyScale);
        values_.push_back(v);
    }
    void PutBreak(std::size_t i) {
        // Nothing to break before the first point, and one break is enough.
        if (values_.empty() || std::isnan(values_.back())) return;
        keys_.push_back(p_.X(i) * o_.keyScale);
        values_.push_back(kBreak);
    }
    const TThinExtremes& Extremes() const { return ext_; }

private:
    const TPointStore& p_;
    const TThinOptions& o_;
    std::vector<double>& keys_;
    std::vector<double>& values_;
    bool pendingBreak_ = false;
    TThinExtremes ext_;
};

} // namespace

std::size_t ThinVisible(const TPointStore& points, const TThinOptions& o, std::vector<double>& keys,
                        std::vector<double>& values, TThinExtremes* extremes) {
    keys.clear();
    values.clear();
    if (extremes) *extremes = {};
    if (points.Empty() || !(o.xmax >= o.xmin)) return 0;
    std::size_t first = points.LowerBound(o.xmin);
    std::size_t last = points.UpperBound(o.xmax); // one past the visible points
    if (first > 0) --first;                       // the neighbour left of the edge
    if (last < points.Size()) ++last;             // and right of it
    TThinner thin(points, o, keys, values);
    const int columns = std::max(1, o.columns);
    double v = 0;

    if (last - first <= static_cast<std::size_t>(columns) * 2) {
        for (std::size_t i = first; i < last; ++i) {
            if (!thin.Value(i, v)) continue;
            if (thin.TakeBreak()) thin.PutBreak(i);
            thin.Put(i, v);
        }
        if (extremes) *extremes = thin.Extremes();
        return keys.size();
    }
    keys.reserve(static_cast<std::size_t>(columns) * 2 + 8);
    values.reserve(static_cast<std::size_t>(columns) * 2 + 8);
    const double span = o.xmax - o.xmin;
    const double perColumn = span > 0 ? columns / span : 0;
    auto columnOf = [&](double x) {
        if (x < o.xmin) return -1L;
        if (x > o.xmax) return static_cast<long>(columns);
        return std::min<long>(static_cast<long>((x - o.xmin) * perColumn), columns - 1);
    };
    long column = columnOf(points.X(first));
    // The extremes of the open part of the column: index and value.
    std::size_t lo = SIZE_MAX, hi = SIZE_MAX;
    double loV = 0, hiV = 0;
    bool split = false; // the column has had its break: the rest of it is one part
    auto flush = [&] {
        if (lo == SIZE_MAX) return;
        if (lo == hi) {
            thin.Put(lo, loV);
        } else if (lo < hi) {
            thin.Put(lo, loV);
            thin.Put(hi, hiV);
        } else {
            thin.Put(hi, hiV);
            thin.Put(lo, loV);
        }
        lo = hi = SIZE_MAX;
    };
    // The largest plain block of the summary that starts at i and ends inside column c.
    auto blockAt = [&](std::size_t i,
                       long c) -> std::pair<const TPointStore::TBlock*, std::size_t> {
        if (c < 0 || c >= columns) return {nullptr, 1};
        // Every larger block starting at i holds the smallest: where that one does not serve,
        // none does (the usual case in the live view, a few readings a column).
        const TPointStore::TBlock* smallest = points.BlockAt(0, i);
        if (!smallest || !smallest->plain || i + TPointStore::BlockSize(0) > last ||
            columnOf(smallest->lastX) != c)
            return {nullptr, 1};
        for (int level = TPointStore::kLevels - 1; level >= 0; --level) {
            const std::size_t size = TPointStore::BlockSize(level);
            const TPointStore::TBlock* b = points.BlockAt(level, i);
            if (b && b->plain && i + size <= last && columnOf(b->lastX) == c) return {b, size};
        }
        return {nullptr, 1};
    };
    double blockHi = 0;
    for (std::size_t i = first; i < last;) {
        const long c = columnOf(points.X(i));
        if (c != column) {
            flush();
            column = c;
            split = false;
        }
        const auto [block, size] = blockAt(i, c);
        const std::size_t at = i;
        i += size;
        if (block ? !thin.BlockValues(*block, v, blockHi) : !thin.Value(at, v)) continue;
        if (thin.TakeBreak()) {
            // A second gap inside one column is narrower than a pixel: it is not drawn apart.
            if (lo == SIZE_MAX || !split) {
                split = lo != SIZE_MAX;
                flush();
                thin.PutBreak(at);
            }
        }
        const std::size_t loAt = block ? at + block->lo : at, hiAt = block ? at + block->hi : at;
        if (!block) blockHi = v;
        if (lo == SIZE_MAX || v < loV) {
            lo = loAt;
            loV = v;
        }
        if (hi == SIZE_MAX || blockHi > hiV) {
            hi = hiAt;
            hiV = blockHi;
        }
    }
    flush();
    if (extremes) *extremes = thin.Extremes();
    return keys.size();
}

} // namespace vg57
