#pragma once
// The multi-client handler's shared record: what sessions need to reach (the configure adapter,
// the mode handlers, the acquisition ids) and what the handler aggregates over its sessions.
#include <poll.h>
#include <sys/epoll.h>

#include <map>
#include <set>
#include <unordered_map>
#include <vector>

#include "sessions/multi_client_handler.h"

class RySystemSocket;

struct RyStoreMultiClientHandlerBase::Impl {
    // A session's connection: owned here, deleted after its session.
    struct Connection {
        Client* client = nullptr;
        RySocketInterface* socket = nullptr;
        // Set when the connection is an operating-system socket.
        RySystemSocket* system = nullptr;
        // The descriptor the readiness set watches for this session, or -1 when it is not
        // watched (any other socket, or one the set refused): such a session is drained and
        // served on every poll.
        int watched = -1;
        // The last readiness check reported the descriptor readable.
        bool readable = false;
        // In `due`.
        bool due = false;
    };

    RyStoreMultiClientHandlerBase* owner = nullptr;
    RealtimeHandler* realtimeHandler = nullptr;
    LiveFeatHandler* liveFeatHandler = nullptr;
    AcquireHandler* acquireHandler = nullptr;
    std::set<int> acquisitionIds;
    // Every session, in the order they are served; its size is the client count.
    std::set<Client*> clients;
    std::unordered_map<Client*, Connection> connections;
    RyStoreConfigureHandlerBase* configureHandler = nullptr;
    // The host was told to start producing frames and has not been told to stop.
    bool realtimeActive = false;
    std::map<int, int> featureCameraCounts;
    std::map<int, int> imageCameraCounts;
    // Sessions that reached the frame-waiting stage, or are ready for frames.
    std::set<Client*> realtimeClients;
    // Listening descriptors the current poll found readable.
    std::vector<int> readableListeners;

    // The readiness set (epoll) of the session and listening descriptors; -1 when the system
    // could not make one, and then every session counts as unwatched.
    int readiness = -1;
    // The session that owns a watched descriptor, by descriptor number. Readiness reports carry
    // the number, not a pointer: a report about a descriptor that has since changed hands then
    // costs at most a needless drain, never a stale pointer.
    std::vector<Connection*> byDescriptor;
    // Room for one readiness report per watched descriptor, so one wait reports them all.
    std::vector<epoll_event> events;
    size_t watchedCount = 0;
    // The listening descriptors as last handed to the readiness set; those it refused are
    // tested with poll() instead.
    struct Listener {
        int descriptor;
        bool watched;
    };
    std::vector<Listener> listeners;
    std::vector<pollfd> unwatchedListeners;
    // Sessions the next poll must serve even if their connection stays quiet; the handler
    // keeps the list and the one being served apart, so that neither is reallocated per poll.
    // Connections are held by node, so these pointers stay valid until the session is removed.
    std::vector<Connection*> due;
    std::vector<Connection*> serving;

    RyStoreProtocol::AbstractConfig& config();
};
