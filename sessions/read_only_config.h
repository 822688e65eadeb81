#pragma once
// The server's configuration as a client that may not change the host sees it, for the
// protocols and for the configure request alike: every read goes to the server's own
// configuration, every change (threshold, camera setting, rectangular or circular masks) stops
// here and is reported as refused. Nothing reaches the host and no client is notified, so the
// protocols run unchanged on top of it; a set-masks packet is read as usual and then not applied.
#include <string>
#include <utility>

#include "protocol/common/abstract_config.h"
#include "protocol/configure/configure_handler.h"

class AccessPolicy;

class ReadOnlyConfig final : public RyStoreProtocol::AbstractConfig, public RyStoreConfigureHandlerBase {
public:
    // All borrowed; `client` names the client in the refusal lines.
    ReadOnlyConfig(RyStoreConfigureHandlerBase& inner, AccessPolicy& access, std::string client)
        : inner(inner), innerConfig(inner.config()), access(access), client(std::move(client)) {}

    // ---- refused
    bool takesChanges() const override { return false; }
    void changeThreshold(int camera, int value) override;
    void addRectangularMask(int camera, const RyRectangularMask& mask) override;
    void deleteRectangularMask(int camera, const RyRectangularMask& mask) override;
    void changeSetting(int camera, const LuStr& name, double value) override;
    void setCircularMasks(const LuDArray<LuDArray<RyCircularMask>>& table, const LuDArray<int>& cameras) override;

    // ---- read through
    RyStoreProtocol::AbstractConfig& config() override { return *this; }
    int cameraCount() override { return inner.cameraCount(); }
    void visitCamera(int camera, RyStoreProtocol::CameraVisitor& visitor) override {
        inner.visitCamera(camera, visitor);
    }
    int threshold(int camera) override { return innerConfig.threshold(camera); }
    LuStr cameraName(int camera) override { return innerConfig.cameraName(camera); }
    LuNullable<LuDArray<int>> addCameras(const LuDArray<LuStr>& names, LuStr& error) override {
        return innerConfig.addCameras(names, error);
    }
    const LuDArray<int>& camerasForClient(const LuStr& peerName, unsigned short localPort) override {
        return innerConfig.camerasForClient(peerName, localPort);
    }
    LuDArray<LuNullable<LuDArray<RyRectangularMask>>> rectangularMasks() override {
        return innerConfig.rectangularMasks();
    }
    LuDArray<LuNullable<bool>> onlineStates() override { return innerConfig.onlineStates(); }
    bool canFindAvailableCameras() override { return innerConfig.canFindAvailableCameras(); }
    RyStoreProtocol::AvailableCameras findAvailableCameras() override { return innerConfig.findAvailableCameras(); }
    RyStoreProtocol::DefaultCamerasResult changeDefaultCameras(const LuDArray<int>& cameras, const LuStr& peerName,
                                                               unsigned short localPort) override {
        return innerConfig.changeDefaultCameras(cameras, peerName, localPort);
    }
    LuNullable<float> storedRate(RyStoreProtocol::RateKind kind) override { return innerConfig.storedRate(kind); }
    void storeRate(RyStoreProtocol::RateKind kind, float rate) override { innerConfig.storeRate(kind, rate); }
    bool supportsClientConfig() override { return inner.supportsClientConfig(); }
    float pixelAspectRatio() override { return inner.pixelAspectRatio(); }
    float secondAspectValue() override { return inner.secondAspectValue(); }
    bool reportsCameraCapabilities() override { return inner.reportsCameraCapabilities(); }
    LuDArray<LuDArray<RyCircularMask>> circularMasks() override { return inner.circularMasks(); }
    LuDArray<int> thresholds() override { return inner.thresholds(); }

private:
    void refuse(const char* what);

    RyStoreConfigureHandlerBase& inner;
    RyStoreProtocol::AbstractConfig& innerConfig;
    AccessPolicy& access;
    std::string client;
};
