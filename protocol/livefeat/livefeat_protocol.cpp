#include "protocol/livefeat/livefeat_protocol.h"

#include "protocol/common/json_receiver.h"
#include "protocol/messages/camera_messages.h"
#include "protocol/messages/status_messages.h"
#include "toolkit/diagnostics.h"

namespace RyStoreProtocol {

namespace {

using Read = SessionInputBuffer::Read;

// One command as it came off the wire; only the fields of its letter are set.
struct DecodedCommand {
    uint8_t letter = 0;
    uint16_t position = 0;   // 'c', 't'
    uint16_t threshold = 0;  // 't'
    uint8_t value = 0;       // 'i'
    LuStr message;           // 'm'
};

// u32 length and the text. A length this system does not read fails at once, before its
// bytes are waited for or anything is allocated for them.
Read readMessageText(SessionInputBuffer& input, LuStr& text) {
    uint32_t length = 0;
    Read result = input.readU32(length);
    if (result != Read::ok) return result;
    if (!JSonReceiver::acceptsLength(length)) return Read::failed;
    const uint8_t* bytes = nullptr;
    result = input.readView(bytes, length);
    if (result != Read::ok) return result;
    // Copied out now: the view ends with the transaction's commit.
    text = LuStr(reinterpret_cast<const char*>(bytes), length);
    return Read::ok;
}

Read readParameters(SessionInputBuffer& input, DecodedCommand& command) {
    switch (command.letter) {
        case liveFeatSelectCommand:
            return input.readU16(command.position);
        case liveFeatThresholdCommand: {
            Read result = input.readU16(command.position);
            return result == Read::ok ? input.readU16(command.threshold) : result;
        }
        case liveFeatImagesCommand:
            return input.readByte(command.value);
        case liveFeatMessageCommand:
            return readMessageText(input, command.message);
        default:
            return Read::failed;
    }
}

void apply(const DecodedCommand& command, LiveFeatClientInputHandler& handler) {
    switch (command.letter) {
        case liveFeatSelectCommand:
            if (command.position == liveFeatNoCamera)
                handler.deselectCamera();
            else
                handler.selectCamera(command.position);
            break;
        case liveFeatThresholdCommand:
            handler.changeThreshold(command.position, command.threshold);
            break;
        case liveFeatImagesCommand:
            if (command.value == liveFeatAcknowledge)
                handler.acknowledgeImage();
            else
                handler.setSendImages(command.value == liveFeatImagesOn);
            break;
        case liveFeatMessageCommand:
            handler.handleMessage(command.message);
            break;
        default:
            break;
    }
}

// Masks-monitor reports go to this client with the live-feature message framing.
class SendToLiveFeatClient final : public SendMessageFunction {
public:
    explicit SendToLiveFeatClient(RySocketInterface& socket) : socket_(socket) {}
    bool send(const LuStr& message) override { return sendLiveFeatMessage(socket_, message); }

private:
    RySocketInterface& socket_;
};

}  // namespace

bool readLiveFeatCommands(NonBlockingSocket& socket, LiveFeatClientInputHandler& handler, int* commandsRead) {
    int count = 0;
    bool open = true;
    // Each command is one transaction, its letter included: a command cut short by the network
    // is read again whole on a later poll, and only its own session waits for it.
    while (socket.hasInput()) {
        SessionInputBuffer& input = socket.input();
        InputTransaction transaction(input);
        DecodedCommand command;
        Read result = input.readByte(command.letter);
        if (result == Read::ok) result = readParameters(input, command);
        if (result == Read::waiting) break;
        if (result == Read::failed) {
            open = false;
            break;
        }
        transaction.commit();
        apply(command, handler);
        ++count;
    }
    if (commandsRead != nullptr) *commandsRead = count;
    return open;
}

bool LiveFeatCommandHandler::validPosition(int position) const {
    return position >= 0 && position < cameras_.getSize();
}

void LiveFeatCommandHandler::deselectCamera() { client_.clearSelectedCamera(); }

void LiveFeatCommandHandler::selectCamera(int position) {
    if (!validPosition(position)) {
        fy::diagnostic("Invalid camera '%d'\n", position + 1);
        return;
    }
    // The position is kept, not the host camera: frames are matched through the list.
    client_.selectCamera(position);
}

void LiveFeatCommandHandler::changeThreshold(int position, int threshold) {
    if (!validPosition(position)) {
        fy::diagnostic("Invalid camera '%d'\n", position + 1);
        return;
    }
    // Unlike the realtime stream, live-feature clients may set thresholds of 256 and above:
    // the host decides what it accepts.
    config_.changeThreshold(cameras_[position], threshold);
}

void LiveFeatCommandHandler::handleMessage(const LuStr& message) {
    // The masks monitor is the only one a live-feature client has; the current masks go out
    // before the flag is set, so that they precede any change notification.
    if (monitorKindForMessage(message) == rectangularMasksMonitor) {
        SendToLiveFeatClient send(socket_);
        sendMonitorState(rectangularMasksMonitor, config_, cameras_, send);
        client_.setMasksMonitor(true);
        return;
    }
    if (handleCameraMessage(message, cameras_, config_)) return;
    fy::diagnostic("unknown message: %.*s\n", message.length(), message.c_str());
}

void LiveFeatCommandHandler::acknowledgeImage() {
    int& outstanding = client_.unacknowledgedImages();
    if (outstanding <= 0) {
        fy::diagnostic("Acknowledgement for unsent image.\n");
        return;
    }
    --outstanding;
}

void LiveFeatCommandHandler::setSendImages(bool on) {
    if (on) {
        client_.setSendImages(true);
        return;
    }
    // Images in flight are forgotten with the flag: a client that turns images on again starts
    // with a clean count and is not held back by pictures it will never acknowledge.
    if (!client_.sendImages()) return;
    client_.setSendImages(false);
    client_.unacknowledgedImages() = 0;
}

bool checkLiveFeatInputFromClient(NonBlockingSocket& socket, const LuDArray<int>& cameras, AbstractConfig& config,
                                  LiveFeatClientStateInterface& client, int* commandsRead) {
    LiveFeatCommandHandler handler(cameras, config, socket, client);
    return readLiveFeatCommands(socket, handler, commandsRead);
}

}  // namespace RyStoreProtocol
