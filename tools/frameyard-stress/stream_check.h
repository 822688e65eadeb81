#pragma once
// What a steady realtime client checks in what it receives: every frame in order and none
// missing (by its timecode), and how late each frame arrived when the host stamps frames with
// the time of day.
#include <array>
#include <cstdint>
#include <vector>


namespace stress {

// The position of a timecode in the host's frame sequence, at `fps` frames per second.
int64_t frameIndex(const std::array<uint8_t, 4>& timecode, int fps);
// The time of day, in seconds, that a timecode stands for.
double stampSeconds(const std::array<uint8_t, 4>& timecode, int fps);
// now - stamp, both times of day, across midnight as well.
double secondsLate(double nowOfDay, double stampOfDay);

// One client's frame sequence: every frame must follow the one before it.
class SequenceCheck {
public:
    explicit SequenceCheck(int fps) : fps_(fps) {}
    void frame(const std::array<uint8_t, 4>& timecode);
    // A frame without a timecode: it can only be counted.
    void untimedFrame() { ++received_; }

    // From the first frame seen to the last.
    uint64_t expected() const { return last_ < first_ ? 0 : static_cast<uint64_t>(last_ - first_ + 1); }
    uint64_t received() const { return received_; }
    // Frames between two received ones that never came.
    uint64_t lost() const { return lost_; }
    // Frames at or before one already received.
    uint64_t disordered() const { return disordered_; }

private:
    int fps_;
    int64_t first_ = 0;
    int64_t last_ = -1;
    int64_t dayOffset_ = 0;
    uint64_t received_ = 0, lost_ = 0, disordered_ = 0;
};

// Latencies in 10-microsecond steps up to ten seconds, with the exact maximum.
class LatencyHistogram {
public:
    LatencyHistogram();
    void add(double seconds);
    uint64_t count() const { return count_; }
    // The q-quantile (0..1) in seconds; 0 when nothing was added.
    double quantile(double q) const;
    double max() const { return max_; }

private:
    std::vector<uint64_t> buckets_;
    uint64_t count_ = 0;
    double max_ = 0;
};

}  // namespace stress
