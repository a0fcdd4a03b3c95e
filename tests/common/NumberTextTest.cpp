#include "common/NumberText.h"

#include "common/Errors.h"
#include "support/TestFiles.h"

#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <limits>

using namespace merkanix;

using merkanix::testing::MessageOf;

TEST(ParseReal, ReadsEitherSeparatorWhateverTheUsersAndRejectsTheRest) {
    const std::pair<const char*, double> good[] = {
        {"327,5", 327.5}, {"327.5", 327.5},    {"-46,0193228167378", -46.0193228167378},
        {"  23 ", 23.0},  {"+1,5E-3", 1.5e-3}, {"2e2", 200.0},
        {",5", 0.5},      {"5,", 5.0},         {"1e-400", 0.0}, // underflow reads as zero
        {"0,1", 0.1}}; // correctly rounded: settings survive a save and a load
    for (const auto& [text, value] : good)
        for (const char separator : {',', '.'})
            EXPECT_EQ(ParseReal(text, separator), value) << text << " with " << separator;
    for (const char* bad : {"abc", "", "1,2,3", "1.2,3", "--1", "1e", "1e+", "e5", ",", "-", "NAN",
                            "INF", "1 000", "12a", "1e400", "0x10", "1,5 5"})
        EXPECT_EQ(MessageOf<ConversionError>([&] { ParseReal(bad, ','); }),
                  "'" + std::string(bad) + "' is not a valid floating point value");
}

TEST(ParseInteger, ReadsDecimalDigitsAndRejectsTheRest) {
    for (const auto& [text, value] :
         {std::pair{"007", 7}, {"2008", 2008}, {"-12", -12}, {"2147483647", 2147483647}})
        EXPECT_EQ(ParseInteger(text), value);
    for (const char* bad : {"", "1a", "0,5", "2147483648", "99999999999999", "+", " ",
                            "1111111111111111111111111111111111111;9"})
        EXPECT_EQ(MessageOf<ConversionError>([&] { ParseInteger(bad); }),
                  "'" + std::string(bad) + "' is not a valid integer value");
}

TEST(FormatGeneral, ShortestFormUpToFifteenDigitsThatReadsBack) {
    const std::tuple<double, char, const char*> cases[] = {
        {5146 / 21.0, '.', "245.047619047619"},
        {491.0, ',', "491"},
        {0.1, ',', "0,1"},
        {-0.5, '.', "-0.5"},
        {0.0, '.', "0"},
        {1e-5, '.', "0.00001"},
        {1.5e-6, '.', "1.5E-6"},
        {1e20, '.', "1E20"},
        {123456789012345.0, '.', "123456789012345"},
        {1234567890123456.0, '.', "1.23456789012346E15"},
        {0.30000000000000004, '.', "0.3"},
        {999999999999999.9, '.', "1E15"},
        {std::nan(""), '.', "NAN"},
        {-std::numeric_limits<double>::infinity(), '.', "-INF"}};
    for (const auto& [value, separator, text] : cases)
        EXPECT_EQ(FormatGeneral(value, separator), text);
    for (double v : {-46.0193228167378, 24.756501341982, 1.5e-6, 3.0839288e22})
        EXPECT_EQ(ParseReal(FormatGeneral(v, ','), ','), v);
}

TEST(FormatFixedAndRoundTrip, SeparatorCRoundingAndExactReadBack) {
    EXPECT_EQ(FormatFixed(0.0123, 4, ','), "0,0123");
    EXPECT_EQ(FormatFixed(-0.0045, 4, ','), "-0,0045");
    EXPECT_EQ(FormatFixed(12.5, 2, ','), "12,50");
    EXPECT_EQ(FormatFixed(2.5, 0, '.'), "2");
    for (double v : {0.1, -46.0193228167378, 1.0 / 3.0, 5e-324, 1.7976931348623157e308})
        EXPECT_EQ(std::strtod(FormatRoundTrip(v).c_str(), nullptr), v);
    EXPECT_EQ(FormatRoundTrip(-std::nan("")), "nan");
}
