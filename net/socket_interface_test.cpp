#include "net/socket_interface.h"

#include <gtest/gtest.h>

#include <string>

#include "net/test_sockets.h"

namespace {

// Takes what FakeSocket takes, but fails every write from the `failFrom`-th call on.
class FailingLater : public net_test::FakeSocket {
public:
    int failFrom = 1000;
    int write(const void* buffer, size_t length) override {
        if (writeCalls + 1 >= failFrom) failWrites = true;
        return FakeSocket::write(buffer, length);
    }
};

LuBytePiece piece(const std::string& text) { return {reinterpret_cast<const uint8_t*>(text.data()), text.size()}; }

}  // namespace

// Sockets without a gathered call of their own write piece by piece: up to the first piece
// not taken whole, and a failure after some bytes went out is left for the next write, so
// nothing is counted twice or lost.
TEST(SocketInterface, GatheredWriteByDefaultGoesPieceByPiece) {
    std::string abc = "abc", empty, defg = "defg", h = "h";
    LuBytePiece pieces[] = {piece(abc), piece(empty), piece(defg), piece(h)};

    FailingLater socket;
    socket.room = 5;
    EXPECT_EQ(socket.writeGathered(pieces, 4), 5);
    EXPECT_EQ(socket.taken, "abcde");
    EXPECT_EQ(socket.writeCalls, 2) << "nothing is offered after a piece the socket cut short";

    FailingLater failing;
    failing.failFrom = 2;
    EXPECT_EQ(failing.writeGathered(pieces, 4), 3);
    EXPECT_EQ(failing.taken, "abc");
    EXPECT_EQ(failing.writeGathered(pieces + 2, 2), -1);

    FailingLater dead;
    dead.failFrom = 1;
    EXPECT_EQ(dead.writeGathered(pieces, 4), -1);
    EXPECT_EQ(dead.writeGathered(pieces, 0), 0);
}
