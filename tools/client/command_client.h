#pragma once
// The JSON command exchange from the client side: request texts, the length-prefixed exchange
// and the classification of replies.
#include <string>
#include <vector>

#include "tools/client/connection.h"

namespace fyclient {

// Sends 'C' and one request; returns the server's reply text. The connection may be used for
// another session byte afterwards.
std::string exchangeCommand(Connection& connection, const std::string& request);

// How a reply reads: "ok", an error with its message, a result, or something unexpected.
struct ReplyCheck {
    bool ok = false;         // the reply is "ok"
    bool isError = false;    // the reply is ["error",...] or empty
    std::string failure;     // the reply check's text when not ok
};
ReplyCheck checkReply(const std::string& reply);

// Throws ClientError unless the reply is "ok"; `what` names the request in the message.
void requireOk(const std::string& reply, const std::string& what);

// Request texts.
std::string enableRealtimeMessagesRequest();
std::string wantCamerasRequest(const std::vector<std::string>& names);
std::string getThresholdsRequest();
std::string getCameraSettingsRequest();
std::string changeSettingRequest(const std::string& name, double value);
std::string addRectangularMaskCommand(float x1, float y1, float x2, float y2);
std::string deleteRectangularMaskCommand(float x1, float y1, float x2, float y2);
std::string cameraMessage(int position, const std::string& command);

// Names of the monitor requests a realtime client may send after the handshake.
extern const char* const kMonitorRequests[4];

}  // namespace fyclient
