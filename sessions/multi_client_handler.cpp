#include "sessions/multi_client_handler.h"

#include <algorithm>
#include <functional>

#include "net/network_address.h"
#include "net/socket_functions.h"
#include "net/system_socket.h"
#include "sessions/client.h"
#include "sessions/handler_record.h"
#include "sessions/mode_table.h"

using Client = RyStoreMultiClientHandlerBase::Client;

namespace {

// Sessions are served and removed in the order of the client set.
void sortByClient(std::vector<SessionConnection*>& records) {
    std::sort(records.begin(), records.end(), [](const SessionConnection* a, const SessionConnection* b) {
        return std::less<Client*>()(a->client, b->client);
    });
}

}  // namespace

// ---- lifecycle

RyStoreMultiClientHandlerBase::RyStoreMultiClientHandlerBase(RyStoreConfigureHandlerBase& configure,
                                                             const SessionModeTable& modes)
    : impl(std::make_unique<Impl>(configure, modes)) {}

RyStoreMultiClientHandlerBase::~RyStoreMultiClientHandlerBase() {
    for (Client* client : impl->clients) {
        SessionConnection connection = impl->connections[client];
        delete client;
        if (connection.socket->isOpen()) connection.socket->close();
        delete connection.socket;
    }
}

bool RyStoreMultiClientHandlerBase::isAlive() { return !impl->clients.empty(); }

const SessionModeTable& RyStoreMultiClientHandlerBase::modes() const { return impl->services.modes(); }

unsigned int RyStoreMultiClientHandlerBase::clientCount() const {
    return static_cast<unsigned int>(impl->clients.size());
}

bool RyStoreMultiClientHandlerBase::isRealtimeActive() const { return impl->services.realtimeActive(); }

void RyStoreMultiClientHandlerBase::setRealtimeHandler(RealtimeHandler* handler) {
    impl->services.setRealtimeHandler(handler);
    if (handler != nullptr && !impl->realtimeClients.empty()) announceWantedCameras();
}

void RyStoreMultiClientHandlerBase::setLiveFeatHandler(LiveFeatHandler* handler) {
    impl->services.setLiveFeatHandler(handler);
}

void RyStoreMultiClientHandlerBase::setAcquireHandler(AcquireHandler* handler) {
    impl->services.setAcquireHandler(handler);
}

void RyStoreMultiClientHandlerBase::setFeatureCamera(int camera, bool on) {
    impl->services.setFeatureCamera(camera, on);
}

void RyStoreMultiClientHandlerBase::setImageCamera(int camera, bool on) { impl->services.setImageCamera(camera, on); }

AccessPolicy& RyStoreMultiClientHandlerBase::accessPolicy() { return impl->services.access(); }

void RyStoreMultiClientHandlerBase::addClient(RySocketInterface* socket, bool mayChangeHost) {
    Client* client = new Client(*socket, impl->services, clock());
    if (!mayChangeHost) client->restrictToReading();
    SessionConnection& record = impl->connections[client];
    record.client = client;
    record.socket = socket;
    record.system = dynamic_cast<RySystemSocket*>(socket);
    impl->clients.insert(client);
    impl->readiness.watch(record);
    // Whatever its connection does, a new session is served by the next poll.
    markDue(record);
}

// ---- the event loop

void RyStoreMultiClientHandlerBase::process() {
    pollConnections();
    serveDueSessions();
    acceptConnections();
}

void RyStoreMultiClientHandlerBase::serveDueSessions() {
    serveSessions();
    removeFinishedSessions();
    stopRealtimeIfIdle();
}

void RyStoreMultiClientHandlerBase::pollConnections() {
    listeningDescriptorsChanged();
    // One check learns which connections and listening sockets have something to read; the
    // sessions of quiet connections are not even looked at.
    impl->readiness.check([this](SessionConnection& record) { markDue(record); });
}

void RyStoreMultiClientHandlerBase::serveSessions() {
    // Sessions are only removed after this loop and only added after it, so the records stay
    // valid throughout; a session queued while others are served is served by the next poll.
    std::vector<SessionConnection*>& serving = impl->serving;
    serving.swap(impl->due);
    for (SessionConnection* record : serving) record->due = false;
    sortByClient(serving);
    // Every read happens before any session is served, as with one poll over all of them.
    for (SessionConnection* record : serving) {
        bool readable = record->readable;
        record->readable = false;
        if (!record->client->isAlive()) continue;  // removed in this poll's removal pass
        // A connection the set does not watch (a test socket, or one known to be broken) is
        // drained on every poll: that costs no wait and lets its session see the end.
        if (readable || !ReadinessSet::isWatchable(*record)) record->client->socket().drainInput();
    }
    for (SessionConnection* record : serving) {
        serve(*record->client);
        if (needsService(*record)) markDue(*record);
    }
    serving.clear();
}

void RyStoreMultiClientHandlerBase::serve(Client& client) {
    if (!client.isAlive() || !admitRealtimeClient(client)) return;
    client.process();
    noteReadyRealtimeClient(client);
}

void RyStoreMultiClientHandlerBase::removeFinishedSessions() {
    // A session ends only while it is processed, after which it is queued, as is a session that
    // was born ended; so the queue holds every finished session.
    std::vector<SessionConnection*>& due = impl->due;
    sortByClient(due);
    size_t kept = 0;
    // By index: a host called back from here may queue more sessions.
    for (size_t i = 0; i < due.size(); ++i) {
        SessionConnection* record = due[i];
        Client* client = record->client;
        if (client->isAlive()) {
            due[kept++] = record;
            continue;
        }
        impl->clients.erase(client);
        RySocketInterface* socket = record->socket;
        impl->readiness.unwatch(*record);
        impl->connections.erase(client);
        if (socket->isOpen()) socket->close();
        if (impl->realtimeClients.erase(client) > 0 && !impl->realtimeClients.empty()) announceWantedCameras();
        delete client;
        delete socket;
    }
    due.resize(kept);
}

void RyStoreMultiClientHandlerBase::noteServiceNeeded(Client& client) {
    auto found = impl->connections.find(&client);
    if (found != impl->connections.end() && needsService(found->second)) markDue(found->second);
}

void RyStoreMultiClientHandlerBase::markDue(SessionConnection& record) {
    if (record.due) return;
    record.due = true;
    impl->due.push_back(&record);
}

bool RyStoreMultiClientHandlerBase::needsService(SessionConnection& record) {
    Client& client = *record.client;
    if (!client.isAlive() || !ReadinessSet::isWatchable(record)) return true;
    NonBlockingSocket& socket = client.socket();
    // Unread bytes (a partial item, say) or the peer's close; output the writer still holds
    // goes out, or times out, only while the session is served.
    if (socket.input().hasInput() || socket.writer().pendingBytes() > 0) return true;
    return !client.waitsForClient();
}

// ---- listening

void RyStoreMultiClientHandlerBase::listeningDescriptorsChanged() {
    impl->readiness.setListeners(listeningDescriptors());
}

bool RyStoreMultiClientHandlerBase::listeningReadable(int descriptor) const {
    return impl->readiness.listenerReadable(descriptor);
}

RyStoreMultiClientHandler::RyStoreMultiClientHandler(RyStoreConfigureHandlerBase& configure,
                                                     const SessionModeTable& modes)
    : RyStoreMultiClientHandlerBase(configure, modes) {}

void RyStoreMultiClientHandler::acceptConnections() {
    for (int descriptor : listening) {
        if (!listeningReadable(descriptor)) continue;
        acceptor.acceptPending(descriptor, [this](int accepted) { admit(accepted); });
    }
    accessPolicy().flush();
}

void RyStoreMultiClientHandler::admit(int descriptor) {
    LuNetworkAddress peer = LuNetworkAddress::peerOf(descriptor);
    AccessPolicy& access = accessPolicy();
    if (!access.admits(peer, clientCount())) {
        LuSocketClose(descriptor);
        return;
    }
    RySystemSocket* socket = new RySystemSocket(descriptor);
    socket->setSendFailureNotice(modes().diagnostics().failedSend);
    addClient(socket, access.controls(peer));
}

void RyStoreMultiClientHandler::addListeningSocket(int descriptor) {
    listening.append(descriptor);
    listeningDescriptorsChanged();
}

void RyStoreMultiClientHandler::clearListeningSockets() {
    listening.clear();
    listeningDescriptorsChanged();
}
