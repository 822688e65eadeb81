#include "protocol/realtime/realtime_protocol.h"

#include <vector>

#include "protocol/messages/camera_messages.h"
#include "protocol/frames/frame_format.h"
#include "protocol/common/json_receiver.h"
#include "protocol/messages/status_messages.h"
#include "toolkit/diagnostics.h"

namespace RyStoreProtocol {

namespace {

using Read = SessionInputBuffer::Read;

// The client's next byte; waiting while nothing has arrived.
Read takeNextByte(NonBlockingSocket& socket, uint8_t& value) {
    if (!socket.hasInput()) return Read::waiting;
    return socket.input().takeByte(value);
}

// Reads and drops everything that has arrived; false once the client has closed.
bool discardInput(NonBlockingSocket& socket) {
    if (!socket.hasInput()) return true;
    uint8_t byte = 0;
    for (;;) {
        Read result = socket.input().takeByte(byte);
        if (result == Read::failed) return false;
        if (result == Read::waiting) return true;
    }
}

}  // namespace

class RealtimeProtocol::Impl {
public:
    // Where the session stands on the wire, in the order a client meets the steps. The states
    // diagnostics name (State) are coarser: the handshake steps are all "stage2".
    enum class WireStep {
        opening,                  // the client's option bytes: ['f'] ['t' final] or a final byte
        querying_timecodes,       // 't' written; the client's answer ('1' for timecodes) awaited
        waiting_for_first_frame,  // answered; 'r' goes out with the first camera frame
        waiting_for_go,           // 'r' written; the client's 'g' awaited
        draining,                 // the handshake failed; input is dropped until the client closes
        commands,                 // frames flow; the client's 't' and 'm' commands are read
        reading_threshold,        // after 't': camera position and threshold, two bytes each
        reading_message,          // after 'm': one length-prefixed JSON message
        exited,
    };

    Impl(NonBlockingSocket& socket, AbstractConfig& config, const LuDArray<int>& cameras, bool messagesEnabled,
         MessageHandlerInterface* messageHandler, unsigned offeredMonitors)
        : socket(socket), messagesEnabled(messagesEnabled), config(config), cameras(cameras), receiver(socket),
          messageHandler(messageHandler), offeredMonitors(offeredMonitors) {}

    void process();
    State state() const;
    bool isReady() const { return step_ == WireStep::commands || step_ == WireStep::reading_threshold; }
    void sendReady();
    bool sendFrameBytes(const uint8_t* bytes, size_t length);
    bool sendSharedFrame(const LuSharedBytes& frame);

    NonBlockingSocket& socket;
    WireStep step_ = WireStep::opening;
    bool compactCentroids = false;
    bool sendTimecodes = false;
    bool messagesEnabled;
    bool monitors[monitorKindCount] = {};

private:
    // One step of the state the session is in; true when the next one should follow at once.
    bool step();
    bool stepOpening();
    bool askForTimecodes();
    bool stepQueryingTimecodes();
    bool stepWaitingForFirstFrame();
    bool stepWaitingForGo();
    bool stepDraining();
    bool stepCommands();
    bool stepReadingThreshold();
    bool stepReadingMessage();

    void applyThreshold();
    void handleMessage(const LuStr& message);
    // A frame write's outcome: a failed one closes the session.
    bool frameWritten(bool written);
    void close();

    AbstractConfig& config;
    const LuDArray<int>& cameras;
    std::vector<uint8_t> thresholdBytes;
    JSonReceiver receiver;
    MessageHandlerInterface* messageHandler;
    unsigned offeredMonitors;
};

namespace {

// Monitor reports go to this client with the realtime message framing.
class SendToProtocol final : public SendMessageFunction {
public:
    explicit SendToProtocol(RealtimeProtocol::Impl& impl) : impl(impl) {}
    bool send(const LuStr& message) override { return sendRealtimeMessage(impl.socket, message); }

private:
    RealtimeProtocol::Impl& impl;
};

}  // namespace

void RealtimeProtocol::Impl::process() {
    // Every step that asks for the next one consumes input or leaves its state for good, so
    // this ends when the buffered input does.
    while (step()) {
    }
}

bool RealtimeProtocol::Impl::step() {
    switch (step_) {
        case WireStep::opening: return stepOpening();
        case WireStep::querying_timecodes: return stepQueryingTimecodes();
        case WireStep::waiting_for_first_frame: return stepWaitingForFirstFrame();
        case WireStep::waiting_for_go: return stepWaitingForGo();
        case WireStep::draining: return stepDraining();
        case WireStep::commands: return stepCommands();
        case WireStep::reading_threshold: return stepReadingThreshold();
        case WireStep::reading_message: return stepReadingMessage();
        case WireStep::exited: return false;
    }
    return false;
}

RealtimeProtocol::State RealtimeProtocol::Impl::state() const {
    switch (step_) {
        case WireStep::opening: return initial;
        case WireStep::querying_timecodes:
        case WireStep::waiting_for_first_frame:
        case WireStep::waiting_for_go:
        case WireStep::draining: return stage2;
        case WireStep::commands: return go_ahead;
        case WireStep::reading_threshold: return reading_threshold;
        case WireStep::reading_message: return reading_message;
        case WireStep::exited: return exited;
    }
    return exited;
}

// ---- opening and start handshake -----------------------------------------------------------------

bool RealtimeProtocol::Impl::stepOpening() {
    if (!socket.hasInput()) return false;
    // The whole opening is one transaction: an option byte whose follower has not arrived yet
    // waits for it instead of being read as a failure.
    SessionInputBuffer& input = socket.input();
    uint8_t byte = 0;
    bool compact = false;
    bool query = false;
    Read result = input.readByte(byte);
    if (result == Read::ok && byte == 'f') {
        compact = true;
        result = input.readByte(byte);
    }
    if (result != Read::ok) {
        input.rollback();
        // A failed opening leaves the connection open: the session drains it until the client
        // closes.
        if (result == Read::failed) step_ = WireStep::exited;
        return false;
    }
    if (byte == 't') {
        query = true;
        // A client that closes right after 't' still opened; the handshake then finds it gone.
        if (input.readByte(byte) == Read::waiting) {
            input.rollback();
            return false;
        }
    }
    // The final option byte carries nothing.
    input.commit();
    compactCentroids = compact;
    socket.setNoDelay();
    if (!query) {
        step_ = WireStep::commands;
        return true;
    }
    return askForTimecodes();
}

bool RealtimeProtocol::Impl::askForTimecodes() {
    const uint8_t query = 't';
    if (socket.write(&query, 1) < 1) {
        step_ = WireStep::exited;
        return false;
    }
    step_ = WireStep::querying_timecodes;
    return true;
}

bool RealtimeProtocol::Impl::stepQueryingTimecodes() {
    uint8_t reply = 0;
    Read result = takeNextByte(socket, reply);
    if (result == Read::waiting) return false;
    if (result == Read::failed) {
        step_ = WireStep::exited;
        return false;
    }
    sendTimecodes = reply == '1';
    step_ = WireStep::waiting_for_first_frame;
    // What came with the answer is left for the next poll rather than drained now: a 'g' sent
    // early is still there when the first frame's 'r' has gone out before that poll.
    return false;
}

bool RealtimeProtocol::Impl::stepWaitingForFirstFrame() {
    // Anything the client sends before 'r' is not part of the handshake.
    if (!discardInput(socket)) step_ = WireStep::exited;
    return false;
}

void RealtimeProtocol::Impl::sendReady() {
    if (step_ != WireStep::waiting_for_first_frame) return;
    const uint8_t ready = 'r';
    // A failed write shows up as a failed read of the client's reply.
    writeAll(socket, &ready, 1);
    step_ = WireStep::waiting_for_go;
}

bool RealtimeProtocol::Impl::stepWaitingForGo() {
    uint8_t reply = 0;
    Read result = takeNextByte(socket, reply);
    if (result == Read::waiting) return false;
    if (result == Read::ok && reply == 'g') {
        step_ = WireStep::commands;
        return true;
    }
    if (result == Read::ok) fy::diagnostic("Expecting 'g', got '%c'\n", static_cast<char>(reply));
    step_ = WireStep::draining;
    return false;
}

bool RealtimeProtocol::Impl::stepDraining() {
    if (!discardInput(socket)) step_ = WireStep::exited;
    return false;
}

// ---- commands ------------------------------------------------------------------------------------

bool RealtimeProtocol::Impl::stepCommands() {
    uint8_t command = 0;
    Read result = takeNextByte(socket, command);
    if (result == Read::waiting) return false;
    if (result == Read::failed) {
        close();
        return false;
    }
    if (command == 't') {
        step_ = WireStep::reading_threshold;
        return true;
    }
    if (command == 'm') {
        step_ = WireStep::reading_message;
        return true;
    }
    fy::diagnostic("Unexpected '%c' from client\n", static_cast<char>(command));
    return false;
}

bool RealtimeProtocol::Impl::stepReadingThreshold() {
    // The bytes collected so far stay here between polls, so a command split across packets
    // is assembled without holding anyone.
    if (!socket.hasInput()) return false;
    while (thresholdBytes.size() < 4) {
        uint8_t byte = 0;
        Read result = socket.input().takeByte(byte);
        if (result == Read::waiting) return false;
        if (result == Read::failed) {
            close();
            return false;
        }
        thresholdBytes.push_back(byte);
    }
    applyThreshold();
    step_ = WireStep::commands;
    return true;
}

void RealtimeProtocol::Impl::applyThreshold() {
    int position = (thresholdBytes[0] << 8) | thresholdBytes[1];
    int value = (thresholdBytes[2] << 8) | thresholdBytes[3];
    thresholdBytes.clear();
    int cameraCount = cameras.getSize();
    if (position >= cameraCount) {
        fy::diagnostic("Invalid camera number\n");
        fy::diagnostic("  Tried to change to camera %d, but there are only %d cameras.\n", position + 1, cameraCount);
        return;
    }
    if (value >= 256) {
        fy::diagnostic("Invalid threshold\n");
        return;
    }
    int camera = cameras[position];
    if (config.takesChanges())
        fy::diagnostic("changing camera %lld threshold to %d\n", static_cast<long long>(camera) + 1, value);
    config.changeThreshold(camera, value);
}

bool RealtimeProtocol::Impl::stepReadingMessage() {
    // The receiver keeps the message it finished last time until this step starts the next one.
    if (receiver.isDone()) {
        receiver.reset(false);
        return true;
    }
    receiver.process();
    if (!receiver.isDone()) return false;
    LuStr message = receiver.message();
    if (message.isNull()) {
        close();
        return false;
    }
    step_ = WireStep::commands;
    handleMessage(message);
    return true;
}

void RealtimeProtocol::Impl::handleMessage(const LuStr& message) {
    SendToProtocol send(*this);
    if (handleRealtimeMonitorEnable(message, monitors, config, cameras, send, offeredMonitors)) return;
    if (handleCameraMessage(message, cameras, config)) return;
    if (messageHandler) messageHandler->handleMessage(message);
}

// ---- frames --------------------------------------------------------------------------------------

bool RealtimeProtocol::Impl::sendFrameBytes(const uint8_t* bytes, size_t length) {
    if (!isReady()) return true;
    return frameWritten(writeAll(socket, bytes, length));
}

bool RealtimeProtocol::Impl::sendSharedFrame(const LuSharedBytes& frame) {
    if (!isReady()) return true;
    return frameWritten(socket.writeShared(frame) >= 0);
}

bool RealtimeProtocol::Impl::frameWritten(bool written) {
    if (!written) close();
    return written;
}

void RealtimeProtocol::Impl::close() {
    step_ = WireStep::exited;
    if (socket.isOpen()) socket.close();
}

RealtimeProtocol::RealtimeProtocol(NonBlockingSocket& socket, AbstractConfig& config, const LuDArray<int>& cameras,
                                   bool messagesEnabled, MessageHandlerInterface* messageHandler,
                                   unsigned offeredMonitors)
    : impl_(std::make_unique<Impl>(socket, config, cameras, messagesEnabled, messageHandler, offeredMonitors)) {}

RealtimeProtocol::~RealtimeProtocol() = default;

void RealtimeProtocol::process() { impl_->process(); }

bool RealtimeProtocol::isAlive() { return impl_->step_ != Impl::WireStep::exited; }

RealtimeProtocol::State RealtimeProtocol::state() const { return impl_->state(); }

const char* RealtimeProtocol::stateName(State state) {
    switch (state) {
        case initial: return "initial";
        case stage2: return "stage2";
        case go_ahead: return "go_ahead";
        case reading_threshold: return "reading_threshold";
        case reading_message: return "reading_message";
        case exited: return "exited";
    }
    return "unknown";
}

bool RealtimeProtocol::isReady() const { return impl_->isReady(); }

bool RealtimeProtocol::isWaitingForFirstFrame() const {
    return impl_->step_ == Impl::WireStep::waiting_for_first_frame;
}

bool RealtimeProtocol::isWaitingForGo() const { return impl_->step_ == Impl::WireStep::waiting_for_go; }

bool RealtimeProtocol::acceptsCameraMessages() const { return isReady() && impl_->messagesEnabled; }

void RealtimeProtocol::sendReady() { impl_->sendReady(); }

bool RealtimeProtocol::sendGlobs(const AbstractGlobFrame& frame, const Timecode& timecode, const MaskInfo& masks) {
    if (!isReady()) return true;
    std::vector<uint8_t> bytes = encodeRealtimeFrame(frame, timecode, masks, compactCentroids(), sendsTimecodes(),
                                                     messagesEnabled());
    return impl_->sendFrameBytes(bytes.data(), bytes.size());
}

bool RealtimeProtocol::sendEncodedFrame(const uint8_t* bytes, size_t length) {
    return impl_->sendFrameBytes(bytes, length);
}

bool RealtimeProtocol::sendEncodedFrame(const LuSharedBytes& frame) { return impl_->sendSharedFrame(frame); }

bool RealtimeProtocol::sendMessage(const LuStr& text) {
    if (impl_->step_ == Impl::WireStep::exited) return true;
    return sendRealtimeMessage(impl_->socket, text);
}

bool RealtimeProtocol::compactCentroids() const { return impl_->compactCentroids; }

bool RealtimeProtocol::sendsTimecodes() const { return impl_->sendTimecodes; }

bool RealtimeProtocol::messagesEnabled() const { return impl_->messagesEnabled; }

bool RealtimeProtocol::monitorEnabled(int kind) const {
    if (kind < 0 || kind >= monitorKindCount) return false;
    return impl_->monitors[kind];
}

}  // namespace RyStoreProtocol
