// The handler's status broadcasts: rates, rectangular masks and setting changes, each to the
// sessions whose running mode takes them, framed by that mode.
#include "protocol/messages/status_messages.h"
#include "sessions/client.h"
#include "sessions/handler_record.h"
#include "sessions/multi_client_handler.h"
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

void RyStoreMultiClientHandlerBase::rateChanged(RyStoreProtocol::RateKind kind, float value) {
    if (!RyStoreProtocol::storeRateIfChanged(impl->services.config(), kind, value)) return;
    LuStr message = RyStoreProtocol::rateMessage(kind, value);
    for (Client* client : impl->clients) {
        if (!monitors(*client, kind)) continue;
        client->sendMessage(message);
        noteServiceNeeded(*client);
    }
}

void RyStoreMultiClientHandlerBase::broadcastRectangularMasks(
    const LuDArray<LuNullable<LuDArray<RyRectangularMask>>>& table) {
    for (Client* client : impl->clients) {
        if (!monitors(*client, RyStoreProtocol::rectangularMasksMonitor)) continue;
        client->sendMessage(RyStoreProtocol::rectangularMasksMessage(table, client->cameras()));
        noteServiceNeeded(*client);
    }
}

void RyStoreMultiClientHandlerBase::announceSettingChanged(int camera, const LuStr& name, double value) {
    LuStr message = RyStoreProtocol::settingChangedMessage(name, RyStoreProtocol::narrowToFloat(value));
    for (Client* client : impl->clients) {
        SessionMode* mode = client->mode();
        if (mode == nullptr || !mode->acceptsCameraMessages()) continue;
        SendMessageToClientFunction send(*client);
        RyStoreProtocol::sendCameraMessage(send, client->cameras(), camera, message);
        noteServiceNeeded(*client);
    }
}
