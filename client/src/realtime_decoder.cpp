// The realtime stream from the client side: handshake bytes, untagged and tagged frames,
// monitor and camera messages.
#include <cstring>

#include "byte_cursor.h"
#include "frameyard/client/decoders.h"

namespace frameyard {
namespace {

constexpr size_t kFullCentroid = 10;
constexpr size_t kCompactCentroid = 4;

float floatFromBits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// The hot loop of every client: one pass over the wire bytes, no call per centroid.
void decodeCentroids(const uint8_t* p, size_t count, bool compact, Centroid* out) {
    if (compact) {
        for (size_t i = 0; i < count; ++i, p += kCompactCentroid) {
            out[i].x = fromFixedPoint(loadU16(p));
            out[i].y = fromFixedPoint(loadU16(p + 2));
            out[i].flags = 0;
        }
        return;
    }
    for (size_t i = 0; i < count; ++i, p += kFullCentroid) {
        out[i].x = floatFromBits(loadU32(p));
        out[i].y = floatFromBits(loadU32(p + 4));
        out[i].flags = loadU16(p + 8);
    }
}

// One camera's glob list; false when its bytes have not all arrived.
bool decodeGlobList(ByteCursor& in, bool compact, const DecodeLimits& limits, Frame& frame) {
    uint16_t count = 0;
    if (!in.u16(count)) return false;
    if (count > limits.maxCentroidsPerCamera) {
        throw ProtocolError("the server announced " + std::to_string(count) + " centroids for one camera (limit " +
                            std::to_string(limits.maxCentroidsPerCamera) + ")");
    }
    size_t bytes = size_t(count) * (compact ? kCompactCentroid : kFullCentroid);
    if (!in.has(bytes)) return false;
    decodeCentroids(in.take(bytes), count, compact, frame.addCamera(count));
    return true;
}

bool decodeTimecodeRecord(ByteCursor& in, Frame& frame) {
    if (!in.has(5)) return false;
    const uint8_t* p = in.take(5);
    if (p[0] != 't') throw ProtocolError("a frame without its timecode record (" + byteText(p[0]) + ")");
    frame.timecode = Timecode{p[1], p[2], p[3], p[4]};
    return true;
}

}  // namespace

// ---------------------------------------------------------------- frames and spans

void Frame::clear() {
    timecode.reset();
    offsets_.assign(1, 0);
}

Centroid* Frame::addCamera(size_t count) {
    if (offsets_.empty()) offsets_.push_back(0);
    size_t start = offsets_.back();
    if (centroids_.size() < start + count) centroids_.resize(start + count);
    offsets_.push_back(start + count);
    return centroids_.data() + start;
}

std::string formatTimecode(const Timecode& timecode) {
    std::string out;
    for (size_t i = 0; i < timecode.size(); ++i) {
        if (i > 0) out += ':';
        if (timecode[i] < 10) out += '0';
        out += std::to_string(timecode[i]);
    }
    return out;
}

void decodeFrameBody(const uint8_t* data, size_t size, const RealtimeFormat& format, Frame& frame,
                     const DecodeLimits& limits) {
    ByteCursor in(data, size);
    frame.clear();
    if (format.timecodes && !decodeTimecodeRecord(in, frame)) throw ProtocolError("a frame cut short in its timecode");
    size_t cameras = 0;
    while (format.tagged ? in.left() > 0 : cameras < format.cameras) {
        if (cameras >= limits.maxCameras) throw ProtocolError("a frame with more cameras than the limit");
        if (!decodeGlobList(in, format.compact, limits, frame)) {
            throw ProtocolError("a frame cut short in camera " + std::to_string(cameras + 1));
        }
        ++cameras;
    }
    if (in.left() != 0) throw ProtocolError("a frame body with " + std::to_string(in.left()) + " bytes too many");
}

// ---------------------------------------------------------------- the stream

RealtimeDecoder::RealtimeDecoder(const RealtimeFormat& format, const DecodeLimits& limits)
    : format_(format), limits_(limits), stage_(format.handshake ? Stage::query : Stage::streaming) {}

size_t RealtimeDecoder::decode(const uint8_t* data, size_t size, RealtimeItem& item, Frame& frame) {
    if (size == 0) return 0;
    switch (stage_) {
    case Stage::query:
        if (data[0] != 't') throw ProtocolError("expected the timecode query 't', got " + byteText(data[0]));
        item.kind = RealtimeItem::Kind::timecodeQuery;
        stage_ = Stage::ready;
        return 1;
    case Stage::ready:
        if (data[0] != 'r') throw ProtocolError("expected the start signal 'r', got " + byteText(data[0]));
        item.kind = RealtimeItem::Kind::ready;
        stage_ = Stage::streaming;
        return 1;
    case Stage::streaming:
        return decodeStreaming(data, size, item, frame);
    }
    return 0;
}

size_t RealtimeDecoder::decodeStreaming(const uint8_t* data, size_t size, RealtimeItem& item, Frame& frame) {
    ByteCursor in(data, size);
    uint8_t tag = data[0];
    if (tag == 'm') {
        // A message: tagged streams carry every one so; untagged ones only the monitors the
        // client enabled, which a frame's first byte ('t' or a count's high byte) never equals.
        in.take(1);
        uint32_t length = 0;
        if (!in.u32(length)) return 0;
        checkTextLength(length, limits_, "a message");
        if (!in.text(length, item.message)) return 0;
        item.kind = RealtimeItem::Kind::message;
        return in.used();
    }
    item.kind = RealtimeItem::Kind::frame;
    if (!format_.tagged) return decodeUntagged(data, size, frame);
    if (tag != 'f') throw ProtocolError("Unknown character " + byteText(tag) + " in the realtime stream");
    in.take(1);
    uint32_t length = 0;
    if (!in.u32(length)) return 0;
    // The largest body the session's cameras can fill; without a known camera list, the text limit.
    uint64_t largest = format_.cameras > 0
                           ? uint64_t(format_.cameras) * (2 + uint64_t(limits_.maxCentroidsPerCamera) * kFullCentroid) + 5
                           : limits_.maxText;
    if (length > largest) throw ProtocolError("the server announced a frame of " + std::to_string(length) + " bytes");
    if (!in.has(length)) return 0;
    decodeFrameBody(in.take(length), length, format_, frame, limits_);
    return in.used();
}

size_t RealtimeDecoder::decodeUntagged(const uint8_t* data, size_t size, Frame& frame) {
    ByteCursor in(data, size);
    frame.clear();
    if (format_.timecodes && !decodeTimecodeRecord(in, frame)) return 0;
    for (size_t camera = 0; camera < format_.cameras; ++camera) {
        if (!decodeGlobList(in, format_.compact, limits_, frame)) return 0;
    }
    return in.used();
}

}  // namespace frameyard
