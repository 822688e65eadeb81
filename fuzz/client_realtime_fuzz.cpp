// Feeds a hostile server's bytes to the client's realtime decoder: the first byte chooses the
// stream's form (compact, timecodes, tagged, handshake, camera count), the second the size of
// the pieces they arrive in. Nothing may crash or allocate beyond the decoder's limits, and
// pieces must decode as the whole does.
#include <cstddef>
#include <cstdint>

#include "client_stream_feed.h"
#include "frameyard/client/decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    frameyard::RealtimeFormat format;
    format.compact = data[0] & 1;
    format.timecodes = data[0] & 2;
    format.tagged = data[0] & 4;
    format.handshake = data[0] & 8;
    format.cameras = data[0] >> 4;
    size_t piece = data[1];
    checkPiecesAgreeWithWhole(data + 2, size - 2, piece, [&] {
        return [decoder = frameyard::RealtimeDecoder(format), item = frameyard::RealtimeItem(),
                frame = frameyard::Frame()](const uint8_t* bytes, size_t count) mutable {
            size_t used = decoder.decode(bytes, count, item, frame);
            if (used > 0 && item.kind == frameyard::RealtimeItem::Kind::frame && !decoder.format().tagged &&
                frame.cameraCount() != decoder.format().cameras)
                std::abort();
            return used;
        };
    });
    return 0;
}
