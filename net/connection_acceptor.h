#pragma once
// Takes the connections waiting on a listening socket: every pending one up to a bound per
// call, so that a storm of clients (all reconnecting after a host restart, say) is answered
// within a few polls without one poll holding the host's thread for long.
#include <functional>

class LuConnectionAcceptor {
public:
    // Per listening socket and call.
    static constexpr int maxPerPoll = 64;

    // Accepts what is pending on the listening descriptor and hands each new descriptor to
    // take(); returns how many were taken. Call it only when the descriptor was found readable:
    // a listener that cannot be made non-blocking then still never blocks, at one connection
    // per call. An accept refused for want of descriptors (or memory) leaves the connection in
    // the kernel's backlog for a later call; that is reported once per stretch of failures,
    // not on every poll.
    int acceptPending(int listening, const std::function<void(int)>& take);

private:
    bool failing_ = false;
};
