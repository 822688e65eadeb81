#include "protocol/messages/camera_messages.h"

#include <gtest/gtest.h>

#include "protocol/command/command_test_fakes.h"

using namespace command_test;
using RyStoreProtocol::handleCameraMessage;

namespace {

struct CameraMessageTest : ::testing::Test {
    FakeConfig config;
    LuDArray<int> cameras = intArray({4, 7, 9});

    bool handle(const char* text) { return handleCameraMessage(LuStr(text), cameras, config); }
    bool nothingChanged() const {
        return config.addedMasks.empty() && config.deletedMasks.empty() && config.settingCalls.empty();
    }
};

TEST_F(CameraMessageTest, MaskCommandsReachTheAddressedHostCamera) {
    EXPECT_TRUE(handle(R"(["camera",1,["add_rectangular_mask",{"y2":0.4,"x1":0.1,"note":"x","y1":0.2,"x2":0.3}]])"));
    ASSERT_EQ(config.addedMasks.size(), 1u);
    EXPECT_EQ(config.addedMasks[0].first, 7);
    EXPECT_EQ(config.addedMasks[0].second, (RyRectangularMask{0.1f, 0.2f, 0.3f, 0.4f}));

    EXPECT_TRUE(handle(R"(["camera",2,["delete_rectangular_mask",{"x1":1,"y1":1,"x2":1,"y2":1}],"extra"])"));
    ASSERT_EQ(config.deletedMasks.size(), 1u);
    EXPECT_EQ(config.deletedMasks[0].first, 9);
}

TEST_F(CameraMessageTest, ChangeSettingTakesANameAndANumber) {
    EXPECT_TRUE(handle(R"(["camera",0,["change_setting","gain",2.5]])"));
    ASSERT_EQ(config.settingCalls.size(), 1u);
    EXPECT_EQ(config.settingCalls[0].camera, 4);
    EXPECT_EQ(config.settingCalls[0].name, "gain");
    EXPECT_EQ(config.settingCalls[0].value, 2.5);

    EXPECT_FALSE(handle(R"(["camera",0,["change_setting","gain","5"]])"));
    EXPECT_FALSE(handle(R"(["camera",0,["change_setting","gain"]])"));
    EXPECT_EQ(config.settingCalls.size(), 1u);
}

TEST_F(CameraMessageTest, CameraNumberIsTruncatedTowardZero) {
    const std::pair<const char*, int> addressed[] = {{"1.9", 7}, {"-0.5", 4}, {"2.999", 9}};
    for (const auto& [number, camera] : addressed) {
        config.settingCalls.clear();
        std::string text = std::string(R"(["camera",)") + number + R"(,["change_setting","g",1]])";
        EXPECT_TRUE(handle(text.c_str())) << number;
        ASSERT_EQ(config.settingCalls.size(), 1u);
        EXPECT_EQ(config.settingCalls[0].camera, camera) << number;
    }
}

TEST_F(CameraMessageTest, NumbersOutsideTheCameraListAreNotHandled) {
    // Hostile numbers included: none of them may reach an integer conversion.
    for (const char* number : {"-1", "3", "1e30", "-1e30", "1e999", "-inf", "-nan", "2147483648"}) {
        std::string text = std::string(R"(["camera",)") + number + R"(,["change_setting","g",1]])";
        EXPECT_FALSE(handle(text.c_str())) << number;
    }
    EXPECT_TRUE(nothingChanged());
}

TEST_F(CameraMessageTest, MalformedMessagesChangeNothing) {
    const char* malformed[] = {
        R"(["camera",0,["add_rectangular_mask",{"x1":0.5,"y1":0.1,"x2":0.2,"y2":0.3}]])",  // x1 > x2
        R"(["camera",0,["add_rectangular_mask",{"x1":0,"y1":0.4,"x2":0.2,"y2":0.3}]])",    // y1 > y2
        R"(["camera",0,["add_rectangular_mask",{"x1":0,"y1":0,"x2":1}]])",
        R"(["camera",0,["add_rectangular_mask",{"x1":0,"y1":0,"x2":1,"y2":"1"}]])",
        R"(["camera",0,["add_rectangular_mask",[0,0,1,1]]])",
        R"(["camera",0,["add_rectangular_mask",{"x1":-nan,"y1":0,"x2":1,"y2":1}]])",
        R"(["camera",0,["rotate",1]])",
        R"(["camera",0,["add_rectangular_mask"]])",
        R"(["camera",0,"add_rectangular_mask"])",
        R"(["camera","0",["change_setting","g",1]])",
        R"(["camera",0])",
        R"(["cam",0,["change_setting","g",1]])",
        R"({"camera":0})",
        R"(["camera",0,["change_setting","g",1])",  // never closed
        "",
    };
    for (const char* text : malformed) EXPECT_FALSE(handle(text)) << text;
    EXPECT_TRUE(nothingChanged());
}

}  // namespace
