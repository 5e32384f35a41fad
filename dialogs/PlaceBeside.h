// Where a dialog goes so that it leaves a region of the window in view: the leak rate's dialog
// beside the chart, never over the plot whose selection and fitted line it explains.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace vg57 {

// The top-left corner for a window of `frame` size inside `screen`: right of `keep`, else left of
// it, else below, else above; when none fits whole, the place inside the screen that covers the
// least of `keep`.
QPoint PlaceBeside(const QRect& keep, const QSize& frame, const QRect& screen);

} // namespace vg57
