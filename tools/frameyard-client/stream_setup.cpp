#include "tools/frameyard-client/stream_setup.h"

#include <chrono>
#include <optional>

#include "tools/frameyard-client/cli_args.h"

namespace fycli {

using frameyard::Error;

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

Selection selectCameras(const frameyard::Endpoint& endpoint, const std::string& list) {
    Selection selection;
    selection.all = frameyard::Host(endpoint).cameras();
    if (list.empty()) {
        for (size_t i = 0; i < selection.all.size(); ++i) selection.indices.push_back(static_cast<int>(i));
        if (selection.indices.empty()) throw Error("the server has no cameras");
        return selection;
    }
    for (const std::string& name : splitList(list, "--cameras")) {
        int index = frameyard::findCamera(selection.all, name);
        for (int chosen : selection.indices) {
            if (chosen == index) throw UsageError("camera '" + name + "' is named twice");
        }
        selection.indices.push_back(index);
        selection.wantedNames.push_back(name);
    }
    return selection;
}

frameyard::Json waitForMessage(frameyard::RealtimeStream& stream,
                               const std::function<bool(const frameyard::Json&)>& match, int waitMs,
                               const std::string& what) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    frameyard::Frame frame;
    std::string message;
    while (std::chrono::steady_clock::now() < deadline && !interrupted) {
        if (stream.next(frame, message, 50) != frameyard::Got::message) continue;
        std::optional<frameyard::Json> value = frameyard::parseJson(message);
        if (value && match(*value)) return *value;
    }
    throw Error("no " + what + " from the server within " + std::to_string(waitMs) + " ms");
}

double runSeconds(const Args& args) {
    double seconds = args.values.count("--seconds") ? parseNumber(args.value("--seconds"), "--seconds") : 0.0;
    if (seconds < 0) throw UsageError("--seconds must not be negative");
    return seconds;
}

}  // namespace fycli
