#include "server/full/host_forwarder.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(SegmentsWrapper, HandsOutTheHostsValuesInWireOrder) {
    std::vector<store::Server::Segment> segments{{{10, 20, 30}}, {{1, 2, 3}}};
    store::SegmentsWrapper wrapper(&segments);
    ASSERT_EQ(wrapper.segmentCount(), 2);
    EXPECT_EQ(wrapper.value1(0), 20u);
    EXPECT_EQ(wrapper.value2(0), 10u);
    EXPECT_EQ(wrapper.value3(0), 30u);
    EXPECT_EQ(wrapper.value1(1), 2u);

    EXPECT_EQ(store::SegmentsWrapper(nullptr).segmentCount(), 0);
}

}  // namespace
