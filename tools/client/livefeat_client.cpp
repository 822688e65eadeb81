#include "tools/client/livefeat_client.h"

namespace fyclient {
namespace {

constexpr uint16_t kHeaderMarker = 0xFFFF;
// Far above any JSON text of this system; a larger announcement means a broken stream.
constexpr uint32_t kMaxMessage = 64u * 1024 * 1024;

ClientError corruptHeader() { return ClientError("Corrupt frame header."); }

}  // namespace

void LiveFeatSession::open() { connection.sendByte('f'); }

void LiveFeatSession::selectCamera(uint16_t position) {
    std::vector<uint8_t> command{'c'};
    appendU16(command, position);
    connection.send(command);
}

void LiveFeatSession::deselectCamera() { selectCamera(kHeaderMarker); }

void LiveFeatSession::setImages(bool on) { connection.send(std::vector<uint8_t>{'i', uint8_t(on ? 1 : 0)}); }

void LiveFeatSession::acknowledgeImage() { connection.send(std::vector<uint8_t>{'i', 2}); }

void LiveFeatSession::sendThreshold(uint16_t position, uint16_t threshold) {
    connection.send(thresholdCommand(position, threshold));
}

void LiveFeatSession::sendMessage(const std::string& json) { connection.send(messageCommand(json)); }

std::optional<LiveFeatItem> LiveFeatSession::next(int waitMs) {
    if (!connection.waitForInput(waitMs)) return std::nullopt;
    LiveFeatItem item;
    uint16_t word = connection.receiveU16();
    item.wireBytes = 2;
    if (word == kHeaderMarker) {
        readHeader(item);
        if (item.isMessage) return item;
        // A frame header is followed by exactly one segment block.
        word = connection.receiveU16();
        item.wireBytes += 2;
        if (word == kHeaderMarker) throw ClientError("a frame header followed by another header");
    }
    readSegments(item, word);
    return item;
}

// The entries come in a fixed order (timecode, image, message), each at most once; the
// image pixels and the message text follow the header bytes.
void LiveFeatSession::readHeader(LiveFeatItem& item) {
    uint8_t length = connection.receiveByte();
    if (length == 0) throw ClientError("Invalid frame header.");
    std::vector<uint8_t> header(length);
    connection.receive(header.data(), header.size());
    item.wireBytes += 1 + header.size();
    size_t at = 0;
    if (at < header.size() && header[at] == 't') {
        if (header.size() - at < 5) throw corruptHeader();
        item.frame.timecode = std::array<uint8_t, 4>{header[at + 1], header[at + 2], header[at + 3], header[at + 4]};
        at += 5;
    }
    if (at < header.size() && header[at] == 'i') {
        if (header.size() - at < 5) throw corruptHeader();
        LiveFeatImage image;
        image.width = loadU16(&header[at + 1]);
        image.height = loadU16(&header[at + 3]);
        item.frame.image = std::move(image);
        at += 5;
    }
    if (at < header.size() && header[at] == 'm') {
        item.isMessage = true;
        ++at;
    }
    if (at != header.size()) throw corruptHeader();
    if (item.isMessage && (item.frame.timecode || item.frame.image)) throw corruptHeader();

    if (item.frame.image) {
        LiveFeatImage& image = *item.frame.image;
        image.pixels.resize(size_t(image.width) * image.height);
        connection.receive(image.pixels.data(), image.pixels.size());
        item.wireBytes += image.pixels.size();
    }
    if (item.isMessage) {
        uint32_t textLength = connection.receiveU32();
        if (textLength > kMaxMessage) throw ClientError("message of " + std::to_string(textLength) + " bytes announced");
        item.message.resize(textLength);
        connection.receive(item.message.data(), textLength);
        item.wireBytes += 4 + textLength;
    }
}

void LiveFeatSession::readSegments(LiveFeatItem& item, uint16_t count) {
    std::vector<uint8_t> block(size_t(count) * 6);
    connection.receive(block.data(), block.size());
    item.wireBytes += block.size();
    item.frame.segments.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = block.data() + i * 6;
        item.frame.segments[i] = Segment{loadU16(p), loadU16(p + 2), loadU16(p + 4)};
    }
}

}  // namespace fyclient
