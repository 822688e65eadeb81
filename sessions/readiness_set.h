#pragma once
// One readiness check over every session connection and listening socket of a handler: an
// epoll set where the system offers one, poll() for listening sockets it refuses. A
// connection the set does not watch is the handler's to drain on every poll.
#include <poll.h>
#include <sys/epoll.h>

#include <vector>

#include "sessions/connection_record.h"
#include "toolkit/lu_array.h"

class ReadinessSet {
public:
    ReadinessSet();
    ~ReadinessSet();
    ReadinessSet(const ReadinessSet&) = delete;
    ReadinessSet& operator=(const ReadinessSet&) = delete;

    // Starts watching a new session's connection, when it is an open system socket.
    void watch(SessionConnection& record);
    // Before the connection is closed.
    void unwatch(SessionConnection& record);
    // Whether the set may still be asked about the connection. A broken one may not: its
    // session learns of the end by draining.
    static bool isWatchable(const SessionConnection& record);

    // The listening descriptors as they are now; a change of list re-registers them.
    void setListeners(const LuDArray<int>& descriptors);

    // One check: every connection with something to read (data, the peer's close, an error)
    // is marked readable and listed in the result, valid until the next check; readable
    // listeners are remembered until then too.
    const std::vector<SessionConnection*>& check();
    bool listenerReadable(int descriptor) const;
    bool anyListenerReadable() const { return !readableListeners.empty(); }

private:
    struct Listener {
        int descriptor;
        bool watched;
    };

    void makeRoomForReports();
    bool ownsDescriptor(const SessionConnection& record) const;

    // -1 when the system could not make a set; then every session counts as unwatched.
    int set = -1;
    // The session that owns a watched descriptor, by descriptor number. Reports carry the
    // number, not a pointer: a report about a descriptor that has since changed hands then
    // costs at most a needless drain, never a stale pointer.
    std::vector<SessionConnection*> byDescriptor;
    // Room for one report per watched descriptor, so one wait reports them all.
    std::vector<epoll_event> events;
    size_t watchedCount = 0;
    // The listening descriptors as last registered; those the set refused are tested with
    // poll() instead.
    std::vector<Listener> listeners;
    std::vector<pollfd> unwatchedListeners;
    std::vector<int> readableListeners;
    std::vector<SessionConnection*> readyConnections;
};
