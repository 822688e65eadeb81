#include "tools/frameyard-stress/stream_check.h"

#include <algorithm>
#include <cmath>

namespace stress {
namespace {

constexpr double day = 86400.0;
constexpr double bucketSeconds = 10e-6;
constexpr size_t bucketCount = 1000000;

}  // namespace

int64_t frameIndex(const std::array<uint8_t, 4>& timecode, int fps) {
    int64_t seconds = (int64_t{timecode[0]} * 60 + timecode[1]) * 60 + timecode[2];
    return seconds * fps + timecode[3];
}

double stampSeconds(const std::array<uint8_t, 4>& timecode, int fps) {
    return (timecode[0] * 60.0 + timecode[1]) * 60.0 + timecode[2] + static_cast<double>(timecode[3]) / fps;
}

double secondsLate(double nowOfDay, double stampOfDay) {
    double late = nowOfDay - stampOfDay;
    if (late < -day / 2) late += day;
    if (late > day / 2) late -= day;
    return late;
}

void SequenceCheck::frame(const std::array<uint8_t, 4>& timecode) {
    int64_t index = frameIndex(timecode, fps_) + dayOffset_;
    int64_t framesPerDay = static_cast<int64_t>(day) * fps_;
    // Hours wrap at 24: a jump back by most of a day is the next day's frame.
    if (last_ >= first_ && index < last_ - framesPerDay / 2) {
        dayOffset_ += framesPerDay;
        index += framesPerDay;
    }
    ++received_;
    if (last_ < first_) {
        first_ = last_ = index;
        return;
    }
    if (index <= last_) {
        ++disordered_;
        return;
    }
    lost_ += static_cast<uint64_t>(index - last_ - 1);
    last_ = index;
}

LatencyHistogram::LatencyHistogram() : buckets_(bucketCount, 0) {}

void LatencyHistogram::add(double seconds) {
    if (!(seconds >= 0)) seconds = 0;  // a clock step back; NaN too
    double slot = std::floor(seconds / bucketSeconds);
    ++buckets_[slot >= bucketCount ? bucketCount - 1 : static_cast<size_t>(slot)];
    ++count_;
    max_ = std::max(max_, seconds);
}

double LatencyHistogram::quantile(double q) const {
    if (count_ == 0) return 0;
    uint64_t rank = static_cast<uint64_t>(std::ceil(q * static_cast<double>(count_)));
    if (rank == 0) rank = 1;
    uint64_t seen = 0;
    for (size_t i = 0; i < buckets_.size(); ++i) {
        seen += buckets_[i];
        // The bucket's upper edge, never past the largest value seen.
        if (seen >= rank) return std::min(static_cast<double>(i + 1) * bucketSeconds, max_);
    }
    return max_;
}

}  // namespace stress
