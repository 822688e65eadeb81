#pragma once
// The listening socket of the server core: a descriptor and a listen backlog. Failures are
// pushed onto the process-wide error list, from which the core passes the newest to the host.
#include <sys/socket.h>

#include <cstdint>

#include "toolkit/lu_str.h"

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
    bool create();
    // The same for the family of the address the socket is to be bound to; an IPv6 socket
    // takes IPv4 peers too.
    bool create(const LuNetworkAddress& address);
    // Binds to every local address.
    bool bind(uint16_t port);
    bool bind(const LuNetworkAddress& address, uint16_t port);
    bool listen();
    // Stores the accepted descriptor, or -1 on failure.
    bool accept(int& descriptor);
    // The descriptor is -1 afterwards whatever close() said.
    bool close();
    bool closeIfValid();
    bool setNonBlocking(bool on);
    bool isNonBlocking();
    void setNoDelay(bool on);
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
