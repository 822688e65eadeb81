#include "sessions/realtime_mode.h"

#include "protocol/configure/configure_handler.h"
#include "sessions/session_services.h"
#include "toolkit/diagnostics.h"

void RealtimeMode::MessageHandler::handleMessage(const LuStr& message) {
    fy::diagnostic("Got message: %.*s\n", message.length(), message.c_str());
}

bool RealtimeMode::start() {
    SessionServices& services = session.services();
    if (!services.realtimeSupported()) {
        fy::diagnostic("Realtime mode not supported\n");
        return false;
    }
    // What the client asked for through the command exchange applies to this stream.
    bool messages = false;
    if (services.configureHandler().supportsClientConfig()) {
        const RyStoreProtocol::ClientConfiguration& wanted = session.clientConfiguration();
        messages = wanted.realtimeMessages;
        if (!wanted.wantedCameras.isNull()) session.cameras() = wanted.wantedCameras.get();
    }
    protocol = std::make_unique<RyStoreProtocol::RealtimeProtocol>(session.socket(), session.config(),
                                                                   session.cameras(), messages, &messageHandler,
                                                                   offeredMonitors);
    return true;
}

bool RealtimeMode::step() {
    if (protocol->isAlive()) {
        protocol->process();
        if (protocol->isAlive()) return false;
    }
    next_ = session.socket().isOpen() ? Next::waitForClientToClose : Next::exit;
    return true;
}

bool RealtimeMode::waitsForClient() const {
    // A protocol waiting for the first frame must be seen by every poll: that is what starts
    // the host's frames.
    return protocol->isAlive() && !protocol->isWaitingForFirstFrame();
}
