#include "tools/client/command_client.h"

#include <cmath>
#include <cstdio>

#include "tools/client/json_reader.h"

namespace fyclient {
namespace {

// Far above any reply this system writes; a larger length means the stream is not a reply.
constexpr uint32_t kMaxReply = 64u * 1024 * 1024;

// Requests keep every digit a float or double holds: the server's own %g style would round a
// value such as 1234567 to 1.23457e+06 before it reached the host.
std::string exactNumber(double value) {
    // JSON has no spelling for these; printf's "inf" would make the whole request unreadable.
    if (!std::isfinite(value)) throw ClientError("cannot send the value " + formatNumber(value) + " in a request");
    char out[40];
    std::snprintf(out, sizeof out, "%.17g", value);
    return out;
}

std::string maskObject(float x1, float y1, float x2, float y2) {
    return "{\"x1\":" + exactNumber(x1) + ",\"y1\":" + exactNumber(y1) + ",\"x2\":" + exactNumber(x2) +
           ",\"y2\":" + exactNumber(y2) + "}";
}

}  // namespace

const char* const kMonitorRequests[4] = {
    "\"enable_frame_rate_monitor\"",
    "\"enable_timecode_rate_monitor\"",
    "\"enable_rectangular_masks_monitor\"",
    "\"enable_camera_online_states_monitor\"",
};

std::string exchangeCommand(Connection& connection, const std::string& request) {
    std::vector<uint8_t> packet{'C'};
    appendU32(packet, static_cast<uint32_t>(request.size()));
    packet.insert(packet.end(), request.begin(), request.end());
    connection.send(packet);
    uint32_t length = connection.receiveU32();
    if (length > kMaxReply) throw ClientError("the server sent a reply of " + std::to_string(length) + " bytes");
    std::string reply(length, '\0');
    connection.receive(reply.data(), length);
    return reply;
}

ReplyCheck checkReply(const std::string& reply) {
    ReplyCheck check;
    if (reply.empty()) {
        check.isError = true;
        check.failure = "No response";
        return check;
    }
    if (reply == "\"ok\"") {
        check.ok = true;
        return check;
    }
    std::optional<Json> value = parseJson(reply);
    if (value && value->isTagged("error")) {
        check.isError = true;
        std::string message = value->items.size() > 1 && value->items[1].isString() ? value->items[1].text : "";
        if (message == "unsupported" || message == "bad_command" || message == "unknown_command") {
            check.failure = "Not supported.";
        } else {
            check.failure = message;
        }
        return check;
    }
    check.failure = "Unknown response";
    return check;
}

void requireOk(const std::string& reply, const std::string& what) {
    ReplyCheck check = checkReply(reply);
    if (check.ok) return;
    throw ClientError(what + " failed: " + check.failure + " (reply " + (reply.empty() ? "empty" : reply) + ")");
}

std::string enableRealtimeMessagesRequest() { return "\"enable_realtime_messages\""; }

std::string wantCamerasRequest(const std::vector<std::string>& names) {
    std::string out = "[\"want_cameras\",[";
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += ',';
        out += "\"" + names[i] + "\"";
    }
    return out + "]]";
}

std::string getThresholdsRequest() { return "[\"get_thresholds\"]"; }

std::string getCameraSettingsRequest() { return "[\"get_camera_settings\"]"; }

std::string changeSettingRequest(const std::string& name, double value) {
    return "[\"change_setting\",\"" + name + "\"," + exactNumber(value) + "]";
}

std::string addRectangularMaskCommand(float x1, float y1, float x2, float y2) {
    return "[\"add_rectangular_mask\"," + maskObject(x1, y1, x2, y2) + "]";
}

std::string deleteRectangularMaskCommand(float x1, float y1, float x2, float y2) {
    return "[\"delete_rectangular_mask\"," + maskObject(x1, y1, x2, y2) + "]";
}

std::string cameraMessage(int position, const std::string& command) {
    return "[\"camera\"," + std::to_string(position) + "," + command + "]";
}

}  // namespace fyclient
