#pragma once
// How the client decoder targets feed a hostile server's bytes: once whole, and once as they
// might arrive, in pieces of a size the input chooses. Both runs must take the same items and
// the same bytes and fail at the same point: a decoder that took bytes it had not checked, or
// read differently when an item came in pieces, breaks that.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "frameyard/client/error.h"

struct FeedResult {
    size_t items = 0;
    size_t used = 0;
    bool failed = false;
    bool operator==(const FeedResult& other) const {
        return items == other.items && used == other.used && failed == other.failed;
    }
};

// `decode(data, size)` decodes one item and returns the bytes it took (0: more needed); a
// fresh decoder per run comes from `makeDecode`.
template <class MakeDecode>
FeedResult feedInPieces(const uint8_t* data, size_t size, size_t piece, MakeDecode makeDecode) {
    auto decode = makeDecode();
    FeedResult result;
    std::vector<uint8_t> arrived;   // exactly the bytes that have arrived, on the heap
    size_t offered = 0;
    try {
        while (offered < size) {
            size_t next = std::min(size - offered, piece);
            arrived.insert(arrived.end(), data + offered, data + offered + next);
            offered += next;
            for (;;) {
                std::vector<uint8_t> exact(arrived.begin() + static_cast<std::ptrdiff_t>(result.used), arrived.end());
                if (exact.empty()) break;
                size_t used = decode(exact.data(), exact.size());
                if (used == 0) break;
                if (used > exact.size()) std::abort();
                result.used += used;
                ++result.items;
            }
        }
    } catch (const frameyard::ProtocolError&) {
        result.failed = true;
    }
    return result;
}

template <class MakeDecode>
void checkPiecesAgreeWithWhole(const uint8_t* data, size_t size, size_t piece, MakeDecode makeDecode) {
    FeedResult whole = feedInPieces(data, size, size == 0 ? 1 : size, makeDecode);
    FeedResult pieces = feedInPieces(data, size, piece == 0 ? 1 : piece, makeDecode);
    // A failure found in pieces may come before items the whole run still decoded after the
    // bad bytes; without one, both runs must agree exactly.
    if (!whole.failed && !pieces.failed && !(whole == pieces)) std::abort();
    if (whole.failed != pieces.failed) std::abort();
}
