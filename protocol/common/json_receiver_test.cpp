#include "protocol/common/json_receiver.h"

#include <gtest/gtest.h>

#include <string>

#include "protocol/realtime/realtime_protocol_test_fakes.h"

using RyStoreProtocol::JSonReceiver;
using realtime_test::bytes;

namespace {

class Receiving : public ::testing::Test {
protected:
    realtime_test::Connection connection;
    JSonReceiver receiver{connection.socket};

    void feed(const std::string& data) {
        connection.send(data);
        receiver.process();
    }
    // Reads one whole item from a fresh start; true when it ended with a text.
    bool readWhole(const std::string& data) {
        receiver.reset();
        feed(data);
        EXPECT_TRUE(receiver.isDone());
        return !receiver.message().isNull();
    }
};

}  // namespace

TEST_F(Receiving, ATextThatArrivesInPieces) {
    EXPECT_FALSE(receiver.isAlive()) << "idle until reset";
    receiver.reset(true);
    feed(bytes({0, 0}));
    feed(bytes({0, 6, '[', '"', 'o'}));
    EXPECT_FALSE(receiver.isDone());
    feed("k\"]X");
    ASSERT_TRUE(receiver.isDone());
    EXPECT_EQ(receiver.message(), "[\"ok\"]");
    EXPECT_EQ(connection.socket.input().unreadBytes(), 1u) << "bytes after the text stay for the caller";
}

TEST_F(Receiving, LengthLimits) {
    EXPECT_TRUE(readWhole(bytes({0, 0, 0, 0})));
    EXPECT_EQ(receiver.message().length(), 0) << "the empty text is a text";
    EXPECT_FALSE(readWhole(bytes({0x80, 0, 0, 0}))) << "2^31 is no length";
    EXPECT_FALSE(readWhole(bytes({0, 0x10, 0, 1}))) << "1 MiB + 1 is refused before the text arrives";
    EXPECT_TRUE(readWhole(bytes({0, 0x10, 0, 0}) + std::string(1048576, 'a')));
}

TEST_F(Receiving, APeerThatClosesMidItemGivesNoText) {
    receiver.reset();
    feed(bytes({0, 0, 0, 3, 'a', 'b'}));
    EXPECT_FALSE(receiver.isDone());
    connection.peerCloses();
    receiver.process();
    ASSERT_TRUE(receiver.isDone());
    EXPECT_TRUE(receiver.message().isNull());
}
