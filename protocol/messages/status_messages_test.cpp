#include "protocol/messages/status_messages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "protocol/realtime/realtime_protocol_test_fakes.h"

using namespace RyStoreProtocol;

namespace {

class Recorder : public SendMessageFunction {
public:
    std::vector<std::string> sent;
    bool fail = false;
    bool send(const LuStr& message) override {
        sent.push_back(message.str());
        return !fail;
    }
};

LuDArray<int> list(std::initializer_list<int> values) {
    LuDArray<int> out;
    for (int v : values) out.append(v);
    return out;
}

std::string text(const LuStr& s) { return s.str(); }

}  // namespace

TEST(StatusTexts, NumbersAndCameraAddressing) {
    EXPECT_EQ(text(settingChangedMessage("_threshold", 40.0f)), "[\"setting_changed\",\"_threshold\",40]");
    EXPECT_EQ(text(settingChangedMessage("g", 0.1f)), "[\"setting_changed\",\"g\",0.1]") << "widened, 6 digits";
    EXPECT_EQ(text(settingChangedMessage("g", 1234567.0f)), "[\"setting_changed\",\"g\",1.23457e+06]");
    EXPECT_EQ(text(rateMessage(frameRateKind, 29.97f)), "[\"frame_rate\",29.97]");
    EXPECT_EQ(text(rateMessage(timecodeRateKind, 25.0f)), "[\"timecode_rate\",25]");
    EXPECT_EQ(text(cameraMessage(1000000, "[]")), "[\"camera\",1000000,[]]") << "positions are plain integers";

    Recorder recorder;
    EXPECT_TRUE(sendCameraMessage(recorder, list({0}), 1, "[]"));
    EXPECT_TRUE(sendCameraMessage(recorder, list({3, 1, 3}), 3, settingChangedMessage("gain", 2.0f)));
    EXPECT_EQ(recorder.sent, (std::vector<std::string>{"[\"camera\",0,[\"setting_changed\",\"gain\",2]]",
                                                       "[\"camera\",2,[\"setting_changed\",\"gain\",2]]"}));
    recorder.fail = true;
    EXPECT_FALSE(sendCameraMessage(recorder, list({3, 3}), 3, "[]"));
    EXPECT_EQ(recorder.sent.size(), 4u) << "a failed send does not stop the others";
}

TEST(StatusTexts, RectangularMasksAndOnlineStatesPerClientCamera) {
    LuDArray<LuNullable<LuDArray<RyRectangularMask>>> table;
    table.setSize(3);  // camera 1 and 2: no mask support
    table[0] = LuDArray<RyRectangularMask>();
    table[0].get().append(RyRectangularMask{0.1f, 0.2f, 0.3f, 0.4f});
    const std::string oneMask = "[{\"x1\":0.1,\"y1\":0.2,\"x2\":0.3,\"y2\":0.4}]";
    EXPECT_EQ(text(rectangularMasksMessage(table, list({2, 0}))), "[\"rectangular_masks\",[null," + oneMask + "]]");
    table[2] = LuDArray<RyRectangularMask>();
    EXPECT_EQ(text(rectangularMasksMessage(table, list({2, 0, 7, -1}))),
              "[\"rectangular_masks\",[[]," + oneMask + ",null,null]]") << "beyond the table: null";

    LuDArray<LuNullable<bool>> states;
    states.setSize(2);
    EXPECT_EQ(text(onlineStatesMessage(states, list({0, 1}))), "[\"online_states\",[null,null]]");
    states[0] = true;
    states[1] = false;
    EXPECT_EQ(text(onlineStatesMessage(states, list({1, 0, 5, -3}))), "[\"online_states\",[0,1,null,null]]");
}

TEST(Monitors, OnlyTheExactEnableTextsCount) {
    for (int kind = 0; kind < monitorKindCount; ++kind) EXPECT_EQ(monitorKindForMessage(monitorEnableText(kind)), kind);
    EXPECT_EQ(text(monitorEnableText(onlineStatesMonitor)), "\"enable_camera_online_states_monitor\"");
    for (LuStr other : {LuStr("enable_frame_rate_monitor"), LuStr("\"enable_frame_rate_monitor\" "),
                        LuStr("\"enable_frame_rate_monitor\"\0x", 29), LuStr(), LuStr("")})
        EXPECT_EQ(monitorKindForMessage(other), -1) << other.view();
}

TEST(Monitors, EnablingReportsTheCurrentStateAndRatesAreStoredOnChange) {
    realtime_test::RecordingConfig config;
    Recorder recorder;
    bool flags[monitorKindCount] = {};
    LuDArray<int> cameras = list({1, 0});
    EXPECT_TRUE(handleRealtimeMonitorEnable("\"enable_frame_rate_monitor\"", flags, config, cameras, recorder));
    EXPECT_TRUE(flags[frameRateMonitor]);
    EXPECT_TRUE(recorder.sent.empty()) << "no rate has been reported yet";
    EXPECT_FALSE(handleRealtimeMonitorEnable("[]", flags, config, cameras, recorder));

    EXPECT_TRUE(storeRateIfChanged(config, timecodeRateKind, 24.0f));
    EXPECT_FALSE(storeRateIfChanged(config, timecodeRateKind, 24.0f));
    EXPECT_TRUE(storeRateIfChanged(config, frameRateKind, 24.0f)) << "each kind keeps its own value";
    float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(storeRateIfChanged(config, frameRateKind, nan));
    EXPECT_TRUE(storeRateIfChanged(config, frameRateKind, nan)) << "NaN never equals the stored value";
    EXPECT_TRUE(handleRealtimeMonitorEnable("\"enable_timecode_rate_monitor\"", flags, config, cameras, recorder));
    EXPECT_EQ(recorder.sent, std::vector<std::string>{"[\"timecode_rate\",24]"});

    EXPECT_EQ(narrowToFloat(1e300), std::numeric_limits<float>::infinity());
    EXPECT_EQ(narrowToFloat(-1e300), -std::numeric_limits<float>::infinity());
    EXPECT_TRUE(std::isnan(narrowToFloat(std::nan(""))));
}
