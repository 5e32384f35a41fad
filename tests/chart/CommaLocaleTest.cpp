// Numbers under a locale whose decimal separator is a comma. The Qt application object has set
// the C library's locale from the environment by the time these run, as in the program.
#include "ChartArea.h"
#include "ChartLabels.h"
#include "DateTime.h"
#include "Numbers.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace vg57;

namespace {

// Switches the whole C locale to Russian for the test's lifetime.
class RussianLocale : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = std::setlocale(LC_ALL, nullptr);
        if (!std::setlocale(LC_ALL, "ru_RU.UTF-8"))
            GTEST_SKIP() << "ru_RU.UTF-8 is not installed (the install step generates it)";
        char probe[16];
        std::snprintf(probe, sizeof probe, "%.1f", 0.5);
        ASSERT_STREQ(probe, "0,5") << "the locale must really use a comma";
    }
    void TearDown() override { std::setlocale(LC_ALL, saved_.c_str()); }

private:
    std::string saved_;
};

} // namespace

TEST_F(RussianLocale, pressureLabelsKeepTheirPoint) {
    struct Row {
        double value;
        const char* label;
    } const rows[] = {
        {120000, "1.2E5"}, {0.00125, "1.25E-3"}, {1.23456e-7, "1.235E-7"},
        {-2500, "-2.5E3"}, {9.9996, "1E1"},      {1e-300, "1E-300"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(FormatPressureLabel(r.value), r.label) << r.value;
}

TEST_F(RussianLocale, theChartsTickLabelsKeepTheirPoint) {
    const double now = MakeDateTime(2026, 12, 7, 10, 0, 0);
    TChartModel model(now);
    TChartArea area(model);
    area.show();
    for (int i = 0; i < 10; ++i)
        model.AddMeasurementPoint(now + i * kOneSecond, 1.5 + i * 0.25);
    area.Chart1()->Refresh(true);
    const QVector<QString> labels = area.Chart1()->yAxis->tickVectorLabels();
    ASSERT_FALSE(labels.isEmpty());
    for (const QString& l : labels)
        EXPECT_FALSE(l.contains(QLatin1Char(','))) << l.toStdString();
}

TEST_F(RussianLocale, usingCNumbersRestoresThePointForTheCLibraryAndQt) {
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    ASSERT_EQ(QLocale().toString(0.5), QStringLiteral("0,5")) << "Qt follows the Russian default";
    platform::UseCNumbers();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3E", 120000.0);
    EXPECT_STREQ(buf, "1.200E+05");
    EXPECT_EQ(std::strtod("1.5", nullptr), 1.5);
    EXPECT_EQ(QLocale().toString(0.5), QStringLiteral("0.5"));
    EXPECT_STREQ(std::setlocale(LC_TIME, nullptr), "ru_RU.UTF-8")
        << "only the numbers change; dates and texts keep the operator's settings";
}
