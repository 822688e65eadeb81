// The decoders against bytes written out by hand from the wire layouts: values, units and
// order, items split at every byte, and what a broken or hostile server gets.
#include <gtest/gtest.h>

#include <cstring>

#include "frameyard/client/decoders.h"
#include "frameyard/client/error.h"

namespace frameyard {
namespace {

struct Wire {
    Bytes bytes;
    Wire& u8(uint8_t v) { bytes.push_back(v); return *this; }
    Wire& u16(uint16_t v) { return u8(uint8_t(v >> 8)).u8(uint8_t(v)); }
    Wire& u32(uint32_t v) { return u16(uint16_t(v >> 16)).u16(uint16_t(v)); }
    Wire& f32(float v) { uint32_t b; std::memcpy(&b, &v, 4); return u32(b); }
    Wire& text(const std::string& s) { bytes.insert(bytes.end(), s.begin(), s.end()); return *this; }
};

// Offers the bytes one more at a time, as the slowest server would send them: a decoder must
// say "more" until the item is whole and then take exactly the item.
template <class Decode>
size_t decodeByteByByte(const Bytes& bytes, Decode decode) {
    for (size_t have = 0; have < bytes.size(); ++have) {
        EXPECT_EQ(decode(bytes.data(), have), 0u) << "took an item from " << have << " of " << bytes.size() << " bytes";
    }
    return decode(bytes.data(), bytes.size());
}

TEST(RealtimeDecoder, HandshakeThenFullFramesWithTimecodesAndMonitorMessages) {
    RealtimeFormat format;
    format.cameras = 2;
    RealtimeDecoder decoder(format);
    RealtimeItem item;
    Frame frame;
    const uint8_t query[] = {'t'}, ready[] = {'r'};
    ASSERT_EQ(decoder.decode(query, 1, item, frame), 1u);
    EXPECT_EQ(item.kind, RealtimeItem::Kind::timecodeQuery);
    decoder.setTimecodes(true);
    ASSERT_EQ(decoder.decode(ready, 1, item, frame), 1u);
    EXPECT_EQ(item.kind, RealtimeItem::Kind::ready);

    Wire w;
    w.text("t").u8(10).u8(20).u8(30).u8(4);
    w.u16(2).f32(10.0f).f32(20.5f).u16(1).f32(300.25f).f32(0.5f).u16(1);
    w.u16(0);
    size_t used = decodeByteByByte(w.bytes, [&](const uint8_t* d, size_t n) { return decoder.decode(d, n, item, frame); });
    ASSERT_EQ(used, w.bytes.size());
    EXPECT_EQ(item.kind, RealtimeItem::Kind::frame);
    ASSERT_TRUE(frame.timecode);
    EXPECT_EQ(formatTimecode(*frame.timecode), "10:20:30:04");
    ASSERT_EQ(frame.cameraCount(), 2u);
    ASSERT_EQ(frame.camera(0).size(), 2u);
    EXPECT_EQ(frame.camera(0)[1].x, 300.25f);
    EXPECT_EQ(frame.camera(0)[0].y, 20.5f);
    EXPECT_EQ(frame.camera(0)[0].flags, 1);
    EXPECT_TRUE(frame.camera(1).empty());

    Wire message;
    message.text("m").u32(7).text("\"hello\"");
    ASSERT_EQ(decoder.decode(message.bytes.data(), message.bytes.size(), item, frame), message.bytes.size());
    EXPECT_EQ(item.kind, RealtimeItem::Kind::message);
    EXPECT_EQ(item.message, "\"hello\"");
}

TEST(RealtimeDecoder, CompactAndTaggedForms) {
    RealtimeFormat compact;
    compact.cameras = 1;
    compact.compact = true;
    compact.handshake = false;
    RealtimeDecoder decoder(compact);
    RealtimeItem item;
    Frame frame;
    Wire w;
    w.u16(1).u16(0x0500).u16(0x0A40);   // (10.0, 20.5) in units of 1/128
    ASSERT_EQ(decoder.decode(w.bytes.data(), w.bytes.size(), item, frame), 6u);
    EXPECT_EQ(frame.camera(0)[0].x, 10.0f);
    EXPECT_EQ(frame.camera(0)[0].y, 20.5f);
    EXPECT_FALSE(frame.timecode);

    // Tagged: the body's length decides the cameras, whatever the format says.
    RealtimeFormat tagged;
    tagged.tagged = true;
    tagged.handshake = false;
    RealtimeDecoder taggedDecoder(tagged);
    Wire t;
    t.text("f").u32(2).u16(0).text("m").u32(2).text("[]");
    size_t used = taggedDecoder.decode(t.bytes.data(), t.bytes.size(), item, frame);
    EXPECT_EQ(used, 7u);
    EXPECT_EQ(frame.cameraCount(), 1u);
    EXPECT_EQ(taggedDecoder.decode(t.bytes.data() + used, t.bytes.size() - used, item, frame), 7u);
    EXPECT_EQ(item.message, "[]");
}

TEST(RealtimeDecoder, HostileServersGetAnErrorNotAnAllocation) {
    RealtimeFormat format;
    format.cameras = 1;
    format.handshake = false;
    RealtimeItem item;
    Frame frame;
    Wire tooMany;
    tooMany.u16(2001);
    EXPECT_THROW(RealtimeDecoder(format).decode(tooMany.bytes.data(), 2, item, frame), ProtocolError);

    Wire hugeMessage;
    hugeMessage.text("m").u32(0xFFFFFFFF);
    EXPECT_THROW(RealtimeDecoder(format).decode(hugeMessage.bytes.data(), 5, item, frame), ProtocolError);

    format.tagged = true;
    Wire hugeFrame;
    hugeFrame.text("f").u32(0xFFFFFFF0);
    EXPECT_THROW(RealtimeDecoder(format).decode(hugeFrame.bytes.data(), 5, item, frame), ProtocolError);
    // With a known camera list a tagged frame cannot be larger than its cameras can fill.
    format.cameras = 1;
    Wire tooLarge;
    tooLarge.text("f").u32(2 + 2000 * 10 + 5 + 1);
    EXPECT_THROW(RealtimeDecoder(format).decode(tooLarge.bytes.data(), 5, item, frame), ProtocolError);
    Wire unknown;
    unknown.text("x");
    EXPECT_THROW(RealtimeDecoder(format).decode(unknown.bytes.data(), 1, item, frame), ProtocolError);

    RealtimeFormat handshake;
    const uint8_t wrong[] = {'q'};
    EXPECT_THROW(RealtimeDecoder(handshake).decode(wrong, 1, item, frame), ProtocolError);
}

TEST(LiveDecoder, FramesWithAndWithoutHeadersAndMessages) {
    LiveDecoder decoder;
    LiveItem item;
    Wire w;
    w.u16(0xFFFF).u8(10).text("t").u8(1).u8(2).u8(3).u8(4).text("i").u16(3).u16(2);
    w.u8(1).u8(2).u8(3).u8(4).u8(5).u8(6);
    w.u16(1).u16(7).u16(8).u16(9);
    size_t used = decodeByteByByte(w.bytes, [&](const uint8_t* d, size_t n) { return decoder.decode(d, n, item); });
    ASSERT_EQ(used, w.bytes.size());
    ASSERT_EQ(item.kind, LiveItem::Kind::frame);
    ASSERT_TRUE(item.frame.image);
    EXPECT_EQ(item.frame.image->width, 3);
    EXPECT_EQ(item.frame.image->pixels, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
    ASSERT_EQ(item.frame.segments.size(), 1u);
    EXPECT_EQ(item.frame.segments[0].value1, 7);
    EXPECT_EQ(item.frame.segments[0].value3, 9);

    // A bare segment block: no timecode, no image left over from the frame before.
    Wire bare;
    bare.u16(0);
    ASSERT_EQ(decoder.decode(bare.bytes.data(), 2, item), 2u);
    EXPECT_FALSE(item.frame.image);
    EXPECT_FALSE(item.frame.timecode);

    Wire message;
    message.u16(0xFFFF).u8(1).text("m").u32(4).text("true");
    ASSERT_EQ(decoder.decode(message.bytes.data(), message.bytes.size(), item), message.bytes.size());
    EXPECT_EQ(item.kind, LiveItem::Kind::message);
    EXPECT_EQ(item.message, "true");
}

TEST(LiveDecoder, BrokenHeadersAreErrorsWithTheServersOwnWords) {
    LiveDecoder decoder;
    LiveItem item;
    Wire empty;
    empty.u16(0xFFFF).u8(0);
    try {
        decoder.decode(empty.bytes.data(), empty.bytes.size(), item);
        FAIL();
    } catch (const ProtocolError& error) {
        EXPECT_STREQ(error.what(), "Invalid frame header.");
    }
    Wire shortTimecode;
    shortTimecode.u16(0xFFFF).u8(3).text("t").u8(0).u8(0);
    EXPECT_THROW(decoder.decode(shortTimecode.bytes.data(), shortTimecode.bytes.size(), item), ProtocolError);
    Wire twoHeaders;
    twoHeaders.u16(0xFFFF).u8(5).text("t").u32(0).u16(0xFFFF);
    EXPECT_THROW(decoder.decode(twoHeaders.bytes.data(), twoHeaders.bytes.size(), item), ProtocolError);
}

// A decoder that has read the camera count and seen the client's start byte.
AcquireDecoder recording(const AcquireRequest& request, uint16_t cameras, const DecodeLimits& limits = DecodeLimits()) {
    AcquireDecoder decoder(request, limits);
    AcquireItem item;
    Wire head;
    head.u16(cameras);
    EXPECT_EQ(decoder.decode(head.bytes.data(), 2, item), 2u);
    decoder.started();
    return decoder;
}

// A recording from field id 0: progress records and field 0 both begin with u16 0.
TEST(AcquireDecoder, ProgressIsToldFromFieldZero) {
    AcquireRequest request;
    request.fields = 4;
    request.images = true;
    AcquireDecoder decoder(request);
    AcquireItem item;
    Wire w;
    w.u16(1).text("R");
    w.u16(0).u16(2).u16(progressValue(2, 4));
    w.u16(0).u16(4).u16(65535);
    w.u16(0).text("t").u8(0).u8(0).u8(1).u8(2).text("11").u16(2).u16(1).u8(7).u8(8);
    w.u16(0xFFFF).u16(8).u16(1).u16(1280).u16(2560).u16(1);
    std::vector<AcquireItem::Kind> kinds;
    size_t at = 0;
    while (at < w.bytes.size()) {
        if (kinds.size() == 2) decoder.started();
        size_t used = decoder.decode(w.bytes.data() + at, w.bytes.size() - at, item);
        ASSERT_GT(used, 0u) << "stuck at byte " << at;
        at += used;
        kinds.push_back(item.kind);
    }
    using K = AcquireItem::Kind;
    EXPECT_EQ(kinds, (std::vector<K>{K::cameraCount, K::ready, K::progress, K::progress, K::field}));
    EXPECT_EQ(item.field.number, 0);
    ASSERT_EQ(item.field.cameras.size(), 1u);
    EXPECT_EQ(item.field.cameras[0].pixels, (std::vector<uint8_t>{7, 8}));
    EXPECT_EQ(item.field.cameras[0].centroids[0].displayY(), 20.0f);
    EXPECT_EQ(decoder.recordedFields(), 4u);
}

TEST(AcquireDecoder, FieldsArriveInPiecesAndTheDataEnds) {
    AcquireRequest request;
    request.startFieldId = 100;
    request.fields = 1;
    AcquireDecoder decoder = recording(request, 2);
    AcquireItem item;
    Wire field;
    field.u16(100).text("01");
    for (int camera = 0; camera < 2; ++camera) field.u16(0xFFFF).u16(2).u16(0);
    size_t used = decodeByteByByte(field.bytes, [&](const uint8_t* d, size_t n) { return decoder.decode(d, n, item); });
    EXPECT_EQ(used, field.bytes.size());
    EXPECT_EQ(item.kind, AcquireItem::Kind::field);
    EXPECT_EQ(item.field.number, 100);
    Wire end;
    end.u16(0xFFFF);
    ASSERT_EQ(decoder.decode(end.bytes.data(), 2, item), 2u);
    EXPECT_EQ(item.kind, AcquireItem::Kind::end);
    EXPECT_TRUE(decoder.finished());
    EXPECT_THROW(decoder.decode(end.bytes.data(), 2, item), ProtocolError);
}

TEST(AcquireDecoder, MalformedRecordsAndNoAcquisition) {
    AcquireRequest request;
    request.startFieldId = 5;
    request.fields = 1;
    AcquireItem item;
    AcquireDecoder none(request);
    Wire zero;
    zero.u16(0);
    ASSERT_EQ(none.decode(zero.bytes.data(), 2, item), 2u);
    EXPECT_EQ(item.cameraCount, 0);
    EXPECT_TRUE(none.finished());

    AcquireDecoder decoder = recording(request, 1);
    Wire badFlag;
    badFlag.u16(5).text("x0");
    EXPECT_THROW(decoder.decode(badFlag.bytes.data(), badFlag.bytes.size(), item), ProtocolError);
    AcquireDecoder second = recording(request, 1);
    Wire badBlock;
    badBlock.u16(5).text("01").u16(0xFFFF).u16(99).u16(1);
    EXPECT_THROW(second.decode(badBlock.bytes.data(), badBlock.bytes.size(), item), ProtocolError);
}

// A field is held whole before delivery: its images together are bounded, and the bound holds
// as soon as an image's size arrives, before its pixels are waited for.
TEST(AcquireDecoder, AFieldLargerThanTheLimitIsRefusedFromItsHeaders) {
    AcquireRequest request;
    request.startFieldId = 1;
    request.fields = 1;
    request.images = true;
    DecodeLimits limits;
    limits.maxFieldBytes = 10;
    AcquireDecoder decoder = recording(request, 2, limits);
    AcquireItem item;
    Wire field;
    field.u16(1).text("10").u16(3).u16(2).u8(1).u8(2).u8(3).u8(4).u8(5).u8(6).u16(3).u16(2);
    EXPECT_THROW(decoder.decode(field.bytes.data(), field.bytes.size(), item), ProtocolError);
}

TEST(AcquireRequestEncoding, ModeCharacterListsInOrderAndTheRate) {
    AcquireRequest request;
    request.centroids = true;
    request.images = true;
    request.startFieldId = 100;
    request.centroidList = {{2, 3}};
    request.imageList = {{0, 1}};
    request.rate = 60;
    Wire expected;
    expected.text("a1").u16(100).u16(2).u16(3).u16(0xFFFF).u16(0).u16(1).u16(0xFFFF).u16(60);
    EXPECT_EQ(encodeAcquireRequest(request), expected.bytes);
    EXPECT_EQ(request.requestedFields(), 5u);
    EXPECT_EQ(encodeCameraValues({7}, 2), (Bytes{0, 7, 0, 0, 0}));
    EXPECT_EQ(progressValue(5, 10), 0x7FFF);
}

TEST(MaskTable, RoundTripAndUnknownRecordsSkipped) {
    MaskTable table{{{100, 120, 8}, {1.5f, 2.5f, 3}}, {}};
    Bytes bytes = encodeMaskTable(table);
    EXPECT_EQ(bytes.size(), 2u + (1 + 9 + 24) + 1);
    auto back = decodeMaskTable(bytes.data(), bytes.size());
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, table);

    Wire skipped;
    skipped.u16(1).text("x").u32(5).text("abcde").text("$");
    auto one = decodeMaskTable(skipped.bytes.data(), skipped.bytes.size());
    ASSERT_TRUE(one);
    EXPECT_TRUE((*one)[0].empty());
    Wire cut;
    cut.u16(1).text("c").u32(16).u32(1).f32(1);
    EXPECT_FALSE(decodeMaskTable(cut.bytes.data(), cut.bytes.size()));
    Wire lies;
    lies.u16(1).text("c").u32(16).u32(1000000).text("$");
    EXPECT_FALSE(decodeMaskTable(lies.bytes.data(), lies.bytes.size()));
}

TEST(ConfigureAnswers, FixedAndSizedAnswers) {
    Wire thresholds;
    thresholds.u16(2).u16(20).u16(10);
    std::vector<int> values;
    EXPECT_EQ(decodeThresholds(thresholds.bytes.data(), 5, values), 0u);
    EXPECT_EQ(decodeThresholds(thresholds.bytes.data(), 6, values), 6u);
    EXPECT_EQ(values, (std::vector<int>{20, 10}));
    Wire sized;
    sized.u32(2).text("[]");
    std::string text;
    EXPECT_EQ(decodeSized(sized.bytes.data(), sized.bytes.size(), text), 6u);
    EXPECT_EQ(text, "[]");
    Wire huge;
    huge.u32(0x7FFFFFFF);
    EXPECT_THROW(decodeSized(huge.bytes.data(), 4, text), ProtocolError);
}

}  // namespace
}  // namespace frameyard
