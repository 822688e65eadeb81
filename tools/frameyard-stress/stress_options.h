#pragma once
// The load tool's command line: what to connect to, how many steady and abusive clients of
// which kinds, and for how long; every count and time is bounded.
#include <string>
#include <vector>

#include "tools/frameyard-stress/abusers.h"

namespace stress {

struct Options {
    std::string host = "127.0.0.1";
    int port = 4000;
    double seconds = 10;
    int steady = 4;
    bool compact = false;
    bool timecodes = true;
    bool tagged = false;
    int abusive = 0;
    std::vector<AbuseKind> kinds{std::begin(allAbuseKinds), std::end(allAbuseKinds)};
    int fps = 100;
    bool clockTimecodes = false;
};

constexpr int maxClients = 10000;
constexpr double maxSeconds = 3600;

extern const char kUsage[];

// Throws frameyard::Error with a line for the user on a bad command line; sets help when
// --help was given.
Options parseOptions(int argc, char** argv, bool& help);

}  // namespace stress
