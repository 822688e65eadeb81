#pragma once
// One realtime session on one client connection: reads the client's opening options, runs the
// optional start handshake ('t' query, 'r' on the first frame, the client's 'g'), then takes the
// client's threshold ('t') and JSON message ('m') commands while the multi-client handler
// writes every camera frame through sendGlobs() or sendEncodedFrame().
#include <cstddef>
#include <cstdint>
#include <memory>

#include "net/non_blocking_socket.h"
#include "net/shared_bytes.h"
#include "protocol/common/abstract_config.h"
#include "protocol/frames/glob_interfaces.h"
#include "protocol/common/records.h"
#include "protocol/common/store_task.h"
#include "protocol/messages/status_messages.h"
#include "toolkit/lu_array.h"
#include "toolkit/lu_str.h"

namespace RyStoreProtocol {

class RealtimeProtocol : public RyStoreTask {
public:
    // Receives the client messages that neither a monitor nor a camera command consumed.
    class MessageHandlerInterface {
    public:
        virtual void handleMessage(const LuStr& message) = 0;

    protected:
        ~MessageHandlerInterface() = default;
    };

    // The states, with the names used in diagnostics (stateName()).
    enum State { initial = 0, stage2 = 1, go_ahead = 2, reading_threshold = 3, reading_message = 4, exited = 5 };

    // Nothing is read or written here. The socket, config, camera list and handler are borrowed
    // and must outlive the protocol; the handler may be null. A monitor kind that is not offered
    // (a bit of monitorBit()) is not recognised: its enable text is an ordinary message.
    RealtimeProtocol(NonBlockingSocket& socket, AbstractConfig& config, const LuDArray<int>& cameras,
                     bool messagesEnabled, MessageHandlerInterface* messageHandler,
                     unsigned offeredMonitors = allMonitorKinds);
    ~RealtimeProtocol() override;
    RealtimeProtocol(const RealtimeProtocol&) = delete;
    RealtimeProtocol& operator=(const RealtimeProtocol&) = delete;

    // Runs the session as far as the client's input allows; never waits.
    void process() override;
    bool isAlive() override;

    State state() const;
    static const char* stateName(State state);
    const char* stateName() const { return stateName(state()); }

    // Frames may be sent: "go_ahead" or "reading_threshold".
    bool isReady() const;
    // The handshake waits for the first camera frame, which sendReady() answers with 'r'.
    bool isWaitingForFirstFrame() const;
    // 'r' was written; the client's 'g' has not been read yet.
    bool isWaitingForGo() const;
    // Camera messages (setting changes) are for this client: ready, with messages enabled.
    bool acceptsCameraMessages() const;

    // Writes 'r' in place of the first frame. Does nothing unless isWaitingForFirstFrame().
    void sendReady();
    // Writes one frame in this client's form. A frame for a client that is not ready is not
    // written and counts as sent. A failed write closes the session and returns false.
    bool sendGlobs(const AbstractGlobFrame& frame, const Timecode& timecode, const MaskInfo& masks);
    // As sendGlobs(), with bytes from encodeRealtimeFrame() for this client's view and flags.
    bool sendEncodedFrame(const uint8_t* bytes, size_t length);
    // The same with bytes shared by every client of one view: a stalled client's queue holds
    // them by reference rather than a copy.
    bool sendEncodedFrame(const LuSharedBytes& frame);
    // Writes one JSON message with the realtime framing ('m', u32 length, text). Nothing is
    // written after the session has exited (the message is dropped, which counts as success).
    bool sendMessage(const LuStr& text);

    bool compactCentroids() const;
    bool sendsTimecodes() const;
    bool messagesEnabled() const;
    // Kind 0 frame rate, 1 timecode rate, 2 rectangular masks, 3 camera online states; false
    // for any other kind.
    bool monitorEnabled(int kind) const;

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace RyStoreProtocol
