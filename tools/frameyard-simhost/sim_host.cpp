#include "tools/frameyard-simhost/sim_host.h"

#include <algorithm>
#include <cmath>

namespace simhost {
namespace {

// How far a mask to delete may lie from a stored one: clients send back what they were told
// in display coordinates, which comes back to pixels only within float rounding.
constexpr float kMaskTolerance = 0.05f;

// Clamps into the setting's range (an infinite bound is none); a NaN keeps the old value.
float clampSetting(float value, const store::Server::NumberSetting& setting) {
    if (std::isnan(value)) return setting.value;
    if (setting.minimum <= setting.maximum) return std::clamp(value, setting.minimum, setting.maximum);
    return value;
}

bool insideRectangle(const store::Server::RectangularMask& m, float x, float y) {
    return x >= m.x && x <= m.x + m.width && y >= m.y && y <= m.y + m.height;
}

bool sameRectangle(const store::Server::RectangularMask& a, const store::Server::RectangularMask& b) {
    return std::fabs(a.x - b.x) <= kMaskTolerance && std::fabs(a.y - b.y) <= kMaskTolerance &&
           std::fabs(a.width - b.width) <= kMaskTolerance && std::fabs(a.height - b.height) <= kMaskTolerance;
}


}  // namespace

SimHost::SimHost(std::unique_ptr<FrameSource> frameSource)
    : NeutralHost(0, "frameyard-simhost: "), source(std::move(frameSource)) {
    for (const CameraSetup& setup : source->cameras()) {
        Camera cam;
        cam.name = setup.name;
        cam.width = setup.width;
        cam.height = setup.height;
        cam.threshold = setup.threshold;
        cam.settings = setup.settings;
        cams.push_back(std::move(cam));
    }
    setFrameRate(source->frameRate(0));
    setTimecodeRate(source->timecodeRate(0));
}

uint64_t SimHost::clockFrame() const { return source->frameAt(Clock::now()); }

float SimHost::settingValue(const Camera& cam, const std::string& name, float fallback) const {
    for (const NumberSetting& s : cam.settings) {
        if (s.name == name) return s.value;
    }
    return fallback;
}

void SimHost::tick() {
    // The server tells clients only when a rate differs from the one it holds.
    uint64_t current = lastServed.value_or(0);
    setFrameRate(source->frameRate(current));
    setTimecodeRate(source->timecodeRate(current));
    for (size_t i = 0; i < cams.size(); ++i) {
        if (cams[i].announcePending) {
            cams[i].announcePending = false;
            cameraSettingChanged(static_cast<int>(i));
        }
    }
}

std::vector<Blob> SimHost::visibleBlobs(int camera, uint64_t frameNumber) const {
    std::vector<Blob> out;
    if (!validCamera(camera)) return out;
    const Camera& cam = cams[static_cast<size_t>(camera)];
    float gain = settingValue(cam, "gain", 1.0f), exposure = settingValue(cam, "exposure", 10.0f);
    for (const Blob& b : source->blobs(camera, frameNumber)) {
        float level = static_cast<float>(b.brightness) * gain * exposure / 10.0f;
        if (source->simulatesBrightness() && std::min(level, 255.0f) < static_cast<float>(cam.threshold)) continue;
        bool masked = std::any_of(cam.rectangular.begin(), cam.rectangular.end(),
                                  [&](const RectangularMask& m) { return insideRectangle(m, b.x, b.y); });
        if (!masked) out.push_back(b);
    }
    return out;
}

void SimHost::reportError(const std::string& message) {
    ++errors;
    NeutralHost::reportError(message);
}

int SimHost::cameraCount() { return static_cast<int>(cams.size()); }

int SimHost::cameraThreshold(int camera) { return validCamera(camera) ? cams[static_cast<size_t>(camera)].threshold : 0; }

bool SimHost::setCameraThreshold(int camera, int threshold) {
    if (!validCamera(camera) || threshold < 0 || threshold > 255) return false;
    cams[static_cast<size_t>(camera)].threshold = threshold;
    return true;
}

std::vector<store::Server::NumberSetting> SimHost::cameraNumberSettings(int camera) {
    if (!validCamera(camera)) return {};
    return cams[static_cast<size_t>(camera)].settings;
}

bool SimHost::changeCameraSetting(int camera, const std::string& name, float value) {
    if (!validCamera(camera)) return false;
    Camera& cam = cams[static_cast<size_t>(camera)];
    auto target = std::find_if(cam.settings.begin(), cam.settings.end(),
                               [&](const NumberSetting& s) { return s.name == name; });
    if (target == cam.settings.end()) return false;
    float applied = clampSetting(value, *target);
    target->value = applied;
    // The library announces the requested value; when the host used another one, clients are
    // told the truth on the next tick.
    if (!(applied == value)) cam.announcePending = true;
    return true;
}

std::vector<store::Server::CircularMask> SimHost::cameraCircularMasks(int camera) {
    return validCamera(camera) ? cams[static_cast<size_t>(camera)].circular : std::vector<CircularMask>{};
}

void SimHost::setCameraCircularMasks(int camera, const std::vector<CircularMask>& masks) {
    if (validCamera(camera)) cams[static_cast<size_t>(camera)].circular = masks;
}

bool SimHost::cameraSupportsRectangularMasks(int camera) { return validCamera(camera); }

std::vector<store::Server::RectangularMask> SimHost::cameraRectangularMasks(int camera) {
    return validCamera(camera) ? cams[static_cast<size_t>(camera)].rectangular : std::vector<RectangularMask>{};
}

void SimHost::addCameraRectangularMask(int camera, const RectangularMask& mask) {
    if (!validCamera(camera)) return;
    if (!std::isfinite(mask.x) || !std::isfinite(mask.y) || !std::isfinite(mask.width) || !std::isfinite(mask.height)) {
        return;
    }
    cams[static_cast<size_t>(camera)].rectangular.push_back(mask);
}

void SimHost::deleteCameraRectangularMask(int camera, const RectangularMask& mask) {
    if (!validCamera(camera)) return;
    auto& list = cams[static_cast<size_t>(camera)].rectangular;
    auto found = std::find_if(list.begin(), list.end(), [&](const RectangularMask& m) { return sameRectangle(m, mask); });
    if (found != list.end()) list.erase(found);
}

std::string SimHost::cameraName(int camera) { return validCamera(camera) ? cams[static_cast<size_t>(camera)].name : ""; }

int SimHost::cameraImageWidth(int camera) { return validCamera(camera) ? cams[static_cast<size_t>(camera)].width : 0; }

int SimHost::cameraImageHeight(int camera) { return validCamera(camera) ? cams[static_cast<size_t>(camera)].height : 0; }

bool SimHost::frameAvailable() {
    due = realtime ? source->frameDue(Clock::now(), lastServed) : std::nullopt;
    return due.has_value();
}

const store::Server::Frame* SimHost::currentFrame() {
    uint64_t now = due.value_or(clockFrame());
    frame.centroids.assign(cams.size(), {});
    for (size_t c = 0; c < cams.size(); ++c) {
        for (const Blob& b : visibleBlobs(static_cast<int>(c), now)) frame.centroids[c].push_back({b.x, b.y});
    }
    frame.timecode = source->timecode(now);
    lastServed = now;
    ++served;
    return &frame;
}

void SimHost::startRealtime() {
    realtime = true;
    lastServed.reset();
    source->startFrames(Clock::now());
}

void SimHost::stopRealtime() { realtime = false; }

void SimHost::setCameraFeaturesWanted(int camera, bool wanted) {
    if (validCamera(camera)) cams[static_cast<size_t>(camera)].featuresWanted = wanted;
}

void SimHost::setCameraImagesWanted(int camera, bool wanted) {
    if (validCamera(camera)) cams[static_cast<size_t>(camera)].imagesWanted = wanted;
}

bool SimHost::cameraImageAvailable(int camera) {
    if (!validCamera(camera)) return false;
    const Camera& cam = cams[static_cast<size_t>(camera)];
    return cam.featuresWanted && !cam.imageHeld && clockFrame() > cam.lastImageFrame;
}

store::Server::Image SimHost::cameraImage(int camera) {
    if (!validCamera(camera)) return {nullptr, nullptr, nullptr};
    Camera& cam = cams[static_cast<size_t>(camera)];
    uint64_t now = clockFrame();
    cam.lastImageFrame = now;
    cam.imageHeld = true;
    std::vector<Blob> visible = visibleBlobs(camera, now);
    cam.segments.clear();
    // Segment record: row, first column, last column.
    for (const Run& run : blobRuns(visible, cam.width, cam.height)) cam.segments.push_back({{run.row, run.first, run.last}});
    if (cam.imagesWanted) renderBlobs(visible, cam.width, cam.height, cam.pixels);
    Timecode tc = source->timecode(now);
    std::copy(tc.begin(), tc.end(), cam.timecode);
    ++images;
    return {&cam.segments, cam.imagesWanted ? &cam.pixels : nullptr, cam.timecode};
}

void SimHost::releaseCameraImage(int camera) {
    if (validCamera(camera)) cams[static_cast<size_t>(camera)].imageHeld = false;
}

bool SimHost::acquireSupported() { return true; }

void SimHost::setAcquireRequest(int acquisition, const std::vector<AcquireFrame>& fields) {
    Acquisition& a = acquisitions[acquisition];
    a = Acquisition{};
    a.fields = fields;
    a.images.resize(cams.size());
}

SimHost::Acquisition* SimHost::findAcquisition(int acquisition) {
    auto found = acquisitions.find(acquisition);
    return found == acquisitions.end() ? nullptr : &found->second;
}

bool SimHost::acquireReady(int acquisition) { return findAcquisition(acquisition) != nullptr; }

void SimHost::acquireGo(int acquisition) {
    if (Acquisition* a = findAcquisition(acquisition)) {
        a->goPending = true;
        a->goFrame = clockFrame();
    }
}

bool SimHost::acquireFieldReady(int acquisition) {
    Acquisition* a = findAcquisition(acquisition);
    if (a == nullptr || !a->goPending || clockFrame() <= a->goFrame) return false;
    a->goPending = false;
    return true;
}

void SimHost::startAcquireRecording(int acquisition) {
    if (Acquisition* a = findAcquisition(acquisition)) {
        a->recording = true;
        a->lastRecordedFrame = clockFrame();
    }
}

void SimHost::stopAcquireRecording(int acquisition) {
    if (Acquisition* a = findAcquisition(acquisition)) {
        record(*a);
        a->stopped = true;
    }
}

void SimHost::record(Acquisition& a) {
    if (!a.recording || a.stopped) return;
    uint64_t now = clockFrame();
    while (a.lastRecordedFrame < now && a.recorded.size() < a.fields.size()) {
        a.recorded.push_back(++a.lastRecordedFrame);
    }
}

bool SimHost::acquireRecordingFinished(int acquisition) {
    Acquisition* a = findAcquisition(acquisition);
    if (a == nullptr) return true;
    // Fields are recorded only when counted (acquiredFrameCount), so that the count the client
    // was last told is the count the recording ends with.
    return a->stopped || a->recorded.size() >= a->fields.size();
}

int SimHost::acquiredFrameCount(int acquisition) {
    Acquisition* a = findAcquisition(acquisition);
    if (a == nullptr) return 0;
    record(*a);
    return static_cast<int>(std::min<size_t>(a->recorded.size(), 0x7fffffff));
}

bool SimHost::fieldRecorded(int acquisition, int field) {
    Acquisition* a = findAcquisition(acquisition);
    return a != nullptr && field >= 0 && static_cast<size_t>(field) < a->recorded.size();
}

bool SimHost::acquiredTimecodeAvailable(int acquisition, int field) { return fieldRecorded(acquisition, field); }

bool SimHost::acquiredImageAvailable(int acquisition, int field) { return fieldRecorded(acquisition, field); }

bool SimHost::acquiredGlobsAvailable(int acquisition, int field) { return fieldRecorded(acquisition, field); }

store::Server::Timecode SimHost::acquiredTimecode(int acquisition, int field) {
    if (!fieldRecorded(acquisition, field)) return {0, 0, 0, 0};
    return source->timecode(acquisitions[acquisition].recorded[static_cast<size_t>(field)]);
}

store::Server::AcquiredImage SimHost::acquiredImage(int acquisition, int field, int camera) {
    if (!fieldRecorded(acquisition, field) || !validCamera(camera)) return {0, 0, nullptr};
    Acquisition& a = acquisitions[acquisition];
    std::vector<unsigned char>& pixels = a.images[static_cast<size_t>(camera)];
    const Camera& cam = cams[static_cast<size_t>(camera)];
    renderBlobs(visibleBlobs(camera, a.recorded[static_cast<size_t>(field)]), cam.width, cam.height, pixels);
    return {cam.width, cam.height, pixels.data()};
}

std::vector<store::Server::Centroid> SimHost::acquiredCentroids(int acquisition, int field, int camera) {
    std::vector<Centroid> out;
    if (!fieldRecorded(acquisition, field) || !validCamera(camera)) return out;
    for (const Blob& b : visibleBlobs(camera, acquisitions[acquisition].recorded[static_cast<size_t>(field)])) {
        out.push_back({b.x, b.y});
    }
    return out;
}

void SimHost::endAcquire(int acquisition) { acquisitions.erase(acquisition); }

}  // namespace simhost
