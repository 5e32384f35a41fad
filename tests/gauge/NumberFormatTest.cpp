#include "NumberFormat.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

namespace vg57 {
namespace {

struct FormatCase {
    long double value;
    const char* text;
};

TEST(FormatGeneral, followsTheGeneralNumberFormat) {
    const FormatCase cases[] = {
        {0.0L, "0"},
        {-0.0L, "0"},
        {760.0L, "760"},
        {0.0012L, "0.0012"},
        {1.2e-5L, "1.2E-5"},
        {5e20L, "5E20"},
        {-5e20L, "-5E20"},
        {-0.25L, "-0.25"},
        {0.0001L, "0.0001"},                     // lowest plain value
        {0.00009999L, "9.999E-5"},               // just below it
        {999999999999999.0L, "999999999999999"}, // highest plain value
        {1e15L, "1E15"},
        {1.5e-10L, "1.5E-10"},
        {1.0L / 3.0L, "0.333333333333333"}, // 15 significant digits
        {2.0L / 3.0L * 1e-7L, "6.66666666666667E-8"},
        {9.9999999999999999L, "10"},  // rounding carries into the next digit
        {999999999999999.9L, "1E15"}, // ... and across the plain range's end
        {100.0L, "100"},
        {123456.5L, "123456.5"},
        {1e-4000L, "1E-4000"}, // extended precision reaches far
        {std::numeric_limits<long double>::infinity(), "INF"},
        {-std::numeric_limits<long double>::infinity(), "-INF"},
        {std::numeric_limits<long double>::quiet_NaN(), "NAN"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatGeneral(c.value), c.text) << (double)c.value;
}

TEST(FormatGeneral, ignoresTheRegionalDecimalComma) {
    const char* previous = std::setlocale(LC_NUMERIC, "ru_RU.UTF-8");
    if (!previous) GTEST_SKIP() << "the ru_RU locale is not installed";
    EXPECT_EQ(FormatGeneral(0.0025L), "0.0025");
    EXPECT_EQ(ParseNumber("0.0025"), 0.0025L);
    EXPECT_EQ(ParseNumber("0,0025"), std::nullopt);
    std::setlocale(LC_NUMERIC, "C");
}

struct ParseCase {
    const char* text;
    std::optional<long double> value;
    bool tooLarge = false; // a number, but none the type holds
};

TEST(ParseNumber, acceptsOnlyAWholeNumber) {
    const ParseCase cases[] = {
        {"760", 760.0L},
        {"  1.2e-3", 0.0012L},
        {"+5.0E+4", 50000.0L},
        {"-2", -2.0L},
        {"5.", 5.0L},
        {".5", 0.5L},
        {"1E5", 1e5L},
        {"0", 0.0L},
        {"1e-5000", 0.0L}, // too small to hold: zero
        {"", std::nullopt},
        {"   ", std::nullopt},
        {".", std::nullopt},
        {"-", std::nullopt},
        {"1,5", std::nullopt},
        {"1.5 ", std::nullopt},
        {"1.5x", std::nullopt},
        {"1e", std::nullopt},
        {"1e+", std::nullopt},
        {"e5", std::nullopt},
        {"1.2.3", std::nullopt},
        {"--1", std::nullopt},
        {"0x10", std::nullopt},
        {"inf", std::nullopt},
        {"nan", std::nullopt},
        {"1.Ae-3", std::nullopt},       // a set point label built from a reply with a letter
        {"1e5000", std::nullopt, true}, // too large to hold
        {"-1e5000", std::nullopt, true},
        {"1e5000x", std::nullopt},
        {"\t1", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseNumber(c.text), c.value) << '"' << c.text << '"';
        TNumberFault fault{};
        EXPECT_EQ(ParseNumber(c.text, fault), c.value) << '"' << c.text << '"';
        const auto expected = c.value      ? TNumberFault::none
                              : c.tooLarge ? TNumberFault::tooLarge
                                           : TNumberFault::notANumber;
        EXPECT_EQ(fault, expected) << '"' << c.text << '"';
    }
}

TEST(ParseNumber, readsBackWhatFormatGeneralWrote) {
    for (long double v : {0.0012L, 1.2e-5L, 5e20L, -760.25L, 1.0L / 3.0L, 9.9e9L}) {
        const auto back = ParseNumber(FormatGeneral(v));
        ASSERT_TRUE(back.has_value());
        EXPECT_LE(std::fabs(*back - v), std::fabs(v) * 1e-14L) << FormatGeneral(v);
    }
}

} // namespace
} // namespace vg57
