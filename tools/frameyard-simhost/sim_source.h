#pragma once
// The simulated cameras as a frame source: the scene's blobs on the host's own clock, which runs
// from the start of the program (or from midnight) and skips frames the main loop was too late
// for (unless every frame is owed).
#include "tools/frameyard-simhost/frame_source.h"

namespace simhost {

struct HostOptions {
    int cameras = 4;
    int width = 640;
    int height = 480;
    int blobs = 20;
    double fps = 100.0;
    // Frames are numbered from midnight (UTC), so their timecodes read as the time of day and a
    // client on this machine can tell how late each one arrived; and every frame is handed out
    // in turn, a late main loop catching up rather than skipping frames.
    bool timeOfDay = false;
};

class SimSource : public FrameSource {
public:
    explicit SimSource(const HostOptions& options);

    std::vector<CameraSetup> cameras() const override;
    void startFrames(Clock::time_point) override {}
    std::optional<uint64_t> frameDue(Clock::time_point now, std::optional<uint64_t> last) const override;
    uint64_t frameAt(Clock::time_point now) const override;
    std::vector<Blob> blobs(int camera, uint64_t frame) const override { return scene.blobs(camera, frame); }
    store::Server::Timecode timecode(uint64_t frame) const override;
    float frameRate(uint64_t) const override { return static_cast<float>(options.fps); }
    float timecodeRate(uint64_t) const override { return static_cast<float>(options.fps); }
    bool simulatesBrightness() const override { return true; }

private:
    HostOptions options;
    Scene scene;
    Clock::time_point start;
};

}  // namespace simhost
