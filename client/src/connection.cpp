// The client's TCP connection: connect with a time-out, non-blocking reads into a buffer,
// writes that wait a bounded time.
#include "frameyard/client/connection.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace frameyard {
namespace {

constexpr size_t kChunk = 64 * 1024;

std::string errnoText(int error) { return std::strerror(error); }

// poll() that survives signals until its own time-out has passed.
int pollFor(int fd, short events, int waitMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd, events, 0};
        int rc = ::poll(&p, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (rc >= 0 || errno != EINTR) return rc;
    }
}

// Tries each address the name resolves to; returns a connected non-blocking socket.
int connectTo(const Endpoint& endpoint) {
    if (endpoint.port <= 0 || endpoint.port > 65535) throw Error("invalid port " + std::to_string(endpoint.port));
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::string port = std::to_string(endpoint.port);
    int rc = getaddrinfo(endpoint.host.c_str(), port.c_str(), &hints, &found);
    if (rc != 0 || found == nullptr) {
        throw ConnectionError("cannot resolve host '" + endpoint.host + "': " + gai_strerror(rc));
    }
    int error = 0;
    for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
        int fd = ::socket(a->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            error = errno;
            continue;
        }
        error = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
        if (error == EINPROGRESS) {
            if (pollFor(fd, POLLOUT, endpoint.timeoutMs) <= 0) {
                error = ETIMEDOUT;
            } else {
                socklen_t length = sizeof error;
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
            }
        }
        if (error == 0) {
            freeaddrinfo(found);
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            // Blocking from now on: every read and write but the waits says MSG_DONTWAIT, and a
            // wait is one recv() with a time-out instead of poll() and recv().
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) & ~O_NONBLOCK);
            return fd;
        }
        ::close(fd);
    }
    freeaddrinfo(found);
    throw ConnectionError("cannot connect to " + endpoint.text() + ": " + errnoText(error));
}

}  // namespace

Connection::Connection(const Endpoint& endpoint) : endpoint_(endpoint), fd_(connectTo(endpoint)) {}

Connection::~Connection() {
    if (fd_ >= 0) ::close(fd_);
}

void Connection::send(const void* data, size_t size) {
    auto bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        ssize_t sent = ::send(fd_, bytes, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                throw ConnectionError("connection to " + endpoint_.text() + " lost: " + errnoText(errno));
            }
            if (pollFor(fd_, POLLOUT, endpoint_.timeoutMs) <= 0) {
                throw TimeoutError("the server at " + endpoint_.text() + " takes no bytes");
            }
            continue;
        }
        bytes += sent;
        size -= static_cast<size_t>(sent);
    }
}

void Connection::makeRoom() {
    if (buffer_.size() - end_ >= kChunk) return;
    if (readPos_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + readPos_, end_ - readPos_);
        end_ -= readPos_;
        readPos_ = 0;
    }
    if (buffer_.size() - end_ < kChunk) buffer_.resize(end_ + kChunk);
}

bool Connection::readAvailable() {
    while (!closed_) {
        makeRoom();
        ssize_t got = ::recv(fd_, buffer_.data() + end_, buffer_.size() - end_, MSG_DONTWAIT);
        if (got > 0) {
            end_ += static_cast<size_t>(got);
            if (end_ < buffer_.size()) break;
            continue;
        }
        if (got == 0) {
            closed_ = true;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            break;
        } else {
            closed_ = true;
            throw ConnectionError("connection to " + endpoint_.text() + " lost: " + errnoText(errno));
        }
    }
    return !closed_;
}

bool Connection::waitForMore(int waitMs) {
    if (closed_) return false;
    size_t before = size();
    if (waitMs <= 0) {
        readAvailable();
        return size() > before || closed_;
    }
    setReceiveTimeout(waitMs);
    makeRoom();
    ssize_t got = ::recv(fd_, buffer_.data() + end_, buffer_.size() - end_, 0);
    if (got > 0) {
        end_ += static_cast<size_t>(got);
        if (end_ == buffer_.size()) readAvailable();   // more may be waiting behind a full buffer
    } else if (got == 0) {
        closed_ = true;
    } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        closed_ = true;
        throw ConnectionError("connection to " + endpoint_.text() + " lost: " + errnoText(errno));
    }
    return size() > before || closed_;
}

// The socket's receive time-out never exceeds the wait asked for, and is left alone while it is
// within 50 ms below it, so that a loop of waits does not pay a setsockopt() for each.
void Connection::setReceiveTimeout(int waitMs) {
    if (receiveTimeoutMs_ > 0 && receiveTimeoutMs_ <= waitMs && receiveTimeoutMs_ >= waitMs - 50) return;
    timeval limit{waitMs / 1000, (waitMs % 1000) * 1000};
    if (setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0) receiveTimeoutMs_ = waitMs;
}

bool Connection::waitForInput(int waitMs) {
    if (size() > 0 || closed_) return true;
    return waitForMore(waitMs);
}

void Connection::receive(void* out, size_t size) {
    if (size == 0) return;
    receive([&](const uint8_t* data, size_t available) -> size_t {
        if (available < size) return 0;
        std::memcpy(out, data, size);
        return size;
    }, (std::to_string(size) + " bytes").c_str());
}

uint8_t Connection::receiveByte() {
    uint8_t byte = 0;
    receive(&byte, 1);
    return byte;
}

uint16_t Connection::receiveU16() {
    uint8_t bytes[2];
    receive(bytes, 2);
    return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

void Connection::consume(size_t count) {
    readPos_ += count;
    if (readPos_ == end_) readPos_ = end_ = 0;
}

}  // namespace frameyard
