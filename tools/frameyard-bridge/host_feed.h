#pragma once
// The host side of the bridge: one realtime stream, full form with timecodes, camera messages
// and every monitor on, reconnecting by itself. Frames and notifications go to the publisher
// in the order they arrive; the camera directory follows the threshold notifications.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <frameyard/client.h>

#include "tools/frameyard-bridge/camera_directory.h"
#include "tools/frameyard-bridge/publisher.h"

namespace bridge {

class HostFeed {
public:
    HostFeed(const frameyard::Endpoint& host, std::vector<std::string> cameras, Publisher& publisher,
             CameraDirectory& directory);
    ~HostFeed();

    // Moves what arrives within waitMs (or opens the stream when its retry is due).
    void step(int waitMs);

    uint64_t framesIn() const { return framesIn_; }
    bool streaming() const { return stream_ && stream_->descriptor() >= 0; }

private:
    void openWhenDue(int waitMs);
    void refreshDirectory();
    void onStreamEvent(const std::string& event);

    frameyard::Endpoint host_;
    frameyard::RealtimeOptions options_;
    Publisher& publisher_;
    CameraDirectory& directory_;
    std::unique_ptr<frameyard::RealtimeStream> stream_;
    std::chrono::steady_clock::time_point nextOpen_{};
    std::chrono::steady_clock::time_point nextRefresh_{};
    std::string lastFailure_;
    bool directoryStale_ = true;
    uint64_t frameNumber_ = 0;   // of the current connection
    uint64_t framesIn_ = 0;
    frameyard::Frame frame_;
    std::string message_;
};

}  // namespace bridge
