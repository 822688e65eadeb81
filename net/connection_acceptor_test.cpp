#include "net/connection_acceptor.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "net/socket_functions.h"
#include "toolkit/diagnostics.h"

namespace {

// A listener on 127.0.0.1 with `pending` connections completed in its queue.
struct PendingConnections {
    int listener = -1;
    std::vector<int> clients;
    std::vector<int> accepted;

    explicit PendingConnections(int pending) {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener, SOMAXCONN);
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
        for (int i = 0; i < pending; ++i) {
            int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) clients.push_back(fd);
        }
    }
    ~PendingConnections() {
        for (int fd : clients) ::close(fd);
        for (int fd : accepted) ::close(fd);
        ::close(listener);
    }
    int acceptWith(LuConnectionAcceptor& acceptor) {
        return acceptor.acceptPending(listener, [this](int fd) { accepted.push_back(fd); });
    }
};

}  // namespace

TEST(ConnectionAcceptor, TakesEveryPendingConnectionUpToTheBoundPerCall) {
    PendingConnections storm(LuConnectionAcceptor::maxPerPoll + 6);
    ASSERT_EQ(storm.clients.size(), 70u);
    ASSERT_TRUE(LuSocketSetNonBlocking(storm.listener, true));
    fy::DiagnosticCapture diagnostics;
    LuConnectionAcceptor acceptor;
    EXPECT_EQ(storm.acceptWith(acceptor), 64);
    EXPECT_EQ(storm.acceptWith(acceptor), 6);
    EXPECT_EQ(storm.acceptWith(acceptor), 0);   // nothing pending: no wait, no complaint
    EXPECT_EQ(storm.accepted.size(), 70u);
    for (int fd : storm.accepted) EXPECT_GE(fd, 0);
    EXPECT_EQ(diagnostics.text(), "");
}

TEST(ConnectionAcceptor, ABlockingListenerGivesOneConnectionPerCall) {
    // Its readiness report promises one connection; a second accept could wait.
    PendingConnections storm(3);
    LuConnectionAcceptor acceptor;
    EXPECT_EQ(storm.acceptWith(acceptor), 1);
    EXPECT_EQ(storm.acceptWith(acceptor), 1);
    EXPECT_EQ(storm.accepted.size(), 2u);
}

TEST(ConnectionAcceptor, AFailingListenerIsReportedOncePerStretchOfFailures) {
    fy::DiagnosticCapture diagnostics;
    LuConnectionAcceptor acceptor;
    int notASocket = ::open("/dev/null", O_RDONLY | O_NONBLOCK);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(acceptor.acceptPending(notASocket, [](int) {}), 0);
    ::close(notASocket);
    EXPECT_EQ(diagnostics.text(), "accept: Socket operation on non-socket\n");

    PendingConnections one(1);
    ASSERT_TRUE(LuSocketSetNonBlocking(one.listener, true));
    EXPECT_EQ(one.acceptWith(acceptor), 1);
    EXPECT_EQ(diagnostics.text(), "accept: Socket operation on non-socket\nAccepting connections again\n");
}
