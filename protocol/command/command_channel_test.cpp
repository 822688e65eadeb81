#include "protocol/command/command_channel.h"

#include <gtest/gtest.h>

#include "protocol/command/command_test_fakes.h"
#include "toolkit/diagnostics.h"

using namespace command_test;
using namespace RyStoreProtocol;

namespace {

struct CommandTest : ::testing::Test {
    FakeConfig config;
    ClientConfiguration client;
    bool livefeat = true;

    CommandTest() {
        config.cameras = {FakeCamera("left"), FakeCamera("right")};
        config.thresholdValues = {10, 20};
    }
    std::string send(const char* text) { return dispatch(text).text.str(); }
    CommandReply dispatch(const char* text) {
        return dispatchClientCommand(LuStr(text), config, client, livefeat, LuStr("10.0.0.2"), 4001);
    }
    std::vector<int> wanted() const {
        if (client.wantedCameras.isNull()) return {-1};
        return std::vector<int>(client.wantedCameras.get().begin(), client.wantedCameras.get().end());
    }
};

const char* badCommand = R"(["error","bad_command"])";

TEST_F(CommandTest, StringCommands) {
    EXPECT_EQ(send(R"( "enable_realtime_messages" trailing)"), R"("ok")");
    EXPECT_TRUE(client.realtimeMessages);
    EXPECT_EQ(send(R"("check_realtime_want_cameras")"), R"("ok")");
    EXPECT_EQ(send(R"("foo")"), R"(["error","unknown_command"])");
    EXPECT_FALSE(client.livefeatMessages);

    livefeat = false;
    EXPECT_EQ(send(R"("enable_livefeat_messages")"), R"(["error","unsupported"])");
    EXPECT_FALSE(client.livefeatMessages);
    livefeat = true;
    EXPECT_EQ(send(R"("enable_livefeat_messages")"), R"("ok")");
    EXPECT_TRUE(client.livefeatMessages);
}

TEST_F(CommandTest, MalformedCommandsAreBadCommands) {
    for (const char* text : {"enable_realtime_messages", R"(["enable_realtime_messages"])", "[]", "{}", "42", "",
                             R"("unterminated)", R"([42])", R"(["nosuch"])", R"(["get_thresholds")"})
        EXPECT_EQ(send(text), badCommand) << text;
    EXPECT_FALSE(client.realtimeMessages);
}

TEST_F(CommandTest, WantCamerasResolvesNamesInOrder) {
    EXPECT_EQ(send(R"(["get_thresholds"])"), R"(["error","no_wanted_cameras"])");
    EXPECT_EQ(send(R"(["get_camera_settings"])"), R"(["error","no_wanted_cameras"])");

    EXPECT_EQ(send(R"(["want_cameras",[]])"), R"("ok")");
    EXPECT_EQ(send(R"(["get_thresholds"])"), R"(["result",[]])");

    EXPECT_EQ(send(R"(["want_cameras",["right","left"]])"), R"("ok")");
    EXPECT_EQ(send(R"(["get_thresholds"])"), R"(["result",[20,10]])");
    EXPECT_EQ(send(R"(["get_camera_settings"])"),
              R"(["result",[{"name":"right","number_settings":[]},{"name":"left","number_settings":[]}]])");

    EXPECT_EQ(send(R"(["want_cameras",["left",7]])"), R"("ok")");
    EXPECT_EQ(wanted(), std::vector<int>{0});
    EXPECT_EQ(send(R"(["want_cameras","left"])"), badCommand);
    EXPECT_EQ(send(R"(["want_cameras"])"), badCommand);
    EXPECT_EQ(wanted(), std::vector<int>{0});
}

TEST_F(CommandTest, FailedResolutionClearsTheWantedCameras) {
    send(R"(["want_cameras",["left"]])");
    EXPECT_EQ(send(R"(["want_cameras",["right","left","right"]])"), R"(["error","Duplicate camera 'right'"])");
    EXPECT_EQ(wanted(), std::vector<int>{-1});
    EXPECT_TRUE(config.addCamerasCalls.empty());

    send(R"(["want_cameras",["left"]])");
    EXPECT_EQ(send(R"(["want_cameras",["nosuch"]])"), R"(["error","Adding cameras it not supported."])");
    EXPECT_EQ(wanted(), std::vector<int>{-1});
}

TEST_F(CommandTest, UnknownNamesGetTheIndicesTheConfigurationAdds) {
    config.addedCameras = intArray({5, 6});
    EXPECT_EQ(send(R"(["want_cameras",["x","right","y"]])"), R"("ok")");
    EXPECT_EQ(config.addCamerasCalls, (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(wanted(), (std::vector<int>{5, 1, 6}));
}

TEST_F(CommandTest, ChangeSettingAppliesToEveryWantedCamera) {
    EXPECT_EQ(send(R"(["change_setting","gain",5])"), badCommand);  // no wanted cameras
    send(R"(["want_cameras",["right","left"]])");
    EXPECT_EQ(send(R"(["change_setting","gain"])"), badCommand);
    EXPECT_EQ(send(R"(["change_setting","gain","5"])"), badCommand);
    EXPECT_EQ(send(R"(["change_setting",1,5])"), badCommand);
    EXPECT_TRUE(config.settingCalls.empty());

    EXPECT_EQ(send(R"(["change_setting","gain",1.5])"), R"("ok")");
    ASSERT_EQ(config.settingCalls.size(), 2u);
    EXPECT_EQ(config.settingCalls[0].camera, 1);
    EXPECT_EQ(config.settingCalls[1].camera, 0);
    EXPECT_EQ(config.settingCalls[1].value, 1.5);
}

TEST_F(CommandTest, FindAvailableCameras) {
    EXPECT_EQ(send(R"(["find_available_cameras"])"), R"(["error","unsupported"])");

    config.canFind = true;
    config.available.names.append("a");
    config.available.names.append("b");
    CommandReply ready = dispatch(R"(["find_available_cameras"])");
    EXPECT_EQ(ready.text.str(), R"(["result",["a","b"]])");
    EXPECT_FALSE(ready.waitForAvailableCameras);

    config.available.ready = false;
    CommandReply searching = dispatch(R"(["find_available_cameras"])");
    EXPECT_EQ(searching.text.str(), R"(["status","searching"])");
    EXPECT_TRUE(searching.waitForAvailableCameras);
}

TEST_F(CommandTest, ChangeDefaultCamerasMapsResultCodes) {
    const std::pair<int, const char*> replies[] = {
        {0, R"("ok")"}, {1, R"(["error","unsupported"])"}, {2, R"(["error","busy"])"}, {7, R"(["error","bad result"])"}};
    config.defaultResult.message = "busy";
    for (const auto& [code, text] : replies) {
        config.defaultResult.code = code;
        EXPECT_EQ(send(R"(["change_default_cameras",["right"]])"), text);
    }
    EXPECT_EQ(config.defaultCameras, std::vector<int>{1});
    EXPECT_EQ(config.defaultPeer, "10.0.0.2");
    EXPECT_EQ(config.defaultPort, 4001);
    EXPECT_EQ(wanted(), std::vector<int>{-1});
    EXPECT_EQ(send(R"(["change_default_cameras",["a","a"]])"), R"(["error","Duplicate camera 'a'"])");
    EXPECT_EQ(send(R"(["change_default_cameras"])"), badCommand);
}

TEST(RelayingErrorHandler, AddsTheParsePosition) {
    std::vector<std::string> errors, warnings;
    RelayingErrorHandler relay([&](const LuStr& m) { errors.push_back(m.str()); },
                               [&](const LuStr& m) { warnings.push_back(m.str()); });
    LuJSonParser parser(R"({"ab" :1})", relay);
    JSonParser_IgnoreObjectReader reader;
    EXPECT_FALSE(parser.readObject(reader));
    EXPECT_EQ(errors, std::vector<std::string>{"Expecting ':', but found ' '. at position 5"});
    parser.warning("Careful.");
    EXPECT_EQ(warnings, std::vector<std::string>{"Careful. at position 5"});
    EXPECT_TRUE(relay.failed());
}

TEST(CommandReplyFraming, LengthThenText) {
    Connection connection;
    EXPECT_TRUE(sendCommandReply(connection.socket, LuStr("\"ok\"")));
    EXPECT_EQ(connection.inner.written, bytes({0, 0, 0, 4}) + "\"ok\"");
}

}  // namespace
