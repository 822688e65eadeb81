#pragma once
// What several subcommands share: choosing cameras by name, opening a realtime session on a
// connection prepared by command exchanges, and waiting for one particular message.
#include <array>
#include <chrono>
#include <csignal>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/client/camera_info.h"
#include "tools/client/connection.h"
#include "tools/client/json_reader.h"
#include "tools/client/realtime_client.h"
#include "tools/frameyard-client/cli_args.h"
#include "tools/frameyard-client/terminal.h"

namespace fycli {

// The cameras a command works on: all by default, or those named, in the order named.
struct Selection {
    std::vector<fyclient::CameraInfo> all;
    std::vector<int> indices;              // into `all`
    std::vector<std::string> wantedNames;  // empty when every camera is used
    std::vector<std::string> names() const;
};

// Reads the descriptions and resolves `list` ("a,b"; empty for all cameras).
Selection selectCameras(const fyclient::Endpoint& endpoint, const std::string& list);

// A connection running a realtime session. With `tagged` the connection first enables
// realtime messages; with wanted names it first asks for those cameras.
class StreamConnection {
public:
    StreamConnection(const fyclient::Endpoint& endpoint, const std::vector<std::string>& wantedNames,
                     int cameraCount, fyclient::RealtimeOptions options);

    fyclient::RealtimeSession& session() { return realtime; }

    // Reads items until a JSON message satisfies `match` (frames and other messages are
    // skipped); throws ClientError when waitMs pass first.
    fyclient::Json waitForMessage(const std::function<bool(const fyclient::Json&)>& match, int waitMs,
                                  const std::string& what);

private:
    fyclient::Connection connection;
    fyclient::RealtimeSession realtime;
};

// Set by SIGINT and SIGTERM once installInterruptHandler() ran; loops poll it.
extern volatile std::sig_atomic_t interrupted;
void installInterruptHandler();

// --seconds S of a streaming command: 0 (until interrupted) when absent, never negative.
double runSeconds(const Args& args);

// "hh:mm:ss:ff" of a timecode's four low bytes.
std::string timecodeText(const std::array<uint8_t, 4>& timecode);

}  // namespace fycli
