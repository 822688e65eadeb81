#pragma once
// libframeyard-rt's implementation object behind the store::Server of <frameyard/server_rt.h>:
// the server core, and the host interface answered from the host's 18 callbacks. What that
// class has no callback for is answered here: no number settings, no rectangular masks, no
// images, no acquisitions.
#include <frameyard/server_rt.h>

#include <vector>

#include "server/host_forwarder_base.h"

class SessionModeTable;

namespace store {

// The modes of libframeyard-rt: realtime, configure and the command exchange.
const SessionModeTable& realtimeOnlyModes();

// Hidden explicitly: a nested class takes the visibility of the exported class around it, and
// nothing of the implementation may leave the library.
class __attribute__((visibility("hidden"))) Server::Impl final : public HostForwarderBase<Server> {
public:
    explicit Impl(Server& host) : HostForwarderBase(host, realtimeOnlyModes()) {}

    std::vector<NumberSetting> cameraNumberSettings(int) override { return {}; }
    bool changeCameraSetting(int, const std::string&, float) override { return false; }
    bool cameraSupportsRectangularMasks(int) override { return false; }
    std::vector<RectangularMask> cameraRectangularMasks(int) override { return {}; }
    void addCameraRectangularMask(int, const RectangularMask&) override {}
    void deleteCameraRectangularMask(int, const RectangularMask&) override {}
    bool describesAcquisitionRegions() override { return false; }

    // No live-feature session exists here, so none of these is ever asked for.
    void setCameraFeaturesWanted(int, bool) override {}
    void setCameraImagesWanted(int, bool) override {}
    bool cameraImageAvailable(int) override { return false; }
    void takeCameraImage(int, ImageReceiver&) override {}
    void releaseCameraImage(int) override {}

    // No acquisition session exists here either.
    bool acquireSupported() override { return false; }
    void setAcquireRequest(int, const std::vector<AcquireField>&) override {}
    bool acquireReady(int) override { return false; }
    void acquireGo(int) override {}
    bool acquireFieldReady(int) override { return false; }
    void startAcquireRecording(int) override {}
    void stopAcquireRecording(int) override {}
    bool acquireRecordingFinished(int) override { return true; }
    int acquiredFrameCount(int) override { return 0; }
    bool acquiredTimecodeAvailable(int, int) override { return false; }
    bool acquiredImageAvailable(int, int) override { return false; }
    bool acquiredGlobsAvailable(int, int) override { return false; }
    Timecode acquiredTimecode(int, int) override { return Timecode{{0, 0, 0, 0}}; }
    AcquiredImage acquiredImage(int, int, int) override { return AcquiredImage{0, 0, nullptr}; }
    std::vector<Centroid> acquiredCentroids(int, int, int) override { return {}; }
    void endAcquire(int) override {}
};

}  // namespace store
