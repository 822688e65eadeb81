#pragma once
// The fixture of most end-to-end tests: a scripted host listening on a free loopback port, the
// diagnostics it writes captured, and clients connected to it.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/test_client.h"
#include "tests/test_host.h"
#include "toolkit/diagnostics.h"

class ServedHost : public ::testing::Test {
protected:
    void SetUp() override {
        port = listenOnFreeLoopbackPort(host);
        ASSERT_GT(port, 0);
    }

    // A connected client whose session the server has accepted.
    std::unique_ptr<TestClient> accepted() {
        unsigned int before = host.clientCount();
        auto client = std::make_unique<TestClient>(port);
        EXPECT_TRUE(client->isConnected());
        EXPECT_TRUE(pumpUntil(host, [&] { return host.clientCount() == before + 1; }));
        return client;
    }

    // One command exchange on the client's connection: the reply's text.
    std::string exchange(TestClient& client, const std::string& command) { return commandExchange(client, host, command); }

    fy::DiagnosticCapture diagnostics;
    TestHost host;
    int port = freeLoopbackPort();
};
