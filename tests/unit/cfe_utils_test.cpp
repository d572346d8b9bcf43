#include <gtest/gtest.h>

#include "cfe_utils.h"

TEST(Convergents, RatioOfTwoRates) {
    ConvergentList list;
    ASSERT_EQ(calculate_cfe_convergents(48000.0 / 44100.0, 65535, &list.items, &list.count),
              STATUS_SUCCESS);
    ASSERT_EQ(list.count, 5);
    EXPECT_EQ(list.items[4].p, 160);
    EXPECT_EQ(list.items[4].q, 147);
}
