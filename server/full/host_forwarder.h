#pragma once
// libframeyard's implementation object behind store::Server: the server core, and the host
// interface answered by forwarding every call to the host's store::Server callbacks.
#include <frameyard/server.h>

#include <vector>

#include "server/full/acquire_adapter.h"
#include "server/full/live_images.h"
#include "server/host_forwarder_base.h"

class SessionModeTable;

namespace store {

// The modes of libframeyard: realtime, live features, acquisition, configure, command exchange.
const SessionModeTable& fullServerModes();

// Hidden explicitly: a nested class takes the visibility of the exported class around it, and
// nothing of the implementation may leave the library.
class __attribute__((visibility("hidden"))) Server::Impl final : public HostForwarderBase<Server> {
public:
    // Live features and acquisitions are libframeyard's: their adapters are attached here.
    explicit Impl(Server& host);

    std::vector<NumberSetting> cameraNumberSettings(int camera) override;
    bool changeCameraSetting(int camera, const std::string& name, float value) override {
        return host.changeCameraSetting(camera, name, value);
    }
    bool cameraSupportsRectangularMasks(int camera) override { return host.cameraSupportsRectangularMasks(camera); }
    std::vector<RectangularMask> cameraRectangularMasks(int camera) override;
    void addCameraRectangularMask(int camera, const RectangularMask& mask) override;
    void deleteCameraRectangularMask(int camera, const RectangularMask& mask) override;
    void setCameraFeaturesWanted(int camera, bool wanted) override { host.setCameraFeaturesWanted(camera, wanted); }
    void setCameraImagesWanted(int camera, bool wanted) override { host.setCameraImagesWanted(camera, wanted); }
    bool cameraImageAvailable(int camera) override { return host.cameraImageAvailable(camera); }
    void takeCameraImage(int camera, ImageReceiver& receiver) override;
    void releaseCameraImage(int camera) override { host.releaseCameraImage(camera); }

    bool acquireSupported() override { return host.acquireSupported(); }
    void setAcquireRequest(int acquisition, const std::vector<AcquireField>& fields) override;
    bool acquireReady(int acquisition) override { return host.acquireReady(acquisition); }
    void acquireGo(int acquisition) override { host.acquireGo(acquisition); }
    bool acquireFieldReady(int acquisition) override { return host.acquireFieldReady(acquisition); }
    void startAcquireRecording(int acquisition) override { host.startAcquireRecording(acquisition); }
    void stopAcquireRecording(int acquisition) override { host.stopAcquireRecording(acquisition); }
    bool acquireRecordingFinished(int acquisition) override { return host.acquireRecordingFinished(acquisition); }
    int acquiredFrameCount(int acquisition) override { return host.acquiredFrameCount(acquisition); }
    bool acquiredTimecodeAvailable(int acquisition, int field) override {
        return host.acquiredTimecodeAvailable(acquisition, field);
    }
    bool acquiredImageAvailable(int acquisition, int field) override {
        return host.acquiredImageAvailable(acquisition, field);
    }
    bool acquiredGlobsAvailable(int acquisition, int field) override {
        return host.acquiredGlobsAvailable(acquisition, field);
    }
    Timecode acquiredTimecode(int acquisition, int field) override { return host.acquiredTimecode(acquisition, field); }
    AcquiredImage acquiredImage(int acquisition, int field, int camera) override;
    std::vector<Centroid> acquiredCentroids(int acquisition, int field, int camera) override;
    void endAcquire(int acquisition) override { host.endAcquire(acquisition); }

private:
    LiveImages images;
    AcquireModeHandler acquisitions;
};

// The host's segment records in wire order (second, first, third value); no list is an empty one.
class SegmentsWrapper final : public RyStoreProtocol::SegmentListInterface {
public:
    explicit SegmentsWrapper(const std::vector<Server::Segment>* segments) : segments(segments) {}

    int segmentCount() const override;
    unsigned int value1(int index) const override { return at(index).values[1]; }
    unsigned int value2(int index) const override { return at(index).values[0]; }
    unsigned int value3(int index) const override { return at(index).values[2]; }
    uint8_t* storeSegments(uint8_t* out, int count) const override;

private:
    const Server::Segment& at(int index) const { return (*segments)[static_cast<size_t>(index)]; }

    const std::vector<Server::Segment>* segments;
};

}  // namespace store
