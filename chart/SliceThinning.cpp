#include "SliceThinning.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace vg57 {

namespace {

constexpr double kBreak = std::numeric_limits<double>::quiet_NaN();
constexpr long kBeyond = std::numeric_limits<long>::max();

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
    void SetPendingBreak(bool b) { pendingBreak_ = b; }

private:
    const TPointStore& p_;
    const TThinOptions& o_;
    std::vector<double>& keys_;
    std::vector<double>& values_;
    bool pendingBreak_ = false;
    TThinExtremes ext_;
};

// Thins the points [first, last) column by column, `columnOf` giving a point's column: -1 left
// of the visible range, kBeyond right of it.
template <class ColumnOf>
void ThinColumns(const TPointStore& points, std::size_t first, std::size_t last,
                 const ColumnOf& columnOf, TThinner& thin) {
    double v = 0;
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
        if (c < 0 || c == kBeyond) return {nullptr, 1};
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
}

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
        if (x > o.xmax) return kBeyond;
        return std::min<long>(static_cast<long>((x - o.xmin) * perColumn), columns - 1);
    };
    ThinColumns(points, first, last, columnOf, thin);
    if (extremes) *extremes = thin.Extremes();
    return keys.size();
}

namespace {

// The column of x on a kept grid, without the fresh thinning's cap at its last column.
long GridColumn(const TThinState& st, double x) {
    return static_cast<long>(std::floor((x - st.origin) * st.perColumn));
}

bool SameFactors(const TThinState& st, const double* factors) {
    if (!factors) return st.factors.empty();
    return st.factors.size() == TPointStore::kUnits &&
           std::memcmp(st.factors.data(), factors, sizeof(double) * TPointStore::kUnits) == 0;
}

// The point's value as a drawing shows it; false when it is not drawn.
bool Drawn(const TPointStore& p, const TThinOptions& o, std::size_t i, double& v) {
    const double f = o.factors ? o.factors[p.Unit(i)] : 1.0;
    if (std::isnan(f)) return false;
    v = p.Y(i) * f;
    return !(o.logarithmic && !(v > 0));
}

void Widen(TThinExtremes& e, double lo, double hi) {
    e.lo = e.any ? std::min(e.lo, lo) : lo;
    e.hi = e.any ? std::max(e.hi, hi) : hi;
    e.any = true;
}

// Thins in full on a grid anchored at the view's left edge, and notes what the next call keeps.
std::size_t ThinAfresh(const TPointStore& points, const TThinOptions& o, std::vector<double>& keys,
                       std::vector<double>& values, TThinExtremes* extremes, TThinState& st) {
    const std::size_t n = ThinVisible(points, o, keys, values, extremes);
    ++st.full;
    st.valid = false;
    if (points.Empty() || !(o.xmax > o.xmin) || o.keyScale != 1.0) return n;
    std::size_t first = points.LowerBound(o.xmin), last = points.UpperBound(o.xmax);
    if (first > 0) --first;
    if (last < points.Size()) ++last;
    const int columns = std::max(1, o.columns);
    if (last - first <= static_cast<std::size_t>(columns) * 2) return n; // not thinned
    st.valid = true;
    st.origin = o.xmin;
    st.perColumn = columns / (o.xmax - o.xmin);
    st.span = o.xmax - o.xmin;
    st.columns = columns;
    st.logarithmic = o.logarithmic;
    st.factors.assign(o.factors ? o.factors : nullptr,
                      o.factors ? o.factors + TPointStore::kUnits : nullptr);
    st.revision = points.Revision();
    st.xmin = o.xmin;
    st.xmax = o.xmax;
    // The fresh grid holds the view's right edge in its last column.
    st.restart =
        std::min<long>(GridColumn(st, std::min(o.xmax, points.X(points.Size() - 1))), columns - 1);
    return n;
}

} // namespace

std::size_t ThinVisibleKeeping(const TPointStore& points, const TThinOptions& o,
                               std::vector<double>& keys, std::vector<double>& values,
                               TThinExtremes* extremes, TThinState& st) {
    const int columns = std::max(1, o.columns);
    const double span = o.xmax - o.xmin;
    const auto afresh = [&] { return ThinAfresh(points, o, keys, values, extremes, st); };
    if (!st.valid || points.Empty() || keys.empty() || columns != st.columns ||
        o.logarithmic != st.logarithmic || o.keyScale != 1.0 || !SameFactors(st, o.factors) ||
        points.Revision() != st.revision || !(std::fabs(span - st.span) <= 1e-9 * st.span) ||
        o.xmin < st.xmin || o.xmax < st.xmax || (o.xmin - st.xmin) * st.perColumn > columns / 2.0)
        return afresh();
    const long edge = GridColumn(st, o.xmin); // the column the view's left edge cuts
    if (edge >= st.restart) return afresh();
    std::size_t first = points.LowerBound(o.xmin), last = points.UpperBound(o.xmax);
    const std::size_t inView = first;
    if (first > 0) --first;
    if (last < points.Size()) ++last;
    if (last - first <= static_cast<std::size_t>(columns) * 2) return afresh();

    // The first reading of the restart column.
    std::size_t lo = first, hi = points.Size();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (GridColumn(st, points.X(mid)) < st.restart)
            lo = mid + 1;
        else
            hi = mid;
    }
    const std::size_t restartAt = lo;
    if (restartAt <= inView) return afresh();
    // A break still waiting at the restart, as a pass through the readings before it leaves it:
    // the gaps and unconvertible units of those not drawn since the last one drawn (which takes
    // its own gap).
    bool pending = false;
    double v = 0;
    {
        std::size_t j = restartAt, looked = 0;
        while (j > first) {
            --j;
            if (++looked > 65536) return afresh();
            const double f = o.factors ? o.factors[points.Unit(j)] : 1.0;
            const bool drawn = Drawn(points, o, j, v);
            if (drawn) break;
            pending = pending || points.GapBefore(j) || std::isnan(f);
        }
    }

    // Drop what left the view at the left, and what the restart column on draws afresh.
    std::size_t keepFrom = 0;
    while (keepFrom < keys.size() && keys[keepFrom] < o.xmin)
        ++keepFrom;
    std::size_t keepTo = keys.size();
    while (keepTo > keepFrom && GridColumn(st, keys[keepTo - 1]) >= st.restart)
        --keepTo;
    keys.resize(keepTo);
    values.resize(keepTo);
    keys.erase(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(keepFrom));
    values.erase(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(keepFrom));
    // Readings trimmed inside the view: a kept column may show readings no longer held.
    if (!keys.empty() && keys.front() < points.X(0)) return afresh();
    // The neighbour left of the edge, so that the line runs to the border, as a fresh pass has
    // it.
    if (inView > 0 && Drawn(points, o, inView - 1, v)) {
        keys.insert(keys.begin(), points.X(inView - 1));
        values.insert(values.begin(), v);
    } else {
        std::size_t lead = 0;
        while (lead < values.size() && std::isnan(values[lead]))
            ++lead;
        keys.erase(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(lead));
        values.erase(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(lead));
    }

    // The extremes in view: the column the edge cuts from its readings, the whole columns kept
    // from their thinned entries (each column's lowest and highest), the rest as it is thinned.
    TThinExtremes ext;
    for (std::size_t i = inView; i < restartAt && GridColumn(st, points.X(i)) == edge; ++i)
        if (points.X(i) <= o.xmax && Drawn(points, o, i, v)) Widen(ext, v, v);
    for (std::size_t i = 0; i < keys.size(); ++i)
        if (!std::isnan(values[i]) && GridColumn(st, keys[i]) > edge)
            Widen(ext, values[i], values[i]);

    TThinner thin(points, o, keys, values);
    thin.SetPendingBreak(pending);
    const TThinState& grid = st;
    auto columnOf = [&](double x) {
        if (x < o.xmin) return -1L;
        if (x > o.xmax) return kBeyond;
        return GridColumn(grid, x);
    };
    ThinColumns(points, restartAt, last, columnOf, thin);
    if (thin.Extremes().any) Widen(ext, thin.Extremes().lo, thin.Extremes().hi);
    if (extremes) *extremes = ext;

    st.xmin = o.xmin;
    st.xmax = o.xmax;
    st.restart =
        std::max(st.restart, GridColumn(st, std::min(o.xmax, points.X(points.Size() - 1))));
    ++st.partial;
    return keys.size();
}

} // namespace vg57
