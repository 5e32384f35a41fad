// What the plot is fed: only the visible slice of the series, thinned to at most two points
// (the lowest and the highest, in their order) per pixel column, so that a day in view costs
// about as much to draw as ten minutes. Values come out in the display unit; a NaN value marks
// a break in the line. The same pass finds the lowest and highest reading in view, which is all
// that automatic scaling needs: a day of readings is never scanned twice per tick.
#pragma once

#include "PointStore.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vg57 {

struct TThinOptions {
    double xmin = 0, xmax = 0; // the visible time range
    int columns = 1;           // pixel columns across it
    bool logarithmic = false;  // points <= 0 are left out: they have no place on a log axis
    double keyScale = 1.0;     // multiplies the times written out
    // Per unit index (TPointStore::kUnits entries), the factor into the display unit; NaN for a
    // unit that can't be converted (such points are left out, and the line breaks there).
    // Null: every point is drawn as it is.
    const double* factors = nullptr;
};

// The lowest and highest value drawn inside [xmin, xmax]; none when no point there is drawn.
struct TThinExtremes {
    bool any = false;
    double lo = 0, hi = 0;
};

// Writes the slice (with one neighbour beyond each edge, so the line runs to the border) into
// keys and values, replacing their contents. A column with a gap inside it gives its readings
// before the gap, a break, and those after it. Returns the number of entries written.
std::size_t ThinVisible(const TPointStore& points, const TThinOptions& o, std::vector<double>& keys,
                        std::vector<double>& values, TThinExtremes* extremes = nullptr);

// What ThinVisibleKeeping keeps of its last pass. A live tick moves the view by a fraction of a
// pixel and adds readings at its end: the thinned columns are then kept on the grid of the last
// fresh pass, those that left the view are dropped, and only the newest columns are thinned
// again, so that a month in view costs about what a week does. Anything else (the columns, the
// span, the scale, the unit, a reading inserted or changed, a trim into view, a long way on)
// thins afresh.
struct TThinState {
    bool valid = false;
    double origin = 0, perColumn = 0,
           span = 0; // the grid: column c starts at origin + c / perColumn
    int columns = 0;
    bool logarithmic = false;
    std::vector<double> factors;
    std::uint64_t revision = 0;
    double xmin = 0, xmax = 0;
    long restart = 0;                  // the first grid column thinned again by the next pass
    std::size_t full = 0, partial = 0; // passes that thinned afresh, and in part
};

// ThinVisible, keeping what it can of the last pass (`state`) on the same points and output.
// Between fresh passes, the columns lie on the grid of the last fresh one: a column's lowest and
// highest readings may differ from a fresh pass's by the readings of a fraction of a column.
std::size_t ThinVisibleKeeping(const TPointStore& points, const TThinOptions& o,
                               std::vector<double>& keys, std::vector<double>& values,
                               TThinExtremes* extremes, TThinState& state);

} // namespace vg57
