#include "net/byte_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(ByteQueue, AllocatesLazilyAndLinksBlocksAtExactly65536) {
    LuByteQueue queue;
    EXPECT_EQ(queue.blockCount(), 0u);
    EXPECT_EQ(queue.front().data, nullptr);
    queue.append("", 0);
    EXPECT_EQ(queue.blockCount(), 0u);

    std::vector<uint8_t> full(LuByteQueue::blockSize, 0xAB);
    queue.append(full.data(), full.size());
    EXPECT_EQ(queue.blockCount(), 1u);
    EXPECT_EQ(queue.front().length, 65536u);
    queue.append("x", 1);
    EXPECT_EQ(queue.blockCount(), 2u);
    EXPECT_EQ(queue.getSize(), 65537u);
    EXPECT_EQ(queue.front().length, 65536u);

    queue.consume(65536);
    EXPECT_EQ(queue.blockCount(), 1u);
    ASSERT_EQ(queue.front().length, 1u);
    EXPECT_EQ(queue.front().data[0], 'x');

    // The emptied last block is kept with its offsets back at 0: a full block fits again.
    queue.consume(1);
    EXPECT_TRUE(queue.isEmpty());
    queue.append(full.data(), full.size());
    EXPECT_EQ(queue.blockCount(), 1u);
    EXPECT_EQ(queue.front().length, 65536u);
}

TEST(ByteQueue, KeepsOrderAcrossBlocksWithUnevenPieces) {
    LuByteQueue queue;
    std::string in;
    for (int i = 0; i < 200000; ++i) in.push_back(static_cast<char>(i * 7 + i / 251));
    for (size_t at = 0, piece = 1; at < in.size(); at += piece, piece = piece * 3 % 40000 + 1)
        queue.append(in.data() + at, std::min(piece, in.size() - at));
    EXPECT_EQ(queue.getSize(), in.size());
    EXPECT_EQ(queue.blockCount(), 4u);

    std::string out;
    char buffer[70001];
    for (size_t piece = 5; !queue.isEmpty(); piece = piece * 5 % 70000 + 1)
        out.append(buffer, queue.read(buffer, piece));
    EXPECT_EQ(out, in);
    EXPECT_EQ(queue.blockCount(), 1u);
    EXPECT_EQ(queue.read(buffer, 10), 0u);
    queue.consume(10);  // more than queued: nothing to remove, nothing breaks
    EXPECT_EQ(queue.getSize(), 0u);
}
