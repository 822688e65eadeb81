#include "tools/client/command_client.h"

#include <gtest/gtest.h>

#include <limits>

#include "tools/client/camera_info.h"
#include "tools/client/json_reader.h"

namespace fyclient {
namespace {

TEST(ReplyCheck, ClassifiesReplies) {
    EXPECT_TRUE(checkReply("\"ok\"").ok);
    ReplyCheck empty = checkReply("");
    EXPECT_TRUE(empty.isError);
    EXPECT_EQ(empty.failure, "No response");
    for (const char* reply : {R"(["error","unsupported"])", R"(["error","bad_command"])", R"(["error","unknown_command"])"}) {
        ReplyCheck check = checkReply(reply);
        EXPECT_TRUE(check.isError) << reply;
        EXPECT_EQ(check.failure, "Not supported.") << reply;
    }
    ReplyCheck own = checkReply(R"(["error","Duplicate camera 'left'"])");
    EXPECT_TRUE(own.isError);
    EXPECT_EQ(own.failure, "Duplicate camera 'left'");
    ReplyCheck result = checkReply(R"(["result",[1,2]])");
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.isError);
    EXPECT_EQ(result.failure, "Unknown response");
    EXPECT_THROW(requireOk(R"(["error","no_wanted_cameras"])", "get"), ClientError);
    EXPECT_NO_THROW(requireOk("\"ok\"", "get"));
}

TEST(Requests, AreTheTextsTheServerExpects) {
    EXPECT_EQ(wantCamerasRequest({"right", "left"}), R"(["want_cameras",["right","left"]])");
    EXPECT_EQ(wantCamerasRequest({}), R"(["want_cameras",[]])");
    EXPECT_EQ(cameraMessage(2, addRectangularMaskCommand(1, 2, 3.5f, 4)),
              R"(["camera",2,["add_rectangular_mask",{"x1":1,"y1":2,"x2":3.5,"y2":4}]])");
    EXPECT_EQ(deleteRectangularMaskCommand(0, 0, 1, 1), R"(["delete_rectangular_mask",{"x1":0,"y1":0,"x2":1,"y2":1}])");
}

TEST(Requests, KeepEveryDigitOfAValue) {
    // The server's own number style would send 1.23457e+06 and change the value.
    std::optional<Json> request = parseJson(changeSettingRequest("exposure", 1234567));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->items[2].number, 1234567.0);
    // A display coordinate of a mask read back must come back to the same float.
    float x = 501.333344f;
    std::optional<Json> mask = parseJson(addRectangularMaskCommand(x, 72, x, 440));
    ASSERT_TRUE(mask);
    EXPECT_EQ(static_cast<float>(mask->items[1].find("x1")->number), x);
    // No request may carry a number JSON cannot spell.
    EXPECT_THROW(changeSettingRequest("gain", std::numeric_limits<double>::infinity()), ClientError);
    EXPECT_THROW(addRectangularMaskCommand(0, 0, std::numeric_limits<float>::quiet_NaN(), 1), ClientError);
}

TEST(CameraInfo, ReadsDescriptions) {
    std::optional<Json> text = parseJson(
        R"([{"name":"left","image_region":{"left_edge_x":0,"right_edge_x":640,"top_edge_y":0,"bottom_edge_y":480},)"
        R"("number_settings":[{"name":"gain","value":1.5,"minimum":0,"maximum":10,"precision":2.5},)"
        R"({"name":"offset","value":-3}]},{"name":"x","disabled":1,"number_settings":[]}])");
    ASSERT_TRUE(text);
    std::vector<CameraInfo> cameras = parseCameraArray(*text);
    ASSERT_EQ(cameras.size(), 2u);
    EXPECT_EQ(cameras[0].name, "left");
    ASSERT_TRUE(cameras[0].imageRegion);
    EXPECT_EQ(cameras[0].imageRegion->right, 640.0f);
    EXPECT_FALSE(cameras[0].acquireImageRegion);
    ASSERT_EQ(cameras[0].settings.size(), 2u);
    EXPECT_EQ(cameras[0].settings[0].precision, 3);   // rounded as the server's reader does
    EXPECT_EQ(*cameras[0].settings[0].maximum, 10.0);
    EXPECT_FALSE(cameras[0].settings[1].minimum);
    EXPECT_FALSE(cameras[0].settings[1].maximum);
    EXPECT_TRUE(cameras[1].disabled);
    // Half-way precisions round upward, also below zero.
    std::optional<Json> negative = parseJson(R"([{"name":"n","number_settings":[{"name":"p","precision":-2.5}]}])");
    ASSERT_TRUE(negative);
    EXPECT_EQ(parseCameraArray(*negative)[0].settings[0].precision, -2);
    EXPECT_EQ(findCamera(cameras, "x"), 1);
    try {
        findCamera(cameras, "nosuch");
        FAIL() << "no error for an unknown camera";
    } catch (const ClientError& error) {
        EXPECT_STREQ(error.what(), "unknown camera 'nosuch' (cameras: left, x)");
    }
}

TEST(CameraInfo, RefusesMalformedDescriptions) {
    for (const char* text : {R"({"name":"a"})", R"([{"number_settings":[]}])", R"([{"name":"a","number_settings":{}}])",
                             R"([{"name":"a","number_settings":[{"value":1}]}])",
                             R"([{"name":"a","image_region":{"left_edge_x":"0"}}])", R"([{"name":"a"},{"name":5}])",
                             R"([{"name":"a"},7])"}) {
        std::optional<Json> value = parseJson(text);
        ASSERT_TRUE(value) << text;
        EXPECT_THROW(parseCameraArray(*value), ClientError) << text;
    }
}

}  // namespace
}  // namespace fyclient
