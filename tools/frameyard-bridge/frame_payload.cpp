#include "tools/frameyard-bridge/frame_payload.h"

#include <cstdint>
#include <cstring>

namespace bridge {
namespace {

void putU32LE(std::string& out, uint32_t value) {
    char bytes[4] = {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
                     static_cast<char>(value >> 24)};
    out.append(bytes, 4);
}

void putF32LE(std::string& out, float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, 4);
    putU32LE(out, bits);
}

uint32_t getU32LE(std::string_view bytes, size_t at) {
    auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + i])); };
    return byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
}

float getF32LE(std::string_view bytes, size_t at) {
    uint32_t bits = getU32LE(bytes, at);
    float value = 0;
    std::memcpy(&value, &bits, 4);
    return value;
}

}  // namespace

void encodeFramePayload(const frameyard::Frame& frame, std::string& out) {
    out.clear();
    out.reserve(4 + 4 * frame.cameraCount() + 8 * frame.centroidCount());
    putU32LE(out, static_cast<uint32_t>(frame.cameraCount()));
    for (size_t c = 0; c < frame.cameraCount(); ++c) {
        frameyard::CentroidSpan centroids = frame.camera(c);
        putU32LE(out, static_cast<uint32_t>(centroids.size()));
        for (const frameyard::Centroid& centroid : centroids) {
            putF32LE(out, centroid.x);
            putF32LE(out, centroid.y);
        }
    }
}

std::optional<DecodedFrame> decodeFramePayload(std::string_view payload) {
    if (payload.size() < 4) return std::nullopt;
    uint32_t cameras = getU32LE(payload, 0);
    size_t at = 4;
    DecodedFrame frame;
    for (uint32_t c = 0; c < cameras; ++c) {
        if (payload.size() - at < 4) return std::nullopt;
        uint32_t count = getU32LE(payload, at);
        at += 4;
        if ((payload.size() - at) / 8 < count) return std::nullopt;
        std::vector<Point>& points = frame.emplace_back(count);
        for (Point& point : points) {
            point = Point{getF32LE(payload, at), getF32LE(payload, at + 4)};
            at += 8;
        }
    }
    if (at != payload.size()) return std::nullopt;
    return frame;
}

}  // namespace bridge
