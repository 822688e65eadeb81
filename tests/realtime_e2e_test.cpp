// Realtime clients end to end: the host starts and stops frame production as they come and go,
// host frames reach them in display coordinates, and changes on either side are announced. Run
// against both libraries; the tests that need the command exchange's array commands or the
// setting and mask notifications are libframeyard's only.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tests/test_client.h"
#include "tests/test_host.h"
#include "toolkit/diagnostics.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

uint32_t bitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

Bytes u16(uint16_t value) { return Bytes{static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)}; }

// One centroid of the full (10-byte) form.
Bytes fullCentroid(float x, float y) { return u32(bitsOf(x)) + u32(bitsOf(y)) + u16(1); }

Bytes messageRequest(const std::string& text) {
    return bytesOf("m") + u32(static_cast<uint32_t>(text.size())) + bytesOf(text);
}

store::Server::Frame frameOf(std::vector<std::vector<store::Server::Centroid>> centroids,
                             store::Server::Timecode timecode = {{0, 0, 0, 0}}) {
    store::Server::Frame frame;
    frame.centroids = std::move(centroids);
    frame.timecode = timecode;
    return frame;
}

class Realtime : public ::testing::Test {
protected:
    void SetUp() override {
        port = listenOnFreeLoopbackPort(host);
        ASSERT_GT(port, 0);
    }

    std::unique_ptr<TestClient> connect() {
        auto client = std::make_unique<TestClient>(port);
        EXPECT_TRUE(client->isConnected());
        return client;
    }

    // A client through the whole start handshake with timecodes: 't' query, '1', 'r', 'g'.
    // The host needs one queued frame for the 'r'; it is used up by the handshake.
    std::unique_ptr<TestClient> handshaken() {
        auto client = connect();
        EXPECT_TRUE(client->send("Rt1"));
        EXPECT_EQ(textOf(client->read(host, 1)), "t");
        EXPECT_TRUE(client->send("1"));
        host.frames.push_back(frameOf({{}, {}}));
        EXPECT_EQ(textOf(client->read(host, 1)), "r");
        EXPECT_TRUE(client->send("g"));
        return client;
    }

    fy::DiagnosticCapture diagnostics;
    TestHost host;
    int port = freeLoopbackPort();
};

TEST_F(Realtime, TheFirstReadyClientStartsTheHostOnceAndFramesFlowInDisplayCoordinates) {
    auto idle = connect();
    pump(host, 20);
    EXPECT_EQ(host.callCount("frameAvailable"), 0);

    auto client = handshaken();
    EXPECT_THAT(host.callsTo("realtimeStarting"), ElementsAre("realtimeStarting()"));
    std::vector<std::string> calls = host.calls;
    auto starting = std::find(calls.begin(), calls.end(), "realtimeStarting()");
    ASSERT_NE(starting, calls.end());
    ASSERT_NE(starting + 1, calls.end());
    EXPECT_EQ(*(starting + 1), "startRealtime()");

    // Camera 0: the image centre and the top-left pixel; camera 1: nothing.
    host.frames.push_back(frameOf({{{320.0f, 240.0f}, {0.0f, 0.0f}}, {}}, {{1, 2, 3, 0x1FF}}));
    const float scale = static_cast<float>(368.0 / 480);
    Bytes expected = Bytes{'t', 1, 2, 3, 0xFF} + u16(2) + fullCentroid(256.0f, 256.0f) +
                     fullCentroid((0.0f - 320.0f) * scale + 256.0f, (0.0f - 240.0f) * scale + 256.0f) + u16(0);
    EXPECT_EQ(client->read(host, expected.size()), expected);

    auto second = handshaken();
    EXPECT_EQ(host.callCount("realtimeStarting"), 1);
    EXPECT_EQ(host.callCount("startRealtime"), 1);
}

#ifndef FRAMEYARD_TEST_REALTIME_ONLY
TEST_F(Realtime, TheFrameIsCopiedBeforeTheHostCanReuseItsBuffersAndMasksCoverEveryCamera) {
    auto setup = connect();
    ASSERT_TRUE(setup->send(commandRequest("[\"want_cameras\",[\"right\"]]")));
    ASSERT_EQ(readCommandReply(*setup, host), "\"ok\"");
    // The host's mask of camera 1 hides the centroid at the image centre; camera 0 is not
    // watched by the client but its masks are still fetched.
    host.circularMasks[1] = {{256.0f, 256.0f, 1.0f}};
    ASSERT_TRUE(setup->send("R1"));
    ASSERT_TRUE(pumpUntil(host, [&] { return host.callCount("startRealtime") == 1; }));

    // While masks are fetched the host already overwrites the frame it handed out.
    host.hooks["cameraCircularMasks"] = [&] {
        for (auto& list : host.current.centroids)
            for (auto& centroid : list) centroid = {1.0f, 1.0f};
        host.current.centroids.clear();
    };
    int masksBefore = host.callCount("cameraCircularMasks");
    host.frames.push_back(frameOf({{{10.0f, 10.0f}}, {{320.0f, 240.0f}, {640.0f, 480.0f}}}));
    Bytes expected = u16(1) + fullCentroid(501.33334f, 440.0f);
    Bytes got = setup->read(host, expected.size());
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 2), u16(1));
    float x, y;
    uint32_t xBits = readU32(got, 2), yBits = readU32(got, 6);
    std::memcpy(&x, &xBits, sizeof x);
    std::memcpy(&y, &yBits, sizeof y);
    EXPECT_NEAR(x, 501.3333f, 1e-3f);
    EXPECT_FLOAT_EQ(y, 440.0f);
    EXPECT_EQ(host.callCount("cameraCircularMasks") - masksBefore, 2);
}
#endif

TEST_F(Realtime, TheLastClientLeavingStopsTheHostOnceAfterItsSessionIsGone) {
    auto first = connect();
    auto second = connect();
    ASSERT_TRUE(first->send("R1"));
    ASSERT_TRUE(second->send("R1"));
    ASSERT_TRUE(pumpUntil(host, [&] { return host.clientCount() == 2 && host.callCount("startRealtime") == 1; }));
    pump(host, 10);

    std::vector<unsigned int> countsAtStop;
    host.hooks["stopRealtime"] = [&] { countsAtStop.push_back(host.clientCount()); };
    first->close();
    ASSERT_TRUE(pumpUntil(host, [&] { return host.clientCount() == 1; }));
    EXPECT_EQ(host.callCount("stopRealtime"), 0);
    second->close();
    ASSERT_TRUE(pumpUntil(host, [&] { return host.callCount("stopRealtime") == 1; }));
    pump(host, 10);
    EXPECT_EQ(host.callCount("stopRealtime"), 1);
    // The removal pass comes first: when the host hears of the stop the session is gone.
    EXPECT_THAT(countsAtStop, ElementsAre(0u));
    // With nobody streaming the host is not asked for frames any more.
    int asked = host.callCount("frameAvailable");
    pump(host, 10);
    EXPECT_EQ(host.callCount("frameAvailable"), asked);
}

TEST_F(Realtime, AClientsThresholdChangeReachesTheHostAndIsAnnouncedWithTheRequestedValue) {
    auto client = connect();
    ASSERT_TRUE(client->send(commandRequest("\"enable_realtime_messages\"")));
    ASSERT_EQ(readCommandReply(*client, host), "\"ok\"");
    ASSERT_TRUE(client->send(bytesOf("R1t") + u16(1) + u16(40)));
    EXPECT_EQ(readRealtimeMessage(*client, host), "[\"camera\",1,[\"setting_changed\",\"_threshold\",40]]");
    EXPECT_THAT(host.callsTo("setCameraThreshold"), ElementsAre("setCameraThreshold(1,40)"));
    EXPECT_THAT(diagnostics.text(), ::testing::HasSubstr("changing camera 2 threshold to 40\n"));
}

#ifndef FRAMEYARD_TEST_REALTIME_ONLY
TEST_F(Realtime, HostSettingAndThresholdChangesReachOnlyClientsServingThatCamera) {
    host.settings[1] = {{"gain", 2.0f, 0.0f, 10.0f, 1}, {"offset", 0.5f, -1.0f, 1.0f, 0}};
    auto right = connect();
    auto left = connect();
    for (auto entry : {std::pair<TestClient*, const char*>{right.get(), "right"},
                       std::pair<TestClient*, const char*>{left.get(), "left"}}) {
        ASSERT_TRUE(entry.first->send(commandRequest("\"enable_realtime_messages\"")));
        ASSERT_EQ(readCommandReply(*entry.first, host), "\"ok\"");
        ASSERT_TRUE(entry.first->send(commandRequest(std::string("[\"want_cameras\",[\"") + entry.second + "\"]]")));
        ASSERT_EQ(readCommandReply(*entry.first, host), "\"ok\"");
        ASSERT_TRUE(entry.first->send("R1"));
    }
    ASSERT_TRUE(pumpUntil(host, [&] { return host.callCount("startRealtime") == 1; }));
    pump(host, 10);

    host.cameraSettingChanged(1);
    EXPECT_EQ(readRealtimeMessage(*right, host), "[\"camera\",0,[\"setting_changed\",\"gain\",2]]");
    EXPECT_EQ(readRealtimeMessage(*right, host), "[\"camera\",0,[\"setting_changed\",\"offset\",0.5]]");
    host.cameraThresholdChanged(0);
    EXPECT_EQ(readRealtimeMessage(*left, host), "[\"camera\",0,[\"setting_changed\",\"_threshold\",10]]");
    EXPECT_TRUE(left->staysQuiet(host));
    EXPECT_TRUE(right->staysQuiet(host));
}
#endif

#ifndef FRAMEYARD_TEST_REALTIME_ONLY
TEST_F(Realtime, RectangularMasksTravelInDisplayCoordinatesBothWays) {
    // Camera 0 has a mask, camera 1 cannot have any, camera 2 could but has none.
    host.cameras = 3;
    host.rectangularMaskSupport = {true, false, true};
    host.rectangularMasks[0] = {{0.0f, 0.0f, 640.0f, 480.0f}};
    auto client = connect();
    auto reversed = connect();
    ASSERT_TRUE(reversed->send(commandRequest("[\"want_cameras\",[\"camera2\",\"right\",\"left\"]]")));
    ASSERT_EQ(readCommandReply(*reversed, host), "\"ok\"");
    for (TestClient* each : {client.get(), reversed.get()})
        ASSERT_TRUE(each->send(bytesOf("R1") + messageRequest("\"enable_rectangular_masks_monitor\"")));
    const std::string mask = "[{\"x1\":10.6667,\"y1\":72,\"x2\":501.333,\"y2\":440}]";
    const std::string masks = "[\"rectangular_masks\",[" + mask + ",null,[]]]";
    const std::string inClientOrder = "[\"rectangular_masks\",[[],null," + mask + "]]";
    EXPECT_EQ(readRealtimeMessage(*client, host), masks);
    EXPECT_EQ(readRealtimeMessage(*reversed, host), inClientOrder);

    // The camera argument does not narrow the report, and a camera the host lacks is accepted.
    host.cameraRectangularMasksChanged(5);
    EXPECT_EQ(readRealtimeMessage(*client, host), masks);
    EXPECT_EQ(readRealtimeMessage(*reversed, host), inClientOrder);

    // A mask the client adds reaches the host in pixels; then everyone is told again.
    ASSERT_TRUE(client->send(messageRequest(
        "[\"camera\",0,[\"add_rectangular_mask\",{\"x1\":256,\"y1\":256,\"x2\":332.667,\"y2\":294.333}]]")));
    EXPECT_EQ(readRealtimeMessage(*client, host), masks);
    EXPECT_EQ(readRealtimeMessage(*reversed, host), inClientOrder);
    std::vector<std::string> added = host.callsTo("addCameraRectangularMask");
    ASSERT_EQ(added.size(), 1u);
    int camera = -1;
    float x = 0, y = 0, width = 0, height = 0;
    ASSERT_EQ(std::sscanf(added[0].c_str(), "addCameraRectangularMask(%d,%f,%f,%f,%f)", &camera, &x, &y, &width,
                          &height),
              5)
        << added[0];
    EXPECT_EQ(camera, 0);
    EXPECT_NEAR(x, 320.0f, 1e-3f);
    EXPECT_NEAR(y, 240.0f, 1e-3f);
    EXPECT_NEAR(width, 100.0f, 1e-2f);
    EXPECT_NEAR(height, 50.0f, 1e-2f);
}
#endif

TEST_F(Realtime, AFrameShortOfCamerasOrMissingAltogetherIsSentSafely) {
    auto client = connect();
    ASSERT_TRUE(client->send("R1"));
    ASSERT_TRUE(pumpUntil(host, [&] { return host.callCount("startRealtime") == 1; }));

    // frameAvailable() said yes but no frame came: nothing is sent, the session carries on.
    host.nullFrames = true;
    host.frames.push_back(frameOf({{{320.0f, 240.0f}}, {}}));
    ASSERT_TRUE(pumpUntil(host, [&] { return host.callCount("currentFrame") == 1; }));
    EXPECT_TRUE(client->staysQuiet(host));

    // One centroid list for two cameras: the camera without a list reads as one without globs.
    host.nullFrames = false;
    host.frames.push_back(frameOf({{{320.0f, 240.0f}}}));
    Bytes expected = u16(1) + fullCentroid(256.0f, 256.0f) + u16(0);
    EXPECT_EQ(client->read(host, expected.size()), expected);
    EXPECT_TRUE(client->staysQuiet(host));
}

#ifndef FRAMEYARD_TEST_REALTIME_ONLY
TEST_F(Realtime, EveryOpeningGetsItsOwnFormOverTheWire) {
    // Camera 0 maps pixels 1:1 onto display units (512 x 368: scale 1, centre 256,184), so the
    // pixel (10, -51.5) is the display point (10, 20.5); camera 1 is 640 x 480; camera 2 sees
    // nothing.
    host.cameras = 3;
    host.widths[0] = 512;
    host.heights[0] = 368;
    auto plain = connect();
    auto compact = connect();
    auto queried = connect();
    auto both = connect();
    auto noGo = connect();
    auto tagged = connect();
    ASSERT_TRUE(tagged->send(commandRequest("\"enable_realtime_messages\"")));
    ASSERT_EQ(readCommandReply(*tagged, host), "\"ok\"");
    ASSERT_TRUE(tagged->send(commandRequest("[\"want_cameras\",[\"camera2\"]]")));
    ASSERT_EQ(readCommandReply(*tagged, host), "\"ok\"");

    // The final byte alone; 'f' and the final byte; 't' with 'f' as the final byte (the full
    // form, then); 'f', 't' and the final byte; two more with the timecode query.
    ASSERT_TRUE(plain->send("R1") && compact->send("Rf1") && tagged->send("R1"));
    ASSERT_TRUE(queried->send("Rtf") && both->send("Rft1") && noGo->send("Rt1"));
    for (TestClient* each : {queried.get(), both.get(), noGo.get()}) EXPECT_EQ(textOf(each->read(host, 1)), "t");
    ASSERT_TRUE(queried->send("0") && both->send("1") && noGo->send("1"));
    pump(host, 5);

    // The first frame reaches the clients without a handshake; the others get 'r' instead.
    auto frame = [](store::Server::Timecode timecode) {
        return frameOf({{{10.0f, -51.5f}}, {{320.0f, 240.0f}}, {}}, timecode);
    };
    host.frames.push_back(frame({{1, 2, 3, 4}}));
    const Bytes full = u16(1) + fullCentroid(10.0f, 20.5f) + u16(1) + fullCentroid(256.0f, 256.0f) + u16(0);
    const Bytes packed = u16(1) + Bytes{0x05, 0x00, 0x0A, 0x40} + u16(1) + Bytes{0x80, 0x00, 0x80, 0x00} + u16(0);
    EXPECT_EQ(plain->read(host, full.size()), full);
    EXPECT_EQ(compact->read(host, packed.size()), packed);
    const Bytes taggedEmpty{'f', 0, 0, 0, 2, 0, 0};
    EXPECT_EQ(tagged->read(host, taggedEmpty.size()), taggedEmpty);
    for (TestClient* each : {queried.get(), both.get(), noGo.get()}) EXPECT_EQ(textOf(each->read(host, 1)), "r");
    ASSERT_TRUE(queried->send("g") && both->send("g") && noGo->send("x"));
    pump(host, 5);

    host.frames.push_back(frame({{5, 6, 7, 0x108}}));
    EXPECT_EQ(queried->read(host, full.size()), full) << "only '1' asks for timecodes";
    EXPECT_EQ(both->read(host, 5 + packed.size()), (Bytes{'t', 5, 6, 7, 8} + packed));
    EXPECT_EQ(plain->read(host, full.size()), full);
    EXPECT_TRUE(noGo->staysQuiet(host)) << "no frame after a reply other than 'g'";
    EXPECT_THAT(diagnostics.text(), HasSubstr("Expecting 'g', got 'x'\n"));
    EXPECT_EQ(host.callCount("realtimeStarting"), 1);
}
#endif

TEST_F(Realtime, OnlyTheFirst2000CentroidsOfACameraGoAndNoFrameInheritsFromTheOneBefore) {
    // Pixels of camera 0 are display units, shifted down by 72 (a 512 x 368 image).
    host.widths[0] = 512;
    host.heights[0] = 368;
    auto client = connect();
    ASSERT_TRUE(client->send("Rf1"));
    ASSERT_TRUE(pumpUntil(host, [&] { return host.callCount("startRealtime") == 1; }));

    std::vector<store::Server::Centroid> many;
    Bytes expected = u16(2000);
    for (int i = 0; i < 2500; ++i) {
        float x = static_cast<float>(i % 500);
        float y = static_cast<float>(i / 500) * 0.5f;
        many.push_back({x, y - 72.0f});
        if (i >= 2000) continue;
        Bytes fixed = u16(static_cast<uint16_t>(x * 128)) + u16(static_cast<uint16_t>(y * 128));
        expected.insert(expected.end(), fixed.begin(), fixed.end());
    }
    const Bytes centre{0x80, 0x00, 0x80, 0x00};
    expected = expected + u16(3) + centre + centre + centre;
    host.frames.push_back(frameOf({many, {{320.0f, 240.0f}, {320.0f, 240.0f}, {320.0f, 240.0f}}}));
    EXPECT_EQ(client->read(host, expected.size()), expected);

    // A smaller frame, without a list for camera 1: nothing of the frame before shows through.
    host.frames.push_back(frameOf({{{256.0f, 184.0f}}}));
    Bytes next = u16(1) + centre + u16(0);
    EXPECT_EQ(client->read(host, next.size()), next);
    EXPECT_TRUE(client->staysQuiet(host));
}

TEST_F(Realtime, APartialOrOversizedItemHoldsOrEndsOnlyItsOwnSession) {
    auto steady = connect();
    auto halfOpening = connect();
    auto halfMessage = connect();
    auto oversized = connect();
    ASSERT_TRUE(steady->send("R1"));
    // The opening's 't' and nothing more; a message's 'm' and two of its four length bytes; a
    // message announced one byte longer than 1 MiB.
    ASSERT_TRUE(halfOpening->send("Rt"));
    const Bytes enable = messageRequest("\"enable_frame_rate_monitor\"");
    ASSERT_TRUE(halfMessage->send(bytesOf("R1") + Bytes(enable.begin(), enable.begin() + 3)));
    ASSERT_TRUE(oversized->send(bytesOf("R1m") + u32(1024 * 1024 + 1)));
    EXPECT_TRUE(oversized->waitForClose(host));

    const Bytes body = u16(1) + fullCentroid(256.0f, 256.0f) + u16(0);
    for (int i = 0; i < 20; ++i) {
        host.frames.push_back(frameOf({{{320.0f, 240.0f}}, {}}));
        ASSERT_EQ(steady->read(host, body.size()), body) << "frame " << i;
    }
    EXPECT_EQ(host.clientCount(), 3u);
    EXPECT_TRUE(halfOpening->readAvailable().empty());
    EXPECT_TRUE(halfMessage->readAvailable().empty()) << "no frame while its message is incomplete";

    // Both only waited: the rest of their items is taken up where they left off.
    ASSERT_TRUE(halfOpening->send("1"));
    EXPECT_EQ(textOf(halfOpening->read(host, 1)), "t");
    ASSERT_TRUE(halfMessage->send(Bytes(enable.begin() + 3, enable.end())));
    pump(host, 5);
    host.setFrameRate(30.0f);
    EXPECT_EQ(readRealtimeMessage(*halfMessage, host), "[\"frame_rate\",30]");
}

}  // namespace
