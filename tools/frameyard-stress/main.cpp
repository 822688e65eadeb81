// frameyard-stress: steady realtime clients and abusive ones against a frameyard server on this
// machine, for a bounded time; one summary line per kind, and a failing exit status when a
// steady client lost a frame or was cut off.
#include <arpa/inet.h>
#include <netdb.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <frameyard/client.h>

#include "tools/frameyard-stress/abusers.h"
#include "tools/frameyard-stress/steady_client.h"
#include "tools/frameyard-stress/stress_options.h"

namespace {

using stress::KindStats;
using stress::Peer;

double monotonicSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The server's address; only the loopback range is ever a target.
sockaddr_in loopbackAddress(const stress::Options& options) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(options.host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        throw frameyard::Error("cannot resolve '" + options.host + "'");
    sockaddr_in address{};
    std::memcpy(&address, found->ai_addr, sizeof address);
    freeaddrinfo(found);
    if ((ntohl(address.sin_addr.s_addr) >> 24) != 127)
        throw frameyard::Error("'" + options.host + "' is not a loopback address; this tool loads only this machine");
    address.sin_port = htons(static_cast<uint16_t>(options.port));
    return address;
}

void raiseDescriptorLimit(long wanted) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= static_cast<rlim_t>(wanted)) return;
    limit.rlim_cur = std::min<rlim_t>(static_cast<rlim_t>(wanted), limit.rlim_max);
    setrlimit(RLIMIT_NOFILE, &limit);
}

// Every peer's connection in one readiness set.
class Loop {
public:
    Loop() : set_(epoll_create1(EPOLL_CLOEXEC)) {
        if (set_ < 0) throw frameyard::Error(std::string("epoll_create1: ") + std::strerror(errno));
    }
    ~Loop() { ::close(set_); }

    void add(Peer* peer) { slots_.push_back(Slot{peer}); }

    void run(double seconds) {
        double start = monotonicSeconds();
        for (size_t i = 0; i < slots_.size(); ++i) {
            slots_[i].peer->start(0);
            sync(i);
        }
        std::vector<epoll_event> events(slots_.size() + 1);
        double nextTick = 0;
        for (;;) {
            double now = monotonicSeconds() - start;
            if (now >= seconds) break;
            int count = epoll_wait(set_, events.data(), static_cast<int>(events.size()), 1);
            now = monotonicSeconds() - start;
            for (int e = 0; e < count; ++e) handle(events[static_cast<size_t>(e)], now);
            if (now >= nextTick) {
                nextTick = now + 0.002;
                for (size_t i = 0; i < slots_.size(); ++i) tickOne(i, now);
            }
        }
    }

private:
    struct Slot {
        Peer* peer;
        uint64_t generation = 0;
        bool watched = false;
        uint32_t events = 0;
    };

    void handle(const epoll_event& event, double now) {
        size_t i = static_cast<size_t>(event.data.u64);
        Peer& peer = *slots_[i].peer;
        uint64_t generation = peer.generation();
        if (event.events & EPOLLOUT) peer.writable(now);
        if (peer.generation() == generation && (event.events & EPOLLIN)) peer.readable(now);
        if (peer.generation() == generation && peer.fd() >= 0 && (event.events & (EPOLLERR | EPOLLHUP)) &&
            !(event.events & EPOLLIN))
            peer.failed(now);
        sync(i);
    }

    void tickOne(size_t i, double now) {
        Peer& peer = *slots_[i].peer;
        if (peer.fd() < 0 && peer.restartAt() >= 0 && now >= peer.restartAt()) peer.start(now);
        peer.tick(now);
        sync(i);
    }

    // Brings the readiness set up to date with the peer's connection and interest.
    void sync(size_t i) {
        Slot& slot = slots_[i];
        Peer& peer = *slot.peer;
        bool same = slot.watched && slot.generation == peer.generation();
        if (peer.fd() < 0) {
            slot.watched = false;  // closing took it out of the set
            return;
        }
        uint32_t events = peer.interest();
        if (same && events == slot.events) return;
        epoll_event event{};
        event.events = events;
        event.data.u64 = i;
        epoll_ctl(set_, same ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, peer.fd(), &event);
        slot.watched = true;
        slot.generation = peer.generation();
        slot.events = events;
    }

    int set_;
    std::vector<Slot> slots_;
};

double ms(double seconds) { return seconds * 1000.0; }

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    try {
        bool help = false;
        stress::Options options = stress::parseOptions(argc, argv, help);
        if (help) {
            std::fputs(stress::kUsage, stdout);
            return 0;
        }
        sockaddr_in server = loopbackAddress(options);
        raiseDescriptorLimit(options.steady + options.abusive + 64L);

        stress::SteadySettings settings;
        settings.format.compact = options.compact;
        settings.format.timecodes = options.timecodes;
        settings.format.tagged = options.tagged;
        settings.fps = options.fps;
        settings.clockTimecodes = options.clockTimecodes;
        if (options.steady > 0) {
            frameyard::Endpoint endpoint{options.host, options.port, 5000};
            settings.format.cameras = frameyard::Host(endpoint).thresholds().size();
        }

        Loop loop;
        KindStats steadyStats;
        stress::LatencyHistogram latencies;
        std::vector<std::unique_ptr<stress::SteadyClient>> steady;
        for (int i = 0; i < options.steady; ++i) {
            steady.push_back(std::make_unique<stress::SteadyClient>(server, steadyStats, settings, latencies));
            loop.add(steady.back().get());
        }
        std::vector<KindStats> kindStats(options.kinds.size());
        std::vector<std::unique_ptr<Peer>> abusers;
        for (int i = 0; i < options.abusive; ++i) {
            size_t k = static_cast<size_t>(i) % options.kinds.size();
            ++kindStats[k].clients;
            abusers.push_back(stress::makeAbuser(options.kinds[k], server, kindStats[k], static_cast<unsigned>(i)));
            loop.add(abusers.back().get());
        }

        loop.run(options.seconds);

        uint64_t expected = 0, received = 0, lost = 0, disordered = 0, streaming = 0;
        // How long the last steady client waited for its first frame (a connection storm's
        // figure: every client connects at once).
        double allStreaming = 0;
        for (const auto& client : steady) {
            allStreaming = client->firstFrameAt() < 0 ? options.seconds : std::max(allStreaming, client->firstFrameAt());
            expected += client->sequence().expected();
            received += client->sequence().received();
            lost += client->sequence().lost();
            disordered += client->sequence().disordered();
            if (client->streaming()) ++streaming;
        }
        std::printf("steady: clients %d, streaming at the end %llu, frames expected %llu, received %llu, lost %llu, "
                    "out of order %llu, every client's first frame within %.3f s, ",
                    options.steady, static_cast<unsigned long long>(streaming),
                    static_cast<unsigned long long>(expected), static_cast<unsigned long long>(received),
                    static_cast<unsigned long long>(lost), static_cast<unsigned long long>(disordered), allStreaming);
        if (options.clockTimecodes && latencies.count() > 0)
            std::printf("latency p50 %.2f ms, p99 %.2f ms, max %.2f ms, ", ms(latencies.quantile(0.5)),
                        ms(latencies.quantile(0.99)), ms(latencies.max()));
        else
            std::printf("latency not measured, ");
        std::printf("cut off %llu, connections refused %llu\n", static_cast<unsigned long long>(steadyStats.cutOff),
                    static_cast<unsigned long long>(steadyStats.refused));
        for (size_t k = 0; k < options.kinds.size(); ++k) {
            const KindStats& s = kindStats[k];
            if (s.clients == 0) continue;
            std::printf("%s: clients %llu, connections %llu, refused %llu, cut off %llu, %s %llu, bytes sent %llu, "
                        "received %llu\n",
                        stress::kindName(options.kinds[k]), static_cast<unsigned long long>(s.clients),
                        static_cast<unsigned long long>(s.connections), static_cast<unsigned long long>(s.refused),
                        static_cast<unsigned long long>(s.cutOff), stress::successLabel(options.kinds[k]),
                        static_cast<unsigned long long>(s.answered), static_cast<unsigned long long>(s.bytesSent),
                        static_cast<unsigned long long>(s.bytesReceived));
        }
        for (const auto& client : steady) {
            if (!client->failure().empty()) {
                std::fprintf(stderr, "frameyard-stress: a steady client stopped: %s\n", client->failure().c_str());
                break;
            }
        }
        bool steadyFailed = lost > 0 || disordered > 0 || steadyStats.cutOff > 0 || steadyStats.refused > 0 ||
                            streaming < static_cast<uint64_t>(options.steady);
        return steadyFailed ? 1 : 0;
    } catch (const frameyard::Error& error) {
        std::fprintf(stderr, "frameyard-stress: %s\n", error.what());
        return 2;
    }
}
