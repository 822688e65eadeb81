// A connection storm, as after a host restart: 100, 500 and 1,000 clients connect at once to a
// host whose loop polls and then sleeps a millisecond, and each sends a command exchange. The
// figure is the time until every client has its answer. A plain program: each run is a timed
// load test, not a micro-benchmark.
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "tests/test_client.h"
#include "tests/test_host.h"

namespace {

using Clock = std::chrono::steady_clock;

const Bytes answer = u32(4) + bytesOf("\"ok\"");

// Milliseconds until every client was answered, or a negative value when some were not
// within ten seconds.
double storm(int count, int& polls) {
    TestHost host;
    int port = freeLoopbackPort();
    host.setListenPort(port);
    if (port <= 0 || !host.startListening()) return -1;
    std::vector<std::unique_ptr<TestClient>> clients;
    Clock::time_point start = Clock::now();
    for (int i = 0; i < count; ++i) {
        clients.push_back(std::make_unique<TestClient>(port));
        if (!clients.back()->isConnected() || !clients.back()->send(commandRequest("\"enable_realtime_messages\"")))
            return -1;
    }
    std::vector<Bytes> received(clients.size());
    size_t done = 0;
    polls = 0;
    while (done < clients.size() && Clock::now() - start < std::chrono::seconds(10)) {
        host.checkForEvent();
        ++polls;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        done = 0;
        for (size_t i = 0; i < clients.size(); ++i) {
            Bytes more = clients[i]->readAvailable();
            received[i].insert(received[i].end(), more.begin(), more.end());
            if (received[i] == answer) ++done;
        }
    }
    if (done < clients.size()) return -1;
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main() {
    int status = 0;
    for (int count : {100, 500, 1000}) {
        if (raiseDescriptorLimit(2L * count + 64) < 2L * count + 64) {
            std::printf("connection storm: cannot open %d descriptors here\n", 2 * count + 64);
            return 1;
        }
        int polls = 0;
        double ms = storm(count, polls);
        if (ms < 0) {
            std::printf("connection storm: %4d clients at once: NOT all answered within 10 s\n", count);
            status = 1;
            continue;
        }
        std::printf("connection storm: %4d clients at once, host sleeping 1 ms per loop: all answered in %.1f ms "
                    "(%d polls)\n",
                    count, ms, polls);
    }
    return status;
}
