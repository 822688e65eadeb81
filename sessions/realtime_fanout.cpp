// The handler's realtime side: which sessions count as realtime clients, starting and stopping
// the host's frames on the first and last of them, and writing each host frame to every ready
// realtime session.
#include <map>
#include <tuple>
#include <vector>

#include "net/shared_bytes.h"
#include "protocol/frames/frame_format.h"
#include "protocol/realtime/realtime_protocol.h"
#include "sessions/client.h"
#include "sessions/handler_record.h"
#include "sessions/multi_client_handler.h"
#include "sessions/session_mode.h"
#include "toolkit/diagnostics.h"

using Client = RyStoreMultiClientHandlerBase::Client;

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

FrameView viewOf(const Client& client, const RyStoreProtocol::RealtimeProtocol& protocol) {
    const LuDArray<int>& cameras = client.cameras();
    return FrameView{std::vector<int>(cameras.begin(), cameras.end()), protocol.compactCentroids(),
                     protocol.sendsTimecodes(), protocol.messagesEnabled()};
}

}  // namespace

bool RyStoreMultiClientHandlerBase::admitRealtimeClient(Client& client) {
    RyStoreProtocol::RealtimeProtocol* protocol = streamingProtocol(client);
    if (protocol == nullptr || !protocol->isWaitingForFirstFrame()) return true;
    if (impl->realtimeClients.insert(&client).second) announceWantedCameras();
    if (impl->services.realtimeActive()) return true;
    // The session is served again once frames flow; its input waits in its buffer.
    startRealtime();
    return false;
}

void RyStoreMultiClientHandlerBase::noteReadyRealtimeClient(Client& client) {
    // A client that skipped the start handshake is ready without ever waiting for the first
    // frame; it wants frames all the same, so it counts as a realtime client from here on.
    RyStoreProtocol::RealtimeProtocol* protocol = streamingProtocol(client);
    if (protocol == nullptr || !protocol->isReady()) return;
    if (impl->realtimeClients.insert(&client).second) announceWantedCameras();
    if (!impl->services.realtimeActive()) startRealtime();
}

void RyStoreMultiClientHandlerBase::startRealtime() {
    if (RealtimeHandler* handler = impl->services.realtimeHandler()) handler->startRealtime();
    impl->services.setRealtimeActive(true);
}

void RyStoreMultiClientHandlerBase::stopRealtimeIfIdle() {
    if (!impl->realtimeClients.empty() || !impl->services.realtimeActive()) return;
    if (RealtimeHandler* handler = impl->services.realtimeHandler()) handler->stopRealtime();
    impl->services.setRealtimeActive(false);
}

void RyStoreMultiClientHandlerBase::announceWantedCameras() {
    RealtimeHandler* handler = impl->services.realtimeHandler();
    if (handler == nullptr) return;
    int count = impl->services.config().cameraCount();
    std::vector<bool> wanted(count > 0 ? static_cast<size_t>(count) : 0, false);
    for (Client* client : impl->realtimeClients) {
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

void RyStoreMultiClientHandlerBase::distributeFrame(const RyStoreProtocol::AbstractGlobFrame& frame,
                                                   const RyStoreProtocol::Timecode& timecode,
                                                   const RyStoreProtocol::MaskInfo& masks) {
    // Clients that see the frame the same way get the same bytes, encoded once.
    std::map<FrameView, LuSharedBytes> encoded;
    for (Client* client : impl->clients) {
        RyStoreProtocol::RealtimeProtocol* protocol = streamingProtocol(*client);
        if (protocol == nullptr) continue;
        if (protocol->isReady()) {
            FrameView view = viewOf(*client, *protocol);
            auto found = encoded.find(view);
            if (found == encoded.end()) {
                RyStoreProtocol::ClientGlobs globs(frame, client->cameras());
                RyStoreProtocol::ClientMaskInfo clientMasks(masks, client->cameras());
                LuSharedBytes bytes(RyStoreProtocol::encodeRealtimeFrame(globs, timecode, clientMasks, view.compact,
                                                                         view.timecodes, view.tagged));
                found = encoded.emplace(std::move(view), std::move(bytes)).first;
            }
            // Every client of the view holds the same bytes, also in its queue when it is behind.
            if (!protocol->sendEncodedFrame(found->second)) {
                fy::diagnostic("sendGlobs failed\n");
                client->process();
            }
            noteServiceNeeded(*client);
        } else if (protocol->isWaitingForFirstFrame()) {
            impl->services.setRealtimeActive(true);
            protocol->sendReady();
            noteServiceNeeded(*client);
        }
    }
    // The sessions the frame reached are served again at once (their writes, their state), on
    // what the poll's one readiness check found: no second check in the same turn.
    serveDueSessions();
}
