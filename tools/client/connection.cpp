#include "tools/client/connection.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fyclient {
namespace {

constexpr size_t kChunk = 64 * 1024;

std::string errnoText(int error) { return std::strerror(error); }

// Resolves a numeric address or a host name to an IPv4 address (the server listens on IPv4).
sockaddr_in resolve(const Endpoint& endpoint) {
    if (endpoint.port <= 0 || endpoint.port > 65535) {
        throw ClientError("invalid port " + std::to_string(endpoint.port));
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int rc = getaddrinfo(endpoint.host.c_str(), nullptr, &hints, &found);
    if (rc != 0 || found == nullptr) {
        throw ClientError("cannot resolve host '" + endpoint.host + "': " + gai_strerror(rc));
    }
    sockaddr_in address{};
    std::memcpy(&address, found->ai_addr, sizeof address);
    freeaddrinfo(found);
    address.sin_port = htons(static_cast<uint16_t>(endpoint.port));
    return address;
}

// poll() that survives interruptions by signals until its own time-out has passed.
int pollFor(int fd, short events, int waitMs, bool stopOnSignal) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now()).count();
        pollfd p{fd, events, 0};
        int rc = ::poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
        if (rc >= 0) return rc;
        if (errno != EINTR || stopOnSignal) return rc;
    }
}

}  // namespace

Connection::Connection(const Endpoint& endpoint) : timeout(endpoint.timeoutMs) {
    sockaddr_in address = resolve(endpoint);
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw ClientError("cannot create a socket: " + errnoText(errno));
    int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int error = rc == 0 ? 0 : errno;
    if (error == EINPROGRESS) {
        if (pollFor(fd, POLLOUT, timeout, false) <= 0) {
            error = ETIMEDOUT;
        } else {
            socklen_t length = sizeof error;
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
        }
    }
    if (error != 0) {
        ::close(fd);
        fd = -1;
        throw ClientError("cannot connect to " + endpoint.text() + ": " + errnoText(error));
    }
    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

Connection::~Connection() {
    if (fd >= 0) ::close(fd);
}

void Connection::send(const void* data, size_t size) {
    auto bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        if (pollFor(fd, POLLOUT, timeout, false) <= 0) {
            throw ClientError("timed out sending to the server");
        }
        ssize_t sent = ::send(fd, bytes, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
            throw ClientError("connection to the server lost: " + errnoText(errno));
        }
        bytes += sent;
        size -= static_cast<size_t>(sent);
    }
}

void Connection::sendU16(uint16_t value) {
    std::vector<uint8_t> out;
    appendU16(out, value);
    send(out);
}

void Connection::sendU32(uint32_t value) {
    std::vector<uint8_t> out;
    appendU32(out, value);
    send(out);
}

bool Connection::fill(int waitMs) {
    if (peerClosed) return false;
    if (pollFor(fd, POLLIN, waitMs, true) <= 0) return false;
    if (readPos > 0 && readPos == buffer.size()) {
        buffer.clear();
        readPos = 0;
    }
    size_t old = buffer.size();
    buffer.resize(old + kChunk);
    ssize_t got = ::recv(fd, buffer.data() + old, kChunk, MSG_DONTWAIT);
    if (got <= 0) {
        buffer.resize(old);
        if (got == 0) {
            peerClosed = true;
            return true;
        }
        if (errno == EAGAIN || errno == EINTR) return false;
        throw ClientError("connection to the server lost: " + errnoText(errno));
    }
    buffer.resize(old + static_cast<size_t>(got));
    return true;
}

void Connection::ensure(size_t size) {
    auto idleLimit = std::chrono::milliseconds(timeout);
    auto lastProgress = std::chrono::steady_clock::now();
    while (buffer.size() - readPos < size) {
        if (peerClosed) throw ClientError("the server closed the connection");
        size_t before = buffer.size();
        fill(100);
        if (buffer.size() != before) {
            lastProgress = std::chrono::steady_clock::now();
        } else if (!peerClosed && std::chrono::steady_clock::now() - lastProgress > idleLimit) {
            throw ClientError("timed out waiting for the server");
        }
    }
}

void Connection::receive(void* out, size_t size) {
    ensure(size);
    if (size > 0) std::memcpy(out, buffer.data() + readPos, size);
    readPos += size;
    // Keep the buffer from growing without bound while a long stream is read.
    if (readPos > 4 * kChunk) {
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(readPos));
        readPos = 0;
    }
}

uint8_t Connection::receiveByte() {
    uint8_t byte = 0;
    receive(&byte, 1);
    return byte;
}

uint16_t Connection::receiveU16() {
    uint8_t bytes[2];
    receive(bytes, 2);
    return loadU16(bytes);
}

uint32_t Connection::receiveU32() {
    uint8_t bytes[4];
    receive(bytes, 4);
    return loadU32(bytes);
}

uint8_t Connection::peekByte() {
    ensure(1);
    return buffer[readPos];
}

uint16_t Connection::peekU16(size_t offset) {
    ensure(offset + 2);
    return loadU16(buffer.data() + readPos + offset);
}

bool Connection::waitForInput(int waitMs) {
    if (buffer.size() > readPos || peerClosed) return true;
    fill(waitMs);
    return buffer.size() > readPos || peerClosed;
}

void appendU16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void appendU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

uint16_t loadU16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

uint32_t loadU32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

std::vector<uint8_t> thresholdCommand(uint16_t position, uint16_t threshold) {
    std::vector<uint8_t> command{'t'};
    appendU16(command, position);
    appendU16(command, threshold);
    return command;
}

std::vector<uint8_t> messageCommand(const std::string& json) {
    std::vector<uint8_t> packet{'m'};
    appendU32(packet, static_cast<uint32_t>(json.size()));
    packet.insert(packet.end(), json.begin(), json.end());
    return packet;
}

}  // namespace fyclient
