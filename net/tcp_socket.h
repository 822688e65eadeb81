#pragma once
// The listening socket of the server core: a descriptor and a listen backlog. Each fallible
// operation returns its status, worded as the host is told of it ("Error binding socket: ..."),
// so that the core can pass a failure on without any shared error state.
#include <sys/socket.h>

#include <cstdint>

#include "toolkit/lu_str.h"
#include "toolkit/status.h"

class LuNetworkAddress;

class LuTcpSocket {
public:
    LuTcpSocket() = default;
    // Closes a descriptor that is still valid.
    ~LuTcpSocket();
    LuTcpSocket(const LuTcpSocket&) = delete;
    LuTcpSocket& operator=(const LuTcpSocket&) = delete;

    // A new IPv4 stream socket with SO_REUSEADDR, so that a restarted server can bind its port
    // while connections of the previous run are in TIME_WAIT. A descriptor still held is
    // closed first.
    [[nodiscard]] LuStatus create();
    // The same for the family of the address the socket is to be bound to; an IPv6 socket
    // takes IPv4 peers too.
    [[nodiscard]] LuStatus create(const LuNetworkAddress& address);
    // Binds to every local address.
    [[nodiscard]] LuStatus bind(uint16_t port);
    [[nodiscard]] LuStatus bind(const LuNetworkAddress& address, uint16_t port);
    [[nodiscard]] LuStatus listen();
    // Stores the accepted descriptor, or -1 on failure.
    [[nodiscard]] LuStatus accept(int& descriptor);
    // The descriptor is -1 afterwards whatever close() said.
    LuStatus close();
    LuStatus closeIfValid();
    [[nodiscard]] LuStatus setNonBlocking(bool on);
    // Whether O_NONBLOCK is set; left unchanged on failure.
    [[nodiscard]] LuStatus isNonBlocking(bool& nonBlocking) const;
    LuStatus setNoDelay(bool on);
    // Dotted IPv4 or IPv6 text; the null string on failure.
    LuStr peerName() const;
    LuStr localName() const;

    int descriptor() const { return descriptor_; }
    bool isValid() const { return descriptor_ != -1; }
    int backlog() const { return backlog_; }
    void setBacklog(int backlog) { backlog_ = backlog; }

private:
    int descriptor_ = -1;
    // The system's maximum: when every client reconnects at once a short queue drops their
    // requests, and each dropped one waits a second or more for its retransmission.
    int backlog_ = SOMAXCONN;
};
