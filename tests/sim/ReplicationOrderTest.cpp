// Replications handed out to several processes come back in any order and
// are analysed strictly by number.
#include "sim/ReplicationOrder.h"

#include <gtest/gtest.h>

#include <vector>

TEST(ReplicationOrder, AnalysesInNumberOrderWhateverTheArrivalOrder) {
    ReplicationOrder order(10);
    for (long k = 0; k < 4; ++k) EXPECT_EQ(order.take(), k);
    std::vector<double> out;
    EXPECT_TRUE(order.arrive(2, {2.0}));
    EXPECT_TRUE(order.arrive(1, {1.0}));
    EXPECT_FALSE(order.next(out)) << "0 has not come back: 1 and 2 wait";
    EXPECT_EQ(order.waiting(), 2u);
    EXPECT_TRUE(order.arrive(0, {0.0}));
    for (double expected : {0.0, 1.0, 2.0}) {
        ASSERT_TRUE(order.next(out));
        EXPECT_EQ(out, std::vector<double>{expected});
    }
    EXPECT_FALSE(order.next(out));
    EXPECT_EQ(order.analysed(), 3);
    EXPECT_EQ(order.waiting(), 0u);
}

TEST(ReplicationOrder, HandsOutNoFurtherThanTheWindowAheadOfTheAnalysis) {
    ReplicationOrder order(3);
    EXPECT_EQ(order.take(), 0);
    EXPECT_EQ(order.take(), 1);
    EXPECT_EQ(order.take(), 2);
    EXPECT_EQ(order.take(), -1) << "a lagging replication 0 holds the others back";
    EXPECT_TRUE(order.arrive(2, {}));
    EXPECT_EQ(order.take(), -1);
    EXPECT_TRUE(order.arrive(0, {}));
    std::vector<double> out;
    EXPECT_TRUE(order.next(out));
    EXPECT_EQ(order.take(), 3);
    EXPECT_EQ(order.handedOut(), 4);
    EXPECT_EQ(ReplicationOrder(0).take(), 0) << "a window below 1 still lets one through";
}

TEST(ReplicationOrder, RefusesResultsItNeverHandedOutOrAlreadyHas) {
    ReplicationOrder order(5);
    order.take();
    order.take();
    EXPECT_FALSE(order.arrive(2, {})) << "never handed out";
    EXPECT_FALSE(order.arrive(-1, {}));
    EXPECT_TRUE(order.arrive(1, {1.0}));
    EXPECT_FALSE(order.arrive(1, {9.0})) << "a second copy";
    EXPECT_TRUE(order.arrive(0, {0.0}));
    std::vector<double> out;
    ASSERT_TRUE(order.next(out));
    EXPECT_FALSE(order.arrive(0, {})) << "already analysed";
    ASSERT_TRUE(order.next(out));
    EXPECT_EQ(out, std::vector<double>{1.0}) << "the first copy counts";
}
