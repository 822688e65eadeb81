// The bridge's parts that need neither a host nor NATS: the frame payload, the options, the
// bound on unpublished messages, the camera directory and the control requests' validation.
#include <gtest/gtest.h>

#include <stdexcept>

#include "tools/frameyard-bridge/bridge_options.h"
#include "tools/frameyard-bridge/camera_directory.h"
#include "tools/frameyard-bridge/frame_payload.h"
#include "tools/frameyard-bridge/outbox.h"
#include "tools/frameyard-bridge/responders.h"

namespace {

frameyard::Frame twoCameraFrame() {
    frameyard::Frame frame;
    frameyard::Centroid* first = frame.addCamera(2);
    first[0] = {1.5f, 256.0f, 1};
    first[1] = {-0.25f, 511.875f, 1};
    frame.addCamera(0);
    return frame;
}

TEST(FramePayload, IsLittleEndianCountsAndFloatPairs) {
    std::string payload;
    bridge::encodeFramePayload(twoCameraFrame(), payload);
    ASSERT_EQ(payload.size(), 4u + 4 + 16 + 4);
    EXPECT_EQ(payload.substr(0, 8), std::string("\x02\x00\x00\x00\x02\x00\x00\x00", 8));
    EXPECT_EQ(payload.substr(8, 4), std::string("\x00\x00\xc0\x3f", 4));   // 1.5f
    EXPECT_EQ(payload.substr(24, 4), std::string(4, '\0'));                // the empty camera
    auto decoded = bridge::decodeFramePayload(payload);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, (bridge::DecodedFrame{{{1.5f, 256.0f}, {-0.25f, 511.875f}}, {}}));
}

TEST(FramePayload, DecodingRefusesTruncatedOrOverlongBytes) {
    std::string payload;
    bridge::encodeFramePayload(twoCameraFrame(), payload);
    EXPECT_FALSE(bridge::decodeFramePayload(payload.substr(0, payload.size() - 1)));
    EXPECT_FALSE(bridge::decodeFramePayload(payload + "x"));
    EXPECT_FALSE(bridge::decodeFramePayload(std::string("\x01\x00\x00\x00\xff\xff\xff\xff", 8)));
}

TEST(BridgeOptions, DefaultsAndEveryOption) {
    bridge::BridgeOptions defaults = bridge::parseBridgeOptions({});
    EXPECT_EQ(defaults.host, "127.0.0.1");
    EXPECT_EQ(defaults.port, 4000);
    EXPECT_EQ(defaults.natsUrls, std::vector<std::string>{"nats://127.0.0.1:4222"});
    EXPECT_EQ(defaults.prefix, "frameyard");
    EXPECT_FALSE(defaults.control);
    EXPECT_EQ(defaults.maxAgeSeconds, 3600);

    bridge::BridgeOptions set = bridge::parseBridgeOptions(
        {"--host", "10.0.0.2", "--port", "4100", "--nats", "nats://a:1,nats://b:2", "--prefix", "lab", "--cameras",
         "left,right", "--control", "--jetstream", "LAB", "--max-age", "60", "--seconds", "2.5", "--quiet"});
    EXPECT_EQ(set.host, "10.0.0.2");
    EXPECT_EQ(set.port, 4100);
    EXPECT_EQ(set.natsUrls, (std::vector<std::string>{"nats://a:1", "nats://b:2"}));
    EXPECT_EQ(set.cameras, (std::vector<std::string>{"left", "right"}));
    EXPECT_TRUE(set.control && set.quiet);
    EXPECT_EQ(set.jetstream, "LAB");
    EXPECT_EQ(set.maxAgeSeconds, 60);
    EXPECT_DOUBLE_EQ(set.seconds, 2.5);

    for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
             {"--port", "0"}, {"--port", "70000"}, {"--port"}, {"--seconds", "-1"}, {"--nats", ","}, {"--what"}}) {
        EXPECT_THROW(bridge::parseBridgeOptions(bad), std::invalid_argument) << bad[0];
    }
}

TEST(Outbox, DropsAndCountsWhatExceedsTheBoundAndKeepsOrder) {
    bridge::OutMessage sample;
    sample.payload.assign(1000, 'x');
    bridge::Outbox outbox(3 * sample.bytes());
    for (int i = 0; i < 5; ++i) {
        bridge::OutMessage message = sample;
        message.frameNumber = static_cast<uint64_t>(i);
        outbox.push(std::move(message));
    }
    EXPECT_EQ(outbox.dropped(), 2u);
    EXPECT_EQ(outbox.bytesHeld(), 3 * sample.bytes());
    bridge::OutMessage out;
    for (uint64_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(outbox.pop(out, std::chrono::milliseconds(0)));
        EXPECT_EQ(out.frameNumber, i);
    }
    EXPECT_FALSE(outbox.pop(out, std::chrono::milliseconds(10)));
    EXPECT_EQ(outbox.bytesHeld(), 0u);
}

TEST(ControlRequests, MalformedRequestsAreBadRequestsWithoutTouchingTheHost) {
    bridge::CameraDirectory cameras;
    // Nobody listens on port 1: any attempt to reach the host would show as another error.
    frameyard::Host host("127.0.0.1", 1, 200);
    const std::string badRequest = R"(["error","bad_request"])";
    for (const char* request : {"", "nonsense", "42", R"(["camera","cam1"])", R"({"threshold":3})",
                                R"({"camera":"cam1"})", R"({"camera":5,"threshold":3})",
                                R"({"camera":"cam1","threshold":"3"})", R"({"camera":"cam1","threshold":null})"}) {
        EXPECT_EQ(bridge::answerThresholdRequest(request, cameras, host), badRequest) << request;
    }
    for (const char* request : {"{", R"({"camera":"cam1","name":"gain"})", R"({"camera":"cam1","value":2})",
                                R"({"camera":"cam1","name":3,"value":2})", R"({"camera":"cam1","name":"gain","value":"2"})"}) {
        EXPECT_EQ(bridge::answerSettingRequest(request, cameras, host), badRequest) << request;
    }
}

TEST(CameraDirectory, AnswersEmptyUntilLoadedAndFollowsOnlyThresholdMessages) {
    bridge::CameraDirectory cameras;
    EXPECT_EQ(cameras.answer(), "[]");
    EXPECT_FALSE(cameras.loaded());
    cameras.noteMessage(R"(["camera",0,["setting_changed","_threshold",9]])", {"cam1"});
    EXPECT_FALSE(cameras.threshold("cam1").has_value());
}

}  // namespace
