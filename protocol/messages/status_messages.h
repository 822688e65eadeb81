#pragma once
// The JSON notifications streaming clients receive (setting changes, camera-addressed
// messages, frame and timecode rates, rectangular masks, camera online states) and the monitor
// requests with which a client subscribes to them. Texts are compact JSON: numbers as %g with
// 6 significant digits and '.' as decimal point, strings unescaped.
#include <ostream>

#include "protocol/common/abstract_config.h"
#include "protocol/common/records.h"
#include "toolkit/lu_array.h"
#include "toolkit/lu_nullable.h"
#include "toolkit/lu_str.h"

namespace RyStoreProtocol {

// Delivers one message text to one client with that client's framing; false when the client
// could not be written to.
class SendMessageFunction {
public:
    virtual bool send(const LuStr& message) = 0;

protected:
    ~SendMessageFunction() = default;
};

// The status reports a client subscribes to separately, in the order they are tried.
enum MonitorKind {
    frameRateMonitor = 0,
    timecodeRateMonitor = 1,
    rectangularMasksMonitor = 2,
    onlineStatesMonitor = 3,
};
constexpr int monitorKindCount = 4;
// A set of monitor kinds, one bit per kind.
constexpr unsigned monitorBit(int kind) { return 1u << kind; }
constexpr unsigned allMonitorKinds = (1u << monitorKindCount) - 1;

// The request text that enables a monitor, a JSON string with its quotes; null for other kinds.
const char* monitorEnableText(int kind);
// The kind whose enable text is exactly this message, or -1.
int monitorKindForMessage(const LuStr& message);

// A double narrowed to float without leaving the float range undefined: values beyond it
// become infinities, NaN stays NaN.
float narrowToFloat(double value);

// ["setting_changed","NAME",VALUE]
LuStr settingChangedMessage(const LuStr& name, float value);
// ["camera",N,INNER] with N a plain decimal integer.
LuStr cameraMessage(int position, const LuStr& inner);
// Sends ["camera",p,inner] once for every position p of the client's list that holds the host
// camera, in increasing p. True when every send succeeded (also when none was due).
bool sendCameraMessage(SendMessageFunction& send, const LuDArray<int>& cameras, int camera, const LuStr& inner);
// {"x1":X1,"y1":Y1,"x2":X2,"y2":Y2}, the mask object of notifications and camera commands.
void writeRectangularMask(std::ostream& out, const RyRectangularMask& mask);
// ["frame_rate",RATE] or ["timecode_rate",RATE]
LuStr rateMessage(RateKind kind, float rate);
// ["rectangular_masks",[...]] with one entry per camera of the client's list: null for a
// camera without mask support or beyond the table, else its masks.
LuStr rectangularMasksMessage(const LuDArray<LuNullable<LuDArray<RyRectangularMask>>>& table,
                              const LuDArray<int>& cameras);
// ["online_states",[...]] with one entry per camera of the client's list: null when unknown
// (or beyond the state list), else 1 or 0.
LuStr onlineStatesMessage(const LuDArray<LuNullable<bool>>& states, const LuDArray<int>& cameras);

// Stores a new frame or timecode rate unless it equals the stored one; true when it was stored
// (the clients monitoring the kind are then told).
bool storeRateIfChanged(AbstractConfig& config, RateKind kind, float rate);

// The current state of a monitor, as sent when a client enables it: the stored rate (nothing
// while the host has not reported one), the mask table or the online states for the client's
// cameras. False when a send failed.
bool sendMonitorState(int kind, AbstractConfig& config, const LuDArray<int>& cameras, SendMessageFunction& send);

// A realtime client's message: when it is the enable text of one of the offered kinds (tried in
// kind order), sets that monitor flag, sends the current state and returns true; otherwise false
// and nothing changes.
bool handleRealtimeMonitorEnable(const LuStr& message, bool (&monitors)[monitorKindCount], AbstractConfig& config,
                                 const LuDArray<int>& cameras, SendMessageFunction& send,
                                 unsigned offered = allMonitorKinds);

}  // namespace RyStoreProtocol
