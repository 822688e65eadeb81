#include "sessions/readiness_set.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "net/system_socket.h"
#include "sessions/client.h"
#include "toolkit/diagnostics.h"

namespace {

// Reports name the descriptor; listening ones carry this bit as well, so that a report can
// never pass a client connection off as a listener or the other way round.
constexpr uint64_t listenerTag = uint64_t{1} << 32;

int pollOnce(std::vector<pollfd>& set) {
    if (set.empty()) return 0;
    for (int attempt = 0; attempt < 8; ++attempt) {
        int result = ::poll(set.data(), static_cast<nfds_t>(set.size()), 0);
        if (result >= 0 || errno != EINTR) return result;
    }
    return 0;
}

int waitOnce(int set, std::vector<epoll_event>& events) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        int result = ::epoll_wait(set, events.data(), static_cast<int>(events.size()), 0);
        if (result >= 0 || errno != EINTR) return result;
    }
    return 0;
}

// Whether the watched descriptor is still this connection's own. An aborted or closed one is
// not: its close took it out of the set, and its number may be another socket's now.
bool ownsWatchedDescriptor(const SessionConnection& record) {
    if (record.watched < 0) return false;
    const RySystemSocket& system = *record.system;
    return system.isOpen() && !system.isAborted() && system.descriptor() == record.watched;
}

}  // namespace

ReadinessSet::ReadinessSet() : set(::epoll_create1(EPOLL_CLOEXEC)) {
    // Without the set every session is drained and served on every poll: slower, still right.
    if (set < 0) fy::diagnosticErrno("epoll_create1");
}

ReadinessSet::~ReadinessSet() {
    if (set >= 0) ::close(set);
}

bool ReadinessSet::ownsDescriptor(const SessionConnection& record) const { return ownsWatchedDescriptor(record); }

bool ReadinessSet::isWatchable(const SessionConnection& record) {
    return ownsWatchedDescriptor(record) && !record.system->modeFailed() && !record.client->socket().outputFailed();
}

void ReadinessSet::makeRoomForReports() {
    if (events.size() < watchedCount) events.resize(watchedCount);
}

void ReadinessSet::watch(SessionConnection& record) {
    RySystemSocket* system = record.system;
    if (set < 0 || system == nullptr || !record.client->isAlive()) return;
    if (!system->isOpen() || system->isAborted() || system->modeFailed()) return;
    int descriptor = system->descriptor();
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP;
    event.data.u64 = static_cast<uint32_t>(descriptor);
    if (::epoll_ctl(set, EPOLL_CTL_ADD, descriptor, &event) != 0) {
        // The session still works, drained on every poll like any unwatched connection.
        fy::diagnosticErrno("epoll_ctl");
        return;
    }
    size_t slot = static_cast<size_t>(descriptor);
    if (slot >= byDescriptor.size()) byDescriptor.resize(slot + 1, nullptr);
    byDescriptor[slot] = &record;
    record.watched = descriptor;
    ++watchedCount;
    makeRoomForReports();
}

// A descriptor that was closed already (aborted, or closed by its protocol) may belong to a
// newer connection by now, which must stay watched.
void ReadinessSet::unwatch(SessionConnection& record) {
    if (record.watched < 0) return;
    size_t slot = static_cast<size_t>(record.watched);
    if (slot < byDescriptor.size() && byDescriptor[slot] == &record) byDescriptor[slot] = nullptr;
    if (ownsDescriptor(record)) ::epoll_ctl(set, EPOLL_CTL_DEL, record.watched, nullptr);
    record.watched = -1;
    --watchedCount;
}

void ReadinessSet::setListeners(const LuDArray<int>& now) {
    bool same = listeners.size() == static_cast<size_t>(now.getSize());
    for (size_t i = 0; same && i < listeners.size(); ++i) same = listeners[i].descriptor == now[static_cast<int>(i)];
    if (same) return;

    for (const Listener& listener : listeners) {
        if (!listener.watched) continue;
        // A number that went to a client connection meanwhile is that connection's now.
        size_t slot = static_cast<size_t>(listener.descriptor);
        const SessionConnection* owner = slot < byDescriptor.size() ? byDescriptor[slot] : nullptr;
        if (owner != nullptr && ownsDescriptor(*owner)) continue;
        ::epoll_ctl(set, EPOLL_CTL_DEL, listener.descriptor, nullptr);
    }
    watchedCount -= static_cast<size_t>(
        std::count_if(listeners.begin(), listeners.end(), [](const Listener& l) { return l.watched; }));
    listeners.clear();
    unwatchedListeners.clear();

    for (int descriptor : now) {
        bool listed = std::any_of(listeners.begin(), listeners.end(),
                                  [&](const Listener& l) { return l.descriptor == descriptor; });
        bool watched = false;
        if (!listed && set >= 0) {
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.u64 = listenerTag | static_cast<uint32_t>(descriptor);
            watched = ::epoll_ctl(set, EPOLL_CTL_ADD, descriptor, &event) == 0;
        }
        // Listed twice, a descriptor is watched once; a refused one is tested with poll() as
        // before (a descriptor that is not open is then simply never readable).
        if (!listed && !watched) unwatchedListeners.push_back(pollfd{descriptor, POLLIN, 0});
        listeners.push_back(Listener{descriptor, watched});
        if (watched) ++watchedCount;
    }
    makeRoomForReports();
}

const std::vector<SessionConnection*>& ReadinessSet::check() {
    readableListeners.clear();
    readyConnections.clear();
    if (watchedCount > 0) {
        int count = waitOnce(set, events);
        if (count < 0) fy::diagnosticErrno("epoll_wait");
        for (int i = 0; i < count; ++i) {
            const epoll_event& event = events[static_cast<size_t>(i)];
            int descriptor = static_cast<int>(static_cast<uint32_t>(event.data.u64));
            if (event.data.u64 & listenerTag) {
                if (event.events & EPOLLIN) readableListeners.push_back(descriptor);
                continue;
            }
            // Data, the peer hanging up, or an error to collect: all call for a read.
            size_t slot = static_cast<size_t>(descriptor);
            SessionConnection* record = slot < byDescriptor.size() ? byDescriptor[slot] : nullptr;
            if (record == nullptr) continue;
            record->readable = true;
            readyConnections.push_back(record);
        }
    }
    if (pollOnce(unwatchedListeners) > 0) {
        for (const pollfd& listener : unwatchedListeners)
            if (listener.revents & POLLIN) readableListeners.push_back(listener.fd);
    }
    return readyConnections;
}

bool ReadinessSet::listenerReadable(int descriptor) const {
    return std::find(readableListeners.begin(), readableListeners.end(), descriptor) != readableListeners.end();
}
