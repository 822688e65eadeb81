#include "tools/frameyard-simhost/sim_source.h"

#include <algorithm>

namespace simhost {

namespace {

// Now, or the last midnight (UTC) on the steady clock.
Clock::time_point clockStart(bool timeOfDay) {
    auto now = std::chrono::steady_clock::now();
    if (!timeOfDay) return now;
    auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    auto sinceMidnight = sinceEpoch - std::chrono::floor<std::chrono::days>(sinceEpoch);
    return now - std::chrono::duration_cast<std::chrono::steady_clock::duration>(sinceMidnight);
}

}  // namespace

SimSource::SimSource(const HostOptions& options)
    : options(options),
      scene(options.cameras, options.width, options.height, options.blobs, options.fps),
      start(clockStart(options.timeOfDay)) {}

std::vector<CameraSetup> SimSource::cameras() const {
    std::vector<CameraSetup> out;
    for (int i = 0; i < options.cameras; ++i) {
        out.push_back({"cam" + std::to_string(i + 1), options.width, options.height, 128,
                       {{"gain", 1.0f, 0.0f, 16.0f, 2}, {"exposure", 10.0f, 0.1f, 100.0f, 1}}});
    }
    return out;
}

uint64_t SimSource::frameAt(Clock::time_point now) const {
    std::chrono::duration<double> elapsed = now - start;
    return static_cast<uint64_t>(elapsed.count() * options.fps);
}

std::optional<uint64_t> SimSource::frameDue(Clock::time_point now, std::optional<uint64_t> last) const {
    uint64_t frame = frameAt(now);
    if (last && frame <= *last) return std::nullopt;
    // A late main loop catches up one frame at a time instead of skipping; frames produced
    // while nobody watched (no last frame in this run) are owed to no one.
    if (options.timeOfDay && last) return *last + 1;
    return frame;
}

store::Server::Timecode SimSource::timecode(uint64_t frame) const {
    std::vector<int> parts = scene.timecode(frame);
    store::Server::Timecode tc{0, 0, 0, 0};
    std::copy(parts.begin(), parts.end(), tc.begin());
    return tc;
}

}  // namespace simhost
