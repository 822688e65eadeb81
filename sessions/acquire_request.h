#pragma once
// What an acquisition session hands the host and reads back from it: the client's request (which
// fields want centroids and images), the host-side interface of acquisitions, the builder the
// request parser fills the request through, and the retriever the data sender reads the
// recorded fields through.
#include "protocol/acquire/acquire_interfaces.h"
#include "protocol/common/records.h"
#include "sessions/multi_client_handler.h"
#include "toolkit/lu_array.h"
#include "toolkit/lu_nullable.h"

struct RyStoreMultiClientHandlerBase::AcquireRequest {
    struct Frame {
        bool sendGlobs = false;
        bool sendImages = false;
        bool operator==(const Frame&) const = default;
    };

    LuNullable<int> startFieldId;
    LuDArray<Frame> frames;  // one per requested field, field 0 first
};

// The host's acquisitions, by the id the session gave each one.
class RyStoreMultiClientHandlerBase::AcquireHandler {
public:
    virtual bool acquireSupported() = 0;
    virtual void setAcquireRequest(int id, const LuDArray<AcquireRequest::Frame>& frames) = 0;
    virtual bool acquireReady(int id) = 0;
    virtual void acquireGo(int id) = 0;
    virtual bool acquireFieldReady(int id) = 0;
    virtual void startAcquireRecording(int id) = 0;
    virtual void stopAcquireRecording(int id) = 0;
    virtual int acquiredFrameCount(int id) = 0;
    virtual bool acquireRecordingFinished(int id) = 0;
    virtual LuNullable<RyStoreProtocol::Timecode> acquiredTimecode(int id, int field) = 0;
    virtual bool acquiredImageAvailable(int id, int field) = 0;
    virtual bool acquiredGlobsAvailable(int id, int field) = 0;
    virtual RyStoreProtocol::ImageView acquiredImage(int id, int field, int camera) = 0;
    virtual LuDArray<RyStoreProtocol::Centroid> acquiredCentroids(int id, int field, int camera) = 0;
    virtual void endAcquire(int id) = 0;

protected:
    ~AcquireHandler() = default;
};

namespace AcquireProtocol {

using AcquireRequest = RyStoreMultiClientHandlerBase::AcquireRequest;
using AcquireHandler = RyStoreMultiClientHandlerBase::AcquireHandler;
using Frames = LuDArray<AcquireRequest::Frame>;

// Fills a request from what the parser decoded. Only the start field id and the per-field
// flags matter to the host; the whole-request flags, the rate and the camera values are read
// and dropped.
class AcquireParamsBuilder final : public RyStoreProtocol::AcquireParamsBuilderInterface {
public:
    explicit AcquireParamsBuilder(AcquireRequest& request) : request(request) {}

    void setStartFieldId(int id) override { request.startFieldId = id; }
    void setFieldCount(int count) override { request.frames.setSize(count); }
    void setSendImages(bool) override {}
    void setSendGlobs(bool) override {}
    void setAcquisitionRate(int) override {}
    void setCameraValue(int, int) override {}
    void setSendGlobsForFrame(int field, bool on) override { frame(field).sendGlobs = on; }
    void setSendImagesForFrame(int field, bool on) override { frame(field).sendImages = on; }

private:
    // The entry of a field, growing the request to it.
    AcquireRequest::Frame& frame(int field);

    AcquireRequest& request;
};

// One acquisition's recorded fields as the data sender reads them: a field's images or
// centroids are sent when the client asked for them and the host has them.
class AcquiredDataRetriever final : public RyStoreProtocol::AcquiredDataRetrieverInterface {
public:
    // The handler and the request's frames are borrowed.
    AcquiredDataRetriever(AcquireHandler& handler, int id, int startFieldId, int cameraCount,
                          const LuDArray<AcquireRequest::Frame>& frames)
        : handler(handler), id(id), start(startFieldId), cameras(cameraCount), frames(frames) {}

    int fieldCount() override { return handler.acquiredFrameCount(id); }
    int cameraCount() override { return cameras; }
    int startFieldId() override { return start; }
    LuNullable<RyStoreProtocol::Timecode> timecode(int field) override { return handler.acquiredTimecode(id, field); }
    LuNullable<int> imageField(int field) override;
    LuNullable<int> globsField(int field) override;
    RyStoreProtocol::ImageView image(int field, int camera) override { return handler.acquiredImage(id, field, camera); }
    const LuDArray<RyStoreProtocol::Centroid>& centroids(int field, int camera) override;

private:
    AcquireHandler& handler;
    int id;
    int start;
    int cameras;
    LuDArray<RyStoreProtocol::Centroid> centroidBuffer;
    const LuDArray<AcquireRequest::Frame>& frames;
};

}  // namespace AcquireProtocol
