#include "tools/frameyard-bridge/host_feed.h"

#include <cstdio>
#include <thread>

namespace bridge {

using Clock = std::chrono::steady_clock;

HostFeed::HostFeed(const frameyard::Endpoint& host, std::vector<std::string> cameras, Publisher& publisher,
                   CameraDirectory& directory)
    : host_(host), publisher_(publisher), directory_(directory) {
    options_.cameras = std::move(cameras);
    options_.compact = false;
    options_.timecodes = true;
    options_.messages = true;
    options_.monitors = {frameyard::Monitor::frameRate, frameyard::Monitor::timecodeRate,
                         frameyard::Monitor::rectangularMasks, frameyard::Monitor::cameraOnlineStates};
    // Retries back off to at most once a second, as users of a restarted host expect.
    options_.reconnect.enabled = true;
    options_.reconnect.firstDelayMs = 100;
    options_.reconnect.maxDelayMs = 1000;
    options_.reconnect.onEvent = [this](const std::string& event) { onStreamEvent(event); };
}

HostFeed::~HostFeed() = default;

void HostFeed::step(int waitMs) {
    if (!stream_) {
        openWhenDue(waitMs);
        return;
    }
    if (directoryStale_ && streaming() && Clock::now() >= nextRefresh_) refreshDirectory();
    frameyard::Got got = stream_->next(frame_, message_, waitMs);
    if (got == frameyard::Got::frame) {
        ++framesIn_;
        publisher_.submitFrame(frame_, frameNumber_++);
    } else if (got == frameyard::Got::message) {
        directory_.noteMessage(message_, stream_->cameras());
        publisher_.submitEvent(std::move(message_));
    }
}

// The library reconnects a stream it once had; the first opening is ours to repeat.
void HostFeed::openWhenDue(int waitMs) {
    if (Clock::now() < nextOpen_) {
        std::this_thread::sleep_for(std::min(std::chrono::milliseconds(waitMs),
                                             std::chrono::duration_cast<std::chrono::milliseconds>(nextOpen_ - Clock::now())));
        return;
    }
    try {
        stream_ = std::make_unique<frameyard::RealtimeStream>(host_, options_);
        frameNumber_ = 0;
        lastFailure_.clear();
    } catch (const frameyard::Error& error) {
        if (error.what() != lastFailure_) std::fprintf(stderr, "frameyard-bridge: host %s: %s\n", host_.text().c_str(), error.what());
        lastFailure_ = error.what();
        nextOpen_ = Clock::now() + std::chrono::milliseconds(500);
    }
}

void HostFeed::refreshDirectory() {
    try {
        frameyard::Host host(host_);
        directory_.refresh(host);
        directoryStale_ = false;
    } catch (const frameyard::Error& error) {
        nextRefresh_ = Clock::now() + std::chrono::seconds(1);
        std::fprintf(stderr, "frameyard-bridge: reading the cameras of %s: %s\n", host_.text().c_str(), error.what());
    }
}

// Called from inside the stream's poll, before anything of the new connection is delivered.
void HostFeed::onStreamEvent(const std::string& event) {
    if (event == "reconnected") {
        frameNumber_ = 0;
        directoryStale_ = true;
        publisher_.submitEvent(R"(["bridge","host_reconnected"])");
    } else {
        std::fprintf(stderr, "frameyard-bridge: host %s %s\n", host_.text().c_str(), event.c_str());
    }
}

}  // namespace bridge
