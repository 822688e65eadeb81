#pragma once
// The simulated cameras' view: blobs moving on smooth closed paths, computed from the frame
// number alone, so that any frame can be produced again (live images, recorded fields).
#include <cstdint>
#include <vector>

namespace simhost {

struct Blob {
    float x = 0, y = 0;     // centre, image pixels
    float radius = 0;       // pixels
    int brightness = 0;     // 0..255 before gain
};

// A horizontal run of blob pixels on one image row.
struct Run {
    unsigned row = 0, first = 0, last = 0;   // inclusive columns
};

// Run segments of the given blobs in a width x height image, sorted by row and column, overlaps
// merged; and an 8-bit picture of them (row-major, width x height bytes) that agrees with them.
std::vector<Run> blobRuns(const std::vector<Blob>& visible, int width, int height);
void renderBlobs(const std::vector<Blob>& visible, int width, int height, std::vector<unsigned char>& pixels);

class Scene {
public:
    Scene(int cameraCount, int width, int height, int blobsPerCamera, double framesPerSecond);

    int width() const { return imageWidth; }
    int height() const { return imageHeight; }
    // Every blob of the camera at that frame, visible or not.
    std::vector<Blob> blobs(int camera, uint64_t frame) const;
    // Timecode hours, minutes, seconds, frames of a frame number.
    std::vector<int> timecode(uint64_t frame) const;

    // Run segments of the given blobs, sorted by row and column, overlaps merged.
    std::vector<Run> runs(const std::vector<Blob>& visible) const;
    // An 8-bit picture of the given blobs (row-major, width x height bytes).
    void render(const std::vector<Blob>& visible, std::vector<unsigned char>& pixels) const;

private:
    // Path parameters of one blob: a Lissajous figure around a centre.
    struct Path {
        float centreX, centreY, amplitudeX, amplitudeY;
        double frequencyX, frequencyY, phaseX, phaseY;
        float radius;
        int brightness;
    };

    int imageWidth, imageHeight;
    double fps;
    std::vector<std::vector<Path>> paths;
};

}  // namespace simhost
