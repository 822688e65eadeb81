// What only the realtime-only library does differently: the first bytes it refuses, its
// string-only command exchange, its camera descriptions, the monitors it offers and the words
// in which it reports a client connection's failures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/served_host.h"

namespace {

using ::testing::HasSubstr;

using RealtimeOnly = ServedHost;

TEST_F(RealtimeOnly, AcquisitionIsRefusedWithTwoZeroBytesAndTheClientDrainedUntilItCloses) {
    auto client = accepted();
    ASSERT_TRUE(client->send("a"));
    EXPECT_EQ(client->read(host, 2), (Bytes{0, 0}));
    EXPECT_EQ(diagnostics.text(), "Client tried to acquire during realtime\n");
    // Whatever follows is dropped unanswered; the session ends with the connection.
    ASSERT_TRUE(client->send("R1Cxyz"));
    EXPECT_TRUE(client->staysQuiet(host, 100));
    EXPECT_EQ(host.clientCount(), 1u);
    client->close();
    EXPECT_TRUE(pumpUntil(host, [&] { return host.clientCount() == 0; }));
    EXPECT_EQ(diagnostics.text(), "Client tried to acquire during realtime\nRead failed\n");
    EXPECT_EQ(host.callCount("startRealtime"), 0);
}

TEST_F(RealtimeOnly, LiveFeaturesAreAnUnknownCommand) {
    auto client = accepted();
    ASSERT_TRUE(client->send("f"));
    ASSERT_TRUE(pumpUntil(host, [&] { return !diagnostics.text().empty(); }));
    EXPECT_EQ(diagnostics.text(), "Unknown command 'f'\n");
    EXPECT_TRUE(client->staysQuiet(host, 50));
}

TEST_F(RealtimeOnly, TheCommandExchangeKnowsStringCommandsOnly) {
    auto client = accepted();
    EXPECT_EQ(exchange(*client, "\"enable_realtime_messages\""), "\"ok\"");
    EXPECT_EQ(exchange(*client, "\"enable_livefeat_messages\""), "[\"error\",\"unsupported\"]");
    EXPECT_EQ(exchange(*client, "\"check_realtime_want_cameras\""), "[\"error\",\"unknown_command\"]");
    EXPECT_EQ(exchange(*client, "\"anything\""), "[\"error\",\"unknown_command\"]");
    EXPECT_EQ(exchange(*client, "[\"want_cameras\",[\"left\"]]"), "[\"error\",\"bad_command\"]");
    EXPECT_EQ(exchange(*client, "[\"get_thresholds\"]"), "[\"error\",\"bad_command\"]");
    EXPECT_EQ(exchange(*client, "7"), "[\"error\",\"bad_command\"]");
    EXPECT_EQ(exchange(*client, ""), "[\"error\",\"bad_command\"]");
    // Nothing of it reached the host's cameras.
    EXPECT_EQ(host.callCount("cameraName"), 0);
}

TEST_F(RealtimeOnly, CameraDescriptionsHaveNoAcquisitionRegionNoSettingsAndNoDisabledFlag) {
    auto client = accepted();
    ASSERT_TRUE(client->send("cgs"));
    Bytes length = client->read(host, 4);
    ASSERT_EQ(length.size(), 4u);
    std::string text = textOf(client->read(host, readU32(length)));
    EXPECT_EQ(text,
              "[{\"name\":\"left\",\"image_region\":{\"left_edge_x\":10.6667,\"right_edge_x\":501.333,"
              "\"top_edge_y\":72,\"bottom_edge_y\":440},\"number_settings\":[]},"
              "{\"name\":\"right\",\"image_region\":{\"left_edge_x\":10.6667,\"right_edge_x\":501.333,"
              "\"top_edge_y\":72,\"bottom_edge_y\":440},\"number_settings\":[]}]");
}

TEST_F(RealtimeOnly, ThereIsNoOnlineStatesMonitorAndMaskMonitorsSeeNoMasks) {
    auto client = accepted();
    std::string online = "\"enable_camera_online_states_monitor\"";
    std::string masks = "\"enable_rectangular_masks_monitor\"";
    Bytes messages = bytesOf("m") + u32(static_cast<uint32_t>(online.size())) + bytesOf(online) + bytesOf("m") +
                     u32(static_cast<uint32_t>(masks.size())) + bytesOf(masks);
    ASSERT_TRUE(client->send(bytesOf("R1") + messages));
    // Only the mask monitor answers, at once: neither camera can have rectangular masks here.
    EXPECT_EQ(readRealtimeMessage(*client, host), "[\"rectangular_masks\",[null,null]]");
    EXPECT_THAT(diagnostics.text(), HasSubstr("Got message: " + online + "\n"));
}

TEST_F(RealtimeOnly, AClientLeavingMidItemIsAFailedRead) {
    auto client = accepted();
    // 'R' and the 't' of the opening, then gone before the byte that completes it.
    ASSERT_TRUE(client->send("Rt"));
    EXPECT_TRUE(client->staysQuiet(host, 20));
    EXPECT_EQ(diagnostics.text(), "");
    client->close();
    EXPECT_TRUE(pumpUntil(host, [&] { return host.clientCount() == 0; }));
    EXPECT_THAT(diagnostics.text(), HasSubstr("Read failed\n"));
}

}  // namespace
