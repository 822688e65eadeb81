#pragma once
// The multi-client handler's sessions and the loop that serves them: every session with its
// connection, one readiness check over all connections and listening sockets, the queue of
// sessions the next service must serve, and the removal of finished ones. The handler and its
// fan-outs reach the sessions only through these operations.
#include <functional>
#include <map>
#include <vector>

#include "sessions/connection_record.h"
#include "sessions/multi_client_handler.h"
#include "sessions/readiness_set.h"
#include "toolkit/lu_array.h"

class SessionEventLoop {
public:
    using Client = RyStoreMultiClientHandlerBase::Client;

    SessionEventLoop() = default;
    // Closes and deletes every session's connection.
    ~SessionEventLoop();
    SessionEventLoop(const SessionEventLoop&) = delete;
    SessionEventLoop& operator=(const SessionEventLoop&) = delete;

    // Takes ownership of the session and its connection; the next service serves it whatever
    // its connection does.
    void add(Client* client, RySocketInterface* socket);
    size_t size() const { return sessions.size(); }
    bool isEmpty() const { return sessions.empty(); }
    // Hands every session, in the order they are served, to `reach`, which says whether it
    // gave the session anything; a session reached is queued for service when serving it
    // then could change anything.
    template <class Reach>
    void broadcast(Reach reach) {
        for (auto& [client, record] : sessions)
            if (reach(*client) && needsService(record)) markDue(record);
    }

    // ---- one turn
    // The listening descriptors as they are now; call before one of them is closed, as its
    // number may come back as another socket.
    void setListeners(const LuDArray<int>& descriptors) { readiness.setListeners(descriptors); }
    // The one readiness check: connections with something to read are queued, readable
    // listening descriptors remembered until the next check. False when the turn has nothing
    // to serve or accept.
    bool checkReadiness();
    bool listenerReadable(int descriptor) const { return readiness.listenerReadable(descriptor); }
    // Serves every queued session with `serve` after draining the input of all of them, on
    // what the last readiness check found; a session queued meanwhile waits for the next
    // service.
    void serveDue(const std::function<void(Client&)>& serve);
    // Deletes every finished session and its connection, telling `removing` first.
    void removeFinished(const std::function<void(Client&)>& removing);

    // Whether a service has anything to do.
    bool hasDue() const { return !due.empty(); }

private:
    void markDue(SessionConnection& record);
    bool needsService(SessionConnection& record);

    // Every session with its connection, in the order they are served; its size is the client
    // count. Records are held by node, so pointers to them stay valid until the session goes.
    std::map<Client*, SessionConnection> sessions;
    ReadinessSet readiness;
    // Sessions the next service must serve even if their connection stays quiet; the queue
    // and the list being served are kept apart, so that neither is reallocated per turn.
    std::vector<SessionConnection*> due;
    std::vector<SessionConnection*> serving;
};
