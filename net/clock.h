#pragma once
// The time source of the writers' stall time-out, replaceable so that tests can drive time.
#include <chrono>

namespace RyStoreProtocol {

class AbstractClock {
public:
    // Seconds on this clock; only differences between two readings mean anything.
    virtual double now() = 0;
    virtual ~AbstractClock() = default;
};

// Seconds since the clock was created, on a monotonic clock: setting the wall clock must not
// cut clients off or keep stalled ones alive.
class RealClock : public AbstractClock {
public:
    RealClock();
    double now() override;

private:
    std::chrono::steady_clock::time_point start_;
};

}  // namespace RyStoreProtocol
