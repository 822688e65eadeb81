#include "net/non_blocking_socket.h"

#include <climits>

#include "toolkit/diagnostics.h"

NonBlockingSocket::NonBlockingSocket(RySocketInterface& inner, RyStoreProtocol::AbstractClock& clock,
                                     bool pollInner)
    : inner_(inner), writer_(inner, clock), pollInner_(pollInner) {}

bool NonBlockingSocket::hasInput() {
    flushOutput();
    if (pollInner_) drainInput();
    return input_.hasInput();
}

bool NonBlockingSocket::flushOutput() {
    if (!outputFailed_ && writer_.flush() < 0) outputFailed_ = true;
    if (outputFailed_) drainInput();
    return !outputFailed_;
}

int NonBlockingSocket::read(void* buffer, size_t length) {
    if (input_.unreadBytes() == 0 && (pollInner_ || outputFailed_)) drainInput();
    size_t got = input_.take(buffer, length < INT_MAX ? length : INT_MAX);
    if (got > 0) return static_cast<int>(got);
    return input_.peerClosed() ? -1 : 0;
}

int NonBlockingSocket::write(const void* buffer, size_t length) { return checked(writer_.write(buffer, length)); }

int NonBlockingSocket::writeShared(const LuSharedBytes& bytes) { return checked(writer_.writeShared(bytes)); }

int NonBlockingSocket::writeLent(const LuBytePiece* pieces, size_t count, LuSharedBytesSource& source) {
    return checked(writer_.writeLent(pieces, count, source));
}

int NonBlockingSocket::checked(int written) {
    if (written < 0) {
        if (writeFailureNotice_ != nullptr) fy::diagnostic("%s", writeFailureNotice_);
        outputFailed_ = true;
        drainInput();
    }
    return written;
}
