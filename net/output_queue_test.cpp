#include "net/output_queue.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

LuSharedBytes shared(const std::string& text) { return LuSharedBytes(std::vector<uint8_t>(text.begin(), text.end())); }

std::string drain(LuOutputQueue& queue, size_t piece) {
    std::string out;
    while (!queue.isEmpty()) {
        LuOutputQueue::Chunk chunk = queue.front();
        size_t take = std::min(piece, chunk.length);
        out.append(reinterpret_cast<const char*>(chunk.data), take);
        queue.consume(take);
        piece = piece * 7 % 13 + 1;
    }
    return out;
}

}  // namespace

TEST(OutputQueue, CopiesAndSharedBuffersLeaveInTheOrderTheyCame) {
    LuOutputQueue queue;
    EXPECT_EQ(queue.front().data, nullptr);
    std::string expected;
    std::vector<LuSharedBytes> frames;
    for (int i = 0; i < 300; ++i) {
        std::string frame = "frame" + std::to_string(i) + "|";
        frames.push_back(shared(frame));
        queue.appendShared(frames.back(), 0);
        std::string message = "m" + std::to_string(i);
        queue.append(message.data(), message.size());
        if (i % 3 == 0) queue.append("+", 1);  // joins the copied run before it
        expected += frame + message + (i % 3 == 0 ? "+" : "");
    }
    queue.appendShared(shared("tail-of-a-partial-write"), 8);
    expected += "a-partial-write";
    EXPECT_EQ(queue.getSize(), expected.size());
    EXPECT_EQ(drain(queue, 5), expected);
    EXPECT_EQ(queue.getSize(), 0u);
    EXPECT_EQ(queue.front().length, 0u);
    // Every frame was let go as its last byte left.
    for (const LuSharedBytes& frame : frames) EXPECT_EQ(frame.useCount(), 1);
}

TEST(OutputQueue, SharedBytesAreReferencedAndSmallCopiesBetweenThemShareBlocks) {
    LuSharedBytes frame(std::vector<uint8_t>(100000, 7));
    LuOutputQueue first, second;
    for (int i = 0; i < 50; ++i) {
        first.appendShared(frame, 0);
        second.appendShared(frame, 0);
        first.append("note", 4);
    }
    EXPECT_EQ(frame.useCount(), 101);
    EXPECT_EQ(first.getSize(), 50u * 100004u);
    // The frames are not copied: the front is the shared buffer itself, and the two hundred
    // bytes of notes fill part of one block.
    EXPECT_EQ(second.copyBlockCount(), 0u);
    EXPECT_EQ(first.copyBlockCount(), 1u);
    EXPECT_EQ(first.front().data, frame.data());
    EXPECT_EQ(first.front().length, frame.size());

    first.consume(100001);
    EXPECT_EQ(first.front().length, 3u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(first.front().data), 3), "ote");
    first.consume(first.getSize());
    EXPECT_TRUE(first.isEmpty());
    EXPECT_EQ(frame.useCount(), 51);
}

TEST(SharedBytes, GiveBackTheSlackTheirProducerReserved) {
    // A backlog of held frames must cost what the frames hold, not what was reserved for them.
    std::vector<uint8_t> encoded;
    encoded.reserve(80000);
    encoded.assign(808, 1);
    LuSharedBytes frame(std::move(encoded));
    EXPECT_EQ(frame.size(), 808u);
    EXPECT_LE(frame.heldBytes(), 909u);
    EXPECT_EQ(frame.data()[807], 1);
}

// A gathered write sees the queue as runs in order: copies split at their block edges, shared
// buffers from their unsent offset, cut at the piece and byte budgets it is given.
TEST(OutputQueue, GatherListsTheQueuedBytesInOrderWithinItsBudgets) {
    LuOutputQueue queue;
    std::string big(LuByteQueue::blockSize + 100, 'c');
    // "ab" opens the first block, so this is the first byte of the second one.
    big[LuByteQueue::blockSize - 2] = 'X';
    queue.append("ab", 2);
    queue.consume(1);
    LuSharedBytes frame = shared("0123456789");
    queue.appendShared(frame, 4);
    queue.append(big.data(), big.size());
    std::string expected = "b" + std::string("456789") + big;

    auto text = [](const LuOutputQueue::Chunk* pieces, size_t count) {
        std::string out;
        for (size_t i = 0; i < count; ++i) out.append(reinterpret_cast<const char*>(pieces[i].data), pieces[i].length);
        return out;
    };
    LuOutputQueue::Chunk pieces[8];
    size_t count = queue.gather(pieces, 8, SIZE_MAX);
    ASSERT_EQ(count, 4u) << "one copied run, the frame, the big run in two blocks";
    EXPECT_EQ(pieces[1].data, frame.data() + 4) << "the frame is lent, not copied";
    EXPECT_EQ(text(pieces, count), expected);

    EXPECT_EQ(text(pieces, queue.gather(pieces, 2, SIZE_MAX)), "b456789");
    EXPECT_EQ(text(pieces, queue.gather(pieces, 8, 4)), "b456");
    size_t throughX = 7 + LuByteQueue::blockSize - 2 + 1;
    count = queue.gather(pieces, 8, throughX);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(text(pieces, count), expected.substr(0, throughX));
    EXPECT_EQ(pieces[3].length, 1u);
    EXPECT_EQ(pieces[3].data[0], 'X');

    queue.consume(3);  // into the frame
    EXPECT_EQ(text(pieces, queue.gather(pieces, 8, SIZE_MAX)), expected.substr(3));
    LuOutputQueue empty;
    EXPECT_EQ(empty.gather(pieces, 8, SIZE_MAX), 0u);
}
