#pragma once
// A run of bytes owned elsewhere: one piece of a gathered write, or what a queue lends out.
#include <cstddef>
#include <cstdint>

struct LuBytePiece {
    const uint8_t* data;
    size_t length;
};

// The bytes of `count` pieces together.
inline size_t totalLength(const LuBytePiece* pieces, size_t count) {
    size_t total = 0;
    for (size_t i = 0; i < count; ++i) total += pieces[i].length;
    return total;
}
