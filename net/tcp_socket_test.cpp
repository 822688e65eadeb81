#include "net/tcp_socket.h"

#include <gtest/gtest.h>

#include "net/network_address.h"
#include "net/test_sockets.h"
#include "toolkit/diagnostics.h"

// A restarted server must get its port back while the previous run's connections linger.
TEST(TcpSocketTest, RebindsAPortInTimeWait) {
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
    LuStatus plainBind = LuSocketBind(plain, port);
    EXPECT_FALSE(plainBind.ok());
    EXPECT_EQ(plainBind.error(), EADDRINUSE);
    ::close(plain);

    LuTcpSocket again;
    LuStatus created = again.create(), bound = again.bind(port), listening = again.listen();
    EXPECT_TRUE(created.ok()) << created.message();
    EXPECT_TRUE(bound.ok()) << bound.message();
    EXPECT_TRUE(listening.ok()) << listening.message();
}

// Each failure is worded as the host is told of it, with the system's reason, and none of them
// writes anything to standard error.
TEST(TcpSocketTest, FailuresComeBackWithTheirReasons) {
    fy::DiagnosticCapture diagnostics;
    LuTcpSocket first, second;
    ASSERT_TRUE(first.create() && first.bind(0) && first.listen());
    ASSERT_TRUE(second.create());
    LuStatus busy = second.bind(LuSocketGetSockPort(first.descriptor()));
    EXPECT_FALSE(busy.ok());
    EXPECT_EQ(busy.message(), "Error binding socket: Address already in use");
    LuNetworkAddress loopback;
    ASSERT_TRUE(LuNetworkAddress::parse("127.0.0.1", loopback));
    EXPECT_EQ(second.bind(loopback, LuSocketGetSockPort(first.descriptor())).message(),
              "Error binding socket: Address already in use");

    int accepted = 7;
    EXPECT_EQ(second.accept(accepted).message(), "Error accepting connection on socket: Invalid argument");
    EXPECT_EQ(accepted, -1);

    LuTcpSocket invalid;
    EXPECT_EQ(invalid.listen().message(), "Error listening on socket: Bad file descriptor");
    EXPECT_EQ(invalid.setNonBlocking(true).message(), "Error getting socket options: Bad file descriptor");
    bool nonBlocking = true;
    EXPECT_EQ(invalid.isNonBlocking(nonBlocking).message(), "Error getting socket options: Bad file descriptor");
    EXPECT_TRUE(nonBlocking);  // a failure is not an answer
    EXPECT_EQ(first.localName(), "0.0.0.0");
    EXPECT_EQ(invalid.close().message(), "Error closing socket: Bad file descriptor");
    EXPECT_FALSE(invalid.isValid());
    EXPECT_TRUE(invalid.closeIfValid().ok());
    EXPECT_TRUE(invalid.peerName().isNull());
    EXPECT_EQ(diagnostics.text(), "");
}

TEST(TcpSocketTest, NonBlockingModeIsSetAndReadBack) {
    LuTcpSocket listener;
    ASSERT_TRUE(listener.create());
    bool nonBlocking = true;
    ASSERT_TRUE(listener.isNonBlocking(nonBlocking));
    EXPECT_FALSE(nonBlocking);
    ASSERT_TRUE(listener.setNonBlocking(true));
    ASSERT_TRUE(listener.isNonBlocking(nonBlocking));
    EXPECT_TRUE(nonBlocking);
    EXPECT_TRUE(listener.close().ok());
    EXPECT_EQ(listener.descriptor(), -1);
}
