// Replays every transcript of docs/transcripts against a real server on 127.0.0.1: the client's
// chunks and the host's events go in as recorded, and the server must answer each with exactly
// the recorded bytes and nothing more. libframeyard-rt replays its own transcripts and the
// libframeyard ones it must reproduce byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <set>
#include <string>
#include <vector>

#include "tests/test_client.h"
#include "tests/test_host.h"
#include "tests/transcripts/scenarios.h"
#include "tests/transcripts/transcript.h"
#include "toolkit/diagnostics.h"

namespace {

using transcript::Marker;
using transcript::Step;

#ifdef FRAMEYARD_TEST_REALTIME_ONLY
constexpr bool realtimeOnly = true;
#else
constexpr bool realtimeOnly = false;
#endif

std::string hex(const std::vector<uint8_t>& bytes) {
    std::string out;
    char digits[4];
    for (uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02x ", byte);
        out += digits;
    }
    return out;
}

// Whether this build serves the transcript: its own library's, and libframeyard's shared ones.
bool servedHere(const transcript::Transcript& recorded) {
    std::string library = recorded.value("library");
    if (!realtimeOnly) return library == "full";
    if (library == "rt") return true;
    const transcript::Scenario* scenario = transcript::findScenario(recorded.value("scenario"));
    return library == "full" && scenario != nullptr && scenario->alsoRt;
}

// The transcripts this build serves; a file that does not parse is kept, so that its test
// reports why.
std::vector<std::string> transcriptFiles() {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(FRAMEYARD_TRANSCRIPT_DIR)) {
        if (entry.path().extension() != ".txt") continue;
        transcript::Transcript recorded;
        std::string error;
        if (!transcript::parseFile(entry.path().string(), recorded, error) || servedHere(recorded))
            files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

class TranscriptReplay : public ::testing::TestWithParam<std::string> {};

TEST_P(TranscriptReplay, ServerSendsExactlyTheRecordedBytes) {
    transcript::Transcript recorded;
    std::string error;
    ASSERT_TRUE(transcript::parseFile(GetParam(), recorded, error)) << error;
    std::string stem = std::filesystem::path(GetParam()).stem().string();
    ASSERT_EQ(recorded.value("scenario"), stem) << "the scenario is named after its file";
    const transcript::Scenario* scenario = transcript::findScenario(stem);
    ASSERT_NE(scenario, nullptr) << "no host set-up for " << stem;

    fy::DiagnosticCapture quietHost;
    TestHost host;
    transcript::HostScript script;
    scenario->setup(host, script);
    int port = listenOnFreeLoopbackPort(host);
    ASSERT_GT(port, 0) << "no loopback port to listen on";
    TestClient client(port);
    ASSERT_TRUE(pumpUntil(host, [&] { return host.clientCount() == 1; }));
    transcript::sendAtOnce(client.fd());

    const std::vector<Step>& steps = recorded.steps;
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        if (step.marker == Marker::server) FAIL() << "step " << i << ": server bytes without a client action before";
        if (step.marker == Marker::client) {
            ASSERT_TRUE(client.send(Bytes(step.bytes.begin(), step.bytes.end()))) << "step " << i;
        } else {
            ASSERT_TRUE(transcript::applyEvent(host, script, step.event, step.args)) << "step " << i << ": ! " << step.event;
        }
        // The server's answer to this action: the next chunk if it is the server's, else nothing.
        std::vector<uint8_t> expected;
        if (i + 1 < steps.size() && steps[i + 1].marker == Marker::server) expected = steps[++i].bytes;
        Bytes got = expected.empty() ? Bytes() : client.read(host, expected.size());
        Bytes more = transcript::collectQuietly(host, client, std::chrono::milliseconds(60));
        got.insert(got.end(), more.begin(), more.end());
        ASSERT_EQ(hex(std::vector<uint8_t>(got.begin(), got.end())), hex(expected))
            << "after step " << i << " of " << stem;
    }
    // A small server write may wait for an acknowledgement: the end is checked over a while.
    Bytes late = transcript::collectQuietly(host, client, std::chrono::milliseconds(300));
    EXPECT_EQ(hex(std::vector<uint8_t>(late.begin(), late.end())), "") << "bytes beyond the transcript of " << stem;
}

std::string testName(const ::testing::TestParamInfo<std::string>& info) {
    return std::filesystem::path(info.param).stem().string();
}

INSTANTIATE_TEST_SUITE_P(Transcripts, TranscriptReplay, ::testing::ValuesIn(transcriptFiles()), testName);

// The list above is chosen per library: it must not come out empty by mistake.
TEST(TranscriptReplayFiles, ThisLibraryServesTranscriptsOfEveryKindItHas) {
    std::set<std::string> kinds;
    for (const std::string& file : transcriptFiles()) {
        transcript::Transcript recorded;
        std::string error;
        if (transcript::parseFile(file, recorded, error)) kinds.insert(recorded.value("kind"));
    }
    std::set<std::string> expected{"realtime", "configure", "command", "refused"};
    if (!realtimeOnly) expected.insert({"livefeat", "acquire"});
    for (const std::string& kind : expected) EXPECT_EQ(kinds.count(kind), 1u) << kind;
}

// The parser's own rules, which every transcript relies on.
TEST(TranscriptFormat, ChunksEventsAndMetadata) {
    std::istringstream text(
        "@ transcript 1\n@ scenario s\n@ library full\n@ kind realtime\n@ cameras 2\n@ expect frames=3 messages=1\n"
        "# a comment\n> 52 # 'R'\n> 31\n< 74 # query\n! threshold 1 40\n< 00 01\n< ff\n");
    transcript::Transcript parsed;
    std::string error;
    ASSERT_TRUE(transcript::parse(text, parsed, error)) << error;
    ASSERT_EQ(parsed.steps.size(), 4u);
    EXPECT_EQ(parsed.steps[0].bytes, (std::vector<uint8_t>{0x52, 0x31}));
    EXPECT_EQ(parsed.steps[1].bytes, (std::vector<uint8_t>{0x74}));
    EXPECT_EQ(parsed.steps[2].event, "threshold");
    EXPECT_EQ(parsed.steps[2].args, (std::vector<std::string>{"1", "40"}));
    EXPECT_EQ(parsed.steps[3].bytes, (std::vector<uint8_t>{0x00, 0x01, 0xff}));
    EXPECT_EQ(parsed.number("cameras"), 2);
    EXPECT_EQ(parsed.expectations()["frames"], 3);
    EXPECT_EQ(parsed.expectations()["messages"], 1);
}

TEST(TranscriptFormat, RefusesWhatIsNotATranscript) {
    const char* broken[] = {
        "@ transcript 1\n@ scenario s\n@ library full\n@ kind realtime\n",                    // no cameras
        "@ transcript 2\n@ scenario s\n@ library full\n@ kind realtime\n@ cameras 1\n",        // unknown version
        "@ transcript 1\n@ scenario s\n@ library full\n@ kind realtime\n@ cameras 1\n> 5\n",   // bad hex
        "@ transcript 1\n@ scenario s\n@ library full\n@ kind realtime\n@ cameras 1\n> 52\n@ title late\n",
        "@ transcript 1\n@ scenario s\n@ library full\n@ kind realtime\n@ cameras 1\n? 52\n",
    };
    for (const char* text : broken) {
        std::istringstream in(text);
        transcript::Transcript parsed;
        std::string error;
        EXPECT_FALSE(transcript::parse(in, parsed, error)) << text;
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
