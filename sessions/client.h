#pragma once
// One client connection. The first byte the client sends chooses what the connection is for
// (realtime stream, live features, acquisition, configure request, command exchange); the
// session runs that mode and, once it is over, waits for the client to close.
#include <cstdint>
#include <memory>

#include "net/clock.h"
#include "net/non_blocking_socket.h"
#include "protocol/command/command_channel.h"
#include "protocol/configure/configure_handler.h"
#include "protocol/common/json_receiver.h"
#include "protocol/realtime/realtime_protocol.h"
#include "protocol/common/store_task.h"
#include "sessions/multi_client_handler.h"
#include "toolkit/lu_array.h"
#include "toolkit/lu_str.h"

class RyStoreMultiClientHandlerBase::Client : public RyStoreTask {
public:
    enum State {
        waiting_for_command = 0,
        running_realtime_protocol = 1,
        running_livefeat_protocol = 2,
        running_acquire_protocol = 3,
        configure = 4,
        configure_get = 5,
        waiting_for_client_config = 6,
        waiting_for_client_to_close = 7,
        waiting_for_available_cameras = 8,
        exited = 9,
    };

    // Client messages of the realtime stream that nothing else consumed end up on the
    // diagnostic stream.
    class RealtimeMessageHandler : public RyStoreProtocol::RealtimeProtocol::MessageHandlerInterface {
    public:
        void handleMessage(const LuStr& message) override;
    };

    // The connection belongs to the handler; the session only switches it to non-blocking
    // mode. A connection that cannot be made non-blocking ends the session at once.
    Client(RySocketInterface& connection, Impl& handler, RyStoreProtocol::AbstractClock& clock);
    // Never closes the connection: the handler does.
    ~Client() override;
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Steps the state machine while it makes progress.
    void process() override;
    bool isAlive() override { return state_ != exited; }

    State state() const { return state_; }
    static const char* stateName(State state);

    // The realtime protocol while the session has one.
    RyStoreProtocol::RealtimeProtocol* realtimeProtocol() const { return realtime.get(); }
    // Host camera indices; position p is the client's camera p.
    const LuDArray<int>& cameras() const { return cameras_; }
    const RyStoreProtocol::ClientConfiguration& clientConfiguration() const { return clientConfig; }
    NonBlockingSocket& socket() { return bufferedSocket; }
    RySocketInterface& connection() { return connection_; }

    // A status message framed for the running stream; a session that streams nothing drops it,
    // which counts as success.
    bool sendMessage(const LuStr& text);

private:
    // One step; true when it made progress.
    bool step();
    bool waitForCommand();
    bool runRealtime();
    bool runConfigure();
    bool runCommandExchange();
    bool waitForClientToClose();
    bool reportUnknownState();

    void startRealtime();
    void startConfigure();
    void refuseAcquire();
    void refuseLiveFeatures();
    void closeAfterUnknownCommand(uint8_t command);

    RySocketInterface& connection_;
    NonBlockingSocket bufferedSocket;
    RyStoreProtocol::JSonReceiver messageReceiver;
    std::unique_ptr<RyStoreProtocol::RealtimeProtocol> realtime;
    State state_ = waiting_for_command;
    Impl& handler;
    std::unique_ptr<RyStoreConfigureHandlerBase::HandleConfigurationRequestTask> configureTask;
    LuDArray<int> cameras_;
    RyStoreProtocol::ClientConfiguration clientConfig;
    RealtimeMessageHandler messageHandler;
};
