#include "app/NumberText.h"
#include "app/Errors.h"

#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <limits>

using namespace merkanix;

namespace {
std::string ErrorOf(std::string_view text, char sep = ',') {
    try {
        ParseReal(text, sep);
    } catch (const ConversionError& e) {
        return e.what();
    }
    return "no error";
}
} // namespace

TEST(ParseReal, ReadsTheWindowsTextsInEitherSeparator) {
    EXPECT_EQ(ParseReal("327,5", ','), 327.5);
    EXPECT_EQ(ParseReal("327.5", ','), 327.5);
    EXPECT_EQ(ParseReal("327,5", '.'), 327.5);
    EXPECT_EQ(ParseReal("-46,0193228167378", ','), -46.0193228167378);
    EXPECT_EQ(ParseReal("  23 ", ','), 23.0);
    EXPECT_EQ(ParseReal("+1,5E-3", ','), 1.5e-3);
    EXPECT_EQ(ParseReal("2e2", ','), 200.0);
    EXPECT_EQ(ParseReal(",5", ','), 0.5);
    EXPECT_EQ(ParseReal("5,", ','), 5.0);
    EXPECT_EQ(ParseReal("1e-400", ','), 0.0);
    // Correctly rounded, as the settings must survive a save and a load.
    EXPECT_EQ(ParseReal("0,1", ','), 0.1);
}

TEST(ParseReal, RejectsEverythingElseWithTheUsersMessage) {
    EXPECT_EQ(ErrorOf("abc"), "'abc' is not a valid floating point value");
    EXPECT_EQ(ErrorOf(""), "'' is not a valid floating point value");
    for (const char* bad : {"1,2,3", "1.2,3", "--1", "1e", "1e+", "e5", ",", "-", "NAN", "INF",
                            "1 000", "12a", "1e400", "0x10", "1,5 5"})
        EXPECT_NE(ErrorOf(bad), "no error") << bad;
}

TEST(ParseInteger, ReadsDecimalDigitsAndRejectsTheRest) {
    EXPECT_EQ(ParseInteger("007"), 7);
    EXPECT_EQ(ParseInteger("2008"), 2008);
    EXPECT_EQ(ParseInteger("-12"), -12);
    EXPECT_EQ(ParseInteger("2147483647"), 2147483647);
    for (const char* bad : {"", "1a", "0,5", "2147483648", "99999999999999", "+", " ",
                            "1111111111111111111111111111111111111;9"}) {
        try {
            ParseInteger(bad);
            ADD_FAILURE() << bad;
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.what(), "'" + std::string(bad) + "' is not a valid integer value");
        }
    }
}

TEST(FormatGeneral, ShortestFormUpToFifteenDigits) {
    EXPECT_EQ(FormatGeneral(5146 / 21.0, '.'), "245.047619047619");
    EXPECT_EQ(FormatGeneral(491.0, ','), "491");
    EXPECT_EQ(FormatGeneral(0.1, ','), "0,1");
    EXPECT_EQ(FormatGeneral(-0.5, '.'), "-0.5");
    EXPECT_EQ(FormatGeneral(0.0, '.'), "0");
    EXPECT_EQ(FormatGeneral(1e-5, '.'), "0.00001");
    EXPECT_EQ(FormatGeneral(1.5e-6, '.'), "1.5E-6");
    EXPECT_EQ(FormatGeneral(1e20, '.'), "1E20");
    EXPECT_EQ(FormatGeneral(123456789012345.0, '.'), "123456789012345");
    EXPECT_EQ(FormatGeneral(1234567890123456.0, '.'), "1.23456789012346E15");
    EXPECT_EQ(FormatGeneral(0.30000000000000004, '.'), "0.3");
    EXPECT_EQ(FormatGeneral(999999999999999.9, '.'), "1E15");
    EXPECT_EQ(FormatGeneral(std::nan(""), '.'), "NAN");
    EXPECT_EQ(FormatGeneral(-std::numeric_limits<double>::infinity(), '.'), "-INF");
    // What the general form writes, the parser reads back.
    for (double v : {-46.0193228167378, 24.756501341982, 1.5e-6, 3.0839288e22})
        EXPECT_EQ(ParseReal(FormatGeneral(v, ','), ','), v);
}

TEST(FormatFixed, UsesTheSeparatorAndCRounding) {
    EXPECT_EQ(FormatFixed(0.0123, 4, ','), "0,0123");
    EXPECT_EQ(FormatFixed(-0.0045, 4, ','), "-0,0045");
    EXPECT_EQ(FormatFixed(12.5, 2, ','), "12,50");
    EXPECT_EQ(FormatFixed(2.5, 0, '.'), "2");
}

TEST(FormatRoundTrip, ReadsBackExactly) {
    for (double v : {0.1, -46.0193228167378, 1.0 / 3.0, 5e-324, 1.7976931348623157e308})
        EXPECT_EQ(std::strtod(FormatRoundTrip(v).c_str(), nullptr), v);
    EXPECT_EQ(FormatRoundTrip(-std::nan("")), "nan");
}
