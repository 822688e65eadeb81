#pragma once
// One acquisition from the client side: the request, arming steps, the recording with its
// progress, and the download, delivered field by field so that nothing is held whole.
#include <cstdint>
#include <functional>
#include <vector>

#include "frameyard/client/api.h"
#include "frameyard/client/connection.h"
#include "frameyard/client/decoders.h"
#include "frameyard/client/records.h"

namespace frameyard {

class FRAMEYARD_CLIENT_API Acquisition {
public:
    // Connects and sends the request and the camera values (0 for cameras left out). Throws
    // Error when the server offers no acquisition (the server answers a camera count of 0).
    Acquisition(const Endpoint& endpoint, const AcquireRequest& request,
                const std::vector<uint16_t>& cameraValues = std::vector<uint16_t>());

    uint16_t cameraCount() const { return decoder_.cameraCount(); }
    int descriptor() const { return connection_.descriptor(); }

    // Waits at most timeoutMs for the host to be ready ('R'); false when it is not yet.
    bool waitReady(int timeoutMs);
    // One arming step: 'G', then waits at most timeoutMs for the host's next field ('r').
    bool step(int timeoutMs);
    // After a step() that ran out of time: waits at most timeoutMs more for the same 'r'.
    bool waitStepped(int timeoutMs);
    // Starts the recording; stop() ends it early (the fields so far are still downloaded).
    void start();
    void stop();

    // While recording: waits at most timeoutMs for the next progress record. False when none
    // came in time, or when the recording is over and the download has begun (downloading()).
    bool nextProgress(AcquireProgress& progress, int timeoutMs);
    bool downloading() const { return downloading_; }

    // Records until the host is done, telling `onProgress` each fraction, then downloads every
    // field to `onField` in order. Each wait is bounded by the endpoint's time-out; a
    // recording that shows no progress for longer throws TimeoutError.
    void record(const std::function<void(const AcquireProgress&)>& onProgress,
                const std::function<void(const AcquiredField&)>& onField);
    // After start(): downloads every field to `onField` (progress is skipped).
    void download(const std::function<void(const AcquiredField&)>& onField);

    uint32_t recordedFields() const { return decoder_.recordedFields(); }
    // The bytes of the download so far: field records and the end mark.
    uint64_t downloadedBytes() const { return downloadedBytes_; }

private:
    bool nextItem(int timeoutMs);
    bool waitFor(AcquireItem::Kind kind, int timeoutMs);

    Connection connection_;
    AcquireDecoder decoder_;
    AcquireItem item_;
    bool downloading_ = false;
    bool haveField_ = false;
    uint64_t downloadedBytes_ = 0;
};

}  // namespace frameyard
