#include "tools/frameyard-stress/stress_options.h"

#include <cstdlib>
#include <sstream>

#include <frameyard/client.h>

namespace stress {

const char kUsage[] =
    "usage: frameyard-stress [options]\n"
    "Loads a frameyard server on this machine with steady realtime clients and abusive ones,\n"
    "then prints one summary line per kind. Exits 1 when a steady client lost a frame, got one\n"
    "out of order, was cut off or could not connect.\n"
    "  --host H          server address, loopback only (default 127.0.0.1)\n"
    "  --port N          server port (default 4000)\n"
    "  --seconds S       how long to run, up to 3600 (default 10)\n"
    "  --steady N        steady realtime clients (default 4)\n"
    "  --compact         steady clients take compact centroids\n"
    "  --no-timecodes    steady clients ask for no timecodes (frames are then only counted)\n"
    "  --tagged          steady clients enable realtime messages first (tagged frames)\n"
    "  --abusive M       abusive clients, spread over the kinds (default 0)\n"
    "  --kinds K,K,...   abusive kinds: half, staller, bytewise, garbage, oversized, reset,\n"
    "                    churn, silent (default all)\n"
    "  --fps F           the host's frame rate, for reading timecodes (default 100)\n"
    "  --clock-timecodes the host stamps frames with the time of day (frameyard-simhost\n"
    "                    --time-of-day): latencies are measured from the stamps\n"
    "  --help            this text\n"
    "At most 10000 clients in all.\n";

namespace {

double number(const std::string& option, const char* text, double low, double high) {
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(value >= low && value <= high)) {
        std::ostringstream message;
        message << option << " needs a number from " << low << " to " << high << ", not '" << text << "'";
        throw frameyard::Error(message.str());
    }
    return value;
}

int integer(const std::string& option, const char* text, int low, int high) {
    double value = number(option, text, low, high);
    if (value != static_cast<int>(value)) throw frameyard::Error(option + " needs a whole number");
    return static_cast<int>(value);
}

std::vector<AbuseKind> kindList(const std::string& text) {
    std::vector<AbuseKind> kinds;
    std::stringstream in(text);
    std::string name;
    while (std::getline(in, name, ',')) {
        AbuseKind kind;
        if (!kindFromName(name, kind)) throw frameyard::Error("unknown abusive kind '" + name + "'");
        kinds.push_back(kind);
    }
    if (kinds.empty()) throw frameyard::Error("--kinds needs at least one kind");
    return kinds;
}

}  // namespace

Options parseOptions(int argc, char** argv, bool& help) {
    Options options;
    help = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            help = true;
            return options;
        }
        if (arg == "--compact") options.compact = true;
        else if (arg == "--no-timecodes") options.timecodes = false;
        else if (arg == "--tagged") options.tagged = true;
        else if (arg == "--clock-timecodes") options.clockTimecodes = true;
        else {
            if (i + 1 >= argc) throw frameyard::Error(arg + " needs a value, or is no option");
            const char* value = argv[++i];
            if (arg == "--host") options.host = value;
            else if (arg == "--port") options.port = integer(arg, value, 1, 65535);
            else if (arg == "--seconds") options.seconds = number(arg, value, 0.1, maxSeconds);
            else if (arg == "--steady") options.steady = integer(arg, value, 0, maxClients);
            else if (arg == "--abusive") options.abusive = integer(arg, value, 0, maxClients);
            else if (arg == "--kinds") options.kinds = kindList(value);
            else if (arg == "--fps") options.fps = integer(arg, value, 1, 255);
            else throw frameyard::Error("unknown option '" + arg + "'");
        }
    }
    if (options.steady + options.abusive > maxClients)
        throw frameyard::Error("at most " + std::to_string(maxClients) + " clients in all");
    if (options.clockTimecodes && !options.timecodes)
        throw frameyard::Error("--clock-timecodes needs timecodes");
    return options;
}

}  // namespace stress
