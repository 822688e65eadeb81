#pragma once
// A recording played back as the host's cameras: their names, sizes, thresholds and settings as
// recorded, and the recorded frames with their timecodes at the recorded pace, X times it, or
// as fast as the host's loop asks (speed 0). Each run of frames starts from the first frame.
#include <string>
#include <vector>

#include "tools/frameyard-simhost/frame_source.h"
#include "tools/recording/recording.h"

namespace simhost {

struct ReplayOptions {
    bool loop = false;
    double speed = 1.0;   // 0: no pacing
};

class ReplayScene : public FrameSource {
public:
    // Throws fyrec::RecordingError when the recording holds no frame.
    ReplayScene(const fyrec::Recording& recording, const ReplayOptions& options);

    size_t recordedFrames() const { return frames.size(); }
    // True once every recorded frame was served and the replay does not loop.
    bool finished(uint64_t lastServed) const { return !options.loop && lastServed >= frames.size(); }

    std::vector<CameraSetup> cameras() const override { return setups; }
    void startFrames(Clock::time_point now) override { start = now; }
    std::optional<uint64_t> frameDue(Clock::time_point now, std::optional<uint64_t> last) const override;
    uint64_t frameAt(Clock::time_point now) const override;
    std::vector<Blob> blobs(int camera, uint64_t frame) const override;
    store::Server::Timecode timecode(uint64_t frame) const override;
    float frameRate(uint64_t frame) const override;
    float timecodeRate(uint64_t frame) const override;
    bool simulatesBrightness() const override { return false; }

private:
    struct Frame {
        double seconds;   // since the first recorded frame
        store::Server::Timecode timecode;
        std::vector<std::vector<Blob>> cameras;
    };
    struct Rate {
        double seconds;
        float value;
    };

    // Host frame 0 is a lead-in copy of the first recorded frame; host frame k >= 1 is the
    // recorded frame (k - 1) modulo the count.
    size_t recordedIndex(uint64_t frame) const;
    // When host frame k is due, in seconds after startFrames().
    double dueSeconds(uint64_t frame) const;
    static float rateAt(const std::vector<Rate>& rates, double seconds, float fallback);

    ReplayOptions options;
    std::vector<CameraSetup> setups;
    std::vector<Frame> frames;
    std::vector<Rate> frameRates, timecodeRates;
    double period = 0;   // one pass through the recording, the gap before the wrap included
    Clock::time_point start;
};

}  // namespace simhost
