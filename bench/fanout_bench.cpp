// Realtime fan-out under load. A host frame of 8 cameras x 200 centroids goes to 1, 16, 64 and 256
// loopback clients, in the full and the compact centroid form, as fast as the slowest client
// takes frames (the host offers a new frame while fewer than `window` frames are unread by
// some client), and then paced at 500 frames/s to 16 clients. Beside every library run a
// baseline run writes the very same bytes to the same number of sockets with blocking send()
// and nothing else, read by the same reader: what this machine can move at all. The baseline
// runs twice: on connections that first carried the same opening exchange as the library's
// (the like-for-like limit), and on fresh ones.
//
// Latency runs from the moment the host hands a frame out (currentFrame(), or the baseline's
// send loop picking the frame up) to the moment a client has received the frame's last byte.
// The frame's sequence number rides in the timecode, one byte per component.
//
// Usage: fanout_bench [seconds per measured run, default 1] [only: "full", "compact", "paced"
// or "library" to skip the other runs, for profiling] [only this client count]. BENCH_ROUNDS in
// the environment sets the rounds per row (default 3).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "bench/stream_reader.h"
#include "frameyard/client/decoders.h"
#include "frameyard/client/error.h"
#include "tests/test_client.h"

namespace {

using bench::median;
using bench::nowNs;
using bench::percentile;
using bench::sendAll;
using bench::Stamps;

constexpr int cameras = 8;
constexpr int centroidsPerCamera = 200;
constexpr uint32_t window = 4;
constexpr uint32_t pacedWindow = 64;
constexpr double pacedRate = 500.0;
constexpr double warmUpSeconds = 0.3;

// How the producer (library host or baseline writer) decides that the next frame is due.
struct Pace {
    bool paced = false;
    uint32_t window = ::window;

    // Either as soon as every client has all but `window` frames, or every 1/500 s.
    bool due(uint32_t produced, uint32_t completed, int64_t& nextDue) const {
        if (produced - completed >= window) return false;
        if (!paced) return true;
        int64_t t = nowNs();
        if (t < nextDue) return false;
        nextDue += static_cast<int64_t>(1e9 / pacedRate);
        if (t - nextDue > 100'000'000) nextDue = t;  // fell far behind: do not burst to catch up
        return true;
    }
};

// The clients' frames: 't' and four timecode bytes (the sequence number), then per camera a
// u16 count and count centroids, read by the client library as any client reads them.
class Reader final : public bench::StreamReader {
public:
    Reader(const std::vector<int>& fds, bool compact, const Stamps& stamps)
        : StreamReader(fds, stamps, 1 << 18, 1, false), decoder(format(compact)) {}
    ~Reader() override { stop(); }

private:
    static frameyard::RealtimeFormat format(bool compact) {
        frameyard::RealtimeFormat f;
        f.cameras = cameras;
        f.compact = compact;
        f.timecodes = true;
        f.handshake = false;   // the benchmark answered the handshake before the reader started
        return f;
    }

    size_t frameLength(const uint8_t* p, size_t available) override {
        try {
            return decoder.decode(p, available, item, frame);
        } catch (const frameyard::Error&) {
            fail("a frame does not read as a realtime frame");
            return 0;
        }
    }

    frameyard::RealtimeDecoder decoder;
    frameyard::RealtimeItem item;
    frameyard::Frame frame;
};

// A host with eight 640 x 480 cameras whose frame always holds the same 200 centroids per
// camera; only the timecode (the sequence number) changes.
class BenchHost final : public hostbase::NeutralHost {
public:
    BenchHost() : NeutralHost(cameras), frame(bench::scatteredFrame(cameras, centroidsPerCamera)) {}

    Stamps stamps;
    const Reader* reader = nullptr;
    Pace pace;
    bool producing = false;
    int handshakeFrames = 0;
    uint32_t produced = 0;
    int64_t nextDue = 0;

    bool frameAvailable() override {
        if (handshakeFrames > 0) return true;
        return producing && reader != nullptr && pace.due(produced, reader->completed(), nextDue);
    }
    const Frame* currentFrame() override {
        if (handshakeFrames > 0) {
            --handshakeFrames;
            return &frame;
        }
        uint32_t seq = produced++;
        for (int i = 0; i < 4; ++i) frame.timecode[static_cast<size_t>(i)] = static_cast<int>((seq >> (24 - 8 * i)) & 0xFF);
        stamps.set(seq, nowNs());
        return &frame;
    }

private:
    Frame frame;
};

struct Result {
    double fpsPerClient = 0;   // mean over clients
    double minFpsPerClient = 0;
    double p50us = 0;
    double p99us = 0;
    size_t samples = 0;
    std::vector<uint8_t> frame;  // one frame as the clients received it
    std::string error;
};

template <class Step>
Result measure(Reader& reader, size_t clients, double seconds, uint32_t& produced, Step step) {
    bench::Measurement m = bench::measureRun(reader, warmUpSeconds, seconds, produced, step);
    Result result;
    result.error = m.error;
    uint64_t total = 0, least = UINT64_MAX;
    for (size_t i = 0; i < clients; ++i) {
        total += m.frames[i];
        least = std::min<uint64_t>(least, m.frames[i]);
    }
    result.fpsPerClient = static_cast<double>(total) / static_cast<double>(clients) / m.seconds;
    result.minFpsPerClient = static_cast<double>(least) / m.seconds;
    result.samples = m.latencies.size();
    result.p50us = percentile(m.latencies, 0.50);
    result.p99us = percentile(m.latencies, 0.99);
    result.frame = m.frame;
    return result;
}

Result failure(const char* why) {
    Result result;
    result.error = why;
    return result;
}

Result runLibrary(int clients, bool compact, Pace pace, double seconds) {
    BenchHost host;
    int port = freeLoopbackPort();
    host.setListenPort(port);
    if (port <= 0 || !host.startListening()) return failure("cannot listen");

    // All at once: the listening queue holds them until the server's polls accept them.
    std::vector<std::unique_ptr<TestClient>> connections;
    for (int i = 0; i < clients; ++i) {
        connections.push_back(std::make_unique<TestClient>(port));
        if (!connections.back()->isConnected()) return failure("cannot connect");
    }
    if (!pumpUntil(host, [&] { return host.clientCount() == static_cast<unsigned>(clients); }))
        return failure("clients not accepted");
    // The start handshake with timecodes, all clients at once: one host frame answers every
    // waiting client with 'r'.
    for (auto& c : connections) c->send(frameyard::encodeRealtimeOpening({compact, true}));
    for (auto& c : connections)
        if (textOf(c->read(host, 1)) != "t") return failure("no timecode query");
    for (auto& c : connections) c->send(frameyard::encodeTimecodeAnswer(true));
    pump(host, 20);
    host.handshakeFrames = 1;
    for (auto& c : connections)
        if (textOf(c->read(host, 1)) != "r") return failure("no ready byte");
    for (auto& c : connections) c->send(frameyard::encodeGo());
    pump(host, 20);

    std::vector<int> fds;
    for (auto& c : connections) fds.push_back(c->fd());
    Reader reader(fds, compact, host.stamps);
    host.reader = &reader;
    host.pace = pace;
    host.nextDue = nowNs();
    host.producing = true;
    // A host main loop with nothing else to do. While no frame is due it lets other threads
    // have the core (on a busy two-core machine the reader may share it), as the baseline does.
    Result result = measure(reader, fds.size(), seconds, host.produced, [&] {
        uint32_t before = host.produced;
        host.checkForEvent();
        if (host.produced == before) ::sched_yield();
    });
    // Clients that close with unread bytes reset their connections, which the server would
    // report; what is still in flight is read first.
    host.producing = false;
    for (int i = 0; i < 100; ++i) {
        host.checkForEvent();
        bool quiet = true;
        for (auto& c : connections) quiet = c->readAvailable().empty() && quiet;
        if (quiet) break;
    }
    connections.clear();
    pumpUntil(host, [&] { return host.clientCount() == 0; });
    return result;
}

// Reads exactly n bytes from a blocking socket whose receive time-out bounds the wait.
bool receiveAll(int fd, size_t n) {
    uint8_t buffer[16];
    return n <= sizeof buffer && ::recv(fd, buffer, n, MSG_WAITALL) == static_cast<ssize_t>(n);
}

// The opening the library's clients go through, byte for byte, with the baseline writing the
// server's side: a connection that has carried this request-and-reply exchange moves bulk
// data measurably slower on loopback than a fresh one, so without it the baseline would
// measure a different kind of connection.
bool replayOpening(TestClient& client, int server, bool compact) {
    std::string opening = compact ? "Rft1" : "Rt1";
    auto clientReads = [&](char expected) {
        pollfd entry{client.fd(), POLLIN, 0};
        return ::poll(&entry, 1, 2000) == 1 && client.readAvailable() == Bytes{static_cast<uint8_t>(expected)};
    };
    auto serverWrites = [&](char byte) { return ::send(server, &byte, 1, MSG_NOSIGNAL) == 1; };
    return client.send(opening) && receiveAll(server, opening.size()) && serverWrites('t') && clientReads('t') &&
           client.send("1") && receiveAll(server, 1) && serverWrites('r') && clientReads('r') && client.send("g") &&
           receiveAll(server, 1);
}

// The same frame bytes to the same number of loopback sockets with blocking send() alone.
Result runBaseline(int clients, bool compact, bool opening, Pace pace, double seconds, std::vector<uint8_t> frame) {
    if (frame.size() < 5) return failure("no frame to replay");
    sockaddr_in address;
    int listener = bench::listenOnLoopback(address);
    if (listener < 0) return failure("cannot listen");
    std::vector<std::unique_ptr<TestClient>> connections;
    std::vector<int> serverEnds;
    bool exchanged = true;
    for (int i = 0; i < clients && exchanged; ++i) {
        connections.push_back(std::make_unique<TestClient>(ntohs(address.sin_port)));
        int fd = connections.back()->isConnected() ? ::accept(listener, nullptr, nullptr) : -1;
        if (fd < 0) break;
        serverEnds.push_back(fd);
        int one = 1;
        timeval limit{2, 0};
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        if (opening) exchanged = replayOpening(*connections.back(), fd, compact);
    }
    ::close(listener);
    Result result;
    if (!exchanged || serverEnds.size() != static_cast<size_t>(clients)) {
        result.error = exchanged ? "cannot connect" : "opening exchange failed";
    } else {
        std::vector<int> fds;
        for (auto& c : connections) fds.push_back(c->fd());
        Stamps stamps;
        Reader reader(fds, compact, stamps);
        uint32_t produced = 0;
        int64_t nextDue = nowNs();
        result = measure(reader, fds.size(), seconds, produced, [&] {
            if (!pace.due(produced, reader.completed(), nextDue)) {
                ::sched_yield();
                return;
            }
            uint32_t seq = produced++;
            for (int i = 0; i < 4; ++i) frame[static_cast<size_t>(1 + i)] = static_cast<uint8_t>(seq >> (24 - 8 * i));
            stamps.set(seq, nowNs());
            for (int fd : serverEnds) sendAll(fd, frame.data(), frame.size());
        });
    }
    for (int fd : serverEnds) ::close(fd);
    return result;
}

// Library and baseline runs alternate, so that load from elsewhere on the machine hits both
// alike; the row shows the medians and the range of the per-round ratios.
bool compare(const char* form, int clients, bool compact, Pace pace, double seconds, int rounds, bool libraryOnly) {
    std::vector<double> fps, least, p50, p99, baseFps, baseP50, baseP99, freshFps, ratios;
    size_t bytes = 0;
    for (int round = 0; round < rounds; ++round) {
        Result library = runLibrary(clients, compact, pace, seconds);
        Result baseline, fresh;
        if (!libraryOnly && library.error.empty()) {
            baseline = runBaseline(clients, compact, true, pace, seconds, library.frame);
            fresh = runBaseline(clients, compact, false, pace, seconds, library.frame);
        }
        for (const Result* failed : {&library, &baseline, &fresh}) {
            if (failed->error.empty()) continue;
            std::printf("%-8s %7d  FAILED: %s\n", form, clients, failed->error.c_str());
            return false;
        }
        bytes = library.frame.size();
        fps.push_back(library.fpsPerClient);
        least.push_back(library.minFpsPerClient);
        p50.push_back(library.p50us);
        p99.push_back(library.p99us);
        baseFps.push_back(baseline.fpsPerClient);
        baseP50.push_back(baseline.p50us);
        baseP99.push_back(baseline.p99us);
        freshFps.push_back(fresh.fpsPerClient);
        if (baseline.fpsPerClient > 0) ratios.push_back(library.fpsPerClient / baseline.fpsPerClient);
    }
    bench::Range spread = bench::range(ratios);
    auto ratio = [&](const std::vector<double>& base) { return median(base) > 0 ? median(fps) / median(base) : 0; };
    std::printf("%-8s %7d %6zu %8.0f %8.0f %8.0f %5.2f %4.2f-%-4.2f %8.0f %5.2f %7.0f %7.0f %7.0f %7.0f\n", form,
                clients, bytes, median(fps), median(least), median(baseFps), ratio(baseFps), spread.least,
                spread.greatest, median(freshFps), ratio(freshFps), median(p50), median(p99), median(baseP50),
                median(baseP99));
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
    if (!(seconds > 0.0 && seconds <= 60.0)) seconds = 1.0;
    std::string only = argc > 2 ? argv[2] : "";
    bool libraryOnly = only == "library";
    if (libraryOnly) only.clear();
    auto wanted = [&](const char* name) { return only.empty() || only == name; };
    int onlyClients = argc > 3 ? std::atoi(argv[3]) : 0;
    const int rounds = bench::roundsPerRow(3);
    raiseDescriptorLimit(4096);
    std::printf("realtime fan-out: %d cameras x %d centroids per frame, loopback, %d rounds of %.1f s per row\n",
                cameras, centroidsPerCamera, rounds, seconds);
    std::printf(
        "lib   = store::Server in a host loop of checkForEvent(), clients through the opening handshake\n"
        "base  = the same bytes to the same number of sockets with blocking send() and nothing else, after\n"
        "        the same opening exchange on each connection (the machine's limit for such connections)\n"
        "fresh = as base, on connections that never carried a byte before the frames\n"
        "fps per client: median of the rounds (min = the slowest client); ratio = lib / base, medians, then\n"
        "the range over the rounds; /fr = lib / fresh; latency in microseconds from the frame's hand-out\n"
        "to its last byte at a client.\n\n");
    const char* header = "form     clients  bytes  lib fps  lib min base fps ratio  (range)  fresh fps  /fr "
                         "lib p50 lib p99 bas p50 bas p99\n";

    bool ok = true;
    std::printf("as fast as the slowest client takes frames (at most %u frames unread):\n%s", window, header);
    for (bool compact : {false, true}) {
        if (!wanted(compact ? "compact" : "full")) continue;
        for (int clients : {1, 16, 64, 256}) {
            if (onlyClients > 0 && clients != onlyClients) continue;
            ok = compare(compact ? "compact" : "full", clients, compact, Pace(), seconds, rounds, libraryOnly) && ok;
        }
    }
    if (wanted("paced") && (onlyClients == 0 || onlyClients == 16)) {
        std::printf("\npaced at %.0f frames/s (at most %u frames unread):\n%s", pacedRate, pacedWindow, header);
        Pace pace;
        pace.paced = true;
        pace.window = pacedWindow;
        for (bool compact : {false, true})
            ok = compare(compact ? "compact" : "full", 16, compact, pace, seconds, rounds, libraryOnly) && ok;
    }
    return ok ? 0 : 1;
}
