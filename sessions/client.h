#pragma once
// One client connection. The first byte the client sends is looked up in the server's mode
// table and chooses what the connection is for; the session runs that mode and, once it is
// over, reads another first byte or waits for the client to close. The session keeps only what
// every mode shares: the buffered socket, the camera list and the client's configuration.
#include <cstdint>
#include <memory>

#include "net/clock.h"
#include "net/non_blocking_socket.h"
#include "protocol/command/command_channel.h"
#include "protocol/common/store_task.h"
#include "sessions/multi_client_handler.h"
#include "toolkit/lu_array.h"
#include "toolkit/lu_str.h"

class ReadOnlyConfig;
class SessionMode;
class SessionServices;

class RyStoreMultiClientHandlerBase::Client : public RyStoreTask {
public:
    // The states diagnostics name. The session itself is in one of waiting_for_command,
    // waiting_for_client_to_close and exited; the others are those of the running mode. The
    // values are those the states have always had; 5 and 8 belonged to states no session enters.
    enum State {
        waiting_for_command = 0,
        running_realtime_protocol = 1,
        running_livefeat_protocol = 2,
        running_acquire_protocol = 3,
        configure = 4,
        waiting_for_client_config = 6,
        waiting_for_client_to_close = 7,
        exited = 9,
    };

    // The connection belongs to the handler; the session only switches it to non-blocking
    // mode. A connection that cannot be made non-blocking ends the session at once.
    Client(RySocketInterface& connection, SessionServices& services, RyStoreProtocol::AbstractClock& clock);
    // Never closes the connection: the handler does.
    ~Client() override;
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Steps the state machine while it makes progress.
    void process() override;
    bool isAlive() override { return mode_ || state_ != exited; }

    State state() const;
    static const char* stateName(State state);

    // The running mode, or null between modes.
    SessionMode* mode() const { return mode_.get(); }
    // Whether serving the session while its connection is quiet would change nothing.
    bool waitsForClient() const;

    // Host camera indices; position p is the client's camera p. A mode may narrow them (the
    // cameras a client asked for by name).
    LuDArray<int>& cameras() { return cameras_; }
    const LuDArray<int>& cameras() const { return cameras_; }
    // From now on the session's changes to the host are refused and reported; it may still read
    // and stream.
    void restrictToReading();
    bool mayChangeHost() const { return readOnly_ == nullptr; }
    // What the session's modes read and change the host through: the server's configuration,
    // or a read-only view of it for a client that may not change the host.
    RyStoreProtocol::AbstractConfig& config();
    RyStoreConfigureHandlerBase& configureHandler();

    RyStoreProtocol::ClientConfiguration& clientConfiguration() { return clientConfig; }
    const RyStoreProtocol::ClientConfiguration& clientConfiguration() const { return clientConfig; }
    NonBlockingSocket& socket() { return bufferedSocket; }
    RySocketInterface& connection() { return connection_; }
    SessionServices& services() { return services_; }

    // A status message framed for the running stream; a session that streams nothing drops it,
    // which counts as success.
    bool sendMessage(const LuStr& text);

private:
    // One step; true when it made progress.
    bool step();
    bool waitForCommand();
    void startModeFor(uint8_t command);
    bool runMode();
    bool waitForClientToClose();
    bool reportUnknownState();

    RySocketInterface& connection_;
    NonBlockingSocket bufferedSocket;
    SessionServices& services_;
    // The session's own state while no mode runs.
    State state_ = waiting_for_command;
    LuDArray<int> cameras_;
    RyStoreProtocol::ClientConfiguration clientConfig;
    std::unique_ptr<ReadOnlyConfig> readOnly_;
    std::unique_ptr<SessionMode> mode_;
};
