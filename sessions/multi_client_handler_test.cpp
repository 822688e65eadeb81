#include "sessions/multi_client_handler.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <memory>

#include "net/system_socket.h"
#include "protocol/frames/frame_format.h"
#include "sessions/session_test_support.h"
#include "toolkit/diagnostics.h"

namespace {

using namespace session_test;
using Events = std::vector<std::string>;

const RyStoreProtocol::Timecode timecode{1, 2, 3, 4};

std::string frameBytes(const CountingFrame& frame, bool compact, bool timecodes) {
    LuDArray<int> cameras;
    for (int i = 0; i < frame.globListCount(); ++i) cameras.append(i);
    RyStoreProtocol::ClientGlobs view(frame, cameras);
    RyStoreProtocol::ClientMaskInfo masks(frame, cameras);
    std::vector<uint8_t> bytes = RyStoreProtocol::encodeRealtimeFrame(view, timecode, masks, compact, timecodes, false);
    return std::string(bytes.begin(), bytes.end());
}

TEST(MultiClientHandler, AcceptsOneConnectionPerListeningSocketPerPoll) {
    FakeConfigure configure;
    RyStoreMultiClientHandler handler(configure, testModes());
    Listener first;
    Listener second;
    handler.addListeningSocket(first.descriptor);
    handler.addListeningSocket(second.descriptor);
    TestClient a(first.port), b(first.port), c(second.port);
    ASSERT_TRUE(a.ok() && b.ok() && c.ok());
    handler.process();
    EXPECT_EQ(handler.clientCount(), 2u);
    handler.process();
    EXPECT_EQ(handler.clientCount(), 3u);

    handler.clearListeningSockets();
    TestClient d(first.port);
    pollTimes(handler, 3);
    EXPECT_EQ(handler.clientCount(), 3u);
}

TEST(MultiClientHandler, HandshakeClientsStartTheHostOnceAndStopItOnce) {
    Rig rig;
    auto first = rig.connect();
    auto second = rig.connect();
    ASSERT_TRUE(first && second);
    // The timecode query option, the final option byte, and '1' answering the query.
    ASSERT_TRUE(first->send("Rt11"));
    ASSERT_TRUE(driveUntil(rig.handler, [&] { return rig.realtime.count("start") == 1; }));
    ASSERT_TRUE(second->send("Rt11"));
    ASSERT_TRUE(receive(rig.handler, *second, 1));
    pollTimes(rig.handler, 3);
    // Each joining client re-announces the union; the host is started once.
    EXPECT_EQ(rig.realtime.events, (Events{"wanted:0,1,2", "start", "wanted:0,1,2"}));

    CountingFrame frame(3);
    rig.handler.distributeFrame(frame, timecode, frame);  // answered with 'r'
    ASSERT_TRUE(receive(rig.handler, *first, 2) && receive(rig.handler, *second, 2));
    ASSERT_TRUE(first->send("g") && second->send("g"));
    pollTimes(rig.handler, 3);
    rig.handler.distributeFrame(frame, timecode, frame);
    rig.handler.serveDueSessions();
    std::string expected = "tr" + frameBytes(frame, false, true);
    ASSERT_TRUE(receive(rig.handler, *first, expected.size()) && receive(rig.handler, *second, expected.size()));
    EXPECT_EQ(first->received, expected);
    EXPECT_EQ(second->received, expected);

    first->close();
    ASSERT_TRUE(rig.clientsLeft(1));
    EXPECT_EQ(rig.realtime.count("stop"), 0);
    second->close();
    ASSERT_TRUE(rig.clientsLeft(0));
    pollTimes(rig.handler, 3);
    EXPECT_EQ(rig.realtime.count("start"), 1);
    EXPECT_EQ(rig.realtime.count("stop"), 1);
    EXPECT_EQ(rig.realtime.events.back(), "stop");
    EXPECT_FALSE(rig.handler.isRealtimeActive());
}

TEST(MultiClientHandler, ClientWithoutHandshakeStartsAndStopsTheHost) {
    Rig rig;
    auto client = rig.connect();
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->send("R1"));
    ASSERT_TRUE(driveUntil(rig.handler, [&] { return rig.handler.isRealtimeActive(); }));
    CountingFrame frame(3);
    rig.handler.distributeFrame(frame, timecode, frame);
    rig.handler.serveDueSessions();
    std::string expected = frameBytes(frame, false, false);
    ASSERT_TRUE(receive(rig.handler, *client, expected.size()));
    EXPECT_EQ(client->received, expected);
    client->close();
    ASSERT_TRUE(driveUntil(rig.handler, [&] { return !rig.handler.isRealtimeActive(); }));
    EXPECT_EQ(rig.realtime.events, (Events{"wanted:0,1,2", "start", "stop"}));
}

TEST(MultiClientHandler, EndedSessionIsCountedUntilTheRemovalPass) {
    Rig rig;
    auto first = rig.connect();
    auto second = rig.connect();
    ASSERT_TRUE(first && second && first->send("R1") && second->send("R1"));
    ASSERT_TRUE(driveUntil(rig.handler, [&] { return rig.realtime.count("wanted:0,1,2") == 2; }));
    std::vector<unsigned int> seen;
    rig.configure.fakeConfig.onThresholdChange = [&] { seen.push_back(rig.handler.clientCount()); };
    rig.realtime.onStop = [&] { seen.push_back(rig.handler.clientCount()); };
    fy::DiagnosticCapture capture;
    // Each session applies a threshold command and then ends, both in one poll: the session
    // served second still sees the first one counted.
    for (TestClient* client : {first.get(), second.get()}) {
        ASSERT_TRUE(client->send(std::string("t\x00\x01\x00\x28", 5)));
        client->close();
    }
    rig.handler.process();
    EXPECT_EQ(seen, (std::vector<unsigned int>{2, 2, 0}));
    EXPECT_EQ(rig.handler.clientCount(), 0u);
}

TEST(MultiClientHandler, FrameIsEncodedOncePerClientView) {
    Rig rig;
    rig.configure.fakeConfig.cameras = 2;
    auto plainA = rig.connect();
    auto plainB = rig.connect();
    auto compact = rig.connect();
    ASSERT_TRUE(plainA && plainB && compact);
    ASSERT_TRUE(plainA->send("R1") && plainB->send("R1") && compact->send("Rf1"));
    pollTimes(rig.handler, 3);
    CountingFrame frame(2);
    rig.handler.distributeFrame(frame, timecode, frame);
    rig.handler.serveDueSessions();
    EXPECT_EQ(frame.centroidReads, 4);  // two views of two cameras
    std::string plain = frameBytes(frame, false, false);
    std::string packed = frameBytes(frame, true, false);
    ASSERT_TRUE(receive(rig.handler, *plainA, plain.size()) && receive(rig.handler, *plainB, plain.size()) &&
                receive(rig.handler, *compact, packed.size()));
    EXPECT_EQ(plainA->received, plain);
    EXPECT_EQ(plainB->received, plain);
    EXPECT_EQ(compact->received, packed);
}

TEST(MultiClientHandler, BrokenConnectionsEndOnlyTheirOwnSessions) {
    Rig rig;
    auto healthy = rig.connect();
    ASSERT_TRUE(healthy && healthy->send("R1"));
    auto modeless = std::make_shared<ScriptedConnection::Record>();
    modeless->modeFails = true;
    modeless->incoming = "R1";
    auto unwritable = std::make_shared<ScriptedConnection::Record>();
    unwritable->incoming = "R1";
    rig.handler.addClient(new ScriptedConnection(modeless));
    rig.handler.addClient(new ScriptedConnection(unwritable));
    pollTimes(rig.handler, 3);
    EXPECT_TRUE(modeless->closed && modeless->deleted);
    EXPECT_EQ(modeless->incoming, "R1");  // never read
    ASSERT_EQ(rig.handler.clientCount(), 2u);

    fy::DiagnosticCapture capture;
    unwritable->failWrites = true;
    CountingFrame frame(3);
    rig.handler.distributeFrame(frame, timecode, frame);
    rig.handler.serveDueSessions();
    EXPECT_EQ(capture.text(), "sendGlobs failed\n");
    EXPECT_TRUE(unwritable->closed && unwritable->deleted);
    EXPECT_EQ(rig.handler.clientCount(), 1u);
    std::string expected = frameBytes(frame, false, false);
    ASSERT_TRUE(receive(rig.handler, *healthy, expected.size()));
    EXPECT_EQ(healthy->received, expected);
    EXPECT_EQ(rig.realtime.count("start"), 1);
    EXPECT_EQ(rig.realtime.count("stop"), 0);
}

TEST(MultiClientHandler, StatusMessagesReachOnlySubscribedClients) {
    Rig rig;
    rig.configure.fakeConfig.cameras = 2;
    rig.handler.rateChanged(RyStoreProtocol::frameRateKind, 25.0f);  // stored before any client
    auto subscribed = rig.connect();
    auto other = rig.connect();
    ASSERT_TRUE(subscribed && other);
    // The command exchange before 'R' gives the realtime session its camera list [1,0] and
    // camera messages; the monitors are enabled inside the stream.
    ASSERT_TRUE(subscribed->send(commandRequest("\"enable_realtime_messages\"") +
                                 commandRequest("[\"want_cameras\",[\"cam1\",\"cam0\"]]") + "R1" +
                                 realtimeMessage("\"enable_frame_rate_monitor\"") +
                                 realtimeMessage("\"enable_rectangular_masks_monitor\"")));
    ASSERT_TRUE(other->send("R1"));
    std::string opening = commandReply("\"ok\"") + commandReply("\"ok\"") +
                          realtimeMessage("[\"frame_rate\",25]") +
                          realtimeMessage("[\"rectangular_masks\",[null,null]]");
    ASSERT_TRUE(receive(rig.handler, *subscribed, opening.size()));
    EXPECT_EQ(subscribed->take(opening.size()), opening);

    rig.handler.rateChanged(RyStoreProtocol::frameRateKind, 25.0f);  // unchanged
    rig.handler.rateChanged(RyStoreProtocol::timecodeRateKind, 5.0f);
    rig.handler.rateChanged(RyStoreProtocol::frameRateKind, 29.97f);
    rig.handler.announceSettingChanged(0, "gain", 2.0);
    rig.handler.announceSettingChanged(5, "gain", 3.0);
    LuDArray<LuNullable<LuDArray<RyRectangularMask>>> table;
    table.setSize(1);
    table[0] = LuDArray<RyRectangularMask>();
    rig.handler.broadcastRectangularMasks(table);
    std::string expected = realtimeMessage("[\"frame_rate\",29.97]") +
                           realtimeMessage("[\"camera\",1,[\"setting_changed\",\"gain\",2]]") +
                           realtimeMessage("[\"rectangular_masks\",[null,[]]]");
    ASSERT_TRUE(receive(rig.handler, *subscribed, expected.size()));
    pollTimes(rig.handler, 3);
    subscribed->collect();
    other->collect();
    EXPECT_EQ(subscribed->received, expected);
    EXPECT_EQ(other->received, "");
}

TEST(MultiClientHandler, WantedCamerasAreTheUnionOverRealtimeClients) {
    Rig rig;
    auto narrow = rig.connect();
    auto wide = rig.connect();
    ASSERT_TRUE(narrow && wide);
    ASSERT_TRUE(narrow->send(commandRequest("[\"want_cameras\",[\"cam2\"]]") + "R1"));
    ASSERT_TRUE(receive(rig.handler, *narrow, 8));  // the "ok"
    ASSERT_TRUE(wide->send("R1"));
    ASSERT_TRUE(driveUntil(rig.handler, [&] { return rig.realtime.events.size() == 3; }));
    EXPECT_EQ(rig.realtime.events, (Events{"wanted:2", "start", "wanted:0,1,2"}));

    RecordingRealtime replacement;
    rig.handler.setRealtimeHandler(&replacement);  // hears the current union at once
    wide->close();
    ASSERT_TRUE(rig.clientsLeft(1));
    narrow->close();
    ASSERT_TRUE(rig.clientsLeft(0));
    EXPECT_EQ(replacement.events, (Events{"wanted:0,1,2", "wanted:2", "stop"}));
}

// Quiet sessions are left alone between polls; what their clients do must still reach them.
TEST(MultiClientHandler, QuietSessionsStillHearTheirClients) {
    Rig rig;
    auto leaving = rig.connect();
    auto asking = rig.connect();
    auto silent = rig.connect();
    ASSERT_TRUE(leaving && asking && silent);
    pollTimes(rig.handler, 5);
    leaving->close();
    ASSERT_TRUE(rig.clientsLeft(2));
    pollTimes(rig.handler, 5);
    // The command exchange leaves the session waiting for its next command, so it can ask twice.
    std::string reply = commandReply("\"ok\"");
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(asking->send(commandRequest("\"enable_realtime_messages\"")));
        ASSERT_TRUE(receive(rig.handler, *asking, reply.size())) << "round " << round;
        EXPECT_EQ(asking->take(reply.size()), reply);
        pollTimes(rig.handler, 3);
    }
    EXPECT_EQ(rig.handler.clientCount(), 2u);
    silent->collect();
    EXPECT_EQ(silent->received, "");
}

// Frames the client's socket could not take wait in the session's writer; they must keep
// going out as the client reads, although the client sends nothing at all.
TEST(MultiClientHandler, QueuedOutputDrainsWithoutNewInput) {
    Rig rig;
    rig.configure.fakeConfig.cameras = 200;
    int small = 4096;
    // Accepted connections inherit the listener's send buffer size.
    ASSERT_EQ(::setsockopt(rig.listener.descriptor, SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
    auto client = rig.connect();
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->send("R1"));
    ASSERT_TRUE(driveUntil(rig.handler, [&] { return rig.handler.isRealtimeActive(); }));

    CountingFrame frame(200);
    std::string one = frameBytes(frame, false, false);
    std::string expected;
    // Far more than the server's send buffer and the client's receive window hold.
    while (expected.size() < 2 * 1024 * 1024) {
        rig.handler.distributeFrame(frame, timecode, frame);
        rig.handler.serveDueSessions();
        expected += one;
    }
    ASSERT_TRUE(receive(rig.handler, *client, expected.size())) << client->received.size() << " of " << expected.size();
    EXPECT_TRUE(client->received == expected);
    EXPECT_EQ(rig.handler.clientCount(), 1u);
}

// An aborted connection's descriptor is closed at once; a connection accepted while its session
// still exists can get the same number, and removing the old session must not stop the
// handler from watching the new one.
TEST(MultiClientHandler, ReusedDescriptorStaysWatchedWhenTheAbortedSessionGoes) {
    Rig rig;
    Listener side;
    TestClient first(side.port);
    int firstDescriptor = ::accept(side.descriptor, nullptr, nullptr);
    ASSERT_GE(firstDescriptor, 0);
    auto* firstSocket = new RySystemSocket(firstDescriptor);
    rig.handler.addClient(firstSocket);
    ASSERT_TRUE(first.send("R1"));
    ASSERT_TRUE(driveUntil(rig.handler, [&] { return rig.handler.isRealtimeActive(); }));

    TestClient second(side.port);  // connected before the abort frees the number
    fy::DiagnosticCapture capture;
    firstSocket->abort();
    int secondDescriptor = ::accept(side.descriptor, nullptr, nullptr);
    ASSERT_EQ(secondDescriptor, firstDescriptor);
    rig.handler.addClient(new RySystemSocket(secondDescriptor));
    pollTimes(rig.handler, 2);

    // The frame cannot be written to the aborted connection, which ends its session.
    CountingFrame frame(3);
    rig.handler.distributeFrame(frame, timecode, frame);
    rig.handler.serveDueSessions();
    EXPECT_EQ(capture.text(), "Aborting socket\nsendGlobs failed\n");
    ASSERT_EQ(rig.handler.clientCount(), 1u);

    ASSERT_TRUE(second.send("a"));
    ASSERT_TRUE(receive(rig.handler, second, 2));
    EXPECT_EQ(second.received, std::string(2, '\0'));
}

// Stopping and restarting to listen usually gives the new listening socket the old number.
TEST(MultiClientHandler, NewListenerWithTheOldNumberIsWatched) {
    FakeConfigure configure;
    RyStoreMultiClientHandler handler(configure, testModes());
    auto old = std::make_unique<Listener>();
    int number = old->descriptor;
    handler.addListeningSocket(number);
    TestClient early(old->port);
    ASSERT_TRUE(driveUntil(handler, [&] { return handler.clientCount() == 1; }));

    handler.clearListeningSockets();
    old.reset();
    Listener renewed;
    ASSERT_EQ(renewed.descriptor, number);
    handler.addListeningSocket(renewed.descriptor);
    TestClient late(renewed.port);
    ASSERT_TRUE(late.ok());
    EXPECT_TRUE(driveUntil(handler, [&] { return handler.clientCount() == 2; }));
}

TEST(MultiClientHandler, LiveFeatureSelectionsAreReferenceCounted) {
    class Host : public RyStoreMultiClientHandlerBase::LiveFeatHandler {
    public:
        Events events;
        void setFeaturesWanted(int camera, bool on) override { note("features", camera, on); }
        void setImagesWanted(int camera, bool on) override { note("images", camera, on); }
        void note(const char* what, int camera, bool on) {
            events.push_back(std::string(what) + " " + std::to_string(camera) + (on ? " on" : " off"));
        }
    } host;
    FakeConfigure configure;
    RyStoreMultiClientHandler handler(configure, testModes());
    handler.setLiveFeatHandler(&host);
    handler.setFeatureCamera(3, true);
    handler.setFeatureCamera(3, true);
    handler.setImageCamera(3, true);
    handler.setFeatureCamera(3, false);
    EXPECT_EQ(host.events, (Events{"features 3 on", "images 3 on"}));
    handler.setFeatureCamera(3, false);
    handler.setImageCamera(3, false);
    handler.setImageCamera(5, false);  // released without being taken: nothing to tell
    handler.setFeatureCamera(3, true);
    EXPECT_EQ(host.events, (Events{"features 3 on", "images 3 on", "features 3 off", "images 3 off", "features 3 on"}));
}

}  // namespace
