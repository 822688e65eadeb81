#include "sessions/client.h"

#include "sessions/mode_table.h"
#include "sessions/read_only_config.h"
#include "sessions/session_mode.h"
#include "sessions/session_services.h"
#include "toolkit/diagnostics.h"

using Read = SessionInputBuffer::Read;
using Client = RyStoreMultiClientHandlerBase::Client;

Client::Client(RySocketInterface& connection, SessionServices& services, RyStoreProtocol::AbstractClock& clock)
    : connection_(connection), bufferedSocket(connection, clock), services_(services) {
    const SessionDiagnostics& diagnostics = services_.modes().diagnostics();
    bufferedSocket.input().setFailureNotice(diagnostics.failedRead);
    bufferedSocket.setWriteFailureNotice(diagnostics.failedWrite);
    connection_.setNonBlocking(true);
    // A blocking connection would let this one client hold the host's thread; such a
    // connection is not served at all, and the handler closes it in its next removal pass.
    if (!connection_.isNonBlocking()) {
        state_ = exited;
        return;
    }
    cameras_ = services_.config().camerasForClient(connection_.getPeerName(), connection_.getSockPort());
}

// The mode refers to the socket and the camera list, so it goes first.
Client::~Client() { mode_.reset(); }

void Client::restrictToReading() {
    if (readOnly_) return;
    readOnly_ = std::make_unique<ReadOnlyConfig>(services_.configureHandler(), services_.access(),
                                                 connection_.getPeerName().str());
}

RyStoreProtocol::AbstractConfig& Client::config() { return readOnly_ ? *readOnly_ : services_.config(); }

RyStoreConfigureHandlerBase& Client::configureHandler() {
    if (readOnly_) return *readOnly_;
    return services_.configureHandler();
}

Client::State Client::state() const {
    return mode_ ? mode_->state() : state_;
}

const char* Client::stateName(State state) {
    switch (state) {
    case waiting_for_command: return "waiting_for_command";
    case running_realtime_protocol: return "running_realtime_protocol";
    case running_livefeat_protocol: return "running_livefeat_protocol";
    case running_acquire_protocol: return "running_acquire_protocol";
    case configure: return "configure";
    case waiting_for_client_config: return "waiting_for_client_config";
    case waiting_for_client_to_close: return "waiting_for_client_to_close";
    case exited: return "exited";
    }
    return "unknown";
}

bool Client::waitsForClient() const {
    if (mode_) return mode_->waitsForClient();
    return state_ == waiting_for_command || state_ == waiting_for_client_to_close;
}

void Client::process() {
    while (step()) {
    }
}

bool Client::step() {
    if (mode_) return runMode();
    switch (state_) {
    case waiting_for_command: return waitForCommand();
    case waiting_for_client_to_close: return waitForClientToClose();
    default: return reportUnknownState();
    }
}

bool Client::waitForCommand() {
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
    startModeFor(command);
    return true;
}

void Client::startModeFor(uint8_t command) {
    const SessionModeEntry* entry = services_.modes().find(command);
    state_ = waiting_for_client_to_close;
    if (entry == nullptr) {
        fy::diagnostic("Unknown command '%c'\n", static_cast<char>(command));
        return;
    }
    if (entry->create == nullptr) {
        if (entry->refuse != nullptr) entry->refuse(*this);
        return;
    }
    std::unique_ptr<SessionMode> mode = entry->create(*this);
    if (!mode->start()) return;
    mode_ = std::move(mode);
}

bool Client::runMode() {
    bool progress = mode_->step();
    switch (mode_->next()) {
    case SessionMode::Next::keepRunning: return progress;
    case SessionMode::Next::readNextCommand: state_ = waiting_for_command; break;
    case SessionMode::Next::waitForClientToClose: state_ = waiting_for_client_to_close; break;
    case SessionMode::Next::exit: state_ = exited; break;
    }
    mode_.reset();
    // Another state acts at once; an ended session has nothing left to do.
    return state_ != exited;
}

bool Client::waitForClientToClose() {
    if (!bufferedSocket.hasInput()) return false;
    SessionInputBuffer& input = bufferedSocket.input();
    // Everything the client sends now is discarded, all of it in one go.
    size_t unread = input.unreadBytes();
    if (unread > 0) {
        input.skip(unread);
        input.commit();
        return true;
    }
    // The client has closed: the read that finds the end is the session's last.
    uint8_t last = 0;
    input.readByte(last);
    input.rollback();
    state_ = exited;
    return false;
}

bool Client::reportUnknownState() {
    fy::diagnostic("Client: Unknown state: %s\n", stateName(state()));
    return false;
}

bool Client::sendMessage(const LuStr& text) { return mode_ ? mode_->sendMessage(text) : true; }
