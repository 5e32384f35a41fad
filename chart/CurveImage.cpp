#include "CurveImage.h"

#include "DateTime.h"
#include "PressureChart.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace vg57 {

namespace {

// Columns beyond the plot's width: the image scrolls once per this many columns of travel.
constexpr int kRoom = 128;
// A lone reading's dot reaches this many pixels to each side (radius 2, and its antialiasing).
constexpr int kDotReach = 3;

bool Lone(const std::vector<double>& v, std::size_t i) {
    return !std::isnan(v[i]) && (i == 0 || std::isnan(v[i - 1])) &&
           (i + 1 == v.size() || std::isnan(v[i + 1]));
}

} // namespace

TCurveImage::TCurveImage(QCustomPlot* plot, const TChartModel& model)
    : QCPLayerable(plot), model_(model) {}

void TCurveImage::applyDefaultAntialiasingHint(QCPPainter* painter) const {
    // The image is copied pixel for pixel, with no half-pixel shift.
    painter->setAntialiasing(false);
}

QRect TCurveImage::clipRect() const {
    return parentPlot()->axisRect()->rect();
}

bool TCurveImage::TFrame::Same(const TFrame& o) const {
    // The span is a difference of two date-times: it differs in its last bits from tick to tick.
    return rect == o.rect && columns == o.columns && ylo == o.ylo && yhi == o.yhi && log == o.log &&
           std::fabs(span - o.span) <= 1e-9 * span && unit == o.unit && addresses == o.addresses &&
           revisions == o.revisions;
}

TCurveImage::TFrame TCurveImage::FrameNow() const {
    const QCustomPlot* plot = parentPlot();
    TFrame f;
    f.rect = plot->axisRect()->rect();
    f.columns = model_.SliceColumns();
    f.ylo = plot->yAxis->range().lower;
    f.yhi = plot->yAxis->range().upper;
    f.log = plot->yAxis->scaleType() == QCPAxis::stLogarithmic;
    f.span = plot->xAxis->range().size();
    f.unit = model_.DisplayUnit();
    for (std::size_t k = 0; k < std::max<std::size_t>(1, model_.GaugeCount()); ++k) {
        f.addresses.push_back(model_.GaugeAddress(k));
        f.revisions.push_back(model_.GaugePoints(k).Revision());
    }
    return f;
}

double TCurveImage::MinLast() const {
    double last = std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < held_.size(); ++k) {
        const std::vector<double>& keys = model_.GaugeSlice(k).keys;
        if (!std::isnan(held_[k].lastKey))
            last = std::min(last, held_[k].lastKey);
        else if (!keys.empty())
            last = std::min(last, keys.front() * kSecondsPerDay);
    }
    return last;
}

bool TCurveImage::CanDrawPartly(const TFrame& frame, double lower, double minLast,
                                double pxPerKey) const {
    if (!valid_ || !frame.Same(frame_) || lower < lower_ || held_.size() != frame.addresses.size())
        return false;
    // A long way on: drawing afresh costs no more.
    if (X(lower, pxPerKey) - X(lower_, pxPerKey) > frame.rect.width() / 2) return false;
    const double edge = X(lower, pxPerKey);
    for (std::size_t k = 0; k < held_.size(); ++k) {
        const TChartSlice& s = model_.GaugeSlice(k);
        const TDrawn& h = held_[k];
        if (s.keys.empty()) {
            if (!std::isnan(h.lastKey)) return false; // its readings went
            continue;
        }
        const double first = s.keys.front() * kSecondsPerDay;
        // Readings trimmed inside the view: the line to them would stay.
        if (!std::isnan(h.firstKey) && first > h.firstKey && X(first, pxPerKey) - edge > 1)
            return false;
        // What stays in the image keeps its dots: the same lone readings before the newest, none
        // trimmed away in view.
        std::vector<double> lone;
        for (std::size_t i = 0; i < s.values.size() && s.keys[i] * kSecondsPerDay < minLast; ++i)
            if (Lone(s.values, i)) lone.push_back(s.keys[i] * kSecondsPerDay);
        std::vector<double> kept;
        for (double key : h.lone) {
            if (key >= minLast) continue;
            if (key < first) {
                if (X(key, pxPerKey) + kDotReach >= edge) return false;
                continue;
            }
            kept.push_back(key);
        }
        if (lone != kept) return false;
    }
    return true;
}

void TCurveImage::Scroll(int columns, double pxPerKey) {
    columns = std::clamp(columns, 0, image_.width());
    const int width = image_.width();
    const std::size_t pixel = sizeof(quint32);
    for (int row = 0; row < image_.height(); ++row) {
        uchar* line = image_.scanLine(row);
        std::memmove(line, line + columns * pixel, (width - columns) * pixel);
        std::memset(line + (width - columns) * pixel, 0, columns * pixel);
    }
    originKey_ += columns / pxPerKey;
}

void TCurveImage::DrawFrom(int from, double pxPerKey) {
    from = std::max(0, from);
    const QRect region(from, 0, image_.width() - from, image_.height());
    QPainter p(&image_);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(region, Qt::transparent);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.setClipRect(region);
    // As the plot draws antialiased lines: shifted by half a pixel.
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(0.5, 0.5);
    const QCPAxis* y = parentPlot()->yAxis;
    const double top = parentPlot()->axisRect()->top();
    // Entries further left than this touch no column of the region, not even with a dot.
    const double fromKey = originKey_ + (from - kDotReach - 1) / pxPerKey;
    // Nothing beyond the image's last columns counts as drawn: it is drawn when it comes in.
    const double rightKey = originKey_ + (image_.width() - 2 * kDotReach) / pxPerKey;
    held_.assign(std::max<std::size_t>(1, model_.GaugeCount()), {});
    QPolygonF run;
    for (std::size_t k = 0; k < held_.size(); ++k) {
        const TChartSlice& s = model_.GaugeSlice(k);
        TDrawn& h = held_[k];
        h.firstKey = h.lastKey = std::numeric_limits<double>::quiet_NaN();
        if (s.keys.empty()) continue;
        h.firstKey = s.keys.front() * kSecondsPerDay;
        h.lastKey = std::min(s.keys.back() * kSecondsPerDay, rightKey);
        const auto at = std::lower_bound(s.keys.begin(), s.keys.end(), fromKey / kSecondsPerDay);
        std::size_t start = static_cast<std::size_t>(at - s.keys.begin());
        if (start > 0) --start;
        const QColor colour = TPressureChart::GaugeColour(k);
        const auto point = [&](std::size_t i) {
            return QPointF(X(s.keys[i] * kSecondsPerDay, pxPerKey),
                           y->coordToPixel(s.values[i]) - top);
        };
        p.setPen(QPen(colour, 0));
        p.setBrush(Qt::NoBrush);
        for (std::size_t i = start; i <= s.values.size(); ++i) {
            if (i < s.values.size() && !std::isnan(s.values[i])) {
                run.append(point(i));
                continue;
            }
            if (run.size() > 1) p.drawPolyline(run);
            run.clear();
        }
        p.setPen(QPen(colour, 1));
        p.setBrush(colour);
        for (std::size_t i = 0; i < s.values.size(); ++i) {
            if (!Lone(s.values, i)) continue;
            h.lone.push_back(s.keys[i] * kSecondsPerDay);
            if (i >= start) p.drawEllipse(point(i), 2.0, 2.0);
        }
    }
}

void TCurveImage::draw(QCPPainter* painter) {
    drawn_ = false;
    // Exports want vectors; a scaled screen, an image of its own scale: the graphs draw then.
    const bool exporting = painter->modes().testFlag(QCPPainter::pmVectorized) ||
                           painter->modes().testFlag(QCPPainter::pmNoCaching);
    const TFrame frame = FrameNow();
    if (exporting || !painter->device() || painter->device()->devicePixelRatioF() != 1.0 ||
        frame.rect.width() < 1 || frame.rect.height() < 1 || !(frame.span > 0)) {
        valid_ = valid_ && exporting; // an export leaves the image as it was
        return;
    }
    const double lower = parentPlot()->xAxis->range().lower;
    const double pxPerKey = frame.rect.width() / frame.span;
    const double minLast = MinLast();
    if (CanDrawPartly(frame, lower, minLast, pxPerKey)) {
        // The view's first column in the image, with room after it for the newest columns.
        long at = std::lround(X(lower, pxPerKey));
        if (at + frame.rect.width() > image_.width()) {
            Scroll(static_cast<int>(at), pxPerKey);
            at = std::lround(X(lower, pxPerKey));
        }
        const double last = std::isfinite(minLast) ? X(minLast, pxPerKey) : image_.width();
        DrawFrom(static_cast<int>(std::floor(last)) - kDotReach, pxPerKey);
        ++partial_;
    } else {
        // The same memory while the size holds: fresh pages would cost more than the drawing.
        const QSize size(frame.rect.width() + kRoom, frame.rect.height());
        if (image_.size() != size) image_ = QImage(size, QImage::Format_ARGB32_Premultiplied);
        originKey_ = lower;
        DrawFrom(0, pxPerKey);
        ++full_;
    }
    frame_ = frame;
    lower_ = lower;
    valid_ = true;
    const int at = static_cast<int>(std::lround(X(lower, pxPerKey)));
    painter->drawImage(frame.rect.topLeft(), image_,
                       QRect(at, 0, frame.rect.width(), frame.rect.height()));
    drawn_ = true;
}

} // namespace vg57
