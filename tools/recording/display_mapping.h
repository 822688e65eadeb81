#pragma once
// The display space clients see (512 units wide, centred at 256,256, the image scaled to fit
// 512 x 368) and the way back to image pixels. Every step is single precision, in the same
// order as the server computes it, so that pixels taken back and sent again give the same
// display values within a float's last bit.
namespace fyrec {

struct DisplayRegion {
    float left = 0, right = 0, top = 0, bottom = 0;
};

class DisplayMapping {
public:
    DisplayMapping(int width, int height) : scale_(scaleFor(width, height)),
        halfWidth_(static_cast<float>(width / 2)), halfHeight_(static_cast<float>(height / 2)),
        width_(width), height_(height) {}

    float scale() const { return scale_; }
    float toDisplayX(float x) const { return (x - halfWidth_) * scale_ + 256.0f; }
    float toDisplayY(float y) const { return (y - halfHeight_) * scale_ + 256.0f; }
    float toPixelX(float x) const { return (x - 256.0f) / scale_ + halfWidth_; }
    float toPixelY(float y) const { return (y - 256.0f) / scale_ + halfHeight_; }

    // The whole image in display units, as a camera description states it.
    DisplayRegion region() const {
        return {toDisplayX(0.0f), toDisplayX(static_cast<float>(width_)), toDisplayY(0.0f),
                toDisplayY(static_cast<float>(height_))};
    }

private:
    // 512 / w in single precision; 368 / h in double and then rounded, as the server does. A
    // dimension that is not positive does not limit the scale.
    static float scaleFor(int width, int height) {
        float byWidth = width > 0 ? 512.0f / static_cast<float>(width) : 0.0f;
        float byHeight = height > 0 ? static_cast<float>(368.0 / height) : 0.0f;
        if (width > 0 && height > 0) return byWidth < byHeight ? byWidth : byHeight;
        if (width > 0) return byWidth;
        if (height > 0) return byHeight;
        return 1.0f;
    }

    float scale_;
    float halfWidth_;
    float halfHeight_;
    int width_;
    int height_;
};

// The fixed-point value of the compact centroid form: 1/128 units, rounded half up.
// Values far outside the display space (never sent by a server) give 0 rather than overflow.
inline unsigned fixedPoint(float value) {
    double scaled = static_cast<double>(value * 128.0f) + 0.5;
    if (!(scaled > -1e15 && scaled < 1e15)) return 0;
    return static_cast<unsigned>(static_cast<long long>(scaled) & 0xFFFF);
}

}  // namespace fyrec
