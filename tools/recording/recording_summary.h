#pragma once
// What an analysis wants first from a recording: per camera, how many frames and centroids,
// and how evenly the frames arrived.
#include <optional>
#include <string>
#include <vector>

#include "tools/recording/recording.h"

namespace fyrec {

struct CameraSummary {
    std::string name;
    size_t frames = 0;
    size_t minCentroids = 0, maxCentroids = 0;
    double meanCentroids = 0;
};

// Frame-rate jitter: how far each gap between two receive times lies from the nominal frame
// interval (the announced frame rate's, else the median gap), in seconds.
struct Jitter {
    double nominalInterval = 0;
    double p50 = 0, p99 = 0;
};

struct Summary {
    size_t frames = 0;
    double seconds = 0;   // first to last receive time
    std::vector<CameraSummary> cameras;
    std::optional<Jitter> jitter;   // absent with fewer than two frames
};

Summary summarize(const Recording& recording);

// Nearest-rank percentile (fraction 0..1) of unsorted values; 0 for none.
double percentile(std::vector<double> values, double fraction);

}  // namespace fyrec
