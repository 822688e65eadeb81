#pragma once
// A transcript: one recorded connection in the line format of docs/transcripts/*.txt (metadata,
// client and server byte chunks, host events). Parsing only; every codec and test in the tree
// that reads transcripts goes through this, so the format has one reading in C++.
#include <cstdint>
#include <istream>
#include <map>
#include <string>
#include <vector>

namespace transcript {

enum class Marker { client, server, event };

// One chunk of bytes (consecutive '>' or '<' lines) or one host event ('!').
struct Step {
    Marker marker = Marker::client;
    std::vector<uint8_t> bytes;       // client and server chunks
    std::string event;                // event name, e.g. "frame"
    std::vector<std::string> args;    // event arguments, e.g. {"1", "40"}
};

struct Transcript {
    std::map<std::string, std::string> metadata;  // "@ KEY VALUE..." without the marker
    std::vector<Step> steps;

    // The metadata value, or the fallback when the key is absent.
    std::string value(const std::string& key, const std::string& fallback = "") const;
    // A numeric metadata value (e.g. "cameras", "compact"), or the fallback.
    int number(const std::string& key, int fallback = 0) const;
    // The counts of "@ expect KEY=N ...".
    std::map<std::string, int> expectations() const;
    // Every byte one side sent, in order.
    std::vector<uint8_t> allBytes(Marker side) const;
};

// Reads a whole transcript; false with a message naming the line when it is not one.
bool parse(std::istream& in, Transcript& out, std::string& error);
bool parseFile(const std::string& path, Transcript& out, std::string& error);

}  // namespace transcript
