#include "protocol/frames/centroid_store.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

using namespace RyStoreProtocol;

namespace {

std::vector<GlobRecord> randomRecords(size_t count, std::mt19937& random) {
    std::uniform_real_distribution<float> coordinate(0.0f, 512.0f);
    std::vector<GlobRecord> records(count);
    for (GlobRecord& record : records) {
        record.x = coordinate(random);
        record.y = coordinate(random);
        record.flags = static_cast<uint16_t>(random());
    }
    return records;
}

// The compact form as toFixedPoint() gives it, one coordinate at a time.
std::vector<uint8_t> compactOneByOne(const std::vector<GlobRecord>& records) {
    std::vector<uint8_t> out;
    for (const GlobRecord& record : records) {
        for (float coordinate : {record.x, record.y}) {
            uint16_t value = toFixedPoint(coordinate);
            out.push_back(static_cast<uint8_t>(value >> 8));
            out.push_back(static_cast<uint8_t>(value));
        }
    }
    return out;
}

std::vector<uint8_t> compactWhole(const std::vector<GlobRecord>& records) {
    // One byte past the end must stay untouched.
    std::vector<uint8_t> out(records.size() * 4 + 1, 0xA5);
    uint8_t* end = storeCompactCentroids(out.data(), records.data(), static_cast<int>(records.size()));
    EXPECT_EQ(end, out.data() + records.size() * 4);
    EXPECT_EQ(out.back(), 0xA5);
    out.pop_back();
    return out;
}

}  // namespace

TEST(CompactCentroids, WholeListsMatchTheOneByOneConversionAtEveryLengthAndPlaceOfAnOddValue) {
    std::mt19937 random(11);
    const float odd[] = {-0.001f, -1.0f, 16777216.0f, 33554436.0f, std::numeric_limits<float>::infinity(),
                         std::numeric_limits<float>::quiet_NaN(), 1e30f};
    for (size_t length = 0; length <= 11; ++length) {
        std::vector<GlobRecord> records = randomRecords(length, random);
        ASSERT_EQ(compactWhole(records), compactOneByOne(records)) << length;
        // One coordinate outside the range every other one is in, at every place of the list.
        for (size_t place = 0; place < length; ++place) {
            for (float value : odd) {
                std::vector<GlobRecord> withOdd = records;
                (place % 2 == 0 ? withOdd[place].x : withOdd[place].y) = value;
                ASSERT_EQ(compactWhole(withOdd), compactOneByOne(withOdd)) << length << " " << place << " " << value;
            }
        }
    }
    // Every half unit of 1/128 and the float just below it, the edges of the display and of the
    // direct range, a long list.
    std::vector<GlobRecord> edges(2000);
    for (size_t i = 0; i < edges.size(); ++i) {
        edges[i].x = static_cast<float>(i) / 256.0f;
        edges[i].y = std::nextafter(edges[i].x, 0.0f);
    }
    edges[5].x = 512.0f;  // wraps to 0
    edges[7].y = 16777215.0f;
    edges[8].x = -0.0f;
    EXPECT_EQ(compactWhole(edges), compactOneByOne(edges));
    // Short runs of them, so that each value is also converted after the last group of four.
    for (size_t start = 0; start < 16; ++start) {
        std::vector<GlobRecord> run(edges.begin() + static_cast<long>(start), edges.begin() + static_cast<long>(start) + 7);
        ASSERT_EQ(compactWhole(run), compactOneByOne(run)) << start;
    }
}

TEST(FullCentroids, FloatsAndFlagsBigEndian) {
    std::mt19937 random(5);
    for (size_t length : {0u, 1u, 3u, 200u}) {
        std::vector<GlobRecord> records = randomRecords(length, random);
        std::vector<uint8_t> out(length * 10);
        EXPECT_EQ(storeFullCentroids(out.data(), records.data(), static_cast<int>(length)), out.data() + out.size());
        for (size_t i = 0; i < length; ++i) {
            const uint8_t* at = out.data() + i * 10;
            uint32_t x, y;
            std::memcpy(&x, &records[i].x, 4);
            std::memcpy(&y, &records[i].y, 4);
            EXPECT_EQ((uint32_t(at[0]) << 24 | uint32_t(at[1]) << 16 | uint32_t(at[2]) << 8 | at[3]), x);
            EXPECT_EQ((uint32_t(at[4]) << 24 | uint32_t(at[5]) << 16 | uint32_t(at[6]) << 8 | at[7]), y);
            EXPECT_EQ((at[8] << 8 | at[9]), records[i].flags);
        }
    }
}
