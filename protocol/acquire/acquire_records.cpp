#include "protocol/acquire/acquire_records.h"

#include <algorithm>
#include <cmath>

#include "protocol/common/byte_order.h"
#include "protocol/frames/frame_format.h"

namespace RyStoreProtocol {

namespace {

constexpr uint16_t centroidMarker = 0xFFFF;
constexpr int maxSide = 0xFFFF;

}  // namespace

uint16_t acquisitionProgress(uint32_t recorded, uint32_t requested) {
    if (requested == 0) return 0;
    float progress = float(recorded) / float(requested) * 65535.0f;
    return static_cast<uint16_t>(std::clamp(std::trunc(progress), 0.0f, 65535.0f));
}

void appendProgressRecord(std::vector<uint8_t>& out, int startFieldId, uint32_t recorded, uint32_t requested) {
    putU16(out, 0);
    putU16(out, static_cast<uint16_t>(uint32_t(startFieldId) + recorded));
    putU16(out, acquisitionProgress(recorded, requested));
}

void appendFieldHeader(std::vector<uint8_t>& out, int fieldNumber, const Timecode* timecode, bool images,
                       bool centroids) {
    putU16(out, static_cast<uint16_t>(fieldNumber));
    if (timecode) appendTimecodeRecord(out, *timecode);
    putU8(out, images ? '1' : '0');
    putU8(out, centroids ? '1' : '0');
}

bool isSendableImage(const ImageView& image) {
    if (image.width < 0 || image.height < 0 || image.width > maxSide || image.height > maxSide) return false;
    return image.pixels != nullptr || image.width == 0 || image.height == 0;
}

uint64_t appendImageHeader(std::vector<uint8_t>& out, const ImageView& image) {
    bool sendable = isSendableImage(image);
    uint16_t width = sendable ? static_cast<uint16_t>(image.width) : 0;
    uint16_t height = sendable ? static_cast<uint16_t>(image.height) : 0;
    putU16(out, width);
    putU16(out, height);
    return uint64_t(width) * height;
}

void appendCentroidBlock(std::vector<uint8_t>& out, const Centroid* centroids, int count) {
    int sent = std::clamp(count, 0, maxAcquiredCentroids);
    putU16(out, centroidMarker);
    putU16(out, static_cast<uint16_t>((3 * sent + 1) * 2));
    putU16(out, static_cast<uint16_t>(sent));
    size_t start = out.size();
    out.resize(start + size_t(sent) * 6);
    uint8_t* at = out.data() + start;
    for (int i = 0; i < sent; ++i) {
        at = storeU16(at, centroids[i].x);
        at = storeU16(at, centroids[i].y);
        at = storeU16(at, centroids[i].flags);
    }
}

}  // namespace RyStoreProtocol
