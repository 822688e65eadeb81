// frameyard-simhost: a camera host over simulated cameras, serving them with frameyard.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "tools/frameyard-simhost/process_stats.h"
#include "tools/frameyard-simhost/replay_scene.h"
#include "tools/frameyard-simhost/sim_host.h"
#include "tools/frameyard-simhost/sim_source.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int) { stopRequested = 1; }

struct Options {
    simhost::HostOptions host;
    std::string replay;   // a recording to serve instead of the simulated scene
    simhost::ReplayOptions replayOptions;
    bool sceneOptionGiven = false;
    int port = 4000;
    // Empty: the library's defaults (every IPv4 address; every client may connect and change).
    std::string listen;
    std::string allow;
    std::string control;
    unsigned int maxClients = 0;
    double seconds = 0.0;
    bool quiet = false;
    bool stats = false;
};

const char kUsage[] =
    "usage: frameyard-simhost [options]\n"
    "       frameyard-simhost --replay FILE [--loop] [--speed X] [--port N] [--seconds S] [--quiet]\n"
    "Serves simulated cameras over frameyard until interrupted (SIGINT or SIGTERM), or the cameras\n"
    "and frames of a recording made by 'frameyard-client record'.\n"
    "  --port N       listening port (default 4000)\n"
    "  --listen ADDRESS  numeric IPv4 or IPv6 address to listen on: 127.0.0.1, ::1, :: for every\n"
    "                 address of both families (default 0.0.0.0, every IPv4 address)\n"
    "  --allow LIST   only these clients may connect: comma-separated addresses and networks,\n"
    "                 as in 127.0.0.1,192.168.10.0/24,fd00::/8 (default: every client)\n"
    "  --control LIST only these clients may change thresholds, settings, masks and start\n"
    "                 acquisitions; the others read and stream (default: every client)\n"
    "  --max-clients N  at most N clients at once (default 0: no limit)\n"
    "  --cameras N    number of cameras, 1 to 64 (default 4)\n"
    "  --width N      image width in pixels (default 640)\n"
    "  --height N     image height in pixels (default 480)\n"
    "  --blobs N      blobs per camera, 0 to 2000 (default 20)\n"
    "  --fps F        frames per second of the simulated cameras (default 100)\n"
    "  --seconds S    stop by itself after S seconds (default 0: run until interrupted)\n"
    "  --quiet        no status line every second\n"
    "  --replay FILE  serve the recorded cameras (names, sizes, thresholds, settings) and frames\n"
    "                 with their timecodes at the recorded pace; each time realtime starts the\n"
    "                 replay begins again: a lead-in copy of the first frame (a client that asks\n"
    "                 for timecodes spends it on the start signal), then every recorded frame\n"
    "  --loop         start the recording over after its last frame instead of stopping\n"
    "  --speed X      X times the recorded pace; 0: one frame per pass of the host's loop\n"
    "                 (default 1)\n"
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
        if (arg == "--quiet" || arg == "--loop" || arg == "--stats" || arg == "--time-of-day") {
            if (arg == "--quiet") options.quiet = true;
            if (arg == "--loop") options.replayOptions.loop = true;
            if (arg == "--stats") options.stats = true;
            if (arg == "--time-of-day") options.host.timeOfDay = options.sceneOptionGiven = true;
            continue;
        }
        if (i + 1 >= argc) usageError(arg.rfind("--", 0) == 0 ? arg + " needs a value" : "unknown argument '" + arg + "'");
        const char* value = argv[++i];
        bool sceneOption = arg == "--cameras" || arg == "--width" || arg == "--height" || arg == "--blobs" ||
                           arg == "--fps";
        options.sceneOptionGiven = options.sceneOptionGiven || sceneOption;
        if (arg == "--port") options.port = integer("--port", value, 1, 65535);
        else if (arg == "--listen") options.listen = value;
        else if (arg == "--allow") options.allow = value;
        else if (arg == "--control") options.control = value;
        else if (arg == "--max-clients") options.maxClients = unsigned(integer("--max-clients", value, 0, 1000000));
        else if (arg == "--replay") options.replay = value;
        else if (arg == "--speed") options.replayOptions.speed = number("--speed", value, 0, 1000);
        else if (arg == "--cameras") options.host.cameras = integer("--cameras", value, 1, 64);
        else if (arg == "--width") options.host.width = integer("--width", value, 1, 65535);
        else if (arg == "--height") options.host.height = integer("--height", value, 1, 65535);
        else if (arg == "--blobs") options.host.blobs = integer("--blobs", value, 0, 2000);
        else if (arg == "--fps") options.host.fps = number("--fps", value, 1, 1000);
        else if (arg == "--seconds") options.seconds = number("--seconds", value, 0, 1e9);
        else usageError("unknown option '" + arg + "'");
    }
    if (options.replay.empty() && (options.replayOptions.loop || options.replayOptions.speed != 1.0)) {
        usageError("--loop and --speed apply to --replay");
    }
    if (!options.replay.empty() && options.sceneOptionGiven) {
        usageError("--replay serves the recorded cameras; --cameras, --width, --height, --blobs, --fps and --time-of-day do not apply");
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

// The recording as a frame source; a damaged tail is reported and the frames before it served.
std::unique_ptr<simhost::ReplayScene> loadReplay(const Options& options) {
    try {
        fyrec::Recording recording = fyrec::readRecording(options.replay);
        if (recording.error) {
            std::fprintf(stderr, "frameyard-simhost: warning: %s; replaying the %zu frames before it\n",
                         recording.error->c_str(), recording.frames.size());
        }
        return std::make_unique<simhost::ReplayScene>(recording, options.replayOptions);
    } catch (const fyrec::RecordingError& error) {
        std::fprintf(stderr, "frameyard-simhost: %s\n", error.what());
        std::exit(1);
    }
}

// " of ADDRESS" after the port when an address was chosen.
std::string listenNote(const Options& options) { return options.listen.empty() ? "" : " of " + options.listen; }

}  // namespace

int main(int argc, char** argv) {
    Options options = parse(argc, argv);
    installSignals();

    std::unique_ptr<simhost::FrameSource> source;
    simhost::ReplayScene* replay = nullptr;
    if (options.replay.empty()) {
        source = std::make_unique<simhost::SimSource>(options.host);
    } else {
        std::unique_ptr<simhost::ReplayScene> scene = loadReplay(options);
        replay = scene.get();
        source = std::move(scene);
    }
    std::vector<simhost::CameraSetup> cameras = source->cameras();
    simhost::SimHost host(std::move(source));
    host.setListenPort(options.port);
    if (!options.listen.empty()) host.setListenAddress(options.listen);
    if (!host.setAllowedClients(options.allow))
        usageError("--allow needs a list of addresses and networks, not '" + options.allow + "'");
    if (!host.setControllingClients(options.control))
        usageError("--control needs a list of addresses and networks, not '" + options.control + "'");
    host.setMaxClients(options.maxClients);
    if (!host.startListening()) return 1;
    if (replay) {
        std::printf("frameyard-simhost: listening on port %d%s: replaying %s, %zu frames of %zu cameras%s\n",
                    options.port, listenNote(options).c_str(), options.replay.c_str(), replay->recordedFrames(), cameras.size(),
                    options.replayOptions.loop ? ", looped" : "");
    } else {
        std::printf("frameyard-simhost: listening on port %d%s: %d cameras of %dx%d, %d blobs each, %g frames/s\n",
                    options.port, listenNote(options).c_str(), options.host.cameras, options.host.width, options.host.height, options.host.blobs,
                    options.host.fps);
    }
    std::fflush(stdout);
    bool replayDone = false;

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
        bool done = replay && host.lastFrame() && replay->finished(*host.lastFrame());
        if (done && !replayDone) {
            std::printf("frameyard-simhost: replay finished: every recorded frame served\n");
            std::fflush(stdout);
        }
        replayDone = done;
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
