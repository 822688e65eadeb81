#include "tools/frameyard-bridge/bridge_options.h"

#include <cstdlib>
#include <stdexcept>

namespace bridge {
namespace {

long wholeNumber(const std::string& option, const std::string& text, long minimum, long maximum) {
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < minimum || value > maximum) {
        throw std::invalid_argument(option + " takes a whole number from " + std::to_string(minimum) + " to " +
                                    std::to_string(maximum) + ", not '" + text + "'");
    }
    return value;
}

double positiveSeconds(const std::string& text) {
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value > 0)) {
        throw std::invalid_argument("--seconds takes a positive number, not '" + text + "'");
    }
    return value;
}

std::string nonEmpty(const std::string& option, const std::string& text) {
    if (text.empty()) throw std::invalid_argument(option + " needs a value");
    return text;
}

}  // namespace

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        if (comma > start) items.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return items;
}

BridgeOptions parseBridgeOptions(const std::vector<std::string>& args) {
    BridgeOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) throw std::invalid_argument(option + " needs a value");
            return args[++i];
        };
        if (option == "--host") options.host = nonEmpty(option, value());
        else if (option == "--port") options.port = static_cast<int>(wholeNumber(option, value(), 1, 65535));
        else if (option == "--nats") options.natsUrls = splitList(nonEmpty(option, value()));
        else if (option == "--prefix") options.prefix = nonEmpty(option, value());
        else if (option == "--cameras") options.cameras = splitList(value());
        else if (option == "--control") options.control = true;
        else if (option == "--jetstream") options.jetstream = nonEmpty(option, value());
        else if (option == "--max-age") options.maxAgeSeconds = static_cast<int>(wholeNumber(option, value(), 1, 100000000));
        else if (option == "--seconds") options.seconds = positiveSeconds(value());
        else if (option == "--quiet") options.quiet = true;
        else if (option == "--help" || option == "-h") options.help = true;
        else throw std::invalid_argument("unknown option '" + option + "' (see --help)");
    }
    if (options.natsUrls.empty()) throw std::invalid_argument("--nats needs at least one URL");
    return options;
}

std::string bridgeUsage() {
    return "usage: frameyard-bridge [options]\n"
           "Publishes a frameyard host's realtime frames and notifications to NATS.\n"
           "  --host H          the frameyard host (default 127.0.0.1)\n"
           "  --port N          its port (default 4000)\n"
           "  --nats URL[,URL]  NATS servers (default nats://127.0.0.1:4222)\n"
           "  --prefix NAME     subject prefix (default frameyard)\n"
           "  --cameras a,b     cameras to publish (default all)\n"
           "  --control         answer PREFIX.control.threshold and PREFIX.control.setting\n"
           "  --jetstream NAME  also keep frames and events in this JetStream stream\n"
           "  --max-age S       retention of a stream the bridge creates, seconds (default 3600)\n"
           "  --seconds S       stop after S seconds (default: at SIGINT or SIGTERM)\n"
           "  --quiet           no status line every second\n"
           "  --help            this text\n";
}

}  // namespace bridge
