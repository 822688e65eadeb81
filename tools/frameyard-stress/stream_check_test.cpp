#include "tools/frameyard-stress/stream_check.h"

#include <gtest/gtest.h>

TEST(SequenceCheck, CountsGapsAsLostAndRepeatsAsDisordered) {
    stress::SequenceCheck check(100);
    check.frame({10, 0, 0, 98});
    check.frame({10, 0, 0, 99});
    check.frame({10, 0, 1, 0});    // the next second
    check.frame({10, 0, 1, 3});    // two lost
    check.frame({10, 0, 1, 3});    // again
    check.frame({10, 0, 1, 2});    // late
    EXPECT_EQ(check.expected(), 6u);
    EXPECT_EQ(check.received(), 6u);
    EXPECT_EQ(check.lost(), 2u);
    EXPECT_EQ(check.disordered(), 2u);

    stress::SequenceCheck midnight(100);
    midnight.frame({23, 59, 59, 99});
    midnight.frame({0, 0, 0, 0});
    midnight.frame({0, 0, 0, 1});
    EXPECT_EQ(midnight.expected(), 3u);
    EXPECT_EQ(midnight.lost(), 0u);
    EXPECT_EQ(midnight.disordered(), 0u);
}

TEST(Latency, StampsReadAsTimeOfDayAndQuantilesComeFromTheHistogram) {
    EXPECT_DOUBLE_EQ(stress::stampSeconds({1, 2, 3, 50}, 100), 3723.5);
    EXPECT_NEAR(stress::secondsLate(3723.502, 3723.5), 0.002, 1e-9);
    EXPECT_NEAR(stress::secondsLate(0.001, 86399.999), 0.002, 1e-6);

    stress::LatencyHistogram histogram;
    EXPECT_EQ(histogram.quantile(0.5), 0.0);
    for (int ms = 1; ms <= 100; ++ms) histogram.add(ms / 1000.0);
    histogram.add(30.0);   // beyond the histogram's range: still the maximum
    EXPECT_EQ(histogram.count(), 101u);
    EXPECT_NEAR(histogram.quantile(0.5), 0.051, 2e-5);
    EXPECT_NEAR(histogram.quantile(0.99), 0.100, 2e-5);
    EXPECT_DOUBLE_EQ(histogram.max(), 30.0);
}
