#include "SliceThinning.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace vg57 {

std::size_t ThinVisible(const TPointStore& points, const TThinOptions& o, std::vector<double>& keys,
                        std::vector<double>& values) {
    keys.clear();
    values.clear();
    if (points.Empty() || !(o.xmax >= o.xmin)) return 0;
    std::size_t first = points.LowerBound(o.xmin);
    std::size_t last = points.UpperBound(o.xmax); // one past the visible points
    if (first > 0) --first;                       // the neighbour left of the edge
    if (last < points.Size()) ++last;             // and right of it
    const auto usable = [&](std::size_t i) { return !o.logarithmic || points.Y(i) > 0; };
    auto put = [&](std::size_t i) {
        keys.push_back(points.X(i) * o.keyScale);
        values.push_back(points.Y(i));
    };

    const int columns = std::max(1, o.columns);
    if (last - first <= static_cast<std::size_t>(columns) * 2) {
        for (std::size_t i = first; i < last; ++i)
            if (usable(i)) put(i);
        return keys.size();
    }
    keys.reserve(static_cast<std::size_t>(columns) * 2 + 4);
    values.reserve(static_cast<std::size_t>(columns) * 2 + 4);
    const double span = o.xmax - o.xmin;
    const double perColumn = span > 0 ? columns / span : 0;
    auto columnOf = [&](double x) {
        if (x < o.xmin) return -1L;
        if (x > o.xmax) return static_cast<long>(columns);
        return std::min<long>(static_cast<long>((x - o.xmin) * perColumn), columns - 1);
    };
    long column = columnOf(points.X(first));
    std::size_t lo = SIZE_MAX, hi = SIZE_MAX;
    auto flush = [&] {
        if (lo == SIZE_MAX) return;
        if (lo == hi)
            put(lo);
        else if (lo < hi) {
            put(lo);
            put(hi);
        } else {
            put(hi);
            put(lo);
        }
        lo = hi = SIZE_MAX;
    };
    for (std::size_t i = first; i < last; ++i) {
        const long c = columnOf(points.X(i));
        if (c != column) {
            flush();
            column = c;
        }
        if (!usable(i)) continue;
        if (lo == SIZE_MAX || points.Y(i) < points.Y(lo)) lo = i;
        if (hi == SIZE_MAX || points.Y(i) > points.Y(hi)) hi = i;
    }
    flush();
    return keys.size();
}

} // namespace vg57
