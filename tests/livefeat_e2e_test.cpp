// Live-feature clients end to end: selections reach the host as reference-counted features and
// images wanted flags, host images reach the clients that selected their camera under each
// client's acknowledgement rule, and a session that ends in any way gives its cameras back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/test_client.h"
#include "tests/test_host.h"
#include "toolkit/diagnostics.h"

namespace {

using ::testing::ElementsAre;

Bytes u16(uint16_t value) { return Bytes{static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)}; }
Bytes select(uint16_t position) { return Bytes{'c'} + u16(position); }
Bytes images(uint8_t value) { return Bytes{'i', value}; }
Bytes message(const std::string& text) { return bytesOf("m") + u32(static_cast<uint32_t>(text.size())) + bytesOf(text); }

// The host's 4 x 2 images: one segment record {row, first, last}, pixels counting up from `base`.
TestHost::ScriptedImage hostImage(int number, unsigned char base = 10) {
    TestHost::ScriptedImage image;
    image.segments = {{{1, 2, 3}}};
    for (unsigned char i = 0; i < 8; ++i) image.pixels.push_back(static_cast<unsigned char>(base + i));
    image.timecode = {0, 0, 0, number};
    return image;
}

// What a client receives for hostImage(): the header (timecode, and the image when it is
// sent), then one segment in wire order (first, row, last).
Bytes frameBytes(int number, bool withImage, unsigned char base = 10) {
    Bytes out = u16(0xFFFF) + Bytes{static_cast<uint8_t>(withImage ? 10 : 5), 't', 0, 0, 0, static_cast<uint8_t>(number)};
    if (withImage) {
        out = out + Bytes{'i'} + u16(4) + u16(2);
        for (unsigned char i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(base + i));
    }
    return out + u16(1) + u16(2) + u16(1) + u16(3);
}

Bytes liveMessage(const std::string& text) { return u16(0xFFFF) + Bytes{1, 'm'} + u32(uint32_t(text.size())) + bytesOf(text); }

class LiveFeatures : public ::testing::Test {
protected:
    void SetUp() override {
        host.widths = {4, 4};
        host.heights = {2, 2};
        port = listenOnFreeLoopbackPort(host);
        ASSERT_GT(port, 0);
    }

    // A live-feature client that has sent `opening` after its 'f', once the host heard of it
    // (or, with no call awaited, once its session has run a few polls).
    std::unique_ptr<TestClient> live(const Bytes& opening, const std::string& awaitedCall) {
        size_t from = host.calls.size();
        unsigned int sessions = host.clientCount();
        auto client = std::make_unique<TestClient>(port);
        EXPECT_TRUE(client->send(bytesOf("f") + opening));
        if (awaitedCall.empty()) {
            EXPECT_TRUE(pumpUntil(host, [&] { return host.clientCount() > sessions; }));
            pump(host, 5);
            return client;
        }
        EXPECT_TRUE(pumpUntil(host, [&] {
            return std::find(host.calls.begin() + static_cast<long>(from), host.calls.end(), awaitedCall) !=
                   host.calls.end();
        })) << awaitedCall;
        return client;
    }
    // The subscription calls since `from`.
    std::vector<std::string> wantedCallsSince(size_t from) const {
        std::vector<std::string> out;
        for (size_t i = from; i < host.calls.size(); ++i)
            if (host.calls[i].rfind("setCamera", 0) == 0 && host.calls[i].find("Wanted(") != std::string::npos)
                out.push_back(host.calls[i]);
        return out;
    }
    // Offers one image of the camera and pumps until the host has released it.
    void offer(int camera, const TestHost::ScriptedImage& image) {
        int released = host.callCount("releaseCameraImage");
        host.images[camera].push_back(image);
        ASSERT_TRUE(pumpUntil(host, [&] { return host.callCount("releaseCameraImage") > released; }));
    }

    fy::DiagnosticCapture diagnostics;
    TestHost host;
    int port = freeLoopbackPort();
};

}  // namespace

TEST_F(LiveFeatures, TwoClientsOnOneCameraTellTheHostOnceEachWayAndOnlyTheyGetItsImages) {
    auto first = live(select(1), "setCameraFeaturesWanted(1,1)");
    auto second = live(select(1), "");
    auto other = live(select(0), "setCameraFeaturesWanted(0,1)");
    pump(host, 5);
    EXPECT_THAT(host.callsTo("setCameraFeaturesWanted"),
                ElementsAre("setCameraFeaturesWanted(1,1)", "setCameraFeaturesWanted(0,1)"));

    offer(1, hostImage(7));
    EXPECT_EQ(first->read(host, frameBytes(7, false).size()), frameBytes(7, false));
    EXPECT_EQ(second->read(host, frameBytes(7, false).size()), frameBytes(7, false));
    EXPECT_TRUE(other->staysQuiet(host)) << "a frame of camera 1 is not for a client of camera 0";

    size_t mark = host.calls.size();
    ASSERT_TRUE(first->send(select(0xFFFF)));
    pump(host, 10);
    ASSERT_TRUE(first->staysQuiet(host));
    second->close();
    ASSERT_TRUE(pumpUntil(host, [&] { return host.clientCount() == 2; }));
    EXPECT_THAT(wantedCallsSince(mark), ElementsAre("setCameraFeaturesWanted(1,0)"));
}

TEST_F(LiveFeatures, ImagesInAscendingCameraOrderAreReleasedInTheSameCall) {
    auto none = std::make_unique<TestClient>(port);
    ASSERT_TRUE(none->send("f"));
    pump(host, 10);
    EXPECT_EQ(host.callCount("cameraImageAvailable"), 0) << "no camera wanted, no image asked for";

    auto right = live(select(1), "setCameraFeaturesWanted(1,1)");
    auto left = live(select(0), "setCameraFeaturesWanted(0,1)");
    host.images[1].push_back(hostImage(2));
    host.images[0].push_back(hostImage(1));
    size_t mark = host.calls.size();
    host.checkForEvent();
    std::vector<std::string> imageCalls;
    for (size_t i = mark; i < host.calls.size(); ++i)
        if (host.calls[i].find("Image") != std::string::npos && host.calls[i].find("Width") == std::string::npos &&
            host.calls[i].find("Height") == std::string::npos)
            imageCalls.push_back(host.calls[i]);
    EXPECT_THAT(imageCalls, ElementsAre("cameraImageAvailable(0)", "cameraImage(0)", "releaseCameraImage(0)",
                                        "cameraImageAvailable(1)", "cameraImage(1)", "releaseCameraImage(1)"));
    EXPECT_EQ(left->read(host, frameBytes(1, false).size()), frameBytes(1, false));
    EXPECT_EQ(right->read(host, frameBytes(2, false).size()), frameBytes(2, false));
}

TEST_F(LiveFeatures, SwitchingCameraWithImagesOnMovesBothSubscriptionsInOrder) {
    size_t mark = host.calls.size();
    auto client = live(select(0) + images(1), "setCameraFeaturesWanted(0,1)");
    EXPECT_THAT(wantedCallsSince(mark), ElementsAre("setCameraImagesWanted(0,1)", "setCameraFeaturesWanted(0,1)"));

    mark = host.calls.size();
    ASSERT_TRUE(client->send(select(1)));
    ASSERT_TRUE(pumpUntil(host, [&] { return host.callCount("setCameraFeaturesWanted") == 3; }));
    EXPECT_THAT(wantedCallsSince(mark), ElementsAre("setCameraImagesWanted(0,0)", "setCameraFeaturesWanted(0,0)",
                                                    "setCameraImagesWanted(1,1)", "setCameraFeaturesWanted(1,1)"));

    mark = host.calls.size();
    ASSERT_TRUE(client->send(images(0)));
    ASSERT_TRUE(pumpUntil(host, [&] { return host.callCount("setCameraImagesWanted") == 4; }));
    pump(host, 5);
    EXPECT_THAT(wantedCallsSince(mark), ElementsAre("setCameraImagesWanted(1,0)")) << "the camera stays selected";
}

TEST_F(LiveFeatures, AtMostTwoImagesInFlightAndImagesOffForgetsThem) {
    auto client = live(select(0) + images(1), "setCameraImagesWanted(0,1)");
    offer(0, hostImage(1));
    offer(0, hostImage(2));
    offer(0, hostImage(3));  // withheld: two are unacknowledged
    TestHost::ScriptedImage blind = hostImage(4);
    blind.noPixels = true;
    offer(0, blind);  // no picture while images are on: no frame at all
    EXPECT_EQ(client->read(host, 2 * frameBytes(1, true).size()), frameBytes(1, true) + frameBytes(2, true));
    EXPECT_TRUE(client->staysQuiet(host));

    ASSERT_TRUE(client->send(images(2)));
    pump(host, 5);
    offer(0, hostImage(5, 50));
    EXPECT_EQ(client->read(host, frameBytes(5, true, 50).size()), frameBytes(5, true, 50));

    // Two outstanding again; off forgets them, so the next acknowledgement is for nothing, and
    // frames come without pictures and without being held back.
    ASSERT_TRUE(client->send(images(2)));
    pump(host, 5);
    offer(0, hostImage(6));
    EXPECT_EQ(client->read(host, frameBytes(6, true).size()), frameBytes(6, true));
    ASSERT_TRUE(client->send(images(0) + images(2)));
    ASSERT_TRUE(pumpUntil(host, [&] { return !diagnostics.text().empty(); }));
    EXPECT_EQ(diagnostics.text(), "Acknowledgement for unsent image.\n");
    offer(0, hostImage(7));
    offer(0, hostImage(8));
    offer(0, hostImage(9));
    EXPECT_EQ(client->read(host, 3 * frameBytes(7, false).size()),
              frameBytes(7, false) + frameBytes(8, false) + frameBytes(9, false));
}

TEST_F(LiveFeatures, AnImageTheWireCannotDescribeIsLeftOutOfItsFrame) {
    host.widths[0] = 70000;
    host.heights[0] = 1;
    auto client = live(select(0) + images(1), "setCameraImagesWanted(0,1)");
    TestHost::ScriptedImage wide = hostImage(3);
    wide.pixels.assign(70000, 1);
    offer(0, wide);
    EXPECT_EQ(client->read(host, frameBytes(3, false).size()), frameBytes(3, false));
    offer(0, wide);
    offer(0, wide);
    EXPECT_EQ(client->read(host, 2 * frameBytes(3, false).size()), frameBytes(3, false) + frameBytes(3, false))
        << "frames without a picture are not counted as images in flight";
}

TEST_F(LiveFeatures, ThresholdsPassUnchangedAndChangesReachClientsThatEnabledMessages) {
    auto listening = std::make_unique<TestClient>(port);
    ASSERT_TRUE(listening->send(commandRequest("\"enable_livefeat_messages\"")));
    ASSERT_EQ(readCommandReply(*listening, host), "\"ok\"");
    ASSERT_TRUE(listening->send("f"));
    auto quiet = live(Bytes{'t'} + u16(1) + u16(300), "setCameraThreshold(1,300)");
    std::string announcement = "[\"camera\",1,[\"setting_changed\",\"_threshold\",300]]";
    EXPECT_EQ(listening->read(host, liveMessage(announcement).size()), liveMessage(announcement));
    EXPECT_TRUE(quiet->staysQuiet(host)) << "camera messages only with enable_livefeat_messages";

    host.thresholds[0] = 12;
    host.cameraThresholdChanged(0);
    announcement = "[\"camera\",0,[\"setting_changed\",\"_threshold\",12]]";
    EXPECT_EQ(listening->read(host, liveMessage(announcement).size()), liveMessage(announcement));
}

TEST_F(LiveFeatures, TheMasksMonitorAnswersAtOnceAndTheRealtimeMonitorsDoNotExist) {
    host.rectangularMaskSupport = {false, true};
    auto client = std::make_unique<TestClient>(port);
    ASSERT_TRUE(client->send(bytesOf("f") + message("\"enable_rectangular_masks_monitor\"")));
    std::string masks = "[\"rectangular_masks\",[null,[]]]";
    EXPECT_EQ(client->read(host, liveMessage(masks).size()), liveMessage(masks));
    host.cameraRectangularMasksChanged(1);
    EXPECT_EQ(client->read(host, liveMessage(masks).size()), liveMessage(masks));

    ASSERT_TRUE(client->send(message("\"enable_frame_rate_monitor\"")));
    ASSERT_TRUE(pumpUntil(host, [&] { return !diagnostics.text().empty(); }));
    EXPECT_EQ(diagnostics.text(), "unknown message: \"enable_frame_rate_monitor\"\n");
    host.setFrameRate(30);
    EXPECT_TRUE(client->staysQuiet(host));
}

TEST_F(LiveFeatures, ABadByteAnOversizedMessageOrALeavingClientEndTheSessionAndReleaseItsCameras) {
    const std::vector<Bytes> endings{bytesOf("x"), bytesOf("m") + u32(1048577)};
    for (const Bytes& ending : endings) {
        auto client = live(select(1) + images(1), "setCameraImagesWanted(1,1)");
        size_t mark = host.calls.size();
        ASSERT_TRUE(client->send(ending));
        EXPECT_TRUE(client->waitForClose(host));
        ASSERT_TRUE(pumpUntil(host, [&] { return host.clientCount() == 0; }));
        EXPECT_THAT(wantedCallsSince(mark), ElementsAre("setCameraImagesWanted(1,0)", "setCameraFeaturesWanted(1,0)"));
    }
    auto leaving = live(select(0) + images(1), "setCameraImagesWanted(0,1)");
    size_t mark = host.calls.size();
    leaving->close();
    ASSERT_TRUE(pumpUntil(host, [&] { return host.clientCount() == 0; }));
    EXPECT_THAT(wantedCallsSince(mark), ElementsAre("setCameraImagesWanted(0,0)", "setCameraFeaturesWanted(0,0)"));
    int asked = host.callCount("cameraImageAvailable");
    pump(host, 10);
    EXPECT_EQ(host.callCount("cameraImageAvailable"), asked) << "no camera is wanted any more";
}

// A client that sends part of a command holds only itself: another client of the same camera
// keeps receiving every image meanwhile.
TEST_F(LiveFeatures, AHalfSentCommandHoldsOnlyItsOwnSession) {
    auto steady = live(select(0) + images(1), "setCameraImagesWanted(0,1)");
    auto slow = std::make_unique<TestClient>(port);
    ASSERT_TRUE(slow->send(bytesOf("f") + Bytes{'c', 0}));
    pump(host, 5);
    Bytes halfMessage = message("[\"camera\",0,[\"change_setting\",\"gain\",2]]");
    for (int number = 1; number <= 4; ++number) {
        offer(0, hostImage(number));
        EXPECT_EQ(steady->read(host, frameBytes(number, true).size()), frameBytes(number, true)) << number;
        ASSERT_TRUE(steady->send(images(2)));
        if (number == 2) {
            ASSERT_TRUE(slow->send(Bytes{0} + Bytes(halfMessage.begin(), halfMessage.begin() + 7)));
        }
    }
    // Its selection came whole with the second image, so it saw the third and the fourth.
    EXPECT_EQ(slow->read(host, 2 * frameBytes(3, false).size()), frameBytes(3, false) + frameBytes(4, false));
    EXPECT_EQ(host.callCount("changeCameraSetting"), 0);
    ASSERT_TRUE(slow->send(Bytes(halfMessage.begin() + 7, halfMessage.end())));
    ASSERT_TRUE(pumpUntil(host, [&] { return host.callCount("changeCameraSetting") == 1; }));
    offer(0, hostImage(5));
    EXPECT_EQ(slow->read(host, frameBytes(5, false).size()), frameBytes(5, false));
    EXPECT_EQ(host.callCount("setCameraFeaturesWanted"), 1) << "the second client of camera 0 is counted, not told";
}
