#include "tools/recording/recording_summary.h"

#include <algorithm>
#include <cmath>

namespace fyrec {

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    auto rank = static_cast<size_t>(std::ceil(fraction * static_cast<double>(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

namespace {

std::optional<Jitter> jitterOf(const Recording& recording) {
    const auto& frames = recording.frames;
    if (frames.size() < 2) return std::nullopt;
    std::vector<double> gaps;
    for (size_t i = 1; i < frames.size(); ++i) {
        gaps.push_back(static_cast<double>(frames[i].micros - std::min(frames[i].micros, frames[i - 1].micros)) / 1e6);
    }
    Jitter jitter;
    // The last frame rate the server announced is the one the frames were meant to keep.
    for (const RateRecord& rate : recording.rates) {
        if (rate.kind == RateRecord::Kind::frame && rate.rate > 0) jitter.nominalInterval = 1.0 / rate.rate;
    }
    if (jitter.nominalInterval == 0) jitter.nominalInterval = percentile(gaps, 0.5);
    std::vector<double> deviations;
    for (double gap : gaps) deviations.push_back(std::fabs(gap - jitter.nominalInterval));
    jitter.p50 = percentile(deviations, 0.5);
    jitter.p99 = percentile(deviations, 0.99);
    return jitter;
}

}  // namespace

Summary summarize(const Recording& recording) {
    Summary summary;
    summary.frames = recording.frames.size();
    if (!recording.frames.empty()) {
        summary.seconds = static_cast<double>(recording.frames.back().micros - recording.frames.front().micros) / 1e6;
    }
    for (size_t c = 0; c < recording.header.cameras.size(); ++c) {
        CameraSummary camera;
        camera.name = recording.header.cameras[c].name;
        size_t total = 0;
        for (const FrameRecord& frame : recording.frames) {
            size_t n = c < frame.cameras.size() ? frame.cameras[c].size() : 0;
            camera.minCentroids = camera.frames == 0 ? n : std::min(camera.minCentroids, n);
            camera.maxCentroids = std::max(camera.maxCentroids, n);
            total += n;
            ++camera.frames;
        }
        camera.meanCentroids = camera.frames ? static_cast<double>(total) / static_cast<double>(camera.frames) : 0.0;
        summary.cameras.push_back(camera);
    }
    summary.jitter = jitterOf(recording);
    return summary;
}

}  // namespace fyrec
