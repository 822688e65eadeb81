// An acquisition driven by blocking calls with time-outs.
#include "frameyard/client/acquisition.h"

namespace frameyard {

Acquisition::Acquisition(const Endpoint& endpoint, const AcquireRequest& request,
                         const std::vector<uint16_t>& cameraValues)
    : connection_(endpoint), decoder_(request) {
    connection_.send(encodeAcquireRequest(request));
    connection_.receive([this](const uint8_t* data, size_t size) { return decoder_.decode(data, size, item_); },
                        "the camera count");
    if (decoder_.cameraCount() == 0) throw Error("the server at " + endpoint.text() + " offers no acquisitions");
    connection_.send(encodeCameraValues(cameraValues, decoder_.cameraCount()));
}

// Waits at most timeoutMs for the next item; false when none came in time.
bool Acquisition::nextItem(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        size_t used = decoder_.decode(connection_.data(), connection_.size(), item_);
        if (used > 0) {
            connection_.consume(used);
            if (item_.kind == AcquireItem::Kind::field || item_.kind == AcquireItem::Kind::end) {
                downloadedBytes_ += used;
            }
            return true;
        }
        if (connection_.closed()) throw ConnectionError("the server closed the acquisition connection");
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        connection_.waitForMore(static_cast<int>(left.count()));
    }
}

// Another kind than the one asked for is a server that does not follow the exchange.
bool Acquisition::waitFor(AcquireItem::Kind kind, int timeoutMs) {
    if (!nextItem(timeoutMs)) return false;
    if (item_.kind != kind) throw ProtocolError("the server sent an acquisition item out of order");
    return true;
}

bool Acquisition::waitReady(int timeoutMs) { return waitFor(AcquireItem::Kind::ready, timeoutMs); }

bool Acquisition::step(int timeoutMs) {
    connection_.send(encodeStep());
    return waitFor(AcquireItem::Kind::stepped, timeoutMs);
}

bool Acquisition::waitStepped(int timeoutMs) { return waitFor(AcquireItem::Kind::stepped, timeoutMs); }

void Acquisition::start() {
    connection_.send(encodeStart());
    decoder_.started();
}

void Acquisition::stop() { connection_.send(encodeStop()); }

bool Acquisition::nextProgress(AcquireProgress& progress, int timeoutMs) {
    if (downloading_ || !nextItem(timeoutMs)) return false;
    if (item_.kind == AcquireItem::Kind::progress) {
        progress = item_.progress;
        return true;
    }
    // The first field (or the end of an empty recording): the download has begun.
    downloading_ = true;
    haveField_ = true;
    return false;
}

void Acquisition::record(const std::function<void(const AcquireProgress&)>& onProgress,
                         const std::function<void(const AcquiredField&)>& onField) {
    AcquireProgress progress;
    while (!downloading_) {
        if (nextProgress(progress, connection_.endpoint().timeoutMs)) {
            if (onProgress) onProgress(progress);
        } else if (!downloading_) {
            throw TimeoutError("the recording showed no progress for " +
                               std::to_string(connection_.endpoint().timeoutMs) + " ms");
        }
    }
    for (;;) {
        if (!haveField_ && !nextItem(connection_.endpoint().timeoutMs)) {
            throw TimeoutError("no acquired data from " + connection_.endpoint().text() + " within " +
                               std::to_string(connection_.endpoint().timeoutMs) + " ms");
        }
        haveField_ = false;
        if (item_.kind == AcquireItem::Kind::end) return;
        if (item_.kind != AcquireItem::Kind::field) throw ProtocolError("the server sent an acquisition item out of order");
        if (onField) onField(item_.field);
    }
}

void Acquisition::download(const std::function<void(const AcquiredField&)>& onField) { record(nullptr, onField); }

}  // namespace frameyard
