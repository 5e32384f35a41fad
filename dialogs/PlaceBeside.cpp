#include "PlaceBeside.h"

#include <algorithm>

namespace vg57 {

namespace {
// The rectangle moved as little as it takes to lie inside the screen (its top-left corner kept
// in view when it is larger).
QRect Inside(QRect r, const QRect& screen) {
    r.moveLeft(std::max(screen.left(), std::min(r.left(), screen.right() - r.width() + 1)));
    r.moveTop(std::max(screen.top(), std::min(r.top(), screen.bottom() - r.height() + 1)));
    return r;
}
long long Covered(const QRect& a, const QRect& b) {
    const QRect c = a.intersected(b);
    return c.isEmpty() ? 0 : static_cast<long long>(c.width()) * c.height();
}
} // namespace

QPoint PlaceBeside(const QRect& keep, const QSize& frame, const QRect& screen) {
    constexpr int kGap = 8;
    const int midY = keep.center().y() - frame.height() / 2;
    const int midX = keep.center().x() - frame.width() / 2;
    const QRect candidates[] = {
        QRect(QPoint(keep.right() + 1 + kGap, midY), frame),
        QRect(QPoint(keep.left() - kGap - frame.width(), midY), frame),
        QRect(QPoint(midX, keep.bottom() + 1 + kGap), frame),
        QRect(QPoint(midX, keep.top() - kGap - frame.height()), frame),
    };
    QRect best;
    long long least = -1;
    for (const QRect& c : candidates) {
        const QRect placed = Inside(c, screen);
        const long long covered = Covered(placed, keep);
        if (least < 0 || covered < least) least = covered, best = placed;
        if (covered == 0) break;
    }
    return best.topLeft();
}

} // namespace vg57
