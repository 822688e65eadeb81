#pragma once
// The realtime mode ('R'): runs the realtime protocol on the session's socket until the
// protocol ends. Refused when the server takes no realtime clients.
#include <memory>

#include "protocol/realtime/realtime_protocol.h"
#include "sessions/session_mode.h"

class RealtimeMode final : public SessionMode {
public:
    // Client messages of the realtime stream that nothing else consumed end up on the
    // diagnostic stream.
    class MessageHandler : public RyStoreProtocol::RealtimeProtocol::MessageHandlerInterface {
    public:
        void handleMessage(const LuStr& message) override;
    };

    explicit RealtimeMode(RyStoreMultiClientHandlerBase::Client& session) : session(session) {}

    bool start() override;
    bool step() override;
    Next next() const override { return next_; }
    RyStoreMultiClientHandlerBase::Client::State state() const override {
        return RyStoreMultiClientHandlerBase::Client::running_realtime_protocol;
    }
    bool waitsForClient() const override;

    bool sendMessage(const LuStr& text) override { return protocol->sendMessage(text); }
    bool monitorEnabled(int kind) const override { return protocol->monitorEnabled(kind); }
    bool acceptsCameraMessages() const override { return protocol->acceptsCameraMessages(); }
    RyStoreProtocol::RealtimeProtocol* realtimeStream() override { return protocol.get(); }

private:
    RyStoreMultiClientHandlerBase::Client& session;
    MessageHandler messageHandler;
    std::unique_ptr<RyStoreProtocol::RealtimeProtocol> protocol;
    Next next_ = Next::keepRunning;
};
