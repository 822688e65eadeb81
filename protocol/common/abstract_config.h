#pragma once
// How the protocols see the host's configuration and cameras. The server's host adapters
// implement these interfaces over the host callbacks; protocols never call the host directly.
#include "protocol/common/records.h"
#include "toolkit/lu_array.h"
#include "toolkit/lu_nullable.h"
#include "toolkit/lu_str.h"

namespace RyStoreProtocol {

class NumberSettingVisitor {
public:
    virtual bool visit(const NumberSetting& setting) = 0;

protected:
    ~NumberSettingVisitor() = default;
};

// A read-only view of one camera, valid for the duration of one visit.
class ConstCamera {
public:
    virtual ~ConstCamera() = default;
    virtual LuStr name() const = 0;
    virtual LuGlobImageRegion imageRegion() const = 0;
    virtual LuGlobImageRegion acquireImageRegion() const = 0;
    virtual void visitNumberSettings(NumberSettingVisitor& visitor) const = 0;
    virtual bool isDisabled() const = 0;
};

class CameraVisitor {
public:
    virtual bool visit(const ConstCamera& camera) = 0;

protected:
    ~CameraVisitor() = default;
};

// Frame rate and timecode rate are the two monitor kinds whose value the configuration keeps.
enum RateKind { frameRateKind = 0, timecodeRateKind = 1 };

struct AvailableCameras {
    bool ready = true;
    LuDArray<LuStr> names;
};

struct DefaultCamerasResult {
    int code = 1;
    LuStr message;
};

class AbstractConfig {
public:
    virtual ~AbstractConfig() = default;
    // False for the view of a client that may not change the host: its changes are refused
    // there, and the protocols do not log them as made.
    virtual bool takesChanges() const { return true; }
    virtual void changeThreshold(int camera, int value) = 0;
    virtual int threshold(int camera) = 0;
    virtual int cameraCount() = 0;
    virtual LuStr cameraName(int camera) = 0;
    // Null when the cameras cannot be added; error then says why.
    virtual LuNullable<LuDArray<int>> addCameras(const LuDArray<LuStr>& names, LuStr& error) = 0;
    virtual void visitCamera(int camera, CameraVisitor& visitor) = 0;
    virtual const LuDArray<int>& camerasForClient(const LuStr& peerName, unsigned short localPort) = 0;
    virtual void addRectangularMask(int camera, const RyRectangularMask& mask) = 0;
    virtual void deleteRectangularMask(int camera, const RyRectangularMask& mask) = 0;
    virtual void changeSetting(int camera, const LuStr& name, double value) = 0;
    // One entry per host camera: null when the camera has no rectangular-mask support.
    virtual LuDArray<LuNullable<LuDArray<RyRectangularMask>>> rectangularMasks() = 0;
    virtual LuDArray<LuNullable<bool>> onlineStates() = 0;
    virtual bool canFindAvailableCameras() = 0;
    virtual AvailableCameras findAvailableCameras() = 0;
    virtual DefaultCamerasResult changeDefaultCameras(const LuDArray<int>& cameras, const LuStr& peerName,
                                                      unsigned short localPort) = 0;

    // The last frame or timecode rate the host reported (null until it reports one).
    virtual LuNullable<float> storedRate(RateKind kind) = 0;
    virtual void storeRate(RateKind kind, float rate) = 0;
};

}  // namespace RyStoreProtocol
