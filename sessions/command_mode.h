#pragma once
// The command exchange ('C'): one length-prefixed JSON command and its reply, after which the
// client may send another first byte. The command may change the client's configuration, which
// the session keeps for the modes that follow.
#include "protocol/common/json_receiver.h"
#include "sessions/session_mode.h"

class CommandExchangeMode final : public SessionMode {
public:
    explicit CommandExchangeMode(RyStoreMultiClientHandlerBase::Client& session);

    bool start() override;
    bool step() override;
    Next next() const override { return next_; }
    RyStoreMultiClientHandlerBase::Client::State state() const override;
    bool waitsForClient() const override { return true; }

private:
    void reply(const LuStr& command);

    RyStoreMultiClientHandlerBase::Client& session;
    RyStoreProtocol::JSonReceiver receiver;
    // The reply said the search for cameras goes on: the exchange waits for the list, which
    // this server never produces.
    bool waitingForCameras = false;
    Next next_ = Next::keepRunning;
};
