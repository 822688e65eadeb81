#include "tools/client/livefeat_client.h"

#include <gtest/gtest.h>

#include "tools/client/scripted_server_test_support.h"

namespace fyclient {
namespace {

TEST(LiveFeatSession, CommandsFramesAndMessages) {
    std::string commands;
    ScriptedServer server([&](int fd) {
        commands = readBytes(fd, 1 + 3 + 2 + 2 + 5 + 3 + 5 + 3);
        // A frame with timecode and a 3 x 1 image, then one without a header, then a message.
        writeBytes(fd, {0xFF, 0xFF, 10, 't', 1, 2, 3, 4, 'i', 0, 3, 0, 1, 7, 8, 9, 0, 1, 0, 10, 0, 20, 0, 30});
        writeBytes(fd, {0, 0});
        writeBytes(fd, {0xFF, 0xFF, 1, 'm', 0, 0, 0, 2, '[', ']'});
        readBytes(fd, 1);
    });
    Connection connection(server.endpoint());
    LiveFeatSession session(connection);
    session.open();
    session.selectCamera(1);
    session.setImages(true);
    session.acknowledgeImage();
    session.sendThreshold(0, 300);
    session.deselectCamera();
    session.sendMessage("\"a\"");

    std::optional<LiveFeatItem> item = session.next(2000);
    ASSERT_TRUE(item);
    ASSERT_FALSE(item->isMessage);
    EXPECT_EQ(item->wireBytes, 24u);
    ASSERT_TRUE(item->frame.timecode);
    EXPECT_EQ(*item->frame.timecode, (std::array<uint8_t, 4>{1, 2, 3, 4}));
    ASSERT_TRUE(item->frame.image);
    EXPECT_EQ(item->frame.image->width, 3);
    EXPECT_EQ(item->frame.image->height, 1);
    EXPECT_EQ(item->frame.image->pixels, (std::vector<uint8_t>{7, 8, 9}));
    ASSERT_EQ(item->frame.segments.size(), 1u);
    EXPECT_EQ(item->frame.segments[0].value1, 10);
    EXPECT_EQ(item->frame.segments[0].value3, 30);

    item = session.next(2000);
    ASSERT_TRUE(item);
    EXPECT_FALSE(item->frame.timecode || item->frame.image);
    EXPECT_TRUE(item->frame.segments.empty());

    item = session.next(2000);
    ASSERT_TRUE(item);
    ASSERT_TRUE(item->isMessage);
    EXPECT_EQ(item->message, "[]");
    EXPECT_FALSE(session.next(50)) << "nothing more came";

    EXPECT_EQ(commands, std::string("fc\x00\x01i\x01i\x02t\x00\x00\x01\x2c" "c\xff\xffm\x00\x00\x00\x03\"a\"", 24));
}

TEST(LiveFeatSession, MalformedHeadersAreReported) {
    const std::vector<std::pair<std::vector<uint8_t>, std::string>> cases{
        {{0xFF, 0xFF, 0}, "Invalid frame header."},
        {{0xFF, 0xFF, 3, 't', 1, 2}, "Corrupt frame header."},
        {{0xFF, 0xFF, 8, 't', 1, 2, 3, 4, 'i', 0, 1}, "Corrupt frame header."},
        {{0xFF, 0xFF, 2, 'x', 0}, "Corrupt frame header."},
        {{0xFF, 0xFF, 6, 't', 1, 2, 3, 4, 'm'}, "Corrupt frame header."},
        {{0xFF, 0xFF, 5, 't', 1, 2, 3, 4, 0xFF, 0xFF}, "a frame header followed by another header"},
    };
    for (const auto& entry : cases) {
        const std::string& error = entry.second;
        ScriptedServer server([&](int fd) {
            writeBytes(fd, entry.first);
            readBytes(fd, 1);
        });
        Connection connection(server.endpoint());
        LiveFeatSession session(connection);
        try {
            session.next(2000);
            ADD_FAILURE() << "no error for " << error;
        } catch (const ClientError& e) {
            EXPECT_EQ(std::string(e.what()), error);
        }
    }
}

}  // namespace
}  // namespace fyclient
