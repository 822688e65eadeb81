#include "net/tcp_socket.h"

#include <fcntl.h>

#include "net/network_address.h"
#include "net/socket_functions.h"

namespace {

// The socket functions name the bare call; the listening socket words a failure the way the
// host is told of it, keeping the system's reason.
LuStatus reworded(const LuStatus& status, const char* what) {
    return status ? status : LuStatus::failure(what, status.error());
}

}  // namespace

// No one is left to tell of a failure to close at destruction.
LuTcpSocket::~LuTcpSocket() { closeIfValid(); }

LuStatus LuTcpSocket::create() { return create(LuNetworkAddress()); }

LuStatus LuTcpSocket::create(const LuNetworkAddress& address) {
    // Only a socket that is already invalid is ever re-created by the server core, so a
    // failure to close here has no one waiting for it.
    closeIfValid();
    descriptor_ = address.isValid() ? LuSocketCreateFor(address) : LuSocketCreate();
    if (descriptor_ < 0) {
        LuStatus failed = LuStatus::systemFailure("Error creating socket");
        descriptor_ = -1;
        return failed;
    }
    // Without it a restarted server waits longer for its port, but the socket serves all the
    // same; a bind that then fails says so.
    LuSocketSetReuseAddr(descriptor_, true);
    return LuStatus();
}

LuStatus LuTcpSocket::bind(uint16_t port) {
    return reworded(LuSocketBind(descriptor_, port), "Error binding socket");
}

LuStatus LuTcpSocket::bind(const LuNetworkAddress& address, uint16_t port) {
    return reworded(LuSocketBindTo(descriptor_, address, port), "Error binding socket");
}

// An invalid descriptor is not refused beforehand: listen() still runs, so that the failure
// carries the system's reason like every other one.
LuStatus LuTcpSocket::listen() {
    return reworded(LuSocketListen(descriptor_, backlog_), "Error listening on socket");
}

LuStatus LuTcpSocket::accept(int& descriptor) {
    descriptor = LuSocketAccept(descriptor_);
    if (descriptor >= 0) return LuStatus();
    LuStatus failed = LuStatus::systemFailure("Error accepting connection on socket");
    descriptor = -1;
    return failed;
}

LuStatus LuTcpSocket::close() {
    LuStatus closed = reworded(LuSocketClose(descriptor_), "Error closing socket");
    descriptor_ = -1;
    return closed;
}

LuStatus LuTcpSocket::closeIfValid() { return isValid() ? close() : LuStatus(); }

LuStatus LuTcpSocket::setNonBlocking(bool on) {
    int flags = ::fcntl(descriptor_, F_GETFL, 0);
    if (flags < 0) return LuStatus::systemFailure("Error getting socket options");
    flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (::fcntl(descriptor_, F_SETFL, flags) < 0) return LuStatus::systemFailure("Error setting socket options");
    return LuStatus();
}

LuStatus LuTcpSocket::isNonBlocking(bool& nonBlocking) const {
    int flags = ::fcntl(descriptor_, F_GETFL, 0);
    if (flags < 0) return LuStatus::systemFailure("Error getting socket options");
    nonBlocking = (flags & O_NONBLOCK) != 0;
    return LuStatus();
}

LuStatus LuTcpSocket::setNoDelay(bool on) { return LuSocketSetNoDelay(descriptor_, on); }

LuStr LuTcpSocket::peerName() const {
    char buffer[LuSocketAddressTextSize];
    const char* text = LuSocketGetPeerName(descriptor_, buffer);
    return text ? LuStr(text) : LuStr();
}

LuStr LuTcpSocket::localName() const {
    char buffer[LuSocketAddressTextSize];
    const char* text = LuSocketGetSockName(descriptor_, buffer);
    return text ? LuStr(text) : LuStr();
}
