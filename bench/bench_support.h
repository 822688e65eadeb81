#pragma once
// What the load benchmarks share: a clock in nanoseconds, hand-out stamps by sequence number,
// the rounds per row, percentiles, medians and ranges, a blocking send of every byte, and a
// frame of scattered centroids.
// A benchmark's host derives from the neutral host and overrides only what it serves.
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include <frameyard/server.h>

#include "tools/host_base/neutral_host.h"

namespace bench {

inline int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// When each frame was handed out, by sequence number. The window keeps readers far less than
// the ring's size behind the producer.
class Stamps {
public:
    void set(uint32_t seq, int64_t t) { slots[seq % size].store(t, std::memory_order_release); }
    int64_t get(uint32_t seq) const { return slots[seq % size].load(std::memory_order_acquire); }

private:
    static constexpr size_t size = 1 << 16;
    std::unique_ptr<std::atomic<int64_t>[]> slots{new std::atomic<int64_t>[size]};
};

// The value below which a share p of the values lie, in microseconds (values in ns).
inline double percentile(std::vector<int64_t>& values, double p) {
    if (values.empty()) return 0;
    size_t index = static_cast<size_t>(p * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<long>(index), values.end());
    return static_cast<double>(values[index]) / 1000.0;
}

// Rounds per row of the load benchmarks: BENCH_ROUNDS from the environment (1 to 99), else
// `fallback`. A noisy machine needs more rounds for a median that holds from run to run.
inline int roundsPerRow(int fallback) {
    const char* text = std::getenv("BENCH_ROUNDS");
    int rounds = text != nullptr ? std::atoi(text) : 0;
    return rounds >= 1 && rounds <= 99 ? rounds : fallback;
}

inline double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The least and the greatest of the values; both 0 when there are none.
struct Range {
    double least = 0, greatest = 0;
};

inline Range range(const std::vector<double>& values) {
    if (values.empty()) return {};
    auto [least, greatest] = std::minmax_element(values.begin(), values.end());
    return {*least, *greatest};
}

// Blocking send of every byte; false when the connection failed.
inline bool sendAll(int fd, const uint8_t* data, size_t length) {
    while (length > 0) {
        ssize_t sent = ::send(fd, data, length, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        data += sent;
        length -= static_cast<size_t>(sent);
    }
    return true;
}

// A frame of `cameras` 640 x 480 cameras holding the same `perCamera` scattered centroids each
// time (a fixed seed), timecode zero.
inline store::Server::Frame scatteredFrame(int cameras, int perCamera) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> x(0.0f, 640.0f), y(0.0f, 480.0f);
    store::Server::Frame frame;
    frame.centroids.resize(size_t(cameras));
    for (auto& list : frame.centroids)
        for (int i = 0; i < perCamera; ++i) list.push_back({x(random), y(random)});
    frame.timecode = {{0, 0, 0, 0}};
    return frame;
}

}  // namespace bench
