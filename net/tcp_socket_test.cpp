#include "net/tcp_socket.h"

#include <gtest/gtest.h>

#include "net/test_sockets.h"
#include "toolkit/error_list.h"

namespace {

LuStr newestError() {
    const LuErrorEntry* entry = LuExceptionHandler::processWide().newest();
    return entry ? entry->message() : LuStr();
}

class TcpSocketTest : public ::testing::Test {
protected:
    void SetUp() override { LuExceptionHandler::processWide().clear(); }
    void TearDown() override { LuExceptionHandler::processWide().clear(); }
};

}  // namespace

// A restarted server must get its port back while the previous run's connections linger.
TEST_F(TcpSocketTest, RebindsAPortInTimeWait) {
    uint16_t port = 0;
    {
        LuTcpSocket listener;
        ASSERT_TRUE(listener.create() && listener.bind(0) && listener.listen());
        port = LuSocketGetSockPort(listener.descriptor());
        int client = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        int accepted = -1;
        ASSERT_TRUE(listener.accept(accepted));
        ::close(accepted);  // the server end closes first and so goes into TIME_WAIT
        char byte;
        EXPECT_EQ(::read(client, &byte, 1), 0);
        ::close(client);
    }
    // Without SO_REUSEADDR the port is still taken: the case is real.
    int plain = ::socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(LuSocketBind(plain, port), -1);
    ::close(plain);

    LuTcpSocket again;
    EXPECT_TRUE(again.create());
    EXPECT_TRUE(again.bind(port));
    EXPECT_TRUE(again.listen());
    EXPECT_TRUE(LuExceptionHandler::processWide().isEmpty());
}

TEST_F(TcpSocketTest, FailuresGoToTheErrorListWithTheirReasons) {
    LuTcpSocket first, second;
    ASSERT_TRUE(first.create() && first.bind(0) && first.listen());
    ASSERT_TRUE(second.create());
    EXPECT_FALSE(second.bind(LuSocketGetSockPort(first.descriptor())));
    EXPECT_EQ(newestError(), "Error binding socket: Address already in use");

    int accepted = 7;
    EXPECT_FALSE(second.accept(accepted));
    EXPECT_EQ(accepted, -1);
    EXPECT_EQ(newestError(), "Error accepting connection on socket: Invalid argument");

    LuTcpSocket invalid;
    EXPECT_FALSE(invalid.listen());
    const LuErrorEntry* newest = LuExceptionHandler::processWide().newest();
    ASSERT_TRUE(newest && newest->next());
    EXPECT_EQ(newest->message(), "Error listening on socket: Bad file descriptor");
    EXPECT_EQ(newest->next()->message(), "Could not listen on invalid socket");

    EXPECT_FALSE(invalid.setNonBlocking(true));
    EXPECT_EQ(newestError(), "Error getting socket options: Bad file descriptor");
    EXPECT_EQ(first.localName(), "0.0.0.0");
    EXPECT_FALSE(invalid.close());
    EXPECT_EQ(newestError(), "Error closing socket: Bad file descriptor");
    EXPECT_TRUE(invalid.peerName().isNull());
}
