#include "tools/frameyard-stress/stream_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& out, uint16_t value) { fyclient::appendU16(out, value); }

// An untagged full-form frame with a timecode: two cameras, one centroid on the first.
Bytes frame(uint8_t frameNumber) {
    Bytes out{'t', 10, 20, 30, frameNumber};
    put16(out, 1);
    for (uint8_t byte : {0x43, 0x80, 0x00, 0x00, 0x43, 0x00, 0x00, 0x00, 0x00, 0x01}) out.push_back(byte);
    put16(out, 0);
    return out;
}

fyclient::RealtimeOptions timed(bool tagged = false) {
    fyclient::RealtimeOptions options;
    options.timecodes = true;
    options.tagged = tagged;
    return options;
}

}  // namespace

TEST(StreamScanner, CutsFramesAndMessagesAsTheirLastByteArrives) {
    stress::StreamScanner scanner(timed(), 2);
    std::string text = "[\"frame_rate\",100]";
    Bytes stream = frame(7);
    stream.push_back('m');
    fyclient::appendU32(stream, static_cast<uint32_t>(text.size()));
    stream.insert(stream.end(), text.begin(), text.end());
    Bytes second = frame(8);
    stream.insert(stream.end(), second.begin(), second.end());

    std::vector<fyclient::RealtimeItem> items;
    size_t start = 0;
    for (size_t end = 1; end <= stream.size(); ++end) {
        size_t used = 0;
        fyclient::RealtimeItem item;
        auto result = scanner.next(stream.data() + start, end - start, used, item);
        ASSERT_NE(result, stress::StreamScanner::Result::malformed) << "at byte " << end;
        if (result == stress::StreamScanner::Result::item) {
            EXPECT_EQ(start + used, end) << "an item is complete only with its last byte";
            items.push_back(item);
            start += used;
        }
    }
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].frame.timecode->at(3), 7);
    ASSERT_EQ(items[0].frame.cameras.size(), 2u);
    EXPECT_FLOAT_EQ(items[0].frame.cameras[0][0].x, 256.0f);
    EXPECT_TRUE(items[1].isMessage);
    EXPECT_EQ(items[1].message, text);
    EXPECT_EQ(items[2].frame.timecode->at(3), 8);
}

TEST(StreamScanner, TaggedFramesAndMalformedStreams) {
    stress::StreamScanner tagged(timed(true), 2);
    Bytes body = frame(3);
    Bytes stream{'f'};
    fyclient::appendU32(stream, static_cast<uint32_t>(body.size()));
    stream.insert(stream.end(), body.begin(), body.end());
    size_t used = 0;
    fyclient::RealtimeItem item;
    ASSERT_EQ(tagged.next(stream.data(), stream.size(), used, item), stress::StreamScanner::Result::item);
    EXPECT_EQ(used, stream.size());
    EXPECT_EQ(item.frame.cameras.size(), 2u);

    stream[0] = 'x';
    EXPECT_EQ(tagged.next(stream.data(), stream.size(), used, item), stress::StreamScanner::Result::malformed);
    // A body whose centroid count overruns it.
    Bytes overrun{'f', 0, 0, 0, 7, 't', 1, 2, 3, 4, 0, 9};
    EXPECT_EQ(tagged.next(overrun.data(), overrun.size(), used, item), stress::StreamScanner::Result::malformed);

    stress::StreamScanner untagged(timed(), 1);
    Bytes tooMany{'t', 1, 2, 3, 4, 0x07, 0xD1};   // 2001 centroids
    EXPECT_EQ(untagged.next(tooMany.data(), tooMany.size(), used, item), stress::StreamScanner::Result::malformed);
}

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
