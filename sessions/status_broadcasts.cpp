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
    for (Client* client : loop.sessions()) {
        if (!monitors(*client, kind)) continue;
        client->sendMessage(message);
        loop.noteServiceNeeded(*client);
    }
}

void rectangularMasks(SessionEventLoop& loop, const LuDArray<LuNullable<LuDArray<RyRectangularMask>>>& table) {
    for (Client* client : loop.sessions()) {
        if (!monitors(*client, RyStoreProtocol::rectangularMasksMonitor)) continue;
        client->sendMessage(RyStoreProtocol::rectangularMasksMessage(table, client->cameras()));
        loop.noteServiceNeeded(*client);
    }
}

void settingChanged(SessionEventLoop& loop, int camera, const LuStr& name, double value) {
    LuStr message = RyStoreProtocol::settingChangedMessage(name, RyStoreProtocol::narrowToFloat(value));
    for (Client* client : loop.sessions()) {
        SessionMode* mode = client->mode();
        if (mode == nullptr || !mode->acceptsCameraMessages()) continue;
        SendMessageToClientFunction send(*client);
        RyStoreProtocol::sendCameraMessage(send, client->cameras(), camera, message);
        loop.noteServiceNeeded(*client);
    }
}

void liveFeatImage(SessionEventLoop& loop, int camera, const RyStoreProtocol::SegmentListInterface& segments,
                   const RyStoreProtocol::ImageView* image, const RyStoreProtocol::Timecode* timecode) {
    RyStoreProtocol::LiveFeatFrameEncoder frame(timecode, image, segments);
    for (Client* client : loop.sessions()) {
        SessionMode* mode = client->mode();
        RyStoreProtocol::LiveFeatClientState* state = mode != nullptr ? mode->liveFeatState() : nullptr;
        if (state == nullptr) continue;
        // A broken connection shows up as the session's next failed read.
        RyStoreProtocol::sendLiveFeatFrameToClient(client->socket(), client->cameras(), *state, camera, frame);
        // What the socket did not take is flushed by the session's next service.
        loop.noteServiceNeeded(*client);
    }
}

}  // namespace SessionBroadcasts
