// threshold, setting and masks: changing a camera and reading the change back.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "tools/client/command_client.h"
#include "tools/client/configure_client.h"
#include "tools/frameyard-client/cli_args.h"
#include "tools/frameyard-client/commands.h"
#include "tools/frameyard-client/stream_setup.h"

namespace fycli {
namespace {

using fyclient::ClientError;
using fyclient::Json;

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
    return fyclient::formatNumber(r.x1) + "," + fyclient::formatNumber(r.y1) + " to " + fyclient::formatNumber(r.x2) +
           "," + fyclient::formatNumber(r.y2);
}

std::string circleText(const fyclient::CircularMask& m) {
    return fyclient::formatNumber(m.x) + "," + fyclient::formatNumber(m.y) + " radius " + fyclient::formatNumber(m.radius);
}

float member(const Json& object, const char* name) {
    const Json* value = object.find(name);
    if (value == nullptr || !value->isNumber()) throw ClientError(std::string("rectangular mask without ") + name);
    return static_cast<float>(value->number);
}

// The entries of a ["rectangular_masks",[...]] message: null (no support) or a mask list.
std::vector<std::optional<std::vector<Rectangle>>> rectanglesOf(const Json& message) {
    if (message.items.size() < 2 || !message.items[1].isArray()) throw ClientError("malformed rectangular_masks message");
    std::vector<std::optional<std::vector<Rectangle>>> out;
    for (const Json& entry : message.items[1].items) {
        if (entry.isNull()) {
            out.emplace_back();
            continue;
        }
        if (!entry.isArray()) throw ClientError("malformed rectangular_masks entry");
        std::vector<Rectangle> list;
        for (const Json& mask : entry.items) {
            list.push_back({member(mask, "x1"), member(mask, "y1"), member(mask, "x2"), member(mask, "y2")});
        }
        out.emplace_back(std::move(list));
    }
    return out;
}

bool isRectangleMessage(const Json& value) { return value.isTagged("rectangular_masks"); }

void printRectangles(const std::optional<std::vector<Rectangle>>& list) {
    if (!list) {
        std::printf("  rectangular  not supported\n");
    } else if (list->empty()) {
        std::printf("  rectangular  none\n");
    } else {
        for (const Rectangle& r : *list) std::printf("  rectangular  %s\n", rectangleText(r).c_str());
    }
}

void printCircles(const std::vector<fyclient::CircularMask>& list) {
    if (list.empty()) std::printf("  circular     none\n");
    for (const auto& m : list) std::printf("  circular     %s\n", circleText(m).c_str());
}

fyclient::CircularMask parseCircle(const std::string& text) {
    std::vector<std::string> parts = splitList(text, "a circular mask");
    if (parts.size() != 3) throw UsageError("a circular mask is X,Y,RADIUS, not '" + text + "'");
    fyclient::CircularMask mask;
    mask.x = parseFloat(parts[0], "X");
    mask.y = parseFloat(parts[1], "Y");
    mask.radius = parseFloat(parts[2], "RADIUS");
    if (mask.radius < 0) throw UsageError("a mask radius must not be negative");
    return mask;
}

int masksGet(const fyclient::Endpoint& endpoint, const std::vector<std::string>& rest) {
    if (rest.size() > 1) throw UsageError("masks get takes at most one camera name");
    Selection selection = selectCameras(endpoint, rest.empty() ? "" : rest[0]);
    fyclient::MaskTable circles = fyclient::configureGetMasks(endpoint);
    // The session gets every camera, so the message has one entry per camera index.
    fyclient::RealtimeOptions options;
    options.handshake = false;
    options.tagged = true;
    StreamConnection stream(endpoint, {}, static_cast<int>(selection.all.size()), options);
    stream.session().sendMessage(fyclient::kMonitorRequests[2]);
    auto rectangles = rectanglesOf(stream.waitForMessage(isRectangleMessage, endpoint.timeoutMs, "rectangular mask list"));
    for (int index : selection.indices) {
        auto i = static_cast<size_t>(index);
        std::printf("%s\n", selection.all[i].name.c_str());
        printCircles(i < circles.size() ? circles[i] : std::vector<fyclient::CircularMask>{});
        printRectangles(i < rectangles.size() ? rectangles[i] : std::nullopt);
    }
    return 0;
}

int masksSet(const fyclient::Endpoint& endpoint, const std::vector<std::string>& rest) {
    if (rest.empty()) throw UsageError("masks set needs a camera name");
    std::vector<fyclient::CircularMask> masks;
    for (size_t i = 1; i < rest.size(); ++i) masks.push_back(parseCircle(rest[i]));
    Selection selection = selectCameras(endpoint, rest[0]);
    auto index = static_cast<size_t>(selection.indices[0]);

    fyclient::MaskTable table = fyclient::configureGetMasks(endpoint);
    table.resize(std::max(table.size(), selection.all.size()));
    table[index] = masks;
    fyclient::configureSetMasks(endpoint, table);
    // The server answers nothing to a set request: read the table back until it shows ours.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(endpoint.timeoutMs);
    for (;;) {
        fyclient::MaskTable now = fyclient::configureGetMasks(endpoint);
        if (index < now.size() && now[index] == masks) break;
        if (std::chrono::steady_clock::now() > deadline) {
            throw ClientError("the server did not apply the circular masks of " + rest[0]);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::printf("%s\n", rest[0].c_str());
    printCircles(masks);
    return 0;
}

int masksRectangle(const fyclient::Endpoint& endpoint, const std::vector<std::string>& rest, bool add) {
    if (rest.size() != 5) throw UsageError(std::string("masks ") + (add ? "add-rect" : "delete-rect") + " needs CAMERA X1 Y1 X2 Y2");
    Rectangle wanted{parseFloat(rest[1], "X1"), parseFloat(rest[2], "Y1"), parseFloat(rest[3], "X2"),
                     parseFloat(rest[4], "Y2")};
    if (wanted.x1 > wanted.x2 || wanted.y1 > wanted.y2) throw UsageError("a rectangle needs X1 <= X2 and Y1 <= Y2");
    selectCameras(endpoint, rest[0]);

    fyclient::RealtimeOptions options;
    options.handshake = false;
    options.tagged = true;
    StreamConnection stream(endpoint, {rest[0]}, 1, options);
    stream.session().sendMessage(fyclient::kMonitorRequests[2]);
    auto before = rectanglesOf(stream.waitForMessage(isRectangleMessage, endpoint.timeoutMs, "rectangular mask list"));
    if (before.empty() || !before[0]) throw ClientError("camera '" + rest[0] + "' does not support rectangular masks");
    if (!add) {
        // Delete what the server holds, not our rounding of it.
        auto found = std::find_if(before[0]->begin(), before[0]->end(), [&](const Rectangle& r) { return nearlyEqual(r, wanted); });
        if (found == before[0]->end()) {
            throw ClientError("camera '" + rest[0] + "' has no rectangular mask " + rectangleText(wanted));
        }
        wanted = *found;
    }
    std::string command = add ? fyclient::addRectangularMaskCommand(wanted.x1, wanted.y1, wanted.x2, wanted.y2)
                              : fyclient::deleteRectangularMaskCommand(wanted.x1, wanted.y1, wanted.x2, wanted.y2);
    stream.session().sendMessage(fyclient::cameraMessage(0, command));
    auto after = rectanglesOf(stream.waitForMessage(isRectangleMessage, endpoint.timeoutMs, "changed rectangular mask list"));
    if (after.empty() || !after[0]) throw ClientError("camera '" + rest[0] + "' lost its rectangular mask support");
    size_t matchesBefore = std::count_if(before[0]->begin(), before[0]->end(), [&](const Rectangle& r) { return nearlyEqual(r, wanted); });
    size_t matchesAfter = std::count_if(after[0]->begin(), after[0]->end(), [&](const Rectangle& r) { return nearlyEqual(r, wanted); });
    if (add ? matchesAfter <= matchesBefore : matchesAfter >= matchesBefore) {
        throw ClientError(std::string("the server did not ") + (add ? "add" : "delete") + " the rectangular mask");
    }
    std::printf("%s\n", rest[0].c_str());
    printRectangles(after[0]);
    return 0;
}

}  // namespace

int runThreshold(const fyclient::Endpoint& endpoint, const std::vector<std::string>& words) {
    Args args = parseArgs(words, {}, {});
    if (printedHelp("threshold", args.help)) return 0;
    if (args.positional.size() != 2) throw UsageError("threshold needs CAMERA VALUE");
    const std::string& name = args.positional[0];
    auto value = static_cast<uint16_t>(parseInteger(args.positional[1], "the threshold", 0, 255));
    selectCameras(endpoint, name);

    // A session of the one camera, tagged so that the server's confirmation can be told apart
    // from frames; without the handshake it can take commands at once.
    fyclient::RealtimeOptions options;
    options.handshake = false;
    options.tagged = true;
    StreamConnection stream(endpoint, {name}, 1, options);
    stream.session().sendThreshold(0, value);
    stream.waitForMessage(
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

int runSetting(const fyclient::Endpoint& endpoint, const std::vector<std::string>& words) {
    Args args = parseArgs(words, {}, {});
    if (printedHelp("setting", args.help)) return 0;
    if (args.positional.size() != 3) throw UsageError("setting needs CAMERA NAME VALUE");
    const std::string& camera = args.positional[0];
    const std::string& setting = args.positional[1];
    double value = parseNumber(args.positional[2], "the value");
    Selection selection = selectCameras(endpoint, camera);
    const fyclient::CameraInfo& info = selection.all[static_cast<size_t>(selection.indices[0])];
    if (info.setting(setting) == nullptr) {
        std::string known;
        for (const auto& s : info.settings) known += (known.empty() ? "" : ", ") + s.name;
        throw ClientError("camera '" + camera + "' has no setting '" + setting + "' (settings: " +
                          (known.empty() ? "none" : known) + ")");
    }

    fyclient::Connection connection(endpoint);
    fyclient::requireOk(fyclient::exchangeCommand(connection, fyclient::wantCamerasRequest({camera})), "want_cameras");
    fyclient::requireOk(fyclient::exchangeCommand(connection, fyclient::changeSettingRequest(setting, value)),
                        "change_setting");
    // Read the camera back: the host may have kept the value within its range.
    std::string reply = fyclient::exchangeCommand(connection, fyclient::getCameraSettingsRequest());
    std::optional<Json> parsed = fyclient::parseJson(reply);
    if (!parsed || !parsed->isTagged("result") || parsed->items.size() < 2) {
        throw ClientError("unexpected reply to get_camera_settings: " + reply);
    }
    std::vector<fyclient::CameraInfo> cameras = fyclient::parseCameraArray(parsed->items[1]);
    const fyclient::NumberSettingInfo* now = cameras.empty() ? nullptr : cameras[0].setting(setting);
    if (now == nullptr) throw ClientError("camera '" + camera + "' no longer lists setting '" + setting + "'");
    std::string range;
    if (now->minimum || now->maximum) {
        range = " (range " + (now->minimum ? fyclient::formatNumber(*now->minimum) : std::string("-")) + " to " +
                (now->maximum ? fyclient::formatNumber(*now->maximum) : std::string("-")) + ")";
    }
    std::printf("%s: %s = %s%s\n", camera.c_str(), setting.c_str(), fyclient::formatNumber(now->value).c_str(),
                range.c_str());
    if (fyclient::formatNumber(now->value) != fyclient::formatNumber(static_cast<float>(value))) {
        std::printf("note: the host holds %s instead of the requested %s\n", fyclient::formatNumber(now->value).c_str(),
                    fyclient::formatNumber(value).c_str());
    }
    return 0;
}

int runMasks(const fyclient::Endpoint& endpoint, const std::vector<std::string>& words) {
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
