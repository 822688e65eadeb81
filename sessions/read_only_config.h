#pragma once
// The server's configuration as a client that may not change the host sees it: every read
// goes to the server's own configuration, every change (threshold, camera setting, rectangular
// or circular masks) stops here and is reported as refused. Nothing reaches the host and no
// client is notified, so the protocols run unchanged on top of it.
#include <string>
#include <utility>

#include "protocol/common/abstract_config.h"
#include "protocol/configure/configure_handler.h"

class AccessPolicy;

class ReadOnlyConfig final : public RyStoreProtocol::AbstractConfig {
public:
    // All borrowed; `client` names the client in the refusal lines.
    ReadOnlyConfig(RyStoreProtocol::AbstractConfig& inner, AccessPolicy& access, std::string client)
        : inner(inner), access(access), client(std::move(client)) {}

    bool takesChanges() const override { return false; }
    void changeThreshold(int camera, int value) override;
    void addRectangularMask(int camera, const RyRectangularMask& mask) override;
    void deleteRectangularMask(int camera, const RyRectangularMask& mask) override;
    void changeSetting(int camera, const LuStr& name, double value) override;
    // Reported from the configure request, whose adapter holds this view.
    void refuse(const char* what);

    int threshold(int camera) override { return inner.threshold(camera); }
    int cameraCount() override { return inner.cameraCount(); }
    LuStr cameraName(int camera) override { return inner.cameraName(camera); }
    LuNullable<LuDArray<int>> addCameras(const LuDArray<LuStr>& names, LuStr& error) override {
        return inner.addCameras(names, error);
    }
    void visitCamera(int camera, RyStoreProtocol::CameraVisitor& visitor) override {
        inner.visitCamera(camera, visitor);
    }
    const LuDArray<int>& camerasForClient(const LuStr& peerName, unsigned short localPort) override {
        return inner.camerasForClient(peerName, localPort);
    }
    LuDArray<LuNullable<LuDArray<RyRectangularMask>>> rectangularMasks() override { return inner.rectangularMasks(); }
    LuDArray<LuNullable<bool>> onlineStates() override { return inner.onlineStates(); }
    bool canFindAvailableCameras() override { return inner.canFindAvailableCameras(); }
    RyStoreProtocol::AvailableCameras findAvailableCameras() override { return inner.findAvailableCameras(); }
    RyStoreProtocol::DefaultCamerasResult changeDefaultCameras(const LuDArray<int>& cameras, const LuStr& peerName,
                                                               unsigned short localPort) override {
        return inner.changeDefaultCameras(cameras, peerName, localPort);
    }
    LuNullable<float> storedRate(RyStoreProtocol::RateKind kind) override { return inner.storedRate(kind); }
    void storeRate(RyStoreProtocol::RateKind kind, float rate) override { inner.storeRate(kind, rate); }

private:
    RyStoreProtocol::AbstractConfig& inner;
    AccessPolicy& access;
    std::string client;
};

// The configure request's adapter for such a client: a set-masks packet is read as usual and
// then not applied.
class ReadOnlyConfigureHandler final : public RyStoreConfigureHandlerBase {
public:
    ReadOnlyConfigureHandler(RyStoreConfigureHandlerBase& inner, AccessPolicy& access, std::string client)
        : inner(inner), readOnly(inner.config(), access, std::move(client)) {}

    RyStoreProtocol::AbstractConfig& config() override { return readOnly; }
    void setCircularMasks(const LuDArray<LuDArray<RyCircularMask>>&, const LuDArray<int>&) override {
        readOnly.refuse("circular mask change");
    }

    void visitCamera(int camera, RyStoreProtocol::CameraVisitor& visitor) override {
        inner.visitCamera(camera, visitor);
    }
    int cameraCount() override { return inner.cameraCount(); }
    bool supportsClientConfig() override { return inner.supportsClientConfig(); }
    float pixelAspectRatio() override { return inner.pixelAspectRatio(); }
    float secondAspectValue() override { return inner.secondAspectValue(); }
    bool reportsCameraCapabilities() override { return inner.reportsCameraCapabilities(); }
    LuDArray<LuDArray<RyCircularMask>> circularMasks() override { return inner.circularMasks(); }
    LuDArray<int> thresholds() override { return inner.thresholds(); }

private:
    RyStoreConfigureHandlerBase& inner;
    ReadOnlyConfig readOnly;
};
