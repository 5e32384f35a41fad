#include "Codec.h"
#include "NumberFormat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vg57 {
namespace {

struct DecodeCase {
    const char* chars;
    long double value;
};

TEST(DecodeNumber, computesFromCharacterCodes) {
    const DecodeCase cases[] = {
        {"2503", 0.0025L},  {"1203", 0.0012L}, {"5014", 50000.0L},
        {"1000", 1.0L}, // exponent 0 with a negative sign
        {"1010", 1.0L},     {"9919", 9.9e9L},  {"1009", 1e-9L},
        {"0010", 0.0L},     {"25+3", 2500.0L}, // any sign character but '0' is positive
        {" 503", -0.0155L},                    // a blank units digit: (-16 + 0.5) * 10^-3
        {"100Z", 1e-42L},                      // 'Z' is exponent digit 42
    };
    for (const auto& c : cases) {
        const long double v = DecodeNumber(c.chars);
        EXPECT_LE(std::fabs(v - c.value), std::fabs(c.value) * 1e-18L) << c.chars;
    }
    // The everyday values come out as exactly as extended precision holds them.
    EXPECT_EQ(DecodeNumber("2503"), 25.0L / 10000.0L);
    EXPECT_EQ(FormatGeneral(DecodeNumber("2503")), "0.0025");
}

TEST(DecodeDigitNumber, refusesAnythingButDigitsWhereDigitsBelong) {
    for (const char* bad : {" 503", "2 03", "250Z", "2.03", "-503", "25-"})
        EXPECT_EQ(DecodeDigitNumber(bad), std::nullopt) << bad;
    EXPECT_EQ(DecodeDigitNumber("25Z3"), DecodeNumber("2513")) << "the sign is free";
}

struct EncodeCase {
    long double value;
    const char* chars; // nullptr: not writable
};

TEST(EncodeNumber, roundsToTwoDigitsAndRefusesWhatFourCharactersCannotHold) {
    const EncodeCase cases[] = {
        {0.0L, "0010"},
        {-0.0L, "0010"},
        {0.0012L, "1203"},
        {50000.0L, "5014"},
        {0.0025L, "2503"},
        {1.25L, "1310"}, // half away from zero, although 1.25 is a binary tie
        {0.125L, "1301"},
        {1.249L, "1210"},
        {9.96L, "1011"},     // the carry moves the exponent
        {9.9e9L, "9919"},    // largest
        {9.94e9L, "9919"},   // rounds down into range
        {1e-9L, "1009"},     // smallest
        {9.95e-10L, "1009"}, // rounds up into range
        {9.96e9L, nullptr},  // rounds to 1.0E10
        {9.4e-10L, nullptr},
        {1e-12L, nullptr},
        {5e20L, nullptr},
        {-2.0L, nullptr},
        {-1e-5L, nullptr},
        {std::numeric_limits<long double>::infinity(), nullptr},
        {std::numeric_limits<long double>::quiet_NaN(), nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsWritableSetPoint(c.value), c.chars != nullptr) << (double)c.value;
        if (c.chars) {
            EXPECT_EQ(EncodeNumber(c.value), c.chars) << (double)c.value;
        }
    }
}

TEST(EncodeNumber, everyWritableCodeReadsBackAsItself) {
    for (int e = 0; e <= 9; ++e)
        for (int m = 10; m <= 99; m += 1)
            for (char s : {'0', '1'}) {
                const std::string chars = {char('0' + m / 10), char('0' + m % 10), s,
                                           char('0' + e)};
                if (e == 0 && s == '0') continue; // "10" and "00" mean the same exponent 0
                EXPECT_EQ(EncodeNumber(DecodeNumber(chars)), chars);
            }
}

TEST(SetPointText, isBuiltFromTheFourCharacters) {
    EXPECT_EQ(SetPointText("1203"), "1.2e-3");
    EXPECT_EQ(SetPointText("5014"), "5.0e+4");
    EXPECT_EQ(SetPointText("50Z4"), "5.0e+4");
    EXPECT_EQ(SetPointText("1A03"), "1.Ae-3");
    EXPECT_EQ(ParseNumber(SetPointText("1203")), 0.0012L);
}

TEST(UnitName, namesTheThreeCodesOnly) {
    EXPECT_EQ(UnitName("0001"), "Па");
    EXPECT_EQ(UnitName("0002"), "Торр");
    EXPECT_EQ(UnitName("0003"), "мбар");
    for (const char* other : {"0000", "0004", "001", "00010", "", "1"})
        EXPECT_EQ(UnitName(other), "") << other;
}

} // namespace
} // namespace vg57
