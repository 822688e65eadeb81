#include "tools/client/configure_client.h"

#include <gtest/gtest.h>

namespace fyclient {
namespace {

std::optional<MaskTable> decode(const std::vector<uint8_t>& bytes) { return decodeMaskTable(bytes.data(), bytes.size()); }

TEST(MaskTable, EncodesTheServerLayout) {
    EXPECT_EQ(encodeMaskTable({}), (std::vector<uint8_t>{0x00, 0x00}));
    EXPECT_EQ(encodeMaskTable({{}}), (std::vector<uint8_t>{0x00, 0x01, '$'}));
    std::vector<uint8_t> one = encodeMaskTable({{{1.0f, 2.0f, 0.5f}}});
    std::vector<uint8_t> expected{0x00, 0x01, 'c', 0, 0, 0, 16, 0, 0, 0, 1,
                                  0x3f, 0x80, 0, 0, 0x40, 0x00, 0, 0, 0x3f, 0x00, 0, 0, '$'};
    EXPECT_EQ(one, expected);
}

TEST(MaskTable, RoundTripsSeveralCameras) {
    MaskTable table{{{10, 20, 3}, {256, 256, 100}}, {}, {{0.5f, 511.5f, 0}}};
    std::optional<MaskTable> back = decode(encodeMaskTable(table));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, table);
}

TEST(MaskTable, SkipsUnknownRecordsByTheirLength) {
    // Camera 0: an unknown 'z' record of 5 bytes, then a 'c' record with one mask.
    std::vector<uint8_t> bytes{0x00, 0x01, 'z', 0, 0, 0, 5, 9, 9, 9, 9, 9};
    std::vector<uint8_t> record = encodeMaskTable({{{1, 2, 3}}});
    bytes.insert(bytes.end(), record.begin() + 2, record.end());
    std::optional<MaskTable> table = decode(bytes);
    ASSERT_TRUE(table);
    ASSERT_EQ(table->size(), 1u);
    EXPECT_EQ((*table)[0], (std::vector<CircularMask>{{1, 2, 3}}));
}

TEST(MaskTable, RefusesTablesThatDoNotHoldWhatTheyAnnounce) {
    EXPECT_FALSE(decode({0x00}));
    EXPECT_FALSE(decode({0x00, 0x02, '$'}));   // two cameras, one terminated
    std::vector<uint8_t> full = encodeMaskTable({{{1, 2, 3}}});
    for (size_t cut = 3; cut < full.size(); ++cut) {
        EXPECT_FALSE(decode(std::vector<uint8_t>(full.begin(), full.begin() + static_cast<long>(cut)))) << cut;
    }
    // A record length shorter than the masks it carries.
    std::vector<uint8_t> shortLength = full;
    shortLength[6] = 4;
    EXPECT_FALSE(decode(shortLength));
    // A mask count far beyond the bytes.
    std::vector<uint8_t> hugeCount = full;
    hugeCount[7] = 0x7f;
    EXPECT_FALSE(decode(hugeCount));
}

}  // namespace
}  // namespace fyclient
