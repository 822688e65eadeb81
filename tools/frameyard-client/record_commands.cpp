// record: a realtime stream written to a recording file, with the cameras as described.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "tools/frameyard-client/cli_args.h"
#include "tools/frameyard-client/commands.h"
#include "tools/frameyard-client/stream_setup.h"
#include "tools/recording/recording.h"

namespace fycli {
namespace {

struct ImageSize {
    int width = 0, height = 0;
};

ImageSize parseSize(const std::string& text) {
    size_t x = text.find('x');
    if (x == std::string::npos) throw UsageError("--image-size takes WIDTHxHEIGHT, not '" + text + "'");
    return {static_cast<int>(parseInteger(text.substr(0, x), "--image-size width", 1, 65535)),
            static_cast<int>(parseInteger(text.substr(x + 1), "--image-size height", 1, 65535))};
}

// The edges of a region within what the description's %g numbers keep.
bool sameRegion(const fyrec::DisplayRegion& a, const frameyard::Region& b) {
    auto near = [](float p, float q) { return std::fabs(p - q) <= 0.01f + 1e-5f * std::fabs(q); };
    return near(a.left, b.left) && near(a.right, b.right) && near(a.top, b.top) && near(a.bottom, b.bottom);
}

std::string regionText(const frameyard::Region& r) {
    return frameyard::formatNumber(r.left) + ".." + frameyard::formatNumber(r.right) + " x " +
           frameyard::formatNumber(r.top) + ".." + frameyard::formatNumber(r.bottom);
}

// The wire states each image only in display units, which are the same for every size of one
// aspect ratio; the true size comes from --image-size. Without it the size is taken as the
// region's extent, so positions are kept in display-sized pixels and still replay exactly.
fyrec::CameraEntry describeCamera(const frameyard::Camera& info, std::optional<ImageSize> size, int threshold) {
    fyrec::CameraEntry entry;
    entry.name = info.name;
    frameyard::Region region = info.imageRegion.value_or(frameyard::Region{});
    entry.region = {region.left, region.right, region.top, region.bottom};
    if (size) {
        fyrec::DisplayRegion expected = fyrec::DisplayMapping(size->width, size->height).region();
        if (info.imageRegion && !sameRegion(expected, region)) {
            throw frameyard::Error("--image-size " + std::to_string(size->width) + "x" +
                                        std::to_string(size->height) + " does not fit camera '" + info.name +
                                        "', whose image region is " + regionText(region));
        }
        entry.width = static_cast<uint16_t>(size->width);
        entry.height = static_cast<uint16_t>(size->height);
        entry.sizeGiven = true;
    } else {
        entry.width = static_cast<uint16_t>(std::clamp(std::lround(region.right - region.left), 0l, 65535l));
        entry.height = static_cast<uint16_t>(std::clamp(std::lround(region.bottom - region.top), 0l, 65535l));
    }
    entry.threshold = static_cast<uint16_t>(std::clamp(threshold, 0, 65535));
    for (const auto& s : info.settings) {
        entry.settings.push_back({s.name, static_cast<float>(s.value),
                                  s.minimum ? static_cast<float>(*s.minimum) : -INFINITY,
                                  s.maximum ? static_cast<float>(*s.maximum) : INFINITY, s.precision});
    }
    return entry;
}

std::vector<std::optional<ImageSize>> imageSizes(const std::string& option, size_t cameras) {
    std::vector<std::optional<ImageSize>> sizes(cameras);
    if (option.empty()) return sizes;
    std::vector<std::string> parts = splitList(option, "--image-size");
    if (parts.size() != 1 && parts.size() != cameras) {
        throw UsageError("--image-size needs one size for every camera or one per recorded camera (" +
                         std::to_string(cameras) + ")");
    }
    for (size_t i = 0; i < cameras; ++i) sizes[i] = parseSize(parts[parts.size() == 1 ? 0 : i]);
    return sizes;
}

fyrec::Header makeHeader(const frameyard::Endpoint& endpoint, const Selection& selection, const Args& args) {
    std::vector<int> thresholds = frameyard::Host(endpoint).thresholds();
    std::vector<std::optional<ImageSize>> sizes = imageSizes(args.value("--image-size"), selection.indices.size());
    fyrec::Header header;
    header.startMicros = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                                   std::chrono::system_clock::now().time_since_epoch()).count());
    header.compact = args.has("--compact");
    header.timecodes = true;
    std::string inferred;
    for (size_t i = 0; i < selection.indices.size(); ++i) {
        auto index = static_cast<size_t>(selection.indices[i]);
        int threshold = index < thresholds.size() ? thresholds[index] : 0;
        header.cameras.push_back(describeCamera(selection.all[index], sizes[i], threshold));
        if (!sizes[i]) inferred += (inferred.empty() ? "" : ", ") + selection.all[index].name;
    }
    if (!inferred.empty()) {
        std::fprintf(stderr, "frameyard-client: note: image sizes of %s not given (--image-size WxH); positions are "
                     "kept in display units\n", inferred.c_str());
    }
    return header;
}

// A frame in image pixels, taken back from display units as the server mapped them.
fyrec::FrameRecord toRecord(const frameyard::Frame& frame, const std::vector<fyrec::DisplayMapping>& mappings,
                            uint64_t micros) {
    fyrec::FrameRecord record;
    record.micros = micros;
    record.timecode = frame.timecode;
    for (size_t c = 0; c < frame.cameraCount() && c < mappings.size(); ++c) {
        std::vector<fyrec::Point> points;
        points.reserve(frame.camera(c).size());
        for (const auto& centroid : frame.camera(c)) {
            points.push_back({mappings[c].toPixelX(centroid.x), mappings[c].toPixelY(centroid.y)});
        }
        record.cameras.push_back(std::move(points));
    }
    return record;
}

// Rate announcements become rate records; every other message is kept as a note.
void recordMessage(fyrec::RecordingWriter& writer, const std::string& text, uint64_t micros) {
    std::optional<frameyard::Json> value = frameyard::parseJson(text);
    for (auto kind : {fyrec::RateRecord::Kind::frame, fyrec::RateRecord::Kind::timecode}) {
        const char* name = kind == fyrec::RateRecord::Kind::frame ? "frame_rate" : "timecode_rate";
        if (value && value->isTagged(name) && value->items.size() >= 2 && value->items[1].isNumber()) {
            writer.write(fyrec::RateRecord{micros, kind, static_cast<float>(value->items[1].number)});
            return;
        }
    }
    writer.write(fyrec::NoteRecord{micros, text});
}

// One recording in progress: the stream's items into the file, and a status line a second.
class Recorder {
public:
    Recorder(frameyard::RealtimeStream& stream, fyrec::RecordingWriter& writer,
             std::vector<fyrec::DisplayMapping> mappings, std::string path)
        : stream(stream), writer(writer), mappings(std::move(mappings)), path(std::move(path)) {}

    // Records until the limit; when the stream breaks, the file is closed whole, the summary
    // printed and the error passed on.
    uint64_t run(const RunLimit& limit) {
        lastReport = limit.start;
        try {
            while (!limit.over()) pass(limit);
        } catch (const frameyard::Error&) {
            finish(limit);
            throw;
        }
        finish(limit);
        return frames;
    }

private:
    void pass(const RunLimit& limit) {
        frameyard::Got got = stream.next(frame, message, 50);
        Clock::time_point now = Clock::now();
        auto micros = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(now - limit.start).count());
        if (got == frameyard::Got::message) {
            recordMessage(writer, message, micros);
        } else if (got == frameyard::Got::frame) {
            writer.write(toRecord(frame, mappings, micros));
            ++frames;
        }
        if (secondsBetween(lastReport, now) >= 1.0) report(now, limit);
    }

    void report(Clock::time_point now, const RunLimit& limit) {
        std::printf("%5.1fs  %llu frames  %.1f frames/s  %llu bytes\n", limit.elapsed(),
                    static_cast<unsigned long long>(frames),
                    static_cast<double>(frames - framesAtReport) / secondsBetween(lastReport, now),
                    static_cast<unsigned long long>(writer.bytes()));
        std::fflush(stdout);
        lastReport = now;
        framesAtReport = frames;
    }

    void finish(const RunLimit& limit) {
        writer.close();
        std::printf("recorded %llu frames in %.1f s, %llu bytes to %s\n", static_cast<unsigned long long>(frames),
                    limit.elapsed(), static_cast<unsigned long long>(writer.bytes()), path.c_str());
        std::fflush(stdout);
    }

    frameyard::RealtimeStream& stream;
    fyrec::RecordingWriter& writer;
    std::vector<fyrec::DisplayMapping> mappings;
    std::string path;
    frameyard::Frame frame;
    std::string message;
    uint64_t frames = 0, framesAtReport = 0;
    Clock::time_point lastReport;
};

}  // namespace

int runRecord(const frameyard::Endpoint& endpoint, const std::vector<std::string>& words) {
    Args args = parseArgs(words, {"--compact"}, {"--out", "--cameras", "--seconds", "--image-size"});
    if (printedHelp("record", args.help)) return 0;
    if (!args.positional.empty()) throw UsageError("record takes no positional arguments");
    std::string path = args.value("--out");
    if (path.empty()) throw UsageError("record needs --out FILE");
    double seconds = runSeconds(args);

    Selection selection = selectCameras(endpoint, args.value("--cameras"));
    fyrec::Header header = makeHeader(endpoint, selection, args);
    std::vector<fyrec::DisplayMapping> mappings;
    for (const auto& camera : header.cameras) mappings.emplace_back(camera.width, camera.height);
    frameyard::RealtimeOptions options;
    options.cameras = selection.wantedNames;
    options.compact = header.compact;
    options.timecodes = true;
    options.messages = true;   // lengths on every item, and the camera messages to keep as notes
    options.monitors = {frameyard::Monitor::frameRate, frameyard::Monitor::timecodeRate};
    installInterruptHandler();
    frameyard::RealtimeStream stream(endpoint, options);
    fyrec::RecordingWriter writer(path, header);
    writer.write(fyrec::NoteRecord{0, "recorded from " + endpoint.text() + " by frameyard-client"});
    std::printf("recording %zu camera%s from %s to %s (%s centroids)\n", mappings.size(),
                mappings.size() == 1 ? "" : "s", endpoint.text().c_str(), path.c_str(),
                header.compact ? "compact" : "full");
    std::fflush(stdout);
    uint64_t frames = Recorder(stream, writer, std::move(mappings), path).run(RunLimit(seconds));
    if (frames == 0) throw frameyard::Error("no frames arrived; " + path + " holds no frame");
    return 0;
}

}  // namespace fycli
