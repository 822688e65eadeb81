#pragma once
// A scripted camera host for end-to-end tests: every callback is recorded with its arguments,
// and every answer comes from a public field the test sets before (or between) polls. Built with
// FRAMEYARD_TEST_REALTIME_ONLY it is a host of the realtime-only library, with its 18 callbacks,
// so that the tests of what both libraries share run against both. It answers every callback
// itself, to record it; one added to the public class later is answered, unrecorded, by the
// neutral base until a test needs it here.
#include "tests/server_under_test.h"
#include "tools/host_base/neutral_host.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

class TestHost final : public hostbase::NeutralHost {
public:
    // Two 640 x 480 cameras "left" and "right", thresholds 10 and 20, no settings, no masks,
    // pixel aspect ratio 1, no frames, no images, no acquisitions.
    TestHost();
    ~TestHost();

    // ---- the script
    int cameras = 2;
    std::vector<std::string> names;
    std::vector<int> widths;
    std::vector<int> heights;
    std::vector<int> thresholds;
    std::vector<float> aspectRatios;
    std::vector<std::vector<CircularMask>> circularMasks;
#ifndef FRAMEYARD_TEST_REALTIME_ONLY
    std::vector<std::vector<NumberSetting>> settings;
    std::vector<bool> rectangularMaskSupport;
    std::vector<std::vector<RectangularMask>> rectangularMasks;
#endif
    // Frames the host still has to offer, oldest first; frameAvailable() is true while one is
    // queued and currentFrame() hands out the oldest.
    std::deque<Frame> frames;
    // The frame last handed out; currentFrame() returns a pointer to it (or null when
    // nullFrames is set, as a misbehaving host might).
    Frame current;
    bool nullFrames = false;
#ifndef FRAMEYARD_TEST_REALTIME_ONLY
    // Images a camera still has to offer, oldest first: cameraImageAvailable() is true while
    // one is queued, cameraImage() hands out the oldest and releaseCameraImage() drops it.
    // Without pixels, segments or timecode the image hands out a null pointer for it.
    struct ScriptedImage {
        std::vector<Segment> segments;
        std::vector<unsigned char> pixels;
        std::vector<int> timecode{1, 2, 3, 4};
        bool noPixels = false;
        bool noSegments = false;
    };
    std::map<int, std::deque<ScriptedImage>> images;
    bool acquire = false;
    // The answers every acquisition gets. Fields below `recorded` have a timecode (field, 1,
    // 2, 3) and, as set, images of imageWidth x imageHeight whose byte i of field f and camera
    // c is acquiredPixel(f, c, i), and the same centroids for every camera.
    struct AcquisitionScript {
        bool ready = true;
        bool fieldReady = true;
        bool finished = true;
        int recorded = 0;
        bool timecodes = false;
        bool images = false;
        bool globs = false;
        int imageWidth = 0;
        int imageHeight = 0;
        std::vector<Centroid> centroids;
    } acquisition;
    static unsigned char acquiredPixel(int field, int camera, size_t index) {
        return static_cast<unsigned char>((size_t(field) * 7 + size_t(camera) * 3 + index) % 251);
    }
#endif
    // Called from inside the named callback after it was recorded (to act like a host that
    // reuses its buffers, or to look at the server from inside a callback).
    std::map<std::string, std::function<void()>> hooks;

    // ---- what the library did
    // One entry per callback, "name(arg,arg)" with every argument that identifies the call.
    std::vector<std::string> calls;
    std::vector<std::string> errors;
    std::vector<std::string> warnings;

    // How often a callback with this name was made.
    int callCount(const std::string& name) const;
    // The calls whose text starts with the given name followed by '('.
    std::vector<std::string> callsTo(const std::string& name) const;

    // ---- host callbacks
    void reportError(const std::string& message) override;
    void reportWarning(const std::string& message) override;
    int cameraCount() override;
    int cameraThreshold(int camera) override;
    bool setCameraThreshold(int camera, int threshold) override;
    float cameraPixelAspectRatio(int camera) override;
    std::vector<CircularMask> cameraCircularMasks(int camera) override;
    void setCameraCircularMasks(int camera, const std::vector<CircularMask>& masks) override;
    std::string cameraName(int camera) override;
    int cameraImageWidth(int camera) override;
    int cameraImageHeight(int camera) override;
    void realtimeStarting() override;
    bool frameAvailable() override;
    const Frame* currentFrame() override;
    void startRealtime() override;
    void stopRealtime() override;
#ifdef FRAMEYARD_TEST_REALTIME_ONLY
    void reserved16() override;
    void reserved17() override;
#else
    std::vector<NumberSetting> cameraNumberSettings(int camera) override;
    bool changeCameraSetting(int camera, const std::string& name, float value) override;
    bool cameraSupportsRectangularMasks(int camera) override;
    std::vector<RectangularMask> cameraRectangularMasks(int camera) override;
    void addCameraRectangularMask(int camera, const RectangularMask& mask) override;
    void deleteCameraRectangularMask(int camera, const RectangularMask& mask) override;
    void setCameraFeaturesWanted(int camera, bool wanted) override;
    void setCameraImagesWanted(int camera, bool wanted) override;
    bool cameraImageAvailable(int camera) override;
    Image cameraImage(int camera) override;
    void releaseCameraImage(int camera) override;
    bool acquireSupported() override;
    void setAcquireRequest(int acquisition, const std::vector<AcquireFrame>& fields) override;
    bool acquireReady(int acquisition) override;
    void acquireGo(int acquisition) override;
    bool acquireFieldReady(int acquisition) override;
    void startAcquireRecording(int acquisition) override;
    void stopAcquireRecording(int acquisition) override;
    bool acquireRecordingFinished(int acquisition) override;
    int acquiredFrameCount(int acquisition) override;
    bool acquiredTimecodeAvailable(int acquisition, int field) override;
    bool acquiredImageAvailable(int acquisition, int field) override;
    bool acquiredGlobsAvailable(int acquisition, int field) override;
    Timecode acquiredTimecode(int acquisition, int field) override;
    AcquiredImage acquiredImage(int acquisition, int field, int camera) override;
    std::vector<Centroid> acquiredCentroids(int acquisition, int field, int camera) override;
    void endAcquire(int acquisition) override;
#endif

private:
    void record(const std::string& name, const std::string& arguments = "");
#ifndef FRAMEYARD_TEST_REALTIME_ONLY
    bool recordedField(int field) const { return field >= 0 && field < acquisition.recorded; }
    std::vector<unsigned char> acquiredPixels;
#endif
    // The camera's entry of a per-camera script list, or the fallback beyond its end.
    template <class T>
    static T entry(const std::vector<T>& list, int camera, T fallback) {
        if (camera < 0 || static_cast<size_t>(camera) >= list.size()) return fallback;
        return list[static_cast<size_t>(camera)];
    }
};

// "name(a,b)" as TestHost records it, for comparisons.
std::string callText(const std::string& name, const std::string& arguments = "");
