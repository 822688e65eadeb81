#pragma once
// The handler's record of one session's connection.
#include "sessions/multi_client_handler.h"

class RySystemSocket;

struct SessionConnection {
    RyStoreMultiClientHandlerBase::Client* client = nullptr;
    // Owned by the handler, deleted after its session.
    RySocketInterface* socket = nullptr;
    // Set when the connection is an operating-system socket.
    RySystemSocket* system = nullptr;
    // The descriptor the readiness set watches for this session, or -1 when it is not watched
    // (any other socket, or one the set refused): such a session is drained and served on
    // every poll.
    int watched = -1;
    // The last readiness check reported the descriptor readable.
    bool readable = false;
    // Queued to be served by the next poll.
    bool due = false;
};
