// Feeds a hostile server's bytes to the client's configure decoders: the first byte chooses
// which answer is read. A mask table that decodes must encode to bytes that decode to it again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "frameyard/client/decoders.h"
#include "frameyard/client/error.h"
#include "frameyard/client/requests.h"

namespace {

bool sameBits(const frameyard::MaskTable& a, const frameyard::MaskTable& b) {
    if (a.size() != b.size()) return false;
    for (size_t c = 0; c < a.size(); ++c) {
        if (a[c].size() != b[c].size()) return false;
        if (!a[c].empty() && std::memcmp(a[c].data(), b[c].data(), a[c].size() * sizeof a[c][0]) != 0) return false;
    }
    return true;
}

void checkMaskTable(const std::vector<uint8_t>& bytes) {
    auto table = frameyard::decodeMaskTable(bytes.data(), bytes.size());
    if (!table) return;
    std::vector<uint8_t> encoded = frameyard::encodeMaskTable(*table);
    auto again = frameyard::decodeMaskTable(encoded.data(), encoded.size());
    if (!again || !sameBits(*table, *again)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    std::vector<uint8_t> bytes(data + 1, data + size);   // exactly the answer's bytes, on the heap
    size_t used = 0;
    try {
        switch (data[0] % 5) {
        case 0: {
            frameyard::AspectAnswer answer;
            used = frameyard::decodeAspect(bytes.data(), bytes.size(), answer);
            break;
        }
        case 1: {
            frameyard::CameraCountAnswer answer;
            used = frameyard::decodeCameraCount(bytes.data(), bytes.size(), answer);
            break;
        }
        case 2: {
            std::vector<int> thresholds;
            used = frameyard::decodeThresholds(bytes.data(), bytes.size(), thresholds);
            if (used > 0 && used != 2 + 2 * thresholds.size()) std::abort();
            break;
        }
        case 3: {
            std::string text;
            used = frameyard::decodeSized(bytes.data(), bytes.size(), text);
            if (used > 0 && used != 4 + text.size()) std::abort();
            break;
        }
        default:
            checkMaskTable(bytes);
        }
    } catch (const frameyard::ProtocolError&) {
    }
    if (used > bytes.size()) std::abort();
    return 0;
}
