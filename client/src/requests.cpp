// Every request a client sends, as bytes.
#include "frameyard/client/requests.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "frameyard/client/error.h"
#include "frameyard/client/json.h"

namespace frameyard {
namespace {

constexpr uint16_t kListEnd = 0xFFFF;
constexpr uint16_t kNoCamera = 0xFFFF;

void putU16(Bytes& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void putU32(Bytes& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void putFloat(Bytes& out, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    putU32(out, bits);
}

// 'm' or 'C' framing: the letter, u32 length, the text.
Bytes sizedText(uint8_t letter, const std::string& text) {
    if (text.size() > 0xFFFFFFFFu) throw Error("a text of " + std::to_string(text.size()) + " bytes cannot be sent");
    Bytes out{letter};
    putU32(out, static_cast<uint32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

void putFieldList(Bytes& out, const std::vector<FieldRun>& runs, uint32_t fields) {
    if (runs.empty()) {
        // Every field wanted: runs of at most 65535 (0xFFFF would end the list only in the
        // unwanted position, but a plain split reads better in a capture).
        while (fields > 0) {
            uint16_t run = static_cast<uint16_t>(std::min<uint32_t>(fields, 0xFFFF));
            putU16(out, 0);
            putU16(out, run);
            fields -= run;
        }
    } else {
        for (const FieldRun& run : runs) {
            if (run.skip == kListEnd) throw Error("an unwanted run of 65535 fields would end the frame list");
            putU16(out, run.skip);
            putU16(out, run.take);
        }
    }
    putU16(out, kListEnd);
}

uint8_t modeCharacter(const AcquireRequest& request) {
    if (request.centroids && request.images) return '1';
    if (request.centroids) return '0';
    if (request.images) return '2';
    throw Error("an acquisition must ask for centroids, images or both");
}

// Requests keep every digit a float or double holds: the server's own %g style would round a
// value such as 1234567 to 1.23457e+06 before it reached the host.
std::string exactNumber(double value) {
    // JSON has no spelling for these; printf's "inf" would make the whole request unreadable.
    if (!std::isfinite(value)) throw Error("cannot send the value " + formatNumber(value) + " in a request");
    char out[40];
    std::snprintf(out, sizeof out, "%.17g", value);
    return out;
}

// The server reads strings raw, without escapes: a quote would end the string early.
std::string quoted(const std::string& text) {
    if (text.find('"') != std::string::npos) throw Error("a name with a double quote cannot be sent: " + text);
    return "\"" + text + "\"";
}

std::string maskObject(float x1, float y1, float x2, float y2) {
    return "{\"x1\":" + exactNumber(x1) + ",\"y1\":" + exactNumber(y1) + ",\"x2\":" + exactNumber(x2) +
           ",\"y2\":" + exactNumber(y2) + "}";
}

}  // namespace

// ---------------------------------------------------------------- realtime and live features

Bytes encodeRealtimeOpening(const RealtimeOpening& opening) {
    Bytes out{'R'};
    if (opening.compact) out.push_back('f');
    if (opening.handshake) out.push_back('t');
    // The final option byte: any value is accepted; this one reads well in a capture.
    out.push_back('1');
    return out;
}

Bytes encodeTimecodeAnswer(bool timecodes) { return Bytes{uint8_t(timecodes ? '1' : '0')}; }

Bytes encodeGo() { return Bytes{'g'}; }

Bytes encodeThreshold(uint16_t position, uint16_t threshold) {
    Bytes out{'t'};
    putU16(out, position);
    putU16(out, threshold);
    return out;
}

Bytes encodeMessage(const std::string& json) { return sizedText('m', json); }

Bytes encodeSelectCamera(uint16_t position) {
    Bytes out{'c'};
    putU16(out, position);
    return out;
}

Bytes encodeDeselectCamera() { return encodeSelectCamera(kNoCamera); }

Bytes encodeImages(bool on) { return Bytes{'i', uint8_t(on ? 1 : 0)}; }

Bytes encodeAcknowledge() { return Bytes{'i', 2}; }

// ---------------------------------------------------------------- acquisition

Bytes encodeAcquireRequest(const AcquireRequest& request) {
    Bytes out{'a', modeCharacter(request)};
    putU16(out, request.startFieldId);
    if (request.centroids) putFieldList(out, request.centroidList, request.fields);
    if (request.images) putFieldList(out, request.imageList, request.fields);
    putU16(out, request.rate);
    return out;
}

Bytes encodeCameraValues(const std::vector<uint16_t>& values, size_t cameras) {
    Bytes out;
    for (size_t c = 0; c < cameras; ++c) putU16(out, c < values.size() ? values[c] : 0);
    out.push_back(0);  // the one more byte, which the server reads and discards
    return out;
}

Bytes encodeStep() { return Bytes{'G'}; }
Bytes encodeStart() { return Bytes{'S'}; }
Bytes encodeStop() { return Bytes{'s'}; }

uint16_t progressValue(uint32_t recorded, uint32_t requested) {
    if (requested == 0) return 0;
    float value = float(recorded) / float(requested) * 65535.0f;
    return static_cast<uint16_t>(std::clamp(value, 0.0f, 65535.0f));
}

// ---------------------------------------------------------------- configure

Bytes encodeConfigureGet(ConfigureItem item) { return Bytes{'c', 'g', static_cast<uint8_t>(item)}; }

Bytes encodeMaskTable(const MaskTable& table) {
    if (table.size() > 0xFFFF) throw Error("a mask table holds at most 65535 cameras");
    Bytes out;
    putU16(out, static_cast<uint16_t>(table.size()));
    for (const auto& masks : table) {
        if (!masks.empty()) {
            out.push_back('c');
            putU32(out, static_cast<uint32_t>(12 * masks.size() + 4));
            putU32(out, static_cast<uint32_t>(masks.size()));
            for (const CircularMask& mask : masks) {
                putFloat(out, mask.x);
                putFloat(out, mask.y);
                putFloat(out, mask.radius);
            }
        }
        out.push_back('$');
    }
    return out;
}

Bytes encodeSetMasks(const MaskTable& table) {
    Bytes body = encodeMaskTable(table);
    Bytes out{'c', 's', 'm'};
    putU32(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// ---------------------------------------------------------------- command exchange

Bytes encodeCommand(const std::string& json) { return sizedText('C', json); }

std::string enableRealtimeMessagesCommand() { return "\"enable_realtime_messages\""; }
std::string enableLiveFeatMessagesCommand() { return "\"enable_livefeat_messages\""; }

std::string wantCamerasCommand(const std::vector<std::string>& names) {
    std::string out = "[\"want_cameras\",[";
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += ',';
        out += quoted(names[i]);
    }
    return out + "]]";
}

std::string getThresholdsCommand() { return "[\"get_thresholds\"]"; }
std::string getCameraSettingsCommand() { return "[\"get_camera_settings\"]"; }

std::string changeSettingCommand(const std::string& name, double value) {
    return "[\"change_setting\"," + quoted(name) + "," + exactNumber(value) + "]";
}

std::string cameraMessage(int position, const std::string& command) {
    return "[\"camera\"," + std::to_string(position) + "," + command + "]";
}

std::string addRectangularMaskCommand(float x1, float y1, float x2, float y2) {
    return "[\"add_rectangular_mask\"," + maskObject(x1, y1, x2, y2) + "]";
}

std::string deleteRectangularMaskCommand(float x1, float y1, float x2, float y2) {
    return "[\"delete_rectangular_mask\"," + maskObject(x1, y1, x2, y2) + "]";
}

std::string monitorCommand(Monitor monitor) {
    switch (monitor) {
    case Monitor::frameRate: return "\"enable_frame_rate_monitor\"";
    case Monitor::timecodeRate: return "\"enable_timecode_rate_monitor\"";
    case Monitor::rectangularMasks: return "\"enable_rectangular_masks_monitor\"";
    case Monitor::cameraOnlineStates: return "\"enable_camera_online_states_monitor\"";
    }
    return "";
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
    throw Error(what + " failed: " + check.failure + " (reply " +
                (reply.empty() ? "empty" : reply) + ")");
}

}  // namespace frameyard
