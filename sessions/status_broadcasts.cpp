#include "sessions/status_broadcasts.h"

#include "protocol/livefeat/livefeat_client_state.h"
#include "protocol/messages/status_messages.h"
#include "sessions/client.h"
#include "sessions/event_loop.h"
#include "sessions/session_mode.h"

using Client = RyStoreMultiClientHandlerBase::Client;

namespace {

// Delivers a status message to one session with the framing of the stream it runs.
class SendMessageToClientFunction : public RyStoreProtocol::SendMessageFunction {
public:
    explicit SendMessageToClientFunction(Client& client) : client(client) {}
    bool send(const LuStr& message) override { return client.sendMessage(message); }

private:
    Client& client;
};

bool monitors(const Client& client, int kind) {
    const SessionMode* mode = client.mode();
    return mode != nullptr && mode->monitorEnabled(kind);
}

}  // namespace

namespace SessionBroadcasts {

void rateChanged(SessionEventLoop& loop, RyStoreProtocol::AbstractConfig& config, RyStoreProtocol::RateKind kind,
                 float value) {
    if (!RyStoreProtocol::storeRateIfChanged(config, kind, value)) return;
    LuStr message = RyStoreProtocol::rateMessage(kind, value);
    loop.broadcast([&](Client& client) {
        if (!monitors(client, kind)) return false;
        client.sendMessage(message);
        return true;
    });
}

void rectangularMasks(SessionEventLoop& loop, const LuDArray<LuNullable<LuDArray<RyRectangularMask>>>& table) {
    loop.broadcast([&](Client& client) {
        if (!monitors(client, RyStoreProtocol::rectangularMasksMonitor)) return false;
        client.sendMessage(RyStoreProtocol::rectangularMasksMessage(table, client.cameras()));
        return true;
    });
}

void settingChanged(SessionEventLoop& loop, int camera, const LuStr& name, double value) {
    LuStr message = RyStoreProtocol::settingChangedMessage(name, RyStoreProtocol::narrowToFloat(value));
    loop.broadcast([&](Client& client) {
        SessionMode* mode = client.mode();
        if (mode == nullptr || !mode->acceptsCameraMessages()) return false;
        SendMessageToClientFunction send(client);
        RyStoreProtocol::sendCameraMessage(send, client.cameras(), camera, message);
        return true;
    });
}

void liveFeatImage(SessionEventLoop& loop, int camera, const RyStoreProtocol::SegmentListInterface& segments,
                   const RyStoreProtocol::ImageView* image, const RyStoreProtocol::Timecode* timecode) {
    RyStoreProtocol::LiveFeatFrameEncoder frame(timecode, image, segments);
    loop.broadcast([&](Client& client) {
        SessionMode* mode = client.mode();
        RyStoreProtocol::LiveFeatClientState* state = mode != nullptr ? mode->liveFeatState() : nullptr;
        if (state == nullptr) return false;
        // A broken connection shows up as the session's next failed read; what the socket did
        // not take is flushed by the session's next service.
        RyStoreProtocol::sendLiveFeatFrameToClient(client.socket(), client.cameras(), *state, camera, frame);
        return true;
    });
}

}  // namespace SessionBroadcasts
