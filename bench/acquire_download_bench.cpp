// Acquisition download under load: a recording of 500 fields x 4 cameras of 640 x 480 images
// with 200 centroids each (about 617 MB) is downloaded by 1 and by 4 loopback clients at once.
// Beside each library run a baseline writes the very same bytes to the same number of plain
// sockets with blocking send() and nothing else, read by the same readers: what this machine
// can move at all. Reported: MB/s per client, the longest checkForEvent() while the download
// runs, and how far the process's peak RSS grew during it.
//
// A short check first downloads a few fields through the library and through the baseline and
// compares the two byte streams.
//
// Usage: acquire_download_bench [fields, default 500]
#include <arpa/inet.h>
#include <sched.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "frameyard/client/requests.h"
#include "protocol/acquire/acquire_records.h"
#include "protocol/common/byte_order.h"
#include "protocol/frames/frame_format.h"
#include "server/display_coordinates.h"
#include "tests/test_client.h"

namespace {

constexpr int cameras = 4;
constexpr int width = 640;
constexpr int height = 480;
constexpr int centroidsPerCamera = 200;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// ---- the host: a finished recording of `fields` fields, the same pictures for every field ------

class BenchHost final : public hostbase::NeutralHost {
public:
    explicit BenchHost(int fields) : NeutralHost(cameras), fields(fields), pixels(cameras) {
        for (int c = 0; c < cameras; ++c) {
            pixels[size_t(c)].resize(size_t(width) * height);
            for (size_t i = 0; i < pixels[size_t(c)].size(); ++i) pixels[size_t(c)][i] = uint8_t(i * 31 + size_t(c));
        }
        for (int i = 0; i < centroidsPerCamera; ++i) centroids.push_back({float(i * 3 % width), float(i * 2 % height)});
    }

    int fields;
    bool finished = false;  // the recording, once every client has started it
    int started = 0;
    int ended = 0;
    std::vector<std::vector<unsigned char>> pixels;
    std::vector<Centroid> centroids;

    bool acquireSupported() override { return true; }
    bool acquireReady(int) override { return true; }
    bool acquireFieldReady(int) override { return true; }
    void startAcquireRecording(int) override { ++started; }
    bool acquireRecordingFinished(int) override { return finished; }
    int acquiredFrameCount(int) override { return fields; }
    bool acquiredTimecodeAvailable(int, int) override { return true; }
    bool acquiredImageAvailable(int, int) override { return true; }
    bool acquiredGlobsAvailable(int, int) override { return true; }
    Timecode acquiredTimecode(int, int field) override { return Timecode{{field, field >> 8, 3, 4}}; }
    AcquiredImage acquiredImage(int, int, int camera) override {
        return {width, height, pixels[size_t(camera)].data()};
    }
    std::vector<Centroid> acquiredCentroids(int, int, int) override { return centroids; }
    void endAcquire(int) override { ++ended; }
};

// ---- the bytes of the download, for the baseline ------------------------------------------------

uint64_t downloadBytes(int fields) {
    uint64_t perCamera = 4 + uint64_t(width) * height + 6 + 6 * centroidsPerCamera;
    return uint64_t(fields) * (2 + 5 + 2 + cameras * perCamera) + 2;
}

// One camera's centroid block as the library's adapter converts the host's centroids.
std::vector<uint8_t> centroidBlock(const BenchHost& host) {
    store::DisplayScale scale(width, height);
    std::vector<RyStoreProtocol::Centroid> fixed;
    for (const auto& c : host.centroids) fixed.push_back(RyStoreProtocol::toCentroid(scale.toGlob(c)));
    std::vector<uint8_t> out;
    RyStoreProtocol::appendCentroidBlock(out, fixed.data(), int(fixed.size()));
    return out;
}

bool sendAll(int fd, const void* data, size_t length) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    while (length > 0) {
        ssize_t sent = ::send(fd, bytes, length, MSG_NOSIGNAL);
        if (sent <= 0) return false;
        bytes += sent;
        length -= size_t(sent);
    }
    return true;
}

// Every field to every socket in turn, as the library sends them: records gathered, pixels
// straight from the host's buffers.
void writeBaseline(const BenchHost& host, const std::vector<int>& fds, int fields) {
    std::vector<uint8_t> block = centroidBlock(host);
    std::vector<uint8_t> head;
    for (int f = 0; f < fields; ++f) {
        RyStoreProtocol::Timecode timecode{uint32_t(f), uint32_t(f >> 8), 3, 4};
        for (int fd : fds) {
            head.clear();
            RyStoreProtocol::appendFieldHeader(head, f, &timecode, true, true);
            for (int c = 0; c < cameras; ++c) {
                RyStoreProtocol::appendImageHeader(head, {width, height, host.pixels[size_t(c)].data()});
                sendAll(fd, head.data(), head.size());
                sendAll(fd, host.pixels[size_t(c)].data(), host.pixels[size_t(c)].size());
                head = block;
            }
            sendAll(fd, head.data(), head.size());
        }
    }
    std::vector<uint8_t> end;
    RyStoreProtocol::putU16(end, RyStoreProtocol::acquiredDataEnd);
    for (int fd : fds) sendAll(fd, end.data(), end.size());
}

// ---- the clients ----------------------------------------------------------------------------------

int connectTo(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(uint16_t(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool receiveAll(int fd, void* out, size_t length) {
    uint8_t* bytes = static_cast<uint8_t*>(out);
    while (length > 0) {
        ssize_t got = ::recv(fd, bytes, length, 0);
        if (got <= 0) return false;
        bytes += got;
        length -= size_t(got);
    }
    return true;
}

// One client on its own thread: with `library` it first makes the request and starts the
// recording; then it reads the download, timing it from its first byte.
struct Reader {
    int fd = -1;
    bool library = false;
    uint64_t expected = 0;
    bool hashing = false;
    uint64_t received = 0;
    uint64_t hash = 1469598103934665603ull;
    double seconds = 0;
    std::string error;
    std::atomic<bool> done{false};
    std::thread thread;

    void start(int fields) {
        thread = std::thread([this, fields] {
            run(fields);
            done.store(true);
        });
    }
    void join() {
        if (thread.joinable()) thread.join();
    }

    void run(int fields) {
        if (library && !handshake(fields)) return;
        std::vector<uint8_t> buffer(256 * 1024);
        Clock::time_point first;
        while (received < expected) {
            size_t want = size_t(std::min<uint64_t>(buffer.size(), expected - received));
            ssize_t got = ::recv(fd, buffer.data(), want, 0);
            if (got <= 0) {
                error = "the download broke off after " + std::to_string(received) + " bytes";
                return;
            }
            if (received == 0) first = Clock::now();
            received += uint64_t(got);
            if (hashing)
                for (ssize_t i = 0; i < got; ++i) hash = (hash ^ buffer[size_t(i)]) * 1099511628211ull;
        }
        seconds = secondsSince(first);
    }

    bool handshake(int fields) {
        frameyard::AcquireRequest acquire;
        acquire.centroids = true;
        acquire.images = true;
        acquire.fields = uint32_t(fields);
        frameyard::Bytes request = frameyard::encodeAcquireRequest(acquire);
        frameyard::Bytes values = frameyard::encodeCameraValues({}, cameras);
        frameyard::Bytes start = frameyard::encodeStart();
        uint8_t answer[3 + 6];
        bool ok = sendAll(fd, request.data(), request.size()) && receiveAll(fd, answer, 2) &&
                  sendAll(fd, values.data(), values.size()) && receiveAll(fd, answer + 2, 1) && answer[2] == 'R' &&
                  sendAll(fd, start.data(), start.size()) &&
                  receiveAll(fd, answer + 3, 6);  // the one progress record
        if (!ok) error = "the acquisition exchange failed";
        return ok;
    }
};

// ---- runs ---------------------------------------------------------------------------------------

struct RunResult {
    std::vector<double> mbPerSecond;
    double longestPollMs = 0;
    double rssGrowthMiB = 0;
    std::vector<uint64_t> hashes;
    bool ok = true;
};

long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    size_t length = std::string(field).size();
    while (std::getline(status, line))
        if (line.compare(0, length, field) == 0) return std::atol(line.c_str() + length + 1);
    return -1;
}

// Lets the next VmHWM reading start from the current resident size.
void resetPeakRss() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
}

RunResult finish(std::vector<std::unique_ptr<Reader>>& readers) {
    RunResult result;
    for (auto& reader : readers) {
        reader->join();
        if (!reader->error.empty() || reader->received != reader->expected) {
            std::fprintf(stderr, "client failed: %s\n", reader->error.c_str());
            result.ok = false;
        }
        result.mbPerSecond.push_back(reader->seconds > 0 ? reader->received / reader->seconds / 1e6 : 0);
        result.hashes.push_back(reader->hash);
        ::close(reader->fd);
    }
    return result;
}

std::vector<std::unique_ptr<Reader>> makeReaders(int clients, int port, bool library, int fields, bool hashing) {
    std::vector<std::unique_ptr<Reader>> readers;
    for (int i = 0; i < clients; ++i) {
        auto reader = std::make_unique<Reader>();
        reader->fd = connectTo(port);
        reader->library = library;
        reader->expected = downloadBytes(fields);
        reader->hashing = hashing;
        readers.push_back(std::move(reader));
    }
    return readers;
}

RunResult libraryRun(int clients, int fields, bool hashing) {
    BenchHost host(fields);
    int port = freeLoopbackPort();
    host.setListenPort(port);
    if (!host.startListening()) return {{}, 0, 0, {}, false};
    auto readers = makeReaders(clients, port, true, fields, hashing);
    for (auto& reader : readers) reader->start(fields);
    // Every client asks and starts the recording; the download begins for all at once.
    Clock::time_point limit = Clock::now() + std::chrono::seconds(10);
    while (host.started < clients && Clock::now() < limit) host.checkForEvent();
    long rssBefore = statusKiB("VmRSS:");
    resetPeakRss();
    host.finished = true;
    double longest = 0;
    limit = Clock::now() + std::chrono::seconds(300);
    // The last bytes may still wait in the writers' queues when the host hears endAcquire.
    auto allDone = [&] {
        for (auto& reader : readers)
            if (!reader->done.load()) return false;
        return true;
    };
    while (!allDone() && Clock::now() < limit) {
        Clock::time_point t = Clock::now();
        host.checkForEvent();
        longest = std::max(longest, secondsSince(t));
        // A host loop has other work between polls; here the readers get the core.
        ::sched_yield();
    }
    long peak = statusKiB("VmHWM:");
    RunResult result = finish(readers);
    if (host.ended != clients) result.ok = false;
    result.longestPollMs = longest * 1e3;
    result.rssGrowthMiB = (peak - rssBefore) / 1024.0;
    return result;
}

RunResult baselineRun(int clients, int fields, bool hashing) {
    BenchHost host(fields);
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener, 16);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    auto readers = makeReaders(clients, ntohs(address.sin_port), false, fields, hashing);
    std::vector<int> fds;
    for (int i = 0; i < clients; ++i) fds.push_back(::accept(listener, nullptr, nullptr));
    ::close(listener);
    for (auto& reader : readers) reader->start(fields);
    writeBaseline(host, fds, fields);
    RunResult result = finish(readers);
    for (int fd : fds) ::close(fd);
    return result;
}

double average(const std::vector<double>& values) {
    double sum = 0;
    for (double v : values) sum += v;
    return values.empty() ? 0 : sum / double(values.size());
}

}  // namespace

int main(int argc, char** argv) {
    int fields = argc > 1 ? std::atoi(argv[1]) : 500;
    if (fields <= 0 || fields > 65535) {
        std::fprintf(stderr, "usage: acquire_download_bench [fields 1..65535]\n");
        return 2;
    }
    RunResult checkLibrary = libraryRun(1, 20, true);
    RunResult checkBaseline = baselineRun(1, 20, true);
    bool identical = checkLibrary.ok && checkBaseline.ok && checkLibrary.hashes == checkBaseline.hashes;
    std::printf("acquisition download: %d fields x %d cameras of %d x %d with %d centroids = %.1f MB per client\n",
                fields, cameras, width, height, centroidsPerCamera, downloadBytes(fields) / 1e6);
    std::printf("library bytes identical to the baseline's (20-field check): %s\n", identical ? "yes" : "NO");
    std::printf("%-8s %18s %18s %7s %16s %12s\n", "clients", "library MB/s/cl", "baseline MB/s/cl", "ratio",
                "longest poll ms", "RSS growth");
    bool ok = identical;
    for (int clients : {1, 4}) {
        RunResult library = libraryRun(clients, fields, false);
        RunResult baseline = baselineRun(clients, fields, false);
        ok = ok && library.ok && baseline.ok;
        double lib = average(library.mbPerSecond), base = average(baseline.mbPerSecond);
        std::printf("%-8d %18.0f %18.0f %7.2f %16.2f %8.1f MiB\n", clients, lib, base, base > 0 ? lib / base : 0,
                    library.longestPollMs, library.rssGrowthMiB);
    }
    return ok ? 0 : 1;
}
