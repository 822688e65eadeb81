// The realtime and live-feature streams: opening, the handshake answers, acknowledgements,
// commands held until the stream runs, and reconnection.
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

// The blocking form of both streams: poll, and while nothing is there wait for bytes (or, while
// disconnected, for the next retry) until the deadline.
template <class Poll, class Connection>
Got waitForItem(int timeoutMs, Poll poll, Connection connection, Clock::time_point retryAt) {
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        Got got = poll();
        if (got != Got::nothing) return got;
        int left = millisecondsUntil(deadline);
        if (left == 0) return Got::nothing;
        if (auto* open = connection()) {
            if (open->closed()) {
                // A closed connection that poll() kept (no reconnect) has nothing more to give.
                throw ConnectionError("the server closed the connection");
            }
            open->waitForMore(left);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, std::max(1, millisecondsUntil(retryAt)))));
        }
    }
}

void tell(const Reconnect& policy, const std::string& event) {
    if (policy.onEvent) policy.onEvent(event);
}

// One retry of a lost stream when it is due: `connect` opens the stream again or throws.
template <class Connect, class Session>
void retryWhenDue(Session& session, RetrySchedule& retry, const Reconnect& policy, uint32_t& reconnects, Connect connect) {
    if (session || !retry.due()) return;
    try {
        connect();
    } catch (const Error&) {
        session.reset();
        retry.lost(policy);
        return;
    }
    retry.succeeded();
    ++reconnects;
    tell(policy, "reconnected");
}

void chooseCameras(Connection& connection, const std::vector<std::string>& names) {
    std::string quoted;
    for (const std::string& name : names) quoted += (quoted.empty() ? "'" : ", '") + name + "'";
    requireOk(exchangeCommand(connection, wantCamerasCommand(names)), "want_cameras for " + quoted);
}

}  // namespace

// ================================================================ realtime

struct RealtimeStream::Session {
    Session(const Endpoint& endpoint, const RealtimeFormat& format) : connection(endpoint), decoder(format) {}
    Connection connection;
    RealtimeDecoder decoder;
    RealtimeItem item;
};

RealtimeStream::RealtimeStream(const Endpoint& endpoint, RealtimeOptions options)
    : endpoint_(endpoint), options_(std::move(options)) {
    connect();
}

RealtimeStream::~RealtimeStream() = default;

int RealtimeStream::descriptor() const { return session_ ? session_->connection.descriptor() : -1; }

void RealtimeStream::connect() {
    cameras_ = options_.cameras.empty() ? std::vector<std::string>() : options_.cameras;
    if (cameras_.empty()) {
        for (const Camera& camera : Host(endpoint_).cameras()) cameras_.push_back(camera.name);
    }
    RealtimeFormat format;
    format.cameras = cameras_.size();
    format.compact = options_.compact;
    format.tagged = options_.messages;
    format.handshake = options_.handshake;
    auto session = std::make_unique<Session>(endpoint_, format);
    Connection& connection = session->connection;
    if (!options_.cameras.empty()) chooseCameras(connection, options_.cameras);
    if (options_.messages) requireOk(exchangeCommand(connection, enableRealtimeMessagesCommand()), "enabling messages");
    connection.send(encodeRealtimeOpening(RealtimeOpening{options_.compact, options_.handshake}));
    if (options_.handshake) {
        Frame unused;
        connection.receive([&](const uint8_t* data, size_t size) {
            return session->decoder.decode(data, size, session->item, unused);
        }, "the timecode query");
        connection.send(encodeTimecodeAnswer(options_.timecodes));
        session->decoder.setTimecodes(options_.timecodes);
    }
    for (Monitor monitor : options_.monitors) pending_.push_back(encodeMessage(monitorCommand(monitor)));
    session_ = std::move(session);
    // Without the handshake the stream runs from its opening on.
    if (session_->decoder.streaming()) sendPending();
}

void RealtimeStream::sendPending() {
    for (const Bytes& command : pending_) session_->connection.send(command);
    pending_.clear();
}

void RealtimeStream::lose(const std::string& reason) {
    session_.reset();
    if (!options_.reconnect.enabled) throw ConnectionError(reason);
    pending_.clear();
    retry_.lost(options_.reconnect);
    tell(options_.reconnect, "lost: " + reason);
}

void RealtimeStream::retryIfDue() {
    retryWhenDue(session_, retry_, options_.reconnect, reconnects_, [this] { connect(); });
}

void RealtimeStream::readAvailable() {
    if (!session_) return;
    try {
        session_->connection.readAvailable();
    } catch (const Error& error) {
        lose(error.what());
    }
}

Got RealtimeStream::poll(Frame& frame, std::string& message) {
    retryIfDue();
    if (!session_) return Got::nothing;
    try {
        Connection& connection = session_->connection;
        for (;;) {
            RealtimeItem& item = session_->item;
            size_t used = session_->decoder.decode(connection.data(), connection.size(), item, frame);
            if (used == 0) {
                if (connection.closed()) lose("the server closed the connection");
                return Got::nothing;
            }
            connection.consume(used);
            if (item.kind == RealtimeItem::Kind::ready) {
                connection.send(encodeGo());
                sendPending();
                continue;
            }
            if (item.kind == RealtimeItem::Kind::message) {
                message = std::move(item.message);
                return Got::message;
            }
            ++frames_;
            return Got::frame;
        }
    } catch (const Error& error) {
        if (!session_) throw;
        lose(error.what());
        return Got::nothing;
    }
}

Got RealtimeStream::next(Frame& frame, std::string& message, int timeoutMs) {
    return waitForItem(
        timeoutMs, [&] { readAvailable(); return poll(frame, message); },
        [&]() -> Connection* { return session_ ? &session_->connection : nullptr; }, retry_.at());
}

void RealtimeStream::sendWhenRunning(const Bytes& command) {
    if (session_ && session_->decoder.streaming()) {
        session_->connection.send(command);
    } else {
        pending_.push_back(command);
    }
}

void RealtimeStream::setThreshold(const std::string& camera, int threshold) {
    if (threshold < 0 || threshold > 255) {
        throw Error("threshold " + std::to_string(threshold) + " is out of range (0 to 255)");
    }
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

struct LiveStream::Session {
    explicit Session(const Endpoint& endpoint) : connection(endpoint) {}
    Connection connection;
    LiveDecoder decoder;
    LiveItem item;
};

LiveStream::LiveStream(const Endpoint& endpoint, LiveOptions options)
    : endpoint_(endpoint), options_(std::move(options)) {
    connect();
}

LiveStream::~LiveStream() = default;

int LiveStream::descriptor() const { return session_ ? session_->connection.descriptor() : -1; }

void LiveStream::connect() {
    auto session = std::make_unique<Session>(endpoint_);
    Connection& connection = session->connection;
    chooseCameras(connection, {options_.camera});
    if (options_.messages) requireOk(exchangeCommand(connection, enableLiveFeatMessagesCommand()), "enabling messages");
    Bytes opening{static_cast<uint8_t>(SessionKind::liveFeatures)};
    Bytes select = encodeSelectCamera(0);
    opening.insert(opening.end(), select.begin(), select.end());
    if (options_.images) {
        Bytes images = encodeImages(true);
        opening.insert(opening.end(), images.begin(), images.end());
    }
    connection.send(opening);
    session_ = std::move(session);
}

void LiveStream::lose(const std::string& reason) {
    session_.reset();
    if (!options_.reconnect.enabled) throw ConnectionError(reason);
    retry_.lost(options_.reconnect);
    tell(options_.reconnect, "lost: " + reason);
}

void LiveStream::retryIfDue() {
    retryWhenDue(session_, retry_, options_.reconnect, reconnects_, [this] { connect(); });
}

void LiveStream::readAvailable() {
    if (!session_) return;
    try {
        session_->connection.readAvailable();
    } catch (const Error& error) {
        lose(error.what());
    }
}

Got LiveStream::poll(LiveFrame& frame, std::string& message) {
    retryIfDue();
    if (!session_) return Got::nothing;
    try {
        Connection& connection = session_->connection;
        LiveItem& item = session_->item;
        size_t used = session_->decoder.decode(connection.data(), connection.size(), item);
        if (used == 0) {
            if (connection.closed()) lose("the server closed the connection");
            return Got::nothing;
        }
        connection.consume(used);
        if (item.kind == LiveItem::Kind::message) {
            message = std::move(item.message);
            return Got::message;
        }
        if (item.frame.image && options_.images && options_.acknowledge) connection.send(encodeAcknowledge());
        frame = std::move(item.frame);
        ++frames_;
        frameBytes_ += used;
        return Got::frame;
    } catch (const Error& error) {
        if (!session_) throw;
        lose(error.what());
        return Got::nothing;
    }
}

Got LiveStream::next(LiveFrame& frame, std::string& message, int timeoutMs) {
    return waitForItem(
        timeoutMs, [&] { readAvailable(); return poll(frame, message); },
        [&]() -> Connection* { return session_ ? &session_->connection : nullptr; }, retry_.at());
}

void LiveStream::sendNow(const Bytes& command) {
    if (!session_) throw ConnectionError("the live stream is not connected");
    session_->connection.send(command);
}

void LiveStream::acknowledge() { sendNow(encodeAcknowledge()); }

void LiveStream::setImages(bool on) {
    options_.images = on;
    sendNow(encodeImages(on));
}

void LiveStream::setThreshold(int threshold) {
    if (threshold < 0 || threshold > 255) {
        throw Error("threshold " + std::to_string(threshold) + " is out of range (0 to 255)");
    }
    sendNow(encodeThreshold(0, static_cast<uint16_t>(threshold)));
}

void LiveStream::send(const std::string& json) { sendNow(encodeMessage(json)); }

}  // namespace frameyard
