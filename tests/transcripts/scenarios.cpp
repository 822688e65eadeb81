#include "tests/transcripts/scenarios.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace transcript {

namespace {

using Frame = store::Server::Frame;
using Centroid = store::Server::Centroid;

// ---- bytes and notes --------------------------------------------------------------------------

ByteString text(const std::string& s) { return ByteString(s.begin(), s.end()); }

ByteString be16(uint16_t v) { return {uint8_t(v >> 8), uint8_t(v)}; }

ByteString be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

ByteString beF32(float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return be32(bits);
}

ByteString operator+(ByteString a, const ByteString& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string format(const char* pattern, double a, double b = 0, double c = 0) {
    char out[160];
    std::snprintf(out, sizeof out, pattern, a, b, c);
    return out;
}

Action send(std::vector<Sent> sent, std::vector<Expect> reply = {}) {
    Action action;
    action.kind = Action::Kind::send;
    action.sent = std::move(sent);
    action.reply = std::move(reply);
    return action;
}

Action event(const std::string& line, std::vector<Expect> reply = {}) {
    Action action;
    action.kind = Action::Kind::event;
    action.event = line;
    action.reply = std::move(reply);
    return action;
}

Action comment(const std::string& line) {
    Action action;
    action.text = line;
    return action;
}

std::vector<Expect> join(std::vector<Expect> a, const std::vector<Expect>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// 'C', the u32 length and the text of a command exchange.
std::vector<Sent> command(const std::string& json) {
    return {{text("C") + be32(uint32_t(json.size())), format("'C' command exchange, u32 length %g", double(json.size()))},
            {text(json), json}};
}

std::vector<Expect> commandReply(const std::string& json) {
    return {{4, format("u32 reply length %g", double(json.size()))}, {json.size(), json}};
}

// A JSON message inside a realtime stream, either way.
std::vector<Sent> realtimeMessage(const std::string& json) {
    return {{text("m") + be32(uint32_t(json.size())), format("'m' JSON message, u32 length %g", double(json.size()))},
            {text(json), json}};
}

std::vector<Expect> realtimeMessageReply(const std::string& json) {
    return {{5, format("'m' message, u32 length %g", double(json.size()))}, {json.size(), json}};
}

// ---- frames -----------------------------------------------------------------------------------

// The test host's cameras are 640 x 480 unless a scenario says otherwise.
struct DisplayPoint {
    float x, y;
};

DisplayPoint display(const Centroid& c, int width = 640, int height = 480) {
    float scale = std::min(512.0f / float(width), float(368.0 / height));
    return {(c.x - float(width / 2)) * scale + 256.0f, (c.y - float(height / 2)) * scale + 256.0f};
}

uint16_t fixedPoint(float coordinate) { return uint16_t(uint32_t(double(coordinate * 128.0f) + 0.5)); }

Frame frameOf(std::vector<std::vector<Centroid>> centroids, int lastTimecode) {
    Frame frame;
    frame.centroids = std::move(centroids);
    frame.timecode = {{12, 34, 56, lastTimecode}};
    return frame;
}

// Frame 0 is only ever taken for the handshake's 'r'; 1 and 2 reach the clients.
std::vector<Frame> standardFrames(bool withHandshakeFrame) {
    std::vector<Frame> frames;
    if (withHandshakeFrame) frames.push_back(frameOf({{{320, 240}}, {{100, 50}}}, 6));
    frames.push_back(frameOf({{{320, 240}}, {{100, 50}}}, 7));
    frames.push_back(frameOf({{}, {{320, 240}}}, 8));
    return frames;
}

// What a realtime client with this camera list and these options gets for the frame.
std::vector<Expect> frameReply(const Frame& frame, const std::vector<int>& cameras, bool compact, bool timecodes,
                               bool tagged) {
    std::vector<Expect> body;
    if (timecodes)
        body.push_back({5, format("timecode 't' %g %g %g", frame.timecode[0], frame.timecode[1], frame.timecode[2]) +
                               " " + std::to_string(frame.timecode[3]) + " (low byte of each component)"});
    for (size_t position = 0; position < cameras.size(); ++position) {
        const std::vector<Centroid>& list = frame.centroids[size_t(cameras[position])];
        std::string camera = "camera " + std::to_string(position);
        if (cameras[position] != int(position)) camera += " (host camera " + std::to_string(cameras[position]) + ")";
        body.push_back({2, camera + ": u16 count " + std::to_string(list.size())});
        for (const Centroid& c : list) {
            DisplayPoint p = display(c);
            if (compact)
                body.push_back({4, format("u16 x %g/128 = %g, ", fixedPoint(p.x), fixedPoint(p.x) / 128.0) +
                                       format("u16 y %g/128 = %g", fixedPoint(p.y), fixedPoint(p.y) / 128.0)});
            else
                body.push_back({10, format("f32 x %g, f32 y %g, u16 flags 1", p.x, p.y)});
        }
    }
    if (!tagged) return body;
    size_t length = 0;
    for (const Expect& e : body) length += e.length;
    return join({{5, format("'f' frame, u32 body length %g", double(length))}}, body);
}

// ---- scenarios: realtime ----------------------------------------------------------------------

const std::string enableMessages = "\"enable_realtime_messages\"";

void standardSetup(TestHost&, HostScript&) {}

Scenario realtimeFullTimecodes() {
    Scenario s{"realtime_full_timecodes", "full", "realtime", 2, {{"compact", "0"}, {"timecodes", "1"}, {"tagged", "0"}},
               "frames=2", "Realtime, full form, timecode query and start handshake", true, nullptr, {}};
    std::vector<Frame> frames = standardFrames(true);
    s.setup = [frames](TestHost&, HostScript& script) { script.frames = frames; };
    s.script = {
        comment("Opening 't' '1': the timecode query; the server asks with 't'."),
        send({{text("R"), "'R' realtime session"}, {text("t"), "option 't': timecode query"}, {text("1"), "final option byte"}},
             {{1, "'t' the timecode query"}}),
        send({{text("1"), "ASCII '1': yes, frames carry timecodes"}}),
        comment("The next host frame is replaced by 'r'."),
        event("frame", {{1, "'r' ready: the server waits for 'g'"}}),
        send({{text("g"), "'g' go"}}),
        event("frame", frameReply(frames[1], {0, 1}, false, true, false)),
        event("frame", frameReply(frames[2], {0, 1}, false, true, false)),
    };
    return s;
}

Scenario realtimeCompact() {
    Scenario s{"realtime_compact", "full", "realtime", 2, {{"compact", "1"}, {"timecodes", "0"}, {"tagged", "0"}},
               "frames=2", "Realtime, compact centroids, no handshake", true, nullptr, {}};
    std::vector<Frame> frames = standardFrames(false);
    s.setup = [frames](TestHost&, HostScript& script) { script.frames = frames; };
    s.script = {
        comment("Opening 'f' '1': compact centroids, no timecode query, so no handshake and no reply."),
        send({{text("R"), "'R' realtime session"}, {text("f"), "option 'f': compact centroids"}, {text("1"), "final option byte"}}),
        event("frame", frameReply(frames[0], {0, 1}, true, false, false)),
        event("frame", frameReply(frames[1], {0, 1}, true, false, false)),
    };
    return s;
}

Scenario realtimeTaggedMessage() {
    Scenario s{"realtime_tagged_message", "full", "realtime", 2, {{"compact", "0"}, {"timecodes", "0"}, {"tagged", "1"}},
               "frames=1 messages=1 replies=1", "Realtime with messages enabled: tagged frames and a frame-rate monitor",
               true, nullptr, {}};
    std::vector<Frame> frames = standardFrames(false);
    s.setup = [frames](TestHost&, HostScript& script) { script.frames = frames; };
    const std::string monitor = "\"enable_frame_rate_monitor\"";
    s.script = {
        comment("A command exchange first: messages for the realtime session that follows."),
        send(command(enableMessages), commandReply("\"ok\"")),
        send({{text("R"), "'R' realtime session"}, {text("1"), "final option byte"}}),
        comment("The host has not reported a frame rate yet: enabling the monitor sends nothing now."),
        send(realtimeMessage(monitor)),
        event("frame_rate 100", realtimeMessageReply("[\"frame_rate\",100]")),
        event("frame", frameReply(frames[0], {0, 1}, false, false, true)),
        comment("The same rate again: no report."),
        event("frame_rate 100"),
    };
    return s;
}

Scenario realtimeThreshold() {
    Scenario s{"realtime_threshold", "full", "realtime", 2, {{"compact", "0"}, {"timecodes", "0"}, {"tagged", "1"}},
               "frames=1 messages=1 replies=1", "Realtime threshold command, its notification, and ignored bad input",
               true, nullptr, {}};
    std::vector<Frame> frames = standardFrames(false);
    s.setup = [frames](TestHost&, HostScript& script) { script.frames = frames; };
    s.script = {
        send(command(enableMessages), commandReply("\"ok\"")),
        send({{text("R"), "'R' realtime session"}, {text("1"), "final option byte"}}),
        comment("Threshold 40 for camera position 1: no reply, but a camera message to every tagged stream."),
        send({{text("t"), "'t' threshold"}, {be16(1), "u16 camera position 1"}, {be16(40), "u16 threshold 40"}},
             realtimeMessageReply("[\"camera\",1,[\"setting_changed\",\"_threshold\",40]]")),
        comment("Threshold 300: ignored."),
        send({{text("t"), "'t' threshold"}, {be16(0), "u16 camera position 0"}, {be16(300), "u16 threshold 300"}}),
        comment("Position 5 of a 2-camera list: ignored."),
        send({{text("t"), "'t' threshold"}, {be16(5), "u16 camera position 5"}, {be16(40), "u16 threshold 40"}}),
        comment("An unknown command byte: ignored; the stream goes on."),
        send({{text("x"), "unknown command byte"}}),
        event("frame", frameReply(frames[0], {0, 1}, false, false, true)),
    };
    return s;
}

Scenario realtimeBadGo() {
    Scenario s{"realtime_bad_go", "full", "realtime", 2, {{"compact", "0"}, {"timecodes", "1"}, {"tagged", "0"}},
               "frames=0", "Realtime handshake answered with something other than 'g': no frames, ever", true, nullptr,
               {}};
    std::vector<Frame> frames = standardFrames(true);
    s.setup = [frames](TestHost&, HostScript& script) { script.frames = frames; };
    s.script = {
        send({{text("R"), "'R' realtime session"}, {text("t"), "option 't'"}, {text("1"), "final option byte"}},
             {{1, "'t' the timecode query"}}),
        send({{text("1"), "ASCII '1': timecodes"}}),
        event("frame", {{1, "'r' ready"}}),
        comment("Not 'g': the stream is over and the connection drained."),
        send({{text("G"), "'G' instead of 'g'"}}),
        event("frame"),
    };
    return s;
}

// ---- configure --------------------------------------------------------------------------------

Scenario configureScenario(const std::string& name, const std::string& request, const std::string& title,
                           std::vector<Action> script, std::function<void(TestHost&, HostScript&)> setup = standardSetup,
                           bool alsoRt = true, const std::string& library = "full") {
    // A get request is answered once; setting the masks is not answered at all.
    std::string replies = request == "set_masks" ? "replies=0" : "replies=1";
    Scenario s{name, library, "configure", 2, {{"request", request}}, replies, title, alsoRt, std::move(setup),
               std::move(script)};
    return s;
}

std::vector<Sent> configureGet(char letter, const std::string& what) {
    return {{text("c"), "'c' configure"}, {text("g"), "'g' get"}, {text(std::string(1, letter)), "'" + std::string(1, letter) + "' " + what}};
}

Scenario configureAspect() {
    auto setup = [](TestHost& host, HostScript&) { host.aspectRatios = {0.9f, 0.9f}; };
    return configureScenario("configure_aspect", "aspect", "Configure: the pixel aspect ratio pair (0.9 here)",
                             {send(configureGet('a', "aspect ratio"),
                                   {{2, "u16 trunc(0.9 x 256) = 230: camera 0's pixel aspect ratio x 256"},
                                    {2, "u16 256: 1.0 x 256, always"}})},
                             setup);
}

Scenario configureCameras() {
    return configureScenario("configure_cameras", "cameras", "Configure: camera count and capabilities",
                             {send(configureGet('c', "cameras"),
                                   {{2, "u16 2 host cameras"}, {2, "u16 capabilities 7: bit 2 (4) = command exchange served"}})});
}

Scenario configureThresholds() {
    return configureScenario("configure_thresholds", "thresholds", "Configure: the thresholds of all host cameras",
                             {send(configureGet('t', "thresholds"),
                                   {{2, "u16 2 cameras"}, {2, "u16 threshold of camera 0: 10"}, {2, "u16 threshold of camera 1: 20"}})});
}

Scenario configureMasks() {
    auto setup = [](TestHost& host, HostScript&) { host.circularMasks = {{{256.0f, 256.0f, 20.0f}}, {}}; };
    return configureScenario(
        "configure_masks", "masks", "Configure: the circular-mask table (one mask on camera 0)",
        {comment("Camera 0 has one circular mask: centre (256, 256), radius 20, display units."),
         send(configureGet('m', "circular masks"),
              {{4, "u32 table length 25"}, {2, "u16 2 cameras"}, {9, "camera 0: 'c' record, u32 length 16, u32 1 mask"},
               {12, "f32 centre x 256, f32 centre y 256, f32 radius 20"}, {1, "'$' end of camera 0"},
               {1, "'$' end of camera 1 (no masks)"}})},
        setup);
}

Scenario configureSetMasks() {
    ByteString table = be16(2) + text("c") + be32(16) + be32(1) + beF32(100) + beF32(120) + beF32(10) + text("$") + text("$");
    return configureScenario(
        "configure_set_masks", "set_masks", "Configure: setting the circular masks (no reply)",
        {comment("Camera 0 gets one mask, camera 1 none. The server answers nothing; the host is told."),
         send({{text("c"), "'c' configure"}, {text("s"), "'s' set"}, {text("m"), "'m' circular masks"},
               {be32(uint32_t(table.size())), "u32 table size 25"}, {be16(2), "u16 2 cameras"},
               {text("c") + be32(16) + be32(1), "camera 0: 'c' record, u32 length 16, u32 1 mask"},
               {beF32(100) + beF32(120) + beF32(10), "f32 centre x 100, f32 centre y 120, f32 radius 10"},
               {text("$"), "'$' end of camera 0"}, {text("$"), "'$' end of camera 1"}})});
}

Scenario configureSecondRequest() {
    return configureScenario(
        "configure_second_request", "cameras", "Configure: a second request on the same connection gets no reply",
        {send(configureGet('c', "cameras"), {{2, "u16 2 cameras"}, {2, "u16 capabilities 7"}}),
         comment("One request per connection: the server now drains the connection. This gets nothing, ever."),
         send(configureGet('t', "thresholds"))});
}

// ---- command exchange -------------------------------------------------------------------------

Scenario commandScenario(const std::string& name, const std::string& library, const std::string& title,
                         const std::vector<std::pair<std::string, std::string>>& exchanges,
                         std::function<void(TestHost&, HostScript&)> setup = standardSetup) {
    Scenario s{name, library, "command", 2, {}, "replies=" + std::to_string(exchanges.size()), title, false,
               std::move(setup), {}};
    for (const auto& [request, reply] : exchanges) s.script.push_back(send(command(request), commandReply(reply)));
    return s;
}

// ---- unknown first byte -----------------------------------------------------------------------

Scenario unknownFirstByte() {
    Scenario s{"unknown_first_byte", "full", "refused", 2, {}, "replies=0", "An unknown first byte: no reply, drained",
               true, standardSetup, {}};
    s.script = {
        comment("The server keeps the connection open and discards input."),
        send({{text("x"), "unknown first byte"}}),
        send({{text("C") + be32(uint32_t(enableMessages.size())) + text(enableMessages), "a command exchange now: drained too"}}),
    };
    return s;
}

#ifndef FRAMEYARD_TEST_REALTIME_ONLY

using NumberSetting = store::Server::NumberSetting;

void gainSettings(TestHost& host) {
    host.settings = {{NumberSetting{"gain", 1.5f, 0.0f, 10.0f, 2}}, {NumberSetting{"gain", 1.0f, 0.0f, 10.0f, 2}}};
}

Scenario realtimeWantedCameras() {
    Scenario s{"realtime_wanted_cameras", "full", "realtime", 1, {{"compact", "0"}, {"timecodes", "0"}, {"tagged", "1"}},
               "frames=1 messages=2 replies=2",
               "Realtime with wanted cameras: positions in the client's list, in frames and notifications", false,
               nullptr, {}};
    std::vector<Frame> frames = standardFrames(false);
    s.setup = [frames](TestHost& host, HostScript& script) {
        script.frames = frames;
        gainSettings(host);
    };
    s.script = {
        comment("The client wants only host camera 1 (\"right\"): its list is [1], so host camera 1 is its camera 0."),
        send(command("[\"want_cameras\",[\"right\"]]"), commandReply("\"ok\"")),
        send(command(enableMessages), commandReply("\"ok\"")),
        send({{text("R"), "'R' realtime session"}, {text("1"), "final option byte"}}),
        event("frame", frameReply(frames[0], {1}, false, false, true)),
        comment("The host reports threshold 40 on host camera 1: the client hears of its camera 0."),
        event("threshold 1 40", realtimeMessageReply("[\"camera\",0,[\"setting_changed\",\"_threshold\",40]]")),
        comment("A change on host camera 0, which is not in the client's list: nothing."),
        event("threshold 0 30"),
        event("setting 1 gain 2.5", realtimeMessageReply("[\"camera\",0,[\"setting_changed\",\"gain\",2.5]]")),
    };
    return s;
}

Scenario realtimeMasksMonitor() {
    Scenario s{"realtime_masks_monitor", "full", "realtime", 2, {{"compact", "0"}, {"timecodes", "0"}, {"tagged", "0"}},
               "frames=1 messages=3",
               "Realtime monitors without messages enabled: rectangular masks ([] and null) and online states", false,
               nullptr, {}};
    std::vector<Frame> frames = standardFrames(false);
    s.setup = [frames](TestHost& host, HostScript& script) {
        script.frames = frames;
        host.rectangularMaskSupport = {true, false};
        // This host keeps the mask a client adds (the scenario adds the top-left quarter of camera 0).
        host.hooks["addCameraRectangularMask"] = [&host] {
            host.rectangularMasks[0].push_back(store::Server::RectangularMask{0, 0, 320, 240});
        };
    };
    const std::string add = "[\"camera\",0,[\"add_rectangular_mask\",{\"x1\":10.6667,\"y1\":72,\"x2\":256,\"y2\":256}]]";
    s.script = {
        comment("Camera 0 supports rectangular masks and has none: []. Camera 1 does not support them: null."),
        send({{text("R"), "'R' realtime session"}, {text("1"), "final option byte"}}),
        send(realtimeMessage("\"enable_rectangular_masks_monitor\""), realtimeMessageReply("[\"rectangular_masks\",[[],null]]")),
        comment("A camera command adds the top-left quarter of camera 0; every masks monitor gets the new table."),
        send(realtimeMessage(add),
             realtimeMessageReply("[\"rectangular_masks\",[[{\"x1\":10.6667,\"y1\":72,\"x2\":256,\"y2\":256}],null]]")),
        comment("Untagged frames and 'm' items mix: a frame never starts with 'm' (0x6D)."),
        event("frame", frameReply(frames[0], {0, 1}, false, false, false)),
        send(realtimeMessage("\"enable_camera_online_states_monitor\""), realtimeMessageReply("[\"online_states\",[null,null]]")),
    };
    return s;
}

// ---- live features ----------------------------------------------------------------------------

std::vector<Expect> liveFeatMessageReply(const std::string& json) {
    return {{8, format("FFFF header, H=1, 'm' message entry, u32 length %g", double(json.size()))},
            {json.size(), json}};
}

std::vector<Sent> liveFeatMessage(const std::string& json) {
    return {{text("m") + be32(uint32_t(json.size())), format("'m' JSON message, u32 length %g", double(json.size()))},
            {text(json), json}};
}


TestHost::ScriptedImage smallImage(uint8_t seed, bool timecode) {
    TestHost::ScriptedImage image;
    for (int i = 0; i < 8; ++i) image.pixels.push_back(uint8_t(seed + i));
    image.segments = {store::Server::Segment{{1, 0, 3}}};
    if (!timecode) image.timecode.clear();
    return image;
}

// 4 x 2 pixels for camera 0, so that the pixels fit on a line.
void smallCameraZero(TestHost& host) {
    host.widths = {4, 640};
    host.heights = {2, 480};
}

std::vector<Expect> liveFrame(bool image, bool timecode, int segments, uint8_t seed = 0, int lastTimecode = 4) {
    std::vector<Expect> out;
    int headerLength = (image ? 5 : 0) + (timecode ? 5 : 0);
    if (headerLength > 0) out.push_back({3, "FFFF header, H=" + std::to_string(headerLength) + " (entries only, not the pixels)"});
    if (timecode) out.push_back({5, "timecode entry 't' 1 2 3 " + std::to_string(lastTimecode)});
    if (image) {
        out.push_back({5, "image entry 'i', u16 width 4, u16 height 2"});
        out.push_back({8, format("8 pixel bytes %g..%g, rows top to bottom", seed, seed + 7)});
    }
    out.push_back({2, "segment block: u16 count " + std::to_string(segments)});
    for (int i = 0; i < segments; ++i)
        out.push_back({6, "u16 first column 0, u16 row 1, u16 last column 3"});
    return out;
}

Scenario livefeatImages() {
    Scenario s{"livefeat_images", "full", "livefeat", 2, {{"images", "1"}}, "frames=4 images=3",
               "Live features with images: flow control and acknowledgements", false, nullptr, {}};
    s.setup = [](TestHost& host, HostScript& script) {
        smallCameraZero(host);
        for (uint8_t seed : {10, 20, 30, 40, 50}) script.images[0].push_back(smallImage(seed, true));
    };
    s.script = {
        comment("Camera 0 is 4 x 2 pixels here. Its segment record {row 1, first 0, last 3} goes as 0, 1, 3."),
        send({{text("f"), "'f' live features"}}),
        send({{text("c") + be16(0), "'c' select, u16 position 0"}}),
        send({{text("i") + ByteString{1}, "'i' with BINARY 1: images on"}}),
        event("image 0", liveFrame(true, true, 1, 10)),
        event("image 0", liveFrame(true, true, 1, 20)),
        comment("Two images unacknowledged: the next host image is skipped for this client."),
        event("image 0"),
        send({{text("i") + ByteString{2}, "'i' with binary 2: acknowledge one image"}}),
        event("image 0", liveFrame(true, true, 1, 40)),
        send({{text("i") + ByteString{0}, "'i' with binary 0: images off"}}),
        event("image 0", liveFrame(false, true, 1)),
    };
    return s;
}

Scenario livefeatSegments() {
    Scenario s{"livefeat_segments", "full", "livefeat", 2, {{"images", "0"}}, "frames=2 messages=3 replies=2",
               "Live features, segments only, wanted cameras, messages and a threshold notification", false, nullptr, {}};
    s.setup = [](TestHost& host, HostScript& script) {
        smallCameraZero(host);
        TestHost::ScriptedImage twoRuns = smallImage(0, false);
        twoRuns.segments = {store::Server::Segment{{0, 1, 2}}, store::Server::Segment{{1, 0, 3}}};
        script.images[0] = {twoRuns, smallImage(0, true)};
        script.images[1] = {smallImage(0, true)};
    };
    s.script = {
        comment("Wanted cameras [\"right\",\"left\"]: the client's list is [1, 0], so position 1 is host camera 0."),
        send(command("\"enable_livefeat_messages\""), commandReply("\"ok\"")),
        send(command("[\"want_cameras\",[\"right\",\"left\"]]"), commandReply("\"ok\"")),
        send({{text("f"), "'f' live features"}}),
        send({{text("c") + be16(1), "'c' select, u16 position 1 (host camera 0)"}}),
        comment("An image without timecode, images off: a bare segment block of two runs."),
        event("image 0", {{2, "segment block: u16 count 2"},
                          {6, "u16 first column 1, u16 row 0, u16 last column 2"},
                          {6, "u16 first column 0, u16 row 1, u16 last column 3"}}),
        event("image 0", liveFrame(false, true, 1)),
        comment("Host camera 1 is not selected: nothing."),
        event("image 1"),
        comment("Threshold 300 is passed on here (live features take any u16); position 1 in the notification."),
        send({{text("t") + be16(1) + be16(300), "'t', u16 position 1, u16 threshold 300"}},
             liveFeatMessageReply("[\"camera\",1,[\"setting_changed\",\"_threshold\",300]]")),
        send(liveFeatMessage("\"enable_rectangular_masks_monitor\""),
             liveFeatMessageReply("[\"rectangular_masks\",[null,null]]")),
        event("threshold 0 30", liveFeatMessageReply("[\"camera\",1,[\"setting_changed\",\"_threshold\",30]]")),
    };
    return s;
}

Scenario livefeatBadCommand() {
    Scenario s{"livefeat_bad_command", "full", "livefeat", 2, {{"images", "0"}}, "frames=1",
               "Live features: an ASCII '1' turns images off; an unknown command ends the session", false, nullptr, {}};
    s.setup = [](TestHost& host, HostScript& script) {
        smallCameraZero(host);
        script.images[0] = {smallImage(0, true)};
    };
    s.script = {
        send({{text("f"), "'f' live features"}}),
        send({{text("c") + be16(0), "'c' select, u16 position 0"}}),
        comment("ASCII '1' (0x31) is not binary 1: images stay off, the frame has no pixels."),
        send({{text("i1"), "'i' with ASCII '1': images OFF"}}),
        event("image 0", liveFrame(false, true, 1)),
        comment("An unknown command byte ends the session: the server closes the connection."),
        send({{text("x"), "unknown command"}}),
    };
    return s;
}

// ---- acquisition ------------------------------------------------------------------------------

std::vector<Expect> centroidBlock(int count) {
    std::vector<Expect> out{{6, format("centroid block: u16 FFFF, u16 byte length %g, u16 count %g", (3 * count + 1) * 2, count)}};
    for (int i = 0; i < count; ++i) out.push_back({6, "u16 x 32768/128 = 256, u16 y 256, u16 flags 1"});
    return out;
}

std::vector<Expect> progress(int start, int recorded, int requested) {
    uint16_t value = uint16_t(std::min(65535.0f, float(recorded) / float(requested) * 65535.0f));
    return {{2, "progress record: u16 0"},
            {2, format("u16 field number start + recorded = %g", start + recorded)},
            {2, format("u16 progress %g/%g x 65535 = %g", recorded, requested, value)}};
}

Scenario acquireFields() {
    Scenario s{"acquire_fields", "full", "acquire", 2, {}, "progress=2 fields=2",
               "Acquisition by field count: progress, then a download with timecodes, images and centroids", false,
               nullptr, {}};
    s.setup = [](TestHost& host, HostScript&) {
        host.acquire = true;
        host.acquisition.finished = false;
        host.acquisition.timecodes = true;
        host.acquisition.images = true;
        host.acquisition.globs = true;
        host.acquisition.imageWidth = 3;
        host.acquisition.imageHeight = 2;
        host.acquisition.centroids = {{320, 240}};
    };
    std::vector<Expect> data;
    for (int field = 0; field < 2; ++field) {
        data.push_back({2, format("field record: u16 field number %g", 1 + field)});
        data.push_back({5, format("timecode 't' %g 1 2 3", field)});
        data.push_back({2, "image flag '1', centroid flag '1' (ASCII)"});
        for (int camera = 0; camera < 2; ++camera) {
            data.push_back({4, format("camera %g image: u16 width 3, u16 height 2", camera)});
            data.push_back({6, "6 pixel bytes"});
            data = join(data, centroidBlock(1));
        }
    }
    data.push_back({2, "u16 FFFF end of data"});
    s.script = {
        comment("Mode ASCII '1' (centroids and images), start field id 1, 2 fields in each list."),
        send({{text("a"), "'a' acquisition"}, {text("1"), "mode ASCII '1': centroids and images"},
              {be16(1), "u16 start field id 1"}, {be16(0) + be16(2) + be16(0xFFFF), "centroid list: skip 0, want 2, end"},
              {be16(0) + be16(2) + be16(0xFFFF), "image list: skip 0, want 2, end"}, {be16(100), "u16 rate (ignored)"}},
             {{2, "u16 camera count 2"}}),
        send({{be16(0) + be16(0), "u16 value per camera (ignored)"}, {ByteString{0}, "one more byte (discarded)"}},
             {{1, "'R' the host is ready"}}),
        send({{text("S"), "any byte but 'G' and 'a': start recording"}}),
        event("recorded 1", progress(1, 1, 2)),
        event("recorded 2", progress(1, 2, 2)),
        event("finished", data),
    };
    return s;
}

Scenario acquireStartZero() {
    Scenario s{"acquire_start_zero", "full", "acquire", 2, {}, "progress=2 fields=2",
               "Acquisition with start field id 0: progress records and field 0 both begin with u16 0", false, nullptr,
               {}};
    s.setup = [](TestHost& host, HostScript&) {
        host.acquire = true;
        host.acquisition.finished = false;
        host.acquisition.globs = true;
        host.acquisition.centroids = {{320, 240}};
    };
    std::vector<Expect> data;
    for (int field = 0; field < 2; ++field) {
        data.push_back({2, format("field record: u16 field number %g", field)});
        data.push_back({2, "image flag '0', centroid flag '1' (no timecode: the flags follow at once)"});
        data = join(data, centroidBlock(1));
        data = join(data, centroidBlock(1));
    }
    data.push_back({2, "u16 FFFF end of data"});
    s.script = {
        send({{text("a"), "'a' acquisition"}, {text("0"), "mode ASCII '0': centroids only"}, {be16(0), "u16 start field id 0"},
              {be16(0) + be16(2) + be16(0xFFFF), "centroid list: skip 0, want 2, end"}, {be16(0), "u16 rate"}},
             {{2, "u16 camera count 2"}}),
        send({{be16(0) + be16(0), "u16 value per camera"}, {ByteString{0}, "one more byte"}}, {{1, "'R' ready"}}),
        send({{text("S"), "start recording"}}),
        event("recorded 1", progress(0, 1, 2)),
        event("recorded 2", progress(0, 2, 2)),
        comment("Field 0 starts with u16 0 too; then '0' '1' (0x30 0x31) where a progress record has its count."),
        event("finished", data),
    };
    return s;
}

Scenario acquireFrameLists() {
    Scenario s{"acquire_frame_lists", "full", "acquire", 2, {}, "progress=1 fields=2",
               "Acquisition mode 1 with different centroid and image lists, arming with 'G', stopped early", false,
               nullptr, {}};
    s.setup = [](TestHost& host, HostScript&) {
        host.acquire = true;
        host.acquisition.finished = false;
        host.acquisition.images = true;
        host.acquisition.globs = true;
        host.acquisition.imageWidth = 2;
        host.acquisition.imageHeight = 1;
    };
    std::vector<Expect> data{
        {2, "field record: u16 field number 100"},
        {2, "image flag '1', centroid flag '0': field 0 wants an image only"},
        {6, "camera 0 image: u16 width 2, u16 height 1, 2 pixel bytes"},
        {6, "camera 1 image: u16 width 2, u16 height 1, 2 pixel bytes"},
        {2, "field record: u16 field number 101"},
        {2, "image flag '0', centroid flag '1': field 1 wants centroids only"},
    };
    data = join(data, centroidBlock(0));
    data = join(data, centroidBlock(0));
    data.push_back({2, "u16 FFFF end of data (field 102 was never recorded)"});
    s.script = {
        comment("Centroid list first: skip 1, want 2 (fields 1 and 2); then the image list: want 1 (field 0). 3 fields."),
        send({{text("a"), "'a' acquisition"}, {text("1"), "mode ASCII '1'"}, {be16(100), "u16 start field id 100"},
              {be16(1) + be16(2) + be16(0xFFFF), "centroid list: skip 1, want 2, end"},
              {be16(0) + be16(1) + be16(0xFFFF), "image list: skip 0, want 1, end"}, {be16(0), "u16 rate"}},
             {{2, "u16 camera count 2"}}),
        send({{be16(7) + be16(7), "u16 value per camera"}, {text("x"), "one more byte, any value"}}, {{1, "'R' ready"}}),
        send({{text("G"), "'G' step the armed host"}}, {{1, "'r' the next field is ready"}}),
        comment("'a' while arming is ignored."),
        send({{text("a"), "'a'"}}),
        send({{text("S"), "start recording"}}),
        event("recorded 2", progress(100, 2, 3)),
        send({{text("s"), "'s' stop early"}}),
        event("finished", data),
    };
    return s;
}

Scenario configureDescriptions() {
    const std::string region = "{\"left_edge_x\":10.6667,\"right_edge_x\":501.333,\"top_edge_y\":72,\"bottom_edge_y\":440}";
    const std::string gain = "[{\"name\":\"gain\",\"value\":1.5,\"minimum\":0,\"maximum\":10,\"precision\":2}]";
    const std::string json = "[{\"name\":\"left\",\"image_region\":" + region + ",\"acquire_image_region\":" + region +
                             ",\"number_settings\":" + gain + "},{\"name\":\"right\",\"image_region\":" + region +
                             ",\"acquire_image_region\":" + region + ",\"number_settings\":[]}]";
    auto setup = [](TestHost& host, HostScript&) {
        host.settings = {{NumberSetting{"gain", 1.5f, 0.0f, 10.0f, 2}}, {}};
    };
    return configureScenario("configure_descriptions", "descriptions", "Configure: camera descriptions (libframeyard)",
                             {send(configureGet('s', "settings: camera descriptions"),
                                   {{4, format("u32 length %g", double(json.size()))}, {json.size(), json}})},
                             setup, false);
}

#endif  // !FRAMEYARD_TEST_REALTIME_ONLY

#ifdef FRAMEYARD_TEST_REALTIME_ONLY

Scenario acquireRefusedRt() {
    Scenario s{"acquire_refused_rt", "rt", "refused", 2, {}, "progress=0 fields=0",
               "libframeyard-rt refuses an acquisition with u16 0", false, standardSetup, {}};
    s.script = {
        comment("The rest of the request is drained."),
        send({{text("a"), "'a' acquisition"}}, {{2, "u16 0: no acquisition here"}}),
        send({{text("0") + be16(1) + be16(0) + be16(1) + be16(0xFFFF) + be16(0), "the request: drained"}}),
    };
    return s;
}

Scenario livefeatRefusedRt() {
    Scenario s{"livefeat_refused_rt", "rt", "refused", 2, {}, "frames=0",
               "libframeyard-rt: 'f' is an unknown first byte", false, standardSetup, {}};
    s.script = {
        comment("No reply; everything after is drained."),
        send({{text("f"), "'f'"}}),
        send({{text("c") + be16(0), "'c' select: drained"}}),
    };
    return s;
}

Scenario configureDescriptionsRt() {
    const std::string region = "{\"left_edge_x\":10.6667,\"right_edge_x\":501.333,\"top_edge_y\":72,\"bottom_edge_y\":440}";
    const std::string json = "[{\"name\":\"left\",\"image_region\":" + region +
                             ",\"number_settings\":[]},{\"name\":\"right\",\"image_region\":" + region +
                             ",\"number_settings\":[]}]";
    return configureScenario("configure_descriptions_rt", "descriptions",
                             "Configure: camera descriptions (libframeyard-rt: no acquire region, no settings)",
                             {send(configureGet('s', "settings: camera descriptions"),
                                   {{4, format("u32 length %g", double(json.size()))}, {json.size(), json}})},
                             standardSetup, false, "rt");
}

#endif  // FRAMEYARD_TEST_REALTIME_ONLY

std::vector<Scenario> allScenarios() {
    std::vector<Scenario> list = {realtimeFullTimecodes(), realtimeCompact(),   realtimeTaggedMessage(),
                                  realtimeThreshold(),     realtimeBadGo(),     configureAspect(),
                                  configureCameras(),      configureThresholds(), configureMasks(),
                                  configureSetMasks(),     configureSecondRequest(), unknownFirstByte()};
#ifndef FRAMEYARD_TEST_REALTIME_ONLY
    auto settings = [](TestHost& host, HostScript&) { gainSettings(host); };
    list.push_back(realtimeWantedCameras());
    list.push_back(realtimeMasksMonitor());
    list.push_back(livefeatImages());
    list.push_back(livefeatSegments());
    list.push_back(livefeatBadCommand());
    list.push_back(acquireFields());
    list.push_back(acquireStartZero());
    list.push_back(acquireFrameLists());
    list.push_back(configureDescriptions());
    const std::string region = "{\"left_edge_x\":10.6667,\"right_edge_x\":501.333,\"top_edge_y\":72,\"bottom_edge_y\":440}";
    list.push_back(commandScenario(
        "command_success", "full", "Command exchanges: messages, wanted cameras, thresholds, descriptions, a setting",
        {{enableMessages, "\"ok\""},
         {"[\"want_cameras\",[\"right\",\"left\"]]", "\"ok\""},
         {"[\"get_thresholds\"]", "[\"result\",[20,10]]"},
         {"[\"get_camera_settings\"]",
          "[\"result\",[{\"name\":\"right\",\"image_region\":" + region + ",\"acquire_image_region\":" + region +
              ",\"number_settings\":[{\"name\":\"gain\",\"value\":1,\"minimum\":0,\"maximum\":10,\"precision\":2}]},"
              "{\"name\":\"left\",\"image_region\":" + region + ",\"acquire_image_region\":" + region +
              ",\"number_settings\":[{\"name\":\"gain\",\"value\":1.5,\"minimum\":0,\"maximum\":10,\"precision\":2}]}]]"},
         {"[\"change_setting\",\"gain\",2.5]", "\"ok\""}},
        settings));
    list.push_back(commandScenario("command_errors", "full", "Command exchanges that fail: every error reply",
                                   {{"[\"get_thresholds\"]", "[\"error\",\"no_wanted_cameras\"]"},
                                    {"[\"want_cameras\",[\"left\",\"nosuch\"]]", "[\"error\",\"Adding cameras it not supported.\"]"},
                                    {"[\"want_cameras\",[\"left\",\"left\"]]", "[\"error\",\"Duplicate camera 'left'\"]"},
                                    {"enable_realtime_messages", "[\"error\",\"bad_command\"]"},
                                    {"\"foo\"", "[\"error\",\"unknown_command\"]"},
                                    {"[]", "[\"error\",\"bad_command\"]"},
                                    {"[\"change_setting\",\"gain\"]", "[\"error\",\"bad_command\"]"},
                                    {"", "[\"error\",\"bad_command\"]"},
                                    {"[\"find_available_cameras\"]", "[\"error\",\"unsupported\"]"}}));
#else
    list.push_back(acquireRefusedRt());
    list.push_back(livefeatRefusedRt());
    list.push_back(configureDescriptionsRt());
    list.push_back(commandScenario("command_rt", "rt", "libframeyard-rt's command exchange: strings only",
                                   {{enableMessages, "\"ok\""},
                                    {"\"enable_livefeat_messages\"", "[\"error\",\"unsupported\"]"},
                                    {"\"check_realtime_want_cameras\"", "[\"error\",\"unknown_command\"]"},
                                    {"[\"want_cameras\",[\"left\"]]", "[\"error\",\"bad_command\"]"}}));
#endif
    return list;
}

#ifndef FRAMEYARD_TEST_REALTIME_ONLY
int number(const std::vector<std::string>& args, size_t index) { return index < args.size() ? std::stoi(args[index]) : 0; }
#endif

float real(const std::vector<std::string>& args, size_t index) { return index < args.size() ? std::stof(args[index]) : 0; }

}  // namespace

const std::vector<Scenario>& scenarios() {
    static const std::vector<Scenario> list = allScenarios();
    return list;
}

const Scenario* findScenario(const std::string& name) {
    for (const Scenario& scenario : scenarios())
        if (scenario.name == name) return &scenario;
    return nullptr;
}

void sendAtOnce(int descriptor) {
    int on = 1;
    ::setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

Bytes collectQuietly(TestHost& host, TestClient& client, std::chrono::milliseconds quiet) {
    using Clock = std::chrono::steady_clock;
    Bytes got;
    Clock::time_point last = Clock::now();
    Clock::time_point deadline = last + std::chrono::seconds(10);
    while (Clock::now() - last < quiet && Clock::now() < deadline) {
        host.checkForEvent();
        Bytes more = client.readAvailable();
        if (more.empty()) continue;
        got.insert(got.end(), more.begin(), more.end());
        last = Clock::now();
    }
    return got;
}

bool applyEvent(TestHost& host, HostScript& script, const std::string& event, const std::vector<std::string>& args) {
    if (event == "frame") {
        if (script.nextFrame >= script.frames.size()) return false;
        host.frames.push_back(script.frames[script.nextFrame++]);
        return true;
    }
    if (event == "frame_rate" || event == "timecode_rate") {
        if (event == "frame_rate")
            host.setFrameRate(real(args, 0));
        else
            host.setTimecodeRate(real(args, 0));
        return true;
    }
#ifndef FRAMEYARD_TEST_REALTIME_ONLY
    if (event == "image") {
        int camera = number(args, 0);
        size_t& next = script.nextImage[camera];
        if (next >= script.images[camera].size()) return false;
        host.images[camera].push_back(script.images[camera][next++]);
        return true;
    }
    if (event == "threshold") {
        int camera = number(args, 0);
        if (camera < 0 || size_t(camera) >= host.thresholds.size()) return false;
        host.thresholds[size_t(camera)] = number(args, 1);
        host.cameraThresholdChanged(camera);
        return true;
    }
    if (event == "setting") {
        int camera = number(args, 0);
        if (camera < 0 || size_t(camera) >= host.settings.size() || args.size() < 3) return false;
        for (store::Server::NumberSetting& setting : host.settings[size_t(camera)])
            if (setting.name == args[1]) setting.value = real(args, 2);
        host.cameraSettingChanged(camera);
        return true;
    }
    if (event == "recorded") {
        host.acquisition.recorded = number(args, 0);
        return true;
    }
    if (event == "finished") {
        host.acquisition.finished = true;
        return true;
    }
#endif
    return false;
}

}  // namespace transcript
