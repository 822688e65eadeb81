#include "tools/client/realtime_client.h"

#include <bit>

namespace fyclient {
namespace {

// Far above the largest frame (2000 full centroids per camera for 65535 cameras is less).
constexpr uint32_t kMaxItem = 64u * 1024 * 1024;
constexpr uint16_t kMaxCentroids = 2000;

// Reads bytes of a frame body held in memory.
class BodyReader {
public:
    BodyReader(const uint8_t* data, size_t size) : data(data), size(size) {}
    size_t left() const { return size - pos; }
    const uint8_t* take(size_t n) {
        if (left() < n) throw ClientError("truncated frame: " + std::to_string(n) + " bytes wanted, " +
                                          std::to_string(left()) + " left");
        const uint8_t* p = data + pos;
        pos += n;
        return p;
    }

private:
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
};

Centroid decodeCentroid(const uint8_t* p, bool compact) {
    Centroid c;
    if (compact) {
        c.x = fromFixedPoint(loadU16(p));
        c.y = fromFixedPoint(loadU16(p + 2));
    } else {
        c.x = std::bit_cast<float>(loadU32(p));
        c.y = std::bit_cast<float>(loadU32(p + 4));
        c.flags = loadU16(p + 8);
    }
    return c;
}

size_t centroidSize(bool compact) { return compact ? 4 : 10; }

void checkCount(uint16_t count) {
    if (count > kMaxCentroids) {
        throw ClientError("frame announces " + std::to_string(count) + " centroids for one camera");
    }
}

}  // namespace

float fromFixedPoint(uint16_t value) { return static_cast<float>(value) / 128.0f; }

RealtimeFrame parseFrameBody(const uint8_t* data, size_t size, bool compact, bool timecodes, int cameraCount) {
    BodyReader reader(data, size);
    RealtimeFrame frame;
    if (timecodes) {
        const uint8_t* p = reader.take(5);
        if (p[0] != 't') throw ClientError("frame without its timecode record");
        frame.timecode = std::array<uint8_t, 4>{p[1], p[2], p[3], p[4]};
    }
    while (cameraCount < 0 ? reader.left() > 0 : static_cast<int>(frame.cameras.size()) < cameraCount) {
        uint16_t count = loadU16(reader.take(2));
        checkCount(count);
        const uint8_t* p = reader.take(count * centroidSize(compact));
        std::vector<Centroid> list;
        for (uint16_t i = 0; i < count; ++i) list.push_back(decodeCentroid(p + i * centroidSize(compact), compact));
        frame.cameras.push_back(std::move(list));
    }
    if (reader.left() != 0) throw ClientError("frame body has " + std::to_string(reader.left()) + " bytes too many");
    return frame;
}

RealtimeSession::RealtimeSession(Connection& connection, int cameraCount, RealtimeOptions options)
    : connection(connection), cameraCount(cameraCount), options(options) {}

void RealtimeSession::open() {
    std::vector<uint8_t> opening{'R'};
    if (options.compact) opening.push_back('f');
    if (options.handshake) opening.push_back('t');
    // The final option byte; any value is accepted, this one reads well in a capture.
    opening.push_back('1');
    connection.send(opening);
    if (!options.handshake) return;
    uint8_t query = connection.receiveByte();
    if (query != 't') throw ClientError(std::string("expected the timecode query 't', got '") + char(query) + "'");
    connection.sendByte(options.timecodes ? '1' : '0');
    awaitingReady = true;
}

std::optional<RealtimeItem> RealtimeSession::next(int waitMs) {
    for (;;) {
        if (!connection.waitForInput(waitMs)) return std::nullopt;
        if (awaitingReady) {
            uint8_t ready = connection.receiveByte();
            if (ready != 'r') throw ClientError(std::string("expected the start signal 'r', got '") + char(ready) + "'");
            connection.sendByte('g');
            awaitingReady = false;
            continue;
        }
        RealtimeItem item;
        bool timecodes = options.handshake && options.timecodes;
        if (options.tagged) {
            uint8_t tag = connection.receiveByte();
            if (tag == 'm') {
                item.isMessage = true;
                item.message = readText();
            } else if (tag == 'f') {
                uint32_t length = connection.receiveU32();
                if (length > kMaxItem) throw ClientError("frame of " + std::to_string(length) + " bytes announced");
                std::vector<uint8_t> body(length);
                connection.receive(body.data(), length);
                item.frame = parseFrameBody(body.data(), body.size(), options.compact, timecodes, cameraCount);
            } else {
                throw ClientError(std::string("Unknown character '") + char(tag) + "'");
            }
            return item;
        }
        // Untagged: a frame starts with its timecode 't' or a camera's count, whose high byte is
        // at most 7, so an 'm' can only be a monitor message the client asked for.
        if (connection.peekByte() == 'm') {
            connection.receiveByte();
            item.isMessage = true;
            item.message = readText();
        } else {
            item.frame = readUntaggedFrame();
        }
        return item;
    }
}

RealtimeFrame RealtimeSession::readUntaggedFrame() {
    RealtimeFrame frame;
    if (options.handshake && options.timecodes) {
        uint8_t record[5];
        connection.receive(record, 5);
        if (record[0] != 't') throw ClientError("frame without its timecode record");
        frame.timecode = std::array<uint8_t, 4>{record[1], record[2], record[3], record[4]};
    }
    std::vector<uint8_t> bytes;
    for (int camera = 0; camera < cameraCount; ++camera) {
        uint16_t count = connection.receiveU16();
        checkCount(count);
        bytes.resize(count * centroidSize(options.compact));
        connection.receive(bytes.data(), bytes.size());
        std::vector<Centroid> list;
        for (uint16_t i = 0; i < count; ++i) {
            list.push_back(decodeCentroid(bytes.data() + i * centroidSize(options.compact), options.compact));
        }
        frame.cameras.push_back(std::move(list));
    }
    return frame;
}

std::string RealtimeSession::readText() {
    uint32_t length = connection.receiveU32();
    if (length > kMaxItem) throw ClientError("message of " + std::to_string(length) + " bytes announced");
    std::string text(length, '\0');
    connection.receive(text.data(), length);
    return text;
}

void RealtimeSession::sendThreshold(uint16_t position, uint16_t threshold) {
    connection.send(thresholdCommand(position, threshold));
}

void RealtimeSession::sendMessage(const std::string& json) { connection.send(messageCommand(json)); }

}  // namespace fyclient
