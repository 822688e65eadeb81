// More simultaneous clients than select() could ever watch: every one is accepted and served,
// including those whose descriptors lie far above FD_SETSIZE.
#include <gtest/gtest.h>
#include <sys/select.h>

#include <memory>
#include <vector>

#include "tests/test_client.h"
#include "tests/test_host.h"
#include "toolkit/diagnostics.h"
#include "toolkit/test_prerequisite.h"

namespace {

TEST(ManyClients, MoreThan1100SimultaneousConnectionsAreAcceptedAndServed) {
    constexpr int clients = 1100;
    // Each connection costs this process two descriptors: the client's and the server's.
    const long needed = 2L * clients + 64;
    FY_REQUIRE_PREREQUISITE(raiseDescriptorLimit(needed) >= needed, "cannot open " << needed << " descriptors here");

    fy::DiagnosticCapture diagnostics;
    TestHost host;
    int port = freeLoopbackPort();
    ASSERT_GT(port, 0);
    host.setListenPort(port);
    ASSERT_TRUE(host.startListening());

    std::vector<std::unique_ptr<TestClient>> all;
    for (int i = 0; i < clients; ++i) {
        all.push_back(std::make_unique<TestClient>(port));
        ASSERT_TRUE(all.back()->isConnected()) << "client " << i;
        ASSERT_TRUE(pumpUntil(host, [&] { return host.clientCount() == static_cast<unsigned>(i + 1); }))
            << "client " << i << " was not accepted";
    }
    EXPECT_GT(openDescriptorCount(), 2 * clients);
    EXPECT_GT(all.back()->fd(), FD_SETSIZE);

    // Every session answers: even clients are refused an acquisition (two zero bytes), odd ones
    // run a command exchange. All requests go out before any answer is read.
    for (int i = 0; i < clients; ++i)
        ASSERT_TRUE(all[i]->send(i % 2 == 0 ? bytesOf("a") : commandRequest("\"enable_realtime_messages\"")));
    for (int i = 0; i < clients; ++i) {
        if (i % 2 == 0)
            ASSERT_EQ(all[i]->read(host, 2), (Bytes{0, 0})) << "client " << i;
        else
            ASSERT_EQ(readCommandReply(*all[i], host), "\"ok\"") << "client " << i;
    }
    EXPECT_EQ(host.clientCount(), static_cast<unsigned>(clients));
    EXPECT_EQ(diagnostics.text(), "");

    all.clear();
    EXPECT_TRUE(pumpUntil(host, [&] { return host.clientCount() == 0; }, std::chrono::seconds(20)));
}

}  // namespace
