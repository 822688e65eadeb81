#pragma once
// The commands a live-feature client sends after its session byte 'f': 'c' selects a camera of
// its list (0xFFFF none), 't' changes a threshold, 'i' turns images on or off or acknowledges
// one, 'm' carries a JSON message. There is no opening: nothing is read or written until the
// client sends its first command.
#include <cstdint>

#include "net/non_blocking_socket.h"
#include "protocol/common/abstract_config.h"
#include "protocol/frames/frame_format.h"
#include "toolkit/lu_array.h"
#include "toolkit/lu_str.h"

namespace RyStoreProtocol {

// Where decoded commands go.
class LiveFeatClientInputHandler {
public:
    virtual void deselectCamera() = 0;
    virtual void selectCamera(int position) = 0;
    virtual void changeThreshold(int position, int threshold) = 0;
    virtual void handleMessage(const LuStr& message) = 0;
    virtual void acknowledgeImage() = 0;
    virtual void setSendImages(bool on) = 0;

protected:
    ~LiveFeatClientInputHandler() = default;
};

// The command bytes and the values of 'c' and 'i' that mean something of their own.
constexpr uint8_t liveFeatSelectCommand = 'c';
constexpr uint8_t liveFeatThresholdCommand = 't';
constexpr uint8_t liveFeatImagesCommand = 'i';
constexpr uint8_t liveFeatMessageCommand = 'm';
constexpr uint16_t liveFeatNoCamera = 0xFFFF;
constexpr uint8_t liveFeatImagesOn = 1;
constexpr uint8_t liveFeatAcknowledge = 2;

// Reads every whole command that has arrived and hands each to the handler. A command whose
// bytes have not all arrived stays in the input buffer for a later call. False when the
// session must end: an unknown command byte, a message length above the JSON limit, or the
// client closed (also in the middle of a command); true otherwise. commandsRead, when given,
// counts the commands handed on.
bool readLiveFeatCommands(NonBlockingSocket& socket, LiveFeatClientInputHandler& handler, int* commandsRead = nullptr);

// The server's handler: applies the commands to the client's state and, through the
// configuration, to the host; reports invalid positions, acknowledgements with nothing
// outstanding and unknown messages on the diagnostic stream. Everything it holds is borrowed.
class LiveFeatCommandHandler final : public LiveFeatClientInputHandler {
public:
    LiveFeatCommandHandler(const LuDArray<int>& cameras, AbstractConfig& config, RySocketInterface& socket,
                           LiveFeatClientStateInterface& client)
        : cameras_(cameras), config_(config), socket_(socket), client_(client) {}

    void deselectCamera() override;
    void selectCamera(int position) override;
    void changeThreshold(int position, int threshold) override;
    void handleMessage(const LuStr& message) override;
    void acknowledgeImage() override;
    void setSendImages(bool on) override;

private:
    bool validPosition(int position) const;

    const LuDArray<int>& cameras_;
    AbstractConfig& config_;
    RySocketInterface& socket_;
    LiveFeatClientStateInterface& client_;
};

// One poll of a live-feature session's input: readLiveFeatCommands() through the server's
// handler. False when the session must end.
bool checkLiveFeatInputFromClient(NonBlockingSocket& socket, const LuDArray<int>& cameras, AbstractConfig& config,
                                  LiveFeatClientStateInterface& client, int* commandsRead = nullptr);

}  // namespace RyStoreProtocol
