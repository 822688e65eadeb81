#pragma once
// A complete camera host over simulated cameras: frames on its own clock, thresholds, number
// settings, circular and rectangular masks, live-feature images and recorded acquisitions.
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "frameyard/server.h"
#include "tools/frameyard-simhost/sim_scene.h"

namespace simhost {

struct HostOptions {
    int cameras = 4;
    int width = 640;
    int height = 480;
    int blobs = 20;
    double fps = 100.0;
    // Frames are numbered from midnight (UTC), so their timecodes read as the time of day and a
    // client on this machine can tell how late each one arrived; and every frame is handed out
    // in turn, a late main loop catching up rather than skipping frames.
    bool timeOfDay = false;
};

class SimHost : public store::Server {
public:
    explicit SimHost(const HostOptions& options);

    // Announces what the host corrected on its own (a setting clamped to its range); call it
    // from the main loop, outside checkForEvent(), since callbacks must not call the server.
    void tick();

    uint64_t framesServed() const { return served; }
    uint64_t imagesServed() const { return images; }
    int errorCount() const { return errors; }

    // Host callbacks.
    void reportError(const std::string& message) override;
    void reportWarning(const std::string& message) override;
    int cameraCount() override;
    int cameraThreshold(int camera) override;
    bool setCameraThreshold(int camera, int threshold) override;
    std::vector<NumberSetting> cameraNumberSettings(int camera) override;
    bool changeCameraSetting(int camera, const std::string& name, float value) override;
    float cameraPixelAspectRatio(int camera) override;
    std::vector<CircularMask> cameraCircularMasks(int camera) override;
    void setCameraCircularMasks(int camera, const std::vector<CircularMask>& masks) override;
    bool cameraSupportsRectangularMasks(int camera) override;
    std::vector<RectangularMask> cameraRectangularMasks(int camera) override;
    void addCameraRectangularMask(int camera, const RectangularMask& mask) override;
    void deleteCameraRectangularMask(int camera, const RectangularMask& mask) override;
    std::string cameraName(int camera) override;
    int cameraImageWidth(int camera) override;
    int cameraImageHeight(int camera) override;
    void realtimeStarting() override;
    bool frameAvailable() override;
    const Frame* currentFrame() override;
    void startRealtime() override;
    void stopRealtime() override;
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

private:
    struct Camera {
        std::string name;
        int threshold = 128;
        float gain = 1.0f;
        float exposure = 10.0f;
        bool announcePending = false;
        std::vector<CircularMask> circular;
        std::vector<RectangularMask> rectangular;
        bool featuresWanted = false;
        bool imagesWanted = false;
        uint64_t lastImageFrame = 0;
        bool imageHeld = false;
        // Live-feature image storage, kept until the next image of the camera.
        std::vector<Segment> segments;
        std::vector<unsigned char> pixels;
        int timecode[4] = {0, 0, 0, 0};
    };

    struct Acquisition {
        std::vector<AcquireFrame> fields;
        bool goPending = false;
        uint64_t goFrame = 0;
        bool recording = false;
        bool stopped = false;
        uint64_t lastRecordedFrame = 0;
        std::vector<uint64_t> recorded;   // the scene frame of each recorded field
        std::vector<std::vector<unsigned char>> images;   // per camera, valid until the next call
    };

    // Frames since start on the host's own clock.
    uint64_t clockFrame() const;
    bool validCamera(int camera) const { return camera >= 0 && camera < static_cast<int>(cams.size()); }
    // Blobs the camera "sees" at a frame: bright enough for its threshold after gain and
    // exposure, and outside its rectangular masks.
    std::vector<Blob> visibleBlobs(int camera, uint64_t frame) const;
    Acquisition* findAcquisition(int acquisition);
    // Records the fields the clock has produced since the last call, up to the requested count.
    void record(Acquisition& acquisition);
    bool fieldRecorded(int acquisition, int field);

    HostOptions options;
    Scene scene;
    std::chrono::steady_clock::time_point start;
    std::vector<Camera> cams;
    bool realtime = false;
    bool anyFrameServed = false;
    uint64_t lastServedFrame = 0;
    Frame frame;
    uint64_t served = 0;
    uint64_t images = 0;
    int errors = 0;
    std::map<int, Acquisition> acquisitions;
};

}  // namespace simhost
