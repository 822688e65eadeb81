// What a connection's first byte does, how refused connections are held until the client
// closes them, and the command exchange ('C') with the host's cameras behind it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>

#include "tests/served_host.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

using Dispatch = ServedHost;

TEST_F(Dispatch, UnknownFirstByteIsReportedAndEverythingAfterItIsDrainedUntilTheClientCloses) {
    auto client = accepted();
    ASSERT_TRUE(client->send("x"));
    ASSERT_TRUE(pumpUntil(host, [&] { return !diagnostics.text().empty(); }));
    EXPECT_EQ(diagnostics.text(), "Unknown command 'x'\n");

    // More bytes than any buffer of the session holds at once: all discarded, nothing answered,
    // the connection stays open and counted.
    ASSERT_TRUE(client->send(Bytes(200000, 'R')));
    EXPECT_TRUE(client->staysQuiet(host, 200));
    EXPECT_EQ(host.clientCount(), 1u);
    EXPECT_EQ(diagnostics.text(), "Unknown command 'x'\n");

    client->close();
    EXPECT_TRUE(pumpUntil(host, [&] { return host.clientCount() == 0; }));
}

TEST_F(Dispatch, AcquisitionsAreRefusedAsByAServerWithoutThem) {
    auto acquire = accepted();
    ASSERT_TRUE(acquire->send("a"));
    EXPECT_EQ(acquire->read(host, 2), (Bytes{0, 0}));

    // Held open and drained; nothing more is sent.
    ASSERT_TRUE(acquire->send("aaaa"));
    EXPECT_TRUE(acquire->staysQuiet(host));
    EXPECT_EQ(host.clientCount(), 1u);
    EXPECT_EQ(diagnostics.text(), "");
}

TEST_F(Dispatch, ClientsThatLeaveInAnyStateAreRemoved) {
    auto silent = accepted();
    auto refused = accepted();
    auto halfCommand = accepted();
    ASSERT_TRUE(refused->send("?"));
    ASSERT_TRUE(halfCommand->send(bytesOf("C") + Bytes{0, 0}));
    pump(host, 10);
    EXPECT_EQ(host.clientCount(), 3u);

    silent->close();
    ASSERT_TRUE(pumpUntil(host, [&] { return host.clientCount() == 2; }));
    halfCommand->close();
    ASSERT_TRUE(pumpUntil(host, [&] { return host.clientCount() == 1; }));
    refused->close();
    EXPECT_TRUE(pumpUntil(host, [&] { return host.clientCount() == 0; }));
    EXPECT_EQ(diagnostics.text(), "Unknown command '?'\n");
}

TEST_F(Dispatch, CommandExchangeRepliesAndReturnsToTheFirstByte) {
    auto client = accepted();
    EXPECT_EQ(exchange(*client, "\"enable_realtime_messages\""), "\"ok\"");
    EXPECT_EQ(exchange(*client, "[\"get_thresholds\"]"), "[\"error\",\"no_wanted_cameras\"]");
    EXPECT_EQ(exchange(*client, "[\"want_cameras\",[\"right\",\"left\"]]"), "\"ok\"");
    EXPECT_EQ(exchange(*client, "[\"get_thresholds\"]"), "[\"result\",[20,10]]");
    EXPECT_EQ(exchange(*client, "[\"want_cameras\",[\"middle\"]]"), "[\"error\",\"Adding cameras it not supported.\"]");
    EXPECT_EQ(exchange(*client, "[\"find_available_cameras\"]"), "[\"error\",\"unsupported\"]");
    EXPECT_EQ(exchange(*client, "[\"change_default_cameras\",[\"left\"]]"), "[\"error\",\"unsupported\"]");
    EXPECT_EQ(exchange(*client, ""), "[\"error\",\"bad_command\"]");
    // Still taking first bytes afterwards.
    ASSERT_TRUE(client->send("z"));
    EXPECT_TRUE(pumpUntil(host, [&] { return diagnostics.text() == "Unknown command 'z'\n"; }));
}

TEST_F(Dispatch, CameraDescriptionsComeFromTheHostInDisplayCoordinates) {
    const float infinity = std::numeric_limits<float>::infinity();
    host.settings[0] = {{"gain", 1.5f, 0.0f, 10.0f, 2}, {"offset", -3.0f, -infinity, infinity, 0}};
    auto client = accepted();
    EXPECT_EQ(exchange(*client, "[\"want_cameras\",[\"left\"]]"), "\"ok\"");
    const std::string region =
        "{\"left_edge_x\":10.6667,\"right_edge_x\":501.333,\"top_edge_y\":72,\"bottom_edge_y\":440}";
    // A bound the host leaves open (infinite) is left out rather than written as "inf".
    EXPECT_EQ(exchange(*client, "[\"get_camera_settings\"]"),
              "[\"result\",[{\"name\":\"left\",\"image_region\":" + region + ",\"acquire_image_region\":" + region +
                  ",\"number_settings\":[{\"name\":\"gain\",\"value\":1.5,\"minimum\":0,\"maximum\":10,"
                  "\"precision\":2},{\"name\":\"offset\",\"value\":-3}]}]]");
}

TEST_F(Dispatch, ChangeSettingReachesTheHostForEveryWantedCamera) {
    auto client = accepted();
    EXPECT_EQ(exchange(*client, "[\"want_cameras\",[\"right\",\"left\"]]"), "\"ok\"");
    EXPECT_EQ(exchange(*client, "[\"change_setting\",\"gain\",2.5]"), "\"ok\"");
    EXPECT_THAT(host.callsTo("changeCameraSetting"), ElementsAre("changeCameraSetting(1,gain,2.5)",
                                                                 "changeCameraSetting(0,gain,2.5)"));
}

TEST_F(Dispatch, AClientSendingHalfACommandDoesNotDelayAnother) {
    auto slow = accepted();
    auto quick = accepted();
    std::string command = "\"enable_livefeat_messages\"";
    Bytes request = commandRequest(command);
    // 'C' and two of the four length bytes.
    ASSERT_TRUE(slow->send(Bytes(request.begin(), request.begin() + 3)));
    pump(host, 5);
    ASSERT_TRUE(quick->send(commandRequest("\"enable_realtime_messages\"")));
    EXPECT_EQ(readCommandReply(*quick, host), "\"ok\"");

    // The rest of the length and half the text, then the remainder: the slow client's command
    // is read whole and answered.
    ASSERT_TRUE(slow->send(Bytes(request.begin() + 3, request.begin() + 10)));
    EXPECT_TRUE(slow->staysQuiet(host));
    ASSERT_TRUE(slow->send(Bytes(request.begin() + 10, request.end())));
    EXPECT_EQ(readCommandReply(*slow, host), "\"ok\"");
    EXPECT_EQ(host.clientCount(), 2u);
}

TEST_F(Dispatch, ConfigureRequestsAnswerFromTheHost) {
    host.cameras = 3;
    host.aspectRatios = {1.0f, 1.0f, 1.1f};
    host.thresholds = {10, 20, 30};
    host.circularMasks = {{}, {{100.0f, 200.0f, 5.0f}}, {}};

    auto aspect = accepted();
    ASSERT_TRUE(aspect->send("cga"));
    EXPECT_EQ(aspect->read(host, 4), (Bytes{0x01, 0x00, 0x01, 0x00}));
    EXPECT_THAT(host.warnings, ElementsAre("Cameras with different pixel aspect ratios are not supported."));

    auto count = accepted();
    ASSERT_TRUE(count->send("cgc"));
    EXPECT_EQ(count->read(host, 4), (Bytes{0x00, 0x03, 0x00, 0x07}));

    auto thresholds = accepted();
    ASSERT_TRUE(thresholds->send("cgt"));
    EXPECT_EQ(thresholds->read(host, 8), (Bytes{0x00, 0x03, 0x00, 10, 0x00, 20, 0x00, 30}));

    auto masks = accepted();
    ASSERT_TRUE(masks->send("cgm"));
    // u32 length, u16 three cameras, '$', one 'c' record of one mask, '$', '$'.
    Bytes expected = u32(2 + 1 + 9 + 12 + 1 + 1) + Bytes{0x00, 0x03, '$', 'c'} + u32(16) + u32(1) + u32(0x42C80000) +
                     u32(0x43480000) + u32(0x40A00000) + Bytes{'$', '$'};
    EXPECT_EQ(masks->read(host, expected.size()), expected);
}

TEST_F(Dispatch, ConfigureMaskTableAppliesOnlyToExistingCameras) {
    auto client = accepted();
    // Three cameras in the table for a two-camera host: the third entry is not used.
    Bytes table = Bytes{0x00, 0x03, 'c'} + u32(16) + u32(1) + u32(0x3F800000) + u32(0x40000000) + u32(0x40400000) +
                  Bytes{'$', '$', 'c'} + u32(16) + u32(1) + u32(0) + u32(0) + u32(0) + Bytes{'$'};
    ASSERT_TRUE(client->send(bytesOf("csm") + u32(static_cast<uint32_t>(table.size())) + table));
    ASSERT_TRUE(pumpUntil(host, [&] { return host.callCount("setCameraCircularMasks") >= 2; }));
    pump(host, 10);
    EXPECT_THAT(host.callsTo("setCameraCircularMasks"),
                ElementsAre("setCameraCircularMasks(0,[1,2,3])", "setCameraCircularMasks(1,)"));
}

TEST_F(Dispatch, AspectRatioOfAHostWithoutCamerasDoesNotAskForCameraZero) {
    host.cameras = 0;
    auto client = accepted();
    ASSERT_TRUE(client->send("cga"));
    EXPECT_EQ(client->read(host, 4), (Bytes{0x01, 0x00, 0x01, 0x00}));
    EXPECT_EQ(host.callCount("cameraPixelAspectRatio"), 0);
}

}  // namespace
