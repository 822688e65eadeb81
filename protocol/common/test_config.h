#pragma once
// A test configuration base with neutral answers, so that test doubles override only what
// their tests look at.
#include "protocol/common/abstract_config.h"

namespace config_test {

// No cameras, nothing to find, every change ignored, adding cameras refused as the host
// adapter refuses it; remembers the rates stored through it.
class NullConfig : public RyStoreProtocol::AbstractConfig {
public:
    LuNullable<float> rates[2];

    void changeThreshold(int, int) override {}
    int threshold(int) override { return 0; }
    int cameraCount() override { return 0; }
    LuStr cameraName(int) override { return LuStr(""); }
    LuNullable<LuDArray<int>> addCameras(const LuDArray<LuStr>&, LuStr& error) override {
        error = "Adding cameras it not supported.";
        return {};
    }
    void visitCamera(int, RyStoreProtocol::CameraVisitor&) override {}
    const LuDArray<int>& camerasForClient(const LuStr&, unsigned short) override { return noCameras_; }
    void addRectangularMask(int, const RyRectangularMask&) override {}
    void deleteRectangularMask(int, const RyRectangularMask&) override {}
    void changeSetting(int, const LuStr&, double) override {}
    LuDArray<LuNullable<LuDArray<RyRectangularMask>>> rectangularMasks() override { return {}; }
    LuDArray<LuNullable<bool>> onlineStates() override { return {}; }
    bool canFindAvailableCameras() override { return false; }
    RyStoreProtocol::AvailableCameras findAvailableCameras() override { return {}; }
    RyStoreProtocol::DefaultCamerasResult changeDefaultCameras(const LuDArray<int>&, const LuStr&,
                                                               unsigned short) override {
        return {};
    }
    LuNullable<float> storedRate(RyStoreProtocol::RateKind kind) override { return rates[kind]; }
    void storeRate(RyStoreProtocol::RateKind kind, float rate) override { rates[kind] = rate; }

private:
    LuDArray<int> noCameras_;
};

}  // namespace config_test
