#pragma once
// The host as the server core and its adapters see it: the callbacks they use, in the library's
// own types. Each public server class implements it with a thin forwarder onto its own host
// callbacks; a callback that class does not have is answered by its forwarder (no images, no
// acquisitions, ...), so the core and the sessions never depend on which class the host derives.
#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "protocol/common/records.h"
#include "protocol/frames/glob_interfaces.h"

namespace store {

class GlobFrame;

class HostInterface {
public:
    // One numeric camera setting; precision 0 means "none given".
    struct NumberSetting {
        std::string name;
        float value;
        float minimum;
        float maximum;
        int precision;
    };
    // A rectangle in image pixels.
    struct RectangularMask {
        float x;
        float y;
        float width;
        float height;
    };
    // A point in image pixels.
    struct Centroid {
        float x;
        float y;
    };
    using Timecode = std::array<int, 4>;
    // One requested field of an acquisition.
    struct AcquireField {
        bool sendGlobs;
        bool sendImages;
    };
    // A recorded 8-bit picture, width x height bytes owned by the host.
    struct AcquiredImage {
        int width;
        int height;
        const unsigned char* pixels;
    };
    // A camera's newest image for the duration of one hand-over; every pointer may be null.
    struct CameraImage {
        const RyStoreProtocol::SegmentListInterface* segments;
        const unsigned char* pixels;
        size_t pixelCount;
        const int* timecode;
    };
    // Receives a camera image while the host's buffers are valid.
    class ImageReceiver {
    public:
        virtual void receive(const CameraImage& image) = 0;

    protected:
        ~ImageReceiver() = default;
    };

    virtual void reportError(const std::string& message) = 0;
    virtual void reportWarning(const std::string& message) = 0;

    // Cameras.
    virtual int cameraCount() = 0;
    virtual int cameraThreshold(int camera) = 0;
    virtual bool setCameraThreshold(int camera, int threshold) = 0;
    virtual std::vector<NumberSetting> cameraNumberSettings(int camera) = 0;
    virtual bool changeCameraSetting(int camera, const std::string& name, float value) = 0;
    virtual float cameraPixelAspectRatio(int camera) = 0;
    virtual std::vector<RyCircularMask> cameraCircularMasks(int camera) = 0;
    virtual void setCameraCircularMasks(int camera, const std::vector<RyCircularMask>& masks) = 0;
    virtual bool cameraSupportsRectangularMasks(int camera) = 0;
    virtual std::vector<RectangularMask> cameraRectangularMasks(int camera) = 0;
    virtual void addCameraRectangularMask(int camera, const RectangularMask& mask) = 0;
    virtual void deleteCameraRectangularMask(int camera, const RectangularMask& mask) = 0;
    virtual std::string cameraName(int camera) = 0;
    virtual int cameraImageWidth(int camera) = 0;
    virtual int cameraImageHeight(int camera) = 0;

    // Realtime frames.
    virtual void realtimeStarting() = 0;
    virtual bool frameAvailable() = 0;
    // Copies the host's current frame (display coordinates) and its timecode; false when the
    // host has no frame to give.
    virtual bool copyCurrentFrame(GlobFrame& into, RyStoreProtocol::Timecode& timecode) = 0;
    virtual void startRealtime() = 0;
    virtual void stopRealtime() = 0;

    // Live images.
    virtual void setCameraFeaturesWanted(int camera, bool wanted) = 0;
    virtual void setCameraImagesWanted(int camera, bool wanted) = 0;
    virtual bool cameraImageAvailable(int camera) = 0;
    // Asks the host for the camera's image and hands it to the receiver; the caller releases it.
    virtual void takeCameraImage(int camera, ImageReceiver& receiver) = 0;
    virtual void releaseCameraImage(int camera) = 0;

    // Acquisitions, by acquisition id.
    virtual bool acquireSupported() = 0;
    virtual void setAcquireRequest(int acquisition, const std::vector<AcquireField>& fields) = 0;
    virtual bool acquireReady(int acquisition) = 0;
    virtual void acquireGo(int acquisition) = 0;
    virtual bool acquireFieldReady(int acquisition) = 0;
    virtual void startAcquireRecording(int acquisition) = 0;
    virtual void stopAcquireRecording(int acquisition) = 0;
    virtual bool acquireRecordingFinished(int acquisition) = 0;
    virtual int acquiredFrameCount(int acquisition) = 0;
    virtual bool acquiredTimecodeAvailable(int acquisition, int field) = 0;
    virtual bool acquiredImageAvailable(int acquisition, int field) = 0;
    virtual bool acquiredGlobsAvailable(int acquisition, int field) = 0;
    virtual Timecode acquiredTimecode(int acquisition, int field) = 0;
    virtual AcquiredImage acquiredImage(int acquisition, int field, int camera) = 0;
    virtual std::vector<Centroid> acquiredCentroids(int acquisition, int field, int camera) = 0;
    virtual void endAcquire(int acquisition) = 0;

protected:
    ~HostInterface() = default;
};

}  // namespace store
