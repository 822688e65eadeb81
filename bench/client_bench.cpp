// What a client pays for the client library, as a load test:
//  1. the realtime decoder alone over frames of 8 cameras x 200 centroids, compact and full,
//     in centroids per second on one core;
//  2. a client taking 500 frames/s of 8 cameras x 200 centroids (full form, timecodes) from a
//     real server through RealtimeStream, beside a plain recv() loop that only counts the same
//     bytes, both connected to the same server in the same run; each client's thread CPU time
//     over the same frames, and their ratio.
// Usage: client_bench [seconds of streaming, default 10]
#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <time.h>

#include <algorithm>
#include <cstring>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "frameyard/client.h"
#include "tests/test_client.h"

namespace {

constexpr int cameras = 8;
constexpr int centroidsPerCamera = 200;
constexpr double rate = 500.0;

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// ---- 1. the decoder alone

frameyard::Bytes encodedFrame(bool compact, int sequence) {
    std::mt19937 random{uint32_t(sequence)};
    std::uniform_real_distribution<float> coordinate(0.0f, 511.0f);
    frameyard::Bytes out{'t', 1, 2, 3, uint8_t(sequence)};
    auto put16 = [&](uint16_t v) { out.push_back(uint8_t(v >> 8)); out.push_back(uint8_t(v)); };
    for (int c = 0; c < cameras; ++c) {
        put16(centroidsPerCamera);
        for (int i = 0; i < centroidsPerCamera; ++i) {
            float x = coordinate(random), y = coordinate(random);
            if (compact) {
                put16(uint16_t(x * 128)), put16(uint16_t(y * 128));
            } else {
                for (float v : {x, y}) {
                    uint32_t bits;
                    std::memcpy(&bits, &v, 4);
                    put16(uint16_t(bits >> 16)), put16(uint16_t(bits));
                }
                put16(1);
            }
        }
    }
    return out;
}

double decoderCentroidsPerSecond(bool compact) {
    frameyard::Bytes stream;
    constexpr int frames = 256;
    for (int i = 0; i < frames; ++i) {
        frameyard::Bytes f = encodedFrame(compact, i);
        stream.insert(stream.end(), f.begin(), f.end());
    }
    frameyard::RealtimeFormat format;
    format.cameras = cameras;
    format.compact = compact;
    format.handshake = false;
    format.timecodes = true;
    std::vector<double> rounds;
    float sink = 0;
    for (int round = 0; round < 7; ++round) {
        frameyard::RealtimeDecoder decoder(format);
        frameyard::RealtimeItem item;
        frameyard::Frame frame;
        int64_t t0 = bench::nowNs();
        for (int pass = 0; pass < 20; ++pass) {
            size_t at = 0;
            while (at < stream.size()) at += decoder.decode(stream.data() + at, stream.size() - at, item, frame);
            sink += frame.camera(cameras - 1)[centroidsPerCamera - 1].x;
        }
        double seconds = double(bench::nowNs() - t0) / 1e9;
        rounds.push_back(20.0 * frames * cameras * centroidsPerCamera / seconds);
    }
    if (sink == -1) std::puts("");   // keeps the decoding from being optimised away
    return bench::median(rounds);
}

// ---- 2. a client at 500 frames/s

class BenchHost final : public hostbase::NeutralHost {
public:
    BenchHost() : NeutralHost(cameras), frame(bench::scatteredFrame(cameras, centroidsPerCamera)) {}
    bool frameAvailable() override { return due; }
    const Frame* currentFrame() override {
        due = false;
        ++made;
        frame.timecode = {0, 0, made / 256, made % 256};
        return &frame;
    }
    bool due = false;
    int made = 0;

private:
    Frame frame;
};

struct ClientResult {
    uint64_t frames = 0;
    double cpuSeconds = 0;
    bool ok = false;
};

// Counts frames through the library until `wanted` have come after the first.
void libraryClient(int port, uint64_t wanted, ClientResult& result, std::atomic<int>& ready) {
    pthread_setname_np(pthread_self(), "library client");
    try {
        frameyard::RealtimeStream stream(frameyard::Endpoint{"127.0.0.1", port, 5000});
        frameyard::Frame frame;
        std::string message;
        ready.fetch_add(1);
        double start = 0;
        while (result.frames <= wanted) {
            if (stream.next(frame, message, 5000) != frameyard::Got::frame) return;
            if (result.frames++ == 0) start = threadCpuSeconds();
        }
        result.cpuSeconds = threadCpuSeconds() - start;
        result.ok = frame.cameraCount() == cameras && frame.camera(0).size() == centroidsPerCamera;
    } catch (const frameyard::Error& error) {
        std::fprintf(stderr, "library client: %s\n", error.what());
    }
}

// The same stream read by recv() into a buffer, counting bytes and nothing else.
void plainClient(int port, uint64_t wanted, ClientResult& result, std::atomic<int>& ready) {
    pthread_setname_np(pthread_self(), "plain client");
    TestClient client(port);
    ::fcntl(client.fd(), F_SETFL, ::fcntl(client.fd(), F_GETFL) & ~O_NONBLOCK);   // a plain blocking reader
    const size_t frameBytes = 5 + cameras * (2 + size_t(centroidsPerCamera) * 10);
    std::vector<uint8_t> buffer(1 << 16);
    auto readByte = [&](uint8_t expected) {
        uint8_t byte = 0;
        return ::recv(client.fd(), &byte, 1, MSG_WAITALL) == 1 && byte == expected;
    };
    if (!client.send(frameyard::encodeRealtimeOpening({false, true})) || !readByte('t') ||
        !client.send(frameyard::encodeTimecodeAnswer(true)))
        return;
    ready.fetch_add(1);
    if (!readByte('r') || !client.send(frameyard::encodeGo())) return;
    uint64_t bytes = 0;
    double start = 0;
    while (bytes < (wanted + 1) * frameBytes) {
        ssize_t got = ::recv(client.fd(), buffer.data(), buffer.size(), 0);
        if (got <= 0) return;
        if (bytes == 0) start = threadCpuSeconds();
        bytes += size_t(got);
    }
    result.frames = bytes / frameBytes;
    result.cpuSeconds = threadCpuSeconds() - start;
    result.ok = true;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    std::printf("decoder alone, one core: compact %.0f M centroids/s, full %.0f M centroids/s\n",
                decoderCentroidsPerSecond(true) / 1e6, decoderCentroidsPerSecond(false) / 1e6);

    BenchHost host;
    int port = freeLoopbackPort();
    host.setListenPort(port);
    if (port <= 0 || !host.startListening()) return 1;
    uint64_t wanted = uint64_t(seconds * rate);
    ClientResult library, plain;
    std::atomic<int> ready{0};
    std::thread a(libraryClient, port, wanted, std::ref(library), std::ref(ready));
    std::thread b(plainClient, port, wanted, std::ref(plain), std::ref(ready));
    int64_t next = bench::nowNs();
    int64_t end = next + int64_t((seconds + 5) * 1e9);
    // Paced frames until both clients have theirs (or time is up).
    while (bench::nowNs() < end && (library.cpuSeconds == 0 || plain.cpuSeconds == 0)) {
        host.checkForEvent();
        int64_t t = bench::nowNs();
        if (ready.load() == 2 && t >= next) {
            host.due = true;
            next += int64_t(1e9 / rate);
        }
        // Sleep, not spin, between frames: the clients' CPU is what is measured, on a machine
        // whose other core the server must not take.
        if (!host.due) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    host.stopListening();
    a.join();
    b.join();
    if (!library.ok || !plain.ok) {
        std::fprintf(stderr, "a client did not get its frames (library %llu, plain %llu)\n",
                     (unsigned long long)library.frames, (unsigned long long)plain.frames);
        return 1;
    }
    std::printf("500 frames/s of %d x %d centroids, full form with timecodes, %llu frames each:\n", cameras,
                centroidsPerCamera, (unsigned long long)wanted);
    std::printf("  library client  %.1f ms CPU (%.2f %% of a core)\n", library.cpuSeconds * 1e3,
                100.0 * library.cpuSeconds / seconds);
    std::printf("  plain recv()    %.1f ms CPU (%.2f %% of a core)\n", plain.cpuSeconds * 1e3,
                100.0 * plain.cpuSeconds / seconds);
    std::printf("  ratio library / plain: %.2f (goal: at most 1.2)\n", library.cpuSeconds / plain.cpuSeconds);
    return 0;
}
