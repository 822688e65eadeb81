#include "tests/transcripts/transcript.h"

#include <fstream>
#include <sstream>

namespace transcript {

namespace {

const char* const requiredKeys[] = {"transcript", "scenario", "library", "kind", "cameras"};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The hex bytes of a data line, up to an optional "# note".
bool parseHex(const std::string& text, std::vector<uint8_t>& out) {
    std::istringstream words(text);
    std::string word;
    while (words >> word) {
        if (word[0] == '#') return true;
        if (word.size() != 2 || hexDigit(word[0]) < 0 || hexDigit(word[1]) < 0) return false;
        out.push_back(static_cast<uint8_t>(hexDigit(word[0]) * 16 + hexDigit(word[1])));
    }
    return true;
}

}  // namespace

std::string Transcript::value(const std::string& key, const std::string& fallback) const {
    auto found = metadata.find(key);
    return found == metadata.end() ? fallback : found->second;
}

int Transcript::number(const std::string& key, int fallback) const {
    std::string text = value(key);
    if (text.empty()) return fallback;
    try {
        return std::stoi(text);
    } catch (const std::exception&) {
        return fallback;
    }
}

std::map<std::string, int> Transcript::expectations() const {
    std::map<std::string, int> counts;
    std::istringstream words(value("expect"));
    std::string word;
    while (words >> word) {
        size_t equals = word.find('=');
        if (equals == std::string::npos) continue;
        try {
            counts[word.substr(0, equals)] = std::stoi(word.substr(equals + 1));
        } catch (const std::exception&) {
        }
    }
    return counts;
}

std::vector<uint8_t> Transcript::allBytes(Marker side) const {
    std::vector<uint8_t> bytes;
    for (const Step& step : steps)
        if (step.marker == side) bytes.insert(bytes.end(), step.bytes.begin(), step.bytes.end());
    return bytes;
}

bool parse(std::istream& in, Transcript& out, std::string& error) {
    out = Transcript();
    std::string line;
    int number = 0;
    bool dataSeen = false;
    auto fail = [&](const std::string& why) {
        error = "line " + std::to_string(number) + ": " + why;
        return false;
    };
    while (std::getline(in, line)) {
        ++number;
        if (line.empty()) continue;
        char marker = line[0];
        std::string rest = line.size() > 2 ? line.substr(2) : "";
        if (line.size() > 1 && line[1] != ' ') return fail("a marker is followed by a space");
        switch (marker) {
            case '#':
                break;
            case '@': {
                if (dataSeen) return fail("metadata after the first data line");
                size_t space = rest.find(' ');
                std::string key = rest.substr(0, space);
                std::string value = space == std::string::npos ? "" : rest.substr(space + 1);
                if (key.empty()) return fail("metadata without a key");
                out.metadata[key] = value;
                break;
            }
            case '>':
            case '<': {
                dataSeen = true;
                Marker side = marker == '>' ? Marker::client : Marker::server;
                // Consecutive lines of one side are one chunk.
                if (out.steps.empty() || out.steps.back().marker != side) out.steps.push_back(Step{side, {}, {}, {}});
                if (!parseHex(rest, out.steps.back().bytes)) return fail("bad hex byte");
                break;
            }
            case '!': {
                dataSeen = true;
                Step step;
                step.marker = Marker::event;
                std::istringstream words(rest);
                if (!(words >> step.event)) return fail("an event without a name");
                std::string word;
                while (words >> word) step.args.push_back(word);
                out.steps.push_back(step);
                break;
            }
            default:
                return fail(std::string("unknown marker '") + marker + "'");
        }
    }
    for (const char* key : requiredKeys)
        if (out.metadata.find(key) == out.metadata.end()) return fail(std::string("no '@ ") + key + "'");
    if (out.value("transcript") != "1") return fail("unknown format version " + out.value("transcript"));
    return true;
}

bool parseFile(const std::string& path, Transcript& out, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    if (parse(in, out, error)) return true;
    error = path + ": " + error;
    return false;
}

}  // namespace transcript
