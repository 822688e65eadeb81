#include "server/full/live_images.h"

#include <climits>

#include "protocol/common/byte_order.h"
#include "server/host_adapters.h"

namespace store {

void LiveImages::setFeaturesWanted(int camera, bool on) {
    setSortedMember(wanted, camera, on);
    host.setCameraFeaturesWanted(camera, on);
}

void LiveImages::run() {
    if (wanted.isEmpty()) return;
    // A copy: sessions may change the selection while images are handed out. It is kept between
    // passes, so that it takes no allocation while the selection stays as it is.
    handing = wanted;
    for (int camera : handing) {
        if (!host.cameraImageAvailable(camera)) continue;
        handOver(camera, host.cameraImage(camera));
        host.releaseCameraImage(camera);
    }
}

void LiveImages::handOver(int camera, const Server::Image& image) {
    SegmentsWrapper segments(image.segments);
    RyStoreProtocol::ImageView view;
    bool hasPixels = image.pixels != nullptr;
    if (hasPixels) {
        view.width = host.cameraImageWidth(camera);
        view.height = host.cameraImageHeight(camera);
        view.pixels = image.pixels->data();
        // Pixels are read width x height bytes far: a buffer shorter than that is not sent.
        size_t needed = view.width > 0 && view.height > 0 ? size_t(view.width) * size_t(view.height) : 0;
        if (image.pixels->size() < needed) hasPixels = false;
    }
    RyStoreProtocol::Timecode timecode{};
    if (image.timecode)
        for (size_t i = 0; i < timecode.size(); ++i) timecode[i] = static_cast<uint32_t>(image.timecode[i]);
    clients.distributeLiveFeatImage(camera, segments, hasPixels ? &view : nullptr, image.timecode ? &timecode : nullptr);
}

// ---- SegmentsWrapper

int SegmentsWrapper::segmentCount() const {
    if (!segments) return 0;
    return segments->size() > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(segments->size());
}

uint8_t* SegmentsWrapper::storeSegments(uint8_t* out, int count) const {
    const Server::Segment* records = segments ? segments->data() : nullptr;
    for (int i = 0; i < count; ++i) {
        const unsigned int* values = records[i].values;
        out = RyStoreProtocol::storeU16(out, static_cast<uint16_t>(values[1]));
        out = RyStoreProtocol::storeU16(out, static_cast<uint16_t>(values[0]));
        out = RyStoreProtocol::storeU16(out, static_cast<uint16_t>(values[2]));
    }
    return out;
}

}  // namespace store
