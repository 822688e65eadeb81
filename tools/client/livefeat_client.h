#pragma once
// A live-feature session from the client side: the commands (camera selection, images on or
// off, acknowledgements, thresholds, JSON messages) and the stream of frames (run segments,
// optional timecode and 8-bit image) and messages that comes back.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/client/connection.h"

namespace fyclient {

struct LiveFeatImage {
    uint16_t width = 0;
    uint16_t height = 0;
    std::vector<uint8_t> pixels;   // width x height bytes, row by row
};

// The three values of one run segment in wire order; what they mean is the host's.
struct Segment {
    uint16_t value1 = 0, value2 = 0, value3 = 0;
};

struct LiveFeatFrame {
    std::optional<std::array<uint8_t, 4>> timecode;
    std::optional<LiveFeatImage> image;
    std::vector<Segment> segments;
};

// One thing read from the stream: a frame or a JSON message.
struct LiveFeatItem {
    bool isMessage = false;
    LiveFeatFrame frame;
    std::string message;
    size_t wireBytes = 0;   // how many bytes the item took on the wire
};

class LiveFeatSession {
public:
    explicit LiveFeatSession(Connection& connection) : connection(connection) {}

    // Sends the session byte 'f'; the server answers nothing until a camera is selected.
    void open();
    // A position of the connection's camera list (chosen with want_cameras, or every camera).
    void selectCamera(uint16_t position);
    void deselectCamera();
    void setImages(bool on);
    // Tells the server one image arrived; it sends at most two unacknowledged ones.
    void acknowledgeImage();
    void sendThreshold(uint16_t position, uint16_t threshold);
    void sendMessage(const std::string& json);

    // The next item, waiting at most waitMs for its first byte; nullopt when none came.
    // Throws ClientError when the stream breaks or does not read as live-feature items.
    std::optional<LiveFeatItem> next(int waitMs);

private:
    void readHeader(LiveFeatItem& item);
    void readSegments(LiveFeatItem& item, uint16_t count);

    Connection& connection;
};

}  // namespace fyclient
