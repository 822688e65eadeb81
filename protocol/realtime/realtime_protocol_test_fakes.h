#pragma once
// Test doubles for the realtime side: a connection that records what the server wrote, a
// configuration that records changes made through it, and frames of scripted glob lists.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "net/clock.h"
#include "net/non_blocking_socket.h"
#include "net/test_sockets.h"
#include "protocol/frames/glob_interfaces.h"
#include "protocol/common/test_config.h"

namespace realtime_test {

// The connection under a NonBlockingSocket; client input goes straight into the session's
// input buffer, so reads here only tell whether the connection is still there.
class RecordingSocket : public net_test::NullSocket {
public:
    std::string written;
    bool failWrites = false;
    bool open = true;
    int closeCalls = 0;
    int noDelayCalls = 0;

    int read(void*, size_t) override { return open ? 0 : -1; }
    int write(const void* buffer, size_t length) override {
        if (failWrites || !open) return -1;
        written.append(static_cast<const char*>(buffer), length);
        return static_cast<int>(length);
    }
    void close() override { ++closeCalls, open = false; }
    void abort() override { open = false; }
    bool isOpen() const override { return open; }
    void setNoDelay() override { ++noDelayCalls; }
};

// A session connection whose client the test plays.
struct Connection {
    RecordingSocket inner;
    net_test::FakeClock clock{1.0};
    NonBlockingSocket socket{inner, clock};

    void send(const std::string& bytes) { socket.input().append(bytes.data(), bytes.size()); }
    void peerCloses() { socket.input().markPeerClosed(); }
    // What the server wrote since the last call.
    std::string takeWritten() { return std::exchange(inner.written, std::string()); }
};

class RecordingConfig : public config_test::NullConfig {
public:
    std::vector<std::pair<int, int>> thresholdChanges;      // camera, value
    std::vector<std::pair<int, std::string>> settingChanges;  // camera, name
    LuDArray<LuNullable<LuDArray<RyRectangularMask>>> maskTable;
    LuDArray<LuNullable<bool>> states;

    void changeThreshold(int camera, int value) override { thresholdChanges.push_back({camera, value}); }
    int cameraCount() override { return 3; }
    LuStr cameraName(int camera) override { return LuStr::format("camera%d", camera); }
    void changeSetting(int camera, const LuStr& name, double) override { settingChanges.push_back({camera, name.str()}); }
    LuDArray<LuNullable<LuDArray<RyRectangularMask>>> rectangularMasks() override { return maskTable; }
    LuDArray<LuNullable<bool>> onlineStates() override { return states; }
};

// Scripted glob records that remember how far they were read through centroid(); with
// `contiguous` set they are also offered as one array, as the server's frame copy does.
class ScriptedGlobList : public RyStoreProtocol::AbstractGlobList {
public:
    std::vector<RyStoreProtocol::GlobRecord> globs;
    mutable int highestRead = -1;
    bool contiguous = false;

    int globCount() const override { return static_cast<int>(globs.size()); }
    RyStoreProtocol::GlobRecord centroid(int index) const override {
        highestRead = std::max(highestRead, index);
        return globs.at(static_cast<size_t>(index));
    }
    const RyStoreProtocol::GlobRecord* records() const override { return contiguous ? globs.data() : nullptr; }
};

// One scripted list per host camera, and their circular masks.
class ScriptedFrame : public RyStoreProtocol::AbstractGlobFrame, public RyStoreProtocol::MaskInfo {
public:
    std::vector<ScriptedGlobList> lists;
    std::vector<LuDArray<RyCircularMask>> masks;
    std::vector<bool> fullyMasked;

    explicit ScriptedFrame(int cameras = 1)
        : lists(size_t(cameras)), masks(size_t(cameras)), fullyMasked(size_t(cameras)) {}
    int globListCount() const override { return static_cast<int>(lists.size()); }
    void visitGlobList(int camera, RyStoreProtocol::GlobListVisitor& visitor) const override {
        visitor.visit(lists.at(size_t(camera)));
    }
    const LuDArray<RyCircularMask>& circularMasks(int camera) const override { return masks.at(size_t(camera)); }
    bool isFullyMasked(int camera) const override { return fullyMasked.at(size_t(camera)); }

    void add(int camera, float x, float y) { lists.at(size_t(camera)).globs.push_back({x, y, 1}); }
    void addMask(int camera, float x, float y, float radius) { masks.at(size_t(camera)).append({x, y, radius}); }
};

inline std::string bytes(std::initializer_list<unsigned char> list) { return std::string(list.begin(), list.end()); }

}  // namespace realtime_test
