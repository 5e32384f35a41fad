// The cost of the chart per live tick at 1 200, 20 000 and 172 800 points, with the 600 s
// window and with the whole day in view, linear and logarithmic; the cost of loading a day of
// points; the median tick with automatic scaling over a whole day against the manual range; and
// the memory they take. Each figure is also given as a ratio to a bare QPainter
// min/max polyline of the same slice at the same size, measured in the same run. A week and a
// month at 0.5 s with the whole span in view: the month may cost at most twice the week, as
// drawing reads the store's summary, not every reading; and a month's memory once loaded.
#include "ChartModel.h"
#include "DateTime.h"
#include "Numbers.h"
#include "PressureChart.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string_view>
#include <unistd.h>
#include <vector>

using namespace vg57;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWidth = 640, kHeight = 420;
constexpr double kStep = 0.5 * kOneSecond;
const double kStart = MakeDateTime(2026, 12, 7, 0, 0, 0);

double PressureAt(long i) {
    return 1e-3 * (1.0 + 0.5 * std::sin(i * 0.001)) * (1.0 + 0.02 * std::sin(i * 1.7));
}

double RssMiB() {
    std::ifstream in("/proc/self/statm");
    long pages = 0, resident = 0;
    in >> pages >> resident;
    return resident * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double PeakRssMiB() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}

// The lower bound: the same visible slice reduced to min and max per pixel column by a plain
// loop and drawn as one polyline with QPainter into an image of the chart's size.
class BareDraw {
public:
    BareDraw() : image_(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied) {}
    // Clears the image first unless `over` is false (a further gauge drawn over the first).
    void Draw(const TPointStore& s, double xmin, double xmax, double ymin, double ymax, bool log,
              bool clear = true) {
        const std::size_t first = s.LowerBound(xmin), last = s.UpperBound(xmax);
        poly_.clear();
        auto py = [&](double y) {
            if (log)
                return kHeight - (std::log10(y) - std::log10(ymin)) /
                                     (std::log10(ymax) - std::log10(ymin)) * kHeight;
            return kHeight - (y - ymin) / (ymax - ymin) * kHeight;
        };
        long column = -1;
        double lo = 0, hi = 0;
        for (std::size_t i = first; i < last; ++i) {
            const long c = static_cast<long>((s.X(i) - xmin) / (xmax - xmin) * (kWidth - 1));
            const double y = s.Y(i);
            if (log && y <= 0) continue;
            if (c != column) {
                if (column >= 0) {
                    poly_.append(QPointF(column, py(lo)));
                    poly_.append(QPointF(column, py(hi)));
                }
                column = c;
                lo = hi = y;
            }
            lo = std::min(lo, y);
            hi = std::max(hi, y);
        }
        if (column >= 0) poly_.append(QPointF(column, py(lo)));
        if (clear) image_.fill(Qt::white);
        QPainter p(&image_);
        p.setPen(QPen(QColor(0, 128, 0), 1));
        p.drawPolyline(poly_.constData(), static_cast<int>(poly_.size()));
    }

private:
    QImage image_;
    QVector<QPointF> poly_;
};

struct Scenario {
    long points; // per gauge
    bool wholeDay;
    bool log;
    int gauges = 1;
};

// Gauge g's readings apart from the others' on the chart.
double GaugePressureAt(int g, long i) {
    return PressureAt(i + 977 * g) * (1 + 0.3 * g);
}

// Milliseconds per live tick (trim + add + repaint) for the chart, and for the bare drawing.
std::pair<double, double> MeasureTick(const Scenario& sc) {
    TChartModel model(kStart);
    model.TWindow = sc.points * kStep;
    std::vector<int> addresses;
    for (int g = 0; g < sc.gauges; ++g)
        addresses.push_back(g + 1);
    if (sc.gauges > 1) model.SetGauges(addresses);
    for (long i = 0; i < sc.points; ++i)
        model.Points().Add(kStart + i * kStep, PressureAt(i));
    for (int g = 1; g < sc.gauges; ++g)
        for (long i = 0; i < sc.points; ++i)
            model.AddGaugeReading(g, kStart + i * kStep, GaugePressureAt(g, i), "");
    if (sc.wholeDay) model.TrackSpan = -(sc.points * kStep); // the track stands for all points
    model.timeSlider = {610, 0, 610};
    model.ViewEnd = kStart + sc.points * kStep;
    model.ApplyTimeSlider();
    model.UpdateAutomaticRange();
    model.SetLogarithmic(sc.log);
    TPressureChart chart(model);
    chart.resize(kWidth, kHeight);
    chart.show();
    chart.Refresh(true);
    BareDraw bare;

    const int ticks = sc.points >= 1000000 ? 20 : sc.points >= 100000 ? 30 : 60;
    long next = sc.points;
    auto t0 = Clock::now();
    for (int k = 0; k < ticks; ++k, ++next) {
        const double now = kStart + next * kStep;
        model.TrimOldPoints(now);
        model.AddMeasurementPoint(now, PressureAt(next));
        for (int g = 1; g < sc.gauges; ++g)
            model.AddGaugeReading(g, now, GaugePressureAt(g, next), "");
        chart.Refresh(true);
    }
    const double chartMs =
        std::chrono::duration<double, std::milli>(Clock::now() - t0).count() / ticks;
    t0 = Clock::now();
    for (int k = 0; k < ticks; ++k) {
        const auto& t = model.TimeAxis();
        for (int g = 0; g < sc.gauges; ++g)
            bare.Draw(model.GaugePoints(g), t.Min(), t.Max(), 1e-4, 2e-3, sc.log, g == 0);
    }
    const double bareMs =
        std::chrono::duration<double, std::milli>(Clock::now() - t0).count() / ticks;
    return {chartMs, bareMs};
}

// The median live tick (trim + add + repaint) over a whole day in view, with automatic
// scaling or with the manual range: the scaling must come from the thinning's own pass.
double MedianDayTick(bool autoScale) {
    constexpr long kPoints = 172800;
    TChartModel model(kStart);
    model.TWindow = kPoints * kStep;
    for (long i = 0; i < kPoints; ++i)
        model.Points().Add(kStart + i * kStep, PressureAt(i));
    model.TrackSpan = -(kPoints * kStep);
    model.timeSlider = {610, 0, 610};
    model.ViewEnd = kStart + kPoints * kStep;
    model.ApplyTimeSlider();
    model.SetAutoScale(autoScale);
    // The manual range where the automatic one lies, so that both draw the same line.
    if (!autoScale) model.PressureAxis().SetBoth(4.5e-4, 1.6e-3);
    TPressureChart chart(model);
    chart.resize(kWidth, kHeight);
    chart.show();
    chart.Refresh(true);
    std::vector<double> ms;
    long next = kPoints;
    for (int k = 0; k < 200; ++k, ++next) {
        const double now = kStart + next * kStep;
        const auto t0 = Clock::now();
        model.TrimOldPoints(now);
        model.AddMeasurementPoint(now, PressureAt(next));
        chart.Refresh(true);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::nth_element(ms.begin(), ms.begin() + 100, ms.end());
    return ms[100];
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The application object took the regional number format: figures are printed with '.'.
    vg57::platform::UseCNumbers();
    // "live": only the live tick of one gauge against four's, thirty rounds, for a profiler;
    // VG57_BENCH_GAUGES=1 or 4 runs that side alone.
    if (argc > 1 && std::string_view(argv[1]) == "live") {
        const char* only = std::getenv("VG57_BENCH_GAUGES");
        double live1 = 0, live4 = 0;
        for (int round = 0; round < 30; ++round) {
            if (!only || only[0] == '1') live1 += MeasureTick({1200, false, false, 1}).first / 30;
            if (!only || only[0] == '4') live4 += MeasureTick({1200, false, false, 4}).first / 30;
        }
        std::printf("figure: chart_live_1gauge_ms %.3f ms\n", live1);
        std::printf("figure: chart_live_4gauges_ms %.3f ms\n", live4);
        if (!only) std::printf("figure: chart_live_4gauges_ratio %.2f x\n", live4 / live1);
        return 0;
    }

    for (bool wholeDay : {false, true}) {
        for (bool log : {false, true}) {
            for (long n : {1200L, 20000L, 172800L}) {
                const auto [chart, bare] = MeasureTick({n, wholeDay, log});
                const char* view = wholeDay ? "day" : "live";
                std::printf("%-4s %-3s %6ld points: chart %.3f ms, bare %.3f ms per tick\n", view,
                            log ? "log" : "lin", n, chart, bare);
                std::printf("figure: chart_%s_%s_%ld_ms %.3f ms\n", view, log ? "log" : "lin", n,
                            chart);
                std::printf("figure: chart_%s_%s_%ld_ratio %.2f x\n", view, log ? "log" : "lin", n,
                            chart / bare);
                if (log && n == 172800)
                    std::printf("figure: chart_%s_172800_ratio %.2f x\n", view, chart / bare);
            }
        }
    }

    // Four gauges: a whole day of each in view against the bare bound for the same points, and
    // the live tick against one gauge's, alternately.
    const auto [day4, bare4] = MeasureTick({172800, true, false, 4});
    std::printf("figure: chart_day_4gauges_172800_ms %.3f ms\n", day4);
    std::printf("figure: chart_day_4gauges_172800_ratio %.2f x\n", day4 / bare4);
    double live1 = 0, live4 = 0;
    for (int round = 0; round < 3; ++round) {
        live1 += MeasureTick({1200, false, false, 1}).first / 3;
        live4 += MeasureTick({1200, false, false, 4}).first / 3;
    }
    std::printf("figure: chart_live_1gauge_ms %.3f ms\n", live1);
    std::printf("figure: chart_live_4gauges_ms %.3f ms\n", live4);
    std::printf("figure: chart_live_4gauges_ratio %.2f x\n", live4 / live1);

    // A week and a month in view, alternately, so that both see the same load of the machine.
    constexpr long kWeek = 7 * 172800L, kMonth = 30 * 172800L;
    double weekMs = 0, monthMs = 0;
    for (int round = 0; round < 2; ++round) {
        weekMs += MeasureTick({kWeek, true, false}).first / 2;
        monthMs += MeasureTick({kMonth, true, false}).first / 2;
    }
    std::printf("figure: chart_week_in_view_ms %.3f ms\n", weekMs);
    std::printf("figure: chart_month_in_view_ms %.3f ms\n", monthMs);
    std::printf("figure: chart_month_week_ratio %.2f x\n", monthMs / weekMs);

    // Automatic scaling over a day in view against the manual range, alternately, so that both
    // see the same load of the machine.
    double withAuto = 0, withoutAuto = 0;
    for (int round = 0; round < 2; ++round) {
        withoutAuto += MedianDayTick(false) / 2;
        withAuto += MedianDayTick(true) / 2;
    }
    std::printf("figure: chart_autoscale_visible_172800_ms %.3f ms\n", withAuto);
    std::printf("figure: chart_manual_visible_172800_ms %.3f ms\n", withoutAuto);
    std::printf("figure: chart_autoscale_visible_172800_ratio %.2f x\n", withAuto / withoutAuto);

    // Loading a day of points and drawing them; memory above an empty chart.
    TChartModel model(kStart);
    TPressureChart chart(model);
    chart.resize(kWidth, kHeight);
    chart.show();
    chart.Refresh(true);
    const double emptyMiB = RssMiB();
    std::vector<double> xs(172800), ys(172800);
    for (long i = 0; i < 172800; ++i) {
        xs[i] = kStart + i * kStep;
        ys[i] = PressureAt(i);
    }
    const auto t0 = Clock::now();
    model.Points().Assign(xs, ys);
    model.LoadedView = true;
    model.ViewStart = xs.front();
    model.ViewEnd = xs.back();
    model.ApplyTimeSlider();
    model.UpdateAutomaticRange();
    chart.Refresh(true);
    const double loadMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    xs = {};
    ys = {};
    std::printf("figure: chart_load_172800_ms %.1f ms\n", loadMs);
    std::printf("figure: chart_mem_172800_mib %.1f MiB\n", RssMiB() - emptyMiB);
    // A month loaded: the chart's memory per reading beyond the 64 MiB allowed in any case.
    {
        const double before = RssMiB();
        std::vector<double> mx(kMonth), my(kMonth);
        for (long i = 0; i < kMonth; ++i) {
            mx[i] = kStart + i * kStep;
            my[i] = PressureAt(i);
        }
        model.LoadArchive(std::move(mx), std::move(my), kStart, kStart + kMonth * kStep);
        chart.Refresh(true);
        const double mib = RssMiB() - before;
        std::printf("figure: chart_mem_month_mib %.1f MiB\n", mib);
        std::printf("figure: chart_mem_month_bytes_per_point %.1f B\n",
                    std::max(0.0, mib - 64) * 1024 * 1024 / kMonth);
    }
    std::printf("figure: chart_peak_rss_mib %.1f MiB\n", PeakRssMiB());
    return 0;
}
