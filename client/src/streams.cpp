// The realtime and live-feature streams: opening, the handshake answers, acknowledgements,
// commands held until the stream runs, and the link they share with its reconnection.
#include "frameyard/client/streams.h"

#include <thread>

#include "frameyard/client/host.h"

namespace frameyard {
namespace {

using Clock = std::chrono::steady_clock;

int millisecondsUntil(Clock::time_point when) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void tell(const Reconnect& policy, const std::string& event) {
    if (policy.onEvent) policy.onEvent(event);
}

void chooseCameras(Connection& connection, const std::vector<std::string>& names) {
    std::string quoted;
    for (const std::string& name : names) quoted += (quoted.empty() ? "'" : ", '") + name + "'";
    requireOk(exchangeCommand(connection, wantCamerasCommand(names)), "want_cameras for " + quoted);
}

void checkThreshold(int threshold) {
    if (threshold < 0 || threshold > 255) {
        throw Error("threshold " + std::to_string(threshold) + " is out of range (0 to 255)");
    }
}

}  // namespace

// ================================================================ the link

StreamLink::StreamLink(const Endpoint& endpoint, const Reconnect& reconnect)
    : endpoint_(endpoint), reconnect_(reconnect) {}

StreamLink::~StreamLink() = default;

int StreamLink::descriptor() const { return connection_ ? connection_->descriptor() : -1; }

void StreamLink::readAvailable() {
    if (!connection_) return;
    try {
        connection_->readAvailable();
    } catch (const Error& error) {
        lose(error.what());
    }
}

void StreamLink::lose(const std::string& reason) {
    connection_.reset();
    forget();
    if (!reconnect_.enabled) throw ConnectionError(reason);
    retry_.lost(reconnect_);
    tell(reconnect_, "lost: " + reason);
}

void StreamLink::retryIfDue() {
    if (connection_ || !retry_.due()) return;
    try {
        connection_ = open();
    } catch (const Error&) {
        forget();
        retry_.lost(reconnect_);
        return;
    }
    retry_.succeeded();
    ++reconnects_;
    tell(reconnect_, "reconnected");
}

template <class Step>
Got StreamLink::guarded(Step&& step) {
    retryIfDue();
    if (!connection_) return Got::nothing;
    std::string failure;
    try {
        Got got = step(*connection_);
        if (got != Got::nothing || !connection_->closed()) return got;
        failure = "the server closed the connection";
    } catch (const Error& error) {
        failure = error.what();
    }
    lose(failure);
    return Got::nothing;
}

template <class Poll>
Got StreamLink::waitFor(int timeoutMs, Poll&& poll) {
    // Items already here first: reading only when none is whole keeps the buffer at one item
    // and what the socket held, however fast the server sends; and an item already here costs
    // no clock reading.
    Got got = poll();
    if (got != Got::nothing || timeoutMs <= 0) return got;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (int left = timeoutMs; left > 0; left = millisecondsUntil(deadline)) {
        if (connection_) {
            // One recv() with a time-out a wake-up; a failure is a loss like any other.
            try {
                connection_->waitForMore(left);
            } catch (const Error& error) {
                lose(error.what());
            }
        } else {
            // Disconnected: sleep until the next retry, not past the deadline.
            std::this_thread::sleep_for(std::chrono::milliseconds(std::clamp(millisecondsUntil(retry_.at()), 1, left)));
        }
        got = poll();
        if (got != Got::nothing) return got;
    }
    return Got::nothing;
}

void StreamLink::sendNow(const Bytes& command) {
    if (!connection_) throw ConnectionError("the stream is not connected");
    connection_->send(command);
}

// ================================================================ realtime

RealtimeStream::RealtimeStream(const Endpoint& endpoint, RealtimeOptions options)
    : StreamLink(endpoint, options.reconnect), options_(std::move(options)) {
    start();
}

RealtimeStream::~RealtimeStream() = default;

std::unique_ptr<Connection> RealtimeStream::open() {
    cameras_ = options_.cameras;
    if (cameras_.empty()) {
        for (const Camera& camera : Host(endpoint_).cameras()) cameras_.push_back(camera.name);
    }
    RealtimeFormat format;
    format.cameras = cameras_.size();
    format.compact = options_.compact;
    format.tagged = options_.messages;
    format.handshake = options_.handshake;
    decoder_ = std::make_unique<RealtimeDecoder>(format);
    auto connection = std::make_unique<Connection>(endpoint_);
    if (!options_.cameras.empty()) chooseCameras(*connection, options_.cameras);
    if (options_.messages) requireOk(exchangeCommand(*connection, enableRealtimeMessagesCommand()), "enabling messages");
    connection->send(encodeRealtimeOpening(RealtimeOpening{options_.compact, options_.handshake}));
    if (options_.handshake) {
        Frame unused;
        connection->receive([&](const uint8_t* data, size_t size) { return decoder_->decode(data, size, item_, unused); },
                            "the timecode query");
        connection->send(encodeTimecodeAnswer(options_.timecodes));
        decoder_->setTimecodes(options_.timecodes);
    }
    for (Monitor monitor : options_.monitors) pending_.push_back(encodeMessage(monitorCommand(monitor)));
    // Without the handshake the stream runs from its opening on.
    if (decoder_->streaming()) sendPending(*connection);
    return connection;
}

void RealtimeStream::sendPending(Connection& connection) {
    for (const Bytes& command : pending_) connection.send(command);
    pending_.clear();
}

Got RealtimeStream::step(Connection& connection, Frame& frame, std::string& message) {
    for (;;) {
        size_t used = decoder_->decode(connection.data(), connection.size(), item_, frame);
        if (used == 0) return Got::nothing;
        connection.consume(used);
        if (item_.kind == RealtimeItem::Kind::ready) {
            connection.send(encodeGo());
            sendPending(connection);
            continue;
        }
        if (item_.kind == RealtimeItem::Kind::message) {
            message = std::move(item_.message);
            return Got::message;
        }
        ++frames_;
        return Got::frame;
    }
}

Got RealtimeStream::poll(Frame& frame, std::string& message) {
    return guarded([&](Connection& connection) { return step(connection, frame, message); });
}

Got RealtimeStream::next(Frame& frame, std::string& message, int timeoutMs) {
    return waitFor(timeoutMs, [&] { return poll(frame, message); });
}

void RealtimeStream::sendWhenRunning(const Bytes& command) {
    if (connection() && decoder_->streaming()) {
        connection()->send(command);
    } else {
        pending_.push_back(command);
    }
}

void RealtimeStream::setThreshold(const std::string& camera, int threshold) {
    checkThreshold(threshold);
    for (size_t position = 0; position < cameras_.size(); ++position) {
        if (cameras_[position] == camera) {
            sendWhenRunning(encodeThreshold(static_cast<uint16_t>(position), static_cast<uint16_t>(threshold)));
            return;
        }
    }
    throw Error("camera '" + camera + "' is not in this stream");
}

void RealtimeStream::send(const std::string& json) { sendWhenRunning(encodeMessage(json)); }

// ================================================================ live features

LiveStream::LiveStream(const Endpoint& endpoint, LiveOptions options)
    : StreamLink(endpoint, options.reconnect), options_(std::move(options)) {
    start();
}

LiveStream::~LiveStream() = default;

std::unique_ptr<Connection> LiveStream::open() {
    decoder_ = LiveDecoder();
    auto connection = std::make_unique<Connection>(endpoint_);
    chooseCameras(*connection, {options_.camera});
    if (options_.messages) requireOk(exchangeCommand(*connection, enableLiveFeatMessagesCommand()), "enabling messages");
    Bytes opening{static_cast<uint8_t>(SessionKind::liveFeatures)};
    Bytes select = encodeSelectCamera(0);
    opening.insert(opening.end(), select.begin(), select.end());
    if (options_.images) {
        Bytes images = encodeImages(true);
        opening.insert(opening.end(), images.begin(), images.end());
    }
    connection->send(opening);
    return connection;
}

Got LiveStream::step(Connection& connection, LiveFrame& frame, std::string& message) {
    size_t used = decoder_.decode(connection.data(), connection.size(), item_);
    if (used == 0) return Got::nothing;
    connection.consume(used);
    if (item_.kind == LiveItem::Kind::message) {
        message = std::move(item_.message);
        return Got::message;
    }
    if (item_.frame.image && options_.images && options_.acknowledge) connection.send(encodeAcknowledge());
    frame = std::move(item_.frame);
    ++frames_;
    frameBytes_ += used;
    return Got::frame;
}

Got LiveStream::poll(LiveFrame& frame, std::string& message) {
    return guarded([&](Connection& connection) { return step(connection, frame, message); });
}

Got LiveStream::next(LiveFrame& frame, std::string& message, int timeoutMs) {
    return waitFor(timeoutMs, [&] { return poll(frame, message); });
}

void LiveStream::acknowledge() { sendNow(encodeAcknowledge()); }

void LiveStream::setImages(bool on) {
    options_.images = on;
    sendNow(encodeImages(on));
}

void LiveStream::setThreshold(int threshold) {
    checkThreshold(threshold);
    sendNow(encodeThreshold(0, static_cast<uint16_t>(threshold)));
}

void LiveStream::send(const std::string& json) { sendNow(encodeMessage(json)); }

}  // namespace frameyard
