#include "net/input_buffer.h"

#include <gtest/gtest.h>

#include <string>

#include "net/test_sockets.h"

using net_test::FakeSocket;
using Read = SessionInputBuffer::Read;

TEST(SessionInputBuffer, AnItemSplitAcrossArrivalsWaitsWithItsBytesKept) {
    SessionInputBuffer in;
    uint8_t tag = 0;
    uint16_t length = 0;
    in.append("m\x01", 2);
    {
        InputTransaction item(in);
        ASSERT_EQ(in.readByte(tag), Read::ok);
        EXPECT_EQ(in.readU16(length), Read::waiting);
    }
    EXPECT_EQ(in.unreadBytes(), 2u);  // rolled back: the tag is read again next time
    in.append("\x02", 1);
    {
        InputTransaction item(in);
        ASSERT_EQ(in.readByte(tag), Read::ok);
        ASSERT_EQ(in.readU16(length), Read::ok);
        item.commit();
    }
    EXPECT_EQ(tag, 'm');
    EXPECT_EQ(length, 0x0102);
    EXPECT_FALSE(in.hasInput());
    in.rollback();  // nothing committed comes back
    EXPECT_EQ(in.unreadBytes(), 0u);
}

TEST(SessionInputBuffer, ReadsBigEndianAndPeeksAndSkips) {
    SessionInputBuffer in;
    in.append("\x12\x34\xDE\xAD\xBE\xEF\x7F", 7);
    uint16_t u16 = 0;
    uint32_t u32 = 0;
    uint8_t byte = 0;
    EXPECT_EQ(in.readU16(u16), Read::ok);
    EXPECT_EQ(in.peekByte(byte), Read::ok);
    EXPECT_EQ(byte, 0xDE);
    EXPECT_EQ(in.readU32(u32), Read::ok);
    EXPECT_EQ(u16, 0x1234);
    EXPECT_EQ(u32, 0xDEADBEEFu);
    const uint8_t* view = nullptr;
    EXPECT_EQ(in.readView(view, 2), Read::waiting);
    EXPECT_EQ(in.skip(1), Read::ok);
    EXPECT_EQ(in.skip(1), Read::waiting);
}

TEST(SessionInputBuffer, PeerClosedMidItemFailsOnlyOnceTheBytesRunOut) {
    SessionInputBuffer in;
    in.append("abc", 3);
    in.markPeerClosed();
    uint32_t value = 0;
    EXPECT_EQ(in.readU32(value), Read::failed);
    in.rollback();
    char out[3];
    EXPECT_EQ(in.read(out, 3), Read::ok);
    in.commit();
    EXPECT_TRUE(in.hasInput());  // so that the session reads and sees the end
    uint8_t byte;
    EXPECT_EQ(in.readByte(byte), Read::failed);
}

TEST(SessionInputBuffer, FillsFromTheSocketWithinItsBudgetAndSeesTheEnd) {
    FakeSocket socket;
    socket.incoming = std::string(200000, 'a') + std::string(100000, 'b');
    SessionInputBuffer in;
    EXPECT_EQ(in.fillFrom(socket, 256 * 1024), 256u * 1024);
    EXPECT_FALSE(in.peerClosed());
    socket.peerClosed = true;
    EXPECT_EQ(in.fillFrom(socket), 300000u - 256 * 1024);
    EXPECT_TRUE(in.peerClosed());
    std::string all(300000, '\0');
    EXPECT_EQ(in.take(all.data(), all.size()), 300000u);
    EXPECT_EQ(all, std::string(200000, 'a') + std::string(100000, 'b'));
    EXPECT_EQ(in.fillFrom(socket), 0u);
}

// The buffer holds no more than one transaction may need, and an item larger than that fails
// instead of waiting for ever.
TEST(SessionInputBuffer, LimitStopsFillingAndFailsOversizedItems) {
    FakeSocket socket;
    socket.incoming = "0123456789ABCDEF";
    SessionInputBuffer in;
    in.setLimit(8);
    EXPECT_EQ(in.fillFrom(socket), 8u);
    char out[9];
    EXPECT_EQ(in.read(out, 9), Read::failed);
    EXPECT_EQ(in.read(out, 8), Read::ok);
    in.commit();
    EXPECT_EQ(in.fillFrom(socket), 8u);
    EXPECT_EQ(in.read(out, 4), Read::ok);
    EXPECT_EQ(in.read(out, 5), Read::failed);  // 9 bytes in one transaction
}

TEST(SessionInputBuffer, ALongStreamDoesNotGrowTheStorage) {
    SessionInputBuffer in;
    std::string piece(1000, 'p');
    char out[700];
    for (int i = 0; i < 20000; ++i) {
        in.append(piece.data(), piece.size());
        while (in.read(out, sizeof out) == Read::ok) in.commit();
        in.rollback();
    }
    EXPECT_LT(in.capacityBytes(), 16u * 1024);
    EXPECT_EQ(in.bufferedBytes(), 20000u * 1000 % 700);
}
