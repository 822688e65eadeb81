#include "protocol/messages/status_messages.h"

#include <cfloat>
#include <cmath>
#include <limits>

#include "toolkit/json_printer.h"
#include "toolkit/string_stream.h"

namespace RyStoreProtocol {

namespace {

const char* const enableTexts[monitorKindCount] = {
    "\"enable_frame_rate_monitor\"",
    "\"enable_timecode_rate_monitor\"",
    "\"enable_rectangular_masks_monitor\"",
    "\"enable_camera_online_states_monitor\"",
};


void writeMaskList(std::ostream& out, const LuNullable<LuDArray<RyRectangularMask>>& masks) {
    if (masks.isNull()) {
        out << "null";
        return;
    }
    const LuDArray<RyRectangularMask>& list = masks.get();
    LuJSonPrinter::writeArray(out, list.getSize(), [&](int i) { writeRectangularMask(out, list[i]); });
}

// Sends through the caller's function and remembers whether every send went through.
bool sendAll(SendMessageFunction& send, const LuStr& message, bool& allSent) {
    bool sent = send.send(message);
    allSent = allSent && sent;
    return sent;
}

}  // namespace

void writeRectangularMask(std::ostream& out, const RyRectangularMask& mask) {
    out << "{\"x1\":";
    LuJSonPrinter::writeNumber(out, mask.x1);
    out << ",\"y1\":";
    LuJSonPrinter::writeNumber(out, mask.y1);
    out << ",\"x2\":";
    LuJSonPrinter::writeNumber(out, mask.x2);
    out << ",\"y2\":";
    LuJSonPrinter::writeNumber(out, mask.y2);
    out << '}';
}

const char* monitorEnableText(int kind) {
    if (kind < 0 || kind >= monitorKindCount) return nullptr;
    return enableTexts[kind];
}

int monitorKindForMessage(const LuStr& message) {
    if (message.isNull()) return -1;
    // Compared as whole texts: a message with an embedded NUL must not match on its prefix.
    for (int kind = 0; kind < monitorKindCount; ++kind)
        if (message.view() == enableTexts[kind]) return kind;
    return -1;
}

float narrowToFloat(double value) {
    if (std::isnan(value)) return std::numeric_limits<float>::quiet_NaN();
    if (value > FLT_MAX) return std::numeric_limits<float>::infinity();
    if (value < -FLT_MAX) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

LuStr settingChangedMessage(const LuStr& name, float value) {
    LuOSStream out;
    out << "[\"setting_changed\",";
    LuJSonPrinter::writeString(out, name);
    out << ',';
    LuJSonPrinter::writeNumber(out, static_cast<double>(value));
    out << ']';
    return out.toLuStr();
}

LuStr cameraMessage(int position, const LuStr& inner) {
    LuOSStream out;
    // The position is an index, written as plain digits (never in exponent form).
    out << "[\"camera\"," << LuStr::format("%d", position) << ',' << inner << ']';
    return out.toLuStr();
}

bool sendCameraMessage(SendMessageFunction& send, const LuDArray<int>& cameras, int camera, const LuStr& inner) {
    bool allSent = true;
    for (int position = 0; position < cameras.getSize(); ++position)
        if (cameras[position] == camera) sendAll(send, cameraMessage(position, inner), allSent);
    return allSent;
}

LuStr rateMessage(RateKind kind, float rate) {
    LuOSStream out;
    out << (kind == timecodeRateKind ? "[\"timecode_rate\"," : "[\"frame_rate\",");
    LuJSonPrinter::writeNumber(out, static_cast<double>(rate));
    out << ']';
    return out.toLuStr();
}

LuStr rectangularMasksMessage(const LuDArray<LuNullable<LuDArray<RyRectangularMask>>>& table,
                              const LuDArray<int>& cameras) {
    LuOSStream out;
    out << "[\"rectangular_masks\",";
    LuJSonPrinter::writeArray(out, cameras.getSize(), [&](int position) {
        int camera = cameras[position];
        if (camera >= 0 && camera < table.getSize())
            writeMaskList(out, table[camera]);
        else
            out << "null";
    });
    out << ']';
    return out.toLuStr();
}

LuStr onlineStatesMessage(const LuDArray<LuNullable<bool>>& states, const LuDArray<int>& cameras) {
    LuOSStream out;
    out << "[\"online_states\",";
    LuJSonPrinter::writeArray(out, cameras.getSize(), [&](int position) {
        int camera = cameras[position];
        if (camera < 0 || camera >= states.getSize() || states[camera].isNull())
            out << "null";
        else
            out << (states[camera].get() ? '1' : '0');
    });
    out << ']';
    return out.toLuStr();
}

bool storeRateIfChanged(AbstractConfig& config, RateKind kind, float rate) {
    LuNullable<float> stored = config.storedRate(kind);
    if (!stored.isNull() && stored.get() == rate) return false;
    config.storeRate(kind, rate);
    return true;
}

bool sendMonitorState(int kind, AbstractConfig& config, const LuDArray<int>& cameras, SendMessageFunction& send) {
    switch (kind) {
        case frameRateMonitor:
        case timecodeRateMonitor: {
            RateKind rateKind = kind == frameRateMonitor ? frameRateKind : timecodeRateKind;
            LuNullable<float> rate = config.storedRate(rateKind);
            if (rate.isNull()) return true;
            return send.send(rateMessage(rateKind, rate.get()));
        }
        case rectangularMasksMonitor:
            return send.send(rectangularMasksMessage(config.rectangularMasks(), cameras));
        case onlineStatesMonitor:
            return send.send(onlineStatesMessage(config.onlineStates(), cameras));
        default:
            return true;
    }
}

bool handleRealtimeMonitorEnable(const LuStr& message, bool (&monitors)[monitorKindCount], AbstractConfig& config,
                                 const LuDArray<int>& cameras, SendMessageFunction& send, unsigned offered) {
    int kind = monitorKindForMessage(message);
    if (kind < 0 || (offered & monitorBit(kind)) == 0) return false;
    monitors[kind] = true;
    sendMonitorState(kind, config, cameras, send);
    return true;
}

}  // namespace RyStoreProtocol
