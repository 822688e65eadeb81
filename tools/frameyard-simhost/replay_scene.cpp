#include "tools/frameyard-simhost/replay_scene.h"

#include <algorithm>
#include <cmath>

namespace simhost {
namespace {

// A handshaking client spends the first frame after its arrival on the start signal, and any
// frame before its answer is not sent to it: the lead-in frame and this pause keep the first
// recorded frame for the client.
constexpr double kLeadInSeconds = 0.25;
// Recorded centroids carry no size or brightness; live images draw them as small bright discs.
constexpr float kBlobRadius = 4.0f;
constexpr int kBlobBrightness = 255;
// Positions beyond this are damage, not data; they are dropped before any integer conversion.
constexpr float kFarOutside = 1e6f;

double seconds(uint64_t micros) { return static_cast<double>(micros) / 1e6; }

CameraSetup setupOf(const fyrec::CameraEntry& entry) {
    CameraSetup setup;
    setup.name = entry.name;
    setup.width = entry.width;
    setup.height = entry.height;
    setup.threshold = entry.threshold;
    for (const auto& s : entry.settings) setup.settings.push_back({s.name, s.value, s.minimum, s.maximum, s.precision});
    return setup;
}

}  // namespace

ReplayScene::ReplayScene(const fyrec::Recording& recording, const ReplayOptions& options)
    : options(options), start(Clock::now()) {
    if (recording.frames.empty()) throw fyrec::RecordingError("the recording holds no frame to replay");
    for (const auto& camera : recording.header.cameras) setups.push_back(setupOf(camera));
    uint64_t first = recording.frames.front().micros;
    for (const fyrec::FrameRecord& record : recording.frames) {
        Frame frame{seconds(record.micros - std::min(record.micros, first)), {0, 0, 0, 0}, {}};
        if (record.timecode) std::copy(record.timecode->begin(), record.timecode->end(), frame.timecode.begin());
        for (const auto& points : record.cameras) {
            std::vector<Blob> blobs;
            for (const fyrec::Point& p : points) {
                if (std::fabs(p.x) < kFarOutside && std::fabs(p.y) < kFarOutside) {
                    blobs.push_back({p.x, p.y, kBlobRadius, kBlobBrightness});
                }
            }
            frame.cameras.push_back(std::move(blobs));
        }
        frames.push_back(std::move(frame));
    }
    double last = frames.back().seconds;
    period = frames.size() > 1 ? last + last / static_cast<double>(frames.size() - 1) : 0.01;
    if (period <= 0) period = 0.01;
    for (const fyrec::RateRecord& rate : recording.rates) {
        auto& list = rate.kind == fyrec::RateRecord::Kind::frame ? frameRates : timecodeRates;
        list.push_back({seconds(rate.micros) - seconds(first), rate.rate});
    }
}

size_t ReplayScene::recordedIndex(uint64_t frame) const {
    if (frame == 0) return 0;
    uint64_t k = frame - 1;
    return options.loop ? static_cast<size_t>(k % frames.size()) : static_cast<size_t>(std::min<uint64_t>(k, frames.size() - 1));
}

double ReplayScene::dueSeconds(uint64_t frame) const {
    if (frame == 0) return 0.0;
    if (options.speed <= 0) return kLeadInSeconds;
    uint64_t pass = (frame - 1) / frames.size();
    return kLeadInSeconds + (frames[recordedIndex(frame)].seconds + static_cast<double>(pass) * period) / options.speed;
}

std::optional<uint64_t> ReplayScene::frameDue(Clock::time_point now, std::optional<uint64_t> last) const {
    uint64_t next = last ? *last + 1 : 0;
    if (!options.loop && next > frames.size()) return std::nullopt;
    // Every frame is served in turn, none skipped: a replay holds the recording's frames.
    if (std::chrono::duration<double>(now - start).count() < dueSeconds(next)) return std::nullopt;
    return next;
}

uint64_t ReplayScene::frameAt(Clock::time_point now) const {
    double elapsed = std::chrono::duration<double>(now - start).count() - kLeadInSeconds;
    if (elapsed < 0) return 0;
    double played = elapsed * (options.speed > 0 ? options.speed : 1.0);
    double passes = std::floor(played / period);
    if (!options.loop && passes >= 1) return frames.size();
    double within = played - passes * period;
    auto after = std::upper_bound(frames.begin(), frames.end(), within,
                                  [](double t, const Frame& f) { return t < f.seconds; });
    auto index = static_cast<uint64_t>(std::max<std::ptrdiff_t>(1, after - frames.begin()));
    return static_cast<uint64_t>(passes) * frames.size() + index;
}

std::vector<Blob> ReplayScene::blobs(int camera, uint64_t frame) const {
    const Frame& f = frames[recordedIndex(frame)];
    if (camera < 0 || static_cast<size_t>(camera) >= f.cameras.size()) return {};
    return f.cameras[static_cast<size_t>(camera)];
}

store::Server::Timecode ReplayScene::timecode(uint64_t frame) const { return frames[recordedIndex(frame)].timecode; }

float ReplayScene::rateAt(const std::vector<Rate>& rates, double seconds, float fallback) {
    if (rates.empty()) return fallback;
    // Rates are announced just after the first frames: the first one holds from the start.
    float value = rates.front().value;
    for (const Rate& r : rates) {
        if (r.seconds <= seconds) value = r.value;
    }
    return value;
}

float ReplayScene::frameRate(uint64_t frame) const {
    float measured = static_cast<float>(static_cast<double>(frames.size()) / period);
    return rateAt(frameRates, frames[recordedIndex(frame)].seconds, measured);
}

float ReplayScene::timecodeRate(uint64_t frame) const {
    return rateAt(timecodeRates, frames[recordedIndex(frame)].seconds, frameRate(frame));
}

}  // namespace simhost
