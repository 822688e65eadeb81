#pragma once
// The payload of a PREFIX.frames message, little-endian so that consumers on any common machine
// read it without swapping: u32 camera count, then per camera u32 K and K x (f32 x, f32 y).
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <frameyard/client.h>

namespace bridge {

// Replaces `out` with the frame's payload (its storage is reused from frame to frame).
void encodeFramePayload(const frameyard::Frame& frame, std::string& out);

struct Point {
    float x = 0, y = 0;
    bool operator==(const Point& other) const { return x == other.x && y == other.y; }
};
using DecodedFrame = std::vector<std::vector<Point>>;

// The cameras' points, or nullopt when the bytes are not exactly one payload.
std::optional<DecodedFrame> decodeFramePayload(std::string_view payload);

}  // namespace bridge
