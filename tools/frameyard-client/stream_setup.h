#pragma once
// What several subcommands share: choosing cameras by name, opening a realtime session on a
// stream of them, and waiting for one particular message.
#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include <frameyard/client.h>

#include "tools/frameyard-client/cli_args.h"
#include "tools/frameyard-client/terminal.h"

namespace fycli {

// The cameras a command works on: all by default, or those named, in the order named.
struct Selection {
    std::vector<frameyard::Camera> all;
    std::vector<int> indices;              // into `all`
    std::vector<std::string> wantedNames;  // empty when every camera is used
    std::vector<std::string> names() const;
};

// Reads the descriptions and resolves `list` ("a,b"; empty for all cameras).
Selection selectCameras(const frameyard::Endpoint& endpoint, const std::string& list);

// Reads the stream until a JSON message satisfies `match` (frames and other messages are
// skipped); throws frameyard::Error when waitMs pass first.
frameyard::Json waitForMessage(frameyard::RealtimeStream& stream,
                               const std::function<bool(const frameyard::Json&)>& match, int waitMs,
                               const std::string& what);

// Set by SIGINT and SIGTERM once installInterruptHandler() ran; loops poll it.
extern volatile std::sig_atomic_t interrupted;
void installInterruptHandler();

// --seconds S of a streaming command: 0 (until interrupted) when absent, never negative.
double runSeconds(const Args& args);

}  // namespace fycli
