#pragma once
// Hands frames and notifications to NATS in the order they came from the host. The host side
// only queues (bounded, see Outbox); one thread of its own publishes, so a slow or absent NATS
// never holds up the reading of the host.
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include <frameyard/client.h>

#include "tools/frameyard-bridge/nats_link.h"
#include "tools/frameyard-bridge/outbox.h"

namespace bridge {

struct StreamCapture {
    std::string name;   // empty: none
    int maxAgeSeconds = 3600;
};

class Publisher {
public:
    // The bound on what waits for NATS, libnats' own reconnect buffer included.
    static constexpr size_t maxUnpublishedBytes = size_t{64} << 20;

    Publisher(NatsLink& nats, const std::string& prefix, StreamCapture capture);
    ~Publisher();
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    void submitFrame(const frameyard::Frame& frame, uint64_t number);
    void submitEvent(std::string json);

    uint64_t published() const { return published_; }
    uint64_t dropped() const { return outbox_.dropped() + refused_; }

    // Publishes what is still queued (bounded by timeoutMs) and stops the thread.
    void finish(int timeoutMs);

private:
    void run();
    void publish(const OutMessage& message);
    void publishFrame(const OutMessage& message);
    void setUpCaptureWhenDue();

    NatsLink& nats_;
    std::string framesSubject_, eventsSubject_;
    StreamCapture capture_;
    bool captureReady_ = false;
    std::chrono::steady_clock::time_point nextCaptureTry_{};
    Outbox outbox_;
    std::atomic<uint64_t> published_{0};
    std::atomic<uint64_t> refused_{0};
    std::atomic<bool> stopping_{false};
    std::chrono::steady_clock::time_point stopBy_{};
    std::thread thread_;
};

}  // namespace bridge
