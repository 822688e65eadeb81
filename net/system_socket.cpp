#include "net/system_socket.h"

#include <sstream>

#include "net/socket_functions.h"
#include "toolkit/diagnostics.h"

RySystemSocket::RySystemSocket(int descriptor) : descriptor_(descriptor) {
    modeFailed_ = !LuSocketIsNonBlocking(descriptor, nonBlocking_);
}

RySystemSocket::~RySystemSocket() {
    if (descriptor_ >= 0) {
        std::ostringstream address;
        address << static_cast<const void*>(this);
        fy::diagnostic("Socket %s is still open!\n", address.str().c_str());
    }
}

bool RySystemSocket::hasInput() {
    // Reporting input lets the owner read, get -1 and close the connection.
    if (unusable()) return true;
    bool ready = false;
    int result = LuSocketWaitForInput(&descriptor_, &ready, 1, 0, 0);
    // A descriptor that is no longer open is reported the same way, so a read names the failure.
    return result < 0 || (result > 0 && ready);
}

int RySystemSocket::read(void* buffer, size_t length) {
    if (unusable()) {
        readFailed_ = true;
        return -1;
    }
    int result = LuSocketRecv(descriptor_, buffer, length);
    if (result < 0) readFailed_ = true;
    return result;
}

template <typename Quiet, typename Loud>
int RySystemSocket::sendWith(Quiet quiet, Loud loud) {
    if (unusable()) {
        writeFailed_ = true;
        return -1;
    }
    int result;
    if (sendFailureNotice_ == nullptr) {
        result = loud();
    } else {
        LuStatus failure;
        result = quiet(failure);
        if (result < 0) fy::diagnostic("%s", sendFailureNotice_);
    }
    if (result < 0) writeFailed_ = true;
    return result;
}

int RySystemSocket::write(const void* buffer, size_t length) {
    return sendWith([&](LuStatus& failure) { return LuSocketSendQuietly(descriptor_, buffer, length, failure); },
                    [&] { return LuSocketSend(descriptor_, buffer, length); });
}

int RySystemSocket::writeGathered(const LuBytePiece* pieces, size_t count) {
    return sendWith([&](LuStatus& failure) { return LuSocketSendPiecesQuietly(descriptor_, pieces, count, failure); },
                    [&] { return LuSocketSendPieces(descriptor_, pieces, count); });
}

void RySystemSocket::close() {
    // Nothing is left to do about a failed close(): the descriptor is released either way.
    if (!aborted_ && descriptor_ >= 0) LuSocketClose(descriptor_);
    descriptor_ = -1;
}

void RySystemSocket::abort() {
    // A second abort must not close the descriptor number again: it may belong to a newer
    // connection by now.
    if (aborted_ || descriptor_ < 0) return;
    fy::diagnostic("Aborting socket\n");
    // A failure to set the linger has been written; the connection is closed all the same.
    LuSocketAbort(descriptor_);
    aborted_ = true;
}

// Without TCP_NODELAY the connection still works, only later; the interface has no way to say so.
void RySystemSocket::setNoDelay() { LuSocketSetNoDelay(descriptor_, true); }

void RySystemSocket::setNonBlocking(bool on) {
    nonBlocking_ = on;
    if (aborted_) return;
    if (!LuSocketSetNonBlocking(descriptor_, on)) modeFailed_ = true;
}

LuStr RySystemSocket::getPeerName() const {
    if (aborted_) return LuStr("");
    char buffer[LuSocketAddressTextSize];
    const char* text = LuSocketGetPeerName(descriptor_, buffer);
    return LuStr(text ? text : "");
}

unsigned short RySystemSocket::getSockPort() const {
    if (aborted_) return 0;
    return LuSocketGetSockPort(descriptor_);
}
