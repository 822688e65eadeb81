#include "tools/frameyard-stress/peer.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace stress {

Peer::~Peer() { drop(false); }

bool Peer::start(double now) {
    drop(false);
    restartAt_ = -1;
    ++generation_;
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        refuse(now);
        return false;
    }
    if (receiveBuffer > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    ++stats_.connections;
    int rc = ::connect(fd_, reinterpret_cast<const sockaddr*>(&server_), sizeof server_);
    if (rc != 0 && errno != EINPROGRESS) {
        refuse(now);
        return false;
    }
    return true;
}

void Peer::refuse(double now) {
    ++stats_.refused;
    drop(false);
    restartAt_ = now + 0.1;
}

void Peer::writable(double now) {
    if (fd_ < 0) return;
    if (!connected_) {
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length);
        if (error != 0) {
            refuse(now);
            return;
        }
        connected_ = true;
        connected(now);
        return;
    }
    flush();
}

void Peer::readable(double now) {
    if (fd_ < 0 || !connected_) {
        writable(now);  // a refused connect reports as readable too
        if (fd_ < 0 || !connected_) return;
    }
    uint8_t buffer[65536];
    for (int round = 0; round < 16 && fd_ >= 0; ++round) {
        ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got > 0) {
            stats_.bytesReceived += static_cast<uint64_t>(got);
            received(buffer, static_cast<size_t>(got), now);
            if (static_cast<size_t>(got) < sizeof buffer) return;
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
        ended(now);
        return;
    }
}

void Peer::failed(double now) {
    if (!connected_) {
        refuse(now);
        return;
    }
    ended(now);
}

uint32_t Peer::interest() const {
    if (!connected_) return EPOLLOUT;
    uint32_t events = reads() ? static_cast<uint32_t>(EPOLLIN) : 0u;
    if (queued() > 0) events |= EPOLLOUT;
    return events;
}

void Peer::drop(bool reset) {
    if (fd_ >= 0) {
        if (reset) {
            linger option{1, 0};
            ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &option, sizeof option);
        }
        ::close(fd_);
    }
    fd_ = -1;
    connected_ = false;
    outgoing_.clear();
    sentFrom_ = 0;
}

void Peer::received(const uint8_t*, size_t, double) {}

void Peer::ended(double now) {
    ++stats_.cutOff;
    drop(false);
    restartAt_ = now + 0.05;
}

void Peer::send(const void* data, size_t size) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    outgoing_.insert(outgoing_.end(), bytes, bytes + size);
    flush();
}

void Peer::flush() {
    while (fd_ >= 0 && queued() > 0) {
        ssize_t sent = ::send(fd_, outgoing_.data() + sentFrom_, queued(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            // A broken connection shows up as a failed read or an error event next.
            return;
        }
        stats_.bytesSent += static_cast<uint64_t>(sent);
        sentFrom_ += static_cast<size_t>(sent);
    }
    if (queued() == 0) {
        outgoing_.clear();
        sentFrom_ = 0;
    }
}

}  // namespace stress
