#include "tests/test_host.h"

#include <sstream>

namespace {
std::string join(std::initializer_list<std::string> parts) {
    std::string out;
    for (const std::string& part : parts) {
        if (!out.empty()) out += ',';
        out += part;
    }
    return out;
}

std::string num(double value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

std::string str(int value) { return std::to_string(value); }
}  // namespace

std::string callText(const std::string& name, const std::string& arguments) { return name + "(" + arguments + ")"; }

TestHost::TestHost()
    : names{"left", "right"},
      widths{640, 640},
      heights{480, 480},
      thresholds{10, 20},
      aspectRatios{1.0f, 1.0f},
      circularMasks(2) {
#ifndef FRAMEYARD_TEST_REALTIME_ONLY
    settings.resize(2);
    rectangularMaskSupport = {false, false};
    rectangularMasks.resize(2);
#endif
}

TestHost::~TestHost() = default;

void TestHost::record(const std::string& name, const std::string& arguments) {
    calls.push_back(callText(name, arguments));
    auto hook = hooks.find(name);
    if (hook != hooks.end() && hook->second) hook->second();
}

int TestHost::callCount(const std::string& name) const { return static_cast<int>(callsTo(name).size()); }

std::vector<std::string> TestHost::callsTo(const std::string& name) const {
    std::vector<std::string> found;
    for (const std::string& call : calls)
        if (call.compare(0, name.size() + 1, name + "(") == 0) found.push_back(call);
    return found;
}

void TestHost::reportError(const std::string& message) {
    errors.push_back(message);
    record("reportError", message);
}

void TestHost::reportWarning(const std::string& message) {
    warnings.push_back(message);
    record("reportWarning", message);
}

int TestHost::cameraCount() {
    record("cameraCount");
    return cameras;
}

int TestHost::cameraThreshold(int camera) {
    record("cameraThreshold", str(camera));
    return entry(thresholds, camera, 0);
}

bool TestHost::setCameraThreshold(int camera, int threshold) {
    record("setCameraThreshold", join({str(camera), str(threshold)}));
    return true;
}

float TestHost::cameraPixelAspectRatio(int camera) {
    record("cameraPixelAspectRatio", str(camera));
    return entry(aspectRatios, camera, 1.0f);
}

std::vector<store::Server::CircularMask> TestHost::cameraCircularMasks(int camera) {
    record("cameraCircularMasks", str(camera));
    return entry(circularMasks, camera, {});
}

void TestHost::setCameraCircularMasks(int camera, const std::vector<CircularMask>& masks) {
    std::string text;
    for (const CircularMask& mask : masks) text += "[" + join({num(mask.x), num(mask.y), num(mask.radius)}) + "]";
    record("setCameraCircularMasks", join({str(camera), text}));
}

std::string TestHost::cameraName(int camera) {
    record("cameraName", str(camera));
    return entry(names, camera, std::string("camera") + str(camera));
}

int TestHost::cameraImageWidth(int camera) {
    record("cameraImageWidth", str(camera));
    return entry(widths, camera, 640);
}

int TestHost::cameraImageHeight(int camera) {
    record("cameraImageHeight", str(camera));
    return entry(heights, camera, 480);
}

void TestHost::realtimeStarting() { record("realtimeStarting"); }

bool TestHost::frameAvailable() {
    record("frameAvailable");
    return !frames.empty();
}

const store::Server::Frame* TestHost::currentFrame() {
    if (!frames.empty()) {
        current = frames.front();
        frames.pop_front();
    }
    record("currentFrame");
    return nullFrames ? nullptr : &current;
}

void TestHost::startRealtime() { record("startRealtime"); }

void TestHost::stopRealtime() { record("stopRealtime"); }

#ifdef FRAMEYARD_TEST_REALTIME_ONLY
void TestHost::reserved16() { record("reserved16"); }

void TestHost::reserved17() { record("reserved17"); }
#else
std::vector<store::Server::NumberSetting> TestHost::cameraNumberSettings(int camera) {
    record("cameraNumberSettings", str(camera));
    return entry(settings, camera, {});
}

bool TestHost::changeCameraSetting(int camera, const std::string& name, float value) {
    record("changeCameraSetting", join({str(camera), name, num(value)}));
    return true;
}

bool TestHost::cameraSupportsRectangularMasks(int camera) {
    record("cameraSupportsRectangularMasks", str(camera));
    return entry(rectangularMaskSupport, camera, false);
}

std::vector<store::Server::RectangularMask> TestHost::cameraRectangularMasks(int camera) {
    record("cameraRectangularMasks", str(camera));
    return entry(rectangularMasks, camera, {});
}

void TestHost::addCameraRectangularMask(int camera, const RectangularMask& mask) {
    record("addCameraRectangularMask",
           join({str(camera), num(mask.x), num(mask.y), num(mask.width), num(mask.height)}));
}

void TestHost::deleteCameraRectangularMask(int camera, const RectangularMask& mask) {
    record("deleteCameraRectangularMask",
           join({str(camera), num(mask.x), num(mask.y), num(mask.width), num(mask.height)}));
}

void TestHost::setCameraFeaturesWanted(int camera, bool wanted) {
    record("setCameraFeaturesWanted", join({str(camera), wanted ? "1" : "0"}));
}

void TestHost::setCameraImagesWanted(int camera, bool wanted) {
    record("setCameraImagesWanted", join({str(camera), wanted ? "1" : "0"}));
}

bool TestHost::cameraImageAvailable(int camera) {
    record("cameraImageAvailable", str(camera));
    auto found = images.find(camera);
    return found != images.end() && !found->second.empty();
}

store::Server::Image TestHost::cameraImage(int camera) {
    record("cameraImage", str(camera));
    auto found = images.find(camera);
    if (found == images.end() || found->second.empty()) return Image{nullptr, nullptr, nullptr};
    const ScriptedImage& image = found->second.front();
    return Image{image.noSegments ? nullptr : &image.segments, image.noPixels ? nullptr : &image.pixels,
                 image.timecode.size() < 4 ? nullptr : image.timecode.data()};
}

void TestHost::releaseCameraImage(int camera) {
    record("releaseCameraImage", str(camera));
    auto found = images.find(camera);
    if (found != images.end() && !found->second.empty()) found->second.pop_front();
}

bool TestHost::acquireSupported() {
    record("acquireSupported");
    return acquire;
}

void TestHost::setAcquireRequest(int acquisition, const std::vector<AcquireFrame>& fields) {
    record("setAcquireRequest", join({str(acquisition), str(static_cast<int>(fields.size()))}));
}

bool TestHost::acquireReady(int acquisition) {
    record("acquireReady", str(acquisition));
    return this->acquisition.ready;
}

void TestHost::acquireGo(int acquisition) { record("acquireGo", str(acquisition)); }

bool TestHost::acquireFieldReady(int acquisition) {
    record("acquireFieldReady", str(acquisition));
    return this->acquisition.fieldReady;
}

void TestHost::startAcquireRecording(int acquisition) { record("startAcquireRecording", str(acquisition)); }

void TestHost::stopAcquireRecording(int acquisition) { record("stopAcquireRecording", str(acquisition)); }

bool TestHost::acquireRecordingFinished(int acquisition) {
    record("acquireRecordingFinished", str(acquisition));
    return this->acquisition.finished;
}

int TestHost::acquiredFrameCount(int acquisition) {
    record("acquiredFrameCount", str(acquisition));
    return this->acquisition.recorded;
}

bool TestHost::acquiredTimecodeAvailable(int acquisition, int field) {
    record("acquiredTimecodeAvailable", join({str(acquisition), str(field)}));
    return this->acquisition.timecodes && recordedField(field);
}

bool TestHost::acquiredImageAvailable(int acquisition, int field) {
    record("acquiredImageAvailable", join({str(acquisition), str(field)}));
    return this->acquisition.images && recordedField(field);
}

bool TestHost::acquiredGlobsAvailable(int acquisition, int field) {
    record("acquiredGlobsAvailable", join({str(acquisition), str(field)}));
    return this->acquisition.globs && recordedField(field);
}

store::Server::Timecode TestHost::acquiredTimecode(int acquisition, int field) {
    record("acquiredTimecode", join({str(acquisition), str(field)}));
    return Timecode{{field, 1, 2, 3}};
}

store::Server::AcquiredImage TestHost::acquiredImage(int acquisition, int field, int camera) {
    record("acquiredImage", join({str(acquisition), str(field), str(camera)}));
    const AcquisitionScript& script = this->acquisition;
    acquiredPixels.resize(size_t(script.imageWidth) * size_t(script.imageHeight));
    for (size_t i = 0; i < acquiredPixels.size(); ++i) acquiredPixels[i] = acquiredPixel(field, camera, i);
    return AcquiredImage{script.imageWidth, script.imageHeight, acquiredPixels.data()};
}

std::vector<store::Server::Centroid> TestHost::acquiredCentroids(int acquisition, int field, int camera) {
    record("acquiredCentroids", join({str(acquisition), str(field), str(camera)}));
    return this->acquisition.centroids;
}

void TestHost::endAcquire(int acquisition) { record("endAcquire", str(acquisition)); }
#endif
