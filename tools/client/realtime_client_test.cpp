#include "tools/client/realtime_client.h"

#include <gtest/gtest.h>

#include <bit>

#include "tools/client/scripted_server.h"

namespace fyclient {
namespace {

std::vector<uint8_t> fullCentroid(float x, float y) {
    std::vector<uint8_t> out;
    appendU32(out, std::bit_cast<uint32_t>(x));
    appendU32(out, std::bit_cast<uint32_t>(y));
    appendU16(out, 1);
    return out;
}

TEST(RealtimeSession, HandshakeWithTimecodesAndCompactCentroids) {
    std::string opening, answer, go;
    ScriptedServer server([&](int fd) {
        opening = readBytes(fd, 4);
        writeBytes(fd, {'t'});
        answer = readBytes(fd, 1);
        writeBytes(fd, {'r'});
        go = readBytes(fd, 1);
        // timecode, camera 0 with the centroid (10.0, 20.5), camera 1 empty
        writeBytes(fd, {'t', 1, 2, 3, 4, 0x00, 0x01, 0x05, 0x00, 0x0A, 0x40, 0x00, 0x00});
        readBytes(fd, 1);   // hold the connection until the client closes
    });
    Connection connection(server.endpoint());
    RealtimeOptions options;
    options.compact = true;
    options.timecodes = true;
    RealtimeSession session(connection, 2, options);
    session.open();
    EXPECT_FALSE(session.streaming());
    std::optional<RealtimeItem> item = session.next(2000);
    ASSERT_TRUE(item);
    EXPECT_TRUE(session.streaming());
    ASSERT_FALSE(item->isMessage);
    ASSERT_TRUE(item->frame.timecode);
    EXPECT_EQ(*item->frame.timecode, (std::array<uint8_t, 4>{1, 2, 3, 4}));
    ASSERT_EQ(item->frame.cameras.size(), 2u);
    ASSERT_EQ(item->frame.cameras[0].size(), 1u);
    EXPECT_EQ(item->frame.cameras[0][0].x, 10.0f);
    EXPECT_EQ(item->frame.cameras[0][0].y, 20.5f);
    EXPECT_TRUE(item->frame.cameras[1].empty());
    EXPECT_EQ(opening, "Rft1");
    EXPECT_EQ(answer, "1");
    EXPECT_EQ(go, "g");
}

std::vector<uint8_t> tagged(char tag, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> out{static_cast<uint8_t>(tag)};
    appendU32(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::vector<uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

TEST(RealtimeSession, TaggedStreamWithoutHandshakeCarriesMessagesAndFrames) {
    std::string opening, commands;
    ScriptedServer server([&](int fd) {
        opening = readBytes(fd, 2);
        writeBytes(fd, tagged('m', bytesOf(R"(["x"])")));
        std::vector<uint8_t> body{0x00, 0x01};
        std::vector<uint8_t> centroid = fullCentroid(1.5f, 2.5f);
        body.insert(body.end(), centroid.begin(), centroid.end());
        writeBytes(fd, tagged('f', body));
        commands = readBytes(fd, 5 + 1 + 4 + 5);
    });
    {
        Connection connection(server.endpoint());
        RealtimeOptions options;
        options.handshake = false;
        options.tagged = true;
        RealtimeSession session(connection, 1, options);
        session.open();
        EXPECT_TRUE(session.streaming());
        std::optional<RealtimeItem> message = session.next(2000);
        ASSERT_TRUE(message);
        ASSERT_TRUE(message->isMessage);
        EXPECT_EQ(message->message, R"(["x"])");
        std::optional<RealtimeItem> frame = session.next(2000);
        ASSERT_TRUE(frame);
        ASSERT_FALSE(frame->isMessage);
        ASSERT_EQ(frame->frame.cameras.size(), 1u);
        EXPECT_EQ(frame->frame.cameras[0][0].x, 1.5f);
        EXPECT_EQ(frame->frame.cameras[0][0].y, 2.5f);
        EXPECT_EQ(frame->frame.cameras[0][0].flags, 1);
        session.sendThreshold(1, 255);
        session.sendMessage(R"("a")");
    }
    server.join();
    EXPECT_EQ(opening, "R1");
    EXPECT_EQ(commands, std::string("t\x00\x01\x00\xff", 5) + std::string("m\x00\x00\x00\x03\"a\"", 8));
}

TEST(RealtimeSession, UntaggedStreamTellsMonitorMessagesFromFrames) {
    ScriptedServer server([&](int fd) {
        readBytes(fd, 2);
        // A frame of one camera without centroids, a monitor message, another frame.
        std::vector<uint8_t> stream{0x00, 0x00};
        std::vector<uint8_t> message = tagged('m', bytesOf(R"(["frame_rate",100])"));
        stream.insert(stream.end(), message.begin(), message.end());
        stream.insert(stream.end(), {0x00, 0x01});
        std::vector<uint8_t> centroid = fullCentroid(300, 200);
        stream.insert(stream.end(), centroid.begin(), centroid.end());
        writeBytes(fd, stream);
        readBytes(fd, 1);
    });
    Connection connection(server.endpoint());
    RealtimeOptions options;
    options.handshake = false;
    RealtimeSession session(connection, 1, options);
    session.open();
    auto first = session.next(2000);
    auto second = session.next(2000);
    auto third = session.next(2000);
    ASSERT_TRUE(first && second && third);
    EXPECT_FALSE(first->isMessage);
    EXPECT_TRUE(first->frame.cameras[0].empty());
    EXPECT_TRUE(second->isMessage);
    EXPECT_EQ(second->message, R"(["frame_rate",100])");
    ASSERT_EQ(third->frame.cameras[0].size(), 1u);
    EXPECT_EQ(third->frame.cameras[0][0].x, 300.0f);
}

TEST(RealtimeSession, ReportsBrokenStreams) {
    struct Case {
        const char* name;
        RealtimeOptions options;
        std::vector<uint8_t> sent;
        const char* error;
    };
    RealtimeOptions tagged;
    tagged.handshake = false;
    tagged.tagged = true;
    RealtimeOptions handshake;
    RealtimeOptions plain;
    plain.handshake = false;
    std::vector<Case> cases = {
        {"unknown tag", tagged, {'x'}, "Unknown character 'x'"},
        {"no timecode query", handshake, {'r'}, "expected the timecode query"},
        {"frame cut off", plain, {0x00, 0x02, 0x00}, "the server closed the connection"},
        {"too many centroids", plain, {0x07, 0xD1}, "2001 centroids"},
        {"frame longer than its glob lists", tagged, {'f', 0, 0, 0, 3, 0, 0, 9}, "bytes too many"},
    };
    for (const Case& c : cases) {
        ScriptedServer server([&](int fd) {
            readBytes(fd, c.options.handshake ? 3 : 2);
            writeBytes(fd, c.sent);
        });
        Connection connection(server.endpoint());
        RealtimeSession session(connection, 1, c.options);
        try {
            session.open();
            for (int i = 0; i < 3; ++i) session.next(2000);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const ClientError& error) {
            EXPECT_NE(std::string(error.what()).find(c.error), std::string::npos) << c.name << ": " << error.what();
        }
    }
}

TEST(RealtimeSession, NextReturnsNothingWhenTheServerIsQuiet) {
    ScriptedServer server([&](int fd) { readBytes(fd, 3); });
    Connection connection(server.endpoint());
    RealtimeOptions options;
    options.handshake = false;
    RealtimeSession session(connection, 1, options);
    session.open();
    EXPECT_FALSE(session.next(30));
    connection.sendByte('x');   // lets the script end
}

TEST(FrameBody, DecodesEveryForm) {
    // Compact centroid (10.0, 20.5) is 05 00 0A 40.
    std::vector<uint8_t> compact{0x00, 0x01, 0x05, 0x00, 0x0A, 0x40};
    RealtimeFrame frame = parseFrameBody(compact.data(), compact.size(), true, false, -1);
    ASSERT_EQ(frame.cameras.size(), 1u);
    EXPECT_EQ(frame.cameras[0][0].x, 10.0f);
    EXPECT_EQ(frame.cameras[0][0].y, 20.5f);
    // With a count the body must hold exactly that many lists.
    std::vector<uint8_t> two{'t', 9, 8, 7, 6, 0x00, 0x00, 0x00, 0x00};
    frame = parseFrameBody(two.data(), two.size(), false, true, 2);
    EXPECT_EQ(frame.cameras.size(), 2u);
    EXPECT_EQ((*frame.timecode)[0], 9);
    EXPECT_THROW(parseFrameBody(two.data(), two.size(), false, true, 1), ClientError);
    EXPECT_THROW(parseFrameBody(two.data(), two.size(), false, true, 3), ClientError);
    EXPECT_THROW(parseFrameBody(two.data() + 1, two.size() - 1, false, true, 2), ClientError);
    EXPECT_EQ(fromFixedPoint(0xFFFF), 65535.0f / 128.0f);
}

}  // namespace
}  // namespace fyclient
