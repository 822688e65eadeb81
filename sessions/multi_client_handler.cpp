#include "sessions/multi_client_handler.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <tuple>
#include <vector>

#include "net/socket_functions.h"
#include "net/system_socket.h"
#include "protocol/configure_handler.h"
#include "protocol/frame_format.h"
#include "protocol/status_messages.h"
#include "sessions/client.h"
#include "sessions/handler_record.h"
#include "toolkit/diagnostics.h"

using Client = RyStoreMultiClientHandlerBase::Client;

namespace {

// Delivers a status message to one session with the framing of the stream it runs.
class SendMessageToClientFunction : public RyStoreProtocol::SendMessageFunction {
public:
    explicit SendMessageToClientFunction(Client& client) : client(client) {}
    bool send(const LuStr& message) override { return client.sendMessage(message); }

private:
    Client& client;
};

// The realtime protocol of a session that is streaming (or about to), else null.
RyStoreProtocol::RealtimeProtocol* streamingProtocol(Client& client) {
    if (client.state() != Client::running_realtime_protocol) return nullptr;
    return client.realtimeProtocol();
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

// poll() readiness that calls for a read: data, the peer hanging up, or an error to collect.
constexpr short inputEvents = POLLIN | POLLHUP | POLLERR | POLLNVAL;

int pollOnce(std::vector<pollfd>& set) {
    if (set.empty()) return 0;
    for (int attempt = 0; attempt < 8; ++attempt) {
        int result = ::poll(set.data(), static_cast<nfds_t>(set.size()), 0);
        if (result >= 0 || errno != EINTR) return result;
    }
    return 0;
}

}  // namespace

RyStoreProtocol::AbstractConfig& RyStoreMultiClientHandlerBase::Impl::config() { return configureHandler->config(); }

RyStoreMultiClientHandlerBase::RyStoreMultiClientHandlerBase(RyStoreConfigureHandlerBase& configure)
    : impl(std::make_unique<Impl>()) {
    impl->owner = this;
    impl->configureHandler = &configure;
}

RyStoreMultiClientHandlerBase::~RyStoreMultiClientHandlerBase() {
    for (Client* client : impl->clients) {
        Impl::Connection connection = impl->connections[client];
        delete client;
        if (connection.socket->isOpen()) connection.socket->close();
        delete connection.socket;
    }
}

bool RyStoreMultiClientHandlerBase::isAlive() { return !impl->clients.empty(); }

unsigned int RyStoreMultiClientHandlerBase::clientCount() const {
    return static_cast<unsigned int>(impl->clients.size());
}

bool RyStoreMultiClientHandlerBase::isRealtimeActive() const { return impl->realtimeActive; }

void RyStoreMultiClientHandlerBase::setRealtimeHandler(RealtimeHandler* handler) {
    impl->realtimeHandler = handler;
    if (handler != nullptr && !impl->realtimeClients.empty()) announceWantedCameras();
}

void RyStoreMultiClientHandlerBase::setLiveFeatHandler(LiveFeatHandler* handler) { impl->liveFeatHandler = handler; }

void RyStoreMultiClientHandlerBase::setAcquireHandler(AcquireHandler* handler) { impl->acquireHandler = handler; }

void RyStoreMultiClientHandlerBase::addClient(RySocketInterface* socket) {
    Impl::Connection connection{socket, dynamic_cast<RySystemSocket*>(socket)};
    Client* client = new Client(*socket, *impl, clock());
    impl->connections[client] = connection;
    impl->clients.insert(client);
}

void RyStoreMultiClientHandlerBase::process() {
    pollConnections();
    serveSessions();
    removeFinishedSessions();
    stopRealtimeIfIdle();
    acceptConnections();
    impl->readableListeners.clear();
}

void RyStoreMultiClientHandlerBase::pollConnections() {
    // One poll() learns which of all the connections and listening sockets have something to
    // read; sessions whose connection is quiet cost no system call.
    std::vector<pollfd> set;
    std::vector<Client*> polled;
    set.reserve(impl->clients.size() + static_cast<size_t>(listeningDescriptors().getSize()));
    polled.reserve(impl->clients.size());
    for (Client* client : impl->clients) {
        if (!client->isAlive()) continue;  // removed in this poll's removal pass
        const Impl::Connection& connection = impl->connections[client];
        RySystemSocket* system = connection.system;
        bool pollable = system != nullptr && system->isOpen() && !system->isAborted() && !system->modeFailed() &&
                        !client->socket().outputFailed();
        if (!pollable) {
            // Nothing to poll (a test socket), or a connection that is known to be broken: a
            // drain costs no wait and lets its session see the end of the connection.
            client->socket().drainInput();
            continue;
        }
        set.push_back(pollfd{system->descriptor(), POLLIN, 0});
        polled.push_back(client);
    }
    const LuDArray<int>& listening = listeningDescriptors();
    for (int descriptor : listening) set.push_back(pollfd{descriptor, POLLIN, 0});

    if (pollOnce(set) < 0) {
        fy::diagnosticErrno("poll");
        return;
    }
    for (size_t i = 0; i < polled.size(); ++i) {
        if (set[i].revents & inputEvents) polled[i]->socket().drainInput();
    }
    for (size_t i = polled.size(); i < set.size(); ++i) {
        if (set[i].revents & POLLIN) impl->readableListeners.push_back(set[i].fd);
    }
}

bool RyStoreMultiClientHandlerBase::listeningReadable(int descriptor) const {
    const std::vector<int>& ready = impl->readableListeners;
    return std::find(ready.begin(), ready.end(), descriptor) != ready.end();
}

void RyStoreMultiClientHandlerBase::serveSessions() {
    // Sessions are only removed after this loop and only added after it, so the set can be
    // walked directly.
    for (Client* client : impl->clients) serve(*client);
}

void RyStoreMultiClientHandlerBase::serve(Client& client) {
    if (!client.isAlive()) return;
    RyStoreProtocol::RealtimeProtocol* protocol = streamingProtocol(client);
    if (protocol != nullptr && protocol->isWaitingForFirstFrame()) {
        if (impl->realtimeClients.insert(&client).second) announceWantedCameras();
        if (!impl->realtimeActive) {
            // The session is served again once frames flow; its input waits in its buffer.
            startRealtime();
            return;
        }
    }
    client.process();
    noteReadyRealtimeClient(client);
}

void RyStoreMultiClientHandlerBase::noteReadyRealtimeClient(Client& client) {
    // A client that skipped the start handshake is ready without ever waiting for the first
    // frame; it wants frames all the same, so it counts as a realtime client from here on.
    RyStoreProtocol::RealtimeProtocol* protocol = streamingProtocol(client);
    if (protocol == nullptr || !protocol->isReady()) return;
    if (impl->realtimeClients.insert(&client).second) announceWantedCameras();
    if (!impl->realtimeActive) startRealtime();
}

void RyStoreMultiClientHandlerBase::startRealtime() {
    if (impl->realtimeHandler != nullptr) impl->realtimeHandler->startRealtime();
    impl->realtimeActive = true;
}

void RyStoreMultiClientHandlerBase::stopRealtimeIfIdle() {
    if (!impl->realtimeClients.empty() || !impl->realtimeActive) return;
    if (impl->realtimeHandler != nullptr) impl->realtimeHandler->stopRealtime();
    impl->realtimeActive = false;
}

void RyStoreMultiClientHandlerBase::announceWantedCameras() {
    if (impl->realtimeHandler == nullptr) return;
    int count = impl->config().cameraCount();
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
    impl->realtimeHandler->wantedCamerasChanged(cameras);
}

void RyStoreMultiClientHandlerBase::removeFinishedSessions() {
    for (auto it = impl->clients.begin(); it != impl->clients.end();) {
        Client* client = *it;
        if (client->isAlive()) {
            ++it;
            continue;
        }
        it = impl->clients.erase(it);
        Impl::Connection connection = impl->connections[client];
        impl->connections.erase(client);
        if (connection.socket->isOpen()) connection.socket->close();
        if (impl->realtimeClients.erase(client) > 0 && !impl->realtimeClients.empty()) announceWantedCameras();
        delete client;
        delete connection.socket;
    }
}

void RyStoreMultiClientHandlerBase::distributeFrame(const RyStoreProtocol::AbstractGlobFrame& frame,
                                                   const RyStoreProtocol::Timecode& timecode,
                                                   const RyStoreProtocol::MaskInfo& masks) {
    // Clients that see the frame the same way get the same bytes, encoded once.
    std::map<FrameView, std::vector<uint8_t>> encoded;
    for (Client* client : impl->clients) {
        RyStoreProtocol::RealtimeProtocol* protocol = streamingProtocol(*client);
        if (protocol == nullptr) continue;
        if (protocol->isReady()) {
            FrameView view = viewOf(*client, *protocol);
            auto found = encoded.find(view);
            if (found == encoded.end()) {
                RyStoreProtocol::ClientGlobs globs(frame, client->cameras());
                RyStoreProtocol::ClientMaskInfo clientMasks(masks, client->cameras());
                std::vector<uint8_t> bytes = RyStoreProtocol::encodeRealtimeFrame(
                    globs, timecode, clientMasks, view.compact, view.timecodes, view.tagged);
                found = encoded.emplace(std::move(view), std::move(bytes)).first;
            }
            if (!protocol->sendEncodedFrame(found->second.data(), found->second.size())) {
                fy::diagnostic("sendGlobs failed\n");
                client->process();
            }
        } else if (protocol->isWaitingForFirstFrame()) {
            impl->realtimeActive = true;
            protocol->sendReady();
        }
    }
    removeFinishedSessions();
    stopRealtimeIfIdle();
    if (!impl->clients.empty()) process();
}

void RyStoreMultiClientHandlerBase::rateChanged(RyStoreProtocol::RateKind kind, float value) {
    if (!RyStoreProtocol::storeRateIfChanged(impl->config(), kind, value)) return;
    LuStr message = RyStoreProtocol::rateMessage(kind, value);
    for (Client* client : impl->clients) {
        RyStoreProtocol::RealtimeProtocol* protocol = streamingProtocol(*client);
        if (protocol == nullptr || !protocol->monitorEnabled(kind)) continue;
        SendMessageToClientFunction send(*client);
        send.send(message);
    }
}

void RyStoreMultiClientHandlerBase::broadcastRectangularMasks(
    const LuDArray<LuNullable<LuDArray<RyRectangularMask>>>& table) {
    for (Client* client : impl->clients) {
        RyStoreProtocol::RealtimeProtocol* protocol = streamingProtocol(*client);
        if (protocol == nullptr || !protocol->monitorEnabled(RyStoreProtocol::rectangularMasksMonitor)) continue;
        SendMessageToClientFunction send(*client);
        send.send(RyStoreProtocol::rectangularMasksMessage(table, client->cameras()));
    }
}

void RyStoreMultiClientHandlerBase::announceSettingChanged(int camera, const LuStr& name, double value) {
    LuStr message = RyStoreProtocol::settingChangedMessage(name, RyStoreProtocol::narrowToFloat(value));
    for (Client* client : impl->clients) {
        RyStoreProtocol::RealtimeProtocol* protocol = streamingProtocol(*client);
        if (protocol == nullptr || !protocol->acceptsCameraMessages()) continue;
        SendMessageToClientFunction send(*client);
        RyStoreProtocol::sendCameraMessage(send, client->cameras(), camera, message);
    }
}

namespace {

// Counts one more or one fewer subscriber of a camera; true when the camera's first
// subscriber came or its last one left (the host is told only then).
bool countSubscription(std::map<int, int>& counts, int camera, bool on) {
    if (on) return ++counts[camera] == 1;
    auto found = counts.find(camera);
    // A release without a matching acquire would drive the count below zero; it changes
    // nothing the host has been told.
    if (found == counts.end()) return false;
    if (--found->second > 0) return false;
    counts.erase(found);
    return true;
}

}  // namespace

void RyStoreMultiClientHandlerBase::setFeatureCamera(int camera, bool on) {
    if (countSubscription(impl->featureCameraCounts, camera, on) && impl->liveFeatHandler != nullptr)
        impl->liveFeatHandler->setFeaturesWanted(camera, on);
}

void RyStoreMultiClientHandlerBase::setImageCamera(int camera, bool on) {
    if (countSubscription(impl->imageCameraCounts, camera, on) && impl->liveFeatHandler != nullptr)
        impl->liveFeatHandler->setImagesWanted(camera, on);
}

RyStoreMultiClientHandler::RyStoreMultiClientHandler(RyStoreConfigureHandlerBase& configure)
    : RyStoreMultiClientHandlerBase(configure) {}

void RyStoreMultiClientHandler::acceptConnections() {
    for (int descriptor : listening) {
        if (!listeningReadable(descriptor)) continue;
        int accepted = LuSocketAccept(descriptor);
        if (accepted >= 0) addClient(new RySystemSocket(accepted));
    }
}

void RyStoreMultiClientHandler::addListeningSocket(int descriptor) { listening.append(descriptor); }

void RyStoreMultiClientHandler::clearListeningSockets() { listening.clear(); }
