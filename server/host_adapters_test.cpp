#include "server/host_adapters.h"

#include <gtest/gtest.h>

#include <vector>

#include "server/glob_frame.h"

namespace {

std::vector<int> asVector(const LuDArray<int>& list) { return std::vector<int>(list.begin(), list.end()); }

TEST(SortedMember, StaysAscendingWithoutDuplicatesWhateverTheOrderOfChanges) {
    LuDArray<int> cameras;
    for (int camera : {3, 1, 7, 3, 0, 7}) store::setSortedMember(cameras, camera, true);
    EXPECT_EQ(asVector(cameras), (std::vector<int>{0, 1, 3, 7}));
    store::setSortedMember(cameras, 3, false);
    store::setSortedMember(cameras, 5, false);
    store::setSortedMember(cameras, 7, false);
    EXPECT_EQ(asVector(cameras), (std::vector<int>{0, 1}));
    store::setSortedMember(cameras, 0, false);
    store::setSortedMember(cameras, 1, false);
    EXPECT_TRUE(cameras.isEmpty());
}

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

TEST(HostText, KeepsEveryByteOfTheHostsString) {
    std::string name("cam\0era", 7);
    LuStr text = store::toLuStr(name);
    EXPECT_EQ(text.length(), 7);
    EXPECT_EQ(text.str(), name);
}

}  // namespace
