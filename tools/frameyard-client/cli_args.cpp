#include "tools/frameyard-client/cli_args.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace fycli {

std::string Args::value(const std::string& name, const std::string& fallback) const {
    auto found = values.find(name);
    return found == values.end() ? fallback : found->second;
}

Args parseArgs(const std::vector<std::string>& words, const std::set<std::string>& flagNames,
               const std::set<std::string>& valueNames) {
    Args args;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "--help" || word == "-h") {
            args.help = true;
        } else if (word.rfind("--", 0) == 0) {
            std::string name = word;
            std::string value;
            bool inlineValue = false;
            size_t equals = word.find('=');
            if (equals != std::string::npos) {
                name = word.substr(0, equals);
                value = word.substr(equals + 1);
                inlineValue = true;
            }
            if (flagNames.count(name) && !inlineValue) {
                args.flags.insert(name);
            } else if (valueNames.count(name)) {
                if (!inlineValue) {
                    if (i + 1 >= words.size()) throw UsageError(name + " needs a value");
                    value = words[++i];
                }
                args.values[name] = value;
            } else {
                throw UsageError("unknown option '" + word + "'");
            }
        } else {
            args.positional.push_back(word);
        }
    }
    return args;
}

double parseNumber(const std::string& text, const std::string& what) {
    char* end = nullptr;
    errno = 0;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(value)) {
        throw UsageError(what + " must be a number, not '" + text + "'");
    }
    return value;
}

float parseFloat(const std::string& text, const std::string& what) {
    double value = parseNumber(text, what);
    if (std::fabs(value) > std::numeric_limits<float>::max()) {
        throw UsageError(what + " is too large, not '" + text + "'");
    }
    return static_cast<float>(value);
}

long parseInteger(const std::string& text, const std::string& what, long low, long high) {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || end != text.c_str() + text.size() || errno == ERANGE || value < low || value > high) {
        throw UsageError(what + " must be a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not '" + text + "'");
    }
    return value;
}

std::vector<std::string> splitList(const std::string& text, const std::string& what) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        std::string part = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (part.empty()) throw UsageError(what + " has an empty entry in '" + text + "'");
        parts.push_back(part);
        if (comma == std::string::npos) return parts;
        start = comma + 1;
    }
}

}  // namespace fycli
