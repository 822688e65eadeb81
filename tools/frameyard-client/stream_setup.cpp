#include "tools/frameyard-client/stream_setup.h"

#include <chrono>
#include <cstdio>

#include "tools/client/command_client.h"
#include "tools/frameyard-client/cli_args.h"
#include "tools/client/configure_client.h"

namespace fycli {

using fyclient::ClientError;

volatile std::sig_atomic_t interrupted = 0;

namespace {
void onInterrupt(int) { interrupted = 1; }
}  // namespace

void installInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;   // no SA_RESTART: a waiting poll() returns at once
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

std::vector<std::string> Selection::names() const {
    std::vector<std::string> out;
    for (int index : indices) out.push_back(all[static_cast<size_t>(index)].name);
    return out;
}

Selection selectCameras(const fyclient::Endpoint& endpoint, const std::string& list) {
    Selection selection;
    selection.all = fyclient::configureGetCameras(endpoint);
    if (list.empty()) {
        for (size_t i = 0; i < selection.all.size(); ++i) selection.indices.push_back(static_cast<int>(i));
        if (selection.indices.empty()) throw ClientError("the server has no cameras");
        return selection;
    }
    for (const std::string& name : splitList(list, "--cameras")) {
        int index = fyclient::findCamera(selection.all, name);
        for (int chosen : selection.indices) {
            if (chosen == index) throw UsageError("camera '" + name + "' is named twice");
        }
        selection.indices.push_back(index);
        selection.wantedNames.push_back(name);
    }
    return selection;
}

StreamConnection::StreamConnection(const fyclient::Endpoint& endpoint, const std::vector<std::string>& wantedNames,
                                   int cameraCount, fyclient::RealtimeOptions options)
    : connection(endpoint), realtime(connection, cameraCount, options) {
    if (options.tagged) {
        fyclient::requireOk(fyclient::exchangeCommand(connection, fyclient::enableRealtimeMessagesRequest()),
                            "enable_realtime_messages");
    }
    if (!wantedNames.empty()) {
        fyclient::requireOk(fyclient::exchangeCommand(connection, fyclient::wantCamerasRequest(wantedNames)),
                            "want_cameras");
    }
    realtime.open();
}

fyclient::Json StreamConnection::waitForMessage(const std::function<bool(const fyclient::Json&)>& match, int waitMs,
                                                const std::string& what) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (std::chrono::steady_clock::now() < deadline && !interrupted) {
        std::optional<fyclient::RealtimeItem> item = realtime.next(50);
        if (!item || !item->isMessage) continue;
        std::optional<fyclient::Json> value = fyclient::parseJson(item->message);
        if (value && match(*value)) return *value;
    }
    throw ClientError("no " + what + " from the server within " + std::to_string(waitMs) + " ms");
}

double runSeconds(const Args& args) {
    double seconds = args.values.count("--seconds") ? parseNumber(args.value("--seconds"), "--seconds") : 0.0;
    if (seconds < 0) throw UsageError("--seconds must not be negative");
    return seconds;
}

std::string timecodeText(const std::array<uint8_t, 4>& timecode) {
    char out[16];
    std::snprintf(out, sizeof out, "%02u:%02u:%02u:%02u", timecode[0], timecode[1], timecode[2], timecode[3]);
    return out;
}

}  // namespace fycli
