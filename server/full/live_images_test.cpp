#include "server/full/live_images.h"

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

    // The block writer gives the same bytes, low 16 bits of each value.
    segments[1].values[2] = 0x12345;
    uint8_t block[12] = {};
    EXPECT_EQ(wrapper.storeSegments(block, 2), block + 12);
    const uint8_t expected[12] = {0, 20, 0, 10, 0, 30, 0, 2, 0, 1, 0x23, 0x45};
    EXPECT_EQ(std::vector<uint8_t>(block, block + 12), std::vector<uint8_t>(expected, expected + 12));
}

}  // namespace
