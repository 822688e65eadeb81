#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frameyard/client/decoders.h"
#include "frameyard/client/error.h"
#include "frameyard/client/requests.h"

namespace frameyard {
namespace {

std::optional<MaskTable> decode(const std::vector<uint8_t>& bytes) { return decodeMaskTable(bytes.data(), bytes.size()); }

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

TEST(ConfigureAnswers, FixedSizeAnswersAndSizedTexts) {
    std::vector<uint8_t> aspect{0x01, 0x00, 0x01, 0x00};
    AspectAnswer answer;
    EXPECT_EQ(decodeAspect(aspect.data(), 3, answer), 0u);
    ASSERT_EQ(decodeAspect(aspect.data(), aspect.size(), answer), 4u);
    EXPECT_EQ(answer.ratio(), 1.0);
    std::vector<uint8_t> thresholds{0x00, 0x02, 0x00, 0x80, 0x00, 0xFF};
    std::vector<int> values;
    EXPECT_EQ(decodeThresholds(thresholds.data(), 5, values), 0u);
    ASSERT_EQ(decodeThresholds(thresholds.data(), thresholds.size(), values), 6u);
    EXPECT_EQ(values, (std::vector<int>{128, 255}));
    std::vector<uint8_t> sized{0, 0, 0, 4, '"', 'o', 'k', '"'};
    std::string text;
    EXPECT_EQ(decodeSized(sized.data(), 7, text), 0u);
    ASSERT_EQ(decodeSized(sized.data(), sized.size(), text), 8u);
    EXPECT_EQ(text, "\"ok\"");
    // A length beyond the limit is refused before anything is allocated.
    std::vector<uint8_t> huge{0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_THROW(decodeSized(huge.data(), huge.size(), text), ProtocolError);
}

}  // namespace
}  // namespace frameyard
