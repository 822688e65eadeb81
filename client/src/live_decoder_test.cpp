#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "frameyard/client/decoders.h"
#include "frameyard/client/error.h"
#include "frameyard/client/requests.h"

#include "byte_test_support.h"

namespace frameyard {
namespace {

TEST(LiveRequests, AreTheBytesTheServerReads) {
    Bytes commands = Bytes{static_cast<uint8_t>(SessionKind::liveFeatures)} + encodeSelectCamera(1) +
                     encodeImages(true) + encodeAcknowledge() + encodeThreshold(0, 300) + encodeDeselectCamera() +
                     encodeMessage("\"a\"");
    EXPECT_EQ(std::string(commands.begin(), commands.end()),
              std::string("fc\x00\x01i\x01i\x02t\x00\x00\x01\x2c" "c\xff\xffm\x00\x00\x00\x03\"a\"", 24));
}

TEST(LiveDecoder, FramesAndMessagesOnlyWhenWhole) {
    // A frame with timecode and a 3 x 1 image, then one without a header, then a message.
    Bytes first{0xFF, 0xFF, 10, 't', 1, 2, 3, 4, 'i', 0, 3, 0, 1, 7, 8, 9, 0, 1, 0, 10, 0, 20, 0, 30};
    Bytes stream = first + Bytes{0, 0} + Bytes{0xFF, 0xFF, 1, 'm', 0, 0, 0, 2, '[', ']'};
    LiveDecoder decoder;
    LiveItem item;
    for (size_t cut = 0; cut < first.size(); ++cut) {
        EXPECT_EQ(decoder.decode(stream.data(), cut, item), 0u) << "a frame cut at " << cut;
    }
    ASSERT_EQ(decoder.decode(stream.data(), stream.size(), item), first.size());
    ASSERT_EQ(item.kind, LiveItem::Kind::frame);
    ASSERT_TRUE(item.frame.timecode);
    EXPECT_EQ(*item.frame.timecode, (Timecode{1, 2, 3, 4}));
    ASSERT_TRUE(item.frame.image);
    EXPECT_EQ(item.frame.image->width, 3);
    EXPECT_EQ(item.frame.image->height, 1);
    EXPECT_EQ(item.frame.image->pixels, (std::vector<uint8_t>{7, 8, 9}));
    ASSERT_EQ(item.frame.segments.size(), 1u);
    EXPECT_EQ(item.frame.segments[0].value1, 10);
    EXPECT_EQ(item.frame.segments[0].value3, 30);

    size_t at = first.size();
    ASSERT_EQ(decoder.decode(stream.data() + at, stream.size() - at, item), 2u);
    ASSERT_EQ(item.kind, LiveItem::Kind::frame);
    EXPECT_FALSE(item.frame.timecode || item.frame.image);
    EXPECT_TRUE(item.frame.segments.empty());

    at += 2;
    ASSERT_EQ(decoder.decode(stream.data() + at, stream.size() - at, item), 10u);
    ASSERT_EQ(item.kind, LiveItem::Kind::message);
    EXPECT_EQ(item.message, "[]");
}

TEST(LiveDecoder, MalformedHeadersAreReported) {
    const std::vector<std::pair<Bytes, std::string>> cases{
        {{0xFF, 0xFF, 0}, "Invalid frame header."},
        {{0xFF, 0xFF, 3, 't', 1, 2}, "Corrupt frame header."},
        {{0xFF, 0xFF, 8, 't', 1, 2, 3, 4, 'i', 0, 1}, "Corrupt frame header."},
        {{0xFF, 0xFF, 2, 'x', 0}, "Corrupt frame header."},
        {{0xFF, 0xFF, 6, 't', 1, 2, 3, 4, 'm'}, "Corrupt frame header."},
        {{0xFF, 0xFF, 5, 't', 1, 2, 3, 4, 0xFF, 0xFF}, "a live-feature frame header followed by another header"},
    };
    for (const auto& entry : cases) {
        LiveDecoder decoder;
        LiveItem item;
        try {
            decoder.decode(entry.first.data(), entry.first.size(), item);
            ADD_FAILURE() << "no error for " << entry.second;
        } catch (const ProtocolError& e) {
            EXPECT_EQ(std::string(e.what()), entry.second);
        }
    }
}

}  // namespace
}  // namespace frameyard
