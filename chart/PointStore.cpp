#include "PointStore.h"

#include <algorithm>
#include <atomic>
#include <numeric>

namespace vg57 {

namespace {
std::uint8_t Tag(std::uint8_t unit, bool gap) {
    return static_cast<std::uint8_t>((unit & 0x7F) | (gap ? 0x80 : 0));
}
} // namespace

std::uint64_t TPointStore::NextRevision() {
    // Stores live on the loader's threads too.
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

void TPointStore::SetGapBefore(std::size_t i, bool gap) {
    std::uint8_t& t = tag_[head_ + i];
    const bool was = (t & kGapBit) != 0;
    t = Tag(t, gap);
    if (gap == was) return;
    revision_ = NextRevision();
    if (!gap) return SummariseFrom(head_ + i);
    for (int level = 0; level < kLevels; ++level)
        blocks_[level][(head_ + i) / BlockSize(level)].plain = false;
}

const TPointStore::TBlock* TPointStore::BlockAt(int level, std::size_t i) const {
    const std::size_t s = head_ + i, size = BlockSize(level);
    if (s % size != 0 || s + size > x_.size()) return nullptr;
    return &blocks_[level][s / size];
}

void TPointStore::Summarise(std::size_t s) {
    const std::uint8_t unit = tag_[s] & kUnitMask;
    const double y = y_[s];
    const bool plain = (tag_[s] & kGapBit) == 0 && y > 0;
    for (int level = 0; level < kLevels; ++level) {
        const std::size_t size = BlockSize(level), start = s - s % size;
        if (s == start) {
            blocks_[level].push_back({y, y, x_[s], 0, 0, unit, plain});
            continue;
        }
        TBlock& b = blocks_[level].back();
        const auto offset = static_cast<std::uint32_t>(s - start);
        if (y < b.loY) {
            b.lo = offset;
            b.loY = y;
        }
        if (y > b.hiY) {
            b.hi = offset;
            b.hiY = y;
        }
        b.lastX = x_[s];
        b.plain = b.plain && plain && unit == b.unit;
    }
}

void TPointStore::SummariseFrom(std::size_t s) {
    const std::size_t start = s - s % BlockSize(kLevels - 1);
    for (int level = 0; level < kLevels; ++level)
        blocks_[level].resize(start / BlockSize(level));
    for (std::size_t k = start; k < x_.size(); ++k)
        Summarise(k);
}

void TPointStore::Add(double x, double y, std::uint8_t unit, bool gapBefore) {
    ++counts_[unit & kUnitMask];
    if (Empty() || x >= x_.back()) {
        x_.push_back(x);
        y_.push_back(y);
        tag_.push_back(Tag(unit, gapBefore));
        Summarise(x_.size() - 1);
        return;
    }
    revision_ = NextRevision();
    const auto at = static_cast<std::ptrdiff_t>(head_ + UpperBound(x));
    x_.insert(x_.begin() + at, x);
    y_.insert(y_.begin() + at, y);
    tag_.insert(tag_.begin() + at, Tag(unit, gapBefore));
    SummariseFrom(static_cast<std::size_t>(at));
}

void TPointStore::RemoveFirst() {
    if (Empty()) return;
    --counts_[Unit(0)];
    ++head_;
    // Drop the removed front in one move once it is half the storage: amortised O(1).
    if (head_ >= 4096 && head_ * 2 >= x_.size()) Compact();
}

void TPointStore::Compact() {
    const auto n = static_cast<std::ptrdiff_t>(head_);
    x_.erase(x_.begin(), x_.begin() + n);
    y_.erase(y_.begin(), y_.begin() + n);
    tag_.erase(tag_.begin(), tag_.begin() + n);
    head_ = 0;
    SummariseFrom(0);
}

void TPointStore::Clear() {
    revision_ = NextRevision();
    x_.clear();
    y_.clear();
    tag_.clear();
    x_.shrink_to_fit();
    y_.shrink_to_fit();
    tag_.shrink_to_fit();
    for (auto& level : blocks_)
        level = {};
    counts_.fill(0);
    head_ = 0;
}

void TPointStore::Assign(std::vector<double> xs, std::vector<double> ys,
                         const std::vector<std::uint8_t>& units) {
    Clear();
    const std::size_t n = std::min(xs.size(), ys.size());
    const auto unitOf = [&](std::size_t i) {
        return i < units.size() ? static_cast<std::uint8_t>(units[i] & kUnitMask) : 0;
    };
    // Readings already in time order (the loader sorts them) are taken over without a copy.
    if (std::is_sorted(xs.begin(), xs.begin() + static_cast<std::ptrdiff_t>(n))) {
        xs.resize(n);
        ys.resize(n);
        x_ = std::move(xs);
        y_ = std::move(ys);
        tag_.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            tag_[i] = unitOf(i);
            ++counts_[tag_[i]];
        }
        SummariseFrom(0);
        return;
    }
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    // A file written in time order needs no sorting; otherwise stable, so that equal times keep
    // their order in the file.
    if (!std::is_sorted(xs.begin(), xs.begin() + static_cast<std::ptrdiff_t>(n)))
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return xs[a] < xs[b]; });
    x_.reserve(n);
    y_.reserve(n);
    tag_.reserve(n);
    for (std::size_t i : order) {
        x_.push_back(xs[i]);
        y_.push_back(ys[i]);
        tag_.push_back(unitOf(i));
        ++counts_[unitOf(i)];
    }
    SummariseFrom(0);
}

std::size_t TPointStore::LowerBound(double x) const {
    return static_cast<std::size_t>(
               std::lower_bound(x_.begin() + static_cast<std::ptrdiff_t>(head_), x_.end(), x) -
               x_.begin()) -
           head_;
}

std::size_t TPointStore::UpperBound(double x) const {
    return static_cast<std::size_t>(
               std::upper_bound(x_.begin() + static_cast<std::ptrdiff_t>(head_), x_.end(), x) -
               x_.begin()) -
           head_;
}

void MarkSpacingGaps(TPointStore& points, double factor, double minGap) {
    const std::size_t n = points.Size();
    if (n < 3) return;
    std::vector<double> steps(n - 1);
    for (std::size_t i = 1; i < n; ++i)
        steps[i - 1] = points.X(i) - points.X(i - 1);
    auto mid = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2);
    std::nth_element(steps.begin(), mid, steps.end());
    const double gap = std::max(factor * *mid, minGap);
    for (std::size_t i = 1; i < n; ++i)
        if (points.X(i) - points.X(i - 1) > gap) points.SetGapBefore(i, true);
}

} // namespace vg57
