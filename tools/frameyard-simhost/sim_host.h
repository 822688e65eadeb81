#pragma once
// A complete camera host over simulated or replayed cameras (its frame source): frames when the
// source has them due, thresholds, number settings, circular and rectangular masks,
// live-feature images and recorded acquisitions.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frameyard/server.h"
#include "tools/frameyard-simhost/frame_source.h"
#include "tools/host_base/neutral_host.h"

namespace simhost {

class SimHost : public hostbase::NeutralHost {
public:
    explicit SimHost(std::unique_ptr<FrameSource> source);

    // Announces what the host corrected on its own (a setting clamped to its range) and the
    // rates of the frames it serves; call it from the main loop, outside checkForEvent(), since
    // callbacks must not call the server.
    void tick();
    // The last frame served in the current run of frames, if any.
    std::optional<uint64_t> lastFrame() const { return lastServed; }

    uint64_t framesServed() const { return served; }
    uint64_t imagesServed() const { return images; }
    int errorCount() const { return errors; }

    // Host callbacks; the neutral base answers the rest (warnings, the pixel aspect ratio 1,
    // realtimeStarting()).
    void reportError(const std::string& message) override;
    int cameraCount() override;
    int cameraThreshold(int camera) override;
    bool setCameraThreshold(int camera, int threshold) override;
    std::vector<NumberSetting> cameraNumberSettings(int camera) override;
    bool changeCameraSetting(int camera, const std::string& name, float value) override;
    std::vector<CircularMask> cameraCircularMasks(int camera) override;
    void setCameraCircularMasks(int camera, const std::vector<CircularMask>& masks) override;
    bool cameraSupportsRectangularMasks(int camera) override;
    std::vector<RectangularMask> cameraRectangularMasks(int camera) override;
    void addCameraRectangularMask(int camera, const RectangularMask& mask) override;
    void deleteCameraRectangularMask(int camera, const RectangularMask& mask) override;
    std::string cameraName(int camera) override;
    int cameraImageWidth(int camera) override;
    int cameraImageHeight(int camera) override;
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
        int width = 0, height = 0;
        int threshold = 128;
        std::vector<NumberSetting> settings;
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

    // The source's newest frame now.
    uint64_t clockFrame() const;
    bool validCamera(int camera) const { return camera >= 0 && camera < static_cast<int>(cams.size()); }
    float settingValue(const Camera& cam, const std::string& name, float fallback) const;
    // Blobs the camera "sees" at a frame: outside its rectangular masks and, for a source that
    // simulates brightness, bright enough for its threshold after gain and exposure.
    std::vector<Blob> visibleBlobs(int camera, uint64_t frame) const;
    Acquisition* findAcquisition(int acquisition);
    // Records the fields the clock has produced since the last call, up to the requested count.
    void record(Acquisition& acquisition);
    bool fieldRecorded(int acquisition, int field);

    std::unique_ptr<FrameSource> source;
    std::vector<Camera> cams;
    bool realtime = false;
    std::optional<uint64_t> lastServed;
    std::optional<uint64_t> due;   // what frameAvailable() found for currentFrame()
    Frame frame;
    uint64_t served = 0;
    uint64_t images = 0;
    int errors = 0;
    std::map<int, Acquisition> acquisitions;
};

}  // namespace simhost
