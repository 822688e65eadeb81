#pragma once
// The JSON command exchange: after the session byte 'C' a client sends one length-prefixed JSON
// command and gets one length-prefixed JSON reply. This file holds the server's dispatcher and
// its reply texts.
#include <functional>

#include "net/socket_interface.h"
#include "protocol/common/abstract_config.h"
#include "protocol/common/records.h"
#include "toolkit/json_parser.h"
#include "toolkit/lu_array.h"
#include "toolkit/lu_nullable.h"
#include "toolkit/lu_str.h"

namespace RyStoreProtocol {

// What one connection has asked for through the command exchange; it outlives the connection's
// individual sessions and is copied into the realtime or live-feature session that starts next.
struct ClientConfiguration {
    bool realtimeMessages = false;
    bool livefeatMessages = false;
    LuNullable<LuDArray<int>> wantedCameras;
};

struct CommandReply {
    LuStr text;
    // Set when the reply only says that the search for cameras is still going on. No session of
    // this server waits for the list: its configuration never searches (canFindAvailableCameras).
    bool waitForAvailableCameras = false;
};

// The commands a server understands: every one, or (realtime-only servers) the string commands
// that enable realtime messages, where live-feature messages are refused and every other
// string is unknown.
enum class CommandSet { full, realtimeOnly };

// Interprets one command text and gives the reply text; changes clientConfig and, through
// config, the host.
CommandReply dispatchClientCommand(const LuStr& text, AbstractConfig& config, ClientConfiguration& clientConfig,
                                   bool livefeatSupported, const LuStr& peerName, unsigned short localPort,
                                   CommandSet commands = CommandSet::full);

// Whether the text is an array command of that name (["NAME",...]), whatever its arguments.
bool isArrayCommand(const LuStr& text, const char* name);

// Writes the reply framed for the command exchange: u32 big-endian length, then the text. The
// socket must take every byte (the session's buffering socket does); false when it did not.
bool sendCommandReply(RySocketInterface& socket, const LuStr& reply);

// ["result",["NAME1",...]]: what a session waiting for available cameras sends once it has them.
LuStr availableCamerasReply(const LuDArray<LuStr>& names);

// Reply texts.
LuStr okReply();
LuStr errorReply(const LuStr& message);  // ["error","MESSAGE"], the message unescaped

// Camera names turned into host camera indices: null with an error text on failure.
struct CameraResolution {
    LuNullable<LuDArray<int>> cameras;
    LuStr error;
};
CameraResolution resolveCameraNames(const LuDArray<LuStr>& names, AbstractConfig& config);

// Passes every parser error and warning on as "MESSAGE at position P", P being the number of
// bytes of the text the parser had consumed.
class RelayingErrorHandler : public LuJSonParser::ErrorHandler {
public:
    using Sink = std::function<void(const LuStr& positionedMessage)>;
    RelayingErrorHandler(Sink onError, Sink onWarning);

    void error(LuJSonParser& parser, const LuStr& message) override;
    void warning(LuJSonParser& parser, const LuStr& message) override;
    bool failed() const { return anyError; }

    static LuStr positioned(const LuJSonParser& parser, const LuStr& message);

private:
    Sink onError;
    Sink onWarning;
    bool anyError = false;
};

}  // namespace RyStoreProtocol
