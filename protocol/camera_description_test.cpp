#include "protocol/camera_description.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>

#include "protocol/command_test_fakes.h"
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

// Records what the readers hand over.
struct RecordingBuilder : CameraArrayBuilder, CameraBuilder {
    std::vector<std::string> calls;
    std::vector<NumberSetting> settings;
    LuGlobImageRegion region;

    void beginCamera() override { calls.push_back("begin"); }
    void endCamera() override { calls.push_back("end"); }
    CameraBuilder& cameraBuilder() override { return *this; }
    void setName(LuStr name) override { calls.push_back("name " + name.str()); }
    void setImageRegion(LuGlobImageRegion r) override {
        region = r;
        calls.push_back("region");
    }
    void setAcquireImageRegion(LuGlobImageRegion) override { calls.push_back("acquire"); }
    void setDisabled(bool disabled) override { calls.push_back(disabled ? "disabled" : "enabled"); }
    void addNumberSetting(const NumberSetting& s) override {
        settings.push_back(s);
        calls.push_back("setting " + s.name.str());
    }
};

struct Messages : LuJSonParser::ErrorHandler {
    std::vector<std::string> errors, warnings;
    void error(LuJSonParser&, const LuStr& m) override { errors.push_back(m.str()); }
    void warning(LuJSonParser&, const LuStr& m) override { warnings.push_back(m.str()); }
};

bool readArray(const char* text, RecordingBuilder& builder, Messages& messages) {
    LuJSonParser parser(text, messages);
    CameraArrayReader reader(builder);
    return parser.readArray(reader);
}

using Calls = std::vector<std::string>;

TEST(CameraReader, MembersAndWarnings) {
    RecordingBuilder builder;
    Messages messages;
    EXPECT_TRUE(readArray(R"([{"name":"a","disabled":0},{"colour":"red","name":"b","disabled":"yes"}])", builder, messages));
    EXPECT_EQ(builder.calls, (Calls{"begin", "name a", "enabled", "end", "begin", "name b", "end"}));
    EXPECT_EQ(messages.warnings, (Calls{"Unknown camera member 'colour'.", "Unhandled value for member disabled."}));
    EXPECT_TRUE(messages.errors.empty());
}

TEST(CameraReader, SettingsAndRegions) {
    RecordingBuilder builder;
    Messages messages;
    ASSERT_TRUE(readArray(R"([{"image_region":{"right_edge_x":640.5,"bottom_edge_y":480,"depth":1},)"
                          R"("number_settings":[{"name":"g","precision":2.5,"unit":"dB"},{"precision":-2.5,"value":7,"maximum":9}]}])",
                          builder, messages));
    EXPECT_EQ(builder.region, (LuGlobImageRegion{0, 640.5f, 0, 480}));
    ASSERT_EQ(builder.settings.size(), 2u);
    EXPECT_EQ(builder.settings[0].precision, 3);
    EXPECT_EQ(builder.settings[0].value, 0.0);
    EXPECT_EQ(builder.settings[0].minimum, -DBL_MAX);
    EXPECT_EQ(builder.settings[1].precision, -2);
    EXPECT_EQ(builder.settings[1].value, 7.0);
    EXPECT_EQ(builder.settings[1].maximum, 9.0);
    EXPECT_EQ(messages.warnings, (Calls{"Unknown member 'depth'.", "Unknown member 'unit'."}));
}

TEST(CameraReader, AFailedElementFailsTheReadButKeepsEarlierCameras) {
    const char* failing[] = {R"([{"name":"a"},{"name":5}])", R"([{"name":"a"},{"disabled":1.5}])",
                             R"([{"name":"a"},{"number_settings":[{"precision":1e30}]}])", R"([{"name":"a"},7])"};
    for (const char* text : failing) {
        RecordingBuilder builder;
        Messages messages;
        EXPECT_FALSE(readArray(text, builder, messages)) << text;
        EXPECT_EQ(std::count(builder.calls.begin(), builder.calls.end(), "end"), 1) << text;
        EXPECT_EQ(messages.errors.size(), 1u) << text;
    }
}

// A server connection scripted with the bytes it will deliver.
struct ScriptedServer : RecordingSocket {
    std::string toDeliver;
    bool closesAfter = true;
    int read(void* buffer, size_t length) override {
        if (toDeliver.empty()) return closesAfter ? -1 : 0;
        size_t n = std::min(length, std::min<size_t>(toDeliver.size(), 3));  // in small pieces
        toDeliver.copy(static_cast<char*>(buffer), n);
        toDeliver.erase(0, n);
        return int(n);
    }
};

TEST(ReadSettings, AsksTheServerAndBuildsTheCameras) {
    ScriptedServer server;
    std::string text = R"([{"name":"a","colour":1},{"name":"b"}])";
    server.toDeliver = bytes({0, 0, 0, uint8_t(text.size())}) + text;
    RecordingBuilder builder;
    fy::DiagnosticCapture diagnostics;
    EXPECT_TRUE(readSettings(builder, server));
    EXPECT_EQ(server.written, "cgs");
    EXPECT_EQ(builder.calls, (Calls{"begin", "name a", "end", "begin", "name b", "end"}));
    EXPECT_EQ(diagnostics.text(), "Warning reading settings: Unknown camera member 'colour'. at position 22\n");
}

TEST(ReadSettings, FailuresReturnFalse) {
    LuExceptionHandler::processWide().clear();
    const std::string failing[] = {bytes({0xFF, 0xFF, 0xFF, 0xFE}), bytes({0, 0}), bytes({0, 0, 0, 9}) + "[{}]",
                                   bytes({0, 0, 0, 4}) + "[{]}"};
    for (const std::string& reply : failing) {
        ScriptedServer server;
        server.toDeliver = reply;
        RecordingBuilder builder;
        EXPECT_FALSE(readSettings(builder, server));
    }
    ASSERT_TRUE(LuExceptionHandler::processWide().hasError());
    EXPECT_EQ(LuExceptionHandler::processWide().newest()->message().str(),
              "Expecting string, but found ']'. at position 2");
    LuExceptionHandler::processWide().clear();

    ScriptedServer silent;
    silent.closesAfter = false;
    RecordingBuilder builder;
    EXPECT_FALSE(readSettings(builder, silent, 0.05));
}

}  // namespace
