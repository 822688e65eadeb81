#pragma once
// Decoders for everything a frameyard server sends. They do no I/O: give them the bytes that
// have arrived so far and each call either decodes one whole item from the front and says how
// many bytes it took, or returns 0 to say that more bytes are needed (nothing is consumed then,
// so call again with the same bytes and more behind them). Every length the server announces
// is checked against the limits below before anything is allocated; bytes that cannot be the
// protocol throw ProtocolError, after which the connection is of no further use.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "frameyard/client/api.h"
#include "frameyard/client/records.h"
#include "frameyard/client/requests.h"

namespace frameyard {

// What a decoder accepts from a server before it calls the stream broken.
struct DecodeLimits {
    uint32_t maxText = 64u * 1024 * 1024;        // one JSON text (message, reply, descriptions)
    uint16_t maxCentroidsPerCamera = 2000;        // a realtime frame's glob list
    uint32_t maxCameras = 65535;                  // cameras of a frame, a field, a table
    uint64_t maxImageBytes = 64ull * 1024 * 1024; // one image (live or acquired)
    uint64_t maxFieldBytes = 256ull * 1024 * 1024; // one acquired field, every camera's images
};

// ---- realtime
struct RealtimeFormat {
    size_t cameras = 0;        // cameras of the session's list (untagged frames need it)
    bool compact = false;
    bool handshake = true;     // the opening asked the timecode query
    bool timecodes = false;    // the query was answered '1'
    bool tagged = false;       // the connection sent "enable_realtime_messages" before 'R'
};

struct RealtimeItem {
    enum class Kind { timecodeQuery, ready, frame, message };
    Kind kind = Kind::frame;
    std::string message;       // the JSON text of a message
};

// The server's side of a realtime session: with the handshake, first the timecode query 't'
// (answer with encodeTimecodeAnswer), then with the first frame the start signal 'r' (answer
// with encodeGo); then frames and messages. Untagged frames carry no length: a frame starts
// with 't' (timecode record) or a camera's u16 count (at most 2000, so its first byte is at
// most 0x07), which tells it from a monitor message's 'm'.
class FRAMEYARD_CLIENT_API RealtimeDecoder {
public:
    explicit RealtimeDecoder(const RealtimeFormat& format, const DecodeLimits& limits = DecodeLimits());

    // One item from the front of [data, data + size): the bytes taken, or 0 when more are
    // needed. A frame is decoded into `frame` (its storage reused).
    size_t decode(const uint8_t* data, size_t size, RealtimeItem& item, Frame& frame);

    const RealtimeFormat& format() const { return format_; }
    // The answer to the timecode query decides whether frames carry a timecode record.
    void setTimecodes(bool on) { format_.timecodes = on; }
    bool streaming() const { return stage_ == Stage::streaming; }

private:
    enum class Stage { query, ready, streaming };
    size_t decodeStreaming(const uint8_t* data, size_t size, RealtimeItem& item, Frame& frame);
    size_t decodeUntagged(const uint8_t* data, size_t size, Frame& frame);

    RealtimeFormat format_;
    DecodeLimits limits_;
    Stage stage_;
};

// A frame body held whole in memory (a tagged frame's body, a recording): the number of
// cameras comes from `format.cameras` unless `format.tagged`, where the body's length decides.
// Throws ProtocolError when the body does not read as a frame.
FRAMEYARD_CLIENT_API void decodeFrameBody(const uint8_t* data, size_t size, const RealtimeFormat& format,
                                          Frame& frame, const DecodeLimits& limits = DecodeLimits());

// Compact coordinates back to display units (units of 1/128).
inline float fromFixedPoint(uint16_t value) { return static_cast<float>(value) / 128.0f; }

// ---- live features
struct LiveItem {
    enum class Kind { frame, message };
    Kind kind = Kind::frame;
    LiveFrame frame;
    std::string message;
};

// The live-feature stream: items that start with u16 0xFFFF (a header: H header bytes of
// tag entries 't' + 4, 'i' + u16 width + u16 height, 'm'; then the pixels or the message's
// u32 length and text) or with a segment count n (n x 6 bytes). A frame is an optional header
// with timecode and image, then exactly one segment block; a message is a header of its own.
class FRAMEYARD_CLIENT_API LiveDecoder {
public:
    explicit LiveDecoder(const DecodeLimits& limits = DecodeLimits());
    size_t decode(const uint8_t* data, size_t size, LiveItem& item);

private:
    DecodeLimits limits_;
};

// ---- acquisition
struct AcquireItem {
    enum class Kind { cameraCount, ready, stepped, progress, field, end };
    Kind kind = Kind::cameraCount;
    uint16_t cameraCount = 0;    // 0: the host offers no acquisition (or this client may not)
    AcquireProgress progress;
    AcquiredField field;
};

// The server's side of an acquisition. Phases follow what the client sent: the camera count
// answers the request; 'R' (ready) and 'r' (stepped, after each 'G') come while arming; after
// the client's start byte (call started()) progress records come, then the field records and
// u16 0xFFFF. A progress record and field 0 of a recording that starts at field id 0 both begin
// with u16 0: a progress record goes on with a field number that grows and stays within the
// request and the progress value the server computes from it, a field record with 't' or its
// '0'/'1' flags, so the next two words tell them apart.
class FRAMEYARD_CLIENT_API AcquireDecoder {
public:
    explicit AcquireDecoder(const AcquireRequest& request, const DecodeLimits& limits = DecodeLimits());
    size_t decode(const uint8_t* data, size_t size, AcquireItem& item);
    // The client sent its start byte: progress and data follow.
    void started() { started_ = true; }
    uint16_t cameraCount() const { return cameras_; }
    uint32_t recordedFields() const { return recorded_; }
    bool finished() const { return phase_ == Phase::done; }

private:
    enum class Phase { cameraCount, arming, recording, data, done };
    bool isProgressRecord(const uint8_t* data, size_t size) const;
    size_t decodeField(const uint8_t* data, size_t size, AcquiredField& field, bool copy);

    uint16_t startFieldId_;
    uint32_t requested_;
    DecodeLimits limits_;
    Phase phase_ = Phase::cameraCount;
    bool started_ = false;
    uint16_t cameras_ = 0;
    uint32_t recorded_ = 0;
    uint32_t fieldsRead_ = 0;
};

// ---- configure answers (one per connection)
struct AspectAnswer {
    uint16_t pixelAspect = 0;   // pixel aspect ratio x 256, truncated
    uint16_t second = 0;        // 256 (1.0 x 256)
    double ratio() const { return pixelAspect / 256.0; }
};
struct CameraCountAnswer {
    uint16_t cameras = 0;
    uint16_t capabilities = 0;  // 7 when command exchanges are allowed, 3 when not
};
FRAMEYARD_CLIENT_API size_t decodeAspect(const uint8_t* data, size_t size, AspectAnswer& answer);
FRAMEYARD_CLIENT_API size_t decodeCameraCount(const uint8_t* data, size_t size, CameraCountAnswer& answer);
FRAMEYARD_CLIENT_API size_t decodeThresholds(const uint8_t* data, size_t size, std::vector<int>& thresholds);
// u32 length and that many bytes: the mask table, camera descriptions, or a command reply.
FRAMEYARD_CLIENT_API size_t decodeSized(const uint8_t* data, size_t size, std::string& text,
                                        const DecodeLimits& limits = DecodeLimits());
// A whole mask table as the server reads one (unknown tagged records skipped by their
// length); nullopt when the bytes do not hold a whole table.
FRAMEYARD_CLIENT_API std::optional<MaskTable> decodeMaskTable(const uint8_t* data, size_t size,
                                                              const DecodeLimits& limits = DecodeLimits());

// ---- byte helpers for client writers
inline uint16_t loadU16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t loadU32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

}  // namespace frameyard
