#include "common/Sorting.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

using namespace merkanix;

TEST(Sorting, UpToTheLastIndexAndEqualsKeepTheirOrder) {
    std::int32_t values[3] = {3, 1, 2};
    SortIntegers(values, 1); // the last index is included, nothing past it
    EXPECT_EQ(std::vector<std::int32_t>(values, values + 3), (std::vector<std::int32_t>{1, 3, 2}));
    SortIntegers(values, 2);
    EXPECT_EQ(std::vector<std::int32_t>(values, values + 3), (std::vector<std::int32_t>{1, 2, 3}));
    // -0.0 and 0.0 compare equal: a stable sort keeps their order.
    double reals[4] = {0.0, 2.5, -0.0, -1.0};
    SortReals(reals, 3);
    EXPECT_EQ(reals[0], -1.0);
    EXPECT_FALSE(std::signbit(reals[1]));
    EXPECT_TRUE(std::signbit(reals[2]));
    EXPECT_EQ(reals[3], 2.5);
}
