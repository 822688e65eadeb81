#include "frameyard/client/streams.h"

#include <gtest/gtest.h>

#include <string>

#include "scripted_server_test_support.h"

namespace frameyard {
namespace {

// Reads one command exchange ('C', u32 length, text) and answers "ok"; returns the text.
std::string answerCommand(int fd) {
    std::string head = readBytes(fd, 5);
    if (head.size() < 5) return "";
    size_t length = (size_t(uint8_t(head[1])) << 24) | (size_t(uint8_t(head[2])) << 16) |
                    (size_t(uint8_t(head[3])) << 8) | size_t(uint8_t(head[4]));
    std::string text = readBytes(fd, length);
    writeBytes(fd, {0, 0, 0, 4, '"', 'o', 'k', '"'});
    return text;
}

TEST(RealtimeStream, HandshakeWithTimecodesAndCompactCentroids) {
    std::string chosen, opening, answer, go;
    ScriptedServer server([&](int fd) {
        chosen = answerCommand(fd);
        opening = readBytes(fd, 4);
        writeBytes(fd, {'t'});
        answer = readBytes(fd, 1);
        writeBytes(fd, {'r'});
        go = readBytes(fd, 1);
        // timecode, camera 0 with the centroid (10.0, 20.5), camera 1 empty
        writeBytes(fd, {'t', 1, 2, 3, 4, 0x00, 0x01, 0x05, 0x00, 0x0A, 0x40, 0x00, 0x00});
        readBytes(fd, 1);   // hold the connection until the client closes
    });
    RealtimeOptions options;
    options.cameras = {"a", "b"};
    options.compact = true;
    options.timecodes = true;
    RealtimeStream stream(server.endpoint(), options);
    Frame frame;
    std::string message;
    ASSERT_EQ(stream.next(frame, message, 2000), Got::frame);
    ASSERT_TRUE(frame.timecode);
    EXPECT_EQ(*frame.timecode, (Timecode{1, 2, 3, 4}));
    ASSERT_EQ(frame.cameraCount(), 2u);
    EXPECT_EQ(frame.camera(0)[0].y, 20.5f);
    EXPECT_EQ(chosen, R"(["want_cameras",["a","b"]])");
    EXPECT_EQ(opening, "Rft1");
    EXPECT_EQ(answer, "1");
    EXPECT_EQ(go, "g");
}

// Without the handshake the stream runs at once: commands go out before anything arrives.
TEST(RealtimeStream, WithoutHandshakeTakesCommandsAtOnce) {
    std::string enabled, opening, commands;
    ScriptedServer server([&](int fd) {
        answerCommand(fd);
        enabled = answerCommand(fd);
        opening = readBytes(fd, 2);
        commands = readBytes(fd, 39 + 5 + 8);
        writeBytes(fd, {'m', 0, 0, 0, 5, '[', '"', 'x', '"', ']'});
        readBytes(fd, 1);
    });
    RealtimeOptions options;
    options.cameras = {"a", "b"};
    options.handshake = false;
    options.messages = true;
    options.monitors = {Monitor::rectangularMasks};
    RealtimeStream stream(server.endpoint(), options);
    stream.setThreshold("b", 255);
    stream.send(R"("a")");
    EXPECT_THROW(stream.setThreshold("c", 1), Error);
    Frame frame;
    std::string message;
    ASSERT_EQ(stream.next(frame, message, 2000), Got::message);
    EXPECT_EQ(message, R"(["x"])");
    EXPECT_EQ(stream.next(frame, message, 30), Got::nothing) << "nothing more came";
    EXPECT_EQ(enabled, R"("enable_realtime_messages")");
    EXPECT_EQ(opening, "R1");
    EXPECT_EQ(commands, std::string("m\x00\x00\x00\x22\"enable_rectangular_masks_monitor\"", 39) +
                            std::string("t\x00\x01\x00\xff", 5) + std::string("m\x00\x00\x00\x03\"a\"", 8));
}

}  // namespace
}  // namespace frameyard
