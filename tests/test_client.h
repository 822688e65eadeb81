#pragma once
// Loopback clients for end-to-end tests. The server runs in the test's own thread, so every
// wait here drives server.checkForEvent() itself until its condition holds or a deadline
// passes; nothing sleeps in the hope that the server got somewhere.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace store {
class Server;  // of either library: the tests of both use these helpers
}

using Bytes = std::vector<uint8_t>;

constexpr std::chrono::milliseconds defaultDeadline{5000};

// A TCP port on 127.0.0.1 that was free a moment ago, drawn below the system's ephemeral range
// so that parallel tests' outgoing connections do not take it (toolkit/test_ports.h).
int freeLoopbackPort();
// Makes the server listen on such a port and returns it, or -1. A port free a moment ago may
// have been taken since by a parallel test's connection, so a few are tried.
int listenOnFreeLoopbackPort(store::Server& server);

// Runs checkForEvent() until condition() holds or the time is up; returns condition().
bool pumpUntil(store::Server& server, const std::function<bool()>& condition,
               std::chrono::milliseconds limit = defaultDeadline);
// Runs checkForEvent() a fixed number of times.
void pump(store::Server& server, int times);

// Raises the soft limit of open descriptors to at least `wanted` (up to the hard limit);
// returns the soft limit now in force.
long raiseDescriptorLimit(long wanted);

class TestClient {
public:
    // Connects to 127.0.0.1:port without blocking on the server's accept: the connection
    // completes in the kernel's backlog, and the server accepts it on a later poll.
    explicit TestClient(int port);
    // The same from a chosen local address (bound before connecting; 127.0.0.2 is loopback as
    // well on Linux) to a chosen server address, both numeric IPv4 or IPv6; an empty source
    // leaves the choice to the system. Not connected when the system refuses.
    TestClient(int port, const std::string& source, const std::string& destination = "127.0.0.1");
    ~TestClient();
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;
    TestClient(TestClient&& other) noexcept;

    bool isConnected() const { return descriptor >= 0; }
    int fd() const { return descriptor; }

    // Sends every byte (the loopback socket buffer takes small writes at once).
    bool send(const Bytes& bytes);
    bool send(const std::string& text);
    // Reads exactly n bytes, pumping the server between attempts; fewer bytes (possibly none)
    // when the deadline passes or the server closes the connection first.
    Bytes read(store::Server& server, size_t n, std::chrono::milliseconds limit = defaultDeadline);
    // Whatever has arrived by now, without pumping.
    Bytes readAvailable();
    // True once the server has closed (or reset) the connection, pumping the server meanwhile.
    bool waitForClose(store::Server& server, std::chrono::milliseconds limit = defaultDeadline);
    // Pumps the server n times and reports whether nothing arrived and the connection is open.
    bool staysQuiet(store::Server& server, int polls = 20);
    void close();

private:
    int descriptor = -1;
    bool peerClosed = false;
};

// Big-endian helpers for building requests and reading replies.
Bytes u32(uint32_t value);
Bytes operator+(Bytes a, const Bytes& b);
Bytes bytesOf(const std::string& text);
std::string textOf(const Bytes& bytes);
uint32_t readU32(const Bytes& bytes, size_t offset = 0);

// The command exchange: 'C', the u32 length, the text.
Bytes commandRequest(const std::string& text);
// Reads one command reply (u32 length, text); empty when none arrives in time.
std::string readCommandReply(TestClient& client, store::Server& server,
                             std::chrono::milliseconds limit = defaultDeadline);
// One command exchange on the client's connection: the reply's text, or "<send failed>".
std::string commandExchange(TestClient& client, store::Server& server, const std::string& command);
// Reads one JSON message of a realtime stream ('m', u32 length, text); empty when the next
// item is not a message or none arrives in time.
std::string readRealtimeMessage(TestClient& client, store::Server& server,
                                std::chrono::milliseconds limit = defaultDeadline);

// Descriptors this process has open now.
int openDescriptorCount();
