#pragma once
// The records the server writes during an acquisition: progress while recording, and per
// recorded field its number, timecode, flags and per-camera image and centroid blocks.
#include <cstdint>
#include <vector>

#include "protocol/common/records.h"

namespace RyStoreProtocol {

// The most centroids one block carries: its byte length, (3n + 1) * 2, travels as u16.
constexpr int maxAcquiredCentroids = 10922;
// Written after the last field record.
constexpr uint16_t acquiredDataEnd = 0xFFFF;

// trunc(recorded / requested * 65535) in single precision; 0 when nothing was requested.
uint16_t acquisitionProgress(uint32_t recorded, uint32_t requested);

// u16 0, u16 start field id + recorded, u16 progress.
void appendProgressRecord(std::vector<uint8_t>& out, int startFieldId, uint32_t recorded, uint32_t requested);

// The field number, the timecode record when there is one, then the image and centroid flags
// ('1' or '0').
void appendFieldHeader(std::vector<uint8_t>& out, int fieldNumber, const Timecode* timecode, bool images,
                       bool centroids);

// Whether the image can travel as it is: sides of 0 to 65535 and pixels for a non-empty
// picture. Any other image goes as 0 x 0, which keeps the stream readable.
bool isSendableImage(const ImageView& image);
// u16 width, u16 height of the image as sent; the number of pixel bytes that must follow.
uint64_t appendImageHeader(std::vector<uint8_t>& out, const ImageView& image);

// Marker 0xFFFF, u16 byte length, u16 count, then x, y, flags per centroid; blocks of more
// than maxAcquiredCentroids centroids keep the first ones.
void appendCentroidBlock(std::vector<uint8_t>& out, const Centroid* centroids, int count);

}  // namespace RyStoreProtocol
