#pragma once
// How a camera's image pixels map onto the display space every client sees: 512 units wide,
// centred at (256, 256), scaled so that the whole image fits 512 x 368 units.

#include "protocol/common/records.h"
#include "server/host_interface.h"

namespace store {

// The mapping of one camera, taken from its current image size. All arithmetic is single
// precision so that clients see exactly the values they always have.
class DisplayScale {
public:
    // A dimension that is not positive does not limit the scale; a camera without any usable
    // dimension keeps pixel units (scale 1), so no conversion ever divides by zero.
    DisplayScale(int width, int height);

    float scale() const { return scale_; }

    float toDisplayX(float x) const { return (x - halfWidth_) * scale_ + 256.0f; }
    float toDisplayY(float y) const { return (y - halfHeight_) * scale_ + 256.0f; }
    float toPixelX(float x) const { return (x - 256.0f) / scale_ + halfWidth_; }
    float toPixelY(float y) const { return (y - 256.0f) / scale_ + halfHeight_; }

    // The whole image as a display region.
    LuGlobImageRegion imageRegion() const;
    // Corner to corner: (x, y) and (x + width, y + height).
    RyRectangularMask toDisplay(const HostInterface::RectangularMask& mask) const;
    HostInterface::RectangularMask toPixels(const RyRectangularMask& mask) const;
    // Any point with x and y in image pixels.
    template <class Point>
    RyStoreProtocol::GlobRecord toGlob(const Point& centroid) const {
        RyStoreProtocol::GlobRecord record;
        toGlobs(&centroid, 1, &record);
        return record;
    }
    // Any points with x and y in image pixels, `count` of them, into records. Inline, with the
    // mapping's values held apart from the records: it runs for every centroid of every frame.
    template <class Point>
    void toGlobs(const Point* points, size_t count, RyStoreProtocol::GlobRecord* records) const {
        const float scale = scale_, halfWidth = halfWidth_, halfHeight = halfHeight_;
        for (size_t i = 0; i < count; ++i) {
            records[i].x = (points[i].x - halfWidth) * scale + 256.0f;
            records[i].y = (points[i].y - halfHeight) * scale + 256.0f;
            records[i].flags = 1;
        }
    }

private:
    int width_;
    int height_;
    float scale_;
    float halfWidth_;
    float halfHeight_;
};

}  // namespace store
