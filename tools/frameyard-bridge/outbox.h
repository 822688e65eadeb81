#pragma once
// Messages waiting for NATS, bounded in bytes: while NATS is slow or away, new messages are
// dropped and counted once the bound is reached, so the bridge never queues without limit and
// never blocks its reading of the host.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace bridge {

struct OutMessage {
    bool isFrame = false;        // PREFIX.frames with its headers, else PREFIX.events
    uint64_t frameNumber = 0;
    std::string timecode;        // empty: no timecode header
    std::string payload;

    size_t bytes() const { return payload.size() + timecode.size() + 64; }
};

class Outbox {
public:
    explicit Outbox(size_t capacityBytes) : capacity_(capacityBytes) {}

    // False (and counted as dropped) when the message does not fit.
    bool push(OutMessage&& message);
    // Waits at most `wait` for a message; false when none came or the outbox is closed.
    bool pop(OutMessage& message, std::chrono::milliseconds wait);
    void close();

    uint64_t dropped() const;
    size_t bytesHeld() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<OutMessage> messages_;
    size_t capacity_;
    size_t held_ = 0;
    uint64_t dropped_ = 0;
    bool closed_ = false;
};

}  // namespace bridge
