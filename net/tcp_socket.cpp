#include "net/tcp_socket.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "net/network_address.h"
#include "net/socket_functions.h"
#include "toolkit/error_list.h"

namespace {
const char* reason() { return std::strerror(errno); }
}  // namespace

LuTcpSocket::~LuTcpSocket() { closeIfValid(); }

bool LuTcpSocket::create() { return create(LuNetworkAddress()); }

bool LuTcpSocket::create(const LuNetworkAddress& address) {
    closeIfValid();
    descriptor_ = address.isValid() ? LuSocketCreateFor(address) : LuSocketCreate();
    if (descriptor_ < 0) {
        descriptor_ = -1;
        LuExceptionHandler::addError("Error creating socket: %s", reason());
        return false;
    }
    LuSocketSetReuseAddr(descriptor_, true);
    return true;
}

bool LuTcpSocket::bind(uint16_t port) {
    if (LuSocketBind(descriptor_, port) < 0) {
        LuExceptionHandler::addError("Error binding socket: %s", reason());
        return false;
    }
    return true;
}

bool LuTcpSocket::bind(const LuNetworkAddress& address, uint16_t port) {
    if (LuSocketBindTo(descriptor_, address, port) < 0) {
        LuExceptionHandler::addError("Error binding socket: %s", reason());
        return false;
    }
    return true;
}

bool LuTcpSocket::listen() {
    if (!isValid()) LuExceptionHandler::addError("Could not listen on invalid socket");
    if (LuSocketListen(descriptor_, backlog_) < 0) {
        LuExceptionHandler::addError("Error listening on socket: %s", reason());
        return false;
    }
    return true;
}

bool LuTcpSocket::accept(int& descriptor) {
    descriptor = LuSocketAccept(descriptor_);
    if (descriptor < 0) {
        descriptor = -1;
        LuExceptionHandler::addError("Error accepting connection on socket: %s", reason());
        return false;
    }
    return true;
}

bool LuTcpSocket::close() {
    int result = LuSocketClose(descriptor_);
    descriptor_ = -1;
    if (result != 0) {
        LuExceptionHandler::addError("Error closing socket: %s", reason());
        return false;
    }
    return true;
}

bool LuTcpSocket::closeIfValid() { return isValid() ? close() : true; }

bool LuTcpSocket::setNonBlocking(bool on) {
    int flags = ::fcntl(descriptor_, F_GETFL, 0);
    if (flags < 0) {
        LuExceptionHandler::addError("Error getting socket options: %s", reason());
        return false;
    }
    flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (::fcntl(descriptor_, F_SETFL, flags) < 0) {
        LuExceptionHandler::addError("Error setting socket options: %s", reason());
        return false;
    }
    return true;
}

bool LuTcpSocket::isNonBlocking() {
    int flags = ::fcntl(descriptor_, F_GETFL, 0);
    if (flags < 0) {
        LuExceptionHandler::addError("Error getting socket options: %s", reason());
        return false;
    }
    return (flags & O_NONBLOCK) != 0;
}

void LuTcpSocket::setNoDelay(bool on) { LuSocketSetNoDelay(descriptor_, on); }

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
