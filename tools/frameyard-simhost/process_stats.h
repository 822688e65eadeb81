#pragma once
// What the host's --stats line reports about its own process: open descriptors, resident
// memory, and how long its calls into the server took.
#include <chrono>

namespace simhost {

// Descriptors the process has open; -1 when /proc cannot tell.
int openDescriptors();
// Resident set size in KiB; -1 when /proc cannot tell.
long residentKib();

// The longest of a series of calls, and the longest among those that moved no frame.
class CallTimer {
public:
    void begin() { started = std::chrono::steady_clock::now(); }
    void end(bool movedFrame);
    double longest() const { return longestAll; }
    double longestWithoutFrame() const { return longestQuiet; }
    void reset() { longestAll = longestQuiet = 0; }

private:
    std::chrono::steady_clock::time_point started;
    double longestAll = 0, longestQuiet = 0;
};

}  // namespace simhost
