#pragma once
// The live-feature mode ('f'): the client selects one camera of its list and receives, for
// every host image of it, the run segments and, when it asks, the image, throttled by its
// acknowledgements. The mode holds the client's share of the host's per-camera features and
// images subscriptions and gives it back however the session ends. Refused when the server has
// no live-feature host.
#include "protocol/livefeat/livefeat_client_state.h"
#include "sessions/session_mode.h"

class LiveFeatMode final : public SessionMode {
public:
    explicit LiveFeatMode(RyStoreMultiClientHandlerBase::Client& session) : session(session) {}
    // Releases what the client still holds: the session ended with its connection, or the
    // handler is going away.
    ~LiveFeatMode() override;
    LiveFeatMode(const LiveFeatMode&) = delete;
    LiveFeatMode& operator=(const LiveFeatMode&) = delete;

    bool start() override;
    bool step() override;
    Next next() const override { return next_; }
    RyStoreMultiClientHandlerBase::Client::State state() const override {
        return RyStoreMultiClientHandlerBase::Client::running_livefeat_protocol;
    }
    // Frames are written by the handler's image fan-out; the mode itself acts only on input.
    bool waitsForClient() const override { return true; }

    bool sendMessage(const LuStr& text) override;
    // Only the rectangular-masks monitor exists for live-feature clients.
    bool monitorEnabled(int kind) const override;
    bool acceptsCameraMessages() const override { return running() && client.messagesEnabled; }
    RyStoreProtocol::LiveFeatClientState* liveFeatState() override { return running() ? &client : nullptr; }

private:
    bool running() const { return next_ == Next::keepRunning; }
    void releaseSubscriptions();

    RyStoreMultiClientHandlerBase::Client& session;
    RyStoreProtocol::LiveFeatClientState client;
    bool released = false;
    Next next_ = Next::keepRunning;
};
