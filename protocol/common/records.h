#pragma once
// The protocol-side records that the host adapters build from the host's data and that the
// encoders and JSON writers read. All coordinates are display coordinates: a 512-unit space
// centred at (256, 256).
#include <array>
#include <cfloat>
#include <cstdint>

#include "toolkit/lu_str.h"

struct RyCircularMask {
    float x = 0.0f;
    float y = 0.0f;
    float radius = 0.0f;
    bool operator==(const RyCircularMask&) const = default;
};

struct RyRectangularMask {
    float x1 = 0.0f;
    float y1 = 0.0f;
    float x2 = 0.0f;
    float y2 = 0.0f;
    bool operator==(const RyRectangularMask&) const = default;
};

// A camera's image area in display coordinates; all-zero means "not given".
struct LuGlobImageRegion {
    float leftX = 0.0f;
    float rightX = 0.0f;
    float topY = 0.0f;
    float bottomY = 0.0f;
    // Field-wise float comparison, so a NaN field makes two regions unequal.
    bool operator==(const LuGlobImageRegion&) const = default;
};

namespace RyStoreProtocol {

// One blob centre as the glob lists hand it out.
struct GlobRecord {
    float x = 0.0f;
    float y = 0.0f;
    uint16_t flags = 1;
};

// Fixed-point centroid of acquired data: display coordinate in units of 1/128.
struct Centroid {
    uint16_t x = 0;
    uint16_t y = 0;
    uint16_t flags = 1;
    bool operator==(const Centroid&) const = default;
};

// Four timecode components in host order; only their low bytes travel on the wire.
using Timecode = std::array<uint32_t, 4>;

// An 8-bit picture borrowed from the host for the duration of one send.
struct ImageView {
    int32_t width = 0;
    int32_t height = 0;
    const unsigned char* pixels = nullptr;
};

class CameraSetting {
public:
    virtual ~CameraSetting() = default;
    LuStr name;
};

// A numeric camera setting with its optional range (unbounded = -DBL_MAX / +DBL_MAX) and
// display precision (0 = none given).
class NumberSetting : public CameraSetting {
public:
    double value = 0.0;
    int precision = 0;
    double minimum = -DBL_MAX;
    double maximum = DBL_MAX;
};

}  // namespace RyStoreProtocol
