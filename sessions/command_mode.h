#pragma once
// The command exchange ('C'): one length-prefixed JSON command and its reply, after which the
// client may send another first byte. The command may change the client's configuration, which
// the session keeps for the modes that follow.
#include "protocol/command/command_channel.h"
#include "protocol/common/json_receiver.h"
#include "sessions/session_mode.h"

class CommandExchangeMode final : public SessionMode {
public:
    explicit CommandExchangeMode(RyStoreMultiClientHandlerBase::Client& session,
                                 RyStoreProtocol::CommandSet commands = RyStoreProtocol::CommandSet::full);

    bool start() override;
    bool step() override;
    Next next() const override { return next_; }
    RyStoreMultiClientHandlerBase::Client::State state() const override;
    bool waitsForClient() const override { return true; }

private:
    void reply(const LuStr& command);

    RyStoreMultiClientHandlerBase::Client& session;
    RyStoreProtocol::JSonReceiver receiver;
    RyStoreProtocol::CommandSet commands;
    Next next_ = Next::keepRunning;
};
