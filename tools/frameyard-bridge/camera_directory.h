#pragma once
// What PREFIX.cameras answers: every camera of the host as it described itself, with its
// threshold and setting values as of the last notification. Refreshed from the host whenever the bridge (re)connects,
// read by the NATS callback without any host I/O.
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <frameyard/client.h>

namespace bridge {

class CameraDirectory {
public:
    // Reads the descriptions and thresholds from the host (throws frameyard::Error).
    void refresh(frameyard::Host& host);
    // Takes a threshold or setting change out of a camera message of the stream, whose camera
    // numbers are positions in `streamCameras`. Other texts are ignored.
    void noteMessage(const std::string& json, const std::vector<std::string>& streamCameras);

    // The JSON array PREFIX.cameras answers ("[]" before the first refresh).
    std::string answer() const;
    bool knows(const std::string& camera) const;
    // False until the first refresh succeeded.
    bool loaded() const;
    std::optional<int> threshold(const std::string& camera) const;

private:
    mutable std::mutex mutex_;
    frameyard::Json descriptions_;              // the host's array
    std::vector<std::string> names_;            // host order
    std::vector<int> thresholds_;               // host order
};

}  // namespace bridge
