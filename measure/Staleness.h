// When the newest reading stops counting as current: the screen greys it and the metrics omit it
// by one rule, so a dashboard and the window never disagree about a silent gauge.
#pragma once

namespace vg57 {

inline constexpr int kStaleIntervals = 3; // polling intervals without a reading

} // namespace vg57
