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

namespace {

// A socket with a gathered call of its own, taking what FakeSocket would take of the pieces'
// concatenation; it records how many pieces each call brought.
class GatheringSocket : public FakeSocket {
public:
    std::vector<size_t> gatheredCalls;
    int writeGathered(const LuBytePiece* pieces, size_t count) override {
        gatheredCalls.push_back(count);
        if (aborted || failWrites) return -1;
        size_t total = 0;
        for (size_t i = 0; i < count && room > 0; ++i) {
            size_t n = std::min(pieces[i].length, room);
            taken.append(reinterpret_cast<const char*>(pieces[i].data), n);
            room -= n;
            total += n;
        }
        return static_cast<int>(total);
    }
};

struct GatheringWriterTest : ::testing::Test {
    GatheringSocket socket;
    FakeClock clock;
    RyNonBlockingWriterWithTimeout writer{socket, clock};

    int write(const std::string& s) { return writer.write(s.data(), s.size()); }
};

LuSharedBytes sharedText(const std::string& s) { return LuSharedBytes(std::vector<uint8_t>(s.begin(), s.end())); }

}  // namespace

// The unsent rest of a large frame goes out with the next write in one call, instead of being
// copied into the queue and sent ahead in calls of its own.
TEST_F(GatheringWriterTest, TheBacklogAndTheNewBytesGoInOneCall) {
    LuSharedBytes frame = sharedText(bytes(1000, 'a'));
    socket.room = 100;
    EXPECT_EQ(writer.writeShared(frame), 1000);
    EXPECT_EQ(writer.queue().copyBlockCount(), 0u);
    socket.room = 5000;
    EXPECT_EQ(write(bytes(300, 'A')), 300);
    EXPECT_EQ(socket.writeCalls, 1);
    EXPECT_EQ(socket.gatheredCalls, std::vector<size_t>{2});
    EXPECT_EQ(socket.taken, bytes(1000, 'a') + bytes(300, 'A'));
    EXPECT_EQ(writer.pendingBytes(), 0u);
    EXPECT_EQ(frame.useCount(), 1);
}

// The socket stops inside a queued piece, then inside the new bytes: what stays keeps its
// order, and a caller's buffer is copied from where the socket stopped, so the caller may
// reuse it at once.
TEST_F(GatheringWriterTest, ASocketStoppingInsideAPieceKeepsTheRestInOrder) {
    LuSharedBytes frame = sharedText(bytes(1000, 'f'));
    socket.room = 10;
    EXPECT_EQ(write(bytes(50, 'a')), 50);
    socket.room = 0;
    EXPECT_EQ(writer.writeShared(frame), 1000);
    std::string buffer = bytes(300, 'B');
    socket.room = 540;  // the copied rest and half the frame
    EXPECT_EQ(write(buffer), 300);
    EXPECT_EQ(socket.taken, bytes(50, 'a') + bytes(500, 'f'));
    EXPECT_EQ(writer.pendingBytes(), 800u);
    EXPECT_EQ(frame.useCount(), 2);

    socket.room = 600;  // the frame's rest and a third of the buffer
    buffer.assign(300, '?');
    EXPECT_EQ(write(bytes(20, 'z')), 20);
    EXPECT_EQ(socket.taken, bytes(50, 'a') + bytes(1000, 'f') + bytes(100, 'B'));
    EXPECT_EQ(writer.pendingBytes(), 220u);
    EXPECT_EQ(frame.useCount(), 1);

    socket.room = static_cast<size_t>(-1);
    EXPECT_EQ(writer.flush(), 220);
    EXPECT_EQ(socket.taken, bytes(50, 'a') + bytes(1000, 'f') + bytes(300, 'B') + bytes(20, 'z'));
}

// A gathered call that moves nothing is a stalled attempt like any other: the new bytes wait
// whole behind the backlog and the stall is timed from that call.
TEST_F(GatheringWriterTest, NothingTakenQueuesTheNewBytesAndStartsTheStall) {
    socket.room = 5;
    EXPECT_EQ(write(bytes(20, 'a')), 20);
    socket.room = 0;
    clock.time = 1.0;
    EXPECT_EQ(writer.writeShared(sharedText("frame")), 5);
    EXPECT_EQ(socket.gatheredCalls, std::vector<size_t>{2});
    EXPECT_EQ(writer.pendingBytes(), 20u);
    clock.time = 11.0;
    EXPECT_EQ(write("x"), 1);
    EXPECT_EQ(socket.abortCalls, 0);
    clock.time = 11.5;
    EXPECT_EQ(writer.flush(), -1);
    EXPECT_EQ(socket.abortCalls, 1);
    EXPECT_EQ(socket.taken, bytes(5, 'a'));
}

// The limit applies to what is left after the gathered call: bytes the socket took from the
// backlog make room for as many new ones, and a full queue with nothing taken overflows.
TEST_F(GatheringWriterTest, TheQueueLimitCountsWhatIsLeftAfterTheCall) {
    constexpr size_t frameSize = 2 * 1024 * 1024;
    LuSharedBytes frame(std::vector<uint8_t>(frameSize, 'f'));
    socket.room = 0;
    for (uint64_t i = 0; i < RyNonBlockingWriterWithTimeout::maxPendingBytes / frameSize; ++i)
        ASSERT_EQ(writer.writeShared(frame), static_cast<int>(frameSize)) << i;
    EXPECT_EQ(writer.queue().copyBlockCount(), 0u);
    socket.room = 10;
    EXPECT_EQ(write(bytes(10, 'a')), 10);
    EXPECT_EQ(writer.pendingBytes(), RyNonBlockingWriterWithTimeout::maxPendingBytes);
    EXPECT_EQ(socket.abortCalls, 0);
    EXPECT_EQ(writer.writeShared(frame), -1);
    EXPECT_EQ(socket.abortCalls, 1);
    EXPECT_EQ(writer.pendingBytes(), RyNonBlockingWriterWithTimeout::maxPendingBytes);
}

namespace {

// Plain and shared writes and flushes in a pseudo-random mix against a socket whose room
// changes at every step, with bursts of small frames that outgrow one gathered call: the
// bytes that leave are exactly the bytes written, and the queue holds exactly the rest.
template <class Socket>
void checkOrderAcrossMixedWrites(Socket& socket) {
    FakeClock clock;
    RyNonBlockingWriterWithTimeout writer(socket, clock);
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t bound) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % bound;
    };
    std::vector<LuSharedBytes> frames;
    for (int i = 0; i < 8; ++i) frames.push_back(sharedText(bytes(1 + 700 * i, static_cast<char>('A' + i))));
    std::string expected, scratch;
    for (int step = 0; step < 3000; ++step) {
        socket.room = next(4) == 0 ? 0 : next(9000);
        clock.time += 0.001;  // every stall stays far below its limit
        uint32_t what = next(10);
        if (what < 4) {
            const LuSharedBytes& frame = frames[next(8)];
            ASSERT_EQ(writer.writeShared(frame), static_cast<int>(frame.size()));
            expected.append(reinterpret_cast<const char*>(frame.data()), frame.size());
        } else if (what < 8) {
            scratch = bytes(1 + next(3000), static_cast<char>('a' + next(20)));
            ASSERT_EQ(writer.write(scratch.data(), scratch.size()), static_cast<int>(scratch.size()));
            expected += scratch;
            scratch.assign(scratch.size(), '#');  // the writer must have copied what it kept
        } else if (what < 9) {
            ASSERT_GE(writer.flush(), 0);
        } else {
            socket.room = 0;
            for (int i = 0; i < 100; ++i) ASSERT_EQ(writer.writeShared(frames[0]), 1);
            expected += std::string(100, 'A');
        }
        ASSERT_EQ(socket.taken.size() + writer.pendingBytes(), expected.size()) << "step " << step;
    }
    socket.room = static_cast<size_t>(-1);
    while (writer.pendingBytes() > 0) ASSERT_GT(writer.flush(), 0);
    EXPECT_EQ(socket.taken.size(), expected.size());
    EXPECT_TRUE(socket.taken == expected);
    EXPECT_EQ(frames[0].useCount(), 1);
}

}  // namespace

TEST(WriterOrder, MixedWritesLeaveInOrderThroughAGatheredCall) {
    GatheringSocket socket;
    checkOrderAcrossMixedWrites(socket);
    EXPECT_GT(socket.gatheredCalls.size(), 100u);
}

TEST(WriterOrder, MixedWritesLeaveInOrderThroughASocketWithoutOne) {
    FakeSocket socket;
    checkOrderAcrossMixedWrites(socket);
}

namespace {

// Lends the bytes of `text` and makes them shared only when asked, counting the requests.
class CountingSource : public LuSharedBytesSource {
public:
    explicit CountingSource(std::string text) : text_(std::move(text)) {}
    const LuSharedBytes& bytes() override {
        ++requests;
        if (kept_.size() == 0) kept_ = sharedText(text_);
        return kept_;
    }
    int requests = 0;

private:
    std::string text_;
    LuSharedBytes kept_;
};

LuBytePiece lent(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

}  // namespace

// Lent pieces the socket takes whole are never copied; the rest of pieces it cuts short waits in
// the source's shared bytes, so the lender may reuse its buffers at once.
TEST_F(GatheringWriterTest, LentPiecesAreKeptOnlyWhenTheSocketLeavesSome) {
    std::string head = bytes(10, 'h'), body = bytes(500, 'b'), tail = bytes(40, 't');
    CountingSource whole(head + body + tail);
    LuBytePiece pieces[] = {lent(head), lent(body), lent(tail)};
    EXPECT_EQ(writer.writeLent(pieces, 3, whole), 550);
    EXPECT_EQ(whole.requests, 0);
    EXPECT_EQ(socket.taken, head + body + tail);

    socket.taken.clear();
    socket.room = 100;
    EXPECT_EQ(writer.writeLent(pieces, 3, whole), 550);
    EXPECT_EQ(whole.requests, 1);
    EXPECT_EQ(socket.gatheredCalls.back(), 3u);
    EXPECT_EQ(writer.pendingBytes(), 450u);
    EXPECT_EQ(writer.queue().copyBlockCount(), 0u);
    body.assign(body.size(), '#');

    socket.room = 1000;  // the kept rest and the next lent frame, in one call
    EXPECT_EQ(writer.writeLent(pieces, 3, whole), 550);
    EXPECT_EQ(socket.gatheredCalls.back(), 4u);
    EXPECT_EQ(socket.taken, head + bytes(500, 'b') + tail + head + body + tail);
    EXPECT_EQ(writer.pendingBytes(), 0u);
    EXPECT_EQ(whole.requests, 1);
}

// Over the limit nothing is kept and the source is not even asked for its bytes.
TEST_F(GatheringWriterTest, LentPiecesOverTheLimitCutTheClientOffWithoutACopy) {
    LuSharedBytes frame(std::vector<uint8_t>(RyNonBlockingWriterWithTimeout::maxPendingBytes - 5, 'f'));
    socket.room = 0;
    ASSERT_EQ(writer.writeShared(frame), static_cast<int>(frame.size()));
    std::string text = bytes(10, 'x');
    CountingSource source(text);
    LuBytePiece piece = lent(text);
    EXPECT_EQ(writer.writeLent(&piece, 1, source), -1);
    EXPECT_EQ(socket.abortCalls, 1);
    EXPECT_EQ(source.requests, 0);
    EXPECT_EQ(writer.pendingBytes(), frame.size());
}
