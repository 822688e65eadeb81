#pragma once
// The host's acquisitions as acquisition sessions see them: every operation forwards to the
// host callback of the same name, with the request's flags copied into the host's records and
// recorded centroids converted to display coordinates in fixed point. Images pass unchanged.
#include "server/host_interface.h"
#include "sessions/multi_client_handler.h"
#include "sessions/acquire_request.h"

namespace store {

class AcquireModeHandler final : public RyStoreMultiClientHandlerBase::AcquireHandler {
public:
    using Frames = LuDArray<RyStoreMultiClientHandlerBase::AcquireRequest::Frame>;

    explicit AcquireModeHandler(HostInterface& host) : host(host) {}

    bool acquireSupported() override { return host.acquireSupported(); }
    void setAcquireRequest(int id, const Frames& frames) override;
    bool acquireReady(int id) override { return host.acquireReady(id); }
    void acquireGo(int id) override { host.acquireGo(id); }
    bool acquireFieldReady(int id) override { return host.acquireFieldReady(id); }
    void startAcquireRecording(int id) override { host.startAcquireRecording(id); }
    void stopAcquireRecording(int id) override { host.stopAcquireRecording(id); }
    int acquiredFrameCount(int id) override { return host.acquiredFrameCount(id); }
    bool acquireRecordingFinished(int id) override { return host.acquireRecordingFinished(id); }
    LuNullable<RyStoreProtocol::Timecode> acquiredTimecode(int id, int field) override;
    bool acquiredImageAvailable(int id, int field) override { return host.acquiredImageAvailable(id, field); }
    bool acquiredGlobsAvailable(int id, int field) override { return host.acquiredGlobsAvailable(id, field); }
    RyStoreProtocol::ImageView acquiredImage(int id, int field, int camera) override;
    // Converted with the camera's current image size.
    LuDArray<RyStoreProtocol::Centroid> acquiredCentroids(int id, int field, int camera) override;
    void endAcquire(int id) override { host.endAcquire(id); }

private:
    HostInterface& host;
};

}  // namespace store
