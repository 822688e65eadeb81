#pragma once
// The two centroid forms of realtime frames, written in place for whole lists. They run for
// every centroid of every frame to every view, so each loop carries no test that is the same
// for the whole list, and the compact form converts four centroids at a time where the machine
// has vector instructions for it.
#include <cstddef>
#include <cstdint>

#include "protocol/common/records.h"

namespace RyStoreProtocol {

// A display coordinate in units of 1/128 (the compact centroid form and acquired centroids).
// Coordinates outside 0..512, infinities and NaN still give a defined value: the low 16 bits
// of the truncated scaled value, and 0 for NaN and infinities.
uint16_t toFixedPoint(float coordinate);

// The bytes one centroid takes in either form.
inline size_t centroidBytes(bool compact) { return compact ? 4 : 10; }

// Each writes `count` records (none when count is not positive) from `at` on, big-endian, and
// returns the position after them. Full: x and y as f32, then the flags as u16 (10 bytes).
// Compact: x and y in fixed point (4 bytes).
uint8_t* storeFullCentroids(uint8_t* at, const GlobRecord* records, int count);
uint8_t* storeCompactCentroids(uint8_t* at, const GlobRecord* records, int count);

}  // namespace RyStoreProtocol
