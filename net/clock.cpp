#include "net/clock.h"

namespace RyStoreProtocol {

RealClock::RealClock() : start_(std::chrono::steady_clock::now()) {}

double RealClock::now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

}  // namespace RyStoreProtocol
