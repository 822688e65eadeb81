#pragma once
// One kind of session that a connection's first byte starts (realtime stream, configure
// request, command exchange, ...). A mode owns its protocol objects and state while it runs;
// the session owns the mode, steps it, and learns from it what follows once it is over.
#include "sessions/client.h"
#include "toolkit/lu_str.h"

namespace RyStoreProtocol {
class RealtimeProtocol;
}

class SessionMode {
public:
    // What the session does after a step.
    enum class Next {
        keepRunning,           // the mode goes on
        readNextCommand,       // over; the client may send another first byte
        waitForClientToClose,  // over; what the client sends now is discarded
        exit,                  // over, and the connection has gone
    };

    virtual ~SessionMode() = default;

    // Called once, before the first step. False when the mode refuses to run (after its own
    // refusal effect); the session then waits for the client to close.
    virtual bool start() = 0;
    // One step; true when it made progress.
    virtual bool step() = 0;
    virtual Next next() const = 0;
    // The session state that diagnostics and the handler see while the mode runs.
    virtual RyStoreMultiClientHandlerBase::Client::State state() const = 0;
    // Whether the mode does nothing until its client sends something, so that serving it
    // while its connection is quiet changes nothing.
    virtual bool waitsForClient() const = 0;

    // Status messages: a mode that streams frames them for its stream; the others drop them,
    // which counts as success.
    virtual bool sendMessage(const LuStr&) { return true; }
    virtual bool monitorEnabled(int /*kind*/) const { return false; }
    virtual bool acceptsCameraMessages() const { return false; }
    // The realtime stream, for the handler's frame fan-out; null for every other mode.
    virtual RyStoreProtocol::RealtimeProtocol* realtimeStream() { return nullptr; }
};
