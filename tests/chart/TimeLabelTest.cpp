// The time axis as drawn: no two labels alike, whatever the span, down to a single second or a
// file of one reading.
#include "ChartArea.h"
#include "DateTime.h"

#include <gtest/gtest.h>

#include <set>

using namespace vg57;

TEST(TimeLabels, noTwoLabelsOfTheTimeAxisReadAlike) {
    const double t = MakeDateTime(2026, 12, 7, 12, 56, 0) + 0.4 * kOneSecond;
    const struct {
        const char* name;
        double lo, hi; // days
        int fewest;    // labels at least
    } rows[] = {
        {"start-up: one second", t, t + kOneSecond, 1},
        {"a file of one line", t, t + 1e-10, 0},
        {"seven seconds", t, t + 7 * kOneSecond, 3}, // 2.5 s steps would label 12:56:02.5 ":02"
        {"the live window", t - 308.85 * kOneSecond, t, 3},
    };
    TChartModel model(t);
    TChartArea area(model);
    area.resize(1200, 440);
    TPressureChart& chart = *area.Chart1();
    for (const auto& r : rows) {
        model.TimeAxis().SetBoth(r.lo, r.hi);
        chart.Refresh(true);
        const QVector<QString> labels = chart.xAxis->tickVectorLabels();
        const QVector<double> ticks = chart.xAxis->tickVector();
        EXPECT_GE(labels.size(), r.fewest) << r.name;
        EXPECT_EQ(std::set<QString>(labels.begin(), labels.end()).size(),
                  std::size_t(labels.size()))
            << r.name << ": " << QStringList(labels.begin(), labels.end()).join(' ').toStdString();
        for (const double tick : ticks)
            EXPECT_EQ(std::fmod(tick, 1.0), 0.0) << r.name << ": each label names its own tick";
    }
}
