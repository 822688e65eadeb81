#include "protocol/command/command_channel.h"

#include <utility>
#include <vector>

#include "protocol/common/byte_order.h"
#include "protocol/command/camera_description.h"
#include "protocol/messages/status_messages.h"
#include "toolkit/diagnostics.h"
#include "toolkit/json_printer.h"
#include "toolkit/json_value.h"
#include "toolkit/string_stream.h"

namespace RyStoreProtocol {

namespace {


LuStr badCommand() { return LuStr("[\"error\",\"bad_command\"]"); }
LuStr unsupported() { return LuStr("[\"error\",\"unsupported\"]"); }

// ["result",VALUE] with VALUE written by the writer.
LuStr resultReply(const LuJSonPrinter::ValueWriter& value) {
    LuOSStream out;
    out << "[\"result\",";
    value.write(out);
    out << ']';
    return out.toLuStr();
}

CommandReply reply(LuStr text) { return CommandReply{std::move(text), false}; }

// --- string form ---------------------------------------------------------------------------

bool startsWithQuote(const char* text) {
    while (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n') ++text;
    return *text == '"';
}

CommandReply dispatchStringCommand(const LuStr& text, ClientConfiguration& clientConfig, bool livefeatSupported,
                                   CommandSet commands) {
    RelayingErrorHandler errors([](const LuStr&) {},
                                [](const LuStr& message) { fy::diagnostic("%s\n", message.c_str()); });
    LuJSonParser parser(text.c_str(), errors);
    LuStr command;
    if (!parser.readString(command) || errors.failed()) return reply(badCommand());
    if (command == "enable_realtime_messages") {
        clientConfig.realtimeMessages = true;
        return reply(okReply());
    }
    if (command == "enable_livefeat_messages") {
        if (!livefeatSupported) return reply(unsupported());
        clientConfig.livefeatMessages = true;
        return reply(okReply());
    }
    if (command == "check_realtime_want_cameras" && commands == CommandSet::full) return reply(okReply());
    return reply(LuStr("[\"error\",\"unknown_command\"]"));
}

// --- array form ----------------------------------------------------------------------------

// The strings of a JSON array; other elements are skipped.
LuDArray<LuStr> stringsOf(const LuJSonValue::ArrayType& values) {
    LuDArray<LuStr> names;
    for (const LuJSonValue& value : values)
        if (value.isString()) names.append(value.string());
    return names;
}

struct ArrayCommand {
    const LuJSonValue::ArrayType& args;
    AbstractConfig& config;
    ClientConfiguration& client;
    const LuStr& peerName;
    unsigned short localPort;
};

CommandReply wantCameras(const ArrayCommand& c) {
    if (c.args.getSize() < 2 || !c.args[1].isArray()) return reply(badCommand());
    CameraResolution resolved = resolveCameraNames(stringsOf(c.args[1].array()), c.config);
    c.client.wantedCameras = resolved.cameras;
    if (resolved.cameras.isNull()) return reply(errorReply(resolved.error));
    return reply(okReply());
}

CommandReply getThresholds(const ArrayCommand& c) {
    if (c.client.wantedCameras.isNull()) return reply(LuStr("[\"error\",\"no_wanted_cameras\"]"));
    LuDArray<int> thresholds;
    for (int camera : c.client.wantedCameras.get()) thresholds.append(c.config.threshold(camera));
    return reply(resultReply(LuJSonPrinter::IntArrayWriter(thresholds)));
}

CommandReply getCameraSettings(const ArrayCommand& c) {
    if (c.client.wantedCameras.isNull()) return reply(LuStr("[\"error\",\"no_wanted_cameras\"]"));
    CameraSettingsArrayWrapper wrapper{&c.config, &c.client.wantedCameras.get()};
    return reply(resultReply(BasicValueWriter<CameraSettingsArrayWrapper>(&wrapper)));
}

CommandReply findAvailableCameras(const ArrayCommand& c) {
    if (!c.config.canFindAvailableCameras()) return reply(unsupported());
    AvailableCameras available = c.config.findAvailableCameras();
    if (!available.ready) return CommandReply{LuStr("[\"status\",\"searching\"]"), true};
    return reply(availableCamerasReply(available.names));
}

CommandReply changeDefaultCameras(const ArrayCommand& c) {
    if (c.args.getSize() < 2 || !c.args[1].isArray()) return reply(badCommand());
    CameraResolution resolved = resolveCameraNames(stringsOf(c.args[1].array()), c.config);
    if (resolved.cameras.isNull()) return reply(errorReply(resolved.error));
    DefaultCamerasResult result = c.config.changeDefaultCameras(resolved.cameras.get(), c.peerName, c.localPort);
    switch (result.code) {
        case 0: return reply(okReply());
        case 1: return reply(unsupported());
        case 2: return reply(errorReply(result.message));
        default: return reply(LuStr("[\"error\",\"bad result\"]"));
    }
}

CommandReply changeSetting(const ArrayCommand& c) {
    if (c.args.getSize() < 3 || c.client.wantedCameras.isNull() || !c.args[1].isString() || !c.args[2].isNumber())
        return reply(badCommand());
    for (int camera : c.client.wantedCameras.get()) c.config.changeSetting(camera, c.args[1].string(), c.args[2].number());
    return reply(okReply());
}

using ArrayHandler = CommandReply (*)(const ArrayCommand&);

struct NamedCommand {
    const char* name;
    ArrayHandler handler;
};

const NamedCommand arrayCommands[] = {
    {"want_cameras", wantCameras},
    {"get_thresholds", getThresholds},
    {"get_camera_settings", getCameraSettings},
    {"find_available_cameras", findAvailableCameras},
    {"change_default_cameras", changeDefaultCameras},
    {"change_setting", changeSetting},
};

}  // namespace

CommandReply dispatchClientCommand(const LuStr& text, AbstractConfig& config, ClientConfiguration& clientConfig,
                                   bool livefeatSupported, const LuStr& peerName, unsigned short localPort,
                                   CommandSet commands) {
    if (text.length() == 0) return reply(badCommand());
    if (startsWithQuote(text.c_str())) {
        // A realtime-only server has no live-feature session to send such messages in.
        bool livefeat = livefeatSupported && commands == CommandSet::full;
        return dispatchStringCommand(text, clientConfig, livefeat, commands);
    }
    if (commands == CommandSet::realtimeOnly) return reply(badCommand());

    LuJSonValue value;
    if (!parseJSonValue(text.c_str(), value)) return reply(badCommand());
    if (!value.isArray() || value.array().isEmpty() || !value.array()[0].isString()) return reply(badCommand());
    const LuJSonValue::ArrayType& args = value.array();
    for (const NamedCommand& command : arrayCommands)
        if (args[0].string() == command.name)
            return command.handler(ArrayCommand{args, config, clientConfig, peerName, localPort});
    return reply(badCommand());
}

bool isArrayCommand(const LuStr& text, const char* name) {
    LuJSonValue value;
    if (text.length() == 0 || !parseJSonValue(text.c_str(), value)) return false;
    if (!value.isArray() || value.array().isEmpty() || !value.array()[0].isString()) return false;
    return value.array()[0].string() == name;
}

bool sendCommandReply(RySocketInterface& socket, const LuStr& text) {
    size_t length = static_cast<size_t>(text.length());
    std::vector<uint8_t> out;
    out.reserve(4 + length);
    putU32(out, static_cast<uint32_t>(length));
    putBytes(out, text.c_str(), length);
    return socket.write(out.data(), out.size()) == static_cast<int>(out.size());
}

LuStr availableCamerasReply(const LuDArray<LuStr>& names) {
    return resultReply(LuJSonPrinter::StrArrayWriter(names));
}

LuStr okReply() { return LuStr("\"ok\""); }

LuStr errorReply(const LuStr& message) {
    LuOSStream out;
    out << "[\"error\",";
    LuJSonPrinter::writeString(out, message);
    out << ']';
    return out.toLuStr();
}

CameraResolution resolveCameraNames(const LuDArray<LuStr>& names, AbstractConfig& config) {
    CameraResolution result;
    for (int i = 0; i < names.getSize(); ++i)
        for (int j = i + 1; j < names.getSize(); ++j)
            if (names[i] == names[j]) {
                result.error = LuStr("Duplicate camera '") + names[i] + "'";
                return result;
            }

    LuDArray<int> indices;
    indices.setSize(names.getSize());
    LuDArray<int> missingPositions;
    LuDArray<LuStr> missingNames;
    int count = config.cameraCount();
    for (int i = 0; i < names.getSize(); ++i) {
        int found = -1;
        for (int camera = 0; camera < count && found < 0; ++camera)
            if (config.cameraName(camera) == names[i]) found = camera;
        indices[i] = found;
        if (found < 0) {
            missingPositions.append(i);
            missingNames.append(names[i]);
        }
    }

    if (!missingNames.isEmpty()) {
        LuStr error;
        LuNullable<LuDArray<int>> added = config.addCameras(missingNames, error);
        // A configuration that answers with fewer indices than names counts as a refusal.
        if (added.isNull() || added.get().getSize() < missingNames.getSize()) {
            result.error = error;
            return result;
        }
        for (int k = 0; k < missingPositions.getSize(); ++k) indices[missingPositions[k]] = added.get()[k];
    }
    result.cameras = indices;
    return result;
}

// --- error relaying ------------------------------------------------------------------------

RelayingErrorHandler::RelayingErrorHandler(Sink onError, Sink onWarning)
    : onError(std::move(onError)), onWarning(std::move(onWarning)) {}

LuStr RelayingErrorHandler::positioned(const LuJSonParser& parser, const LuStr& message) {
    return message + LuStr::format(" at position %ld", parser.position());
}

void RelayingErrorHandler::error(LuJSonParser& parser, const LuStr& message) {
    anyError = true;
    if (onError) onError(positioned(parser, message));
}

void RelayingErrorHandler::warning(LuJSonParser& parser, const LuStr& message) {
    if (onWarning) onWarning(positioned(parser, message));
}

}  // namespace RyStoreProtocol
