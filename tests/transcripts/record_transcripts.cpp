// Records docs/transcripts/*.txt: runs every scenario of this build's library against a real
// server on 127.0.0.1 with the scripted test host and writes what each side sent, with notes.
// Usage: record_transcripts OUTPUT_DIRECTORY
// A scenario whose notes do not cover exactly the bytes the server sent fails the run: the
// notes are the documentation's claims about those bytes.
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/test_client.h"
#include "tests/test_host.h"
#include "tests/transcripts/scenarios.h"
#include "toolkit/diagnostics.h"

namespace {

using transcript::Action;
using transcript::ByteString;
using transcript::Scenario;

#ifdef FRAMEYARD_TEST_REALTIME_ONLY
const char* const thisLibrary = "rt";
#else
const char* const thisLibrary = "full";
#endif

constexpr size_t bytesPerLine = 16;

std::string hexLine(const uint8_t* bytes, size_t count) {
    std::string out;
    char digits[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
        if (i > 0) out += ' ';
        out += digits;
    }
    return out;
}

// One annotated piece: the note on its first line, long pieces wrapped.
void writePiece(std::ostream& out, char marker, const uint8_t* bytes, size_t count, const std::string& note) {
    for (size_t at = 0; at < count; at += bytesPerLine) {
        size_t n = count - at < bytesPerLine ? count - at : bytesPerLine;
        out << marker << ' ' << hexLine(bytes + at, n);
        if (at == 0 && !note.empty()) out << " # " << note;
        out << '\n';
    }
}

bool record(const Scenario& scenario, const std::string& directory) {
    TestHost host;
    transcript::HostScript script;
    scenario.setup(host, script);
    int port = freeLoopbackPort();
    host.setListenPort(port);
    if (!host.startListening()) {
        std::fprintf(stderr, "%s: cannot listen\n", scenario.name.c_str());
        return false;
    }
    TestClient client(port);
    transcript::sendAtOnce(client.fd());
    if (!pumpUntil(host, [&] { return host.clientCount() == 1; })) {
        std::fprintf(stderr, "%s: not accepted\n", scenario.name.c_str());
        return false;
    }

    fy::DiagnosticCapture capture;
    std::ostringstream out;
    out << "@ transcript 1\n@ scenario " << scenario.name << "\n@ library " << scenario.library << "\n@ kind "
        << scenario.kind << "\n@ cameras " << scenario.cameras << '\n';
    for (const auto& [key, value] : scenario.options) out << "@ " << key << ' ' << value << '\n';
    out << "@ expect " << scenario.expect << "\n@ title " << scenario.title << '\n';

    for (const Action& action : scenario.script) {
        if (action.kind == Action::Kind::comment) {
            out << "# " << action.text << '\n';
            continue;
        }
        if (action.kind == Action::Kind::send) {
            Bytes all;
            for (const transcript::Sent& piece : action.sent) {
                all.insert(all.end(), piece.bytes.begin(), piece.bytes.end());
                writePiece(out, '>', piece.bytes.data(), piece.bytes.size(), piece.note);
            }
            if (!client.send(all)) std::fprintf(stderr, "%s: send failed\n", scenario.name.c_str());
        } else {
            std::istringstream words(action.event);
            std::string name, word;
            words >> name;
            std::vector<std::string> args;
            while (words >> word) args.push_back(word);
            if (!transcript::applyEvent(host, script, name, args)) {
                std::fprintf(stderr, "%s: unknown event '%s'\n", scenario.name.c_str(), action.event.c_str());
                return false;
            }
            out << "! " << action.event << '\n';
        }
        // Long enough for a small write that waits for the client's acknowledgement.
        Bytes received = transcript::collectQuietly(host, client, std::chrono::milliseconds(300));
        ByteString reply(received.begin(), received.end());
        std::string diagnostics = capture.text();
        capture.clear();
        size_t annotated = 0;
        for (const transcript::Expect& piece : action.reply) annotated += piece.length;
        if (annotated != reply.size()) {
            std::fprintf(stderr, "%s: the notes cover %zu bytes, the server sent %zu:\n  %s\n", scenario.name.c_str(),
                         annotated, reply.size(), hexLine(reply.data(), reply.size()).c_str());
            std::fprintf(stderr, "  host stderr: %s\n", diagnostics.c_str());
            return false;
        }
        size_t at = 0;
        for (const transcript::Expect& piece : action.reply) {
            writePiece(out, '<', reply.data() + at, piece.length, piece.note);
            at += piece.length;
        }
        std::istringstream lines(diagnostics);
        for (std::string line; std::getline(lines, line);) out << "# host stderr: " << line << '\n';
    }
    std::string path = directory + "/" + scenario.name + ".txt";
    std::ofstream file(path);
    file << out.str();
    if (!file) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return false;
    }
    std::printf("%s\n", path.c_str());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIRECTORY\n", argv[0]);
        return 2;
    }
    int failures = 0;
    for (const Scenario& scenario : transcript::scenarios())
        if (scenario.library == thisLibrary && !record(scenario, argv[1])) ++failures;
    return failures == 0 ? 0 : 1;
}
