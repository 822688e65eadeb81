#include "net/non_blocking_socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "net/system_socket.h"
#include "net/test_sockets.h"

using net_test::FakeClock;
using net_test::FakeSocket;
using net_test::LoopbackPair;

TEST(NonBlockingSocket, ReadsTheBufferAndLeavesTheInnerSocketToTheHandler) {
    FakeSocket inner;
    FakeClock clock;
    NonBlockingSocket socket(inner, clock);
    inner.incoming = "hello";
    char out[8];
    EXPECT_FALSE(socket.hasInput());
    EXPECT_EQ(socket.read(out, sizeof out), 0);
    EXPECT_EQ(inner.readCalls, 0);

    EXPECT_EQ(socket.drainInput(), 5u);
    EXPECT_TRUE(socket.hasInput());
    EXPECT_EQ(socket.read(out, 3), 3);
    EXPECT_EQ(std::string(out, 3), "hel");
    inner.peerClosed = true;
    socket.drainInput();
    EXPECT_EQ(socket.read(out, sizeof out), 2);
    EXPECT_TRUE(socket.hasInput());
    EXPECT_EQ(socket.read(out, sizeof out), -1);

    FakeSocket other;
    NonBlockingSocket polling(other, clock, true);  // drains its inner socket itself
    other.incoming = "xy";
    EXPECT_EQ(polling.read(out, sizeof out), 2);
}

TEST(NonBlockingSocket, HasInputFlushesAndAStalledClientEndsAsAFailedRead) {
    FakeSocket inner;
    FakeClock clock;
    NonBlockingSocket socket(inner, clock);
    inner.room = 2;
    EXPECT_EQ(socket.write("abcd", 4), 4);
    inner.room = 1;
    EXPECT_FALSE(socket.hasInput());
    EXPECT_EQ(inner.taken, "abc");

    inner.incoming = "q";  // arrived but not yet drained by the handler
    socket.hasInput();       // the stall starts
    clock.time = 10.5;
    socket.abort();  // protocols cannot abort; only the writer does
    EXPECT_EQ(inner.abortCalls, 0);
    EXPECT_TRUE(socket.hasInput());
    EXPECT_EQ(inner.abortCalls, 1);
    EXPECT_TRUE(socket.outputFailed());
    char out[4];
    EXPECT_EQ(socket.read(out, sizeof out), -1);
    EXPECT_EQ(socket.write("e", 1), -1);
    EXPECT_EQ(socket.getPeerName(), "10.0.0.7");
    EXPECT_EQ(socket.getSockPort(), 4000);
}

// Over a real connection a large write returns at once and the bytes arrive complete and in
// order while the session keeps polling.
TEST(NonBlockingSocket, NeverBlocksOnARealConnection) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.ok());
    RySystemSocket connection(pair.releaseServer());
    connection.setNonBlocking(true);
    RyStoreProtocol::RealClock clock;
    NonBlockingSocket socket(connection, clock);
    std::string sent;
    for (int i = 0; i < (8 << 20); ++i) sent.push_back(static_cast<char>(i % 251));
    EXPECT_EQ(socket.write(sent.data(), sent.size()), static_cast<int>(sent.size()));
    EXPECT_GT(socket.writer().pendingBytes(), 0u);

    ASSERT_TRUE(LuSocketSetNonBlocking(pair.client, true));
    std::string received;
    std::vector<char> buffer(1 << 16);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (received.size() < sent.size() && std::chrono::steady_clock::now() < deadline) {
        socket.hasInput();
        ssize_t n = ::read(pair.client, buffer.data(), buffer.size());
        if (n > 0) received.append(buffer.data(), static_cast<size_t>(n));
    }
    EXPECT_TRUE(received == sent);
    EXPECT_EQ(socket.writer().pendingBytes(), 0u);
    socket.close();
    EXPECT_FALSE(connection.isOpen());
}
