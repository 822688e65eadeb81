#include "net/socket_interface.h"

#include <climits>

int RySocketInterface::writeGathered(const LuBytePiece* pieces, size_t count) {
    size_t total = 0;
    for (size_t i = 0; i < count; ++i) {
        size_t length = pieces[i].length;
        if (length > INT_MAX - total) length = INT_MAX - total;
        if (length == 0) continue;
        int written = write(pieces[i].data, length);
        if (written < 0) return total > 0 ? static_cast<int>(total) : -1;
        size_t taken = static_cast<size_t>(written) < length ? static_cast<size_t>(written) : length;
        total += taken;
        if (taken < pieces[i].length) break;
    }
    return static_cast<int>(total);
}
