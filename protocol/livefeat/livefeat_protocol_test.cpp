#include "protocol/livefeat/livefeat_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/livefeat/livefeat_client_state.h"
#include "protocol/realtime/realtime_protocol_test_fakes.h"
#include "toolkit/diagnostics.h"

using namespace RyStoreProtocol;
using realtime_test::bytes;

namespace {

std::string message(const std::string& text) {
    std::string out = "m";
    uint32_t length = static_cast<uint32_t>(text.size());
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(length >> shift);
    return out + text;
}

// Every decoded command as a line, to check the decoder apart from what the server does.
class RecordingInput : public LiveFeatClientInputHandler {
public:
    std::vector<std::string> calls;

    void deselectCamera() override { calls.push_back("deselect"); }
    void selectCamera(int position) override { calls.push_back("select " + std::to_string(position)); }
    void changeThreshold(int position, int threshold) override {
        calls.push_back("threshold " + std::to_string(position) + " " + std::to_string(threshold));
    }
    void handleMessage(const LuStr& text) override { calls.push_back("message " + text.str()); }
    void acknowledgeImage() override { calls.push_back("ack"); }
    void setSendImages(bool on) override { calls.push_back(on ? "images on" : "images off"); }
};

// A live-feature client with the host cameras 2 and 0 at its positions 0 and 1.
class LiveFeatInput : public ::testing::Test {
protected:
    LiveFeatInput() {
        cameras.append(2);
        cameras.append(0);
    }

    bool send(const std::string& data) {
        connection.send(data);
        return checkLiveFeatInputFromClient(connection.socket, cameras, config, client, &commands);
    }
    bool decode(const std::string& data) {
        connection.send(data);
        return readLiveFeatCommands(connection.socket, recorder, &commands);
    }

    realtime_test::Connection connection;
    realtime_test::RecordingConfig config;
    LuDArray<int> cameras;
    LiveFeatClientState state;
    LiveFeatClientStateWrapper client{state};
    RecordingInput recorder;
    int commands = -1;
    fy::DiagnosticCapture diagnostics;
};

}  // namespace

TEST_F(LiveFeatInput, DecodesEveryCommandInOrder) {
    EXPECT_TRUE(decode(bytes({'c', 0, 1, 'c', 0xFF, 0xFF, 't', 0, 1, 0x01, 0x2C, 'i', 1, 'i', 2, 'i', 0, 'i', 9}) +
                       message("\"x\"")));
    EXPECT_EQ(commands, 8);
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"select 1", "deselect", "threshold 1 300", "images on", "ack",
                                                        "images off", "images off", "message \"x\""}));
    EXPECT_TRUE(decode(""));
    EXPECT_EQ(commands, 0) << "no input: nothing read, the session goes on";
}

TEST_F(LiveFeatInput, SelectionKeepsThePositionAndRefusesPositionsOutsideTheList) {
    EXPECT_TRUE(send(bytes({'c', 0, 1})));
    ASSERT_FALSE(state.selectedPosition.isNull());
    EXPECT_EQ(state.selectedPosition.get(), 1) << "the position, not host camera 0";
    EXPECT_TRUE(send(bytes({'c', 0, 2, 'c', 0xFF, 0xFE})));
    EXPECT_EQ(diagnostics.text(), "Invalid camera '3'\nInvalid camera '65535'\n");
    EXPECT_EQ(state.selectedPosition.get(), 1) << "an invalid position leaves the selection alone";
    EXPECT_TRUE(send(bytes({'c', 0xFF, 0xFF})));
    EXPECT_TRUE(state.selectedPosition.isNull());
}

TEST_F(LiveFeatInput, ThresholdsGoToTheHostCameraUncheckedInValue) {
    EXPECT_TRUE(send(bytes({'t', 0, 0, 0x01, 0x2C, 't', 0, 1, 0, 40, 't', 0, 5, 0, 1})));
    EXPECT_EQ(config.thresholdChanges, (std::vector<std::pair<int, int>>{{2, 300}, {0, 40}}));
    EXPECT_EQ(diagnostics.text(), "Invalid camera '6'\n");
}

TEST_F(LiveFeatInput, ImagesAcknowledgementsAndTurningImagesOff) {
    EXPECT_TRUE(send(bytes({'i', 1})));
    EXPECT_TRUE(state.sendImages);
    state.unacknowledgedImages = 2;
    EXPECT_TRUE(send(bytes({'i', 2})));
    EXPECT_EQ(state.unacknowledgedImages, 1);
    // Off forgets what is outstanding, so the next acknowledgement is for nothing.
    EXPECT_TRUE(send(bytes({'i', 0, 'i', 2})));
    EXPECT_FALSE(state.sendImages);
    EXPECT_EQ(state.unacknowledgedImages, 0);
    EXPECT_EQ(diagnostics.text(), "Acknowledgement for unsent image.\n");
    // Any value other than 1 and 2 means off; already off, the count is left alone.
    state.sendImages = true;
    EXPECT_TRUE(send(bytes({'i', 7})));
    EXPECT_FALSE(state.sendImages);
}

TEST_F(LiveFeatInput, MessagesMasksMonitorCameraCommandsAndTheRest) {
    LuDArray<RyRectangularMask> masks;
    masks.append({0.5f, 1, 2, 3});
    config.maskTable.append(LuNullable<LuDArray<RyRectangularMask>>());
    config.maskTable.append(LuNullable<LuDArray<RyRectangularMask>>());
    config.maskTable.append(masks);
    EXPECT_TRUE(send(message("\"enable_rectangular_masks_monitor\"")));
    EXPECT_TRUE(state.masksMonitor);
    std::string text = "[\"rectangular_masks\",[[{\"x1\":0.5,\"y1\":1,\"x2\":2,\"y2\":3}],null]]";
    std::vector<uint8_t> expected = liveFeatMessageBytes(LuStr(text));
    EXPECT_EQ(connection.takeWritten(), std::string(expected.begin(), expected.end()))
        << "the current masks at once, for the client's cameras 2 and 0";

    EXPECT_TRUE(send(message("[\"camera\",1,[\"change_setting\",\"gain\",2]]")));
    EXPECT_EQ(config.settingChanges, (std::vector<std::pair<int, std::string>>{{0, "gain"}}));
    // The realtime monitors do not exist here.
    EXPECT_TRUE(send(message("\"enable_frame_rate_monitor\"") + message("[1,")));
    EXPECT_EQ(diagnostics.text(), "unknown message: \"enable_frame_rate_monitor\"\nunknown message: [1,\n");
    EXPECT_EQ(connection.takeWritten(), "");
}

// A command cut anywhere, its letter included, waits whole for its last byte and holds nobody.
TEST_F(LiveFeatInput, PartialCommandsWaitForTheirLastByte) {
    std::string script = bytes({'c', 0, 1, 't', 0, 0, 0, 9, 'i', 1}) + message("\"enable_frame_rate_monitor\"");
    std::vector<std::string> whole{"select 1", "threshold 0 9", "images on", "message \"enable_frame_rate_monitor\""};
    int total = 0;
    for (char byte : script) {
        ASSERT_TRUE(decode(std::string(1, byte)));
        total += commands;
    }
    EXPECT_EQ(total, 4);
    EXPECT_EQ(recorder.calls, whole);
    EXPECT_EQ(connection.socket.input().bufferedBytes(), 0u);
}

TEST_F(LiveFeatInput, UnknownBytesAndCommandsCutShortByTheClientEndTheSession) {
    EXPECT_FALSE(decode(bytes({'c', 0, 1, 'x', 'c', 0, 0})));
    EXPECT_EQ(recorder.calls, std::vector<std::string>{"select 1"}) << "nothing after the bad byte is read";

    // The client closes one byte into a position: the session ends, no position -1 is used.
    realtime_test::Connection closing;
    closing.send(bytes({'c', 0}));
    closing.peerCloses();
    RecordingInput calls;
    EXPECT_FALSE(readLiveFeatCommands(closing.socket, calls));
    EXPECT_TRUE(calls.calls.empty());

    realtime_test::Connection quiet;
    quiet.peerCloses();
    EXPECT_FALSE(readLiveFeatCommands(quiet.socket, calls)) << "a closed connection ends the session";
}

TEST_F(LiveFeatInput, MessageLengthsAreBoundedBeforeTheirBytesArrive) {
    // At the limit the message waits for its bytes; one past it fails at once.
    EXPECT_TRUE(decode(bytes({'m', 0x00, 0x10, 0x00, 0x00, '"'})));
    EXPECT_EQ(commands, 0);
    realtime_test::Connection big;
    big.send(bytes({'m', 0x00, 0x10, 0x00, 0x01}));
    EXPECT_FALSE(readLiveFeatCommands(big.socket, recorder));
    EXPECT_LT(big.socket.input().capacityBytes(), 4096u) << "nothing is reserved for the announced length";
    realtime_test::Connection negative;
    negative.send(bytes({'m', 0x80, 0, 0, 0}));
    EXPECT_FALSE(readLiveFeatCommands(negative.socket, recorder));
    EXPECT_TRUE(recorder.calls.empty());
}
