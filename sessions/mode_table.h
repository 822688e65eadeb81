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

class SessionModeTable {
public:
    SessionModeTable(std::initializer_list<SessionModeEntry> entries) : entries(entries) {}

    // The entry of a first byte, or null.
    const SessionModeEntry* find(uint8_t firstByte) const;

private:
    std::vector<SessionModeEntry> entries;
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
