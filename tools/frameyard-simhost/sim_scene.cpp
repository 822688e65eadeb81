#include "tools/frameyard-simhost/sim_scene.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace simhost {
namespace {

// A small fixed generator: the scene must be the same on every run and every machine.
class Sequence {
public:
    explicit Sequence(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    double unit() {   // in [0, 1)
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return static_cast<double>((state * 0x2545F4914F6CDD1Dull) >> 11) / 9007199254740992.0;
    }
    double between(double low, double high) { return low + (high - low) * unit(); }

private:
    uint64_t state;
};

}  // namespace

Scene::Scene(int cameraCount, int width, int height, int blobsPerCamera, double framesPerSecond)
    : imageWidth(width), imageHeight(height), fps(framesPerSecond), paths(static_cast<size_t>(cameraCount)) {
    for (int camera = 0; camera < cameraCount; ++camera) {
        Sequence random(static_cast<uint64_t>(camera) + 17);
        for (int i = 0; i < blobsPerCamera; ++i) {
            Path p{};
            p.radius = static_cast<float>(random.between(3.0, 8.0));
            float margin = p.radius + 2.0f;
            p.centreX = static_cast<float>(random.between(0.3, 0.7) * width);
            p.centreY = static_cast<float>(random.between(0.3, 0.7) * height);
            float roomX = std::min(p.centreX, static_cast<float>(width) - p.centreX) - margin;
            float roomY = std::min(p.centreY, static_cast<float>(height) - p.centreY) - margin;
            p.amplitudeX = std::max(0.0f, roomX) * static_cast<float>(random.between(0.3, 1.0));
            p.amplitudeY = std::max(0.0f, roomY) * static_cast<float>(random.between(0.3, 1.0));
            // Slow enough that a blob moves a few pixels per frame at 100 frames/s.
            p.frequencyX = random.between(0.03, 0.25);
            p.frequencyY = random.between(0.03, 0.25);
            p.phaseX = random.between(0.0, 2 * std::numbers::pi);
            p.phaseY = random.between(0.0, 2 * std::numbers::pi);
            p.brightness = static_cast<int>(random.between(150.0, 256.0));
            paths[static_cast<size_t>(camera)].push_back(p);
        }
    }
}

std::vector<Blob> Scene::blobs(int camera, uint64_t frame) const {
    std::vector<Blob> out;
    if (camera < 0 || static_cast<size_t>(camera) >= paths.size()) return out;
    double t = static_cast<double>(frame) / fps;
    for (const Path& p : paths[static_cast<size_t>(camera)]) {
        Blob b;
        b.x = p.centreX + p.amplitudeX * static_cast<float>(std::sin(2 * std::numbers::pi * p.frequencyX * t + p.phaseX));
        b.y = p.centreY + p.amplitudeY * static_cast<float>(std::sin(2 * std::numbers::pi * p.frequencyY * t + p.phaseY));
        b.radius = p.radius;
        b.brightness = p.brightness;
        out.push_back(b);
    }
    return out;
}

std::vector<int> Scene::timecode(uint64_t frame) const {
    auto perSecond = static_cast<uint64_t>(std::max(1.0, std::round(fps)));
    uint64_t seconds = frame / perSecond;
    return {static_cast<int>(seconds / 3600 % 24), static_cast<int>(seconds / 60 % 60),
            static_cast<int>(seconds % 60), static_cast<int>(frame % perSecond)};
}

std::vector<Run> Scene::runs(const std::vector<Blob>& visible) const { return blobRuns(visible, imageWidth, imageHeight); }

void Scene::render(const std::vector<Blob>& visible, std::vector<unsigned char>& pixels) const {
    renderBlobs(visible, imageWidth, imageHeight, pixels);
}

std::vector<Run> blobRuns(const std::vector<Blob>& visible, int imageWidth, int imageHeight) {
    std::vector<Run> all;
    for (const Blob& b : visible) {
        int top = std::max(0, static_cast<int>(std::ceil(b.y - b.radius)));
        int bottom = std::min(imageHeight - 1, static_cast<int>(std::floor(b.y + b.radius)));
        for (int row = top; row <= bottom; ++row) {
            float dy = static_cast<float>(row) - b.y;
            float half = std::sqrt(std::max(0.0f, b.radius * b.radius - dy * dy));
            int first = std::max(0, static_cast<int>(std::ceil(b.x - half)));
            int last = std::min(imageWidth - 1, static_cast<int>(std::floor(b.x + half)));
            if (first <= last) all.push_back({static_cast<unsigned>(row), static_cast<unsigned>(first), static_cast<unsigned>(last)});
        }
    }
    std::sort(all.begin(), all.end(), [](const Run& a, const Run& b) {
        return a.row != b.row ? a.row < b.row : a.first < b.first;
    });
    std::vector<Run> merged;
    for (const Run& r : all) {
        if (!merged.empty() && merged.back().row == r.row && r.first <= merged.back().last + 1) {
            merged.back().last = std::max(merged.back().last, r.last);
        } else {
            merged.push_back(r);
        }
    }
    return merged;
}

void renderBlobs(const std::vector<Blob>& visible, int imageWidth, int imageHeight, std::vector<unsigned char>& pixels) {
    pixels.assign(static_cast<size_t>(imageWidth) * static_cast<size_t>(imageHeight), 12);
    // Drawn along each blob's own runs, so that the picture and the segments agree pixel for pixel.
    for (const Blob& b : visible) {
        for (const Run& run : blobRuns({b}, imageWidth, imageHeight)) {
            for (unsigned col = run.first; col <= run.last; ++col) {
                float dx = static_cast<float>(col) - b.x, dy = static_cast<float>(run.row) - b.y;
                float d2 = std::min(1.0f, (dx * dx + dy * dy) / (b.radius * b.radius));
                auto value = static_cast<unsigned char>(std::clamp(b.brightness * (1.0f - 0.5f * d2), 13.0f, 255.0f));
                unsigned char& pixel = pixels[run.row * static_cast<size_t>(imageWidth) + col];
                pixel = std::max(pixel, value);
            }
        }
    }
}

}  // namespace simhost
