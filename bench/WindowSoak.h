// The window's own cycle, chart included, for 200 000 readings on a clock that moves 0.5 s per
// reading, so that the chart's one-day trimming runs many times over.
#pragma once

void WindowSoak();
