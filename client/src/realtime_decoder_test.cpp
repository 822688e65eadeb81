#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "frameyard/client/decoders.h"
#include "frameyard/client/error.h"

#include "byte_test_support.h"

namespace frameyard {
namespace {

void put16(Bytes& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void put32(Bytes& out, uint32_t value) {
    put16(out, static_cast<uint16_t>(value >> 16));
    put16(out, static_cast<uint16_t>(value));
}

Bytes fullCentroid(float x, float y) {
    Bytes out;
    uint32_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    put32(out, bits);
    std::memcpy(&bits, &y, sizeof bits);
    put32(out, bits);
    put16(out, 1);
    return out;
}

Bytes tagged(char tag, const Bytes& body) {
    Bytes out{static_cast<uint8_t>(tag)};
    put32(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

// An untagged full-form frame with a timecode: two cameras, one centroid on the first.
Bytes timedFrame(uint8_t frameNumber) {
    Bytes out{'t', 10, 20, 30, frameNumber};
    put16(out, 1);
    Bytes centroid = fullCentroid(256, 128);
    out.insert(out.end(), centroid.begin(), centroid.end());
    put16(out, 0);
    return out;
}

RealtimeFormat streamingFormat(size_t cameras, bool timecodes, bool isTagged = false) {
    RealtimeFormat format;
    format.cameras = cameras;
    format.handshake = false;
    format.timecodes = timecodes;
    format.tagged = isTagged;
    return format;
}

TEST(RealtimeDecoder, HandshakeThenCompactFramesWithTimecodes) {
    RealtimeFormat format;
    format.cameras = 2;
    format.compact = true;
    RealtimeDecoder decoder(format);
    // The query, the start signal, then: timecode, camera 0 with (10.0, 20.5), camera 1 empty.
    Bytes stream{'t', 'r', 't', 1, 2, 3, 4, 0x00, 0x01, 0x05, 0x00, 0x0A, 0x40, 0x00, 0x00};
    RealtimeItem item;
    Frame frame;
    ASSERT_EQ(decoder.decode(stream.data(), stream.size(), item, frame), 1u);
    EXPECT_EQ(item.kind, RealtimeItem::Kind::timecodeQuery);
    decoder.setTimecodes(true);
    EXPECT_FALSE(decoder.streaming());
    ASSERT_EQ(decoder.decode(stream.data() + 1, stream.size() - 1, item, frame), 1u);
    EXPECT_EQ(item.kind, RealtimeItem::Kind::ready);
    EXPECT_TRUE(decoder.streaming());
    ASSERT_EQ(decoder.decode(stream.data() + 2, stream.size() - 2, item, frame), stream.size() - 2);
    ASSERT_EQ(item.kind, RealtimeItem::Kind::frame);
    ASSERT_TRUE(frame.timecode);
    EXPECT_EQ(*frame.timecode, (Timecode{1, 2, 3, 4}));
    ASSERT_EQ(frame.cameraCount(), 2u);
    ASSERT_EQ(frame.camera(0).size(), 1u);
    EXPECT_EQ(frame.camera(0)[0].x, 10.0f);
    EXPECT_EQ(frame.camera(0)[0].y, 20.5f);
    EXPECT_TRUE(frame.camera(1).empty());
}

// Untagged frames carry no length: an item is whole only with its last byte, and a monitor
// message between frames is told apart by its 'm'.
TEST(RealtimeDecoder, CutsUntaggedFramesAndMessagesAsTheirLastByteArrives) {
    RealtimeDecoder decoder(streamingFormat(2, true));
    std::string text = "[\"frame_rate\",100]";
    Bytes stream = timedFrame(7) + tagged('m', bytesOf(text)) + timedFrame(8);
    std::vector<RealtimeItem> items;
    std::vector<Frame> frames;
    size_t start = 0;
    for (size_t end = 1; end <= stream.size(); ++end) {
        RealtimeItem item;
        Frame frame;
        size_t used = decoder.decode(stream.data() + start, end - start, item, frame);
        if (used == 0) continue;
        EXPECT_EQ(start + used, end) << "an item is complete only with its last byte";
        items.push_back(item);
        frames.push_back(frame);
        start += used;
    }
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].kind, RealtimeItem::Kind::frame);
    EXPECT_EQ(frames[0].timecode->at(3), 7);
    ASSERT_EQ(frames[0].cameraCount(), 2u);
    EXPECT_FLOAT_EQ(frames[0].camera(0)[0].x, 256.0f);
    EXPECT_EQ(frames[0].camera(0)[0].flags, 1);
    EXPECT_EQ(items[1].kind, RealtimeItem::Kind::message);
    EXPECT_EQ(items[1].message, text);
    EXPECT_EQ(frames[2].timecode->at(3), 8);
}

TEST(RealtimeDecoder, TaggedStreamCarriesMessagesAndFramesOfAnyCameraCount) {
    RealtimeDecoder decoder(streamingFormat(1, false, true));
    Bytes body{0x00, 0x01};
    Bytes centroid = fullCentroid(1.5f, 2.5f);
    body.insert(body.end(), centroid.begin(), centroid.end());
    Bytes stream = tagged('m', bytesOf(R"(["x"])")) + tagged('f', body);
    RealtimeItem item;
    Frame frame;
    size_t used = decoder.decode(stream.data(), stream.size(), item, frame);
    ASSERT_EQ(used, 10u);
    ASSERT_EQ(item.kind, RealtimeItem::Kind::message);
    EXPECT_EQ(item.message, R"(["x"])");
    ASSERT_EQ(decoder.decode(stream.data() + used, stream.size() - used, item, frame), stream.size() - used);
    ASSERT_EQ(item.kind, RealtimeItem::Kind::frame);
    ASSERT_EQ(frame.cameraCount(), 1u);
    EXPECT_EQ(frame.camera(0)[0].x, 1.5f);
    EXPECT_EQ(frame.camera(0)[0].y, 2.5f);
}

TEST(RealtimeDecoder, ReportsBrokenStreams) {
    struct Case {
        const char* name;
        RealtimeFormat format;
        Bytes sent;
        const char* error;
    };
    RealtimeFormat handshake;
    handshake.cameras = 1;
    std::vector<Case> cases = {
        {"unknown tag", streamingFormat(1, false, true), {'x'}, "Unknown character 'x'"},
        {"no timecode query", handshake, {'r'}, "expected the timecode query"},
        {"too many centroids", streamingFormat(1, false), {0x07, 0xD1}, "2001 centroids"},
        {"too many centroids with a timecode", streamingFormat(1, true), {'t', 1, 2, 3, 4, 0x07, 0xD1}, "2001 centroids"},
        {"frame body ending inside a glob count", streamingFormat(1, false, true), {'f', 0, 0, 0, 3, 0, 0, 9},
         "cut short in camera 2"},
        {"glob list beyond its frame", streamingFormat(1, true, true), {'f', 0, 0, 0, 7, 't', 1, 2, 3, 4, 0, 9},
         "cut short"},
    };
    for (const Case& c : cases) {
        RealtimeDecoder decoder(c.format);
        RealtimeItem item;
        Frame frame;
        try {
            decoder.decode(c.sent.data(), c.sent.size(), item, frame);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const ProtocolError& error) {
            EXPECT_NE(std::string(error.what()).find(c.error), std::string::npos) << c.name << ": " << error.what();
        }
    }
}

TEST(FrameBody, DecodesEveryForm) {
    // Compact centroid (10.0, 20.5) is 05 00 0A 40.
    Bytes compact{0x00, 0x01, 0x05, 0x00, 0x0A, 0x40};
    RealtimeFormat format;
    format.compact = true;
    format.tagged = true;   // the body's own length decides the camera count
    Frame frame;
    decodeFrameBody(compact.data(), compact.size(), format, frame);
    ASSERT_EQ(frame.cameraCount(), 1u);
    EXPECT_EQ(frame.camera(0)[0].x, 10.0f);
    EXPECT_EQ(frame.camera(0)[0].y, 20.5f);
    // With a count the body must hold exactly that many lists.
    Bytes two{'t', 9, 8, 7, 6, 0x00, 0x00, 0x00, 0x00};
    RealtimeFormat counted = streamingFormat(2, true);
    decodeFrameBody(two.data(), two.size(), counted, frame);
    EXPECT_EQ(frame.cameraCount(), 2u);
    EXPECT_EQ((*frame.timecode)[0], 9);
    EXPECT_THROW(decodeFrameBody(two.data(), two.size(), streamingFormat(1, true), frame), ProtocolError);
    EXPECT_THROW(decodeFrameBody(two.data(), two.size(), streamingFormat(3, true), frame), ProtocolError);
    EXPECT_THROW(decodeFrameBody(two.data() + 1, two.size() - 1, counted, frame), ProtocolError);
    EXPECT_EQ(fromFixedPoint(0xFFFF), 65535.0f / 128.0f);
}

}  // namespace
}  // namespace frameyard
