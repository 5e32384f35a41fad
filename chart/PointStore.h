// The chart series' points: date-times (days since 30 December 1899) in ascending order with
// their pressures. Appending at the end and dropping from the front cost O(1) amortised, so a
// day of readings at 0.5 s (172 800 points) moves no memory per tick.
#pragma once

#include <cstddef>
#include <vector>

namespace vg57 {

class TPointStore {
public:
    std::size_t Size() const { return x_.size() - head_; }
    bool Empty() const { return Size() == 0; }
    double X(std::size_t i) const { return x_[head_ + i]; }
    double Y(std::size_t i) const { return y_[head_ + i]; }

    // Inserts after every point whose time is less than or equal to x, so readings with equal
    // times keep their arrival order. A reading later than all others is a plain append.
    void Add(double x, double y);
    void RemoveFirst();
    void Clear();
    // Replaces all points (the loaded view), keeping the insertion rule for unordered input.
    // Ordered input is taken over as it is, without a copy.
    void Assign(std::vector<double> xs, std::vector<double> ys);

    // First index with X >= x, and first index with X > x.
    std::size_t LowerBound(double x) const;
    std::size_t UpperBound(double x) const;

private:
    void Compact();
    std::vector<double> x_, y_;
    std::size_t head_ = 0; // points before it have been removed
};

} // namespace vg57
