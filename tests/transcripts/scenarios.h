#pragma once
// The scripted exchanges behind docs/transcripts: for each scenario the test host's set-up, the
// host events a transcript may name, and (for the recorder) the client's side with notes on what
// the server is expected to send back. The replay test uses only the set-up and the events; the
// bytes it checks come from the transcript files.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/test_client.h"
#include "tests/test_host.h"

namespace transcript {

using ByteString = std::vector<uint8_t>;

// Bytes the client sends, one annotated transcript line (wrapped when long).
struct Sent {
    ByteString bytes;
    std::string note;
};

// How many bytes of the server's answer one note covers.
struct Expect {
    size_t length;
    std::string note;
};

struct Action {
    enum class Kind { send, event, comment };
    Kind kind = Kind::comment;
    std::vector<Sent> sent;      // send: written in one go
    std::string event;           // event: "threshold 1 40"
    std::string text;            // comment
    std::vector<Expect> reply;   // the server's bytes after the action; none expected when empty
};

// Frames and images a host event hands to the host one at a time.
struct HostScript {
    std::vector<store::Server::Frame> frames;
    size_t nextFrame = 0;
#ifndef FRAMEYARD_TEST_REALTIME_ONLY
    std::map<int, std::vector<TestHost::ScriptedImage>> images;
    std::map<int, size_t> nextImage;
#endif
};

struct Scenario {
    std::string name;
    std::string library;  // "full" or "rt": the library that records it
    std::string kind;
    int cameras = 2;      // of the session's camera list
    std::vector<std::pair<std::string, std::string>> options;  // further metadata, in order
    std::string expect;
    std::string title;
    bool alsoRt = false;  // a libframeyard transcript libframeyard-rt must reproduce too
    std::function<void(TestHost&, HostScript&)> setup;
    std::vector<Action> script;
};

// The scenarios this build knows (those of its library, and the shared ones).
const std::vector<Scenario>& scenarios();
const Scenario* findScenario(const std::string& name);

// Makes the host do what a "! EVENT ARGS" line says; false for an event it does not know.
bool applyEvent(TestHost& host, HostScript& script, const std::string& event, const std::vector<std::string>& args);

// Small client writes go out at once (no waiting for the server's acknowledgement of the one
// before), so that each chunk reaches the server when the transcript says.
void sendAtOnce(int descriptor);
// Everything the server sends until it has sent nothing for the quiet time, serving it meanwhile.
Bytes collectQuietly(TestHost& host, TestClient& client, std::chrono::milliseconds quiet);

}  // namespace transcript
