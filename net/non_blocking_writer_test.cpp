#include "net/non_blocking_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/test_sockets.h"

using net_test::FakeClock;
using net_test::FakeSocket;

namespace {

std::string bytes(size_t n, char first) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>(first + i % 26));
    return s;
}

struct WriterTest : ::testing::Test {
    FakeSocket socket;
    FakeClock clock;
    RyNonBlockingWriterWithTimeout writer{socket, clock};

    int write(const std::string& s) { return writer.write(s.data(), s.size()); }
};

}  // namespace

TEST_F(WriterTest, QueuedBytesGoFirstAndNewOnesQueueBehindThem) {
    std::string first = bytes(300, 'a'), second = bytes(50, 'A');
    socket.room = 100;
    EXPECT_EQ(write(first), 300);
    EXPECT_EQ(socket.taken, first.substr(0, 100));
    EXPECT_EQ(writer.pendingBytes(), 200u);

    socket.room = 30;
    EXPECT_EQ(write(second), 50);
    EXPECT_EQ(socket.taken, first.substr(0, 130));
    EXPECT_EQ(writer.pendingBytes(), 220u);

    socket.room = static_cast<size_t>(-1);
    EXPECT_EQ(writer.flush(), 220);
    EXPECT_EQ(socket.taken, first + second);
    EXPECT_EQ(writer.flush(), 0);
}

TEST_F(WriterTest, ZeroBytesDoNothingAndAFailingSocketKeepsTheQueue) {
    EXPECT_EQ(writer.write("", 0), 0);
    EXPECT_EQ(socket.writeCalls, 0);
    socket.room = 2;
    EXPECT_EQ(write("abcdef"), 6);
    socket.failWrites = true;
    EXPECT_EQ(writer.flush(), -1);
    EXPECT_EQ(write("gh"), -1);
    EXPECT_EQ(writer.pendingBytes(), 4u);  // "gh" was not queued
    EXPECT_EQ(socket.abortCalls, 0);
}

// A client idle for a minute whose socket then stalls gets its full ten seconds. Timing from
// the last write that moved bytes would cut it off on the first stalled write at t=60.
TEST_F(WriterTest, StallIsTimedFromItsStartNotFromTheLastProgress) {
    EXPECT_EQ(write("hello"), 5);  // progress at t=0
    clock.time = 60.0;
    socket.room = 0;
    EXPECT_EQ(write("late"), 4);
    EXPECT_EQ(socket.abortCalls, 0);
    clock.time = 70.0;
    EXPECT_EQ(writer.flush(), 0);  // exactly ten seconds is not more than ten
    EXPECT_EQ(socket.abortCalls, 0);
    clock.time = 70.01;
    EXPECT_EQ(write("x"), -1);
    EXPECT_EQ(socket.abortCalls, 1);
    EXPECT_EQ(write("y"), -1);
}

TEST_F(WriterTest, ProgressEndsAStallAndANewClientIsNotJudgedByTheClocksAge) {
    clock.time = 100.0;  // the handler's clock started long before this client
    socket.room = 0;
    EXPECT_EQ(write("abc"), 3);
    clock.time = 109.0;
    socket.room = 1;
    EXPECT_EQ(writer.flush(), 1);
    EXPECT_EQ(writer.lastProgressTime(), 109.0);
    clock.time = 118.0;
    EXPECT_EQ(writer.flush(), 0);  // a new stall starts here
    clock.time = 127.9;
    EXPECT_EQ(writer.flush(), 0);
    EXPECT_EQ(socket.abortCalls, 0);
    clock.time = 128.5;
    EXPECT_EQ(writer.flush(), -1);
    EXPECT_EQ(socket.abortCalls, 1);
}

TEST_F(WriterTest, QueueBeyond64MiBCutsTheClientOff) {
    socket.room = 10;
    std::vector<char> mebibyte(1 << 20, 'm');
    EXPECT_EQ(writer.write(mebibyte.data(), 10), 10);  // what the socket takes does not count
    for (int i = 0; i < 64; ++i) ASSERT_EQ(writer.write(mebibyte.data(), mebibyte.size()), 1 << 20);
    EXPECT_EQ(writer.pendingBytes(), RyNonBlockingWriterWithTimeout::maxPendingBytes);
    EXPECT_EQ(socket.abortCalls, 0);
    EXPECT_EQ(writer.write("!", 1), -1);
    EXPECT_EQ(socket.abortCalls, 1);
    EXPECT_EQ(writer.pendingBytes(), RyNonBlockingWriterWithTimeout::maxPendingBytes);
}

TEST_F(WriterTest, SharedBytesWaitByReferenceAndKeepTheirPlaceInLine) {
    LuSharedBytes frame(std::vector<uint8_t>(1000, 'f'));
    socket.room = 100;
    EXPECT_EQ(write(bytes(50, 'a')), 50);
    EXPECT_EQ(writer.writeShared(frame), 1000);
    EXPECT_EQ(write(bytes(20, 'A')), 20);
    // The unsent tail of the frame is the frame's own buffer, not a copy.
    EXPECT_EQ(frame.useCount(), 2);
    EXPECT_EQ(writer.pendingBytes(), 970u);
    EXPECT_EQ(writer.queue().copyBlockCount(), 1u);

    socket.room = static_cast<size_t>(-1);
    EXPECT_EQ(writer.flush(), 970);
    EXPECT_EQ(socket.taken, bytes(50, 'a') + std::string(1000, 'f') + bytes(20, 'A'));
    EXPECT_EQ(frame.useCount(), 1);
}

TEST_F(WriterTest, SharedBytesCountTowardsTheOutputCapOfEachClient) {
    // Sixty-four mebibytes pending through one shared buffer: nothing is copied, yet the cap
    // cuts the client off exactly as if every byte were its own.
    constexpr size_t frameSize = 1024 * 1024;
    LuSharedBytes frame(std::vector<uint8_t>(frameSize, 'f'));
    socket.room = 0;
    for (uint64_t i = 0; i < RyNonBlockingWriterWithTimeout::maxPendingBytes / frameSize; ++i)
        ASSERT_EQ(writer.writeShared(frame), static_cast<int>(frameSize)) << i;
    EXPECT_EQ(writer.pendingBytes(), RyNonBlockingWriterWithTimeout::maxPendingBytes);
    EXPECT_EQ(socket.abortCalls, 0);
    EXPECT_EQ(writer.writeShared(frame), -1);
    EXPECT_EQ(socket.abortCalls, 1);
}
