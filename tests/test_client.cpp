#include "tests/test_client.h"

#include "frameyard/client/decoders.h"
#include "frameyard/client/requests.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tests/server_under_test.h"
#include "toolkit/test_ports.h"
#include "tools/frameyard-simhost/process_stats.h"

namespace {
using Clock = std::chrono::steady_clock;

// A numeric IPv4 or IPv6 address and port; 0 when the text is neither.
socklen_t socketAddress(const std::string& text, int port, sockaddr_storage& out) {
    std::memset(&out, 0, sizeof out);
    sockaddr_in ipv4{};
    if (::inet_pton(AF_INET, text.c_str(), &ipv4.sin_addr) == 1) {
        ipv4.sin_family = AF_INET;
        ipv4.sin_port = htons(static_cast<uint16_t>(port));
        std::memcpy(&out, &ipv4, sizeof ipv4);
        return sizeof ipv4;
    }
    sockaddr_in6 ipv6{};
    if (::inet_pton(AF_INET6, text.c_str(), &ipv6.sin6_addr) == 1) {
        ipv6.sin6_family = AF_INET6;
        ipv6.sin6_port = htons(static_cast<uint16_t>(port));
        std::memcpy(&out, &ipv6, sizeof ipv6);
        return sizeof ipv6;
    }
    return 0;
}
}  // namespace

int freeLoopbackPort() { return fy_test::freeLoopbackPort(); }

int listenOnFreeLoopbackPort(store::Server& server) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        int port = freeLoopbackPort();
        if (port <= 0) continue;
        server.setListenPort(port);
        if (server.startListening()) return port;
    }
    return -1;
}

bool pumpUntil(store::Server& server, const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    Clock::time_point end = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > end) return condition();
        server.checkForEvent();
    }
    return true;
}

void pump(store::Server& server, int times) {
    for (int i = 0; i < times; ++i) server.checkForEvent();
}

long raiseDescriptorLimit(long wanted) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < static_cast<rlim_t>(wanted)) {
        rlim_t target = static_cast<rlim_t>(wanted);
        if (limit.rlim_max != RLIM_INFINITY && target > limit.rlim_max) target = limit.rlim_max;
        limit.rlim_cur = target;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    return limit.rlim_cur == RLIM_INFINITY ? wanted : static_cast<long>(limit.rlim_cur);
}

TestClient::TestClient(int port) : TestClient(port, "", "127.0.0.1") {}

TestClient::TestClient(int port, const std::string& source, const std::string& destination) {
    sockaddr_storage address;
    socklen_t length = socketAddress(destination, port, address);
    if (length == 0) return;
    int fd = ::socket(address.ss_family, SOCK_STREAM, 0);
    if (fd < 0) return;
    if (!source.empty()) {
        sockaddr_storage local;
        socklen_t localLength = socketAddress(source, 0, local);
        if (localLength == 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&local), localLength) != 0) {
            ::close(fd);
            return;
        }
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return;
    }
    // On loopback the handshake completes at once unless the backlog is full; wait a bounded
    // time for it so that the client is usable when the constructor returns.
    pollfd entry{fd, POLLOUT, 0};
    int error = 0;
    socklen_t errorLength = sizeof error;
    if (::poll(&entry, 1, 2000) != 1 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &errorLength) != 0 || error != 0) {
        ::close(fd);
        return;
    }
    descriptor = fd;
}

TestClient::~TestClient() { close(); }

TestClient::TestClient(TestClient&& other) noexcept : descriptor(other.descriptor), peerClosed(other.peerClosed) {
    other.descriptor = -1;
}

void TestClient::close() {
    if (descriptor >= 0) ::close(descriptor);
    descriptor = -1;
}

bool TestClient::send(const Bytes& bytes) {
    size_t sent = 0;
    Clock::time_point end = Clock::now() + std::chrono::seconds(2);
    while (sent < bytes.size() && descriptor >= 0) {
        ssize_t n = ::send(descriptor, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (Clock::now() > end) return false;
            pollfd entry{descriptor, POLLOUT, 0};
            ::poll(&entry, 1, 10);
        } else {
            return false;
        }
    }
    return sent == bytes.size();
}

bool TestClient::send(const std::string& text) { return send(bytesOf(text)); }

Bytes TestClient::readAvailable() {
    Bytes out;
    uint8_t buffer[4096];
    while (descriptor >= 0) {
        ssize_t n = ::recv(descriptor, buffer, sizeof buffer, 0);
        if (n > 0) {
            out.insert(out.end(), buffer, buffer + n);
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) peerClosed = true;
        break;
    }
    return out;
}

Bytes TestClient::read(store::Server& server, size_t n, std::chrono::milliseconds limit) {
    Bytes out;
    Clock::time_point end = Clock::now() + limit;
    while (out.size() < n && descriptor >= 0 && !peerClosed) {
        uint8_t buffer[4096];
        size_t wanted = n - out.size() < sizeof buffer ? n - out.size() : sizeof buffer;
        ssize_t got = ::recv(descriptor, buffer, wanted, 0);
        if (got > 0) {
            out.insert(out.end(), buffer, buffer + got);
            continue;
        }
        if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
            peerClosed = true;
            break;
        }
        if (Clock::now() > end) break;
        server.checkForEvent();
    }
    return out;
}

bool TestClient::waitForClose(store::Server& server, std::chrono::milliseconds limit) {
    Clock::time_point end = Clock::now() + limit;
    while (!peerClosed && descriptor >= 0) {
        readAvailable();
        if (peerClosed || Clock::now() > end) break;
        server.checkForEvent();
    }
    return peerClosed;
}

bool TestClient::staysQuiet(store::Server& server, int polls) {
    pump(server, polls);
    return readAvailable().empty() && !peerClosed;
}

Bytes u32(uint32_t value) {
    return Bytes{static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
                 static_cast<uint8_t>(value)};
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string textOf(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

uint32_t readU32(const Bytes& bytes, size_t offset) {
    return bytes.size() < offset + 4 ? 0 : frameyard::loadU32(bytes.data() + offset);
}

Bytes commandRequest(const std::string& text) { return frameyard::encodeCommand(text); }

// The reply as the client library reads it: its length first, then exactly that many bytes.
std::string readCommandReply(TestClient& client, store::Server& server, std::chrono::milliseconds limit) {
    Bytes reply = client.read(server, 4, limit);
    if (reply.size() != 4) return std::string();
    reply = reply + client.read(server, readU32(reply), limit);
    std::string text;
    return frameyard::decodeSized(reply.data(), reply.size(), text) == reply.size() ? text : std::string();
}

std::string commandExchange(TestClient& client, store::Server& server, const std::string& command) {
    if (!client.send(commandRequest(command))) return "<send failed>";
    return readCommandReply(client, server);
}

std::string readRealtimeMessage(TestClient& client, store::Server& server, std::chrono::milliseconds limit) {
    Bytes tag = client.read(server, 1, limit);
    if (tag.size() != 1 || tag[0] != 'm') return std::string();
    return readCommandReply(client, server, limit);
}

int openDescriptorCount() { return simhost::openDescriptors(); }
