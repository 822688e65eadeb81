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

TEST(HostText, KeepsEveryByteOfTheHostsString) {
    std::string name("cam\0era", 7);
    LuStr text = store::toLuStr(name);
    EXPECT_EQ(text.length(), 7);
    EXPECT_EQ(text.str(), name);
}

}  // namespace
