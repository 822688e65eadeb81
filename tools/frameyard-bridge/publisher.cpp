#include "tools/frameyard-bridge/publisher.h"

#include <cstdio>

#include "tools/frameyard-bridge/frame_payload.h"

namespace bridge {

using Clock = std::chrono::steady_clock;

Publisher::Publisher(NatsLink& nats, const std::string& prefix, StreamCapture capture)
    : nats_(nats),
      framesSubject_(prefix + ".frames"),
      eventsSubject_(prefix + ".events"),
      capture_(std::move(capture)),
      captureReady_(capture_.name.empty()),
      outbox_(maxUnpublishedBytes - NatsLink::reconnectBufferBytes),
      thread_([this] { run(); }) {}

Publisher::~Publisher() { finish(0); }

void Publisher::submitFrame(const frameyard::Frame& frame, uint64_t number) {
    OutMessage message;
    message.isFrame = true;
    message.frameNumber = number;
    if (frame.timecode) message.timecode = frameyard::formatTimecode(*frame.timecode);
    encodeFramePayload(frame, message.payload);
    outbox_.push(std::move(message));
}

void Publisher::submitEvent(std::string json) {
    OutMessage message;
    message.payload = std::move(json);
    outbox_.push(std::move(message));
}

void Publisher::finish(int timeoutMs) {
    if (!thread_.joinable()) return;
    stopBy_ = Clock::now() + std::chrono::milliseconds(timeoutMs);
    stopping_ = true;
    outbox_.close();
    thread_.join();
    nats_.flush(timeoutMs);
}

void Publisher::run() {
    OutMessage message;
    for (;;) {
        if (stopping_ && (Clock::now() >= stopBy_ || outbox_.bytesHeld() == 0)) return;
        setUpCaptureWhenDue();
        // While NATS is away the messages wait here, within the outbox's bound, rather than
        // in libnats' smaller reconnect buffer.
        if (!nats_.connected()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        if (outbox_.pop(message, std::chrono::milliseconds(100))) publish(message);
    }
}

void Publisher::publish(const OutMessage& message) {
    if (message.isFrame) {
        publishFrame(message);
        return;
    }
    natsStatus status = natsConnection_Publish(nats_.connection(), eventsSubject_.c_str(), message.payload.data(),
                                               static_cast<int>(message.payload.size()));
    ++(status == NATS_OK ? published_ : refused_);
}

void Publisher::publishFrame(const OutMessage& message) {
    natsMsg* msg = nullptr;
    natsStatus status = natsMsg_Create(&msg, framesSubject_.c_str(), nullptr, message.payload.data(),
                                       static_cast<int>(message.payload.size()));
    std::string number = std::to_string(message.frameNumber);
    if (status == NATS_OK) status = natsMsgHeader_Set(msg, "Frameyard-Frame", number.c_str());
    if (status == NATS_OK && !message.timecode.empty()) {
        status = natsMsgHeader_Set(msg, "Frameyard-Timecode", message.timecode.c_str());
    }
    if (status == NATS_OK) status = natsConnection_PublishMsg(nats_.connection(), msg);
    natsMsg_Destroy(msg);
    ++(status == NATS_OK ? published_ : refused_);
}

void Publisher::setUpCaptureWhenDue() {
    if (captureReady_ || !nats_.connected() || Clock::now() < nextCaptureTry_) return;
    try {
        nats_.ensureStream(capture_.name, {framesSubject_, eventsSubject_}, capture_.maxAgeSeconds);
        captureReady_ = true;
    } catch (const NatsError& error) {
        std::fprintf(stderr, "frameyard-bridge: %s; trying again in 1 s\n", error.what());
        nextCaptureTry_ = Clock::now() + std::chrono::seconds(1);
    }
}

}  // namespace bridge
