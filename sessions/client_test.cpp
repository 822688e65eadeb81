#include "sessions/client.h"

#include <gtest/gtest.h>

#include "sessions/session_services.h"
#include "sessions/session_test_support.h"
#include "toolkit/diagnostics.h"

namespace {

using namespace session_test;

TEST(ClientSession, RefusedFirstBytesEndInDrainingUntilTheClientCloses) {
    struct Case {
        char first;
        bool realtimeHost;
        std::string diagnostic;
        std::string answer;
    };
    for (const Case& c : {Case{'f', true, "Features mode not supported\n", ""},
                          Case{'x', true, "Unknown command 'x'\n", ""},
                          Case{'R', false, "Realtime mode not supported\n", ""},
                          Case{'a', true, "", std::string(2, '\0')}}) {
        SCOPED_TRACE(std::string(1, c.first));
        Rig rig(c.realtimeHost);
        fy::DiagnosticCapture capture;
        auto client = rig.connect();
        ASSERT_TRUE(client);
        // Read as commands, the bytes after the first would open a realtime session.
        ASSERT_TRUE(client->send(std::string(1, c.first) + "R1C"));
        ASSERT_TRUE(driveUntil(rig.handler, [&] {
            return capture.text() == c.diagnostic && client->received == c.answer;
        }, {client.get()}));
        pollTimes(rig.handler, 5);
        client->collect();
        EXPECT_EQ(capture.text(), c.diagnostic);
        EXPECT_EQ(client->received, c.answer);
        EXPECT_TRUE(rig.realtime.events.empty());
        EXPECT_EQ(rig.handler.clientCount(), 1u);
        client->close();
        EXPECT_TRUE(rig.clientsLeft(0));
    }
}

TEST(ClientSession, CommandExchangeAnswersAndReturnsToCommandState) {
    for (bool supported : {true, false}) {
        SCOPED_TRACE(supported);
        Rig rig;
        rig.configure.clientConfigSupported = supported;
        fy::DiagnosticCapture capture;
        auto client = rig.connect();
        ASSERT_TRUE(client);
        ASSERT_TRUE(client->send(commandRequest("") + "x"));
        std::string expected = commandReply(supported ? "[\"error\",\"bad_command\"]" : "[\"error\",\"unsupported\"]");
        std::string diagnostics = std::string(supported ? "" : "Got client config request without support.\n") +
                                  "Unknown command 'x'\n";
        ASSERT_TRUE(driveUntil(rig.handler, [&] { return capture.text() == diagnostics; }, {client.get()}));
        EXPECT_EQ(client->received, expected);
    }
}

TEST(ClientSession, HalfSentCommandLengthHoldsOnlyItsOwnSession) {
    Rig rig;
    auto slow = rig.connect();
    auto quick = rig.connect();
    ASSERT_TRUE(slow && quick);
    std::string request = commandRequest("[\"get_thresholds\"]");
    ASSERT_TRUE(slow->send(request.substr(0, 3)));  // 'C' and half of the length
    pollTimes(rig.handler, 3);
    ASSERT_TRUE(quick->send(commandRequest("[\"want_cameras\",[\"cam1\"]]") + request));
    std::string answers = commandReply("\"ok\"") + commandReply("[\"result\",[20]]");
    ASSERT_TRUE(receive(rig.handler, *quick, answers.size()));
    EXPECT_EQ(quick->received, answers);
    slow->collect();
    EXPECT_EQ(slow->received, "");

    ASSERT_TRUE(slow->send(request.substr(3)));
    std::string noCameras = commandReply("[\"error\",\"no_wanted_cameras\"]");
    ASSERT_TRUE(receive(rig.handler, *slow, noCameras.size()));
    EXPECT_EQ(slow->received, noCameras);
    // A peer that leaves in the middle of an exchange ends its session.
    ASSERT_TRUE(slow->send("C" + u32(10) + "[\"ab"));
    slow->close();
    EXPECT_TRUE(rig.clientsLeft(1));
}

TEST(ClientSession, ConnectionThatCannotBeMadeNonBlockingIsNeverServed) {
    FakeConfigure configure;
    SessionServices record(configure, testModes());
    auto script = std::make_shared<ScriptedConnection::Record>();
    script->modeFails = true;
    script->incoming = "a";
    ScriptedConnection connection(script);
    RyStoreProtocol::RealClock clock;
    RyStoreMultiClientHandlerBase::Client client(connection, record, clock);
    EXPECT_EQ(client.state(), RyStoreMultiClientHandlerBase::Client::exited);

    // Polling an ended session is the caller's mistake, and says so.
    fy::DiagnosticCapture capture;
    client.socket().drainInput();
    client.process();
    EXPECT_EQ(capture.text(), "Client: Unknown state: exited\n");
    EXPECT_EQ(client.socket().input().unreadBytes(), 1u);
    EXPECT_EQ(client.state(), RyStoreMultiClientHandlerBase::Client::exited);
}

}  // namespace
