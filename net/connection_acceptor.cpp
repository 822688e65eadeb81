#include "net/connection_acceptor.h"

#include <sys/socket.h>

#include <cerrno>

#include "net/socket_functions.h"
#include "toolkit/diagnostics.h"

namespace {

// The connection went away between the readiness report and the accept; the next one may
// be fine.
bool isTransient(int error) { return error == ECONNABORTED || error == EINTR || error == EPROTO; }

}  // namespace

int LuConnectionAcceptor::acceptPending(int listening, const std::function<void(int)>& take) {
    // Without O_NONBLOCK only the connection the readiness report promised is safe to take.
    bool nonBlocking = false;
    int limit = LuSocketIsNonBlocking(listening, nonBlocking) && nonBlocking ? maxPerPoll : 1;
    int taken = 0;
    for (int attempt = 0; attempt < limit; ++attempt) {
        int descriptor = LuSocketAccept(listening);
        if (descriptor >= 0) {
            if (failing_) fy::diagnostic("Accepting connections again\n");
            failing_ = false;
            take(descriptor);
            ++taken;
            continue;
        }
        LuStatus failed = LuStatus::systemFailure("accept");
        if (isTransient(failed.error())) continue;
        if (failed.error() == EAGAIN || failed.error() == EWOULDBLOCK) break;
        if (!failing_) fy::diagnostic("%s\n", failed.message().c_str());
        failing_ = true;
        break;
    }
    return taken;
}
