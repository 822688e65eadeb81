// frameyard-simhost: a camera host over simulated cameras, serving them with frameyard.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "tools/frameyard-simhost/process_stats.h"
#include "tools/frameyard-simhost/sim_host.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int) { stopRequested = 1; }

struct Options {
    simhost::HostOptions host;
    int port = 4000;
    double seconds = 0.0;
    bool quiet = false;
    bool stats = false;
};

const char kUsage[] =
    "usage: frameyard-simhost [options]\n"
    "Serves simulated cameras over frameyard until interrupted (SIGINT or SIGTERM).\n"
    "  --port N       listening port (default 4000)\n"
    "  --cameras N    number of cameras, 1 to 64 (default 4)\n"
    "  --width N      image width in pixels (default 640)\n"
    "  --height N     image height in pixels (default 480)\n"
    "  --blobs N      blobs per camera, 0 to 2000 (default 20)\n"
    "  --fps F        frames per second of the simulated cameras (default 100)\n"
    "  --seconds S    stop by itself after S seconds (default 0: run until interrupted)\n"
    "  --quiet        no status line every second\n"
    "  --stats        a line every second with the host's open descriptors, resident memory and\n"
    "                 its longest checkForEvent() call (and the longest that moved no frame)\n"
    "  --time-of-day  timecodes give the time of day (UTC) and no frame is skipped\n"
    "  --help         this text\n";

[[noreturn]] void usageError(const std::string& message) {
    std::fprintf(stderr, "frameyard-simhost: %s\n%s", message.c_str(), kUsage);
    std::exit(2);
}

double number(const char* option, const char* text, double low, double high) {
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(value >= low && value <= high)) {
        usageError(std::string(option) + " needs a number from " + std::to_string(static_cast<long long>(low)) +
                   " to " + std::to_string(static_cast<long long>(high)) + ", not '" + text + "'");
    }
    return value;
}

int integer(const char* option, const char* text, int low, int high) {
    double value = number(option, text, low, high);
    if (value != static_cast<int>(value)) usageError(std::string(option) + " needs a whole number, not '" + text + "'");
    return static_cast<int>(value);
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (arg == "--quiet" || arg == "--stats" || arg == "--time-of-day") {
            if (arg == "--quiet") options.quiet = true;
            if (arg == "--stats") options.stats = true;
            if (arg == "--time-of-day") options.host.timeOfDay = true;
            continue;
        }
        if (i + 1 >= argc) usageError(arg.rfind("--", 0) == 0 ? arg + " needs a value" : "unknown argument '" + arg + "'");
        const char* value = argv[++i];
        if (arg == "--port") options.port = integer("--port", value, 1, 65535);
        else if (arg == "--cameras") options.host.cameras = integer("--cameras", value, 1, 64);
        else if (arg == "--width") options.host.width = integer("--width", value, 1, 65535);
        else if (arg == "--height") options.host.height = integer("--height", value, 1, 65535);
        else if (arg == "--blobs") options.host.blobs = integer("--blobs", value, 0, 2000);
        else if (arg == "--fps") options.host.fps = number("--fps", value, 1, 1000);
        else if (arg == "--seconds") options.seconds = number("--seconds", value, 0, 1e9);
        else usageError("unknown option '" + arg + "'");
    }
    return options;
}

void installSignals() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

double secondsSince(const timespec& start) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - start.tv_sec) + static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    Options options = parse(argc, argv);
    installSignals();

    simhost::SimHost host(options.host);
    host.setListenPort(options.port);
    host.setFrameRate(static_cast<float>(options.host.fps));
    host.setTimecodeRate(static_cast<float>(options.host.fps));
    if (!host.startListening()) return 1;
    std::printf("frameyard-simhost: listening on port %d: %d cameras of %dx%d, %d blobs each, %g frames/s\n",
                options.port, options.host.cameras, options.host.width, options.host.height, options.host.blobs,
                options.host.fps);
    std::fflush(stdout);

    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    double nextStatus = 1.0;
    uint64_t framesAtLastStatus = 0;
    const timespec pause{0, 1000000};   // 1 ms between passes of the main loop
    simhost::CallTimer timer;
    while (!stopRequested) {
        uint64_t framesBefore = host.framesServed();
        timer.begin();
        host.checkForEvent();
        timer.end(host.framesServed() != framesBefore);
        host.tick();
        double elapsed = secondsSince(start);
        if (options.seconds > 0 && elapsed >= options.seconds) break;
        if (elapsed >= nextStatus) {
            nextStatus += 1.0;
            if (!options.quiet) {
                std::printf("frameyard-simhost: %us: %u client%s, %llu frames served in the last second, %llu in all\n",
                            static_cast<unsigned>(elapsed), host.clientCount(), host.clientCount() == 1 ? "" : "s",
                            static_cast<unsigned long long>(host.framesServed() - framesAtLastStatus),
                            static_cast<unsigned long long>(host.framesServed()));
                std::fflush(stdout);
            }
            framesAtLastStatus = host.framesServed();
            if (options.stats) {
                std::printf("frameyard-simhost: stats t=%u descriptors=%d rss_kib=%ld longest_ms=%.3f "
                            "longest_without_frame_ms=%.3f clients=%u\n",
                            static_cast<unsigned>(elapsed), simhost::openDescriptors(), simhost::residentKib(),
                            timer.longest() * 1e3, timer.longestWithoutFrame() * 1e3, host.clientCount());
                std::fflush(stdout);
            }
            timer.reset();
        }
        nanosleep(&pause, nullptr);
    }
    host.stopListening();
    std::printf("frameyard-simhost: stopped after %.1f s, %llu frames served\n", secondsSince(start),
                static_cast<unsigned long long>(host.framesServed()));
    return 0;
}
