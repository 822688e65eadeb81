#pragma once
// libframeyard's implementation object behind store::Server: the server core, the host interface
// answered by forwarding every call to the host's store::Server callbacks, and the acquisition
// sessions' interface served straight from the host's acquisition callbacks.
#include <frameyard/server.h>

#include <vector>

#include "server/full/live_images.h"
#include "server/host_forwarder_base.h"
#include "sessions/acquire_request.h"

class SessionModeTable;

namespace store {

// The modes of libframeyard: realtime, live features, acquisition, configure, command exchange.
const SessionModeTable& fullServerModes();

// Hidden explicitly: a nested class takes the visibility of the exported class around it, and
// nothing of the implementation may leave the library.
class __attribute__((visibility("hidden"))) Server::Impl final : public HostForwarderBase<Server>,
                                                                 public RyStoreMultiClientHandlerBase::AcquireHandler {
public:
    // Live features and acquisitions are libframeyard's: they are attached to the sessions here.
    explicit Impl(Server& host);

    std::vector<NumberSetting> cameraNumberSettings(int camera) override;
    bool changeCameraSetting(int camera, const std::string& name, float value) override {
        return host.changeCameraSetting(camera, name, value);
    }
    bool cameraSupportsRectangularMasks(int camera) override { return host.cameraSupportsRectangularMasks(camera); }
    std::vector<RectangularMask> cameraRectangularMasks(int camera) override;
    void addCameraRectangularMask(int camera, const RectangularMask& mask) override;
    void deleteCameraRectangularMask(int camera, const RectangularMask& mask) override;

    // ---- acquisitions, by the id the session gave each one
    bool acquireSupported() override { return host.acquireSupported(); }
    // The request's flags copied into the host's records.
    void setAcquireRequest(int id, const AcquireProtocol::Frames& frames) override;
    bool acquireReady(int id) override { return host.acquireReady(id); }
    void acquireGo(int id) override { host.acquireGo(id); }
    bool acquireFieldReady(int id) override { return host.acquireFieldReady(id); }
    void startAcquireRecording(int id) override { host.startAcquireRecording(id); }
    void stopAcquireRecording(int id) override { host.stopAcquireRecording(id); }
    int acquiredFrameCount(int id) override { return host.acquiredFrameCount(id); }
    bool acquireRecordingFinished(int id) override { return host.acquireRecordingFinished(id); }
    // Null when the host has no timecode for the field.
    LuNullable<RyStoreProtocol::Timecode> acquiredTimecode(int id, int field) override;
    bool acquiredImageAvailable(int id, int field) override { return host.acquiredImageAvailable(id, field); }
    bool acquiredGlobsAvailable(int id, int field) override { return host.acquiredGlobsAvailable(id, field); }
    // Passed on unchanged.
    RyStoreProtocol::ImageView acquiredImage(int id, int field, int camera) override;
    // Converted to display coordinates with the camera's current image size.
    LuDArray<RyStoreProtocol::Centroid> acquiredCentroids(int id, int field, int camera) override;
    void endAcquire(int id) override { host.endAcquire(id); }

private:
    LiveImages images;
};

}  // namespace store
