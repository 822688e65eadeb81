#pragma once
// The multi-client handler's own record: the services its sessions share, its sessions and
// their connections, the readiness set, the realtime clients it aggregates for the host, and
// the queue of sessions the next poll serves.
#include <set>
#include <unordered_map>
#include <vector>

#include "sessions/connection_record.h"
#include "sessions/multi_client_handler.h"
#include "sessions/readiness_set.h"
#include "sessions/session_services.h"

struct RyStoreMultiClientHandlerBase::Impl {
    Impl(RyStoreConfigureHandlerBase& configure, const SessionModeTable& modes) : services(configure, modes) {}

    SessionServices services;
    // Every session, in the order they are served; its size is the client count.
    std::set<Client*> clients;
    std::unordered_map<Client*, SessionConnection> connections;
    ReadinessSet readiness;
    // Sessions that reached the frame-waiting stage, or are ready for frames.
    std::set<Client*> realtimeClients;
    // Sessions the next poll must serve even if their connection stays quiet; the handler
    // keeps the list and the one being served apart, so that neither is reallocated per poll.
    // Connections are held by node, so these pointers stay valid until the session is removed.
    std::vector<SessionConnection*> due;
    std::vector<SessionConnection*> serving;
};
