// frameyard-bridge under load: frameyard-simhost at 500 frames/s of 8 cameras x 200 centroids
// (timecodes from the time of day), the bridge publishing into a three-server NATS cluster on
// loopback, N subscribers spread over the three servers, then in the same run N direct frameyard
// clients of the same host. For each path: frames/s per subscriber, frames lost or repeated,
// and p50/p99 host-to-subscriber latency (from the frames' time-of-day stamps); the bridge's CPU.
//
//   bridge_bench [--subscribers 64,256] [--seconds 10]
#include <nats/nats.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <frameyard/client.h>

#include "tools/frameyard-bridge/bridge_options.h"
#include "tools/frameyard-bridge/frame_payload.h"
#include "tools/tools_test_support.h"

namespace {

constexpr int fps = 500;

double timeOfDay() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec % 86400) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Seconds from the frame's stamp to now. The stamp's frame field carries only the low byte of
// the frame within its second, so at 500 frames/s two frames share it: the one just past wins.
double latencySeconds(int h, int m, int s, int lowByte) {
    double now = timeOfDay();
    double best = 1e9;
    for (int frame = lowByte; frame < fps; frame += 256) {
        double late = now - ((h * 60.0 + m) * 60.0 + s + static_cast<double>(frame) / fps);
        if (late < -43200) late += 86400;
        if (late >= -0.002 && late < best) best = late;
    }
    return best;
}

struct PathStats {
    std::mutex mutex;
    std::vector<float> latencies;   // seconds
    std::atomic<uint64_t> frames{0}, gaps{0}, repeats{0}, broken{0};
    std::atomic<bool> measuring{false};

    void add(double late) {
        if (!measuring) return;
        ++frames;
        std::lock_guard<std::mutex> lock(mutex);
        latencies.push_back(static_cast<float>(late));
    }
    double percentileMs(double p) {
        std::lock_guard<std::mutex> lock(mutex);
        if (latencies.empty()) return 0;
        auto at = latencies.begin() + static_cast<long>(p * static_cast<double>(latencies.size() - 1));
        std::nth_element(latencies.begin(), at, latencies.end());
        return *at * 1000.0;
    }
};

struct Subscriber {
    PathStats* stats = nullptr;
    long last = -1;
    natsConnection* connection = nullptr;
    natsSubscription* subscription = nullptr;
};

void onFrame(natsConnection*, natsSubscription*, natsMsg* message, void* closure) {
    auto* subscriber = static_cast<Subscriber*>(closure);
    const char* number = nullptr;
    const char* timecode = nullptr;
    if (natsMsgHeader_Get(message, "Frameyard-Frame", &number) == NATS_OK &&
        natsMsgHeader_Get(message, "Frameyard-Timecode", &timecode) == NATS_OK) {
        long n = std::atol(number);
        if (subscriber->last >= 0 && subscriber->stats->measuring) {
            if (n <= subscriber->last) ++subscriber->stats->repeats;
            else if (n > subscriber->last + 1) subscriber->stats->gaps += static_cast<uint64_t>(n - subscriber->last - 1);
        }
        subscriber->last = n;
        // Decoded like the direct clients' frames, so both paths do the same work per frame.
        auto decoded = bridge::decodeFramePayload(
            std::string_view(natsMsg_GetData(message), static_cast<size_t>(natsMsg_GetDataLength(message))));
        if (!decoded) ++subscriber->stats->broken;
        int h = 0, m = 0, s = 0, f = 0;
        if (std::sscanf(timecode, "%d:%d:%d:%d", &h, &m, &s, &f) == 4) subscriber->stats->add(latencySeconds(h, m, s, f));
    }
    natsMsg_Destroy(message);
}

double cpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::string url(int port) { return "nats://127.0.0.1:" + std::to_string(port); }

struct Cluster {
    std::vector<int> ports;
    std::vector<std::unique_ptr<toolstest::Process>> servers;

    Cluster() {
        std::vector<int> routes;
        for (int i = 0; i < 3; ++i) {
            ports.push_back(toolstest::freePort());
            routes.push_back(toolstest::freePort());
        }
        for (size_t i = 0; i < 3; ++i) {
            std::string list;
            for (size_t j = 0; j < 3; ++j) {
                if (j != i) list += (list.empty() ? "" : ",") + url(routes[j]);
            }
            servers.push_back(std::make_unique<toolstest::Process>(std::vector<std::string>{
                FY_NATS_SERVER_PATH, "-a", "127.0.0.1", "-p", std::to_string(ports[i]), "-n", "b" + std::to_string(i),
                "--cluster_name", "fybench", "--cluster", url(routes[i]), "--routes", list}));
        }
        for (int port : ports) {
            while (!toolstest::canConnect(port)) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));   // routes
    }
};

// N direct clients of the host on four threads, each thread polling its streams.
void runDirect(int port, int count, PathStats& stats, const std::atomic<bool>& stop) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::vector<std::unique_ptr<frameyard::RealtimeStream>> streams;
            std::vector<long> lastSecondFrame;
            for (int i = t; i < count; i += 4) {
                streams.push_back(std::make_unique<frameyard::RealtimeStream>(frameyard::Endpoint{"127.0.0.1", port, 5000}));
            }
            frameyard::Frame frame;
            std::string message;
            std::vector<pollfd> fds(streams.size());
            while (!stop) {
                for (size_t i = 0; i < streams.size(); ++i) fds[i] = pollfd{streams[i]->descriptor(), POLLIN, 0};
                if (::poll(fds.data(), fds.size(), 100) <= 0) continue;
                for (size_t i = 0; i < streams.size(); ++i) {
                    if (!(fds[i].revents & POLLIN)) continue;
                    streams[i]->readAvailable();
                    while (streams[i]->poll(frame, message) == frameyard::Got::frame) {
                        const frameyard::Timecode& tc = *frame.timecode;
                        stats.add(latencySeconds(tc[0], tc[1], tc[2], tc[3]));
                    }
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
}

void runOnce(int subscribers, double seconds) {
    Cluster cluster;
    toolstest::SimHost host({"--cameras", "8", "--blobs", "200", "--fps", std::to_string(fps), "--time-of-day", "--quiet"});
    PathStats viaNats, direct;
    std::vector<Subscriber> subs(static_cast<size_t>(subscribers));
    for (size_t i = 0; i < subs.size(); ++i) {
        subs[i].stats = &viaNats;
        std::string address = url(cluster.ports[i % 3]);
        natsConnection_ConnectTo(&subs[i].connection, address.c_str());
        natsConnection_Subscribe(&subs[i].subscription, subs[i].connection, "frameyard.frames", onFrame, &subs[i]);
        natsSubscription_SetPendingLimits(subs[i].subscription, -1, -1);
    }
    // The two paths one after the other against the same host: on a small machine the host
    // cannot feed both at once, and each should be measured at the full rate.
    toolstest::Process bridge({FY_BRIDGE_PATH, "--port", std::to_string(host.port()), "--nats", url(cluster.ports[0]), "--quiet"});
    std::this_thread::sleep_for(std::chrono::seconds(2));   // warm-up
    double cpuBefore = cpuSeconds(bridge.processId());
    viaNats.measuring = true;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    viaNats.measuring = false;
    double cpu = (cpuSeconds(bridge.processId()) - cpuBefore) / seconds * 100.0;
    bridge.stop(SIGTERM);
    for (Subscriber& sub : subs) {
        natsSubscription_Destroy(sub.subscription);
        natsConnection_Destroy(sub.connection);
    }
    std::atomic<bool> stopDirect{false};
    std::thread directThread([&] { runDirect(host.port(), subscribers, direct, stopDirect); });
    std::this_thread::sleep_for(std::chrono::seconds(2));
    direct.measuring = true;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    direct.measuring = false;
    stopDirect = true;
    directThread.join();
    double perSubscriber = static_cast<double>(viaNats.frames) / seconds / subscribers;
    double perClient = static_cast<double>(direct.frames) / seconds / subscribers;
    double bridgeP50 = viaNats.percentileMs(0.5), bridgeP99 = viaNats.percentileMs(0.99);
    double directP50 = direct.percentileMs(0.5), directP99 = direct.percentileMs(0.99);
    std::printf("%d subscribers / %d direct clients, %.0f s measured:\n", subscribers, subscribers, seconds);
    std::printf("  bridge+NATS : %6.1f frames/s per subscriber, lost %llu, repeated %llu, undecodable %llu, p50 %.2f ms, p99 %.2f ms\n",
                perSubscriber, static_cast<unsigned long long>(viaNats.gaps.load()),
                static_cast<unsigned long long>(viaNats.repeats.load()),
                static_cast<unsigned long long>(viaNats.broken.load()), bridgeP50, bridgeP99);
    std::printf("  direct      : %6.1f frames/s per client,     p50 %.2f ms, p99 %.2f ms\n", perClient, directP50, directP99);
    std::printf("  latency ratio bridge/direct: p50 %.2f, p99 %.2f; bridge CPU %.0f %% of one core\n",
                directP50 > 0 ? bridgeP50 / directP50 : 0, directP99 > 0 ? bridgeP99 / directP99 : 0, cpu);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> counts{"64", "256"};
    double seconds = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        if (option == "--subscribers") counts = bridge::splitList(argv[i + 1]);
        else if (option == "--seconds") seconds = std::atof(argv[i + 1]);
    }
    if (access(FY_NATS_SERVER_PATH, X_OK) != 0) {
        std::fprintf(stderr, "bridge_bench: nats-server not found at %s\n", FY_NATS_SERVER_PATH);
        return 1;
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::printf("host: %d frames/s, 8 cameras x 200 centroids, full form with timecodes; cluster of 3 nats-servers\n", fps);
    for (const std::string& count : counts) runOnce(std::atoi(count.c_str()), seconds);
    return 0;
}
