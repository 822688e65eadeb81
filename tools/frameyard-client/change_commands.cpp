// threshold, setting and masks: changing a camera and reading the change back.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "tools/frameyard-client/cli_args.h"
#include "tools/frameyard-client/commands.h"
#include "tools/frameyard-client/stream_setup.h"

namespace fycli {
namespace {

using frameyard::Error;
using frameyard::Json;

// A rectangle as the server reports it in display coordinates.
struct Rectangle {
    float x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

// Display coordinates travel through pixels in the host and back, so equality is approximate.
constexpr float kRectangleTolerance = 0.01f;

bool nearlyEqual(const Rectangle& a, const Rectangle& b) {
    return std::fabs(a.x1 - b.x1) <= kRectangleTolerance && std::fabs(a.y1 - b.y1) <= kRectangleTolerance &&
           std::fabs(a.x2 - b.x2) <= kRectangleTolerance && std::fabs(a.y2 - b.y2) <= kRectangleTolerance;
}

std::string rectangleText(const Rectangle& r) {
    return frameyard::formatNumber(r.x1) + "," + frameyard::formatNumber(r.y1) + " to " + frameyard::formatNumber(r.x2) +
           "," + frameyard::formatNumber(r.y2);
}

std::string circleText(const frameyard::CircularMask& m) {
    return frameyard::formatNumber(m.x) + "," + frameyard::formatNumber(m.y) + " radius " + frameyard::formatNumber(m.radius);
}

float member(const Json& object, const char* name) {
    const Json* value = object.find(name);
    if (value == nullptr || !value->isNumber()) throw Error(std::string("rectangular mask without ") + name);
    return static_cast<float>(value->number);
}

// The entries of a ["rectangular_masks",[...]] message: null (no support) or a mask list.
std::vector<std::optional<std::vector<Rectangle>>> rectanglesOf(const Json& message) {
    if (message.items.size() < 2 || !message.items[1].isArray()) throw Error("malformed rectangular_masks message");
    std::vector<std::optional<std::vector<Rectangle>>> out;
    for (const Json& entry : message.items[1].items) {
        if (entry.isNull()) {
            out.emplace_back();
            continue;
        }
        if (!entry.isArray()) throw Error("malformed rectangular_masks entry");
        std::vector<Rectangle> list;
        for (const Json& mask : entry.items) {
            list.push_back({member(mask, "x1"), member(mask, "y1"), member(mask, "x2"), member(mask, "y2")});
        }
        out.emplace_back(std::move(list));
    }
    return out;
}

bool isRectangleMessage(const Json& value) { return value.isTagged("rectangular_masks"); }

// A stream of these cameras (none named: all) that carries commands and camera messages: tagged,
// so that the messages are told apart from frames, and without the handshake, so that it
// takes commands at once.
frameyard::RealtimeOptions commandStream(std::vector<std::string> cameras) {
    frameyard::RealtimeOptions options;
    options.cameras = std::move(cameras);
    options.handshake = false;
    options.timecodes = false;
    options.messages = true;
    return options;
}

void printRectangles(const std::optional<std::vector<Rectangle>>& list) {
    if (!list) {
        std::printf("  rectangular  not supported\n");
    } else if (list->empty()) {
        std::printf("  rectangular  none\n");
    } else {
        for (const Rectangle& r : *list) std::printf("  rectangular  %s\n", rectangleText(r).c_str());
    }
}

void printCircles(const std::vector<frameyard::CircularMask>& list) {
    if (list.empty()) std::printf("  circular     none\n");
    for (const auto& m : list) std::printf("  circular     %s\n", circleText(m).c_str());
}

frameyard::CircularMask parseCircle(const std::string& text) {
    std::vector<std::string> parts = splitList(text, "a circular mask");
    if (parts.size() != 3) throw UsageError("a circular mask is X,Y,RADIUS, not '" + text + "'");
    frameyard::CircularMask mask;
    mask.x = parseFloat(parts[0], "X");
    mask.y = parseFloat(parts[1], "Y");
    mask.radius = parseFloat(parts[2], "RADIUS");
    if (mask.radius < 0) throw UsageError("a mask radius must not be negative");
    return mask;
}

int masksGet(const frameyard::Endpoint& endpoint, const std::vector<std::string>& rest) {
    if (rest.size() > 1) throw UsageError("masks get takes at most one camera name");
    Selection selection = selectCameras(endpoint, rest.empty() ? "" : rest[0]);
    frameyard::MaskTable circles = frameyard::Host(endpoint).circularMasks();
    // The session gets every camera, so the message has one entry per camera index.
    frameyard::RealtimeStream stream(endpoint, commandStream({}));
    stream.send(frameyard::monitorCommand(frameyard::Monitor::rectangularMasks));
    auto rectangles = rectanglesOf(waitForMessage(stream, isRectangleMessage, endpoint.timeoutMs, "rectangular mask list"));
    for (int index : selection.indices) {
        auto i = static_cast<size_t>(index);
        std::printf("%s\n", selection.all[i].name.c_str());
        printCircles(i < circles.size() ? circles[i] : std::vector<frameyard::CircularMask>{});
        printRectangles(i < rectangles.size() ? rectangles[i] : std::nullopt);
    }
    return 0;
}

int masksSet(const frameyard::Endpoint& endpoint, const std::vector<std::string>& rest) {
    if (rest.empty()) throw UsageError("masks set needs a camera name");
    std::vector<frameyard::CircularMask> masks;
    for (size_t i = 1; i < rest.size(); ++i) masks.push_back(parseCircle(rest[i]));
    Selection selection = selectCameras(endpoint, rest[0]);
    auto index = static_cast<size_t>(selection.indices[0]);

    frameyard::Host host(endpoint);
    frameyard::MaskTable table = host.circularMasks();
    table.resize(std::max(table.size(), selection.all.size()));
    table[index] = masks;
    host.setCircularMasks(table);
    // The server answers nothing to a set request: read the table back until it shows ours.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(endpoint.timeoutMs);
    for (;;) {
        frameyard::MaskTable now = host.circularMasks();
        if (index < now.size() && now[index] == masks) break;
        if (std::chrono::steady_clock::now() > deadline) {
            throw Error("the server did not apply the circular masks of " + rest[0]);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::printf("%s\n", rest[0].c_str());
    printCircles(masks);
    return 0;
}

int masksRectangle(const frameyard::Endpoint& endpoint, const std::vector<std::string>& rest, bool add) {
    if (rest.size() != 5) throw UsageError(std::string("masks ") + (add ? "add-rect" : "delete-rect") + " needs CAMERA X1 Y1 X2 Y2");
    Rectangle wanted{parseFloat(rest[1], "X1"), parseFloat(rest[2], "Y1"), parseFloat(rest[3], "X2"),
                     parseFloat(rest[4], "Y2")};
    if (wanted.x1 > wanted.x2 || wanted.y1 > wanted.y2) throw UsageError("a rectangle needs X1 <= X2 and Y1 <= Y2");
    selectCameras(endpoint, rest[0]);

    frameyard::RealtimeStream stream(endpoint, commandStream({rest[0]}));
    stream.send(frameyard::monitorCommand(frameyard::Monitor::rectangularMasks));
    auto before = rectanglesOf(waitForMessage(stream, isRectangleMessage, endpoint.timeoutMs, "rectangular mask list"));
    if (before.empty() || !before[0]) throw Error("camera '" + rest[0] + "' does not support rectangular masks");
    if (!add) {
        // Delete what the server holds, not our rounding of it.
        auto found = std::find_if(before[0]->begin(), before[0]->end(), [&](const Rectangle& r) { return nearlyEqual(r, wanted); });
        if (found == before[0]->end()) {
            throw Error("camera '" + rest[0] + "' has no rectangular mask " + rectangleText(wanted));
        }
        wanted = *found;
    }
    std::string command = add ? frameyard::addRectangularMaskCommand(wanted.x1, wanted.y1, wanted.x2, wanted.y2)
                              : frameyard::deleteRectangularMaskCommand(wanted.x1, wanted.y1, wanted.x2, wanted.y2);
    stream.send(frameyard::cameraMessage(0, command));
    auto after = rectanglesOf(waitForMessage(stream, isRectangleMessage, endpoint.timeoutMs, "changed rectangular mask list"));
    if (after.empty() || !after[0]) throw Error("camera '" + rest[0] + "' lost its rectangular mask support");
    size_t matchesBefore = std::count_if(before[0]->begin(), before[0]->end(), [&](const Rectangle& r) { return nearlyEqual(r, wanted); });
    size_t matchesAfter = std::count_if(after[0]->begin(), after[0]->end(), [&](const Rectangle& r) { return nearlyEqual(r, wanted); });
    if (add ? matchesAfter <= matchesBefore : matchesAfter >= matchesBefore) {
        throw Error(std::string("the server did not ") + (add ? "add" : "delete") + " the rectangular mask");
    }
    std::printf("%s\n", rest[0].c_str());
    printRectangles(after[0]);
    return 0;
}

}  // namespace

int runThreshold(const frameyard::Endpoint& endpoint, const std::vector<std::string>& words) {
    Args args = parseArgs(words, {}, {});
    if (printedHelp("threshold", args.help)) return 0;
    if (args.positional.size() != 2) throw UsageError("threshold needs CAMERA VALUE");
    const std::string& name = args.positional[0];
    auto value = static_cast<uint16_t>(parseInteger(args.positional[1], "the threshold", 0, 255));
    selectCameras(endpoint, name);

    // A session of the one camera, tagged so that the server's confirmation can be told apart
    // from frames; without the handshake it can take commands at once.
    frameyard::RealtimeStream stream(endpoint, commandStream({name}));
    stream.setThreshold(name, value);
    waitForMessage(
        stream,
        [&](const Json& m) {
            if (!m.isTagged("camera") || m.items.size() < 3 || !m.items[1].isNumber() || m.items[1].number != 0) {
                return false;
            }
            const Json& inner = m.items[2];
            return inner.isTagged("setting_changed") && inner.items.size() >= 3 && inner.items[1].isString() &&
                   inner.items[1].text == "_threshold" && inner.items[2].isNumber() && inner.items[2].number == value;
        },
        endpoint.timeoutMs, "threshold confirmation");
    std::printf("%s: threshold %u\n", name.c_str(), value);
    return 0;
}

int runSetting(const frameyard::Endpoint& endpoint, const std::vector<std::string>& words) {
    Args args = parseArgs(words, {}, {});
    if (printedHelp("setting", args.help)) return 0;
    if (args.positional.size() != 3) throw UsageError("setting needs CAMERA NAME VALUE");
    const std::string& camera = args.positional[0];
    const std::string& setting = args.positional[1];
    double value = parseNumber(args.positional[2], "the value");
    Selection selection = selectCameras(endpoint, camera);
    const frameyard::Camera& info = selection.all[static_cast<size_t>(selection.indices[0])];
    if (info.setting(setting) == nullptr) {
        std::string known;
        for (const auto& s : info.settings) known += (known.empty() ? "" : ", ") + s.name;
        throw Error("camera '" + camera + "' has no setting '" + setting + "' (settings: " +
                          (known.empty() ? "none" : known) + ")");
    }

    frameyard::Connection connection(endpoint);
    frameyard::requireOk(frameyard::exchangeCommand(connection, frameyard::wantCamerasCommand({camera})), "want_cameras");
    frameyard::requireOk(frameyard::exchangeCommand(connection, frameyard::changeSettingCommand(setting, value)),
                        "change_setting");
    // Read the camera back: the host may have kept the value within its range.
    std::string reply = frameyard::exchangeCommand(connection, frameyard::getCameraSettingsCommand());
    std::optional<Json> parsed = frameyard::parseJson(reply);
    if (!parsed || !parsed->isTagged("result") || parsed->items.size() < 2) {
        throw Error("unexpected reply to get_camera_settings: " + reply);
    }
    std::vector<frameyard::Camera> cameras = frameyard::parseCameras(parsed->items[1]);
    const frameyard::NumberSetting* now = cameras.empty() ? nullptr : cameras[0].setting(setting);
    if (now == nullptr) throw Error("camera '" + camera + "' no longer lists setting '" + setting + "'");
    std::string range;
    if (now->minimum || now->maximum) {
        range = " (range " + (now->minimum ? frameyard::formatNumber(*now->minimum) : std::string("-")) + " to " +
                (now->maximum ? frameyard::formatNumber(*now->maximum) : std::string("-")) + ")";
    }
    std::printf("%s: %s = %s%s\n", camera.c_str(), setting.c_str(), frameyard::formatNumber(now->value).c_str(),
                range.c_str());
    if (frameyard::formatNumber(now->value) != frameyard::formatNumber(static_cast<float>(value))) {
        std::printf("note: the host holds %s instead of the requested %s\n", frameyard::formatNumber(now->value).c_str(),
                    frameyard::formatNumber(value).c_str());
    }
    return 0;
}

int runMasks(const frameyard::Endpoint& endpoint, const std::vector<std::string>& words) {
    Args args = parseArgs(words, {}, {});
    if (printedHelp("masks", args.help)) return 0;
    if (args.positional.empty()) throw UsageError("masks needs get, set, add-rect or delete-rect");
    std::string action = args.positional[0];
    std::vector<std::string> rest(args.positional.begin() + 1, args.positional.end());
    if (action == "get") return masksGet(endpoint, rest);
    if (action == "set") return masksSet(endpoint, rest);
    if (action == "add-rect") return masksRectangle(endpoint, rest, true);
    if (action == "delete-rect") return masksRectangle(endpoint, rest, false);
    throw UsageError("unknown masks action '" + action + "' (get, set, add-rect, delete-rect)");
}

}  // namespace fycli
