#pragma once
// The bridge's command line: which host, which NATS servers, under which subject prefix, and
// whether control requests are accepted.
#include <string>
#include <vector>

namespace bridge {

struct BridgeOptions {
    std::string host = "127.0.0.1";
    int port = 4000;
    std::vector<std::string> natsUrls{"nats://127.0.0.1:4222"};
    std::string prefix = "frameyard";
    std::vector<std::string> cameras;   // empty: every camera of the host
    bool control = false;
    std::string jetstream;              // empty: no stream
    int maxAgeSeconds = 3600;
    double seconds = 0;                 // 0: until a signal
    bool quiet = false;
    bool help = false;
};

// Throws std::invalid_argument with a one-line reason for an unknown option or a bad value.
BridgeOptions parseBridgeOptions(const std::vector<std::string>& args);

std::string bridgeUsage();

// "a,b,,c" -> {"a","b","c"}
std::vector<std::string> splitList(const std::string& text);

}  // namespace bridge
