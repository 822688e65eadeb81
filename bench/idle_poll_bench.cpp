// What one idle checkForEvent() costs with 0, 100 and 1000 connected clients that send
// nothing, measured beside the same number of zero-time-out select() calls, one per session
// descriptor, on the very sockets the server holds (the way one readiness test per session
// would poll them). After the timing an idle client must still get an answer. The clients' own
// descriptors are moved above 2048 so that the server's ends stay below FD_SETSIZE, where
// select() can still be used at all. The floor beside them is one zero-time-out epoll_wait()
// over every session descriptor.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/test_client.h"
#include "tests/test_host.h"

namespace {

constexpr int clientDescriptorBase = 2048;

bool isAcceptedSocket(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode)) return false;
    int listening = 0;
    socklen_t length = sizeof listening;
    return ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) == 0 && listening == 0;
}

// A listening server with n idle clients, all accepted.
class Rig {
public:
    explicit Rig(int n) : clients(n) {
        port = freeLoopbackPort();
        host.setListenPort(port);
        ok = port > 0 && host.startListening();
        for (int i = 0; ok && i < n; ++i) ok = connectOne();
        if (!ok) return;
        for (int fd = 0; fd < clientDescriptorBase; ++fd)
            if (isAcceptedSocket(fd)) sessionDescriptors.push_back(fd);
        ok = static_cast<int>(sessionDescriptors.size()) == n && static_cast<int>(host.clientCount()) == n;
    }
    ~Rig() {
        for (int fd : clientDescriptors) ::close(fd);
        // Let the server see the clients go before it is destroyed.
        for (int i = 0; i < 100 && host.clientCount() > 0; ++i) host.checkForEvent();
    }

    bool connectOne() {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
        int high = ::fcntl(fd, F_DUPFD, clientDescriptorBase);
        ::close(fd);
        if (high < 0) return false;
        clientDescriptors.push_back(high);
        unsigned int before = host.clientCount();
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (host.clientCount() == before && std::chrono::steady_clock::now() < end) host.checkForEvent();
        return host.clientCount() == before + 1;
    }

    // A poll that is cheap because it overlooks idle sessions would measure well too: after the
    // timing, one idle client runs a command exchange and must get its answer.
    bool idleClientIsAnswered() {
        if (clientDescriptors.empty()) return true;
        int fd = clientDescriptors[clientDescriptors.size() / 2];
        static const char request[] = "C\0\0\0\x1a\"enable_realtime_messages\"";
        static const char expected[] = "\0\0\0\x04\"ok\"";
        const size_t requestSize = sizeof request - 1;
        const size_t expectedSize = sizeof expected - 1;
        if (::send(fd, request, requestSize, MSG_NOSIGNAL) != static_cast<ssize_t>(requestSize)) return false;
        std::string reply;
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (reply.size() < expectedSize && std::chrono::steady_clock::now() < end) {
            host.checkForEvent();
            char buffer[64];
            ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) reply.append(buffer, static_cast<size_t>(n));
        }
        return reply == std::string(expected, expectedSize);
    }

    TestHost host;
    int clients;
    int port = -1;
    bool ok = false;
    std::vector<int> clientDescriptors;
    std::vector<int> sessionDescriptors;
};

std::unique_ptr<Rig> rig;

Rig* rigFor(int n) {
    if (!rig || rig->clients != n) {
        rig.reset();
        rig.reset(new Rig(n));
    }
    return rig->ok ? rig.get() : nullptr;
}

void idleCheckForEvent(benchmark::State& state) {
    Rig* r = rigFor(static_cast<int>(state.range(0)));
    if (!r) {
        state.SkipWithError("could not connect the clients");
        return;
    }
    for (auto _ : state) r->host.checkForEvent();
    state.counters["clients"] = static_cast<double>(r->host.clientCount());
    if (!r->idleClientIsAnswered()) state.SkipWithError("an idle client got no answer");
}

void selectPerSession(benchmark::State& state) {
    Rig* r = rigFor(static_cast<int>(state.range(0)));
    if (!r) {
        state.SkipWithError("could not connect the clients");
        return;
    }
    int ready = 0;
    for (auto _ : state) {
        for (int fd : r->sessionDescriptors) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(fd, &set);
            timeval zero{0, 0};
            ready += ::select(fd + 1, &set, nullptr, nullptr, &zero);
        }
    }
    benchmark::DoNotOptimize(ready);
    state.counters["clients"] = static_cast<double>(r->sessionDescriptors.size());
}

// The floor of any design that asks the kernel about every session with one poll() per
// checkForEvent(): the system call alone, over the same descriptors.
void onePollOverAllSessions(benchmark::State& state) {
    Rig* r = rigFor(static_cast<int>(state.range(0)));
    if (!r) {
        state.SkipWithError("could not connect the clients");
        return;
    }
    std::vector<pollfd> set;
    for (int fd : r->sessionDescriptors) set.push_back(pollfd{fd, POLLIN, 0});
    int ready = 0;
    for (auto _ : state) ready += ::poll(set.data(), set.size(), 0);
    benchmark::DoNotOptimize(ready);
    state.counters["clients"] = static_cast<double>(set.size());
}

// What the server's own design comes down to when nothing happens: one zero-time-out
// epoll_wait() on a set that holds every session descriptor.
void bareEpollWait(benchmark::State& state) {
    Rig* r = rigFor(static_cast<int>(state.range(0)));
    if (!r) {
        state.SkipWithError("could not connect the clients");
        return;
    }
    int poller = ::epoll_create1(EPOLL_CLOEXEC);
    for (int fd : r->sessionDescriptors) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        ::epoll_ctl(poller, EPOLL_CTL_ADD, fd, &event);
    }
    epoll_event events[64];
    int ready = 0;
    for (auto _ : state) ready += ::epoll_wait(poller, events, 64, 0);
    ::close(poller);
    benchmark::DoNotOptimize(ready);
    state.counters["clients"] = static_cast<double>(r->sessionDescriptors.size());
}

}  // namespace

int main(int argc, char** argv) {
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < 4096 && limit.rlim_max >= 4096) {
        limit.rlim_cur = 4096;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    // Side by side for each client count, so both see the same sockets.
    for (int n : {0, 100, 1000}) {
        benchmark::RegisterBenchmark("idle_checkForEvent", idleCheckForEvent)->Arg(n)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("select_per_session", selectPerSession)->Arg(n)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("one_poll_over_sessions", onePollOverAllSessions)
            ->Arg(n)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("bare_epoll_wait", bareEpollWait)->Arg(n)->Unit(benchmark::kMicrosecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    rig.reset();
    return 0;
}
