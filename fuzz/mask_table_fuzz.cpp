// Feeds arbitrary bytes to the circular-mask table decoder. Nothing may be read outside the
// input, and a table that decodes must encode to bytes that decode to the same table again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "protocol/common/byte_order.h"
#include "protocol/configure/configure_handler.h"

namespace {

// Bitwise, so that NaN masks compare equal to themselves.
bool sameTable(const RyStoreProtocol::CircularMaskTable& a, const RyStoreProtocol::CircularMaskTable& b) {
    if (a.getSize() != b.getSize()) return false;
    for (int i = 0; i < a.getSize(); ++i) {
        if (a[i].getSize() != b[i].getSize()) return false;
        for (int k = 0; k < a[i].getSize(); ++k) {
            const RyCircularMask& x = a[i][k];
            const RyCircularMask& y = b[i][k];
            using RyStoreProtocol::floatBits;
            if (floatBits(x.x) != floatBits(y.x) || floatBits(x.y) != floatBits(y.y) ||
                floatBits(x.radius) != floatBits(y.radius))
                return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> exact(data, data + size);  // heap copy of exactly size bytes
    RyStoreProtocol::CircularMaskTable table;
    if (!RyStoreProtocol::decodeCircularMaskTable(exact.data(), exact.size(), table)) return 0;
    std::vector<uint8_t> encoded = RyStoreProtocol::encodeCircularMaskTable(table);
    RyStoreProtocol::CircularMaskTable again;
    if (!RyStoreProtocol::decodeCircularMaskTable(encoded.data(), encoded.size(), again)) std::abort();
    if (!sameTable(table, again)) std::abort();
    if (RyStoreProtocol::encodeCircularMaskTable(again) != encoded) std::abort();
    return 0;
}
