#pragma once
// The benchmarks' host base: 640 x 480 cameras that answer every callback with nothing to
// offer (no frames, images or acquisitions), so that each benchmark overrides only what it
// measures.
#include <cstdio>
#include <string>
#include <vector>

#include "frameyard/server.h"

class QuietHost : public store::Server {
public:
    explicit QuietHost(int cameras) : cameras(cameras) {}

    void reportError(const std::string& message) override { std::fprintf(stderr, "host error: %s\n", message.c_str()); }
    void reportWarning(const std::string& message) override { std::fprintf(stderr, "host warning: %s\n", message.c_str()); }
    int cameraCount() override { return cameras; }
    int cameraThreshold(int) override { return 100; }
    bool setCameraThreshold(int, int) override { return true; }
    std::vector<NumberSetting> cameraNumberSettings(int) override { return {}; }
    bool changeCameraSetting(int, const std::string&, float) override { return true; }
    float cameraPixelAspectRatio(int) override { return 1.0f; }
    std::vector<CircularMask> cameraCircularMasks(int) override { return {}; }
    void setCameraCircularMasks(int, const std::vector<CircularMask>&) override {}
    bool cameraSupportsRectangularMasks(int) override { return false; }
    std::vector<RectangularMask> cameraRectangularMasks(int) override { return {}; }
    void addCameraRectangularMask(int, const RectangularMask&) override {}
    void deleteCameraRectangularMask(int, const RectangularMask&) override {}
    std::string cameraName(int camera) override { return "camera" + std::to_string(camera); }
    int cameraImageWidth(int) override { return 640; }
    int cameraImageHeight(int) override { return 480; }
    void realtimeStarting() override {}
    bool frameAvailable() override { return false; }
    const Frame* currentFrame() override { return nullptr; }
    void startRealtime() override {}
    void stopRealtime() override {}
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

private:
    int cameras;
};
