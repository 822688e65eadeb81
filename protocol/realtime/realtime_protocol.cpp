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
    // Both stages of the opening: step() is true once the stage is over, successfully or not.
    class Handler {
    public:
        virtual bool step() = 0;

    protected:
        ~Handler() = default;
    };

    // Reads the opening options: ['f'] ['t' final] or a final byte alone. Writes nothing.
    class Stage1Handler final : public Handler {
    public:
        explicit Stage1Handler(Impl& impl) : impl(impl) {}
        bool step() override;

        Impl& impl;
        bool success = false;
    };

    // The start handshake: the 't' query, 'r' on the first frame, then the client's 'g'.
    class Stage2Handler final : public Handler {
    public:
        enum SubState { start = 0, querying = 1, waitingForFirstFrame = 2, waitingForGo = 3,
                        noHandshake = 4, draining = 5, finished = 6 };

        explicit Stage2Handler(Impl& impl) : impl(impl) {}
        bool step() override;

        Impl& impl;
        int subState = start;
        int queryState = 0;  // 0 not written, 1 waiting for the reply, 2 done
        int goState = 0;     // 0 not started, 1 waiting, 2 done
        bool queryAnswered = false;
        bool goReceived = false;
        bool success = false;

    private:
        enum class Wait { pending, ended };
        Wait runTimecodeQuery();
        Wait runGoWait();
    };

    // What one state step asks of process().
    enum class Step { waiting, again, over };

    Impl(NonBlockingSocket& socket, AbstractConfig& config, const LuDArray<int>& cameras, bool messagesEnabled,
         MessageHandlerInterface* messageHandler, unsigned offeredMonitors)
        : socket(socket), config(config), stage1Handler(*this), stage2Handler(*this), cameras(cameras),
          messagesEnabled(messagesEnabled), receiver(socket), messageHandler(messageHandler),
          offeredMonitors(offeredMonitors) {}

    void process();
    Step step();
    Step stepInitial();
    Step stepStage2();
    Step stepGoAhead();
    Step stepReadingThreshold();
    Step stepReadingMessage();
    void applyThreshold();
    void handleMessage(const LuStr& message);
    bool sendFrameBytes(const uint8_t* bytes, size_t length);
    bool sendSharedFrame(const LuSharedBytes& frame);
    // A frame write's outcome: a failed one closes the session.
    bool frameWritten(bool written);
    void close();

    uint32_t compactCentroids = 0;
    uint32_t sendTimecodes = 0;
    NonBlockingSocket& socket;
    AbstractConfig& config;
    uint32_t timecodeQuery = 0;
    State state = initial;
    Stage1Handler stage1Handler;
    Stage2Handler stage2Handler;
    std::vector<uint8_t> thresholdBytes;
    const LuDArray<int>& cameras;
    bool messagesEnabled;
    JSonReceiver receiver;
    MessageHandlerInterface* messageHandler;
    bool monitors[monitorKindCount] = {};
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

bool RealtimeProtocol::Impl::Stage1Handler::step() {
    NonBlockingSocket& socket = impl.socket;
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
    if (result == Read::waiting) {
        input.rollback();
        return false;
    }
    if (result == Read::failed) {
        input.rollback();
        return true;
    }
    if (byte == 't') {
        query = true;
        result = input.readByte(byte);
        if (result == Read::waiting) {
            input.rollback();
            return false;
        }
        // A client that closes right after 't' still opened; the handshake then finds it gone.
        if (result == Read::failed) byte = 0;
    }
    input.commit();
    // The final option byte carries nothing.
    impl.compactCentroids = compact ? 1 : 0;
    impl.timecodeQuery = query ? 1 : 0;
    socket.setNoDelay();
    success = true;
    return true;
}

RealtimeProtocol::Impl::Stage2Handler::Wait RealtimeProtocol::Impl::Stage2Handler::runTimecodeQuery() {
    NonBlockingSocket& socket = impl.socket;
    if (queryState == 0) {
        const uint8_t query = 't';
        if (socket.write(&query, 1) < 1) {
            queryState = 2;
            return Wait::ended;
        }
        queryState = 1;
    }
    if (!socket.hasInput()) return Wait::pending;
    uint8_t reply = 0;
    Read result = socket.input().takeByte(reply);
    if (result == Read::waiting) return Wait::pending;
    queryState = 2;
    if (result == Read::failed) return Wait::ended;
    impl.sendTimecodes = reply == '1' ? 1 : 0;
    queryAnswered = true;
    return Wait::ended;
}

RealtimeProtocol::Impl::Stage2Handler::Wait RealtimeProtocol::Impl::Stage2Handler::runGoWait() {
    NonBlockingSocket& socket = impl.socket;
    if (goState == 0) goState = 1;
    if (!socket.hasInput()) return Wait::pending;
    uint8_t reply = 0;
    Read result = socket.input().takeByte(reply);
    if (result == Read::waiting) return Wait::pending;
    goState = 2;
    if (result == Read::failed) return Wait::ended;
    if (reply == 'g') {
        goReceived = true;
        impl.state = go_ahead;
    } else {
        fy::diagnostic("Expecting 'g', got '%c'\n", static_cast<char>(reply));
    }
    return Wait::ended;
}

bool RealtimeProtocol::Impl::Stage2Handler::step() {
    switch (subState) {
        case start:
            subState = impl.timecodeQuery ? querying : noHandshake;
            return step();
        case querying:
            if (runTimecodeQuery() == Wait::pending) return false;
            if (queryAnswered) {
                subState = waitingForFirstFrame;
                return false;
            }
            subState = finished;
            return true;
        case waitingForFirstFrame:
            // Anything the client sends before 'r' is not part of the handshake.
            if (discardInput(impl.socket)) return false;
            subState = finished;
            return true;
        case waitingForGo:
            if (runGoWait() == Wait::pending) return false;
            if (goReceived) {
                success = true;
                subState = finished;
                return true;
            }
            subState = draining;
            return false;
        case noHandshake:
            impl.state = go_ahead;
            success = true;
            subState = finished;
            return true;
        case draining:
            if (discardInput(impl.socket)) return false;
            subState = finished;
            return true;
        default:
            return true;
    }
}

void RealtimeProtocol::Impl::process() {
    // Every round that asks for another either consumes input or leaves a stage for good, so
    // this ends when the buffered input does.
    for (;;) {
        Step result = step();
        if (result == Step::over) {
            state = exited;
            return;
        }
        if (result == Step::waiting) return;
    }
}

RealtimeProtocol::Impl::Step RealtimeProtocol::Impl::step() {
    switch (state) {
        case initial: return stepInitial();
        case stage2: return stepStage2();
        case go_ahead: return stepGoAhead();
        case reading_threshold: return stepReadingThreshold();
        case reading_message: return stepReadingMessage();
        case exited: break;
    }
    return Step::waiting;
}

RealtimeProtocol::Impl::Step RealtimeProtocol::Impl::stepInitial() {
    if (!stage1Handler.step()) return Step::waiting;
    // A failed opening leaves the connection open: the session drains it until the client
    // closes.
    if (!stage1Handler.success) return Step::over;
    state = stage2;
    return Step::again;
}

RealtimeProtocol::Impl::Step RealtimeProtocol::Impl::stepStage2() {
    if (!stage2Handler.step()) return Step::waiting;
    if (!stage2Handler.success) return Step::over;
    state = go_ahead;
    return Step::again;
}

RealtimeProtocol::Impl::Step RealtimeProtocol::Impl::stepGoAhead() {
    if (!socket.hasInput()) return Step::waiting;
    uint8_t command = 0;
    Read result = socket.input().takeByte(command);
    if (result == Read::waiting) return Step::waiting;
    if (result == Read::failed) {
        close();
        return Step::over;
    }
    if (command == 't') {
        state = reading_threshold;
        return Step::again;
    }
    if (command == 'm') {
        state = reading_message;
        return Step::again;
    }
    fy::diagnostic("Unexpected '%c' from client\n", static_cast<char>(command));
    return Step::waiting;
}

RealtimeProtocol::Impl::Step RealtimeProtocol::Impl::stepReadingThreshold() {
    // The bytes collected so far stay here between polls, so a command split across packets
    // is assembled without holding anyone.
    if (!socket.hasInput()) return Step::waiting;
    while (thresholdBytes.size() < 4) {
        uint8_t byte = 0;
        Read result = socket.input().takeByte(byte);
        if (result == Read::waiting) return Step::waiting;
        if (result == Read::failed) {
            close();
            return Step::over;
        }
        thresholdBytes.push_back(byte);
    }
    applyThreshold();
    state = go_ahead;
    return Step::again;
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

RealtimeProtocol::Impl::Step RealtimeProtocol::Impl::stepReadingMessage() {
    if (receiver.isDone()) {
        receiver.reset(false);
        return Step::again;
    }
    receiver.process();
    if (!receiver.isDone()) return Step::waiting;
    LuStr message = receiver.message();
    if (message.isNull()) {
        close();
        return Step::over;
    }
    state = go_ahead;
    handleMessage(message);
    return Step::again;
}

void RealtimeProtocol::Impl::handleMessage(const LuStr& message) {
    SendToProtocol send(*this);
    if (handleRealtimeMonitorEnable(message, monitors, config, cameras, send, offeredMonitors)) return;
    if (handleCameraMessage(message, cameras, config)) return;
    if (messageHandler) messageHandler->handleMessage(message);
}

bool RealtimeProtocol::Impl::sendFrameBytes(const uint8_t* bytes, size_t length) {
    if (state != go_ahead && state != reading_threshold) return true;
    return frameWritten(writeAll(socket, bytes, length));
}

bool RealtimeProtocol::Impl::sendSharedFrame(const LuSharedBytes& frame) {
    if (state != go_ahead && state != reading_threshold) return true;
    return frameWritten(socket.writeShared(frame) >= 0);
}

bool RealtimeProtocol::Impl::frameWritten(bool written) {
    if (!written) close();
    return written;
}

void RealtimeProtocol::Impl::close() {
    state = exited;
    if (socket.isOpen()) socket.close();
}

RealtimeProtocol::RealtimeProtocol(NonBlockingSocket& socket, AbstractConfig& config, const LuDArray<int>& cameras,
                                   bool messagesEnabled, MessageHandlerInterface* messageHandler,
                                   unsigned offeredMonitors)
    : impl_(std::make_unique<Impl>(socket, config, cameras, messagesEnabled, messageHandler, offeredMonitors)) {}

RealtimeProtocol::~RealtimeProtocol() = default;

void RealtimeProtocol::process() { impl_->process(); }

bool RealtimeProtocol::isAlive() { return impl_->state != exited; }

RealtimeProtocol::State RealtimeProtocol::state() const { return impl_->state; }

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

bool RealtimeProtocol::isReady() const { return impl_->state == go_ahead || impl_->state == reading_threshold; }

bool RealtimeProtocol::isWaitingForFirstFrame() const {
    return impl_->state == stage2 && impl_->stage2Handler.subState == Impl::Stage2Handler::waitingForFirstFrame;
}

bool RealtimeProtocol::isWaitingForGo() const {
    return impl_->state == stage2 && impl_->stage2Handler.subState == Impl::Stage2Handler::waitingForGo;
}

bool RealtimeProtocol::acceptsCameraMessages() const { return isReady() && impl_->messagesEnabled; }

void RealtimeProtocol::sendReady() {
    if (!isWaitingForFirstFrame()) return;
    const uint8_t ready = 'r';
    // A failed write shows up as a failed read of the client's reply.
    writeAll(impl_->socket, &ready, 1);
    impl_->stage2Handler.subState = Impl::Stage2Handler::waitingForGo;
}

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
    if (impl_->state == exited) return true;
    return sendRealtimeMessage(impl_->socket, text);
}

bool RealtimeProtocol::compactCentroids() const { return impl_->compactCentroids != 0; }

bool RealtimeProtocol::sendsTimecodes() const { return impl_->sendTimecodes != 0; }

bool RealtimeProtocol::messagesEnabled() const { return impl_->messagesEnabled; }

bool RealtimeProtocol::monitorEnabled(int kind) const {
    if (kind < 0 || kind >= monitorKindCount) return false;
    return impl_->monitors[kind];
}

}  // namespace RyStoreProtocol
