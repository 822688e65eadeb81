#pragma once
// The host adapters: the protocol-side interfaces served from the host callbacks, with every
// position converted between the host's image pixels and the clients' display coordinates.
// The adapters keep no host data; every call asks the host again.
#include "protocol/common/abstract_config.h"
#include "protocol/configure/configure_handler.h"
#include "server/server_core.h"
#include "sessions/multi_client_handler.h"
#include "toolkit/lu_nullable.h"

namespace store {

// The server's configuration as every protocol sees it, and the configure request's source of
// camera configuration: one adapter over the host for both, so that neither forwards to the
// other. It also keeps the last frame and timecode rates the host reported, so that a client
// enabling a rate monitor later still gets them.
class ServerCore::Config final : public RyStoreProtocol::AbstractConfig, public RyStoreConfigureHandlerBase {
public:
    explicit Config(ServerCore& core) : core(core) {}

    // ---- cameras, as both interfaces read them
    int cameraCount() override;
    void visitCamera(int camera, RyStoreProtocol::CameraVisitor& visitor) override;

    // ---- the protocols' configuration
    void changeThreshold(int camera, int value) override;
    int threshold(int camera) override;
    LuStr cameraName(int camera) override;
    // Every client is served all cameras, whoever it is.
    const LuDArray<int>& camerasForClient(const LuStr& peerName, unsigned short localPort) override;
    void addRectangularMask(int camera, const RyRectangularMask& mask) override;
    void deleteRectangularMask(int camera, const RyRectangularMask& mask) override;
    void changeSetting(int camera, const LuStr& name, double value) override;
    LuDArray<LuNullable<LuDArray<RyRectangularMask>>> rectangularMasks() override;
    LuNullable<float> storedRate(RyStoreProtocol::RateKind kind) override;
    void storeRate(RyStoreProtocol::RateKind kind, float rate) override;

    // What this server does not offer, whichever library: the host has no notion of adding
    // cameras, of online cameras (every state is unknown), of a camera search or of default
    // cameras.
    LuNullable<LuDArray<int>> addCameras(const LuDArray<LuStr>& names, LuStr& error) override;
    LuDArray<LuNullable<bool>> onlineStates() override;
    bool canFindAvailableCameras() override { return false; }
    RyStoreProtocol::AvailableCameras findAvailableCameras() override { return {}; }
    RyStoreProtocol::DefaultCamerasResult changeDefaultCameras(const LuDArray<int>& cameras,
                                                               const LuStr& peerName,
                                                               unsigned short localPort) override;

    // ---- the configure request's answers
    RyStoreProtocol::AbstractConfig& config() override { return *this; }
    bool supportsClientConfig() override { return true; }
    // Camera 0's ratio; the host is warned once for every camera that disagrees with it.
    float pixelAspectRatio() override;
    float secondAspectValue() override { return 1.0f; }
    bool reportsCameraCapabilities() override { return true; }
    LuDArray<LuDArray<RyCircularMask>> circularMasks() override;
    // Applies the entries the table has for existing cameras; the client's camera list does
    // not narrow it.
    void setCircularMasks(const LuDArray<LuDArray<RyCircularMask>>& table, const LuDArray<int>& cameras) override;
    LuDArray<int> thresholds() override;

private:
    HostInterface& host() { return core.hostObject(); }

    LuNullable<float> frameRate;
    LuNullable<float> timecodeRate;
    ServerCore& core;
};

// Tells the host when the first realtime client is ready and when the last one has gone.
class ServerCore::RealtimeModeHandler final : public RyStoreMultiClientHandlerBase::RealtimeHandler {
public:
    explicit RealtimeModeHandler(HostInterface& host) : host(host) {}

    void wantedCamerasChanged(const LuDArray<int>& cameras) override;
    void startRealtime() override;
    void stopRealtime() override;

private:
    HostInterface& host;
};

// One camera as camera descriptions read it, for the duration of one visit.
class ServerCore::CameraInfo final : public RyStoreProtocol::ConstCamera {
public:
    CameraInfo(HostInterface& host, int camera) : host(host), camera(camera) {}

    LuStr name() const override;
    LuGlobImageRegion imageRegion() const override;
    LuGlobImageRegion acquireImageRegion() const override;
    // Infinite or NaN bounds count as "no bound", so descriptions stay valid JSON.
    void visitNumberSettings(RyStoreProtocol::NumberSettingVisitor& visitor) const override;
    bool isDisabled() const override { return false; }

private:
    HostInterface& host;
    int camera;
};

// A std::string from the host as a protocol string, embedded NULs and all.
LuStr toLuStr(const std::string& text);

// Adds or removes value in an ascending list without duplicates, keeping it so.
void setSortedMember(LuDArray<int>& sorted, int value, bool member);

}  // namespace store
