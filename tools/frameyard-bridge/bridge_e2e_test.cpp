// frameyard-bridge between frameyard-simhost and a three-server NATS cluster on loopback, with
// subscribers on every server and a direct frameyard client to compare against.
#include <gtest/gtest.h>
#include <nats/nats.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <future>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <frameyard/client.h>

#include "tools/frameyard-bridge/frame_payload.h"
#include "tools/tools_test_support.h"
#include "toolkit/test_prerequisite.h"

namespace {

using Clock = std::chrono::steady_clock;
using toolstest::Process;

bool natsServerPresent() { return access(FY_NATS_SERVER_PATH, X_OK) == 0; }

#define REQUIRE_NATS_SERVER() \
    FY_REQUIRE_PREREQUISITE(natsServerPresent(), "nats-server not found at " FY_NATS_SERVER_PATH " (Debian package nats-server)")

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

std::string url(int port) { return "nats://127.0.0.1:" + std::to_string(port); }

// nats-server processes on free loopback ports: three routed into one cluster, or one alone
// (with JetStream when asked).
class NatsServers {
public:
    static std::unique_ptr<NatsServers> cluster() {
        auto servers = std::make_unique<NatsServers>();
        std::vector<int> routePorts;
        for (int i = 0; i < 3; ++i) {
            servers->clientPorts.push_back(toolstest::freePort());
            routePorts.push_back(toolstest::freePort());
        }
        for (size_t i = 0; i < 3; ++i) {
            std::string routes;
            for (size_t j = 0; j < 3; ++j) {
                if (j != i) routes += (routes.empty() ? "" : ",") + std::string("nats://127.0.0.1:") + std::to_string(routePorts[j]);
            }
            servers->start(i, {"--cluster_name", "fytest", "--cluster", url(routePorts[i]), "--routes", routes});
        }
        return servers;
    }

    static std::unique_ptr<NatsServers> single(const std::string& jetstreamDir) {
        auto servers = std::make_unique<NatsServers>();
        servers->clientPorts.push_back(toolstest::freePort());
        servers->start(0, {"-js", "-sd", jetstreamDir});
        return servers;
    }

    void kill(size_t index) { processes[index]->stop(SIGKILL); }

    std::vector<int> clientPorts;
    std::vector<std::unique_ptr<Process>> processes;

private:
    void start(size_t index, std::vector<std::string> extra) {
        std::vector<std::string> argv{FY_NATS_SERVER_PATH, "-a", "127.0.0.1", "-p", std::to_string(clientPorts[index]),
                                      "-n", "fy" + std::to_string(index)};
        argv.insert(argv.end(), extra.begin(), extra.end());
        processes.push_back(std::make_unique<Process>(argv));
        int port = clientPorts[index];
        EXPECT_TRUE(waitUntil([port] { return toolstest::canConnect(port); }, 5000)) << "nats-server on " << port;
    }
};

// One libnats connection to one server.
class NatsClient {
public:
    explicit NatsClient(int port) {
        std::string address = url(port);
        EXPECT_EQ(natsConnection_ConnectTo(&connection, address.c_str()), NATS_OK) << address;
    }
    ~NatsClient() { natsConnection_Destroy(connection); }

    natsSubscription* subscribe(const std::string& subject) {
        natsSubscription* subscription = nullptr;
        EXPECT_EQ(natsConnection_SubscribeSync(&subscription, connection, subject.c_str()), NATS_OK);
        natsSubscription_SetPendingLimits(subscription, -1, -1);
        natsConnection_Flush(connection);
        subscriptions.emplace_back(subscription, natsSubscription_Destroy);
        return subscription;
    }

    // The reply's text, or the status text of the failure ("No Responders Available For Request", ...).
    std::string request(const std::string& subject, const std::string& body) {
        natsMsg* reply = nullptr;
        natsStatus status = natsConnection_RequestString(&reply, connection, subject.c_str(), body.c_str(), 3000);
        if (status != NATS_OK) return std::string("status: ") + natsStatus_GetText(status);
        std::string text(natsMsg_GetData(reply), static_cast<size_t>(natsMsg_GetDataLength(reply)));
        natsMsg_Destroy(reply);
        return text;
    }

    natsConnection* connection = nullptr;
    std::vector<std::unique_ptr<natsSubscription, void (*)(natsSubscription*)>> subscriptions;
};

struct ReceivedFrame {
    long number = -1;
    std::string timecode;
    bridge::DecodedFrame cameras;
};

std::string header(natsMsg* message, const char* name) {
    const char* value = nullptr;
    return natsMsgHeader_Get(message, name, &value) == NATS_OK && value != nullptr ? value : "";
}

// The next message within waitMs, or null.
std::unique_ptr<natsMsg, void (*)(natsMsg*)> nextMessage(natsSubscription* subscription, int waitMs) {
    natsMsg* message = nullptr;
    if (natsSubscription_NextMsg(&message, subscription, waitMs) != NATS_OK) message = nullptr;
    return {message, natsMsg_Destroy};
}

std::optional<ReceivedFrame> nextFrame(natsSubscription* subscription, int waitMs) {
    auto message = nextMessage(subscription, waitMs);
    if (!message) return std::nullopt;
    ReceivedFrame frame;
    frame.number = std::stol(header(message.get(), "Frameyard-Frame"));
    frame.timecode = header(message.get(), "Frameyard-Timecode");
    auto decoded = bridge::decodeFramePayload(
        std::string_view(natsMsg_GetData(message.get()), static_cast<size_t>(natsMsg_GetDataLength(message.get()))));
    EXPECT_TRUE(decoded.has_value()) << "frame " << frame.number << " does not decode";
    if (decoded) frame.cameras = std::move(*decoded);
    return frame;
}

std::vector<ReceivedFrame> framesFor(natsSubscription* subscription, int milliseconds) {
    std::vector<ReceivedFrame> frames;
    auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (Clock::now() < end) {
        if (auto frame = nextFrame(subscription, 100)) frames.push_back(std::move(*frame));
    }
    return frames;
}

std::vector<std::string> eventsFor(natsSubscription* subscription, int milliseconds) {
    std::vector<std::string> events;
    auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (Clock::now() < end) {
        if (auto message = nextMessage(subscription, 50)) {
            events.emplace_back(natsMsg_GetData(message.get()), static_cast<size_t>(natsMsg_GetDataLength(message.get())));
        }
    }
    return events;
}

// What a direct frameyard client receives, by timecode.
std::map<std::string, bridge::DecodedFrame> directFrames(int port, int milliseconds) {
    frameyard::RealtimeOptions options;
    frameyard::RealtimeStream stream(frameyard::Endpoint{"127.0.0.1", port, 5000}, options);
    std::map<std::string, bridge::DecodedFrame> frames;
    frameyard::Frame frame;
    std::string message;
    auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (Clock::now() < end) {
        if (stream.next(frame, message, 100) != frameyard::Got::frame || !frame.timecode) continue;
        bridge::DecodedFrame& cameras = frames[frameyard::formatTimecode(*frame.timecode)];
        for (size_t c = 0; c < frame.cameraCount(); ++c) {
            auto& points = cameras.emplace_back();
            for (const frameyard::Centroid& centroid : frame.camera(c)) points.push_back({centroid.x, centroid.y});
        }
    }
    return frames;
}

void expectConsecutive(const std::vector<ReceivedFrame>& frames, const std::string& who) {
    for (size_t i = 1; i < frames.size(); ++i) {
        ASSERT_EQ(frames[i].number, frames[i - 1].number + 1) << who << " at its frame " << i;
    }
}

std::unique_ptr<Process> startBridge(int hostPort, const std::string& nats, std::vector<std::string> extra = {}) {
    std::vector<std::string> argv{FY_BRIDGE_PATH, "--port", std::to_string(hostPort), "--nats", nats,
                                  "--seconds", "60", "--quiet"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return std::make_unique<Process>(argv);
}

bool contains(const std::vector<std::string>& texts, const std::string& part) {
    for (const std::string& text : texts) {
        if (text.find(part) != std::string::npos) return true;
    }
    return false;
}

// Waits until messages published on server 0 reach the other two (routes and interest are up).
void waitForRoutes(NatsServers& servers) {
    NatsClient publisher(servers.clientPorts[0]);
    NatsClient far1(servers.clientPorts[1]), far2(servers.clientPorts[2]);
    natsSubscription* s1 = far1.subscribe("fytest.probe");
    natsSubscription* s2 = far2.subscribe("fytest.probe");
    bool got1 = false, got2 = false;
    ASSERT_TRUE(waitUntil([&] {
        natsConnection_PublishString(publisher.connection, "fytest.probe", "x");
        natsConnection_Flush(publisher.connection);
        got1 = got1 || nextMessage(s1, 20) != nullptr;
        got2 = got2 || nextMessage(s2, 20) != nullptr;
        return got1 && got2;
    }, 5000)) << "the cluster's routes did not come up";
}

TEST(BridgeCluster, EverySubscriberGetsEveryFrameAsTheHostSentItAndEventsAndCameras) {
    REQUIRE_NATS_SERVER();
    auto servers = NatsServers::cluster();
    waitForRoutes(*servers);
    toolstest::SimHost host({"--cameras", "3", "--blobs", "6", "--fps", "100", "--quiet"});
    std::vector<std::unique_ptr<NatsClient>> clients;
    std::vector<natsSubscription*> frameSubs, eventSubs;
    for (int port : servers->clientPorts) {
        clients.push_back(std::make_unique<NatsClient>(port));
        frameSubs.push_back(clients.back()->subscribe("fy.frames"));
        eventSubs.push_back(clients.back()->subscribe("fy.events"));
    }
    auto bridge = startBridge(host.port(), url(servers->clientPorts[0]), {"--prefix", "fy"});

    auto direct = std::async(std::launch::async, [&] { return directFrames(host.port(), 2000); });
    std::vector<std::future<std::vector<ReceivedFrame>>> received;
    for (natsSubscription* subscription : frameSubs) {
        received.push_back(std::async(std::launch::async, [subscription] { return framesFor(subscription, 2500); }));
    }
    std::map<std::string, bridge::DecodedFrame> expected = direct.get();
    ASSERT_GT(expected.size(), 100u);
    for (size_t s = 0; s < received.size(); ++s) {
        std::vector<ReceivedFrame> frames = received[s].get();
        std::string who = "subscriber on server " + std::to_string(s);
        ASSERT_GT(frames.size(), 150u) << who;
        EXPECT_EQ(frames.front().number, 0) << who << " (subscribed before the bridge started)";
        expectConsecutive(frames, who);
        size_t compared = 0;
        for (const ReceivedFrame& frame : frames) {
            auto same = expected.find(frame.timecode);
            if (same == expected.end()) continue;
            ASSERT_EQ(frame.cameras, same->second) << who << ", timecode " << frame.timecode;
            ++compared;
        }
        EXPECT_GT(compared, 100u) << who;
    }
    for (size_t s = 0; s < eventSubs.size(); ++s) {
        std::vector<std::string> events = eventsFor(eventSubs[s], 200);
        EXPECT_TRUE(contains(events, "[\"online_states\",")) << "server " << s;
        EXPECT_TRUE(contains(events, "[\"rectangular_masks\",")) << "server " << s;
    }
    std::optional<frameyard::Json> cameras = frameyard::parseJson(clients[2]->request("fy.cameras", ""));
    ASSERT_TRUE(cameras && cameras->isArray());
    ASSERT_EQ(cameras->items.size(), 3u);
    EXPECT_EQ(cameras->items[1].find("name")->text, "cam2");
    EXPECT_TRUE(cameras->items[1].find("image_region") != nullptr);
    EXPECT_TRUE(cameras->items[1].find("number_settings") != nullptr);
    EXPECT_TRUE(cameras->items[1].find("threshold")->isNumber());
    // Without --control nobody answers there.
    EXPECT_EQ(clients[1]->request("fy.control.threshold", R"({"camera":"cam1","threshold":40})"),
              std::string("status: ") + natsStatus_GetText(NATS_NO_RESPONDERS));
    EXPECT_EQ(bridge->stop(SIGTERM).status, 0);
}

TEST(BridgeCluster, ControlChangesReachTheHostAndComeBackAsEvents) {
    REQUIRE_NATS_SERVER();
    auto servers = NatsServers::cluster();
    waitForRoutes(*servers);
    toolstest::SimHost host({"--cameras", "2", "--quiet"});
    NatsClient client(servers->clientPorts[1]);
    natsSubscription* events = client.subscribe("frameyard.events");
    auto bridge = startBridge(host.port(), url(servers->clientPorts[0]) + "," + url(servers->clientPorts[2]), {"--control"});
    ASSERT_TRUE(waitUntil([&] { return client.request("frameyard.cameras", "").find("cam2") != std::string::npos; }, 5000));

    EXPECT_EQ(client.request("frameyard.control.threshold", R"({"camera":"cam2","threshold":77})"), "\"ok\"");
    EXPECT_TRUE(waitUntil([&] { return frameyard::Host("127.0.0.1", host.port()).thresholds().at(1) == 77; }, 3000));
    std::vector<std::string> seen = eventsFor(events, 500);
    EXPECT_TRUE(contains(seen, R"(["camera",1,["setting_changed","_threshold",77]])"));
    EXPECT_NE(client.request("frameyard.cameras", "").find("\"threshold\":77"), std::string::npos);

    EXPECT_EQ(client.request("frameyard.control.setting", R"({"camera":"cam1","name":"gain","value":2.5})"), "\"ok\"");
    EXPECT_TRUE(contains(eventsFor(events, 500), R"(["camera",0,["setting_changed","gain",2.5]])"));
    EXPECT_NE(client.request("frameyard.cameras", "").find(R"({"name":"gain","value":2.5,)"), std::string::npos);

    for (const char* bad : {"not json", "[1,2]", R"({"camera":"cam1"})", R"({"camera":1,"threshold":4})",
                            R"({"camera":"cam1","threshold":"40"})"}) {
        EXPECT_EQ(client.request("frameyard.control.threshold", bad), R"(["error","bad_request"])") << bad;
    }
    EXPECT_EQ(client.request("frameyard.control.setting", R"({"camera":"cam1","name":"gain"})"), R"(["error","bad_request"])");
    EXPECT_EQ(client.request("frameyard.control.threshold", R"({"camera":"cam1","threshold":256})").rfind("[\"error\",", 0), 0u);
    EXPECT_EQ(client.request("frameyard.control.threshold", R"({"camera":"nope","threshold":2})").rfind("[\"error\",", 0), 0u);
    EXPECT_EQ(client.request("frameyard.control.setting", R"({"camera":"nope","name":"gain","value":1})").rfind("[\"error\",", 0), 0u);
    EXPECT_EQ(bridge->stop(SIGINT).status, 0);
}

TEST(BridgeCluster, LosingTheBridgesServerMovesItWithoutRepeatingFrames) {
    REQUIRE_NATS_SERVER();
    auto servers = NatsServers::cluster();
    waitForRoutes(*servers);
    toolstest::SimHost host({"--cameras", "2", "--blobs", "3", "--fps", "100", "--quiet"});
    NatsClient far1(servers->clientPorts[1]), far2(servers->clientPorts[2]);
    std::vector<natsSubscription*> subs{far1.subscribe("frameyard.frames"), far2.subscribe("frameyard.frames")};
    // Only server 0 is named: the others are known from what the cluster advertises.
    auto bridge = startBridge(host.port(), url(servers->clientPorts[0]));
    ASSERT_TRUE(nextFrame(subs[0], 5000).has_value());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    servers->kill(0);
    for (size_t s = 0; s < subs.size(); ++s) {
        std::vector<ReceivedFrame> frames = framesFor(subs[s], s == 0 ? 2500 : 100);
        ASSERT_FALSE(frames.empty());
        for (size_t i = 1; i < frames.size(); ++i) ASSERT_GT(frames[i].number, frames[i - 1].number) << "a frame repeated";
        // Frames published after the move, still numbered on.
        auto last = nextFrame(subs[s], 2000);
        ASSERT_TRUE(last.has_value()) << "subscriber " << s << " stopped receiving";
        EXPECT_GT(last->number, frames.back().number);
    }
    EXPECT_EQ(bridge->stop(SIGTERM).status, 0);
}

TEST(BridgeCluster, FramesResumeNumberedFromZeroWithinThreeSecondsOfAHostRestart) {
    REQUIRE_NATS_SERVER();
    auto servers = NatsServers::cluster();
    toolstest::SimHost first({"--cameras", "2", "--quiet"});
    int port = first.port();
    NatsClient client(servers->clientPorts[2]);
    natsSubscription* frames = client.subscribe("frameyard.frames");
    natsSubscription* events = client.subscribe("frameyard.events");
    auto bridge = startBridge(port, url(servers->clientPorts[2]));
    ASSERT_TRUE(nextFrame(frames, 5000).has_value());
    first.stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    while (nextMessage(frames, 0)) {}
    while (nextMessage(events, 0)) {}

    Process second({FY_SIMHOST_PATH, "--port", std::to_string(port), "--cameras", "2", "--quiet", "--seconds", "30"});
    ASSERT_TRUE(waitUntil([port] { return toolstest::canConnect(port); }, 5000));
    auto accepting = Clock::now();
    auto resumed = nextFrame(frames, 5000);
    ASSERT_TRUE(resumed.has_value());
    auto after = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - accepting).count();
    EXPECT_LT(after, 3000) << "ms from the host accepting again to the first frame";
    std::printf("first frame %lld ms after the host accepted again\n", static_cast<long long>(after));
    EXPECT_EQ(resumed->number, 0);
    EXPECT_TRUE(contains(eventsFor(events, 200), R"(["bridge","host_reconnected"])"));
    EXPECT_EQ(bridge->stop(SIGTERM).status, 0);
    second.stop(SIGTERM);
}

TEST(BridgeJetStream, CreatesTheStreamThatCapturesFramesAndEvents) {
    REQUIRE_NATS_SERVER();
    char directoryTemplate[] = "/tmp/fy-jetstream-XXXXXX";
    ASSERT_NE(mkdtemp(directoryTemplate), nullptr);
    std::string directory = directoryTemplate;
    auto server = NatsServers::single(directory);
    toolstest::SimHost host({"--cameras", "1", "--quiet"});
    auto bridge = startBridge(host.port(), url(server->clientPorts[0]), {"--jetstream", "FYTEST", "--max-age", "120"});
    NatsClient client(server->clientPorts[0]);
    jsCtx* js = nullptr;
    ASSERT_EQ(natsConnection_JetStream(&js, client.connection, nullptr), NATS_OK);
    jsStreamInfo* info = nullptr;
    bool captured = waitUntil([&] {
        if (info) jsStreamInfo_Destroy(info);
        info = nullptr;
        return js_GetStreamInfo(&info, js, "FYTEST", nullptr, nullptr) == NATS_OK && info->State.Msgs > 50;
    }, 5000);
    ASSERT_TRUE(captured) << "no stream, or it holds no frames";
    EXPECT_EQ(info->Config->Storage, js_FileStorage);
    EXPECT_EQ(info->Config->Replicas, 1);
    EXPECT_EQ(info->Config->MaxAge, 120LL * 1000000000LL);
    ASSERT_EQ(info->Config->SubjectsLen, 2);
    EXPECT_STREQ(info->Config->Subjects[0], "frameyard.frames");
    EXPECT_STREQ(info->Config->Subjects[1], "frameyard.events");
    jsStreamInfo_Destroy(info);
    jsCtx_Destroy(js);
    EXPECT_EQ(bridge->stop(SIGTERM).status, 0);
    server.reset();
    std::filesystem::remove_all(directory);
}

}  // namespace
