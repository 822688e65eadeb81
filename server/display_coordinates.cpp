#include "server/display_coordinates.h"

namespace store {

namespace {
// 512 / w is a single-precision division; 368 / h has always been computed in double precision
// and rounded, which gives a different float for some heights.
float scaleFor(int width, int height) {
    bool useWidth = width > 0;
    bool useHeight = height > 0;
    float byWidth = useWidth ? 512.0f / static_cast<float>(width) : 0.0f;
    float byHeight = useHeight ? static_cast<float>(368.0 / height) : 0.0f;
    if (useWidth && useHeight) return byWidth < byHeight ? byWidth : byHeight;
    if (useWidth) return byWidth;
    if (useHeight) return byHeight;
    return 1.0f;
}
}  // namespace

DisplayScale::DisplayScale(int width, int height)
    : width_(width),
      height_(height),
      scale_(scaleFor(width, height)),
      halfWidth_(static_cast<float>(width / 2)),
      halfHeight_(static_cast<float>(height / 2)) {}

LuGlobImageRegion DisplayScale::imageRegion() const {
    LuGlobImageRegion region;
    region.leftX = toDisplayX(0.0f);
    region.rightX = toDisplayX(static_cast<float>(width_));
    region.topY = toDisplayY(0.0f);
    region.bottomY = toDisplayY(static_cast<float>(height_));
    return region;
}

RyRectangularMask DisplayScale::toDisplay(const HostInterface::RectangularMask& mask) const {
    RyRectangularMask out;
    out.x1 = toDisplayX(mask.x);
    out.y1 = toDisplayY(mask.y);
    out.x2 = toDisplayX(mask.x + mask.width);
    out.y2 = toDisplayY(mask.y + mask.height);
    return out;
}

HostInterface::RectangularMask DisplayScale::toPixels(const RyRectangularMask& mask) const {
    HostInterface::RectangularMask out;
    out.x = toPixelX(mask.x1);
    out.y = toPixelY(mask.y1);
    out.width = toPixelX(mask.x2) - out.x;
    out.height = toPixelY(mask.y2) - out.y;
    return out;
}

}  // namespace store
