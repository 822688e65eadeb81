#pragma once
// The two streams a client keeps open: realtime frames of the cameras it watches, and the live
// features (run segments, images) of one camera. Each can be driven from any event loop
// (descriptor(), then readAvailable() and poll() when it is readable: they never wait) or by
// blocking next() calls with a time-out. With reconnect on, a stream whose host goes away
// connects again by itself, with back-off, and says so through its callback.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "frameyard/client/api.h"
#include "frameyard/client/connection.h"
#include "frameyard/client/decoders.h"
#include "frameyard/client/records.h"

namespace frameyard {

struct Reconnect {
    bool enabled = false;
    int firstDelayMs = 100;    // the first retry; each failure doubles it up to maxDelayMs
    int maxDelayMs = 1000;
    // Told "lost: REASON" when the stream breaks and "reconnected" when it is back.
    std::function<void(const std::string& event)> onEvent;
};

// When a stream that lost its host tries again: at once, then after a delay that doubles with
// every failure up to the policy's maximum.
class RetrySchedule {
public:
    void lost(const Reconnect& policy) {
        delayMs_ = delayMs_ == 0 ? policy.firstDelayMs : std::min(delayMs_ * 2, policy.maxDelayMs);
        at_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs_);
    }
    void succeeded() { delayMs_ = 0; }
    bool due() const { return std::chrono::steady_clock::now() >= at_; }
    std::chrono::steady_clock::time_point at() const { return at_; }

private:
    int delayMs_ = 0;
    std::chrono::steady_clock::time_point at_;
};

// What a stream's poll() or next() delivered.
enum class Got { nothing, frame, message };

// What both streams share: one connection to the host, lost and opened again with back-off
// when reconnection is on.
class FRAMEYARD_CLIENT_API StreamLink {
public:
    StreamLink(const StreamLink&) = delete;
    StreamLink& operator=(const StreamLink&) = delete;

    // -1 while disconnected (reconnect on).
    int descriptor() const;
    // Event-loop side: reads what has arrived, never waits (a broken connection throws, or
    // with reconnect on schedules the retry, which the next poll() makes when it is due).
    void readAvailable();
    uint64_t framesReceived() const { return frames_; }
    uint32_t reconnects() const { return reconnects_; }

protected:
    StreamLink(const Endpoint& endpoint, const Reconnect& reconnect);
    virtual ~StreamLink();

    // Opens the stream on a new connection and returns it (the stream sets up its decoder
    // afresh); throws Error when the host cannot be reached or refuses.
    virtual std::unique_ptr<Connection> open() = 0;
    // The connection is gone: forget what belonged to it.
    virtual void forget() {}
    // The first open; its errors reach the caller.
    void start() { connection_ = open(); }
    Connection* connection() const { return connection_.get(); }

    // One poll step under the link's rules: retries a lost connection when due, and turns a
    // failure or a closed connection into a loss (an error without reconnect).
    // (Templates, defined and instantiated beside the streams: a frame's way through them
    // costs no allocation.)
    template <class Step>
    Got guarded(Step&& step);
    // Polls until something comes or timeoutMs pass, waiting for bytes or the next retry.
    template <class Poll>
    Got waitFor(int timeoutMs, Poll&& poll);
    void sendNow(const Bytes& command);

    Endpoint endpoint_;
    uint64_t frames_ = 0;

private:
    void lose(const std::string& reason);
    void retryIfDue();

    Reconnect reconnect_;
    std::unique_ptr<Connection> connection_;
    RetrySchedule retry_;
    uint32_t reconnects_ = 0;
};

struct RealtimeOptions {
    std::vector<std::string> cameras;   // by name; empty: every camera of the host, host order
    bool compact = false;               // fixed-point centroids, no flags
    bool handshake = true;              // the timecode query and the start signal; without it
                                        // there are no timecodes and commands go at once
    bool timecodes = true;
    bool messages = false;              // camera messages too (setting, threshold, mask changes)
    std::vector<Monitor> monitors;      // sent once the stream runs
    Reconnect reconnect;
};

class FRAMEYARD_CLIENT_API RealtimeStream : public StreamLink {
public:
    // Connects, chooses the cameras, opens the stream and answers the timecode query.
    RealtimeStream(const Endpoint& endpoint, RealtimeOptions options = RealtimeOptions());
    ~RealtimeStream() override;

    // The cameras of the stream, in frame order.
    const std::vector<std::string>& cameras() const { return cameras_; }

    // The next item already received: a frame into `frame`, a JSON text into `message`.
    Got poll(Frame& frame, std::string& message);
    // Waits at most timeoutMs for the next item.
    Got next(Frame& frame, std::string& message, int timeoutMs);

    // The realtime threshold command; throws Error for an unknown camera or a value above 255.
    void setThreshold(const std::string& camera, int threshold);
    // The realtime message command: any JSON text (a monitor, a camera command list, ...).
    // Sent at once while the stream runs, otherwise as soon as it does.
    void send(const std::string& json);

private:
    std::unique_ptr<Connection> open() override;
    void forget() override { pending_.clear(); }
    Got step(Connection& connection, Frame& frame, std::string& message);
    void sendWhenRunning(const Bytes& command);
    void sendPending(Connection& connection);

    RealtimeOptions options_;
    std::vector<std::string> cameras_;
    std::unique_ptr<RealtimeDecoder> decoder_;
    RealtimeItem item_;
    std::vector<Bytes> pending_;   // commands held until the stream runs
};

struct LiveOptions {
    std::string camera;             // by name
    bool images = false;            // 8-bit images with the segments
    bool acknowledge = true;        // the library acknowledges every image it delivers
    bool messages = false;          // camera messages too
    Reconnect reconnect;
};

class FRAMEYARD_CLIENT_API LiveStream : public StreamLink {
public:
    LiveStream(const Endpoint& endpoint, LiveOptions options);
    ~LiveStream() override;

    // The next item already received: a frame into `frame`, a JSON text into `message`.
    Got poll(LiveFrame& frame, std::string& message);
    Got next(LiveFrame& frame, std::string& message, int timeoutMs);

    // Tells the server an image arrived (only with acknowledge off: the server sends at most
    // two images that are not acknowledged).
    void acknowledge();
    void setImages(bool on);
    void setThreshold(int threshold);
    void send(const std::string& json);

    // What the frames delivered so far took on the wire, headers, images and segments.
    uint64_t frameBytesReceived() const { return frameBytes_; }

private:
    std::unique_ptr<Connection> open() override;
    Got step(Connection& connection, LiveFrame& frame, std::string& message);

    LiveOptions options_;
    LiveDecoder decoder_;
    LiveItem item_;
    uint64_t frameBytes_ = 0;
};

}  // namespace frameyard
