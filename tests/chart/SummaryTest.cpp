// The store's block summary changes nothing a drawing shows: each pixel column's lowest and
// highest value, and the range's extremes, are those of the unthinned points, whatever breaks,
// units, non-positive values and edits the store has seen.
#include "SliceThinning.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>

using namespace vg57;

namespace {

struct SummaryCase {
    const char* name;
    bool log;
    std::function<void(TPointStore&)> edit; // after 300 000 points at x = i
};

double Wave(long i) {
    return 1e-3 * (1.5 + std::sin(i * 0.0007)) * (1 + 0.1 * std::sin(i * 1.3));
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kFactors[3] = {1.0, 100.0, kNaN}; // unit 2 can't be converted

const SummaryCase kCases[] = {
    {"plain", false, [](TPointStore&) {}},
    {"breaks", false,
     [](TPointStore& s) {
         for (std::size_t i = 7; i < s.Size(); i += 5003)
             s.SetGapBefore(i, true);
     }},
    {"aClearedBreak", false,
     [](TPointStore& s) {
         s.SetGapBefore(70000, true);
         s.SetGapBefore(70000, false);
     }},
    {"frontDroppedPastCompaction", false,
     [](TPointStore& s) {
         for (int i = 0; i < 160001; ++i)
             s.RemoveFirst();
     }},
    {"anInsertInTheMiddle", false, [](TPointStore& s) { s.Add(123456.5, 9.0); }},
    {"zerosOnALogAxis", true,
     [](TPointStore& s) {
         s.Add(200000.5, 0.0);
         s.Add(250000.5, -1.0);
     }},
};

void PrintTo(const SummaryCase& c, std::ostream* os) {
    *os << c.name;
}

class Summary : public ::testing::TestWithParam<SummaryCase> {};

// Each column's lowest and highest value.
using TColumnRanges = std::map<long, std::pair<double, double>>;
void Widen(TColumnRanges& m, long col, double v) {
    const auto [it, fresh] = m.try_emplace(col, v, v);
    if (!fresh) it->second = {std::min(it->second.first, v), std::max(it->second.second, v)};
}

TEST_P(Summary, columnExtremesEqualThoseOfEveryPoint) {
    const SummaryCase& c = GetParam();
    TPointStore s;
    for (long i = 0; i < 300000; ++i) {
        // A stretch in another unit, one that can't be converted, and a bare NaN reading.
        const auto unit = static_cast<std::uint8_t>(i / 50000 == 3 ? 1 : i / 1000 == 111 ? 2 : 0);
        s.Add(i, i == 222222 ? kNaN : Wave(i), unit);
    }
    c.edit(s);
    TThinOptions o;
    o.xmin = 1000.25;
    o.xmax = 299000.75;
    o.columns = 577;
    o.logarithmic = c.log;
    o.factors = kFactors;
    std::vector<double> keys, values;
    TThinExtremes e;
    ThinVisible(s, o, keys, values, &e);
    EXPECT_LE(keys.size(), 4u * 577 + 4);

    const double perColumn = o.columns / (o.xmax - o.xmin);
    auto columnOf = [&](double x) { return std::min(576L, long((x - o.xmin) * perColumn)); };
    TColumnRanges want, got;
    double lo = INFINITY, hi = -INFINITY;
    for (std::size_t i = 0; i < s.Size(); ++i) {
        const double v = s.Y(i) * kFactors[s.Unit(i)];
        if (s.X(i) < o.xmin || s.X(i) > o.xmax || std::isnan(v) || (c.log && v <= 0)) continue;
        Widen(want, columnOf(s.X(i)), v);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    for (std::size_t i = 0; i < keys.size(); ++i)
        if (!std::isnan(values[i]) && keys[i] >= o.xmin && keys[i] <= o.xmax)
            Widen(got, columnOf(keys[i]), values[i]);
    EXPECT_EQ(got, want);
    ASSERT_TRUE(e.any);
    EXPECT_EQ(e.lo, lo);
    EXPECT_EQ(e.hi, hi);
}

INSTANTIATE_TEST_SUITE_P(Cases, Summary, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The live view moving over many readings a column: the columns kept between ticks (on the grid
// of the last fresh pass) still hold the lowest and highest reading of every whole column in
// view, the extremes are those of every point in view, and the line breaks where it did.
TEST(KeptThinning, theColumnsKeptAsTheViewMovesHoldTheReadingsExtremes) {
    TPointStore s;
    long next = 0;
    auto add = [&] {
        const long i = next++;
        const auto unit = static_cast<std::uint8_t>(i % 20000 < 300 ? 2 : i % 9000 < 2000 ? 1 : 0);
        s.Add(i, Wave(i), unit, i % 4111 == 0);
    };
    while (next < 30000)
        add();
    std::vector<double> factors(TPointStore::kUnits, kNaN); // as many as the options ask for
    std::copy(std::begin(kFactors), std::end(kFactors), factors.begin());
    TThinOptions o;
    o.columns = 577;
    o.factors = factors.data();
    std::vector<double> keys, values;
    TThinExtremes e;
    TThinState st;
    for (int tick = 0; tick < 100; ++tick) {
        for (int k = 0; k < 19; ++k)
            add();
        o.xmax = next - 1 + 0.25;
        o.xmin = o.xmax - 25000;
        while (s.Size() > 2 && s.X(1) < o.xmin - 3000)
            s.RemoveFirst();
        ThinVisibleKeeping(s, o, keys, values, &e, st);

        const auto column = [&](double x) {
            return long(std::floor((x - st.origin) * st.perColumn));
        };
        const long edge = column(o.xmin), right = column(o.xmax);
        TColumnRanges want, got;
        double lo = INFINITY, hi = -INFINITY;
        for (std::size_t i = 0; i < s.Size(); ++i) {
            const double v = s.Y(i) * kFactors[s.Unit(i)];
            if (s.X(i) < o.xmin || s.X(i) > o.xmax || std::isnan(v)) continue;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
            const long c = column(s.X(i));
            if (c > edge && c < right) Widen(want, c, v);
        }
        for (std::size_t i = 0; i < keys.size(); ++i) {
            const long c = column(keys[i]);
            if (!std::isnan(values[i]) && c > edge && c < right) Widen(got, c, values[i]);
        }
        ASSERT_EQ(got, want) << "tick " << tick;
        ASSERT_TRUE(e.any);
        ASSERT_EQ(e.lo, lo) << "tick " << tick;
        ASSERT_EQ(e.hi, hi) << "tick " << tick;
        // One break at a time, none first, and one in every gap the view holds.
        ASSERT_FALSE(std::isnan(values.front()));
        std::size_t breaks = 0;
        for (std::size_t i = 1; i < values.size(); ++i) {
            ASSERT_FALSE(std::isnan(values[i]) && std::isnan(values[i - 1])) << "tick " << tick;
            breaks += std::isnan(values[i]);
        }
        std::vector<double> freshKeys, freshValues;
        ThinVisible(s, o, freshKeys, freshValues);
        EXPECT_EQ(breaks, std::size_t(std::count_if(freshValues.begin(), freshValues.end(),
                                                    [](double v) { return std::isnan(v); })))
            << "tick " << tick;
    }
    EXPECT_GT(st.partial, 80u);
}

} // namespace
