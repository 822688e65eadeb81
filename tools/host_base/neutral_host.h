#pragma once
// The base of every host the tests, benchmarks and tools define: each callback of the public
// class answers as a host with nothing to offer, so that a host overrides only what it serves
// and a callback added to the public class is answered here, once, for all of them. It builds
// on whichever public header was included before it: <frameyard/server.h> or, for the
// realtime-only library, <frameyard/server_rt.h>.
#if !defined(FRAMEYARD_SERVER_H) && !defined(FRAMEYARD_SERVER_RT_H)
#error "include <frameyard/server.h> or <frameyard/server_rt.h> before tools/host_base/neutral_host.h"
#endif

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace hostbase {

class NeutralHost : public store::Server {
public:
    // `cameras` cameras of 640 x 480 pixels, threshold 100, named "camera0", "camera1", ...; no
    // settings, masks, frames, images or acquisitions. Reports are one line each on standard
    // error: "<reportPrefix>error: <message>" and "<reportPrefix>warning: <message>".
    explicit NeutralHost(int cameras = 0, std::string reportPrefix = "host ")
        : cameras_(cameras), reportPrefix_(std::move(reportPrefix)) {}

    void reportError(const std::string& message) override { report("error", message); }
    void reportWarning(const std::string& message) override { report("warning", message); }
    int cameraCount() override { return cameras_; }
    int cameraThreshold(int) override { return 100; }
    bool setCameraThreshold(int, int) override { return true; }
    float cameraPixelAspectRatio(int) override { return 1.0f; }
    std::vector<CircularMask> cameraCircularMasks(int) override { return {}; }
    void setCameraCircularMasks(int, const std::vector<CircularMask>&) override {}
    std::string cameraName(int camera) override { return "camera" + std::to_string(camera); }
    int cameraImageWidth(int) override { return 640; }
    int cameraImageHeight(int) override { return 480; }
    void realtimeStarting() override {}
    bool frameAvailable() override { return false; }
    const Frame* currentFrame() override { return nullptr; }
    void startRealtime() override {}
    void stopRealtime() override {}
#if defined(FRAMEYARD_SERVER_RT_H)
    void reserved16() override {}
    void reserved17() override {}
#else
    std::vector<NumberSetting> cameraNumberSettings(int) override { return {}; }
    bool changeCameraSetting(int, const std::string&, float) override { return true; }
    bool cameraSupportsRectangularMasks(int) override { return false; }
    std::vector<RectangularMask> cameraRectangularMasks(int) override { return {}; }
    void addCameraRectangularMask(int, const RectangularMask&) override {}
    void deleteCameraRectangularMask(int, const RectangularMask&) override {}
    void setCameraFeaturesWanted(int, bool) override {}
    void setCameraImagesWanted(int, bool) override {}
    bool cameraImageAvailable(int) override { return false; }
    Image cameraImage(int) override { return Image{nullptr, nullptr, nullptr}; }
    void releaseCameraImage(int) override {}
    bool acquireSupported() override { return false; }
    void setAcquireRequest(int, const std::vector<AcquireFrame>&) override {}
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
#endif

protected:
    // Like the public class: a host is used as itself, never deleted through its base.
    ~NeutralHost() = default;

private:
    void report(const char* kind, const std::string& message) {
        std::fprintf(stderr, "%s%s: %s\n", reportPrefix_.c_str(), kind, message.c_str());
    }

    int cameras_;
    std::string reportPrefix_;
};

}  // namespace hostbase
