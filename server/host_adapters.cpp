#include "server/host_adapters.h"

#include <cfloat>
#include <cmath>

#include "server/display_coordinates.h"

namespace store {

LuStr toLuStr(const std::string& text) { return LuStr(text.data(), text.size()); }

void setSortedMember(LuDArray<int>& sorted, int value, bool member) {
    int size = sorted.getSize();
    int place = 0;
    while (place < size && sorted[place] < value) ++place;
    bool present = place < size && sorted[place] == value;
    if (member && !present) {
        sorted.append(value);
        for (int i = size; i > place; --i) sorted[i] = sorted[i - 1];
        sorted[place] = value;
    } else if (!member && present) {
        for (int i = place; i + 1 < size; ++i) sorted[i] = sorted[i + 1];
        sorted.setSize(size - 1);
    }
}

namespace {
DisplayScale scaleOf(HostInterface& host, int camera) {
    return DisplayScale(host.cameraImageWidth(camera), host.cameraImageHeight(camera));
}

int countOf(HostInterface& host) {
    int count = host.cameraCount();
    return count > 0 ? count : 0;
}
}  // namespace

// ---- Config

void ServerCore::Config::changeThreshold(int camera, int value) {
    host().setCameraThreshold(camera, value);
    core.announceSetting(camera, "_threshold", value);
}

int ServerCore::Config::threshold(int camera) { return host().cameraThreshold(camera); }

int ServerCore::Config::cameraCount() { return host().cameraCount(); }

LuStr ServerCore::Config::cameraName(int camera) { return toLuStr(host().cameraName(camera)); }

LuNullable<LuDArray<int>> ServerCore::Config::addCameras(const LuDArray<LuStr>&, LuStr& error) {
    error = "Adding cameras it not supported.";
    return LuNullable<LuDArray<int>>();
}

void ServerCore::Config::visitCamera(int camera, RyStoreProtocol::CameraVisitor& visitor) {
    CameraInfo info(host(), camera);
    visitor.visit(info);
}

const LuDArray<int>& ServerCore::Config::camerasForClient(const LuStr&, unsigned short) {
    LuDArray<int>& indices = core.cameraIndexList();
    int count = countOf(host());
    indices.setSize(count);
    for (int i = 0; i < count; ++i) indices[i] = i;
    return indices;
}

void ServerCore::Config::addRectangularMask(int camera, const RyRectangularMask& mask) {
    host().addCameraRectangularMask(camera, scaleOf(host(), camera).toPixels(mask));
    core.broadcastRectangularMasks();
}

void ServerCore::Config::deleteRectangularMask(int camera, const RyRectangularMask& mask) {
    host().deleteCameraRectangularMask(camera, scaleOf(host(), camera).toPixels(mask));
    core.broadcastRectangularMasks();
}

void ServerCore::Config::changeSetting(int camera, const LuStr& name, double value) {
    host().changeCameraSetting(camera, name.str(), static_cast<float>(value));
    core.announceSetting(camera, name, value);
}

LuDArray<LuNullable<LuDArray<RyRectangularMask>>> ServerCore::Config::rectangularMasks() {
    LuDArray<LuNullable<LuDArray<RyRectangularMask>>> table;
    int count = countOf(host());
    table.setSize(count);
    for (int camera = 0; camera < count; ++camera) {
        if (!host().cameraSupportsRectangularMasks(camera)) continue;
        DisplayScale scale = scaleOf(host(), camera);
        LuDArray<RyRectangularMask> masks;
        for (const HostInterface::RectangularMask& mask : host().cameraRectangularMasks(camera)) masks.append(scale.toDisplay(mask));
        table[camera] = masks;
    }
    return table;
}

LuDArray<LuNullable<bool>> ServerCore::Config::onlineStates() {
    LuDArray<LuNullable<bool>> states;
    states.setSize(countOf(host()));
    return states;
}

RyStoreProtocol::DefaultCamerasResult ServerCore::Config::changeDefaultCameras(const LuDArray<int>&,
                                                                                 const LuStr&, unsigned short) {
    RyStoreProtocol::DefaultCamerasResult result;
    result.code = 1;
    result.message = "";
    return result;
}

LuNullable<float> ServerCore::Config::storedRate(RyStoreProtocol::RateKind kind) {
    return kind == RyStoreProtocol::frameRateKind ? frameRate : timecodeRate;
}

void ServerCore::Config::storeRate(RyStoreProtocol::RateKind kind, float rate) {
    if (kind == RyStoreProtocol::frameRateKind)
        frameRate = rate;
    else
        timecodeRate = rate;
}

// ---- the configure request's answers

float ServerCore::Config::pixelAspectRatio() {
    int count = host().cameraCount();
    // Without cameras there is no camera 0 to ask; square pixels are the neutral answer.
    if (count <= 0) return 1.0f;
    float first = host().cameraPixelAspectRatio(0);
    for (int camera = 1; camera < count; ++camera) {
        if (host().cameraPixelAspectRatio(camera) != first)
            host().reportWarning("Cameras with different pixel aspect ratios are not supported.");
    }
    return first;
}

LuDArray<LuDArray<RyCircularMask>> ServerCore::Config::circularMasks() {
    LuDArray<LuDArray<RyCircularMask>> table;
    int count = countOf(host());
    table.setSize(count);
    for (int camera = 0; camera < count; ++camera) {
        for (const RyCircularMask& mask : host().cameraCircularMasks(camera)) table[camera].append(mask);
    }
    return table;
}

void ServerCore::Config::setCircularMasks(const LuDArray<LuDArray<RyCircularMask>>& table,
                                                      const LuDArray<int>&) {
    int count = host().cameraCount();
    for (int camera = 0; camera < count && camera < table.getSize(); ++camera) {
        std::vector<RyCircularMask> masks(table[camera].begin(), table[camera].end());
        host().setCameraCircularMasks(camera, masks);
    }
}

LuDArray<int> ServerCore::Config::thresholds() {
    LuDArray<int> values;
    int count = countOf(host());
    values.setSize(count);
    for (int camera = 0; camera < count; ++camera) values[camera] = host().cameraThreshold(camera);
    return values;
}

// ---- mode handlers

void ServerCore::RealtimeModeHandler::wantedCamerasChanged(const LuDArray<int>&) {
    // The host produces frames of all its cameras whoever watches them.
}

void ServerCore::RealtimeModeHandler::startRealtime() {
    host.realtimeStarting();
    host.startRealtime();
}

void ServerCore::RealtimeModeHandler::stopRealtime() { host.stopRealtime(); }

// ---- CameraInfo

LuStr ServerCore::CameraInfo::name() const { return toLuStr(host.cameraName(camera)); }

LuGlobImageRegion ServerCore::CameraInfo::imageRegion() const { return scaleOf(host, camera).imageRegion(); }

LuGlobImageRegion ServerCore::CameraInfo::acquireImageRegion() const {
    return host.describesAcquisitionRegions() ? imageRegion() : LuGlobImageRegion{};
}

void ServerCore::CameraInfo::visitNumberSettings(RyStoreProtocol::NumberSettingVisitor& visitor) const {
    for (const HostInterface::NumberSetting& setting : host.cameraNumberSettings(camera)) {
        RyStoreProtocol::NumberSetting out;
        out.name = toLuStr(setting.name);
        out.value = setting.value;
        out.precision = setting.precision;
        out.minimum = std::isfinite(setting.minimum) ? double(setting.minimum) : -DBL_MAX;
        out.maximum = std::isfinite(setting.maximum) ? double(setting.maximum) : DBL_MAX;
        visitor.visit(out);
    }
}

}  // namespace store
