// Configure answers and the circular-mask table, from the client side.
#include <cstring>

#include "byte_cursor.h"
#include "frameyard/client/decoders.h"

namespace frameyard {

size_t decodeAspect(const uint8_t* data, size_t size, AspectAnswer& answer) {
    ByteCursor in(data, size);
    if (!in.u16(answer.pixelAspect) || !in.u16(answer.second)) return 0;
    return in.used();
}

size_t decodeCameraCount(const uint8_t* data, size_t size, CameraCountAnswer& answer) {
    ByteCursor in(data, size);
    if (!in.u16(answer.cameras) || !in.u16(answer.capabilities)) return 0;
    return in.used();
}

size_t decodeThresholds(const uint8_t* data, size_t size, std::vector<int>& thresholds) {
    ByteCursor in(data, size);
    uint16_t count = 0;
    if (!in.u16(count) || !in.has(size_t(count) * 2)) return 0;
    thresholds.resize(count);
    for (int& threshold : thresholds) threshold = loadU16(in.take(2));
    return in.used();
}

size_t decodeSized(const uint8_t* data, size_t size, std::string& text, const DecodeLimits& limits) {
    ByteCursor in(data, size);
    uint32_t length = 0;
    if (!in.u32(length)) return 0;
    checkTextLength(length, limits, "an answer");
    if (!in.text(length, text)) return 0;
    return in.used();
}

std::optional<MaskTable> decodeMaskTable(const uint8_t* data, size_t size, const DecodeLimits& limits) {
    ByteCursor in(data, size);
    uint16_t cameras = 0;
    if (!in.u16(cameras) || cameras > limits.maxCameras) return std::nullopt;
    MaskTable table(cameras);
    for (auto& masks : table) {
        uint8_t tag = 0;
        if (!in.u8(tag)) return std::nullopt;
        while (tag != '$') {
            // A record: u32 length, then its body; unknown tags are skipped by their length.
            uint32_t length = 0;
            if (!in.u32(length) || !in.has(length)) return std::nullopt;
            ByteCursor record(in.take(length), length);
            if (tag == 'c') {
                uint32_t count = 0;
                if (!record.u32(count) || !record.has(uint64_t(count) * 12)) return std::nullopt;
                for (uint32_t i = 0; i < count; ++i) {
                    const uint8_t* p = record.take(12);
                    float values[3];
                    for (int v = 0; v < 3; ++v) {
                        uint32_t bits = loadU32(p + 4 * v);
                        std::memcpy(&values[v], &bits, sizeof bits);
                    }
                    masks.push_back(CircularMask{values[0], values[1], values[2]});
                }
            }
            if (!in.u8(tag)) return std::nullopt;
        }
    }
    return table;
}

}  // namespace frameyard
