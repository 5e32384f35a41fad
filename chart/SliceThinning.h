// What the plot is fed: only the visible slice of the series, thinned to at most two points
// (the lowest and the highest, in their order) per pixel column, so that a day in view costs
// about as much to draw as ten minutes.
#pragma once

#include "PointStore.h"

#include <vector>

namespace vg57 {

struct TThinOptions {
    double xmin = 0, xmax = 0; // the visible time range
    int columns = 1;           // pixel columns across it
    bool logarithmic = false;  // points <= 0 are left out: they have no place on a log axis
    double keyScale = 1.0;     // multiplies the times written out
};

// Writes the slice (with one neighbour beyond each edge, so the line runs to the border) into
// keys and values, replacing their contents. Returns the number of points written.
std::size_t ThinVisible(const TPointStore& points, const TThinOptions& o, std::vector<double>& keys,
                        std::vector<double>& values);

} // namespace vg57
