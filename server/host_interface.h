#pragma once
// The host as the server core and its adapters see it: the callbacks both libraries share, in
// the library's own types. Each public server class implements it with a thin forwarder onto
// its own host callbacks; a callback that class does not have is answered by its forwarder (no
// settings, no rectangular masks), so the core never depends on which class the host derives.
// Live images and acquisitions are libframeyard's alone: its forwarder serves the sessions'
// interfaces for them directly from the host.
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
    // Whether camera descriptions carry an acquisition image region (the image's own); a host
    // without acquisitions describes none.
    virtual bool describesAcquisitionRegions() { return true; }

    // Realtime frames.
    virtual void realtimeStarting() = 0;
    virtual bool frameAvailable() = 0;
    // Copies the host's current frame (display coordinates) and its timecode; false when the
    // host has no frame to give.
    virtual bool copyCurrentFrame(GlobFrame& into, RyStoreProtocol::Timecode& timecode) = 0;
    virtual void startRealtime() = 0;
    virtual void stopRealtime() = 0;

protected:
    ~HostInterface() = default;
};

}  // namespace store
