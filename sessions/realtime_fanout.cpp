#include "sessions/realtime_fanout.h"

#include <algorithm>
#include <map>
#include <tuple>
#include <vector>

#include "net/shared_bytes.h"
#include "protocol/frames/frame_format.h"
#include "protocol/realtime/realtime_protocol.h"
#include "sessions/client.h"
#include "sessions/event_loop.h"
#include "sessions/session_mode.h"
#include "sessions/session_services.h"
#include "toolkit/diagnostics.h"

using Client = RealtimeFanout::Client;

namespace {

// The realtime protocol of a session that is streaming (or about to), else null.
RyStoreProtocol::RealtimeProtocol* streamingProtocol(Client& client) {
    SessionMode* mode = client.mode();
    return mode != nullptr ? mode->realtimeStream() : nullptr;
}

// Everything a realtime frame's bytes depend on besides the frame itself.
struct FrameView {
    std::vector<int> cameras;
    bool compact;
    bool timecodes;
    bool tagged;

    bool operator<(const FrameView& other) const {
        return std::tie(cameras, compact, timecodes, tagged) <
               std::tie(other.cameras, other.compact, other.timecodes, other.tagged);
    }
};

bool sameView(const FrameView& view, const Client& client, const RyStoreProtocol::RealtimeProtocol& protocol) {
    const LuDArray<int>& cameras = client.cameras();
    return view.compact == protocol.compactCentroids() && view.timecodes == protocol.sendsTimecodes() &&
           view.tagged == protocol.messagesEnabled() && view.cameras.size() == size_t(cameras.getSize()) &&
           std::equal(view.cameras.begin(), view.cameras.end(), cameras.begin());
}

FrameView viewOf(const Client& client, const RyStoreProtocol::RealtimeProtocol& protocol) {
    const LuDArray<int>& cameras = client.cameras();
    return FrameView{std::vector<int>(cameras.begin(), cameras.end()), protocol.compactCentroids(),
                     protocol.sendsTimecodes(), protocol.messagesEnabled()};
}

}  // namespace

// ---- realtime clients

bool RealtimeFanout::admit(Client& client) {
    RyStoreProtocol::RealtimeProtocol* protocol = streamingProtocol(client);
    if (protocol == nullptr || !protocol->isWaitingForFirstFrame()) return true;
    enlist(client);
    if (services.realtimeActive()) return true;
    startHost();
    return false;
}

void RealtimeFanout::noteReady(Client& client) {
    // A client that skipped the start handshake is ready without ever waiting for the first
    // frame; it wants frames all the same, so it counts as a realtime client from here on.
    RyStoreProtocol::RealtimeProtocol* protocol = streamingProtocol(client);
    if (protocol == nullptr || !protocol->isReady()) return;
    enlist(client);
    if (!services.realtimeActive()) startHost();
}

void RealtimeFanout::forget(Client& client) {
    if (clients.erase(&client) > 0 && !clients.empty()) announceWantedCameras();
}

void RealtimeFanout::enlist(Client& client) {
    if (clients.insert(&client).second) announceWantedCameras();
}

void RealtimeFanout::startHost() {
    if (RyStoreMultiClientHandlerBase::RealtimeHandler* handler = services.realtimeHandler()) handler->startRealtime();
    services.setRealtimeActive(true);
}

void RealtimeFanout::stopIfIdle() {
    if (!clients.empty() || !services.realtimeActive()) return;
    if (RyStoreMultiClientHandlerBase::RealtimeHandler* handler = services.realtimeHandler()) handler->stopRealtime();
    services.setRealtimeActive(false);
}

void RealtimeFanout::announceWantedCameras() {
    RyStoreMultiClientHandlerBase::RealtimeHandler* handler = services.realtimeHandler();
    if (handler == nullptr || clients.empty()) return;
    int count = services.config().cameraCount();
    std::vector<bool> wanted(count > 0 ? static_cast<size_t>(count) : 0, false);
    for (Client* client : clients) {
        for (int camera : client->cameras()) {
            if (camera >= 0 && camera < count) wanted[static_cast<size_t>(camera)] = true;
        }
    }
    LuDArray<int> cameras;
    for (int camera = 0; camera < count; ++camera) {
        if (wanted[static_cast<size_t>(camera)]) cameras.append(camera);
    }
    handler->wantedCamerasChanged(cameras);
}

// ---- frames

void RealtimeFanout::distribute(const RyStoreProtocol::AbstractGlobFrame& frame,
                                const RyStoreProtocol::Timecode& timecode, const RyStoreProtocol::MaskInfo& masks) {
    // Clients that see the frame the same way get the same bytes, encoded once. Clients of one
    // view mostly follow each other, so the last view is tried before any lookup.
    std::map<FrameView, LuSharedBytes> encoded;
    const std::pair<const FrameView, LuSharedBytes>* last = nullptr;
    auto bytesFor = [&](const Client& client, const RyStoreProtocol::RealtimeProtocol& protocol) -> const LuSharedBytes& {
        if (last != nullptr && sameView(last->first, client, protocol)) return last->second;
        FrameView view = viewOf(client, protocol);
        auto found = encoded.find(view);
        if (found == encoded.end()) {
            RyStoreProtocol::ClientGlobs globs(frame, client.cameras());
            RyStoreProtocol::ClientMaskInfo clientMasks(masks, client.cameras());
            LuSharedBytes bytes(RyStoreProtocol::encodeRealtimeFrame(globs, timecode, clientMasks, view.compact,
                                                                     view.timecodes, view.tagged));
            found = encoded.emplace(std::move(view), std::move(bytes)).first;
        }
        last = &*found;
        return found->second;
    };
    loop.broadcast([&](Client& client) {
        RyStoreProtocol::RealtimeProtocol* protocol = streamingProtocol(client);
        if (protocol == nullptr) return false;
        if (protocol->isReady()) {
            // Every client of the view holds the same bytes, also in its queue when it is behind.
            // A failed send ends the session when it is next served.
            if (!protocol->sendEncodedFrame(bytesFor(client, *protocol))) fy::diagnostic("sendGlobs failed\n");
            return true;
        }
        if (!protocol->isWaitingForFirstFrame()) return false;
        services.setRealtimeActive(true);
        protocol->sendReady();
        return true;
    });
}
