// The live-feature stream from the client side: header items (timecode, image, message) and
// segment blocks.
#include "byte_cursor.h"
#include "frameyard/client/decoders.h"

namespace frameyard {
namespace {

constexpr uint16_t kHeaderMarker = 0xFFFF;
constexpr size_t kSegmentBytes = 6;

// The header entries come in a fixed order (timecode, image, message), each at most once.
struct HeaderEntries {
    std::optional<Timecode> timecode;
    bool image = false;
    uint16_t width = 0, height = 0;
    bool message = false;
};

HeaderEntries readEntries(const uint8_t* header, size_t length) {
    HeaderEntries entries;
    size_t at = 0;
    if (at < length && header[at] == 't') {
        if (length - at < 5) throw ProtocolError("Corrupt frame header.");
        entries.timecode = Timecode{header[at + 1], header[at + 2], header[at + 3], header[at + 4]};
        at += 5;
    }
    if (at < length && header[at] == 'i') {
        if (length - at < 5) throw ProtocolError("Corrupt frame header.");
        entries.image = true;
        entries.width = loadU16(header + at + 1);
        entries.height = loadU16(header + at + 3);
        at += 5;
    }
    if (at < length && header[at] == 'm') {
        entries.message = true;
        ++at;
    }
    if (at != length || (entries.message && (entries.timecode || entries.image))) {
        throw ProtocolError("Corrupt frame header.");
    }
    return entries;
}

bool readSegments(ByteCursor& in, uint16_t count, std::vector<Segment>& segments) {
    if (count == kHeaderMarker) throw ProtocolError("a live-feature frame header followed by another header");
    if (!in.has(size_t(count) * kSegmentBytes)) return false;
    const uint8_t* p = in.take(size_t(count) * kSegmentBytes);
    segments.resize(count);
    for (size_t i = 0; i < count; ++i, p += kSegmentBytes) {
        segments[i] = Segment{loadU16(p), loadU16(p + 2), loadU16(p + 4)};
    }
    return true;
}

}  // namespace

LiveDecoder::LiveDecoder(const DecodeLimits& limits) : limits_(limits) {}

size_t LiveDecoder::decode(const uint8_t* data, size_t size, LiveItem& item) {
    ByteCursor in(data, size);
    uint16_t word = 0;
    if (!in.u16(word)) return 0;
    item.frame.timecode.reset();
    item.frame.image.reset();
    if (word != kHeaderMarker) {
        item.kind = LiveItem::Kind::frame;
        return readSegments(in, word, item.frame.segments) ? in.used() : 0;
    }
    uint8_t length = 0;
    if (!in.u8(length)) return 0;
    if (length == 0) throw ProtocolError("Invalid frame header.");
    if (!in.has(length)) return 0;
    HeaderEntries entries = readEntries(in.take(length), length);
    if (entries.message) {
        uint32_t textLength = 0;
        if (!in.u32(textLength)) return 0;
        checkTextLength(textLength, limits_, "a message");
        if (!in.text(textLength, item.message)) return 0;
        item.kind = LiveItem::Kind::message;
        return in.used();
    }
    item.kind = LiveItem::Kind::frame;
    item.frame.timecode = entries.timecode;
    if (entries.image) {
        uint64_t pixels = uint64_t(entries.width) * entries.height;
        if (pixels > limits_.maxImageBytes) throw ProtocolError("a live image of " + std::to_string(pixels) + " bytes");
        if (!in.has(pixels)) return 0;
        LiveImage image;
        image.width = entries.width;
        image.height = entries.height;
        const uint8_t* p = in.take(static_cast<size_t>(pixels));
        image.pixels.assign(p, p + pixels);
        item.frame.image = std::move(image);
    }
    // A frame header is followed by exactly one segment block.
    uint16_t count = 0;
    if (!in.u16(count)) return 0;
    return readSegments(in, count, item.frame.segments) ? in.used() : 0;
}

}  // namespace frameyard
