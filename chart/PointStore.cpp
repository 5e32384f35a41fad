#include "PointStore.h"

#include <algorithm>
#include <numeric>

namespace vg57 {

void TPointStore::Add(double x, double y) {
    if (Empty() || x >= x_.back()) {
        x_.push_back(x);
        y_.push_back(y);
        return;
    }
    const auto at = static_cast<std::ptrdiff_t>(head_ + UpperBound(x));
    x_.insert(x_.begin() + at, x);
    y_.insert(y_.begin() + at, y);
}

void TPointStore::RemoveFirst() {
    if (Empty()) return;
    ++head_;
    // Drop the removed front in one move once it is half the storage: amortised O(1).
    if (head_ >= 4096 && head_ * 2 >= x_.size()) Compact();
}

void TPointStore::Compact() {
    x_.erase(x_.begin(), x_.begin() + static_cast<std::ptrdiff_t>(head_));
    y_.erase(y_.begin(), y_.begin() + static_cast<std::ptrdiff_t>(head_));
    head_ = 0;
}

void TPointStore::Clear() {
    x_.clear();
    y_.clear();
    x_.shrink_to_fit();
    y_.shrink_to_fit();
    head_ = 0;
}

void TPointStore::Assign(std::vector<double> xs, std::vector<double> ys) {
    Clear();
    const std::size_t n = std::min(xs.size(), ys.size());
    // A file written in time order needs no sorting.
    if (std::is_sorted(xs.begin(), xs.begin() + static_cast<std::ptrdiff_t>(n))) {
        xs.resize(n);
        ys.resize(n);
        x_ = std::move(xs);
        y_ = std::move(ys);
        return;
    }
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    // Stable: equal times keep their order in the file.
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return xs[a] < xs[b]; });
    x_.reserve(n);
    y_.reserve(n);
    for (std::size_t i : order) {
        x_.push_back(xs[i]);
        y_.push_back(ys[i]);
    }
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

} // namespace vg57
