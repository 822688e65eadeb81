#pragma once
// Test doubles for the command side: cameras with scripted descriptions, a configuration and a
// configure handler that record what is done through them, and a session connection whose
// input the test plays.
#include <string>
#include <vector>

#include "net/non_blocking_socket.h"
#include "net/test_sockets.h"
#include "protocol/configure/configure_handler.h"
#include "protocol/common/test_config.h"

namespace command_test {

struct FakeCamera : RyStoreProtocol::ConstCamera {
    LuStr cameraName;
    LuGlobImageRegion region, acquireRegion;
    bool disabled = false;
    std::vector<RyStoreProtocol::NumberSetting> settings;

    explicit FakeCamera(const char* name) : cameraName(name) {}
    LuStr name() const override { return cameraName; }
    LuGlobImageRegion imageRegion() const override { return region; }
    LuGlobImageRegion acquireImageRegion() const override { return acquireRegion; }
    void visitNumberSettings(RyStoreProtocol::NumberSettingVisitor& visitor) const override {
        for (const auto& setting : settings) visitor.visit(setting);
    }
    bool isDisabled() const override { return disabled; }
};

struct SettingCall {
    int camera;
    std::string name;
    double value;
};

class FakeConfig : public config_test::NullConfig {
public:
    std::vector<FakeCamera> cameras;
    std::vector<int> thresholdValues;
    LuNullable<LuDArray<int>> addedCameras;  // what addCameras answers; null refuses
    std::vector<std::string> addCamerasCalls;
    std::vector<SettingCall> settingCalls;
    std::vector<std::pair<int, RyRectangularMask>> addedMasks, deletedMasks;
    bool canFind = false;
    RyStoreProtocol::AvailableCameras available;
    RyStoreProtocol::DefaultCamerasResult defaultResult;
    std::vector<int> defaultCameras;
    std::string defaultPeer;
    unsigned short defaultPort = 0;

    int threshold(int camera) override { return thresholdValues.at(size_t(camera)); }
    int cameraCount() override { return int(cameras.size()); }
    LuStr cameraName(int camera) override { return cameras.at(size_t(camera)).cameraName; }
    LuNullable<LuDArray<int>> addCameras(const LuDArray<LuStr>& names, LuStr& error) override {
        for (const LuStr& name : names) addCamerasCalls.push_back(name.str());
        if (addedCameras.isNull()) error = "Adding cameras it not supported.";
        return addedCameras;
    }
    void visitCamera(int camera, RyStoreProtocol::CameraVisitor& visitor) override {
        if (camera >= 0 && size_t(camera) < cameras.size()) visitor.visit(cameras[size_t(camera)]);
    }
    void addRectangularMask(int camera, const RyRectangularMask& mask) override { addedMasks.push_back({camera, mask}); }
    void deleteRectangularMask(int camera, const RyRectangularMask& mask) override {
        deletedMasks.push_back({camera, mask});
    }
    void changeSetting(int camera, const LuStr& name, double value) override {
        settingCalls.push_back({camera, name.str(), value});
    }
    bool canFindAvailableCameras() override { return canFind; }
    RyStoreProtocol::AvailableCameras findAvailableCameras() override { return available; }
    RyStoreProtocol::DefaultCamerasResult changeDefaultCameras(const LuDArray<int>& list, const LuStr& peer,
                                                               unsigned short port) override {
        defaultCameras.assign(list.begin(), list.end());
        defaultPeer = peer.str();
        defaultPort = port;
        return defaultResult;
    }
};

class FakeConfigureHandler : public RyStoreConfigureHandlerBase {
public:
    FakeConfig fakeConfig;
    float aspect = 1.0f;
    float second = 1.0f;
    bool clientConfig = true;
    bool capabilities = true;
    LuDArray<LuDArray<RyCircularMask>> masks;
    LuDArray<int> thresholdTable;
    std::vector<LuDArray<LuDArray<RyCircularMask>>> setTables;
    std::vector<std::vector<int>> setCameras;

    void visitCamera(int camera, RyStoreProtocol::CameraVisitor& visitor) override {
        fakeConfig.visitCamera(camera, visitor);
    }
    RyStoreProtocol::AbstractConfig& config() override { return fakeConfig; }
    int cameraCount() override { return fakeConfig.cameraCount(); }
    bool supportsClientConfig() override { return clientConfig; }
    float pixelAspectRatio() override { return aspect; }
    float secondAspectValue() override { return second; }
    bool reportsCameraCapabilities() override { return capabilities; }
    LuDArray<LuDArray<RyCircularMask>> circularMasks() override { return masks; }
    void setCircularMasks(const LuDArray<LuDArray<RyCircularMask>>& table, const LuDArray<int>& cameras) override {
        setTables.push_back(table);
        setCameras.emplace_back(cameras.begin(), cameras.end());
    }
    LuDArray<int> thresholds() override { return thresholdTable; }
};

// The inner connection under the session socket: records what the server wrote.
class RecordingSocket : public net_test::NullSocket {
public:
    std::string written;
    int write(const void* buffer, size_t length) override {
        written.append(static_cast<const char*>(buffer), length);
        return int(length);
    }
};

// A session connection whose client the test plays.
struct Connection {
    RecordingSocket inner;
    net_test::FakeClock clock;
    NonBlockingSocket socket{inner, clock};

    void send(const std::string& bytes) { socket.input().append(bytes.data(), bytes.size()); }
    void peerCloses() { socket.input().markPeerClosed(); }
};

inline std::string bytes(std::initializer_list<unsigned char> list) { return std::string(list.begin(), list.end()); }

inline LuDArray<int> intArray(std::initializer_list<int> values) {
    LuDArray<int> out;
    for (int v : values) out.append(v);
    return out;
}

}  // namespace command_test
