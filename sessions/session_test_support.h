#pragma once
// Test doubles for the session tests: a configuration that records what sessions do through
// it, a recording realtime host, a frame that counts how often it is encoded, a scripted
// connection, and real 127.0.0.1 clients of a handler driven until a condition or a deadline.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "frameyard/client/requests.h"
#include "net/test_sockets.h"
#include "protocol/configure/configure_handler.h"
#include "protocol/common/test_config.h"
#include "sessions/acquire_mode.h"
#include "sessions/acquire_request.h"
#include "sessions/command_mode.h"
#include "sessions/configure_mode.h"
#include "sessions/mode_table.h"
#include "sessions/multi_client_handler.h"
#include "sessions/realtime_mode.h"

namespace session_test {

// Host cameras cam0, cam1, ... with threshold 10 * (index + 1).
class FakeConfig : public config_test::NullConfig {
public:
    int cameras = 3;
    std::vector<std::pair<int, int>> thresholdChanges;
    std::function<void()> onThresholdChange;

    void changeThreshold(int camera, int value) override {
        thresholdChanges.push_back({camera, value});
        if (onThresholdChange) onThresholdChange();
    }
    int threshold(int camera) override { return 10 * (camera + 1); }
    int cameraCount() override { return cameras; }
    LuStr cameraName(int camera) override { return LuStr::format("cam%d", camera); }
    const LuDArray<int>& camerasForClient(const LuStr&, unsigned short) override {
        all.clear();
        for (int i = 0; i < cameras; ++i) all.append(i);
        return all;
    }

private:
    LuDArray<int> all;
};

class FakeConfigure : public RyStoreConfigureHandlerBase {
public:
    FakeConfig fakeConfig;
    bool clientConfigSupported = true;

    void visitCamera(int, RyStoreProtocol::CameraVisitor&) override {}
    RyStoreProtocol::AbstractConfig& config() override { return fakeConfig; }
    int cameraCount() override { return fakeConfig.cameras; }
    bool supportsClientConfig() override { return clientConfigSupported; }
    float pixelAspectRatio() override { return 1.0f; }
    float secondAspectValue() override { return 1.0f; }
    bool reportsCameraCapabilities() override { return true; }
    LuDArray<LuDArray<RyCircularMask>> circularMasks() override { return {}; }
    void setCircularMasks(const LuDArray<LuDArray<RyCircularMask>>&, const LuDArray<int>&) override {}
    LuDArray<int> thresholds() override { return {}; }
};

// Records the host calls as "wanted:0,2", "start" and "stop".
class RecordingRealtime : public RyStoreMultiClientHandlerBase::RealtimeHandler {
public:
    std::vector<std::string> events;
    std::function<void()> onStop;

    void wantedCamerasChanged(const LuDArray<int>& cameras) override {
        std::string text = "wanted:";
        for (int i = 0; i < cameras.getSize(); ++i) text += (i ? "," : "") + std::to_string(cameras[i]);
        events.push_back(text);
    }
    void startRealtime() override { events.push_back("start"); }
    void stopRealtime() override {
        events.push_back("stop");
        if (onStop) onStop();
    }
    int count(const std::string& event) const {
        int n = 0;
        for (const std::string& e : events) n += e == event;
        return n;
    }
};

// A host without acquisitions: the base of the tests' acquisition hosts, which override what
// they script, so that a new acquisition call is answered here once for all of them.
class NeutralAcquisitions : public RyStoreMultiClientHandlerBase::AcquireHandler {
public:
    using Frames = LuDArray<RyStoreMultiClientHandlerBase::AcquireRequest::Frame>;

    bool acquireSupported() override { return false; }
    void setAcquireRequest(int, const Frames&) override {}
    bool acquireReady(int) override { return false; }
    void acquireGo(int) override {}
    bool acquireFieldReady(int) override { return false; }
    void startAcquireRecording(int) override {}
    void stopAcquireRecording(int) override {}
    int acquiredFrameCount(int) override { return 0; }
    bool acquireRecordingFinished(int) override { return true; }
    LuNullable<RyStoreProtocol::Timecode> acquiredTimecode(int, int) override { return {}; }
    bool acquiredImageAvailable(int, int) override { return false; }
    bool acquiredGlobsAvailable(int, int) override { return false; }
    RyStoreProtocol::ImageView acquiredImage(int, int, int) override { return {}; }
    LuDArray<RyStoreProtocol::Centroid> acquiredCentroids(int, int, int) override { return {}; }
    void endAcquire(int) override {}
};

// One centroid per host camera; counts the centroids read, i.e. the encoding work (sizing a
// frame reads only the counts).
class CountingFrame : public RyStoreProtocol::AbstractGlobFrame, public RyStoreProtocol::MaskInfo {
public:
    class List : public RyStoreProtocol::AbstractGlobList {
    public:
        explicit List(int& reads) : reads(&reads) {}
        float x = 0.0f;
        int globCount() const override { return 1; }
        RyStoreProtocol::GlobRecord centroid(int) const override {
            ++*reads;
            return {x, 200.5f, 1};
        }

    private:
        int* reads;
    };

    mutable int centroidReads = 0;
    std::vector<List> lists;

    explicit CountingFrame(int cameras) : lists(static_cast<size_t>(cameras), List(centroidReads)) {
        for (int i = 0; i < cameras; ++i) lists[static_cast<size_t>(i)].x = 100.0f + static_cast<float>(i);
    }
    // The lists count into this frame.
    CountingFrame(const CountingFrame&) = delete;
    CountingFrame& operator=(const CountingFrame&) = delete;
    int globListCount() const override { return static_cast<int>(lists.size()); }
    void visitGlobList(int camera, RyStoreProtocol::GlobListVisitor& visitor) const override {
        visitor.visit(lists[static_cast<size_t>(camera)]);
    }
    const LuDArray<RyCircularMask>& circularMasks(int) const override { return noMasks; }
    bool isFullyMasked(int) const override { return false; }

private:
    LuDArray<RyCircularMask> noMasks;
};

// A connection that is not an operating-system socket; its record outlives it, so a test can
// see what the handler did with it.
class ScriptedConnection : public net_test::NullSocket {
public:
    struct Record {
        std::string incoming;
        bool modeFails = false;
        bool failWrites = false;
        bool closed = false;
        bool deleted = false;
        bool peerClosed = false;  // reads fail once `incoming` runs out
        std::string written;
    };

    explicit ScriptedConnection(std::shared_ptr<Record> record) : record(std::move(record)) {}
    ~ScriptedConnection() override { record->deleted = true; }

    bool hasInput() override { return !record->incoming.empty() || record->peerClosed; }
    int read(void* buffer, size_t length) override {
        if (record->incoming.empty() && record->peerClosed) return -1;
        size_t n = std::min(length, record->incoming.size());
        std::memcpy(buffer, record->incoming.data(), n);
        record->incoming.erase(0, n);
        return static_cast<int>(n);
    }
    int write(const void* data, size_t length) override {
        if (record->failWrites) return -1;
        record->written.append(static_cast<const char*>(data), length);
        return static_cast<int>(length);
    }
    void close() override { record->closed = true; }
    bool isOpen() const override { return !record->closed; }
    void setNonBlocking(bool on) override { nonBlocking = on && !record->modeFails; }
    bool isNonBlocking() const override { return nonBlocking; }

private:
    std::shared_ptr<Record> record;
    bool nonBlocking = false;
};

// Requests as the client library writes them, as text for the scripted connections.
inline std::string textOf(const frameyard::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }
inline std::string u32(size_t value) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i) out[static_cast<size_t>(i)] = static_cast<char>(value >> (24 - 8 * i));
    return out;
}
// A command exchange: 'C', the length, the text; and its reply (the same framing without 'C').
inline std::string commandRequest(const std::string& text) { return textOf(frameyard::encodeCommand(text)); }
inline std::string commandReply(const std::string& text) { return commandRequest(text).substr(1); }
// A message inside a realtime stream, either way.
inline std::string realtimeMessage(const std::string& text) { return textOf(frameyard::encodeMessage(text)); }

inline sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// A listening socket on 127.0.0.1 with a port the system picked.
struct Listener {
    int descriptor = ::socket(AF_INET, SOCK_STREAM, 0);
    uint16_t port = 0;

    Listener() {
        sockaddr_in address = loopback(0);
        socklen_t size = sizeof address;
        if (::bind(descriptor, reinterpret_cast<sockaddr*>(&address), size) == 0 && ::listen(descriptor, 64) == 0 &&
            ::getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &size) == 0)
            port = ntohs(address.sin_port);
    }
    ~Listener() { ::close(descriptor); }
};

// A plain POSIX client connection; `received` collects what the server wrote.
struct TestClient {
    int descriptor = ::socket(AF_INET, SOCK_STREAM, 0);
    std::string received;

    explicit TestClient(uint16_t port) {
        sockaddr_in address = loopback(port);
        if (::connect(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) close();
    }
    ~TestClient() { close(); }
    bool ok() const { return descriptor >= 0; }
    void close() {
        if (descriptor >= 0) ::close(descriptor);
        descriptor = -1;
    }
    bool send(const std::string& bytes) const {
        return ::send(descriptor, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    void collect() {
        char buffer[65536];
        ssize_t n;
        while ((n = ::recv(descriptor, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
            received.append(buffer, static_cast<size_t>(n));
    }
    std::string take(size_t n) {
        std::string out = received.substr(0, n);
        received.erase(0, n);
        return out;
    }
};

// Polls the handler until the condition holds (true) or two seconds pass (false). Between polls
// it waits at most a millisecond for the clients' sockets instead of spinning.
inline bool driveUntil(RyStoreMultiClientHandlerBase& handler, const std::function<bool()>& condition,
                       const std::vector<TestClient*>& clients = {}) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < deadline) {
        handler.process();
        std::vector<pollfd> set;
        for (TestClient* client : clients) {
            client->collect();
            set.push_back(pollfd{client->descriptor, POLLIN, 0});
        }
        if (condition()) return true;
        ::poll(set.data(), static_cast<nfds_t>(set.size()), 1);
    }
    return false;
}

inline bool receive(RyStoreMultiClientHandlerBase& handler, TestClient& client, size_t n) {
    return driveUntil(handler, [&] { return client.received.size() >= n; }, {&client});
}

// For checks that something does NOT happen: loopback delivers what a client sent before
// send() returns, so the first poll already sees it.
inline void pollTimes(RyStoreMultiClientHandlerBase& handler, int times) {
    for (int i = 0; i < times; ++i) handler.process();
}

// The modes these tests serve: realtime, acquisition, configure and the command exchange;
// live features refused as by a server without them.
inline const SessionModeTable& testModes() {
    static const SessionModeTable modes{
        {'R', startMode<RealtimeMode>, nullptr},
        {'f', nullptr, SessionRefusals::liveFeaturesUnsupported},
        {'a', startMode<AcquireMode>, nullptr},
        {'c', startMode<ConfigureMode>, nullptr},
        {'C', startMode<CommandExchangeMode>, nullptr},
    };
    return modes;
}

// A handler listening on its own loopback port, with a recording realtime host.
struct Rig {
    FakeConfigure configure;
    RecordingRealtime realtime;
    Listener listener;
    RyStoreMultiClientHandler handler{configure, testModes()};

    explicit Rig(bool withRealtime = true) {
        if (withRealtime) handler.setRealtimeHandler(&realtime);
        handler.addListeningSocket(listener.descriptor);
    }
    // A connected client whose session exists, or null.
    std::unique_ptr<TestClient> connect() {
        auto client = std::make_unique<TestClient>(listener.port);
        unsigned int before = handler.clientCount();
        if (!client->ok() || !driveUntil(handler, [&] { return handler.clientCount() > before; })) return nullptr;
        return client;
    }
    bool clientsLeft(unsigned int count) {
        return driveUntil(handler, [&] { return handler.clientCount() == count; });
    }
};

}  // namespace session_test
