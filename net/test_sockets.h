#pragma once
// Test doubles shared by the tests of every layer: a socket base with do-nothing answers, a
// scripted socket, a clock the test moves, and a real connected pair of loopback sockets.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "net/clock.h"
#include "net/socket_functions.h"
#include "net/socket_interface.h"

namespace net_test {

// An open, non-blocking connection from 127.0.0.1 to port 4000 that has nothing to read and
// swallows whatever is written; test doubles override only the calls they care about.
class NullSocket : public RySocketInterface {
public:
    bool hasInput() override { return false; }
    int read(void*, size_t) override { return 0; }
    int write(const void*, size_t length) override { return static_cast<int>(length); }
    void close() override {}
    void abort() override {}
    bool isOpen() const override { return true; }
    void setNoDelay() override {}
    void setNonBlocking(bool) override {}
    bool isNonBlocking() const override { return true; }
    LuStr getPeerName() const override { return LuStr("127.0.0.1"); }
    unsigned short getSockPort() const override { return 4000; }
};

// A socket whose peer the test plays: it takes at most `room` more bytes and hands out what
// is in `incoming`.
class FakeSocket : public NullSocket {
public:
    std::string taken, incoming;
    size_t room = static_cast<size_t>(-1);
    bool peerClosed = false, aborted = false, failWrites = false;
    int abortCalls = 0, writeCalls = 0, readCalls = 0;

    bool hasInput() override { return aborted || peerClosed || !incoming.empty(); }
    int read(void* buffer, size_t length) override {
        ++readCalls;
        if (aborted || (incoming.empty() && peerClosed)) return -1;
        size_t n = std::min(length, incoming.size());
        std::memcpy(buffer, incoming.data(), n);
        incoming.erase(0, n);
        return static_cast<int>(n);
    }
    int write(const void* buffer, size_t length) override {
        ++writeCalls;
        if (aborted || failWrites) return -1;
        size_t n = std::min(length, room);
        taken.append(static_cast<const char*>(buffer), n);
        room -= n;
        return static_cast<int>(n);
    }
    void abort() override { ++abortCalls, aborted = true; }
    LuStr getPeerName() const override { return LuStr("10.0.0.7"); }
};

// A clock that stands still at `time` until the test moves it.
class FakeClock : public RyStoreProtocol::AbstractClock {
public:
    double time;
    explicit FakeClock(double start = 0.0) : time(start) {}
    double now() override { return time; }
};

// A connected TCP pair on 127.0.0.1: `client` is the connecting end, `server` the accepted one.
struct LoopbackPair {
    int client = -1;
    int server = -1;
    int port = 0;

    LoopbackPair() {
        int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::listen(listener, 1) == 0 &&
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
            port = ntohs(address.sin_port);
            client = ::socket(AF_INET, SOCK_STREAM, 0);
            if (::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
                server = ::accept(listener, nullptr, nullptr);
        }
        ::close(listener);
    }
    ~LoopbackPair() {
        closeClient();
        closeServer();
    }
    LoopbackPair(const LoopbackPair&) = delete;
    LoopbackPair& operator=(const LoopbackPair&) = delete;

    bool ok() const { return client >= 0 && server >= 0; }
    void closeClient() {
        if (client >= 0) ::close(client);
        client = -1;
    }
    // For ends handed to an object that closes them itself.
    int releaseServer() {
        int descriptor = server;
        server = -1;
        return descriptor;
    }
    void closeServer() {
        if (server >= 0) ::close(server);
        server = -1;
    }
};

}  // namespace net_test
