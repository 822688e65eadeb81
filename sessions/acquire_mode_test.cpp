#include "sessions/acquire_mode.h"

#include <gtest/gtest.h>
#include <netinet/tcp.h>

#include <algorithm>
#include <map>

#include "protocol/acquire/acquire_test_fakes.h"
#include "sessions/session_test_support.h"
#include "toolkit/diagnostics.h"

namespace {

using namespace session_test;
using acquire_test::u16;
using Frame = RyStoreMultiClientHandlerBase::AcquireRequest::Frame;

// A host whose acquisitions the test steers; every call that changes something is recorded as
// "request 0 3", "go 0", "start 0", "stop 0", "end 0".
class FakeAcquisitions : public NeutralAcquisitions {
public:
    bool supported = true;
    bool ready = true;
    bool fieldReady = true;
    int recorded = 0;
    bool finished = false;
    bool images = false;
    std::vector<std::string> events;
    std::map<int, std::vector<Frame>> requests;

    bool acquireSupported() override { return supported; }
    void setAcquireRequest(int id, const LuDArray<Frame>& frames) override {
        requests[id] = std::vector<Frame>(frames.begin(), frames.end());
        record("request", id, " " + std::to_string(frames.getSize()));
    }
    bool acquireReady(int) override { return ready; }
    void acquireGo(int id) override { record("go", id); }
    bool acquireFieldReady(int) override { return fieldReady; }
    void startAcquireRecording(int id) override { record("start", id); }
    void stopAcquireRecording(int id) override { record("stop", id); }
    int acquiredFrameCount(int) override { return recorded; }
    bool acquireRecordingFinished(int) override { return finished; }
    LuNullable<RyStoreProtocol::Timecode> acquiredTimecode(int, int field) override {
        return RyStoreProtocol::Timecode{uint32_t(field), 0, 0, 0};
    }
    bool acquiredImageAvailable(int, int) override { return images; }
    bool acquiredGlobsAvailable(int, int) override { return true; }
    RyStoreProtocol::ImageView acquiredImage(int, int, int) override { return {512, 512, pixels.data()}; }
    LuDArray<RyStoreProtocol::Centroid> acquiredCentroids(int, int field, int camera) override {
        LuDArray<RyStoreProtocol::Centroid> out;
        out.append({uint16_t(field), uint16_t(camera), 1});
        return out;
    }
    void endAcquire(int id) override { record("end", id); }

    int count(const std::string& event) const { return int(std::count(events.begin(), events.end(), event)); }

private:
    void record(const char* what, int id, const std::string& extra = "") {
        events.push_back(what + (" " + std::to_string(id)) + extra);
    }
    std::vector<unsigned char> pixels = std::vector<unsigned char>(512 * 512, 7);
};

// 'a', a request of `fields` fields all wanted, and the values of the rig's three cameras.
std::string acquisition(char mode, uint16_t start, uint16_t fields) {
    std::string list = u16(0) + u16(fields) + u16(0xFFFF);
    std::string lists = mode == '1' ? list + list : list;
    return std::string("a") + mode + u16(start) + lists + u16(60) + u16(1) + u16(2) + u16(3) + "x";
}

struct AcquireTest : ::testing::Test {
    // The host outlives the rig: sessions still running when the rig goes end their
    // acquisitions.
    FakeAcquisitions host;
    Rig rig;
    fy::DiagnosticCapture diagnostics;

    AcquireTest() { rig.handler.setAcquireHandler(&host); }

    // A client whose request of `fields` globs-only fields has reached the host and been
    // answered with the camera count and 'R'.
    std::unique_ptr<TestClient> armed(uint16_t fields = 3, uint16_t start = 0) {
        auto client = rig.connect();
        if (!client || !client->send(acquisition('0', start, fields))) return nullptr;
        if (!receive(rig.handler, *client, 3)) return nullptr;
        if (client->take(3) != u16(3) + "R") return nullptr;
        return client;
    }
    bool until(const std::function<bool()>& condition, TestClient& client) {
        return driveUntil(rig.handler, condition, {&client});
    }
};

// The server's end of a client's connection: the socket of this process whose peer is the
// client's own address.
int serverEndOf(const TestClient& client) {
    sockaddr_in mine{}, peer{};
    socklen_t length = sizeof mine;
    if (::getsockname(client.descriptor, reinterpret_cast<sockaddr*>(&mine), &length) != 0) return -1;
    for (int fd = 0; fd < 1024; ++fd) {
        length = sizeof peer;
        if (fd != client.descriptor && ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0 &&
            peer.sin_port == mine.sin_port && peer.sin_addr.s_addr == mine.sin_addr.s_addr)
            return fd;
    }
    return -1;
}

// Small writes the client waits for (progress records, 'r') must not wait for its delayed
// acknowledgement of the write before.
TEST_F(AcquireTest, TheSessionSendsWithoutDelay) {
    auto client = armed();
    ASSERT_TRUE(client);
    int server = serverEndOf(*client);
    ASSERT_GE(server, 0);
    int noDelay = 0;
    socklen_t length = sizeof noDelay;
    ASSERT_EQ(::getsockopt(server, IPPROTO_TCP, TCP_NODELAY, &noDelay, &length), 0);
    EXPECT_NE(noDelay, 0);
}

TEST_F(AcquireTest, IdsAreTheSmallestFreeOnesAndComeBack) {
    auto first = armed();
    auto second = armed();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(host.events, (std::vector<std::string>{"request 0 3", "request 1 3"}));
    first->close();
    ASSERT_TRUE(until([&] { return host.count("end 0") == 1; }, *second));
    auto third = armed();
    ASSERT_TRUE(third);
    EXPECT_EQ(host.events.back(), "request 0 3");
}

TEST_F(AcquireTest, GlobsOnlyRequestReachesTheHostWithItsFlags) {
    auto client = armed(3);
    ASSERT_TRUE(client);
    ASSERT_EQ(host.requests[0].size(), 3u);
    for (const Frame& frame : host.requests[0]) EXPECT_EQ(frame, (Frame{true, false}));
    EXPECT_EQ(diagnostics.text(), "");
}

TEST_F(AcquireTest, ArmingStepsAbortsAndStartsTheRecording) {
    host.fieldReady = false;
    auto client = armed();
    ASSERT_TRUE(client);
    client->send("G");
    ASSERT_TRUE(until([&] { return host.count("go 0") == 1; }, *client));
    pollTimes(rig.handler, 3);
    client->collect();
    EXPECT_EQ(client->received, "") << "'r' only once the host has the field ready";
    host.fieldReady = true;
    ASSERT_TRUE(receive(rig.handler, *client, 1));
    EXPECT_EQ(client->take(1), "r");

    // 'a' is reported and changes nothing; the next byte starts the recording.
    client->send("aS");
    ASSERT_TRUE(until([&] { return host.count("start 0") == 1; }, *client));
    EXPECT_EQ(diagnostics.text(), "Client aborted\n");
    EXPECT_EQ(host.count("end 0"), 0);
    client->send("s");
    ASSERT_TRUE(until([&] { return host.count("stop 0") == 1; }, *client));
}

TEST_F(AcquireTest, ProgressIsReportedUntilTheRequestIsFull) {
    auto client = armed(10, 100);
    ASSERT_TRUE(client);
    client->send("S");
    host.recorded = 5;
    ASSERT_TRUE(receive(rig.handler, *client, 6));
    EXPECT_EQ(client->take(6), u16(0) + u16(105) + u16(0x7FFF));
    host.recorded = 10;
    ASSERT_TRUE(receive(rig.handler, *client, 6));
    EXPECT_EQ(client->take(6), u16(0) + u16(110) + u16(65535));

    // One field more than asked for is reported on every poll instead of sent.
    host.recorded = 11;
    pollTimes(rig.handler, 3);
    EXPECT_EQ(diagnostics.text(), "Too many frames recorded\nToo many frames recorded\nToo many frames recorded\n");
    client->collect();
    EXPECT_EQ(client->received, "");

    // The download covers the host's count; the extra field has no request flags.
    host.finished = true;
    std::string expected;
    for (uint16_t f = 0; f <= 10; ++f) {
        expected += u16(uint16_t(100 + f)) + "t" + std::string(1, char(f)) + std::string(3, '\0');
        if (f == 10) {
            expected += "00";
            break;
        }
        expected += "01";
        for (uint16_t c = 0; c < 3; ++c) expected += u16(0xFFFF) + u16(8) + u16(1) + u16(f) + u16(c) + u16(1);
    }
    expected += u16(0xFFFF);
    ASSERT_TRUE(until([&] { return client->received.size() >= expected.size(); }, *client));
    EXPECT_EQ(client->received, expected);
    EXPECT_EQ(host.count("end 0"), 1);
}

TEST_F(AcquireTest, NoRecordedFieldSendsOnlyTheEndMarker) {
    auto client = armed(4);
    ASSERT_TRUE(client);
    client->send("S");
    host.finished = true;
    ASSERT_TRUE(until([&] { return host.count("end 0") == 1; }, *client));
    ASSERT_TRUE(receive(rig.handler, *client, 2));
    EXPECT_EQ(client->received, u16(0xFFFF));
    // The session now only waits for the client to go.
    client->send("more");
    pollTimes(rig.handler, 3);
    EXPECT_EQ(rig.handler.clientCount(), 1u);
    client->close();
    EXPECT_TRUE(rig.clientsLeft(0));
    EXPECT_EQ(host.count("end 0"), 1);
}

TEST_F(AcquireTest, EndAcquireOnceHoweverTheClientLeaves) {
    enum When { midRequest, beforeReady, arming, recording, downloading };
    for (When when : {midRequest, beforeReady, arming, recording, downloading}) {
        SCOPED_TRACE(when);
        host = FakeAcquisitions();
        auto client = rig.connect();
        ASSERT_TRUE(client);
        // 40 fields of three 512 x 512 images: far more than the socket buffers hold.
        std::string request = when == downloading ? acquisition('1', 0, 40) : acquisition('0', 0, 3);
        if (when == midRequest) {
            client->send(request.substr(0, 6));
        } else if (when == beforeReady) {
            host.ready = false;
            client->send(request);
            ASSERT_TRUE(until([&] { return host.count("request 0 3") == 1; }, *client));
        } else {
            host.images = when == downloading;
            host.recorded = 40;
            host.finished = when == downloading;
            client->send(request);
            ASSERT_TRUE(receive(rig.handler, *client, 3));
            client->take(3);
            if (when != arming) client->send("S");
            if (when == recording) {
                ASSERT_TRUE(until([&] { return host.count("start 0") == 1; }, *client));
            }
            if (when == downloading) {
                ASSERT_TRUE(until([&] { return client->received.size() > 100000; }, *client));
            }
        }
        pollTimes(rig.handler, 3);
        client->close();
        pollTimes(rig.handler, 3);
        // A client that left before the host was ready is noticed once it is.
        if (when == beforeReady) {
            EXPECT_EQ(host.count("end 0"), 0);
        }
        host.ready = true;
        ASSERT_TRUE(rig.clientsLeft(0));
        EXPECT_EQ(host.count("end 0"), 1);
        EXPECT_EQ(host.events.back(), "end 0");
        if (when == midRequest) {
            EXPECT_EQ(host.events.size(), 1u) << "a request not read whole is not handed over";
        }
    }
}

TEST_F(AcquireTest, RefusedWithTwoZeroBytesWhenTheHostHasNoAcquisitions) {
    host.supported = false;
    auto client = rig.connect();
    ASSERT_TRUE(client);
    client->send(acquisition('0', 0, 3));
    ASSERT_TRUE(receive(rig.handler, *client, 2));
    pollTimes(rig.handler, 3);
    client->collect();
    EXPECT_EQ(client->received, std::string(2, '\0'));
    EXPECT_TRUE(host.events.empty());
    EXPECT_EQ(rig.handler.clientCount(), 1u);
}

TEST_F(AcquireTest, RequestTrickledByteByByteHoldsOnlyItsOwnSession) {
    auto slow = rig.connect();
    auto other = rig.connect();
    ASSERT_TRUE(slow && other);
    std::string request = acquisition('1', 9, 2);
    for (size_t i = 0; i + 1 < request.size(); ++i) {
        slow->send(request.substr(i, 1));
        pollTimes(rig.handler, 1);
    }
    // Meanwhile another client's command exchange is answered.
    other->send(commandRequest("\"enable_realtime_messages\""));
    ASSERT_TRUE(receive(rig.handler, *other, 8));
    EXPECT_EQ(other->received, commandReply("\"ok\""));
    slow->collect();
    EXPECT_EQ(slow->received, u16(3)) << "the camera count, after the request itself";
    EXPECT_TRUE(host.events.empty()) << "the camera values are not all there";
    slow->send(request.substr(request.size() - 1));
    ASSERT_TRUE(until([&] { return host.count("request 0 2") == 1; }, *slow));
    for (const Frame& frame : host.requests[0]) EXPECT_EQ(frame, (Frame{true, true}));
}

TEST(AcquireModeWriteFailure, AnUnwrittenStepEndsTheAcquisitionAndWaitsForTheClient) {
    FakeAcquisitions host;
    Rig rig;
    rig.handler.setAcquireHandler(&host);
    fy::DiagnosticCapture diagnostics;
    auto script = std::make_shared<ScriptedConnection::Record>();
    script->incoming = acquisition('0', 0, 3);
    rig.handler.addClient(new ScriptedConnection(script));
    ASSERT_TRUE(driveUntil(rig.handler, [&] { return script->written == u16(3) + "R"; }));
    script->failWrites = true;
    script->incoming = "Gx";
    ASSERT_TRUE(driveUntil(rig.handler, [&] { return host.count("end 0") == 1; }));
    ASSERT_TRUE(driveUntil(rig.handler, [&] {
        return diagnostics.text() == "Got 'x' from client while waiting to close\n";
    }));
    EXPECT_EQ(host.events, (std::vector<std::string>{"request 0 3", "go 0", "end 0"}));
    script->peerClosed = true;
    ASSERT_TRUE(rig.clientsLeft(0));
    EXPECT_EQ(diagnostics.text(), "Got 'x' from client while waiting to close\nClient closed\n");
    EXPECT_TRUE(script->closed);
}

}  // namespace
