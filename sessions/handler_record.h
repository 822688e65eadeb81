#pragma once
// The multi-client handler's shared record: what sessions need to reach (the configure adapter,
// the mode handlers, the acquisition ids) and what the handler aggregates over its sessions.
#include <map>
#include <set>
#include <vector>

#include "sessions/multi_client_handler.h"

class RySystemSocket;

struct RyStoreMultiClientHandlerBase::Impl {
    // A session's connection: owned here, deleted after its session.
    struct Connection {
        RySocketInterface* socket = nullptr;
        // Set when the connection is an operating-system socket that the shared poll covers.
        RySystemSocket* system = nullptr;
    };

    RyStoreMultiClientHandlerBase* owner = nullptr;
    RealtimeHandler* realtimeHandler = nullptr;
    LiveFeatHandler* liveFeatHandler = nullptr;
    AcquireHandler* acquireHandler = nullptr;
    std::set<int> acquisitionIds;
    // Every session, in the order they are served; its size is the client count.
    std::set<Client*> clients;
    std::map<Client*, Connection> connections;
    RyStoreConfigureHandlerBase* configureHandler = nullptr;
    // The host was told to start producing frames and has not been told to stop.
    bool realtimeActive = false;
    std::map<int, int> featureCameraCounts;
    std::map<int, int> imageCameraCounts;
    // Sessions that reached the frame-waiting stage, or are ready for frames.
    std::set<Client*> realtimeClients;
    // Listening descriptors the current poll found readable.
    std::vector<int> readableListeners;

    RyStoreProtocol::AbstractConfig& config();
};
