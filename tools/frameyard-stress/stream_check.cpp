#include "tools/frameyard-stress/stream_check.h"

#include <algorithm>
#include <cmath>

namespace stress {
namespace {

constexpr uint16_t maxCentroids = 2000;
constexpr uint32_t maxItem = 64u * 1024 * 1024;
constexpr double day = 86400.0;
constexpr double bucketSeconds = 10e-6;
constexpr size_t bucketCount = 1000000;

}  // namespace

StreamScanner::StreamScanner(fyclient::RealtimeOptions options, int cameraCount)
    : options_(options), cameraCount_(cameraCount) {}

StreamScanner::Result StreamScanner::untaggedFrameLength(const uint8_t* data, size_t size, size_t& length) const {
    size_t at = options_.timecodes ? 5 : 0;
    size_t centroid = options_.compact ? 4 : 10;
    for (int camera = 0; camera < cameraCount_; ++camera) {
        if (size < at + 2) return Result::incomplete;
        uint16_t count = fyclient::loadU16(data + at);
        if (count > maxCentroids) return Result::malformed;
        at += 2 + count * centroid;
    }
    if (size < at) return Result::incomplete;
    length = at;
    return Result::item;
}

StreamScanner::Result StreamScanner::next(const uint8_t* data, size_t size, size_t& used,
                                          fyclient::RealtimeItem& item) const {
    if (size == 0) return Result::incomplete;
    const uint8_t* body = data;
    size_t bodyLength = 0;
    bool message = false;
    if (options_.tagged || data[0] == 'm') {
        // A tag and a u32 length; untagged frames never start with 'm' (a camera count's high
        // byte is at most 7, a timecode record starts with 't').
        if (data[0] != 'm' && data[0] != 'f') return Result::malformed;
        if (size < 5) return Result::incomplete;
        message = data[0] == 'm';
        bodyLength = fyclient::loadU32(data + 1);
        if (bodyLength > maxItem) return Result::malformed;
        if (size < 5 + bodyLength) return Result::incomplete;
        body = data + 5;
        used = 5 + bodyLength;
    } else {
        Result found = untaggedFrameLength(data, size, bodyLength);
        if (found != Result::item) return found;
        used = bodyLength;
    }
    item = fyclient::RealtimeItem{};
    item.isMessage = message;
    if (message) {
        item.message.assign(reinterpret_cast<const char*>(body), bodyLength);
        return Result::item;
    }
    try {
        item.frame = fyclient::parseFrameBody(body, bodyLength, options_.compact, options_.timecodes,
                                              options_.tagged ? -1 : cameraCount_);
    } catch (const fyclient::ClientError&) {
        return Result::malformed;
    }
    return Result::item;
}

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
