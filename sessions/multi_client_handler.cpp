#include "sessions/multi_client_handler.h"

#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <functional>
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

using Connection = RyStoreMultiClientHandlerBase::Impl::Connection;

// Readiness reports name the descriptor; listening ones carry this bit as well, so that a
// report can never pass a client connection off as a listener or the other way round.
constexpr uint64_t listenerTag = uint64_t{1} << 32;

int pollOnce(std::vector<pollfd>& set) {
    if (set.empty()) return 0;
    for (int attempt = 0; attempt < 8; ++attempt) {
        int result = ::poll(set.data(), static_cast<nfds_t>(set.size()), 0);
        if (result >= 0 || errno != EINTR) return result;
    }
    return 0;
}

int waitOnce(int readiness, std::vector<epoll_event>& events) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        int result = ::epoll_wait(readiness, events.data(), static_cast<int>(events.size()), 0);
        if (result >= 0 || errno != EINTR) return result;
    }
    return 0;
}

void makeRoomForReports(RyStoreMultiClientHandlerBase::Impl& impl) {
    if (impl.events.size() < impl.watchedCount) impl.events.resize(impl.watchedCount);
}

// Whether the watched descriptor is still this connection's own. An aborted or closed one is
// not: its close took it out of the readiness set, and its number may be another socket's now.
bool ownsWatchedDescriptor(const Connection& record) {
    if (record.watched < 0) return false;
    const RySystemSocket& system = *record.system;
    return system.isOpen() && !system.isAborted() && system.descriptor() == record.watched;
}

// Whether the readiness set may still be asked about the session's connection. A broken one
// is not: its session learns of the end by draining.
bool isWatchable(Connection& record) {
    return ownsWatchedDescriptor(record) && !record.system->modeFailed() && !record.client->socket().outputFailed();
}

void watch(RyStoreMultiClientHandlerBase::Impl& impl, Connection& record) {
    RySystemSocket* system = record.system;
    if (impl.readiness < 0 || system == nullptr || !record.client->isAlive()) return;
    if (!system->isOpen() || system->isAborted() || system->modeFailed()) return;
    int descriptor = system->descriptor();
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP;
    event.data.u64 = static_cast<uint32_t>(descriptor);
    if (::epoll_ctl(impl.readiness, EPOLL_CTL_ADD, descriptor, &event) != 0) {
        // The session still works, drained on every poll like any unwatched connection.
        fy::diagnosticErrno("epoll_ctl");
        return;
    }
    size_t slot = static_cast<size_t>(descriptor);
    if (slot >= impl.byDescriptor.size()) impl.byDescriptor.resize(slot + 1, nullptr);
    impl.byDescriptor[slot] = &record;
    record.watched = descriptor;
    ++impl.watchedCount;
    makeRoomForReports(impl);
}

// Before the connection is closed. A descriptor that was closed already (aborted, or closed by
// its protocol) may belong to a newer connection by now, which must stay watched.
void unwatch(RyStoreMultiClientHandlerBase::Impl& impl, Connection& record) {
    if (record.watched < 0) return;
    size_t slot = static_cast<size_t>(record.watched);
    if (slot < impl.byDescriptor.size() && impl.byDescriptor[slot] == &record) impl.byDescriptor[slot] = nullptr;
    if (ownsWatchedDescriptor(record)) ::epoll_ctl(impl.readiness, EPOLL_CTL_DEL, record.watched, nullptr);
    record.watched = -1;
    --impl.watchedCount;
}

// Whether the session does nothing until its client sends something, so that serving it while
// its connection is quiet changes nothing. Anything else is served on every poll.
bool waitsForClient(Client& client) {
    switch (client.state()) {
    case Client::waiting_for_command:
    case Client::waiting_for_client_config:
    case Client::waiting_for_client_to_close:
    case Client::waiting_for_available_cameras: return true;
    case Client::running_realtime_protocol: {
        // A protocol waiting for the first frame must be seen by every poll: that is what
        // starts the host's frames.
        RyStoreProtocol::RealtimeProtocol* protocol = client.realtimeProtocol();
        return protocol != nullptr && protocol->isAlive() && !protocol->isWaitingForFirstFrame();
    }
    case Client::configure:
    case Client::running_livefeat_protocol:
    case Client::running_acquire_protocol:
    case Client::configure_get:
    case Client::exited: return false;
    }
    return false;
}

bool needsService(Connection& record) {
    Client& client = *record.client;
    if (!client.isAlive() || !isWatchable(record)) return true;
    NonBlockingSocket& socket = client.socket();
    // Unread bytes (a partial item, say) or the peer's close; output the writer still holds
    // goes out, or times out, only while the session is served.
    if (socket.input().hasInput() || socket.writer().pendingBytes() > 0) return true;
    return !waitsForClient(client);
}

void markDue(RyStoreMultiClientHandlerBase::Impl& impl, Connection& record) {
    if (record.due) return;
    record.due = true;
    impl.due.push_back(&record);
}

// Sessions are served and removed in the order of the client set.
void sortByClient(std::vector<Connection*>& records) {
    std::sort(records.begin(), records.end(),
              [](const Connection* a, const Connection* b) { return std::less<Client*>()(a->client, b->client); });
}

}  // namespace

RyStoreProtocol::AbstractConfig& RyStoreMultiClientHandlerBase::Impl::config() { return configureHandler->config(); }

RyStoreMultiClientHandlerBase::RyStoreMultiClientHandlerBase(RyStoreConfigureHandlerBase& configure)
    : impl(std::make_unique<Impl>()) {
    impl->owner = this;
    impl->configureHandler = &configure;
    impl->readiness = ::epoll_create1(EPOLL_CLOEXEC);
    // Without the set every session is drained and served on every poll: slower, still right.
    if (impl->readiness < 0) fy::diagnosticErrno("epoll_create1");
}

RyStoreMultiClientHandlerBase::~RyStoreMultiClientHandlerBase() {
    for (Client* client : impl->clients) {
        Impl::Connection connection = impl->connections[client];
        delete client;
        if (connection.socket->isOpen()) connection.socket->close();
        delete connection.socket;
    }
    if (impl->readiness >= 0) ::close(impl->readiness);
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
    Client* client = new Client(*socket, *impl, clock());
    Impl::Connection& record = impl->connections[client];
    record.client = client;
    record.socket = socket;
    record.system = dynamic_cast<RySystemSocket*>(socket);
    impl->clients.insert(client);
    watch(*impl, record);
    // Whatever its connection does, a new session is served by the next poll.
    markDue(*impl, record);
}

void RyStoreMultiClientHandlerBase::process() {
    pollConnections();
    serveSessions();
    removeFinishedSessions();
    stopRealtimeIfIdle();
    acceptConnections();
    impl->readableListeners.clear();
}

void RyStoreMultiClientHandlerBase::noteServiceNeeded(Client& client) {
    auto found = impl->connections.find(&client);
    if (found != impl->connections.end() && needsService(found->second)) markDue(*impl, found->second);
}

void RyStoreMultiClientHandlerBase::listeningDescriptorsChanged() {
    const LuDArray<int>& now = listeningDescriptors();
    std::vector<Impl::Listener>& listeners = impl->listeners;
    bool same = listeners.size() == static_cast<size_t>(now.getSize());
    for (size_t i = 0; same && i < listeners.size(); ++i) same = listeners[i].descriptor == now[static_cast<int>(i)];
    if (same) return;

    for (const Impl::Listener& listener : listeners) {
        if (!listener.watched) continue;
        // A number that went to a client connection meanwhile is that connection's now.
        size_t slot = static_cast<size_t>(listener.descriptor);
        const Impl::Connection* owner = slot < impl->byDescriptor.size() ? impl->byDescriptor[slot] : nullptr;
        if (owner != nullptr && ownsWatchedDescriptor(*owner)) continue;
        ::epoll_ctl(impl->readiness, EPOLL_CTL_DEL, listener.descriptor, nullptr);
    }
    impl->watchedCount -= static_cast<size_t>(
        std::count_if(listeners.begin(), listeners.end(), [](const Impl::Listener& l) { return l.watched; }));
    listeners.clear();
    impl->unwatchedListeners.clear();

    for (int descriptor : now) {
        bool listed = std::any_of(listeners.begin(), listeners.end(),
                                  [&](const Impl::Listener& l) { return l.descriptor == descriptor; });
        bool watched = false;
        if (!listed && impl->readiness >= 0) {
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.u64 = listenerTag | static_cast<uint32_t>(descriptor);
            watched = ::epoll_ctl(impl->readiness, EPOLL_CTL_ADD, descriptor, &event) == 0;
        }
        // Listed twice, a descriptor is watched once; a refused one is tested with poll() as
        // before (a descriptor that is not open is then simply never readable).
        if (!listed && !watched) impl->unwatchedListeners.push_back(pollfd{descriptor, POLLIN, 0});
        listeners.push_back(Impl::Listener{descriptor, watched});
        if (watched) ++impl->watchedCount;
    }
    makeRoomForReports(*impl);
}

void RyStoreMultiClientHandlerBase::pollConnections() {
    listeningDescriptorsChanged();
    // One call learns which connections and listening sockets have something to read; the
    // sessions of quiet connections are not even looked at.
    if (impl->watchedCount > 0) {
        int count = waitOnce(impl->readiness, impl->events);
        if (count < 0) fy::diagnosticErrno("epoll_wait");
        for (int i = 0; i < count; ++i) {
            uint64_t key = impl->events[static_cast<size_t>(i)].data.u64;
            int descriptor = static_cast<int>(static_cast<uint32_t>(key));
            if (key & listenerTag) {
                if (impl->events[static_cast<size_t>(i)].events & EPOLLIN)
                    impl->readableListeners.push_back(descriptor);
                continue;
            }
            // Data, the peer hanging up, or an error to collect: all call for a read.
            size_t slot = static_cast<size_t>(descriptor);
            Impl::Connection* record = slot < impl->byDescriptor.size() ? impl->byDescriptor[slot] : nullptr;
            if (record == nullptr) continue;
            record->readable = true;
            markDue(*impl, *record);
        }
    }
    if (pollOnce(impl->unwatchedListeners) > 0) {
        for (const pollfd& listener : impl->unwatchedListeners)
            if (listener.revents & POLLIN) impl->readableListeners.push_back(listener.fd);
    }
}

bool RyStoreMultiClientHandlerBase::listeningReadable(int descriptor) const {
    const std::vector<int>& ready = impl->readableListeners;
    return std::find(ready.begin(), ready.end(), descriptor) != ready.end();
}

void RyStoreMultiClientHandlerBase::serveSessions() {
    // Sessions are only removed after this loop and only added after it, so the records stay
    // valid throughout; a session queued while others are served is served by the next poll.
    std::vector<Impl::Connection*>& serving = impl->serving;
    serving.swap(impl->due);
    for (Impl::Connection* record : serving) record->due = false;
    sortByClient(serving);
    // Every read happens before any session is served, as with one poll over all of them.
    for (Impl::Connection* record : serving) {
        bool readable = record->readable;
        record->readable = false;
        if (!record->client->isAlive()) continue;  // removed in this poll's removal pass
        // A connection the set does not watch (a test socket, or one known to be broken) is
        // drained on every poll: that costs no wait and lets its session see the end.
        if (readable || !isWatchable(*record)) record->client->socket().drainInput();
    }
    for (Impl::Connection* record : serving) {
        serve(*record->client);
        if (needsService(*record)) markDue(*impl, *record);
    }
    serving.clear();
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
    // A session ends only while it is processed, after which it is queued, as is a session that
    // was born ended; so the queue holds every finished session.
    std::vector<Impl::Connection*>& due = impl->due;
    sortByClient(due);
    size_t kept = 0;
    // By index: a host called back from here may queue more sessions.
    for (size_t i = 0; i < due.size(); ++i) {
        Impl::Connection* record = due[i];
        Client* client = record->client;
        if (client->isAlive()) {
            due[kept++] = record;
            continue;
        }
        impl->clients.erase(client);
        RySocketInterface* socket = record->socket;
        unwatch(*impl, *record);
        impl->connections.erase(client);
        if (socket->isOpen()) socket->close();
        if (impl->realtimeClients.erase(client) > 0 && !impl->realtimeClients.empty()) announceWantedCameras();
        delete client;
        delete socket;
    }
    due.resize(kept);
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
            if (!protocol->sendEncodedFrame(found->second)) {
                fy::diagnostic("sendGlobs failed\n");
                client->process();
            }
            noteServiceNeeded(*client);
        } else if (protocol->isWaitingForFirstFrame()) {
            impl->realtimeActive = true;
            protocol->sendReady();
            noteServiceNeeded(*client);
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
        noteServiceNeeded(*client);
    }
}

void RyStoreMultiClientHandlerBase::broadcastRectangularMasks(
    const LuDArray<LuNullable<LuDArray<RyRectangularMask>>>& table) {
    for (Client* client : impl->clients) {
        RyStoreProtocol::RealtimeProtocol* protocol = streamingProtocol(*client);
        if (protocol == nullptr || !protocol->monitorEnabled(RyStoreProtocol::rectangularMasksMonitor)) continue;
        SendMessageToClientFunction send(*client);
        send.send(RyStoreProtocol::rectangularMasksMessage(table, client->cameras()));
        noteServiceNeeded(*client);
    }
}

void RyStoreMultiClientHandlerBase::announceSettingChanged(int camera, const LuStr& name, double value) {
    LuStr message = RyStoreProtocol::settingChangedMessage(name, RyStoreProtocol::narrowToFloat(value));
    for (Client* client : impl->clients) {
        RyStoreProtocol::RealtimeProtocol* protocol = streamingProtocol(*client);
        if (protocol == nullptr || !protocol->acceptsCameraMessages()) continue;
        SendMessageToClientFunction send(*client);
        RyStoreProtocol::sendCameraMessage(send, client->cameras(), camera, message);
        noteServiceNeeded(*client);
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
        acceptor.acceptPending(descriptor, [this](int accepted) { addClient(new RySystemSocket(accepted)); });
    }
}

void RyStoreMultiClientHandler::addListeningSocket(int descriptor) {
    listening.append(descriptor);
    listeningDescriptorsChanged();
}

void RyStoreMultiClientHandler::clearListeningSockets() {
    listening.clear();
    listeningDescriptorsChanged();
}
