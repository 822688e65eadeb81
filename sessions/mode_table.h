#pragma once
// The first bytes a server understands. Each entry either starts a mode or refuses it with its
// own effect; a byte without an entry is an unknown command. The server hands its table to the
// handler, so that each library offers its own set of modes from the same session code.
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include "sessions/multi_client_handler.h"

class SessionMode;

struct SessionModeEntry {
    using Client = RyStoreMultiClientHandlerBase::Client;
    uint8_t firstByte;
    // Makes the mode for a session; null for a refused byte.
    std::unique_ptr<SessionMode> (*create)(Client& session);
    // The refusal's effect (a reply, a diagnostic); the session then waits for the client to close.
    void (*refuse)(Client& session);
};

// How a library's sessions word the failures of their connections on standard error, beside
// what each protocol reports itself. Null: the failure goes unmentioned (or, for a send, is
// reported as "send: <reason>").
struct SessionDiagnostics {
    // For every read that the connection's end (or a broken connection) cut short.
    const char* failedRead = nullptr;
    // For every write to the client that failed: the client was cut off, or the connection broke.
    const char* failedWrite = nullptr;
    // For a send() on the client's connection that failed.
    const char* failedSend = nullptr;
};

class SessionModeTable {
public:
    SessionModeTable(std::initializer_list<SessionModeEntry> entries, SessionDiagnostics diagnostics = {})
        : entries(entries), diagnostics_(diagnostics) {}

    // The entry of a first byte, or null.
    const SessionModeEntry* find(uint8_t firstByte) const;
    const SessionDiagnostics& diagnostics() const { return diagnostics_; }

private:
    std::vector<SessionModeEntry> entries;
    SessionDiagnostics diagnostics_;
};

// The `create` of an entry whose mode is constructed from the session alone.
template <class Mode>
std::unique_ptr<SessionMode> startMode(RyStoreMultiClientHandlerBase::Client& session) {
    return std::make_unique<Mode>(session);
}

// Refusals of a server without the mode.
namespace SessionRefusals {
// Two zero bytes: "no acquisition here".
void acquisitionUnsupported(RyStoreMultiClientHandlerBase::Client& session);
// "Features mode not supported" on standard error.
void liveFeaturesUnsupported(RyStoreMultiClientHandlerBase::Client& session);
}  // namespace SessionRefusals
