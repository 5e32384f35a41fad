// What the plot is fed: only the visible slice of the series, thinned to at most two points
// (the lowest and the highest, in their order) per pixel column, so that a day in view costs
// about as much to draw as ten minutes. Values come out in the display unit; a NaN value marks
// a break in the line. The same pass finds the lowest and highest reading in view, which is all
// that automatic scaling needs: a day of readings is never scanned twice per tick.
#pragma once

#include "PointStore.h"

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

} // namespace vg57
