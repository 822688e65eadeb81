// Who may connect and who may change the host, end to end over loopback: the listen address,
// the allowed and controlling client lists and the client limit. Source addresses 127.0.0.1 and
// 127.0.0.2 (both loopback on Linux) and ::1 tell the clients apart. Run against both
// libraries; what needs live features, acquisitions or array commands is libframeyard's only.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_client.h"
#include "tests/test_host.h"
#include "toolkit/diagnostics.h"
#include "toolkit/test_prerequisite.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

Bytes u16(uint16_t value) { return Bytes{static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)}; }

Bytes messageRequest(const std::string& text) {
    return bytesOf("m") + u32(static_cast<uint32_t>(text.size())) + bytesOf(text);
}

// Whether this machine can bind ::1 (a container may have no IPv6 at all).
bool hasIpv6Loopback() {
    int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

// A one-camera circular-mask table for the configure request's set-masks packet.
Bytes maskPacket() {
    Bytes table = Bytes{0x00, 0x01, 'c'} + u32(16) + u32(1) + u32(0x3F800000) + u32(0x40000000) + u32(0x40400000) +
                  Bytes{'$'};
    return bytesOf("csm") + u32(static_cast<uint32_t>(table.size())) + table;
}

class Access : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_GT(port, 0); }

    bool listen(const std::string& address = "0.0.0.0") {
        host.setListenAddress(address);
        host.setListenPort(port);
        return host.startListening();
    }

    // A client from `source` whose session the server has started.
    std::unique_ptr<TestClient> admitted(const std::string& source, const std::string& destination = "127.0.0.1") {
        unsigned int before = host.clientCount();
        auto client = std::make_unique<TestClient>(port, source, destination);
        EXPECT_TRUE(client->isConnected()) << source;
        EXPECT_TRUE(pumpUntil(host, [&] { return host.clientCount() == before + 1; })) << source;
        return client;
    }

    // A client from `source` that the system connects and the server closes without starting a
    // session, although it sent a first byte at once.
    void expectClosedOnArrival(const std::string& source, const std::string& destination = "127.0.0.1") {
        unsigned int before = host.clientCount();
        TestClient client(port, source, destination);
        ASSERT_TRUE(client.isConnected()) << source;
        ASSERT_TRUE(client.send("R1"));
        EXPECT_TRUE(client.waitForClose(host)) << source;
        EXPECT_EQ(host.clientCount(), before) << source;
    }

    std::string exchange(TestClient& client, const std::string& command) { return commandExchange(client, host, command); }

    fy::DiagnosticCapture diagnostics;
    TestHost host;
    int port = freeLoopbackPort();
};

// ---- where the server listens

TEST_F(Access, ListeningOnOneAddressLeavesConnectionsToTheOthersToTheSystem) {
    ASSERT_TRUE(listen());
    auto anyAddress = admitted("", "127.0.0.2");
    host.stopListening();

    ASSERT_TRUE(listen("127.0.0.1"));
    auto local = admitted("", "127.0.0.1");
    TestClient elsewhere(port, "", "127.0.0.2");
    EXPECT_FALSE(elsewhere.isConnected());
    EXPECT_EQ(host.clientCount(), 2u);
}

TEST_F(Access, AnAddressThatCannotBeParsedOrBoundFailsStartListeningAndTheNextOneWorks) {
    // Names are never looked up; 192.0.2.1 is a documentation address no machine has.
    for (const char* address : {"localhost", "127.1", "", "127.0.0.1 ", "::1/128", "192.0.2.1"}) {
        host.errors.clear();
        EXPECT_FALSE(listen(address)) << address;
        ASSERT_EQ(host.errors.size(), 1u) << address;
        EXPECT_THAT(host.errors[0], StartsWith("Error binding socket: ")) << address;
    }
    EXPECT_TRUE(listen("127.0.0.1"));
    auto client = admitted("127.0.0.1");
}

TEST_F(Access, ListenAddressFailuresReachTheHostInTheirEstablishedWords) {
    EXPECT_FALSE(listen("localhost"));
    EXPECT_FALSE(listen("192.0.2.1"));
    // Host texts of the listening path are cut to 1023 characters, the address to its first NUL.
    EXPECT_FALSE(listen(std::string(2000, 'x')));
    EXPECT_FALSE(listen(std::string("bad") + '\0' + "127.0.0.1"));
    ASSERT_EQ(host.errors.size(), 4u);
    EXPECT_EQ(host.errors[0], "Error binding socket: invalid listen address \"localhost\"");
    EXPECT_EQ(host.errors[1], std::string("Error binding socket: ") + std::strerror(EADDRNOTAVAIL));
    EXPECT_EQ(host.errors[2], "Error binding socket: invalid listen address \"" + std::string(1023 - 46, 'x'));
    EXPECT_EQ(host.errors[3], "Error binding socket: invalid listen address \"bad\"");
    EXPECT_THAT(host.warnings, ::testing::IsEmpty());
}

TEST_F(Access, AnIpv6ListenerServesIpv6ClientsAndNamesThemInIpv6Form) {
    FY_REQUIRE_PREREQUISITE(hasIpv6Loopback(), "no IPv6 loopback here");
    ASSERT_TRUE(host.setAllowedClients("::1"));
    ASSERT_TRUE(host.setControllingClients("fd00::/8"));
    ASSERT_TRUE(listen("::1"));
    auto reader = admitted("::1", "::1");
    ASSERT_TRUE(reader->send(bytesOf("R1t") + u16(0) + u16(40)));
    ASSERT_TRUE(pumpUntil(host, [&] { return !diagnostics.text().empty(); }));
    EXPECT_EQ(diagnostics.text(), "Refused threshold change from ::1: not a controlling client\n");
    EXPECT_EQ(host.callCount("setCameraThreshold"), 0);
    EXPECT_EQ(host.clientCount(), 1u);
}

TEST_F(Access, ADualStackListenerMatchesIpv4ClientsAgainstIpv4EntriesAndNamesThemSo) {
    FY_REQUIRE_PREREQUISITE(hasIpv6Loopback(), "no IPv6 loopback here");
    ASSERT_TRUE(host.setAllowedClients("127.0.0.2, ::1"));
    ASSERT_TRUE(listen("::"));
    expectClosedOnArrival("127.0.0.1");
    EXPECT_EQ(diagnostics.text(), "Refused connection from 127.0.0.1: not an allowed client\n");
    auto ipv4 = admitted("127.0.0.2");
    auto ipv6 = admitted("::1", "::1");
    EXPECT_EQ(host.clientCount(), 2u);
}

// ---- who may connect

TEST_F(Access, AnAllowedListClosesOtherClientsOnArrivalAndAChangeSparesRunningSessions) {
    ASSERT_TRUE(host.setAllowedClients(" 127.0.0.1 ,10.0.0.0/8"));
    ASSERT_TRUE(listen());
    expectClosedOnArrival("127.0.0.2");
    EXPECT_EQ(diagnostics.text(), "Refused connection from 127.0.0.2: not an allowed client\n");
    EXPECT_EQ(host.callCount("startRealtime"), 0);
    auto first = admitted("127.0.0.1");

    // A malformed list changes nothing.
    for (const char* list : {"127.0.0.2,", "127.0.0.2,,::1", "127.0.0.2/33", "127.0.0.2/24", "localhost"}) {
        EXPECT_FALSE(host.setAllowedClients(list)) << list;
        EXPECT_FALSE(host.setControllingClients(list)) << list;
    }
    expectClosedOnArrival("127.0.0.2");

    // A new list is for new connections; the running session goes on being served.
    ASSERT_TRUE(host.setAllowedClients("127.0.0.2/32"));
    expectClosedOnArrival("127.0.0.1");
    auto second = admitted("127.0.0.2");
    EXPECT_EQ(exchange(*first, "\"enable_realtime_messages\""), "\"ok\"");

    ASSERT_TRUE(host.setAllowedClients(""));
    auto third = admitted("127.0.0.1");
    EXPECT_EQ(host.clientCount(), 3u);
}

TEST_F(Access, TheClientLimitClosesConnectionsBeyondItAndSparesThoseRunningWhenItDrops) {
    host.setMaxClients(2);
    ASSERT_TRUE(listen());
    auto first = admitted("127.0.0.1");
    auto second = admitted("127.0.0.2");
    expectClosedOnArrival("127.0.0.2");
    EXPECT_EQ(diagnostics.text(), "Refused connection from 127.0.0.2: client limit of 2 reached\n");

    host.setMaxClients(1);
    pump(host, 10);
    EXPECT_EQ(host.clientCount(), 2u);
    EXPECT_EQ(exchange(*second, "\"enable_realtime_messages\""), "\"ok\"");
    first->close();
    ASSERT_TRUE(pumpUntil(host, [&] { return host.clientCount() == 1; }));
    expectClosedOnArrival("127.0.0.1");

    host.setMaxClients(0);
    auto third = admitted("127.0.0.1");
    auto fourth = admitted("127.0.0.1");
    EXPECT_EQ(host.clientCount(), 3u);
}

TEST_F(Access, AThousandRefusedConnectionsWriteAtMostOneLinePerSecondAndCountTheRest) {
    ASSERT_TRUE(host.setAllowedClients("127.0.0.1"));
    ASSERT_TRUE(listen());
    auto start = std::chrono::steady_clock::now();
    int closed = 0;
    // In batches, so that the test never holds many descriptors at once.
    for (int batch = 0; batch < 20; ++batch) {
        std::vector<std::unique_ptr<TestClient>> clients;
        for (int i = 0; i < 50; ++i) clients.push_back(std::make_unique<TestClient>(port, "127.0.0.2"));
        for (auto& client : clients)
            if (client->isConnected() && client->waitForClose(host)) ++closed;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(closed, 1000);
    EXPECT_EQ(host.clientCount(), 0u);

    // The first refusal and then one more line per second at most, each naming the client.
    std::string text = diagnostics.text();
    size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    EXPECT_GE(lines, 1u);
    EXPECT_LE(lines, 1u + static_cast<size_t>(seconds)) << text;
    EXPECT_THAT(text, StartsWith("Refused connection from 127.0.0.2: not an allowed client\n"));

    // Within a second of the last line the count of those left out follows on its own.
    ASSERT_TRUE(pumpUntil(host, [&] { return diagnostics.text().find("more refusals left out") != std::string::npos; },
                          std::chrono::milliseconds(2500)))
        << diagnostics.text();
    text = diagnostics.text();
    lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    EXPECT_LE(lines, 3u) << text;

    // Every refusal is a line of its own or counted in one.
    std::istringstream in(text);
    std::string line;
    size_t refusalLines = 0;
    unsigned long counted = 0;
    const std::regex count("([0-9]+) (earlier|more) refusals left out");
    while (std::getline(in, line)) {
        if (line.rfind("Refused connection from 127.0.0.2: not an allowed client", 0) == 0) ++refusalLines;
        std::smatch found;
        if (std::regex_search(line, found, count)) counted += std::stoul(found[1].str());
    }
    EXPECT_EQ(refusalLines + counted, 1000u) << text;
}

// ---- who may change the host

TEST_F(Access, AClientThatMayNotChangeTheHostStreamsAndReadsButChangesNothing) {
    ASSERT_TRUE(host.setControllingClients("127.0.0.1"));
    ASSERT_TRUE(listen());
    auto controller = admitted("127.0.0.1");
    auto reader = admitted("127.0.0.2");
    for (TestClient* client : {controller.get(), reader.get()}) {
        EXPECT_EQ(exchange(*client, "\"enable_realtime_messages\""), "\"ok\"");
        ASSERT_TRUE(client->send(bytesOf("R1") + messageRequest("\"enable_frame_rate_monitor\"")));
    }
    pump(host, 10);

    // The reader's threshold stops at the server: no host call, no notification, no line saying
    // it was made; one line saying it was refused.
    ASSERT_TRUE(reader->send(bytesOf("t") + u16(1) + u16(40)));
    ASSERT_TRUE(pumpUntil(host, [&] { return !diagnostics.text().empty(); }));
    EXPECT_EQ(diagnostics.text(), "Refused threshold change from 127.0.0.2: not a controlling client\n");
    EXPECT_TRUE(controller->staysQuiet(host));
    EXPECT_TRUE(reader->staysQuiet(host));
    EXPECT_EQ(host.callCount("setCameraThreshold"), 0);

    // Reading goes on as before, and the controlling client's change is made.
    host.setFrameRate(30.0f);
    EXPECT_EQ(readRealtimeMessage(*reader, host), "[\"frame_rate\",30]");
    EXPECT_EQ(readRealtimeMessage(*controller, host), "[\"frame_rate\",30]");
    ASSERT_TRUE(controller->send(bytesOf("t") + u16(1) + u16(40)));
    EXPECT_EQ(readRealtimeMessage(*reader, host), "[\"camera\",1,[\"setting_changed\",\"_threshold\",40]]");
    EXPECT_EQ(host.callsTo("setCameraThreshold"), std::vector<std::string>{"setCameraThreshold(1,40)"});

    // Configure: the set-masks packet is read whole and not applied; a get still answers.
    auto configuring = admitted("127.0.0.2");
    ASSERT_TRUE(configuring->send(maskPacket()));
    EXPECT_TRUE(configuring->staysQuiet(host));
    EXPECT_EQ(host.callCount("setCameraCircularMasks"), 0);
    auto getting = admitted("127.0.0.2");
    ASSERT_TRUE(getting->send("cgt"));
    EXPECT_EQ(getting->read(host, 6), (Bytes{0x00, 0x02, 0x00, 10, 0x00, 20}));

    // Acquisition: two zero bytes, and the connection is held with what follows dropped.
    auto acquiring = admitted("127.0.0.2");
    ASSERT_TRUE(acquiring->send("a"));
    EXPECT_EQ(acquiring->read(host, 2), (Bytes{0, 0}));
    ASSERT_TRUE(acquiring->send("R1"));
    EXPECT_TRUE(acquiring->staysQuiet(host));
    EXPECT_EQ(host.clientCount(), 5u);
    // Only the controlling client's change is logged as made.
    std::string text = diagnostics.text();
    EXPECT_EQ(text.find("changing camera"), text.rfind("changing camera")) << text;
    EXPECT_THAT(text, HasSubstr("changing camera 2 threshold to 40\n"));
}

#ifndef FRAMEYARD_TEST_REALTIME_ONLY
TEST_F(Access, ReadOnlyClientsOfTheFullLibraryAreRefusedSettingsMasksAndAcquisitions) {
    host.settings[0] = {{"gain", 2.0f, 0.0f, 10.0f, 1}};
    host.rectangularMaskSupport = {true, true};
    host.acquire = true;
    ASSERT_TRUE(host.setControllingClients("127.0.0.0/31"));
    ASSERT_TRUE(listen());
    auto controller = admitted("127.0.0.1");
    auto reader = admitted("127.0.0.2");
    EXPECT_EQ(exchange(*controller, "\"enable_realtime_messages\""), "\"ok\"");
    ASSERT_TRUE(controller->send("R1"));

    // The command exchange: change_setting is not permitted whatever its arguments; reads work.
    EXPECT_EQ(exchange(*reader, "[\"want_cameras\",[\"left\"]]"), "\"ok\"");
    EXPECT_EQ(exchange(*reader, "[\"change_setting\",\"gain\",3]"), "[\"error\",\"not_permitted\"]");
    EXPECT_EQ(exchange(*reader, "[\"change_setting\"]"), "[\"error\",\"not_permitted\"]");
    EXPECT_EQ(exchange(*reader, "[\"get_thresholds\"]"), "[\"result\",[10]]");
    EXPECT_EQ(diagnostics.text(), "Refused camera setting change from 127.0.0.2: not a controlling client\n");

    // Camera messages inside a stream that would change something are ignored.
    const std::string mask = "{\"x1\":256,\"y1\":256,\"x2\":300,\"y2\":300}";
    EXPECT_EQ(exchange(*reader, "\"enable_realtime_messages\""), "\"ok\"");
    ASSERT_TRUE(reader->send(bytesOf("R1") + messageRequest("[\"camera\",0,[\"change_setting\",\"gain\",3]]") +
                             messageRequest("[\"camera\",0,[\"add_rectangular_mask\"," + mask + "]]") +
                             messageRequest("[\"camera\",0,[\"delete_rectangular_mask\"," + mask + "]]") +
                             messageRequest("\"enable_rectangular_masks_monitor\"")));
    EXPECT_EQ(readRealtimeMessage(*reader, host), "[\"rectangular_masks\",[[]]]");
    EXPECT_TRUE(controller->staysQuiet(host));
    EXPECT_TRUE(reader->staysQuiet(host));

    // Live features: selecting a camera and turning images on are reading; a threshold is not.
    auto live = admitted("127.0.0.2");
    ASSERT_TRUE(live->send(bytesOf("fc") + u16(0) + Bytes{'i', 1, 't'} + u16(0) + u16(99)));
    ASSERT_TRUE(pumpUntil(host, [&] { return host.callCount("setCameraImagesWanted") == 1; }));
    pump(host, 10);

    // Acquisition: answered as by a host without acquisitions, the host never asked.
    auto acquiring = admitted("127.0.0.2");
    ASSERT_TRUE(acquiring->send("a1"));
    EXPECT_EQ(acquiring->read(host, 2), (Bytes{0, 0}));
    EXPECT_TRUE(acquiring->staysQuiet(host));

    for (const char* call : {"changeCameraSetting", "addCameraRectangularMask", "deleteCameraRectangularMask",
                             "setCameraThreshold", "acquireSupported", "setAcquireRequest"})
        EXPECT_EQ(host.callCount(call), 0) << call;
    EXPECT_EQ(host.callCount("setCameraFeaturesWanted"), 1);
    EXPECT_THAT(diagnostics.text(), Not(HasSubstr("Got message")));

    // The controlling network's other address may change.
    auto other = admitted("127.0.0.1");
    EXPECT_EQ(exchange(*other, "[\"want_cameras\",[\"left\"]]"), "\"ok\"");
    EXPECT_EQ(exchange(*other, "[\"change_setting\",\"gain\",3]"), "\"ok\"");
    EXPECT_EQ(host.callsTo("changeCameraSetting"), std::vector<std::string>{"changeCameraSetting(0,gain,3)"});
}
#endif

}  // namespace
