// stream and watch: a realtime session shown as text or as a picture.
#include <chrono>
#include <cstdio>

#include "tools/frameyard-client/ascii_view.h"
#include "tools/frameyard-client/cli_args.h"
#include "tools/frameyard-client/commands.h"
#include "tools/frameyard-client/stream_setup.h"
#include "tools/frameyard-client/terminal.h"

namespace fycli {
namespace {

std::string centroidList(frameyard::CentroidSpan list) {
    std::string out;
    char point[48];
    for (const auto& c : list) {
        std::snprintf(point, sizeof point, " %.2f,%.2f", static_cast<double>(c.x), static_cast<double>(c.y));
        out += point;
    }
    return out;
}

void printFrame(uint64_t number, const frameyard::Frame& frame, const std::vector<std::string>& names) {
    std::string line = "frame " + std::to_string(number);
    if (frame.timecode) line += "  timecode " + frameyard::formatTimecode(*frame.timecode);
    for (size_t c = 0; c < frame.cameraCount(); ++c) {
        line += "  " + (c < names.size() ? names[c] : std::to_string(c + 1)) + " " +
                std::to_string(frame.camera(c).size()) + ":" + centroidList(frame.camera(c));
    }
    std::printf("%s\n", line.c_str());
}

void printSummary(double elapsed, uint64_t frames, double rate, const frameyard::Frame& latest,
                  const std::vector<std::string>& names) {
    std::string line;
    char head[64];
    std::snprintf(head, sizeof head, "%5.1fs  %6.1f frames/s  centroids", elapsed, rate);
    line = head;
    for (size_t c = 0; c < latest.cameraCount(); ++c) {
        line += std::string(c == 0 ? " " : ", ") + (c < names.size() ? names[c] : std::to_string(c + 1)) + " " +
                std::to_string(latest.camera(c).size());
    }
    if (frames == 0) line += " -";
    if (latest.timecode) line += "  timecode " + frameyard::formatTimecode(*latest.timecode);
    std::printf("%s\n", line.c_str());
}

}  // namespace

int runStream(const frameyard::Endpoint& endpoint, const std::vector<std::string>& words) {
    Args args = parseArgs(words, {"--compact", "--timecodes", "--messages", "--print"}, {"--cameras", "--seconds"});
    if (printedHelp("stream", args.help)) return 0;
    if (!args.positional.empty()) throw UsageError("stream takes no positional arguments");
    double seconds = runSeconds(args);

    Selection selection = selectCameras(endpoint, args.value("--cameras"));
    std::vector<std::string> names = selection.names();
    frameyard::RealtimeOptions options;
    options.cameras = selection.wantedNames;
    options.compact = args.has("--compact");
    options.timecodes = args.has("--timecodes");
    options.messages = args.has("--messages");
    // Every monitor, sent once the stream runs.
    if (options.messages) {
        options.monitors = {frameyard::Monitor::frameRate, frameyard::Monitor::timecodeRate,
                            frameyard::Monitor::rectangularMasks, frameyard::Monitor::cameraOnlineStates};
    }
    installInterruptHandler();
    frameyard::RealtimeStream stream(endpoint, options);
    std::string joined;
    for (const auto& n : names) joined += (joined.empty() ? "" : ", ") + n;
    std::printf("streaming %s from %s (%s centroids%s%s)\n", joined.c_str(), endpoint.text().c_str(),
                options.compact ? "compact" : "full", options.timecodes ? ", timecodes" : "",
                options.messages ? ", messages" : "");
    std::fflush(stdout);

    RunLimit limit(seconds);
    uint64_t frames = 0, framesAtReport = 0;
    frameyard::Frame latest, frame;
    std::string message;
    Clock::time_point lastReport = limit.start;
    while (!limit.over()) {
        frameyard::Got got = stream.next(frame, message, 50);
        if (got == frameyard::Got::message) {
            std::printf("message %s\n", message.c_str());
        } else if (got == frameyard::Got::frame) {
            ++frames;
            std::swap(latest, frame);
            if (args.has("--print")) printFrame(frames, latest, names);
        }
        Clock::time_point now = Clock::now();
        if (!args.has("--print") && secondsBetween(lastReport, now) >= 1.0) {
            printSummary(limit.elapsed(), frames, (frames - framesAtReport) / secondsBetween(lastReport, now), latest,
                         names);
            lastReport = now;
            framesAtReport = frames;
        }
        std::fflush(stdout);
    }
    double elapsed = limit.elapsed();
    std::printf("received %llu frames in %.1f s (%.1f frames/s)\n", static_cast<unsigned long long>(frames), elapsed,
                elapsed > 0 ? frames / elapsed : 0.0);
    if (frames == 0) throw frameyard::Error("no frames arrived in " + std::to_string(static_cast<int>(elapsed)) + " s");
    return 0;
}

int runWatch(const frameyard::Endpoint& endpoint, const std::vector<std::string>& words) {
    Args args = parseArgs(words, {}, {"--cameras", "--seconds"});
    if (printedHelp("watch", args.help)) return 0;
    if (!args.positional.empty()) throw UsageError("watch takes no positional arguments");
    double seconds = runSeconds(args);

    Selection selection = selectCameras(endpoint, args.value("--cameras"));
    std::vector<frameyard::Region> regions;
    for (int index : selection.indices) regions.push_back(drawingRegion(selection.all[static_cast<size_t>(index)]));
    installInterruptHandler();
    frameyard::RealtimeOptions options;
    options.cameras = selection.wantedNames;
    options.timecodes = true;
    frameyard::RealtimeStream stream(endpoint, options);

    int columns = 80, rows = 24;
    terminalSize(columns, rows);
    AsciiView view(selection.names(), regions, columns, rows);
    CursorGuard cursor;
    RunLimit limit(seconds);
    uint64_t frames = 0, framesAtRate = 0;
    double rate = 0;
    Clock::time_point lastDraw = limit.start - std::chrono::seconds(1), lastRate = limit.start;
    frameyard::Frame latest, frame;
    std::string message;
    while (!limit.over()) {
        if (stream.next(frame, message, 20) == frameyard::Got::frame) {
            ++frames;
            std::swap(latest, frame);
        }
        Clock::time_point now = Clock::now();
        if (secondsBetween(lastRate, now) >= 1.0) {
            rate = (frames - framesAtRate) / secondsBetween(lastRate, now);
            framesAtRate = frames;
            lastRate = now;
        }
        if (secondsBetween(lastDraw, now) < 0.1) continue;
        lastDraw = now;
        char status[160];
        std::snprintf(status, sizeof status, "frameyard-client watch  %s  %.0f frames/s  timecode %s  (Ctrl-C stops)",
                      endpoint.text().c_str(), rate, latest.timecode ? frameyard::formatTimecode(*latest.timecode).c_str() : "-");
        std::vector<std::string> lines{std::string(status).substr(0, static_cast<size_t>(columns))};
        for (std::string& line : view.draw(latest)) lines.push_back(std::move(line));
        drawInPlace(lines);
    }
    cursor.restore();
    std::printf("watched %llu frames in %.1f s\n", static_cast<unsigned long long>(frames), limit.elapsed());
    if (frames == 0) throw frameyard::Error("no frames arrived");
    return 0;
}

}  // namespace fycli
