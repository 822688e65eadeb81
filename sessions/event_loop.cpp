#include "sessions/event_loop.h"

#include <algorithm>

#include "net/system_socket.h"
#include "sessions/client.h"

using Client = SessionEventLoop::Client;

namespace {

// Sessions are served and removed in the order of the client set.
void sortByClient(std::vector<SessionConnection*>& records) {
    std::sort(records.begin(), records.end(), [](const SessionConnection* a, const SessionConnection* b) {
        return std::less<Client*>()(a->client, b->client);
    });
}

}  // namespace

SessionEventLoop::~SessionEventLoop() {
    for (auto& [client, record] : sessions) {
        RySocketInterface* socket = record.socket;
        delete client;
        if (socket->isOpen()) socket->close();
        delete socket;
    }
}

void SessionEventLoop::add(Client* client, RySocketInterface* socket) {
    SessionConnection& record = sessions[client];
    record.client = client;
    record.socket = socket;
    record.system = dynamic_cast<RySystemSocket*>(socket);
    readiness.watch(record);
    markDue(record);
}

// ---- one turn

bool SessionEventLoop::checkReadiness() {
    // The sessions of quiet connections are not even looked at.
    for (SessionConnection* record : readiness.check()) markDue(*record);
    return !due.empty() || readiness.anyListenerReadable();
}

void SessionEventLoop::serveDue(const std::function<void(Client&)>& serve) {
    // Sessions are only removed after this and only added after it, so the records stay valid
    // throughout.
    serving.swap(due);
    for (SessionConnection* record : serving) record->due = false;
    sortByClient(serving);
    // Every read happens before any session is served, as with one poll over all of them.
    for (SessionConnection* record : serving) {
        bool readable = record->readable;
        record->readable = false;
        if (!record->client->isAlive()) continue;  // removed by the next removal
        // A connection the set does not watch (a test socket, or one known to be broken) is
        // drained on every turn: that costs no wait and lets its session see the end.
        if (readable || !ReadinessSet::isWatchable(*record)) record->client->socket().drainInput();
    }
    for (SessionConnection* record : serving) {
        serve(*record->client);
        if (needsService(*record)) markDue(*record);
    }
    serving.clear();
}

void SessionEventLoop::removeFinished(const std::function<void(Client&)>& removing) {
    // A session ends only while it is served, after which it is queued, as is a session that
    // was born ended; so the queue holds every finished session.
    sortByClient(due);
    size_t kept = 0;
    // By index: a host called back from `removing` may queue more sessions.
    for (size_t i = 0; i < due.size(); ++i) {
        SessionConnection* record = due[i];
        Client* client = record->client;
        if (client->isAlive()) {
            due[kept++] = record;
            continue;
        }
        RySocketInterface* socket = record->socket;
        readiness.unwatch(*record);
        sessions.erase(client);
        if (socket->isOpen()) socket->close();
        removing(*client);
        delete client;
        delete socket;
    }
    due.resize(kept);
}

// ---- the queue

void SessionEventLoop::markDue(SessionConnection& record) {
    if (record.due) return;
    record.due = true;
    due.push_back(&record);
}

bool SessionEventLoop::needsService(SessionConnection& record) {
    Client& client = *record.client;
    if (!client.isAlive() || !ReadinessSet::isWatchable(record)) return true;
    NonBlockingSocket& socket = client.socket();
    // Unread bytes (a partial item, say) or the peer's close; output the writer still holds
    // goes out, or times out, only while the session is served.
    if (socket.input().hasInput() || socket.writer().pendingBytes() > 0) return true;
    return !client.waitsForClient();
}
