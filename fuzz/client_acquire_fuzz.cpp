// Feeds a hostile server's bytes to the client's acquisition decoder, from the camera count
// through arming, progress and the download. The first bytes choose the request (start field
// id, field count, what is asked for), when the client starts, and the piece size.
#include <cstddef>
#include <cstdint>

#include "client_stream_feed.h"
#include "frameyard/client/decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    frameyard::AcquireRequest request;
    request.startFieldId = data[0] & 1 ? 0 : uint16_t((data[1] << 8) | data[2]);
    request.fields = data[3];
    request.centroids = data[0] & 2;
    request.images = !request.centroids || (data[0] & 4);
    size_t startAfter = data[0] >> 4;   // items before the client's start byte
    checkPiecesAgreeWithWhole(data + 6, size - 6, data[4] | (data[5] << 8), [&] {
        return [decoder = frameyard::AcquireDecoder(request), item = frameyard::AcquireItem(), startAfter,
                items = size_t(0)](const uint8_t* bytes, size_t count) mutable {
            if (items == startAfter) decoder.started();
            size_t used = decoder.decode(bytes, count, item);
            if (used == 0) return used;
            ++items;
            if (item.kind == frameyard::AcquireItem::Kind::field) {
                const frameyard::AcquiredField& field = item.field;
                bool carries = field.images || field.centroids;
                if (field.cameras.size() != (carries ? decoder.cameraCount() : 0)) std::abort();
                for (const auto& camera : field.cameras) {
                    if (field.images && camera.pixels.size() != size_t(camera.width) * camera.height) std::abort();
                }
            }
            return used;
        };
    });
    return 0;
}
