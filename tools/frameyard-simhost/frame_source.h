#pragma once
// Where a SimHost's cameras and frames come from: the simulated scene, or a recording played
// back. The host keeps what clients change (thresholds, settings, masks); a source says what the
// cameras are at the start, which frame is due when, and what each camera sees in it.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "frameyard/server.h"
#include "tools/frameyard-simhost/sim_scene.h"

namespace simhost {

using Clock = std::chrono::steady_clock;

struct CameraSetup {
    std::string name;
    int width = 0, height = 0;
    int threshold = 128;
    std::vector<store::Server::NumberSetting> settings;
};

class FrameSource {
public:
    virtual ~FrameSource() = default;

    virtual std::vector<CameraSetup> cameras() const = 0;
    // The first realtime client arrived: the host starts producing frames.
    virtual void startFrames(Clock::time_point now) = 0;
    // The frame to serve at `now` when `last` was served before (none yet in this run of
    // frames: nullopt); nullopt while no new frame is due.
    virtual std::optional<uint64_t> frameDue(Clock::time_point now, std::optional<uint64_t> last) const = 0;
    // The newest frame at `now`, for live images and acquisitions.
    virtual uint64_t frameAt(Clock::time_point now) const = 0;
    virtual std::vector<Blob> blobs(int camera, uint64_t frame) const = 0;
    virtual store::Server::Timecode timecode(uint64_t frame) const = 0;
    // The frame and timecode rates in force at that frame, as the host announces them.
    virtual float frameRate(uint64_t frame) const = 0;
    virtual float timecodeRate(uint64_t frame) const = 0;
    // True when blobs dim with the camera's threshold, gain and exposure; recorded blobs were
    // already thresholded by the host that saw them.
    virtual bool simulatesBrightness() const = 0;
};

}  // namespace simhost
