#pragma once
// The data a frameyard server sends, as a client holds it once decoded: realtime frames,
// live-feature frames, acquired fields and circular masks. Coordinates are display units: a
// 512-unit space centred at (256, 256) into which every camera's image is scaled.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "frameyard/client/api.h"

namespace frameyard {

// The low byte of each of the host's four timecode components, in the host's order
// (hours, minutes, seconds, frames for a host that counts that way).
using Timecode = std::array<uint8_t, 4>;

// "hh:mm:ss:ff": each component as a decimal number of at least two digits.
FRAMEYARD_CLIENT_API std::string formatTimecode(const Timecode& timecode);

// One blob centroid of a realtime frame.
struct Centroid {
    float x = 0, y = 0;   // display units
    uint16_t flags = 0;   // 1 for every centroid the server produces; 0 in the compact form
};

// The centroids of one camera of a frame, pointing into the frame's storage.
class CentroidSpan {
public:
    CentroidSpan() = default;
    CentroidSpan(const Centroid* first, size_t count) : first_(first), count_(count) {}
    const Centroid* begin() const { return first_; }
    const Centroid* end() const { return first_ + count_; }
    const Centroid* data() const { return first_; }
    size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    const Centroid& operator[](size_t index) const { return first_[index]; }

private:
    const Centroid* first_ = nullptr;
    size_t count_ = 0;
};

// One realtime frame: per camera of the session's list, in list order, its centroids. The
// storage is reused from frame to frame when the same object is decoded into again.
class FRAMEYARD_CLIENT_API Frame {
public:
    std::optional<Timecode> timecode;

    size_t cameraCount() const { return offsets_.empty() ? 0 : offsets_.size() - 1; }
    CentroidSpan camera(size_t position) const {
        return CentroidSpan(centroids_.data() + offsets_[position], offsets_[position + 1] - offsets_[position]);
    }
    size_t centroidCount() const { return offsets_.empty() ? 0 : offsets_.back(); }
    // Every camera's centroids one after the other, in camera order.
    CentroidSpan allCentroids() const { return CentroidSpan(centroids_.data(), centroidCount()); }

    // Building a frame (decoders and tests).
    void clear();
    // Appends a camera of `count` centroids and returns where to write them.
    Centroid* addCamera(size_t count);

private:
    // Storage only grows: a frame decoded into it again writes over the old centroids instead of
    // clearing and filling them anew.
    std::vector<Centroid> centroids_;
    std::vector<size_t> offsets_;
};

// The three values of one run segment, in wire order. The server takes them from the host's
// segment record {first, second, third} as value1 = second, value2 = first, value3 = third;
// what they mean is the host's (for a host whose records are {row, first column, last column}:
// value1 the first column, value2 the row, value3 the last column, in image pixels).
struct Segment {
    uint16_t value1 = 0, value2 = 0, value3 = 0;
};

struct LiveImage {
    uint16_t width = 0;
    uint16_t height = 0;
    std::vector<uint8_t> pixels;   // width x height grey levels, row by row
};

// One live-feature frame of the selected camera.
struct LiveFrame {
    std::optional<Timecode> timecode;
    std::optional<LiveImage> image;
    std::vector<Segment> segments;
};

// A recording's progress as the server reports it while it records.
struct AcquireProgress {
    uint16_t fieldNumber = 0;  // start field id + fields recorded so far (16 bits, wraps)
    uint16_t value = 0;        // fields recorded / fields requested x 65535, truncated
    double fraction() const { return value / 65535.0; }
};

// A centroid of an acquired field: fixed point, display units x 128.
struct AcquiredCentroid {
    uint16_t x = 0, y = 0;
    uint16_t flags = 0;
    float displayX() const { return x / 128.0f; }
    float displayY() const { return y / 128.0f; }
};

struct AcquiredCamera {
    uint16_t width = 0, height = 0;
    std::vector<uint8_t> pixels;                // empty unless the field carries images
    std::vector<AcquiredCentroid> centroids;    // empty unless the field carries centroids
};

struct AcquiredField {
    uint16_t number = 0;                  // start field id + field index
    std::optional<Timecode> timecode;
    bool images = false;
    bool centroids = false;
    std::vector<AcquiredCamera> cameras;  // one per camera when the field carries anything
};

// A circle in display coordinates inside which the server drops centroids.
struct CircularMask {
    float x = 0, y = 0, radius = 0;
    bool operator==(const CircularMask& other) const {
        return x == other.x && y == other.y && radius == other.radius;
    }
};
// One mask list per camera, in host camera order.
using MaskTable = std::vector<std::vector<CircularMask>>;

}  // namespace frameyard
