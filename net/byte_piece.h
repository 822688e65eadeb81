#pragma once
// A run of bytes owned elsewhere: one piece of a gathered write, or what a queue lends out.
#include <cstddef>
#include <cstdint>

struct LuBytePiece {
    const uint8_t* data;
    size_t length;
};
