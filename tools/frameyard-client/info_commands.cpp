// cameras and command: reading what the server has, and raw command exchanges.
#include <cstdio>

#include "tools/frameyard-client/cli_args.h"
#include "tools/frameyard-client/commands.h"

namespace fycli {
namespace {

std::string regionText(const std::optional<frameyard::Region>& region) {
    if (!region) return "-";
    return frameyard::formatNumber(region->left) + ".." + frameyard::formatNumber(region->right) + " x " +
           frameyard::formatNumber(region->top) + ".." + frameyard::formatNumber(region->bottom);
}

std::string settingText(const frameyard::NumberSetting& s) {
    std::string text = s.name + "=" + frameyard::formatNumber(s.value);
    if (s.minimum || s.maximum || s.precision != 0) {
        text += " [";
        text += s.minimum ? frameyard::formatNumber(*s.minimum) : "";
        text += "..";
        text += s.maximum ? frameyard::formatNumber(*s.maximum) : "";
        if (s.precision != 0) text += ", precision " + std::to_string(s.precision);
        text += "]";
    }
    return text;
}

std::string pad(std::string text, size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

}  // namespace

int runCameras(const frameyard::Endpoint& endpoint, const std::vector<std::string>& words) {
    Args args = parseArgs(words, {"--json"}, {});
    if (printedHelp("cameras", args.help)) return 0;
    if (!args.positional.empty()) throw UsageError("cameras takes no arguments");
    if (args.has("--json")) {
        std::printf("%s\n", frameyard::Host(endpoint).camerasText().c_str());
        return 0;
    }
    std::vector<frameyard::Camera> cameras = frameyard::Host(endpoint).cameras();
    std::vector<int> thresholds = frameyard::Host(endpoint).thresholds();
    size_t nameWidth = 8;   // "camera" and two spaces
    size_t regionWidth = 20;
    for (const auto& c : cameras) {
        nameWidth = std::max(nameWidth, c.name.size() + 2);
        regionWidth = std::max(regionWidth, regionText(c.imageRegion).size() + 2);
    }
    std::printf("%s%s%s%s\n", pad("camera", nameWidth).c_str(), pad("image region", regionWidth).c_str(),
                pad("threshold", 11).c_str(), "settings");
    for (size_t i = 0; i < cameras.size(); ++i) {
        const auto& c = cameras[i];
        std::string settings;
        for (const auto& s : c.settings) settings += (settings.empty() ? "" : ", ") + settingText(s);
        if (c.disabled) settings += settings.empty() ? "(disabled)" : " (disabled)";
        std::string threshold = i < thresholds.size() ? std::to_string(thresholds[i]) : "-";
        std::printf("%s%s%s%s\n", pad(c.name, nameWidth).c_str(), pad(regionText(c.imageRegion), regionWidth).c_str(),
                    pad(threshold, 11).c_str(), settings.empty() ? "-" : settings.c_str());
    }
    if (cameras.empty()) std::printf("(no cameras)\n");
    return 0;
}

int runCommand(const frameyard::Endpoint& endpoint, const std::vector<std::string>& words) {
    Args args = parseArgs(words, {}, {});
    if (printedHelp("command", args.help)) return 0;
    if (args.positional.empty()) throw UsageError("command needs at least one JSON request");
    frameyard::Connection connection(endpoint);
    for (const std::string& request : args.positional) {
        std::string reply = frameyard::exchangeCommand(connection, request);
        std::printf("%s\n", reply.c_str());
        std::fflush(stdout);
        frameyard::ReplyCheck check = frameyard::checkReply(reply);
        if (check.isError) {
            throw frameyard::Error("error reply to " + request + ": " + check.failure + " (" +
                                        (reply.empty() ? "empty reply" : reply) + ")");
        }
    }
    return 0;
}

}  // namespace fycli
