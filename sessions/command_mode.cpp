#include "sessions/command_mode.h"

#include "protocol/command/command_channel.h"
#include "protocol/configure/configure_handler.h"
#include "sessions/session_services.h"
#include "toolkit/diagnostics.h"

using Client = RyStoreMultiClientHandlerBase::Client;

CommandExchangeMode::CommandExchangeMode(Client& session, RyStoreProtocol::CommandSet commands)
    : session(session), receiver(session.socket()), commands(commands) {}

bool CommandExchangeMode::start() {
    receiver.reset();
    return true;
}

Client::State CommandExchangeMode::state() const { return Client::waiting_for_client_config; }

bool CommandExchangeMode::step() {
    if (!session.socket().hasInput()) return false;
    receiver.process();
    if (!receiver.isDone()) return false;
    const LuStr& text = receiver.message();
    if (text.isNull()) {
        next_ = Next::exit;
        return false;
    }
    reply(text);
    return true;
}

void CommandExchangeMode::reply(const LuStr& command) {
    SessionServices& services = session.services();
    NonBlockingSocket& socket = session.socket();
    if (!services.configureHandler().supportsClientConfig()) {
        fy::diagnostic("Got client config request without support.\n");
        // A realtime-only server knows no commands at all then.
        bool full = commands == RyStoreProtocol::CommandSet::full;
        RyStoreProtocol::sendCommandReply(socket, RyStoreProtocol::errorReply(full ? "unsupported" : "unknown_command"));
        next_ = Next::readNextCommand;
        return;
    }
    // Realtime-only servers have no array commands, so nothing there asks for this.
    if (!session.mayChangeHost() && commands == RyStoreProtocol::CommandSet::full &&
        RyStoreProtocol::isArrayCommand(command, "change_setting")) {
        services.access().reportRefusedChange(session.connection().getPeerName().str(), "camera setting change");
        RyStoreProtocol::sendCommandReply(socket, RyStoreProtocol::errorReply("not_permitted"));
        next_ = Next::readNextCommand;
        return;
    }
    RyStoreProtocol::CommandReply reply =
        RyStoreProtocol::dispatchClientCommand(command, session.config(), session.clientConfiguration(), true,
                                               session.connection().getPeerName(), session.connection().getSockPort(),
                                               commands);
    RyStoreProtocol::sendCommandReply(socket, reply.text);
    next_ = Next::readNextCommand;
}
