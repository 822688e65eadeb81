// Listening, stopping, failing to listen, and the life of the server object itself.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "tests/test_client.h"
#include "tests/test_host.h"
#include "toolkit/diagnostics.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A plain socket listening on every local address, as another program holding the port.
int occupyPort(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 1) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GT(port, 0);
        host.setListenPort(port);
    }

    // The client stays connected for the rest of the test, so that the count only grows.
    bool acceptsAClient(int onPort) {
        unsigned int before = host.clientCount();
        kept.push_back(std::make_unique<TestClient>(onPort));
        if (!kept.back()->isConnected()) return false;
        return pumpUntil(host, [&] { return host.clientCount() == before + 1; });
    }

    TestHost host;
    int port = freeLoopbackPort();
    std::vector<std::unique_ptr<TestClient>> kept;
};

TEST_F(Lifecycle, StartingTwiceWarnsAndKeepsTheListener) {
    EXPECT_TRUE(host.startListening());
    EXPECT_TRUE(host.startListening());
    EXPECT_THAT(host.warnings, ElementsAre("Already listening."));
    EXPECT_THAT(host.errors, IsEmpty());
    EXPECT_TRUE(acceptsAClient(port));
}

TEST_F(Lifecycle, StoppingWhenNotListeningOnlyWarns) {
    host.stopListening();
    EXPECT_THAT(host.calls, ElementsAre("reportWarning(Not listening.)"));
    EXPECT_EQ(host.clientCount(), 0u);
}

TEST_F(Lifecycle, StoppingRefusesNewClientsButKeepsConnectedOnes) {
    ASSERT_TRUE(host.startListening());
    TestClient client(port);
    ASSERT_TRUE(pumpUntil(host, [&] { return host.clientCount() == 1; }));
    host.stopListening();
    EXPECT_THAT(host.warnings, IsEmpty());

    EXPECT_FALSE(TestClient(port).isConnected());
    ASSERT_TRUE(client.send(commandRequest("\"enable_realtime_messages\"")));
    EXPECT_EQ(readCommandReply(client, host), "\"ok\"");
    EXPECT_EQ(host.clientCount(), 1u);

    host.stopListening();
    EXPECT_THAT(host.warnings, ElementsAre("Not listening."));
}

TEST_F(Lifecycle, ANewPortTakesEffectAtTheNextStart) {
    ASSERT_TRUE(host.startListening());
    // Picked while the first port is taken, so it cannot be the same one.
    int second = freeLoopbackPort();
    ASSERT_GT(second, 0);
    host.setListenPort(second);
    EXPECT_TRUE(acceptsAClient(port));
    EXPECT_FALSE(TestClient(second).isConnected());

    host.stopListening();
    ASSERT_TRUE(host.startListening());
    EXPECT_TRUE(acceptsAClient(second));
    EXPECT_FALSE(TestClient(port).isConnected());
}

TEST_F(Lifecycle, BusyPortIsReportedAndTheNextAttemptListensOnceItIsFree) {
    int blocker = occupyPort(port);
    ASSERT_GE(blocker, 0);
    int descriptorsBefore = openDescriptorCount();

    EXPECT_FALSE(host.startListening());
    EXPECT_THAT(host.errors, ElementsAre(std::string("Error binding socket: ") + std::strerror(EADDRINUSE)));
    // The failed attempt keeps nothing open and does not count as listening.
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
    host.stopListening();
    EXPECT_THAT(host.warnings, ElementsAre("Not listening."));
    EXPECT_FALSE(host.startListening());
    EXPECT_EQ(host.errors.size(), 2u);

    ::close(blocker);
    EXPECT_TRUE(host.startListening());
    EXPECT_EQ(host.errors.size(), 2u);
    EXPECT_THAT(host.warnings, ElementsAre("Not listening."));
    EXPECT_TRUE(acceptsAClient(port));
}

TEST_F(Lifecycle, PortOutsideTheTcpRangeIsAnErrorNotAnotherPort) {
    for (int bad : {-1, 65536, 65536 + port}) {
        host.setListenPort(bad);
        EXPECT_FALSE(host.startListening()) << bad;
    }
    EXPECT_THAT(host.errors, ElementsAre(std::string("Error binding socket: ") + std::strerror(EINVAL),
                                         std::string("Error binding socket: ") + std::strerror(EINVAL),
                                         std::string("Error binding socket: ") + std::strerror(EINVAL)));
    EXPECT_FALSE(TestClient(port).isConnected());
    host.setListenPort(port);
    EXPECT_TRUE(host.startListening());
}

TEST_F(Lifecycle, RatesSetBeforeAnyClientReachALaterMonitor) {
    host.setTimecodeRate(25.0f);
    host.setFrameRate(30.0f);
    ASSERT_TRUE(host.startListening());
    TestClient client(port);
    // Realtime without handshake, then the timecode-rate monitor.
    std::string enable = "\"enable_timecode_rate_monitor\"";
    ASSERT_TRUE(client.send(bytesOf("R1m") + u32(static_cast<uint32_t>(enable.size())) + bytesOf(enable)));
    EXPECT_EQ(readRealtimeMessage(client, host), "[\"timecode_rate\",25]");

    // An unchanged rate is not sent again; a changed one is.
    host.setTimecodeRate(25.0f);
    host.setTimecodeRate(29.97f);
    EXPECT_EQ(readRealtimeMessage(client, host), "[\"timecode_rate\",29.97]");
    // The frame rate is stored too, but this client does not monitor it.
    EXPECT_TRUE(client.staysQuiet(host));
}

TEST_F(Lifecycle, DestroyingTheServerClosesEverySessionWithoutCallingTheGoneHost) {
    auto owned = std::make_unique<TestHost>();
    owned->setListenPort(port);
    ASSERT_TRUE(owned->startListening());
    TestClient streaming(port);
    TestClient idle(port);
    TestClient refused(port);
    ASSERT_TRUE(streaming.send("R1"));
    ASSERT_TRUE(refused.send("x"));
    fy::DiagnosticCapture quiet;
    ASSERT_TRUE(pumpUntil(*owned, [&] { return owned->callCount("startRealtime") == 1 && owned->clientCount() == 3; }));

    // The host's own part is gone before the library's; a session that reached the host while
    // it is torn down would call a pure virtual function and abort the test program.
    owned.reset();
    for (TestClient* client : {&streaming, &idle, &refused}) {
        client->readAvailable();
        EXPECT_TRUE(client->waitForClose(host, std::chrono::milliseconds(500)));
    }
}

}  // namespace
