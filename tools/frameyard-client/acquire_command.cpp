// acquire: records fields on the host, shows the progress, downloads them and writes them out.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>

#include "tools/frameyard-client/cli_args.h"
#include "tools/frameyard-client/commands.h"
#include "tools/frameyard-client/stream_setup.h"

namespace fycli {
namespace {

using Clock = std::chrono::steady_clock;

// One line on standard error redrawn in place; only on a terminal, so that logs stay clean.
class ProgressBar {
public:
    explicit ProgressBar(const char* label) : label(label), shown(isatty(STDERR_FILENO) == 1) {}
    ~ProgressBar() { finish(); }
    void draw(double fraction, const std::string& detail) {
        if (!shown) return;
        fraction = fraction < 0 ? 0 : fraction > 1 ? 1 : fraction;
        std::string bar(30, '.');
        std::fill(bar.begin(), bar.begin() + static_cast<long>(fraction * 30), '#');
        std::fprintf(stderr, "\r%-9s [%s] %s\x1b[K", label, bar.c_str(), detail.c_str());
        std::fflush(stderr);
        drawn = true;
    }
    void finish() {
        if (drawn) std::fputc('\n', stderr);
        drawn = false;
    }

private:
    const char* label;
    bool shown;
    bool drawn = false;
};

// centroids.csv and one PGM picture per field and camera that carried an image.
class AcquisitionFiles {
public:
    explicit AcquisitionFiles(const std::string& dir) : dir(dir) {
        std::error_code error;
        std::filesystem::create_directories(dir, error);
        csv.open(dir + "/centroids.csv");
        if (!csv) throw frameyard::Error("cannot write " + dir + "/centroids.csv");
        csv << "field,timecode,camera,x,y,flags\n";
    }
    void add(const frameyard::AcquiredField& field) {
        std::string timecode = field.timecode ? frameyard::formatTimecode(*field.timecode) : "";
        for (size_t c = 0; c < field.cameras.size(); ++c) {
            const frameyard::AcquiredCamera& camera = field.cameras[c];
            char line[96];
            for (const frameyard::AcquiredCentroid& centroid : camera.centroids) {
                std::snprintf(line, sizeof line, "%u,%s,%zu,%.10g,%.10g,%u\n", field.number, timecode.c_str(), c,
                              centroid.x / 128.0, centroid.y / 128.0, centroid.flags);
                csv << line;
            }
            if (!camera.pixels.empty()) writePicture(field.number, c, camera);
        }
        if (!csv) throw frameyard::Error("cannot write " + dir + "/centroids.csv");
    }
    int pictures() const { return pictureCount; }

private:
    void writePicture(uint16_t number, size_t c, const frameyard::AcquiredCamera& camera) {
        std::string path = dir + "/field" + std::to_string(number) + "_camera" + std::to_string(c) + ".pgm";
        std::ofstream out(path, std::ios::binary);
        out << "P5\n" << camera.width << " " << camera.height << "\n255\n";
        out.write(reinterpret_cast<const char*>(camera.pixels.data()), static_cast<std::streamsize>(camera.pixels.size()));
        if (!out) throw frameyard::Error("cannot write " + path);
        ++pictureCount;
    }

    std::string dir;
    std::ofstream csv;
    int pictureCount = 0;
};

std::string megabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
    return text;
}

// Waits for the server's answer to a step or the ready signal, giving up on an interrupt.
void waitFor(const std::function<bool(int)>& arrived, int timeoutMs, const char* what) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!arrived(100)) {
        if (interrupted) throw frameyard::Error("interrupted while waiting for " + std::string(what));
        if (Clock::now() > deadline) throw frameyard::Error(std::string("the host was not ") + what + " in time");
    }
}

// Recording until the data begins; the first interrupt stops the recording, a second one quits.
void record(frameyard::Acquisition& session, uint32_t fields, int timeoutMs) {
    ProgressBar bar("recording");
    bool stopSent = false;
    auto lastNews = Clock::now();
    frameyard::AcquireProgress progress;
    for (;;) {
        if (interrupted && !stopSent) {
            session.stop();
            stopSent = true;
            interrupted = 0;
        } else if (interrupted) {
            throw frameyard::Error("interrupted");
        }
        bool progressed = session.nextProgress(progress, 100);
        if (session.downloading()) return;
        if (progressed) {
            lastNews = Clock::now();
            bar.draw(progress.value / 65535.0, std::to_string(session.recordedFields()) + "/" + std::to_string(fields) +
                                                   " fields");
        } else if (Clock::now() - lastNews > std::chrono::milliseconds(timeoutMs)) {
            throw frameyard::Error("no progress from the host in " + std::to_string(timeoutMs) + " ms");
        }
    }
}

}  // namespace

int runAcquire(const frameyard::Endpoint& endpoint, const std::vector<std::string>& words) {
    Args args = parseArgs(words, {"--globs", "--images"}, {"--fields", "--start", "--steps", "--out"});
    if (printedHelp("acquire", args.help)) return 0;
    if (!args.positional.empty()) throw UsageError("acquire takes no positional arguments");
    if (!args.values.count("--fields")) throw UsageError("--fields is required");
    frameyard::AcquireRequest request;
    request.fields = static_cast<uint32_t>(parseInteger(args.value("--fields"), "--fields", 1, 16777216));
    request.startFieldId = static_cast<uint16_t>(parseInteger(args.value("--start", "0"), "--start", 0, 65535));
    request.images = args.has("--images");
    request.centroids = args.has("--globs") || !request.images;
    long steps = parseInteger(args.value("--steps", "0"), "--steps", 0, 1000000);

    installInterruptHandler();
    // The request, and a value of 0 for every camera; a server without acquisitions says so.
    frameyard::Acquisition session(endpoint, request);
    int cameras = session.cameraCount();
    std::printf("acquiring %u fields from %s: %d cameras, %s\n", request.fields, endpoint.text().c_str(), cameras,
                request.centroids && request.images ? "centroids and images" : request.images ? "images" : "centroids");
    std::fflush(stdout);
    waitFor([&](int ms) { return session.waitReady(ms); }, endpoint.timeoutMs, "ready");
    for (long i = 0; i < steps; ++i) {
        bool stepped = session.step(100);
        if (!stepped) waitFor([&](int ms) { return session.waitStepped(ms); }, endpoint.timeoutMs, "stepping");
    }
    if (steps > 0) std::printf("armed with %ld steps\n", steps);
    session.start();
    record(session, request.fields, endpoint.timeoutMs);
    std::printf("recorded %u fields\n", session.recordedFields());
    std::fflush(stdout);

    std::unique_ptr<AcquisitionFiles> files;
    if (args.values.count("--out")) files = std::make_unique<AcquisitionFiles>(args.value("--out"));
    ProgressBar bar("download");
    uint32_t downloaded = 0;
    session.download([&](const frameyard::AcquiredField& field) {
        if (interrupted) throw frameyard::Error("interrupted during the download");
        ++downloaded;
        if (files) files->add(field);
        uint32_t expected = std::max(session.recordedFields(), downloaded);
        bar.draw(double(downloaded) / expected, std::to_string(downloaded) + "/" + std::to_string(expected) +
                                                    " fields, " + megabytes(session.downloadedBytes()));
    });
    bar.finish();
    std::printf("downloaded %u fields, %llu bytes\n", downloaded,
                static_cast<unsigned long long>(session.downloadedBytes()));
    if (files) std::printf("wrote %s/centroids.csv and %d images\n", args.value("--out").c_str(), files->pictures());
    return 0;
}

}  // namespace fycli
