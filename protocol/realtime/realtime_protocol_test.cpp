#include "protocol/realtime/realtime_protocol.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "protocol/frames/frame_format.h"
#include "protocol/realtime/realtime_protocol_test_fakes.h"
#include "protocol/messages/status_messages.h"
#include "toolkit/diagnostics.h"

using namespace RyStoreProtocol;
using realtime_test::bytes;

namespace {

class RecordingHandler : public RealtimeProtocol::MessageHandlerInterface {
public:
    std::vector<LuStr> messages;
    void handleMessage(const LuStr& message) override { messages.push_back(message); }
};

std::string message(const std::string& text) { return bytes({'m', 0, 0, 0, uint8_t(text.size())}) + text; }

class RealtimeSession : public ::testing::Test {
protected:
    RealtimeSession() {
        cameras.append(2);
        cameras.append(0);
        frame.add(2, 10.0f, 20.5f);
    }

    void start(bool messagesEnabled = false) {
        protocol = std::make_unique<RealtimeProtocol>(connection.socket, config, cameras, messagesEnabled, &handler);
    }
    void send(const std::string& data) {
        connection.send(data);
        protocol->process();
    }
    // Opens with the timecode query and runs the handshake up to the client's 'g'.
    void handshake(const std::string& opening, char timecodeReply) {
        start();
        send(opening);
        ASSERT_EQ(connection.takeWritten(), "t");
        send(std::string(1, timecodeReply));
        ASSERT_TRUE(protocol->isWaitingForFirstFrame());
        EXPECT_TRUE(sendFrame());
        protocol->sendReady();
        ASSERT_TRUE(protocol->isWaitingForGo());
        EXPECT_TRUE(sendFrame());
        protocol->sendReady();
        ASSERT_EQ(connection.takeWritten(), "r") << "'r' once, in place of the frames before 'g'";
        send("g");
        ASSERT_TRUE(protocol->isReady());
    }
    bool sendFrame() {
        ClientGlobs view(frame, cameras);
        ClientMaskInfo maskView(frame, cameras);
        return protocol->sendGlobs(view, Timecode{7, 8, 9, 10}, maskView);
    }

    realtime_test::Connection connection;
    realtime_test::RecordingConfig config;
    realtime_test::ScriptedFrame frame{3};
    LuDArray<int> cameras;
    RecordingHandler handler;
    fy::DiagnosticCapture diagnostics;
    std::unique_ptr<RealtimeProtocol> protocol;
};

}  // namespace

TEST_F(RealtimeSession, OpeningVariants) {
    start();
    send("1");
    EXPECT_TRUE(protocol->isReady());
    EXPECT_FALSE(protocol->compactCentroids() || protocol->sendsTimecodes());
    EXPECT_EQ(connection.inner.noDelayCalls, 1);
    EXPECT_TRUE(sendFrame());
    EXPECT_EQ(connection.takeWritten(), bytes({0, 1, 0x41, 0x20, 0, 0, 0x41, 0xA4, 0, 0, 0, 1, 0, 0}))
        << "no reply to the opening, then the full form without timecode";

    handshake("ft1", '1');
    EXPECT_TRUE(protocol->compactCentroids() && protocol->sendsTimecodes());
    EXPECT_TRUE(sendFrame());
    EXPECT_EQ(connection.takeWritten(), bytes({'t', 7, 8, 9, 10, 0, 1, 0x05, 0x00, 0x0A, 0x40, 0, 0}));

    handshake("t1", '0');
    EXPECT_FALSE(protocol->sendsTimecodes()) << "only '1' asks for timecodes";
    handshake("tf", '1');
    EXPECT_FALSE(protocol->compactCentroids()) << "after 't', 'f' is only the final option byte";
}

TEST_F(RealtimeSession, AnOpeningInPiecesWaitsAndOneCutShortEndsWithoutClosing) {
    start();
    send("f");
    send("t");
    EXPECT_STREQ(protocol->stateName(), "initial");
    EXPECT_EQ(connection.takeWritten(), "");
    send("x");
    EXPECT_STREQ(protocol->stateName(), "stage2");
    EXPECT_EQ(connection.takeWritten(), "t");

    realtime_test::Connection second;
    RealtimeProtocol cut(second.socket, config, cameras, false, nullptr);
    second.send("f");
    second.peerCloses();
    cut.process();
    EXPECT_FALSE(cut.isAlive());
    EXPECT_EQ(second.inner.closeCalls, 0) << "the session drains the connection itself";

    // After 't' a missing final byte is no failure; the query then finds the client gone.
    realtime_test::Connection third;
    RealtimeProtocol gone(third.socket, config, cameras, false, nullptr);
    third.send("t");
    third.peerCloses();
    gone.process();
    EXPECT_EQ(third.takeWritten(), "t");
    EXPECT_FALSE(gone.isAlive());
}

TEST_F(RealtimeSession, InputDuringTheHandshakeIsDiscarded) {
    start();
    send("t1");
    send("1");
    send(bytes({'t', 0, 0, 0, 9}));  // before 'r': not a command
    protocol->sendReady();
    send("x");
    EXPECT_EQ(diagnostics.text(), "Expecting 'g', got 'x'\n");
    send(bytes({'g', 't', 0, 0, 0, 5}));  // after a wrong reply everything is drained
    EXPECT_TRUE(config.thresholdChanges.empty());
    EXPECT_TRUE(sendFrame());
    EXPECT_EQ(connection.takeWritten(), "tr");
    connection.peerCloses();
    protocol->process();
    EXPECT_FALSE(protocol->isAlive());
    EXPECT_EQ(connection.inner.closeCalls, 0);
}

TEST_F(RealtimeSession, ThresholdCommands) {
    start();
    send(bytes({'1', 't', 0, 0, 0, 255}));
    EXPECT_EQ(config.thresholdChanges, (std::vector<std::pair<int, int>>{{2, 255}})) << "position 0 is host camera 2";
    send(bytes({'t', 0, 1, 1, 0}));
    send(bytes({'t', 0, 2, 0, 5}));
    connection.send("x");
    protocol->process();
    EXPECT_EQ(diagnostics.text(),
              "changing camera 3 threshold to 255\nInvalid threshold\nInvalid camera number\n"
              "  Tried to change to camera 3, but there are only 2 cameras.\nUnexpected 'x' from client\n");
    EXPECT_EQ(config.thresholdChanges.size(), 1u);

    // Split across polls; frames keep flowing while it is half read.
    send(bytes({'t', 0}));
    EXPECT_TRUE(protocol->isReady());
    send(bytes({1, 0}));
    send(bytes({40}));
    EXPECT_EQ(config.thresholdChanges.back(), std::make_pair(0, 40));
    EXPECT_EQ(connection.takeWritten(), "") << "no command gets a reply";
}

TEST_F(RealtimeSession, Messages) {
    start();
    send("1");
    send(message(""));
    ASSERT_EQ(handler.messages.size(), 1u);
    EXPECT_FALSE(handler.messages[0].isNull()) << "a length of 0 is the empty message";

    // Split across polls; no frame goes out while a message is half read.
    send(bytes({'m', 0, 0}));
    send(bytes({0, 5, 'h', 'e', 'l'}));
    EXPECT_FALSE(protocol->isReady());
    EXPECT_TRUE(sendFrame());
    EXPECT_EQ(connection.takeWritten(), "");
    send("lo");
    ASSERT_EQ(handler.messages.size(), 2u);
    EXPECT_EQ(handler.messages[1], "hello");

    send(message("[\"camera\",0,[\"change_setting\",\"gain\",2]]"));
    EXPECT_EQ(config.settingChanges, (std::vector<std::pair<int, std::string>>{{2, "gain"}}));
    EXPECT_EQ(handler.messages.size(), 2u) << "a camera message is not passed on";
}

TEST_F(RealtimeSession, MonitorRequestsSetTheFlagAndReportTheCurrentState) {
    start();
    send("1");
    config.rates[frameRateKind] = 30.0f;
    send(message("\"enable_frame_rate_monitor\""));
    EXPECT_EQ(connection.takeWritten(), message("[\"frame_rate\",30]"));
    send(message("\"enable_camera_online_states_monitor\""));
    EXPECT_EQ(connection.takeWritten(), message("[\"online_states\",[null,null]]"));
    EXPECT_TRUE(protocol->monitorEnabled(frameRateMonitor) && protocol->monitorEnabled(onlineStatesMonitor));
    EXPECT_FALSE(protocol->monitorEnabled(rectangularMasksMonitor));
    EXPECT_TRUE(handler.messages.empty());
}

TEST_F(RealtimeSession, FailuresWhileStreamingCloseTheConnection) {
    start();
    send("1");
    connection.peerCloses();
    protocol->process();
    EXPECT_FALSE(protocol->isAlive());
    EXPECT_EQ(connection.inner.closeCalls, 1);

    realtime_test::Connection second;
    RealtimeProtocol tooLong(second.socket, config, cameras, false, &handler);
    second.send(bytes({'1', 'm', 0, 0x10, 0, 1}));  // 1 MiB + 1
    tooLong.process();
    EXPECT_FALSE(tooLong.isAlive());
    EXPECT_EQ(second.inner.closeCalls, 1);
    EXPECT_TRUE(tooLong.sendMessage("[]")) << "a message for a finished session is dropped";
    EXPECT_EQ(second.takeWritten(), "");
    EXPECT_TRUE(handler.messages.empty());
}

TEST_F(RealtimeSession, AFailedFrameWriteClosesTheConnection) {
    start();
    send("1");
    connection.inner.failWrites = true;
    EXPECT_FALSE(sendFrame());
    EXPECT_FALSE(protocol->isAlive());
    EXPECT_EQ(connection.inner.closeCalls, 1);
}

TEST_F(RealtimeSession, WithMessagesEnabledEveryItemIsTagged) {
    start(true);
    EXPECT_FALSE(protocol->acceptsCameraMessages()) << "not before the opening";
    send("f1");
    EXPECT_TRUE(protocol->acceptsCameraMessages());
    EXPECT_TRUE(sendFrame());
    EXPECT_TRUE(protocol->sendMessage("[1]"));
    std::vector<uint8_t> shared = {'f', 0, 0, 0, 2, 0, 0};
    EXPECT_TRUE(protocol->sendEncodedFrame(shared.data(), shared.size()));
    EXPECT_EQ(connection.takeWritten(), bytes({'f', 0, 0, 0, 8, 0, 1, 5, 0, 0x0A, 0x40, 0, 0}) + message("[1]") +
                                            bytes({'f', 0, 0, 0, 2, 0, 0}));
}
