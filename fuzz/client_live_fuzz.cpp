// Feeds a hostile server's bytes to the client's live-feature decoder, whole and in pieces
// whose size the first byte chooses. Images must hold exactly width x height pixels.
#include <cstddef>
#include <cstdint>

#include "client_stream_feed.h"
#include "frameyard/client/decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    checkPiecesAgreeWithWhole(data + 1, size - 1, data[0], [] {
        return [decoder = frameyard::LiveDecoder(), item = frameyard::LiveItem()](const uint8_t* bytes,
                                                                                   size_t count) mutable {
            size_t used = decoder.decode(bytes, count, item);
            if (used > 0 && item.kind == frameyard::LiveItem::Kind::frame && item.frame.image &&
                item.frame.image->pixels.size() != size_t(item.frame.image->width) * item.frame.image->height)
                std::abort();
            return used;
        };
    });
    return 0;
}
