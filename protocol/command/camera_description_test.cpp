#include "protocol/command/camera_description.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>

#include "protocol/command/command_test_fakes.h"
#include "toolkit/diagnostics.h"
#include "toolkit/error_list.h"
#include "toolkit/string_stream.h"

using namespace command_test;
using namespace RyStoreProtocol;

namespace {

std::string cameraText(const ConstCamera& camera) {
    LuOSStream out;
    writeCameraObject(out, camera);
    return out.text();
}

NumberSetting setting(const char* name, double value, double minimum = -DBL_MAX, double maximum = DBL_MAX,
                      int precision = 0) {
    NumberSetting s;
    s.name = name;
    s.value = value;
    s.minimum = minimum;
    s.maximum = maximum;
    s.precision = precision;
    return s;
}

TEST(CameraWriter, LeavesOutWhatIsNotGiven) {
    FakeCamera plain("x");
    EXPECT_EQ(cameraText(plain), R"({"name":"x","number_settings":[]})");

    FakeCamera left("left");
    left.region = {0, 640, 0, 480};
    left.settings = {setting("gain", 1.5, 0, 10, 2), setting("offset", -3)};
    EXPECT_EQ(cameraText(left),
              R"({"name":"left","image_region":{"left_edge_x":0,"right_edge_x":640,"top_edge_y":0,"bottom_edge_y":480},)"
              R"("number_settings":[{"name":"gain","value":1.5,"minimum":0,"maximum":10,"precision":2},)"
              R"({"name":"offset","value":-3}]})");
}

TEST(CameraWriter, PartialRegionsDisabledAndNumberFormats) {
    FakeCamera camera("c");
    camera.acquireRegion = {0, 0, 0.1f, 0};
    camera.disabled = true;
    camera.settings = {setting("big", 1234567, -DBL_MAX, 1e-5, 12), setting("low", 0.5, -1, DBL_MAX)};
    EXPECT_EQ(cameraText(camera),
              R"({"name":"c","acquire_image_region":{"left_edge_x":0,"right_edge_x":0,"top_edge_y":0.1,"bottom_edge_y":0},)"
              R"("disabled":1,"number_settings":[{"name":"big","value":1.23457e+06,"maximum":1e-05,"precision":12},)"
              R"({"name":"low","value":0.5,"minimum":-1}]})");
}

struct TwoCameras : CameraArray {
    FakeConfig config;
    TwoCameras() { config.cameras = {FakeCamera("a"), FakeCamera("b")}; }
    void visitCameras(CameraVisitor& visitor, const LuDArray<int>* cameras) override {
        if (!cameras) {
            for (int i = 0; i < config.cameraCount(); ++i) config.visitCamera(i, visitor);
            return;
        }
        for (int camera : *cameras) config.visitCamera(camera, visitor);
    }
};

TEST(CameraWriter, Arrays) {
    TwoCameras cameras;
    LuDArray<int> none;
    EXPECT_EQ(cameraArrayText(cameras, &none).str(), "[]");
    EXPECT_EQ(cameraArrayText(cameras, nullptr).str(),
              R"([{"name":"a","number_settings":[]},{"name":"b","number_settings":[]}])");

    // A camera that is not visited leaves no stray comma.
    LuOSStream out;
    writeCameraSettingsArray(out, cameras.config, intArray({1, 5, 0}));
    EXPECT_STREQ(out.text(), R"([{"name":"b","number_settings":[]},{"name":"a","number_settings":[]}])");
}

}  // namespace
