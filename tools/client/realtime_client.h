#pragma once
// A realtime session from the client side: the opening options, the timecode and start
// handshake, and the frames and JSON messages that follow, in full, compact or tagged form.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/client/connection.h"

namespace fyclient {

struct RealtimeOptions {
    bool compact = false;     // 4-byte fixed-point centroids instead of 10-byte ones
    bool handshake = true;    // ask the timecode query; the server then waits for our 'g'
    bool timecodes = false;   // answer the query with '1' (needs the handshake)
    bool tagged = false;      // the connection enabled realtime messages before 'R'
};

struct Centroid {
    float x = 0, y = 0;       // display coordinates
    uint16_t flags = 0;       // 1 for every centroid of this system; absent in the compact form
};

struct RealtimeFrame {
    std::optional<std::array<uint8_t, 4>> timecode;
    std::vector<std::vector<Centroid>> cameras;   // in the order of the session's camera list
};

// One thing read from the stream: a frame or a JSON message.
struct RealtimeItem {
    bool isMessage = false;
    RealtimeFrame frame;
    std::string message;
};

// Decodes one frame body. With cameraCount < 0 the body's own length decides how many glob
// lists it holds (the tagged form carries it); throws ClientError on a malformed body.
RealtimeFrame parseFrameBody(const uint8_t* data, size_t size, bool compact, bool timecodes, int cameraCount);

// Fixed-point coordinate of the compact form back to display units.
float fromFixedPoint(uint16_t value);

class RealtimeSession {
public:
    // cameraCount: how many cameras the session serves (needed to read untagged frames).
    RealtimeSession(Connection& connection, int cameraCount, RealtimeOptions options);

    // Sends 'R' and the opening; with the handshake, waits for the server's 't' and answers.
    void open();
    // The next item, waiting at most waitMs for its first byte; nullopt when none came. The
    // server's 'r' is answered with 'g' on the way. Throws ClientError when the stream breaks.
    std::optional<RealtimeItem> next(int waitMs);
    // True once frames may flow and messages may be sent ('g' was sent, or no handshake).
    bool streaming() const { return !awaitingReady; }

    void sendThreshold(uint16_t position, uint16_t threshold);
    void sendMessage(const std::string& json);

private:
    RealtimeFrame readUntaggedFrame();
    std::string readText();

    Connection& connection;
    int cameraCount;
    RealtimeOptions options;
    bool awaitingReady = false;
};

}  // namespace fyclient
