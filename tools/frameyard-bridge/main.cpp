// frameyard-bridge: a frameyard host's realtime frames and notifications published to a NATS
// server or cluster, its camera descriptions answered there, and (with --control) thresholds
// and settings changed from there.
#include <csignal>
#include <cstdio>
#include <stdexcept>

#include "tools/frameyard-bridge/bridge_options.h"
#include "tools/frameyard-bridge/host_feed.h"
#include "tools/frameyard-bridge/nats_link.h"
#include "tools/frameyard-bridge/publisher.h"
#include "tools/frameyard-bridge/responders.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

void installSignals() {
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

void printStatus(const bridge::HostFeed& feed, const bridge::Publisher& publisher, const bridge::NatsLink& nats) {
    std::printf("frames in %llu, published %llu, dropped %llu, nats %s\n",
                static_cast<unsigned long long>(feed.framesIn()), static_cast<unsigned long long>(publisher.published()),
                static_cast<unsigned long long>(publisher.dropped()), nats.serverInUse().c_str());
    std::fflush(stdout);
}

void run(const bridge::BridgeOptions& options) {
    using Clock = std::chrono::steady_clock;
    frameyard::Endpoint host{options.host, options.port, 5000};
    bridge::NatsLink nats(options.natsUrls);
    bridge::CameraDirectory directory;
    bridge::Publisher publisher(nats, options.prefix, {options.jetstream, options.maxAgeSeconds});
    bridge::Responders responders(nats.connection(), options.prefix, options.control, directory, host);
    bridge::HostFeed feed(host, options.cameras, publisher, directory);
    Clock::time_point start = Clock::now();
    Clock::time_point nextStatus = start + std::chrono::seconds(1);
    auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.seconds));
    while (!stopRequested && (options.seconds == 0 || Clock::now() < end)) {
        feed.step(50);
        if (Clock::now() >= nextStatus) {
            if (!options.quiet) printStatus(feed, publisher, nats);
            nextStatus += std::chrono::seconds(1);
        }
    }
    publisher.finish(2000);
}

}  // namespace

int main(int argc, char** argv) {
    bridge::BridgeOptions options;
    try {
        options = bridge::parseBridgeOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "frameyard-bridge: %s\n", error.what());
        return 2;
    }
    if (options.help) {
        std::fputs(bridge::bridgeUsage().c_str(), stdout);
        return 0;
    }
    installSignals();
    try {
        run(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "frameyard-bridge: %s\n", error.what());
        return 1;
    }
    return 0;
}
