#include "net/system_socket.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/tcp.h>

#include <chrono>
#include <sstream>
#include <thread>
#include <vector>

#include "net/test_sockets.h"
#include "toolkit/diagnostics.h"

using net_test::LoopbackPair;

namespace {

template <class Condition>
bool soon(Condition condition) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::yield();  // the kernel's state, not ours, is awaited
    }
    return false;
}

bool descriptorOpen(int descriptor) { return ::fcntl(descriptor, F_GETFD) != -1; }

}  // namespace

TEST(SystemSocket, FullPeerWindowWritesZeroAndDisconnectReadsMinusOneSilently) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.ok());
    int small = 4096;
    ::setsockopt(pair.server, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    RySystemSocket socket(pair.releaseServer());
    socket.setNonBlocking(true);
    EXPECT_TRUE(socket.isNonBlocking());
    fy::DiagnosticCapture capture;

    std::vector<char> block(65536, 'z');
    int result = 1;
    for (int i = 0; i < 2000 && result > 0; ++i) result = socket.write(block.data(), block.size());
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(socket.writeFailed());

    // Drain what the client has, then let it go away cleanly.
    ASSERT_TRUE(LuSocketSetNonBlocking(pair.client, true));
    while (::read(pair.client, block.data(), block.size()) > 0) {
    }
    pair.closeClient();
    ASSERT_TRUE(soon([&] { return socket.hasInput(); }));
    char byte;
    EXPECT_EQ(socket.read(&byte, 1), -1);
    EXPECT_TRUE(socket.readFailed());
    EXPECT_EQ(capture.text(), "");
    socket.close();
}

TEST(SystemSocket, WriteToAVanishedPeerFailsWithoutASignal) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.ok());
    RySystemSocket socket(pair.releaseServer());
    pair.closeClient();
    fy::DiagnosticCapture capture;
    // The first send may still be taken by the kernel; the peer's reset fails a later one.
    EXPECT_TRUE(soon([&] { return socket.write("x", 1) < 0; }));
    EXPECT_TRUE(socket.writeFailed());
    EXPECT_EQ(capture.text().rfind("send: ", 0), 0u) << capture.text();
    socket.close();
}

TEST(SystemSocket, AbortResetsOnceAndLeavesADeadButClosableSocket) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.ok());
    int descriptor = pair.releaseServer();
    RySystemSocket socket(descriptor);
    EXPECT_EQ(socket.getPeerName(), "127.0.0.1");
    EXPECT_EQ(socket.getSockPort(), pair.port);
    fy::DiagnosticCapture capture;
    socket.abort();
    EXPECT_EQ(capture.text(), "Aborting socket\n");
    EXPECT_FALSE(descriptorOpen(descriptor));
    EXPECT_TRUE(socket.isOpen());  // the descriptor field stays until close()

    char byte;
    EXPECT_EQ(::recv(pair.client, &byte, 1, 0), -1);  // linger 0: the peer sees a reset
    EXPECT_EQ(errno, ECONNRESET);

    EXPECT_TRUE(socket.hasInput());
    EXPECT_EQ(socket.read(&byte, 1), -1);
    EXPECT_TRUE(socket.readFailed());
    EXPECT_EQ(socket.write("x", 1), -1);
    EXPECT_TRUE(socket.writeFailed());
    EXPECT_TRUE(socket.getPeerName().isEmpty());
    EXPECT_EQ(socket.getSockPort(), 0);

    // The number is free now and goes to the next socket; neither abort nor close may touch it.
    int newer = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::dup2(newer, descriptor), descriptor);
    ::close(newer);
    socket.abort();
    socket.close();
    EXPECT_TRUE(descriptorOpen(descriptor));
    EXPECT_FALSE(socket.isOpen());
    EXPECT_EQ(capture.text(), "Aborting socket\n");
    ::close(descriptor);
}

TEST(SystemSocket, ReportsADescriptorLeftOpenAtDestruction) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.ok());
    fy::DiagnosticCapture capture;
    std::ostringstream expected;
    {
        RySystemSocket socket(pair.server);
        expected << "Socket " << static_cast<const void*>(&socket) << " is still open!\n";
        socket.setNoDelay();
    }
    EXPECT_EQ(capture.text(), expected.str());
    EXPECT_TRUE(descriptorOpen(pair.server));
    int value = 0;
    socklen_t size = sizeof value;
    ::getsockopt(pair.server, IPPROTO_TCP, TCP_NODELAY, &value, &size);
    EXPECT_EQ(value, 1);
}

// A failing fcntl() ends the one connection through its reads, never the host process.
TEST(SystemSocket, ModeFailureMakesTheSocketFailItsReadsAndWrites) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.ok());
    RySystemSocket socket(pair.server);
    EXPECT_FALSE(socket.modeFailed());
    pair.closeServer();  // the descriptor vanishes underneath
    fy::DiagnosticCapture capture;
    socket.setNonBlocking(true);
    EXPECT_EQ(capture.text(), "fcntl F_GETFL: Bad file descriptor\n");
    EXPECT_TRUE(socket.modeFailed());
    EXPECT_TRUE(socket.hasInput());
    char byte;
    EXPECT_EQ(socket.read(&byte, 1), -1);
    EXPECT_EQ(socket.write("x", 1), -1);
    EXPECT_EQ(capture.text(), "fcntl F_GETFL: Bad file descriptor\n");
    socket.close();
}

// The writer's gathered call: pieces arrive in order; a full window writes 0 without a word
// even on a descriptor left blocking; a vanished peer fails it as it fails write(), reported
// the same way and without a signal.
TEST(SystemSocket, GatheredWritesKeepOrderNeverWaitAndFailLikeWrite) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.ok());
    int small = 4096;
    ::setsockopt(pair.server, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    RySystemSocket socket(pair.releaseServer());
    fy::DiagnosticCapture capture;

    const uint8_t ab[] = {'a', 'b'}, cde[] = {'c', 'd', 'e'};
    LuBytePiece pieces[] = {{ab, 2}, {cde, 0}, {cde, 3}};
    EXPECT_EQ(socket.writeGathered(pieces, 3), 5);
    char got[6] = {};
    ASSERT_EQ(::recv(pair.client, got, 5, MSG_WAITALL), 5);
    EXPECT_STREQ(got, "abcde");

    std::vector<uint8_t> block(65536, 'z');
    LuBytePiece blocks[] = {{block.data(), block.size()}, {block.data(), block.size()}};
    int result = 1;
    for (int i = 0; i < 2000 && result > 0; ++i) result = socket.writeGathered(blocks, 2);
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(socket.writeFailed());
    EXPECT_EQ(capture.text(), "");

    pair.closeClient();  // with unread bytes: the peer resets
    EXPECT_TRUE(soon([&] { return socket.writeGathered(blocks, 2) < 0; }));
    EXPECT_TRUE(socket.writeFailed());
    EXPECT_EQ(capture.text().rfind("send: ", 0), 0u) << capture.text();
    capture.clear();
    socket.setSendFailureNotice("Connection to client lost\n");
    EXPECT_EQ(socket.writeGathered(blocks, 2), -1);
    EXPECT_EQ(capture.text(), "Connection to client lost\n");
    socket.close();
}
