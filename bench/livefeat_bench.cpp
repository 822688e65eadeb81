// Live-feature images under load. One 640 x 480 camera with about 2,000 run segments per
// image goes to 1, 4 and 16 loopback clients that selected it, with images on (each client
// acknowledges every image as it arrives, so at most two are in flight) and with images off
// (segments and timecode only). The host offers images at 100 per second, the camera's rate,
// and then as fast as the clients take them. Beside every library run a baseline run writes
// the very same bytes to the same number of sockets with blocking send() under the same
// acknowledgement rule and nothing else, read by the same reader: what this machine can move
// at all.
//
// Latency runs from the moment the host hands an image out (cameraImage(), or the baseline's
// send loop picking it up) to the moment a client has received the frame's last byte. The
// image's sequence number rides in the timecode, one byte per component.
//
// Usage: livefeat_bench [seconds per measured run, default 1] [only: "paced" or "unpaced"]
// [only this client count] ["library": no baseline runs, for profiling]. BENCH_ROUNDS in the
// environment sets the rounds per row (default 3).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "bench/bench_support.h"
#include "bench/stream_reader.h"
#include "frameyard/client/decoders.h"
#include "frameyard/client/error.h"
#include "tests/test_client.h"

namespace {

using bench::median;
using bench::nowNs;
using bench::percentile;
using bench::Stamps;

constexpr int width = 640;
constexpr int height = 480;
constexpr int segmentsPerImage = 2000;
constexpr double cameraRate = 100.0;
// Images off, as fast as possible: a new image while fewer than this many are unread somewhere.
constexpr uint32_t window = 4;
constexpr double warmUpSeconds = 0.3;

struct Pace {
    bool paced = true;
    bool images = true;

    // Paced: every 1/100 s. Otherwise with images on at every chance (the acknowledgement rule
    // holds back what clients cannot take), with images off while the window allows.
    bool due(uint32_t produced, uint32_t completed, int64_t& nextDue) const {
        if (!paced) return images || produced - completed < window;
        int64_t t = nowNs();
        if (t < nextDue) return false;
        nextDue += static_cast<int64_t>(1e9 / cameraRate);
        if (t - nextDue > 100'000'000) nextDue = t;  // fell far behind: no burst to catch up
        return true;
    }
};

// The clients' live-feature frames: a header with the timecode (the sequence number) and, with
// images on, the image, then the segment block. Each image is acknowledged on receipt, as a
// client that shows it would. With images on a client may miss images (the server skips them
// while two are in flight).
class Reader final : public bench::StreamReader {
public:
    Reader(const std::vector<int>& fds, const Stamps& stamps) : StreamReader(fds, stamps, 4 << 20, 4, true) {}
    ~Reader() override { stop(); }

private:
    size_t frameLength(const uint8_t* p, size_t available) override {
        try {
            size_t used = decoder.decode(p, available, item);
            if (used > 0 && (item.kind != frameyard::LiveItem::Kind::frame || !item.frame.timecode)) {
                fail("a frame does not start with its timecode header");
                return 0;
            }
            return used;
        } catch (const frameyard::Error&) {
            fail("a frame does not read as a live-feature frame");
            return 0;
        }
    }

    // frameLength() has just decoded this frame.
    void received(int fd, const uint8_t*, size_t) override {
        if (!item.frame.image) return;
        frameyard::Bytes ack = frameyard::encodeAcknowledge();
        if (::send(fd, ack.data(), ack.size(), MSG_NOSIGNAL) != ssize_t(ack.size())) fail("an acknowledgement could not be sent");
    }

    frameyard::LiveDecoder decoder;
    frameyard::LiveItem item;
};

// One camera whose image always holds the same pixels and segments; only the timecode (the
// sequence number) changes.
class BenchHost final : public hostbase::NeutralHost {
public:
    BenchHost() : NeutralHost(1), pixels(size_t(width) * height) {
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned char>(i * 7);
        for (int i = 0; i < segmentsPerImage; ++i)
            segments.push_back({{static_cast<unsigned>(i % height), static_cast<unsigned>(i % 600),
                                 static_cast<unsigned>(i % 600 + 20)}});
    }

    Stamps stamps;
    const Reader* reader = nullptr;
    Pace pace;
    bool producing = false;
    uint32_t produced = 0;
    int64_t nextDue = 0;

    bool cameraImageAvailable(int) override {
        return producing && reader != nullptr && pace.due(produced, reader->completed(), nextDue);
    }
    Image cameraImage(int) override {
        uint32_t seq = produced++;
        for (int i = 0; i < 4; ++i) timecode[i] = static_cast<int>((seq >> (24 - 8 * i)) & 0xFF);
        stamps.set(seq, nowNs());
        return Image{&segments, &pixels, timecode};
    }

private:
    std::vector<Segment> segments;
    std::vector<unsigned char> pixels;
    int timecode[4] = {0, 0, 0, 0};
};

struct Result {
    double imagesPerClient = 0;  // frames per second and client (each with its image when images are on)
    double mbPerClient = 0;
    double p50us = 0, p99us = 0;
    std::vector<uint8_t> frame;
    std::string error;
};

Result failure(const char* why) {
    Result result;
    result.error = why;
    return result;
}

template <class Step>
Result measure(Reader& reader, double seconds, uint32_t& produced, Step step) {
    bench::Measurement m = bench::measureRun(reader, warmUpSeconds, seconds, produced, step);
    Result result;
    result.error = m.error;
    double frames = 0, bytes = 0;
    for (size_t i = 0; i < m.frames.size(); ++i) {
        frames += static_cast<double>(m.frames[i]);
        bytes += static_cast<double>(m.bytes[i]);
    }
    double clients = static_cast<double>(m.frames.size());
    result.imagesPerClient = frames / clients / m.seconds;
    result.mbPerClient = bytes / clients / m.seconds / 1e6;
    result.p50us = percentile(m.latencies, 0.50);
    result.p99us = percentile(m.latencies, 0.99);
    result.frame = m.frame;
    return result;
}

// The commands every client sends after 'f': camera 0, and images on when wanted.
// 'f', camera 0, and images on when wanted.
frameyard::Bytes opening(bool images) {
    frameyard::Bytes out{static_cast<uint8_t>(frameyard::SessionKind::liveFeatures)};
    frameyard::Bytes select = frameyard::encodeSelectCamera(0), on = frameyard::encodeImages(true);
    out.insert(out.end(), select.begin(), select.end());
    if (images) out.insert(out.end(), on.begin(), on.end());
    return out;
}

Result runLibrary(int clients, Pace pace, double seconds) {
    BenchHost host;
    int port = freeLoopbackPort();
    host.setListenPort(port);
    if (port <= 0 || !host.startListening()) return failure("cannot listen");
    // One at a time, each accepted before the next connects.
    std::vector<std::unique_ptr<TestClient>> connections;
    for (int i = 0; i < clients; ++i) {
        connections.push_back(std::make_unique<TestClient>(port));
        if (!connections.back()->isConnected() || !connections.back()->send(opening(pace.images)))
            return failure("cannot connect");
        if (!pumpUntil(host, [&] { return host.clientCount() == static_cast<unsigned>(i + 1); }))
            return failure("clients not accepted");
    }
    pump(host, 20);

    std::vector<int> fds;
    for (auto& c : connections) fds.push_back(c->fd());
    Reader reader(fds, host.stamps);
    host.reader = &reader;
    host.pace = pace;
    host.nextDue = nowNs();
    host.producing = true;
    Result result = measure(reader, seconds, host.produced, [&] {
        uint32_t before = host.produced;
        host.checkForEvent();
        if (host.produced == before) ::sched_yield();
    });
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

// The server's side of one baseline connection: it counts the client's acknowledgements and,
// with images on, sends only while at most one image is unacknowledged.
struct BaselineClient {
    int fd = -1;
    int outstanding = 0;

    void takeAcknowledgements() {
        uint8_t buffer[256];
        ssize_t got;
        while ((got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
            // Each acknowledgement is 'i' and 2; only its second byte can be a 2.
            for (ssize_t i = 0; i < got; ++i) outstanding -= buffer[i] == 2 ? 1 : 0;
    }
};

Result runBaseline(int clients, Pace pace, double seconds, std::vector<uint8_t> frame) {
    if (frame.size() < 8) return failure("no frame to replay");
    sockaddr_in address;
    int listener = bench::listenOnLoopback(address);
    if (listener < 0) return failure("cannot listen");
    std::vector<std::unique_ptr<TestClient>> connections;
    std::vector<BaselineClient> ends;
    frameyard::Bytes request = opening(pace.images);
    for (int i = 0; i < clients; ++i) {
        connections.push_back(std::make_unique<TestClient>(ntohs(address.sin_port)));
        int fd = connections.back()->isConnected() ? ::accept(listener, nullptr, nullptr) : -1;
        if (fd < 0) break;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ends.push_back({fd, 0});
        // The same opening bytes the library's clients send, read and dropped.
        connections.back()->send(request);
        std::vector<char> dropped(request.size());
        ::recv(fd, dropped.data(), dropped.size(), MSG_WAITALL);
    }
    ::close(listener);
    Result result;
    if (ends.size() != static_cast<size_t>(clients)) {
        result.error = "cannot connect";
    } else {
        std::vector<int> fds;
        for (auto& c : connections) fds.push_back(c->fd());
        Stamps stamps;
        Reader reader(fds, stamps);
        uint32_t produced = 0;
        int64_t nextDue = nowNs();
        result = measure(reader, seconds, produced, [&] {
            for (BaselineClient& end : ends) end.takeAcknowledgements();
            if (!pace.due(produced, reader.completed(), nextDue)) {
                ::sched_yield();
                return;
            }
            uint32_t seq = produced++;
            for (int i = 0; i < 4; ++i) frame[static_cast<size_t>(4 + i)] = static_cast<uint8_t>(seq >> (24 - 8 * i));
            stamps.set(seq, nowNs());
            for (BaselineClient& end : ends) {
                if (pace.images && end.outstanding > 1) continue;
                bench::sendAll(end.fd, frame.data(), frame.size());
                if (pace.images) ++end.outstanding;
            }
        });
    }
    for (const BaselineClient& end : ends) ::close(end.fd);
    return result;
}

// Library and baseline runs alternate, so that load from elsewhere on the machine hits both
// alike; the row shows the medians over the rounds and the range of the per-round ratios.
bool compare(int clients, Pace pace, double seconds, int rounds, bool libraryOnly) {
    std::vector<double> rate, mb, p50, p99, baseRate, baseMb, baseP50, baseP99, ratios;
    size_t bytes = 0;
    const char* mode = pace.images ? "images" : "segments";
    for (int round = 0; round < rounds; ++round) {
        Result library = runLibrary(clients, pace, seconds);
        Result baseline;
        if (library.error.empty() && !libraryOnly) baseline = runBaseline(clients, pace, seconds, library.frame);
        for (const Result* failed : {&library, &baseline}) {
            if (failed->error.empty()) continue;
            std::printf("%-8s %7d  FAILED: %s\n", mode, clients, failed->error.c_str());
            return false;
        }
        bytes = library.frame.size();
        rate.push_back(library.imagesPerClient);
        mb.push_back(library.mbPerClient);
        p50.push_back(library.p50us);
        p99.push_back(library.p99us);
        baseRate.push_back(baseline.imagesPerClient);
        baseMb.push_back(baseline.mbPerClient);
        baseP50.push_back(baseline.p50us);
        baseP99.push_back(baseline.p99us);
        if (baseline.mbPerClient > 0) ratios.push_back(library.mbPerClient / baseline.mbPerClient);
    }
    bench::Range spread = bench::range(ratios);
    double ratio = median(baseMb) > 0 ? median(mb) / median(baseMb) : 0;
    std::printf("%-8s %7d %7zu %8.1f %8.2f %7.0f %7.0f | %8.1f %8.2f %7.0f %7.0f | %5.2f %4.2f-%-4.2f\n", mode, clients,
                bytes, median(rate), median(mb), median(p50), median(p99), median(baseRate), median(baseMb),
                median(baseP50), median(baseP99), ratio, spread.least, spread.greatest);
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
    if (!(seconds > 0.0 && seconds <= 60.0)) seconds = 1.0;
    std::string only = argc > 2 ? argv[2] : "";
    int onlyClients = argc > 3 ? std::atoi(argv[3]) : 0;
    bool libraryOnly = argc > 4 && std::string(argv[4]) == "library";
    const int rounds = bench::roundsPerRow(3);
    raiseDescriptorLimit(256);
    std::printf("live features: one %d x %d camera, %d segments per image, loopback, %d rounds of %.1f s per row\n",
                width, height, segmentsPerImage, rounds, seconds);
    std::printf(
        "lib  = store::Server in a host loop of checkForEvent(); clients select the camera and, with images\n"
        "       on, acknowledge every image on receipt\n"
        "base = the same bytes to the same sockets with blocking send() under the same acknowledgement rule\n"
        "       and nothing else\n"
        "per client: frames/s and MB/s (medians of the rounds); latency in microseconds from the image's\n"
        "hand-out to its last byte at a client; ratio = lib MB/s / base MB/s, medians, then the range of\n"
        "the per-round ratios.\n\n");
    const char* header = "mode     clients   bytes  lib f/s   lib MB/s lib p50 lib p99 | bas f/s  bas MB/s bas p50 bas p99 | ratio  (range)\n";
    bool ok = true;
    for (bool paced : {true, false}) {
        if (!only.empty() && only != (paced ? "paced" : "unpaced")) continue;
        if (paced)
            std::printf("paced at %.0f images/s:\n%s", cameraRate, header);
        else
            std::printf("\nas fast as the clients take them (images off: at most %u unread):\n%s", window, header);
        for (bool images : {true, false})
            for (int clients : {1, 4, 16})
                if (onlyClients == 0 || clients == onlyClients) ok = compare(clients, Pace{paced, images}, seconds, rounds, libraryOnly) && ok;
    }
    return ok ? 0 : 1;
}
