// export: a recording as CSV rows for analysis tools, or summed up per camera.
#include <cstdio>

#include "tools/frameyard-client/cli_args.h"
#include "tools/frameyard-client/commands.h"
#include "tools/frameyard-client/stream_setup.h"
#include "tools/recording/recording.h"
#include "tools/recording/recording_summary.h"

namespace fycli {
namespace {

// An output file, or standard output for "-"; closing reports a failed write.
class Output {
public:
    explicit Output(const std::string& path) : path(path), file(path == "-" ? stdout : std::fopen(path.c_str(), "w")) {
        if (file == nullptr) throw frameyard::Error("cannot create " + path);
    }
    ~Output() {
        if (file != nullptr && file != stdout) std::fclose(file);
    }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    std::FILE* get() { return file; }
    void close() {
        bool failed = std::ferror(file) != 0 || (file == stdout ? std::fflush(file) : std::fclose(file)) != 0;
        file = nullptr;
        if (failed) throw frameyard::Error("cannot write " + path);
    }

private:
    std::string path;
    std::FILE* file;
};

void writeCsv(const fyrec::Recording& recording, const std::string& path) {
    Output out(path);
    std::fputs("frame,receive_time,timecode,camera,x,y\n", out.get());
    for (size_t f = 0; f < recording.frames.size(); ++f) {
        const fyrec::FrameRecord& frame = recording.frames[f];
        std::string timecode = frame.timecode ? frameyard::formatTimecode(*frame.timecode) : "";
        for (size_t c = 0; c < frame.cameras.size(); ++c) {
            const std::string& camera = recording.header.cameras[c].name;
            for (const fyrec::Point& p : frame.cameras[c]) {
                // %.9g keeps every bit of a float, so a CSV loses nothing of the recording.
                std::fprintf(out.get(), "%zu,%.6f,%s,%s,%.9g,%.9g\n", f, static_cast<double>(frame.micros) / 1e6,
                             timecode.c_str(), camera.c_str(), static_cast<double>(p.x), static_cast<double>(p.y));
            }
        }
    }
    out.close();
}

void printSummary(const fyrec::Recording& recording, const std::string& path) {
    fyrec::Summary summary = fyrec::summarize(recording);
    const fyrec::Header& h = recording.header;
    std::printf("%s: format %u.%u, %zu frames in %.2f s, %zu camera%s, %s centroids%s\n", path.c_str(), h.major,
                h.minor, summary.frames, summary.seconds, h.cameras.size(), h.cameras.size() == 1 ? "" : "s",
                h.compact ? "compact" : "full", h.timecodes ? ", timecodes" : "");
    std::string jitter = "-  -";
    if (summary.jitter) {
        char text[64];
        std::snprintf(text, sizeof text, "%.3f  %.3f", summary.jitter->p50 * 1e3, summary.jitter->p99 * 1e3);
        jitter = text;
        std::printf("frame interval %.3f ms; jitter is each gap's distance from it\n", summary.jitter->nominalInterval * 1e3);
    }
    std::printf("camera        size      frames  centroids min  mean  max  jitter p50  p99 (ms)\n");
    for (size_t c = 0; c < summary.cameras.size(); ++c) {
        const fyrec::CameraSummary& s = summary.cameras[c];
        std::string size = std::to_string(h.cameras[c].width) + "x" + std::to_string(h.cameras[c].height) +
                           (h.cameras[c].sizeGiven ? "" : "?");
        std::printf("%-13s %-9s %6zu  %13zu %5.1f %4zu  %s\n", s.name.c_str(), size.c_str(), s.frames, s.minCentroids,
                    s.meanCentroids, s.maxCentroids, jitter.c_str());
    }
}

}  // namespace

int runExport(const frameyard::Endpoint&, const std::vector<std::string>& words) {
    Args args = parseArgs(words, {"--summary"}, {"--csv"});
    if (printedHelp("export", args.help)) return 0;
    if (args.positional.size() != 1) throw UsageError("export needs one recording FILE");
    if (!args.values.count("--csv") && !args.has("--summary")) throw UsageError("export needs --csv OUT or --summary");
    const std::string& path = args.positional[0];
    fyrec::Recording recording = fyrec::readRecording(path);
    if (args.values.count("--csv")) writeCsv(recording, args.value("--csv"));
    if (args.has("--summary")) printSummary(recording, path);
    // What came before the damage was exported; the damage still fails the command.
    if (recording.error) throw frameyard::Error(*recording.error);
    return 0;
}

}  // namespace fycli
