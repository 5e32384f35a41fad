// The leak rate dialog offscreen: where it opens, the verdict against a limit, the baseline kept
// for the next test, the pressure waited for, and what it shows of a rise that is no leak.
#include "LeakRateDialog.h"
#include "PlaceBeside.h"
#include "SlopePlot.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <cmath>

using namespace vg57;

namespace {

TEST(PlaceBeside, theDialogLeavesThePlotInView) {
    const QRect screen(0, 0, 1920, 1080);
    const QSize frame(500, 600);
    const struct {
        const char* name;
        QRect plot;
        QPoint expected;
    } rows[] = {
        {"rightWhenThereIsRoom", {100, 100, 800, 600}, {908, 99}},
        {"leftWhenTheRightIsOffScreen", {1000, 200, 800, 600}, {492, 199}},
        {"belowWhenNeitherSideHasRoom", {200, 0, 1600, 400}, {749, 408}},
        // A maximised window: no place misses the plot, the least covered is taken, on screen.
        {"leastCoveredWhenNothingFits", {0, 0, 1700, 1000}, {1420, 199}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QPoint at = PlaceBeside(row.plot, frame, screen);
        EXPECT_EQ(at, row.expected);
        EXPECT_TRUE(screen.contains(QRect(at, frame)));
    }
}

// A leak of 2E-6 mbar/s read in two digits, 600 s at 0.5 s, 10 l unless changed.
TLeakReadings Rise(double (*p)(double)) {
    TLeakReadings r;
    for (int i = 0; i <= 1200; ++i) {
        const double v = p(i * 0.5);
        const double step = std::pow(10.0, std::floor(std::log10(v)) - 1);
        r.times.push_back(10.0 / 24 + i * 0.5 / 86400);
        r.pressures.push_back(std::round(v / step) * step);
    }
    r.unit = EPressureUnit::mbar;
    r.maxStep = 1e-4;
    return r;
}
double Leak(double t) {
    return 1e-3 + 2e-6 * t;
}

TEST(LeakDialog, limitBaselineAndThresholdAsTheEngineerSetsThem) {
    TLeakSession session;
    session.volumeLitres = 10;
    // Set points in mbar: 0 (off), one below the last reading, two above it.
    TLeakRateDialog d(Rise(Leak), "", session, {0, 1e-3, 5e-3, 3e-3});
    EXPECT_EQ(d.ThresholdEdit()->text(), "0.003"); // the lowest above 2.2E-3
    // From the line's 2.21E-3 at 2.0E-6 mbar/s: 6.6 min.
    EXPECT_TRUE(d.ShownText().contains(QStringLiteral("Время до 0.003 мбар: 6.6 мин")))
        << d.ShownText().toStdString();
    EXPECT_TRUE(d.ShownText().contains(QStringLiteral("Вывод: натекание")));
    // Q = 2E-5 mbar·l/s ± 30 %: within 1E-4, not within 2E-5.
    d.LimitEdit()->setText("1e-4");
    EXPECT_EQ(d.PassText(), QStringLiteral("Годен"));
    d.LimitEdit()->setText("2,0e-5");
    EXPECT_EQ(d.PassText(), QStringLiteral("Не годен"));
    d.LimitUnitBox()->setCurrentIndex(static_cast<int>(ELimitUnit::mbarPerHour));
    d.LimitEdit()->setText("7.3e-3"); // 7.2E-3 mbar/h and its uncertainty
    EXPECT_EQ(d.PassText(), QStringLiteral("Не годен"));
    d.LimitEdit()->setText("1e-2");
    EXPECT_EQ(d.PassText(), QStringLiteral("Годен"));
    // Uncertainties in two digits, in the gauge's exponent format.
    EXPECT_TRUE(d.ShownText().contains(QStringLiteral("± 6.2E-6 мбар·л/с")))
        << d.ShownText().toStdString();

    // Kept as the baseline, it is subtracted in the next test, not in its own.
    ASSERT_TRUE(d.KeepBaselineButton()->isEnabled());
    d.KeepBaselineButton()->click();
    EXPECT_FALSE(d.Result().netLeakRatePaM3s);
    const TLeakSession next = d.Session();
    EXPECT_NEAR(*next.baselinePaM3s, 2e-6, 2e-8); // two-digit readings
    ASSERT_TRUE(next.subtractBaseline);
    ASSERT_TRUE(next.limit);
    TLeakRateDialog second(Rise([](double t) { return 1e-3 + 3e-6 * t; }), "", next);
    ASSERT_TRUE(second.Result().netLeakRatePaM3s);
    EXPECT_NEAR(*second.Result().netLeakRatePaM3s, 1e-6, 4e-8);
    EXPECT_TRUE(second.SubtractBaselineBox()->isChecked());
    second.SubtractBaselineBox()->setChecked(false);
    EXPECT_FALSE(second.Result().netLeakRatePaM3s);
}

TEST(LeakDialog, aFallingPressureIsWarnedAndGivesNoLeakRate) {
    TLeakSession session;
    TLeakRateDialog d(Rise([](double t) { return 5e-3 - 5e-6 * t; }), "", session);
    const QString shown = d.ShownText();
    EXPECT_TRUE(shown.contains(QStringLiteral("Давление не растёт"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("\nQ: —"))) << shown.toStdString();
    EXPECT_FALSE(d.KeepBaselineButton()->isEnabled());
}

TEST(LeakDialog, outgassingShowsItsSlowingSlopeBesideTheLine) {
    TLeakSession session;
    TLeakRateDialog d(Rise([](double t) { return 1e-3 + 1e-3 * -std::expm1(-t / 150); }), "",
                      session);
    EXPECT_EQ(d.Result().rise.verdict, ELeakVerdict::outgassing);
    EXPECT_TRUE(d.ShownText().contains(QStringLiteral("Вывод: газовыделение")));
    const TSlopePlot* plot = d.SlopePlot();
    ASSERT_GE(plot->Windows()->dataCount(), 10);
    // dp/dt falls from window to window; the model's curve is drawn.
    EXPECT_GT(plot->Windows()->data()->at(0)->value,
              3 * plot->Windows()->data()->at(plot->Windows()->dataCount() - 1)->value);
    EXPECT_TRUE(plot->Model()->visible());
    EXPECT_GT(plot->Model()->dataCount(), 50);
}

} // namespace
