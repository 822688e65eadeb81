// live: one camera's live features (run segments and, on request, its images) with a line of
// figures per second, image files or a picture in the terminal.
#include <sys/stat.h>

#include <cstdio>

#include "tools/frameyard-client/cli_args.h"
#include "tools/frameyard-client/commands.h"
#include "tools/frameyard-client/live_output.h"
#include "tools/frameyard-client/stream_setup.h"
#include "tools/frameyard-client/terminal.h"

namespace fycli {
namespace {

// Totals since the start; a report compares them with the totals of the one before.
struct LiveCounts {
    uint64_t frames = 0, segments = 0, images = 0, bytes = 0;
};

std::string reportLine(double elapsed, const LiveCounts& now, const LiveCounts& before, double seconds,
                       const std::optional<std::array<uint8_t, 4>>& timecode) {
    uint64_t frames = now.frames - before.frames;
    char line[200];
    std::snprintf(line, sizeof line,
                  "%5.1fs  %6.1f frames/s  %7.1f segments/frame  %6.1f images/s  %10.0f bytes/s  timecode %s", elapsed,
                  frames / seconds, frames ? double(now.segments - before.segments) / frames : 0.0,
                  (now.images - before.images) / seconds, (now.bytes - before.bytes) / seconds,
                  timecode ? frameyard::formatTimecode(*timecode).c_str() : "-");
    return line;
}

void requireDirectory(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        throw frameyard::Error("--save: '" + path + "' is not a directory");
    }
}

}  // namespace

int runLive(const frameyard::Endpoint& endpoint, const std::vector<std::string>& words) {
    Args args = parseArgs(words, {"--images", "--view"}, {"--seconds", "--save"});
    if (printedHelp("live", args.help)) return 0;
    if (args.positional.size() != 1) throw UsageError("live takes one CAMERA");
    double seconds = args.values.count("--seconds") ? parseNumber(args.value("--seconds"), "--seconds") : 0.0;
    if (seconds < 0) throw UsageError("--seconds must not be negative");
    const std::string camera = args.positional[0];
    const std::string saveDir = args.value("--save");
    bool view = args.has("--view");
    // Files and pictures are made of images: asking for them asks for images.
    bool images = args.has("--images") || !saveDir.empty() || view;
    if (!saveDir.empty()) requireDirectory(saveDir);

    installInterruptHandler();
    // The stream acknowledges every image on receipt, so that the server keeps one more coming.
    frameyard::LiveOptions options;
    options.camera = camera;
    options.images = images;
    frameyard::LiveStream stream(endpoint, options);
    if (!view) {
        std::printf("live features of %s from %s (%s)\n", camera.c_str(), endpoint.text().c_str(),
                    images ? "with images" : "segments only");
        std::fflush(stdout);
    }

    int columns = 80, rows = 24;
    terminalSize(columns, rows);
    std::optional<CursorGuard> cursor;
    if (view) cursor.emplace();
    RunLimit limit(seconds);
    LiveCounts counts, atReport;
    std::string lastReport = "waiting for the first frame";
    std::optional<std::array<uint8_t, 4>> timecode;
    frameyard::LiveImage latest;
    frameyard::LiveFrame frame;
    std::string message;
    Clock::time_point reported = limit.start, drawn = limit.start - std::chrono::seconds(1);
    while (!limit.over()) {
        frameyard::Got got = stream.next(frame, message, 20);
        if (got == frameyard::Got::message && !view) std::printf("message %s\n", message.c_str());
        if (got == frameyard::Got::frame) {
            ++counts.frames;
            counts.segments += frame.segments.size();
            counts.bytes = stream.frameBytesReceived();
            if (frame.timecode) timecode = frame.timecode;
            if (frame.image) {
                ++counts.images;
                if (!saveDir.empty())
                    saveImage(saveDir + "/" + imageFileName(camera, frame.timecode, counts.images), *frame.image);
                latest = std::move(*frame.image);
            }
        }
        Clock::time_point now = Clock::now();
        if (secondsBetween(reported, now) >= 1.0) {
            lastReport = reportLine(limit.elapsed(), counts, atReport, secondsBetween(reported, now), timecode);
            if (!view) std::printf("%s\n", lastReport.c_str());
            atReport = counts;
            reported = now;
        }
        if (view && secondsBetween(drawn, now) >= 0.1) {
            drawn = now;
            std::vector<std::string> lines{("frameyard-client live " + camera + "  " + lastReport).substr(
                0, static_cast<size_t>(columns))};
            for (std::string& line : shadeImage(latest, columns, rows - 1)) lines.push_back(std::move(line));
            drawInPlace(lines);
        }
        std::fflush(stdout);
    }
    if (cursor) cursor->restore();
    double elapsed = limit.elapsed();
    std::printf("received %llu frames and %llu images in %.1f s\n", static_cast<unsigned long long>(counts.frames),
                static_cast<unsigned long long>(counts.images), elapsed);
    if (counts.frames == 0) {
        throw frameyard::Error("no frames arrived in " + std::to_string(static_cast<int>(elapsed)) + " s");
    }
    return 0;
}

}  // namespace fycli
