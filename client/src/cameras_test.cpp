#include "frameyard/client/cameras.h"

#include <gtest/gtest.h>

#include "frameyard/client/error.h"
#include "frameyard/client/json.h"

namespace frameyard {
namespace {

TEST(Cameras, ReadsDescriptions) {
    std::optional<Json> text = parseJson(
        R"([{"name":"left","image_region":{"left_edge_x":0,"right_edge_x":640,"top_edge_y":0,"bottom_edge_y":480},)"
        R"("number_settings":[{"name":"gain","value":1.5,"minimum":0,"maximum":10,"precision":2.5},)"
        R"({"name":"offset","value":-3}]},{"name":"x","disabled":1,"number_settings":[]}])");
    ASSERT_TRUE(text);
    std::vector<Camera> cameras = parseCameras(*text);
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
    EXPECT_EQ(parseCameras(*negative)[0].settings[0].precision, -2);
    EXPECT_EQ(findCamera(cameras, "x"), 1);
    try {
        findCamera(cameras, "nosuch");
        FAIL() << "no error for an unknown camera";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "unknown camera 'nosuch' (cameras: left, x)");
    }
}

TEST(Cameras, RefusesMalformedDescriptions) {
    for (const char* text : {R"({"name":"a"})", R"([{"number_settings":[]}])", R"([{"name":"a","number_settings":{}}])",
                             R"([{"name":"a","number_settings":[{"value":1}]}])",
                             R"([{"name":"a","image_region":{"left_edge_x":"0"}}])", R"([{"name":"a"},{"name":5}])",
                             R"([{"name":"a"},7])"}) {
        std::optional<Json> value = parseJson(text);
        ASSERT_TRUE(value) << text;
        EXPECT_THROW(parseCameras(*value), Error) << text;
    }
}

}  // namespace
}  // namespace frameyard
