#pragma once
// An acquisition from the client side: the request, the camera values, arming and stepping,
// starting and stopping the recording while progress comes in, and the download of every
// recorded field's timecode, images and centroids.
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "tools/client/connection.h"

namespace fyclient {

struct AcquireRequest {
    bool globs = true;
    bool images = false;
    uint16_t startFieldId = 0;
    uint32_t fields = 0;  // every one of them wanted
    uint16_t rate = 0;    // carried to the host, which may ignore it
};

// 'a' and the request: the mode byte, the start field id, a frame list per kind asked for
// (all fields wanted), and the rate.
std::vector<uint8_t> encodeAcquireRequest(const AcquireRequest& request);
// A frame list of `fields` wanted fields, as runs of at most 65535, ended by 0xFFFF.
void appendWantedList(std::vector<uint8_t>& out, uint32_t fields);

// The progress value a server reports for `recorded` of `requested` fields.
uint16_t progressValue(uint32_t recorded, uint32_t requested);

struct AcquireProgress {
    uint16_t fieldNumber = 0;  // start field id + fields recorded
    uint16_t value = 0;        // fields recorded / fields requested x 65535
};

struct AcquiredCentroid {
    uint16_t x = 0, y = 0;  // display coordinates x 128
    uint16_t flags = 0;
};

struct AcquiredCamera {
    uint16_t width = 0, height = 0;
    std::vector<uint8_t> pixels;  // empty unless the field carries images
    std::vector<AcquiredCentroid> centroids;
};

struct AcquiredField {
    uint16_t number = 0;
    std::optional<std::array<uint8_t, 4>> timecode;
    bool images = false;
    bool globs = false;
    std::vector<AcquiredCamera> cameras;  // one per camera when the field carries anything
};

class AcquireSession {
public:
    enum class Event { none, progress, data };

    AcquireSession(Connection& connection, const AcquireRequest& request);

    // Sends the request and returns the server's camera count (0: no acquisitions offered).
    int open();
    // One value per camera and the closing byte; the request then goes to the host.
    void sendCameraValues(const std::vector<uint16_t>& values);
    // Waits up to waitMs for the server's 'R'; false when it has not come yet.
    bool waitReady(int waitMs);
    // 'G', then waits up to waitMs for the server's 'r'; false when it has not come yet (call
    // waitStepped() to keep waiting).
    bool step(int waitMs);
    bool waitStepped(int waitMs);
    void start();
    void stop();

    // While recording: the next progress record, or the start of the data; none when nothing
    // came within waitMs.
    Event next(int waitMs, AcquireProgress& progress);
    // After Event::data: the next field, nullopt after the last one.
    std::optional<AcquiredField> nextField();

    int cameraCount() const { return cameras; }
    // Fields recorded as the last progress record told.
    uint32_t recordedFields() const { return recorded; }
    uint64_t downloadedBytes() const { return downloaded; }

private:
    bool waitForByte(uint8_t expected, int waitMs);
    bool isProgressRecord();
    void readCamera(AcquiredField& field, AcquiredCamera& camera);

    Connection& connection;
    AcquireRequest request;
    int cameras = 0;
    uint32_t recorded = 0;
    uint32_t fieldsRead = 0;
    uint64_t downloaded = 0;
    std::optional<uint16_t> firstWord;
};

}  // namespace fyclient
