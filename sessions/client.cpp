#include "sessions/client.h"

#include "sessions/handler_record.h"
#include "toolkit/diagnostics.h"

using RyStoreProtocol::RealtimeProtocol;
using Read = SessionInputBuffer::Read;

void RyStoreMultiClientHandlerBase::Client::RealtimeMessageHandler::handleMessage(const LuStr& message) {
    fy::diagnostic("Got message: %.*s\n", message.length(), message.c_str());
}

RyStoreMultiClientHandlerBase::Client::Client(RySocketInterface& connection, Impl& handlerRecord,
                                              RyStoreProtocol::AbstractClock& clock)
    : connection_(connection),
      bufferedSocket(connection, clock),
      messageReceiver(bufferedSocket),
      handler(handlerRecord) {
    connection_.setNonBlocking(true);
    // A blocking connection would let this one client hold the host's thread; such a
    // connection is not served at all, and the handler closes it in its next removal pass.
    if (!connection_.isNonBlocking()) {
        state_ = exited;
        return;
    }
    cameras_ = handler.config().camerasForClient(connection_.getPeerName(), connection_.getSockPort());
}

RyStoreMultiClientHandlerBase::Client::~Client() {
    // The protocol objects refer to the socket and the camera list, so they go first.
    realtime.reset();
    configureTask.reset();
}

const char* RyStoreMultiClientHandlerBase::Client::stateName(State state) {
    switch (state) {
    case waiting_for_command: return "waiting_for_command";
    case running_realtime_protocol: return "running_realtime_protocol";
    case running_livefeat_protocol: return "running_livefeat_protocol";
    case running_acquire_protocol: return "running_acquire_protocol";
    case configure: return "configure";
    case configure_get: return "configure_get";
    case waiting_for_client_config: return "waiting_for_client_config";
    case waiting_for_client_to_close: return "waiting_for_client_to_close";
    case waiting_for_available_cameras: return "waiting_for_available_cameras";
    case exited: return "exited";
    }
    return "unknown";
}

void RyStoreMultiClientHandlerBase::Client::process() {
    while (step()) {
    }
}

bool RyStoreMultiClientHandlerBase::Client::step() {
    switch (state_) {
    case waiting_for_command: return waitForCommand();
    case running_realtime_protocol: return runRealtime();
    case configure: return runConfigure();
    case waiting_for_client_config: return runCommandExchange();
    case waiting_for_client_to_close: return waitForClientToClose();
    case waiting_for_available_cameras: return false;
    // Live-feature and acquisition sessions are never started by this session yet ('f' and
    // 'a' are refused), so their states cannot be reached.
    case running_livefeat_protocol:
    case running_acquire_protocol:
    case configure_get:
    case exited: return reportUnknownState();
    }
    return reportUnknownState();
}

bool RyStoreMultiClientHandlerBase::Client::waitForCommand() {
    if (!bufferedSocket.hasInput()) return false;
    SessionInputBuffer& input = bufferedSocket.input();
    uint8_t command = 0;
    Read result = input.readByte(command);
    if (result != Read::ok) {
        input.rollback();
        if (result == Read::failed) state_ = exited;
        return false;
    }
    input.commit();
    switch (command) {
    case 'R': startRealtime(); break;
    case 'c': startConfigure(); break;
    case 'a': refuseAcquire(); break;
    case 'C': state_ = waiting_for_client_config; break;
    case 'f': refuseLiveFeatures(); break;
    default: closeAfterUnknownCommand(command); break;
    }
    return true;
}

void RyStoreMultiClientHandlerBase::Client::startRealtime() {
    if (handler.realtimeHandler == nullptr && !handler.realtimeActive) {
        fy::diagnostic("Realtime mode not supported\n");
        state_ = waiting_for_client_to_close;
        return;
    }
    bool messages = false;
    if (handler.configureHandler->supportsClientConfig()) {
        messages = clientConfig.realtimeMessages;
        if (!clientConfig.wantedCameras.isNull()) cameras_ = clientConfig.wantedCameras.get();
    }
    realtime = std::make_unique<RealtimeProtocol>(bufferedSocket, handler.config(), cameras_, messages,
                                                  &messageHandler);
    state_ = running_realtime_protocol;
}

void RyStoreMultiClientHandlerBase::Client::startConfigure() {
    configureTask = std::make_unique<RyStoreConfigureHandlerBase::HandleConfigurationRequestTask>(
        *handler.configureHandler, bufferedSocket, cameras_);
    state_ = configure;
}

void RyStoreMultiClientHandlerBase::Client::refuseAcquire() {
    // Without acquisition support the client is told so by an empty answer.
    static const uint8_t refusal[2] = {0, 0};
    bufferedSocket.write(refusal, sizeof refusal);
    state_ = waiting_for_client_to_close;
}

void RyStoreMultiClientHandlerBase::Client::refuseLiveFeatures() {
    fy::diagnostic("Features mode not supported\n");
    state_ = waiting_for_client_to_close;
}

void RyStoreMultiClientHandlerBase::Client::closeAfterUnknownCommand(uint8_t command) {
    fy::diagnostic("Unknown command '%c'\n", static_cast<char>(command));
    state_ = waiting_for_client_to_close;
}

bool RyStoreMultiClientHandlerBase::Client::runRealtime() {
    if (realtime->isAlive()) {
        realtime->process();
        if (realtime->isAlive()) return false;
    }
    if (bufferedSocket.isOpen()) {
        state_ = waiting_for_client_to_close;
        return true;
    }
    state_ = exited;
    return false;
}

bool RyStoreMultiClientHandlerBase::Client::runConfigure() {
    configureTask->process();
    if (configureTask->isAlive()) return false;
    configureTask.reset();
    state_ = waiting_for_client_to_close;
    return true;
}

bool RyStoreMultiClientHandlerBase::Client::runCommandExchange() {
    if (!bufferedSocket.hasInput()) return false;
    // A receiver that is done holds the previous exchange's text: arm it for this one.
    if (messageReceiver.isDone()) {
        messageReceiver.reset();
        return true;
    }
    messageReceiver.process();
    if (!messageReceiver.isDone()) return false;
    const LuStr& text = messageReceiver.message();
    if (text.isNull()) {
        state_ = exited;
        return false;
    }
    if (!handler.configureHandler->supportsClientConfig()) {
        fy::diagnostic("Got client config request without support.\n");
        RyStoreProtocol::sendCommandReply(bufferedSocket, RyStoreProtocol::errorReply("unsupported"));
        state_ = waiting_for_command;
        return true;
    }
    RyStoreProtocol::CommandReply reply =
        RyStoreProtocol::dispatchClientCommand(text, handler.config(), clientConfig, true,
                                               connection_.getPeerName(), connection_.getSockPort());
    RyStoreProtocol::sendCommandReply(bufferedSocket, reply.text);
    state_ = reply.waitForAvailableCameras ? waiting_for_available_cameras : waiting_for_command;
    return true;
}

bool RyStoreMultiClientHandlerBase::Client::waitForClientToClose() {
    if (!bufferedSocket.hasInput()) return false;
    SessionInputBuffer& input = bufferedSocket.input();
    // Everything the client sends now is discarded, all of it in one go.
    size_t unread = input.unreadBytes();
    if (unread > 0) {
        input.skip(unread);
        input.commit();
        return true;
    }
    state_ = exited;
    return false;
}

bool RyStoreMultiClientHandlerBase::Client::reportUnknownState() {
    fy::diagnostic("Client: Unknown state: %s\n", stateName(state_));
    return false;
}

bool RyStoreMultiClientHandlerBase::Client::sendMessage(const LuStr& text) {
    if (state_ == running_realtime_protocol && realtime) return realtime->sendMessage(text);
    return true;
}
