#pragma once
// Encoders for every request a client sends, one function per request. They do no I/O: each
// returns (or appends) the exact bytes to write. Integers are big-endian; letters are ASCII.
#include <cstdint>
#include <string>
#include <vector>

#include "frameyard/client/api.h"
#include "frameyard/client/records.h"

namespace frameyard {

using Bytes = std::vector<uint8_t>;

// ---- first bytes: what a connection is for
enum class SessionKind : uint8_t {
    realtime = 'R',
    liveFeatures = 'f',
    acquisition = 'a',
    configure = 'c',
    command = 'C',
};

// ---- realtime
struct RealtimeOpening {
    bool compact = false;     // 'f': 4-byte fixed-point centroids instead of 10-byte ones
    bool handshake = true;    // 't': the server asks about timecodes and waits for 'g'
};
// 'R' and the opening options: ['f'] ['t'] and one final byte.
FRAMEYARD_CLIENT_API Bytes encodeRealtimeOpening(const RealtimeOpening& opening);
// The answer to the server's timecode query: '1' for timecodes, '0' for none.
FRAMEYARD_CLIENT_API Bytes encodeTimecodeAnswer(bool timecodes);
// 'g': the answer to the server's 'r'; frames follow.
FRAMEYARD_CLIENT_API Bytes encodeGo();
// 't', u16 camera position, u16 threshold (0..255 changes the host; 256 and above are ignored).
// Realtime and live-feature sessions share it.
FRAMEYARD_CLIENT_API Bytes encodeThreshold(uint16_t position, uint16_t threshold);
// 'm', u32 length, the JSON text. Realtime and live-feature sessions share it.
FRAMEYARD_CLIENT_API Bytes encodeMessage(const std::string& json);

// ---- live features
// 'c', u16 position; 0xFFFF selects no camera.
FRAMEYARD_CLIENT_API Bytes encodeSelectCamera(uint16_t position);
FRAMEYARD_CLIENT_API Bytes encodeDeselectCamera();
// 'i' and the binary byte 1 (images on) or 0 (off).
FRAMEYARD_CLIENT_API Bytes encodeImages(bool on);
// 'i' and the binary byte 2: one image has arrived.
FRAMEYARD_CLIENT_API Bytes encodeAcknowledge();

// ---- acquisition
// A frame list as runs: `skip` unwanted fields, then `take` wanted ones.
struct FieldRun {
    uint16_t skip = 0;
    uint16_t take = 0;
};
struct AcquireRequest {
    bool centroids = true;
    bool images = false;
    uint16_t startFieldId = 0;
    // Either a field count (every field wanted, for each kind asked for) ...
    uint32_t fields = 0;
    // ... or explicit lists per kind; used when not empty (the other kind then gets `fields`).
    std::vector<FieldRun> centroidList;
    std::vector<FieldRun> imageList;
    uint16_t rate = 0;        // carried to the host, which may ignore it

    // How many fields the server records: the longer of the two lists.
    uint32_t requestedFields() const;
};
// 'a', the mode character ('0' centroids, '1' both, '2' images), the start field id, the
// centroid list then the image list (each present when asked for, runs ended by 0xFFFF) and
// the rate.
FRAMEYARD_CLIENT_API Bytes encodeAcquireRequest(const AcquireRequest& request);
// One u16 per camera and the one more byte the server reads and discards.
FRAMEYARD_CLIENT_API Bytes encodeCameraValues(const std::vector<uint16_t>& values, size_t cameras);
FRAMEYARD_CLIENT_API Bytes encodeStep();    // 'G'
FRAMEYARD_CLIENT_API Bytes encodeStart();   // 'S' (any byte but 'G' and 'a' starts)
FRAMEYARD_CLIENT_API Bytes encodeStop();    // 's'
// The progress value the server reports for `recorded` of `requested` fields.
FRAMEYARD_CLIENT_API uint16_t progressValue(uint32_t recorded, uint32_t requested);

// ---- configure (one request per connection)
enum class ConfigureItem : uint8_t {
    aspect = 'a',         // u16 pixel aspect ratio x 256, u16 256
    cameras = 'c',        // u16 camera count, u16 capability bits (7: commands allowed, 3: not)
    masks = 'm',          // u32 length, the circular-mask table
    descriptions = 's',   // u32 length, JSON array of camera descriptions
    thresholds = 't',     // u16 count, u16 per camera
};
// 'c', 'g' and the item letter.
FRAMEYARD_CLIENT_API Bytes encodeConfigureGet(ConfigureItem item);
// 'c', 's', 'm', u32 length and the table. The server sends no reply.
FRAMEYARD_CLIENT_API Bytes encodeSetMasks(const MaskTable& table);
FRAMEYARD_CLIENT_API Bytes encodeMaskTable(const MaskTable& table);

// ---- command exchange
// 'C', u32 length, the JSON text; the reply is u32 length and JSON text.
FRAMEYARD_CLIENT_API Bytes encodeCommand(const std::string& json);

// Command texts. Numbers keep every digit (the server's own %g would round them).
FRAMEYARD_CLIENT_API std::string enableRealtimeMessagesCommand();
FRAMEYARD_CLIENT_API std::string enableLiveFeatMessagesCommand();
FRAMEYARD_CLIENT_API std::string wantCamerasCommand(const std::vector<std::string>& names);
FRAMEYARD_CLIENT_API std::string getThresholdsCommand();
FRAMEYARD_CLIENT_API std::string getCameraSettingsCommand();
// A change_setting command; it goes to the first wanted camera of the connection.
FRAMEYARD_CLIENT_API std::string changeSettingCommand(const std::string& name, double value);
// Camera commands inside a stream's 'm' message: ["camera", position, command].
FRAMEYARD_CLIENT_API std::string cameraMessage(int position, const std::string& command);
FRAMEYARD_CLIENT_API std::string addRectangularMaskCommand(float x1, float y1, float x2, float y2);
FRAMEYARD_CLIENT_API std::string deleteRectangularMaskCommand(float x1, float y1, float x2, float y2);
// The stream monitors: "enable_frame_rate_monitor", "enable_timecode_rate_monitor",
// "enable_rectangular_masks_monitor", "enable_camera_online_states_monitor", as JSON strings.
enum class Monitor { frameRate, timecodeRate, rectangularMasks, cameraOnlineStates };
FRAMEYARD_CLIENT_API std::string monitorCommand(Monitor monitor);

// How a command reply reads: "ok", an error with its message, or another value (a result).
struct ReplyCheck {
    bool ok = false;         // the reply is "ok"
    bool isError = false;    // the reply is ["error",...] or empty
    std::string failure;     // when not ok: the error's text ("Not supported." for the server's
                             // unsupported, bad_command and unknown_command), "No response" or
                             // "Unknown response"
};
FRAMEYARD_CLIENT_API ReplyCheck checkReply(const std::string& reply);
// Throws Error unless the reply is "ok"; `what` names the request in the message.
FRAMEYARD_CLIENT_API void requireOk(const std::string& reply, const std::string& what);

}  // namespace frameyard
