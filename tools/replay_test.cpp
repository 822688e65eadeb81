// Recording a stream with frameyard-client, replaying it through frameyard-simhost and exporting
// it, over 127.0.0.1.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <regex>
#include <thread>

#include "tools/recording/recording.h"
#include "tools/tools_test_support.h"

namespace toolstest {
namespace {

using ::testing::HasSubstr;

// A recording file removed at the end of the test.
struct TempFile {
    TempFile() : path(temporaryPath("fy-replay")) {}
    ~TempFile() { unlink(path.c_str()); }
    std::string path;
};

fyrec::Recording readWhole(const std::string& path) {
    fyrec::Recording r = fyrec::readRecording(path);
    EXPECT_FALSE(r.error) << *r.error;
    return r;
}

std::vector<std::string> cameraNames(const fyrec::Recording& r) {
    std::vector<std::string> names;
    for (const auto& c : r.header.cameras) names.push_back(c.name);
    return names;
}

void expectOk(const RunResult& r) {
    EXPECT_EQ(r.status, 0) << "stdout:\n" << r.out << "\nstderr:\n" << r.err;
}

// The replay's frames are the recording's: same timecodes, camera order and centroid counts, and
// positions that come back as the same compact wire values.
void expectSameFrames(const fyrec::Recording& original, const fyrec::Recording& replayed) {
    ASSERT_EQ(cameraNames(replayed), cameraNames(original));
    ASSERT_EQ(replayed.frames.size(), original.frames.size());
    for (size_t f = 0; f < original.frames.size(); ++f) {
        const fyrec::FrameRecord &a = original.frames[f], &b = replayed.frames[f];
        ASSERT_EQ(b.timecode, a.timecode) << "frame " << f;
        ASSERT_EQ(b.cameras.size(), a.cameras.size());
        for (size_t c = 0; c < a.cameras.size(); ++c) {
            ASSERT_EQ(b.cameras[c].size(), a.cameras[c].size()) << "frame " << f << " camera " << c;
            const fyrec::CameraEntry& camera = original.header.cameras[c];
            fyrec::DisplayMapping mapping(camera.width, camera.height);
            for (size_t i = 0; i < a.cameras[c].size(); ++i) {
                const fyrec::Point &p = a.cameras[c][i], &q = replayed.frames[f].cameras[c][i];
                ASSERT_NEAR(q.x, p.x, 1.0 / 128) << "frame " << f << " camera " << c << " centroid " << i;
                ASSERT_NEAR(q.y, p.y, 1.0 / 128);
                ASSERT_EQ(fyrec::fixedPoint(mapping.toDisplayX(q.x)), fyrec::fixedPoint(mapping.toDisplayX(p.x)));
                ASSERT_EQ(fyrec::fixedPoint(mapping.toDisplayY(q.y)), fyrec::fixedPoint(mapping.toDisplayY(p.y)));
            }
        }
    }
}

TEST(RecordReplay, ReplayOfARecordingRecordsTheSameFrames) {
    TempFile first, second;
    {
        SimHost sim({"--cameras", "3"});
        expectOk(client(sim.port(), {"threshold", "cam3", "200"}));
        expectOk(client(sim.port(), {"setting", "cam1", "gain", "2.5"}));
        RunResult recorded = client(sim.port(), {"record", "--out", first.path, "--seconds", "2", "--compact",
                                                 "--cameras", "cam3,cam1", "--image-size", "640x480"});
        expectOk(recorded);
        EXPECT_THAT(recorded.out, HasSubstr("recording 2 cameras from 127.0.0.1:"));
        EXPECT_TRUE(std::regex_search(recorded.out, std::regex("\n +1\\.0s  \\d+ frames  [0-9.]+ frames/s  \\d+ bytes\n")))
            << recorded.out;
        std::smatch summary;
        ASSERT_TRUE(std::regex_search(recorded.out, summary, std::regex("recorded (\\d+) frames in [0-9.]+ s, (\\d+) bytes to")))
            << recorded.out;
        EXPECT_EQ(std::to_string(readFile(first.path).size()), summary[2].str());
    }
    fyrec::Recording original = readWhole(first.path);
    ASSERT_GE(original.frames.size(), 20u);
    EXPECT_EQ(cameraNames(original), (std::vector<std::string>{"cam3", "cam1"}));
    EXPECT_EQ(original.header.cameras[0].threshold, 200);
    ASSERT_FALSE(original.rates.empty());
    EXPECT_EQ(original.rates[0].rate, 100.0f);
    for (const auto& frame : original.frames) {
        ASSERT_TRUE(frame.timecode);
        for (const fyrec::Point& p : frame.cameras[1]) {
            ASSERT_TRUE(p.x >= 0 && p.x <= 640 && p.y >= 0 && p.y <= 480) << p.x << "," << p.y;   // image pixels
        }
    }

    SimHost replay({"--replay", first.path});
    RunResult cameras = client(replay.port(), {"cameras"});
    expectOk(cameras);
    EXPECT_TRUE(std::regex_search(cameras.out, std::regex("\ncam3 +10\\.6667\\.\\.501\\.333 x 72\\.\\.440 +200 +gain=1 ")))
        << cameras.out;
    EXPECT_THAT(cameras.out, HasSubstr("gain=2.5 [0..16, precision 2]"));
    EXPECT_EQ(cameras.out.find("cam2"), std::string::npos);
    RunResult again = client(replay.port(), {"record", "--out", second.path, "--seconds", "4", "--compact",
                                             "--image-size", "640x480"});
    expectOk(again);
    expectSameFrames(original, readWhole(second.path));
    EXPECT_THAT(replay.output(), HasSubstr("replay finished: every recorded frame served"));
    // The recorded settings keep their ranges on the replaying host.
    RunResult clamped = client(replay.port(), {"setting", "cam1", "gain", "99"});
    EXPECT_THAT(clamped.out, HasSubstr("cam1: gain = 16 (range 0 to 16)"));
}

TEST(RecordReplay, LoopPlaysTheRecordingOverInItsOrderAndSpeedHastensIt) {
    TempFile file, looped;
    {
        SimHost sim({"--cameras", "1", "--blobs", "3"});
        expectOk(client(sim.port(), {"record", "--out", file.path, "--seconds", "0.5"}));
    }
    fyrec::Recording original = readWhole(file.path);
    ASSERT_GE(original.frames.size(), 5u);
    SimHost replay({"--replay", file.path, "--loop", "--speed", "4"});
    expectOk(client(replay.port(), {"record", "--out", looped.path, "--seconds", "2"}));
    fyrec::Recording played = readWhole(looped.path);
    // At the recorded pace two seconds hold less than four passes of half a second.
    ASSERT_GT(played.frames.size(), 4 * original.frames.size());
    for (size_t i = 0; i < played.frames.size(); ++i) {
        const fyrec::FrameRecord& expected = original.frames[i % original.frames.size()];
        ASSERT_EQ(played.frames[i].timecode, expected.timecode) << "frame " << i;
        ASSERT_EQ(played.frames[i].cameras[0].size(), expected.cameras[0].size());
    }
}

// Waits (bounded) until the recording being written holds at least `frames` frames.
size_t waitForFrames(const std::string& path, size_t frames) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    size_t seen = 0;
    while (std::chrono::steady_clock::now() < deadline && seen < frames) {
        try {
            seen = fyrec::readRecording(path).frames.size();
        } catch (const fyrec::RecordingError&) {
            // not yet created, or its header not yet written
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return seen;
}

// Ctrl-C, and a host that goes away, both end the recording on a whole frame with its summary;
// only the second is a failure.
TEST(RecordReplay, RecordingEndsWholeOnInterruptAndWhenTheHostGoesAway) {
    SimHost sim({"--cameras", "2"});
    for (bool interrupt : {true, false}) {
        TempFile file;
        Process recorder({FY_CLIENT_PATH, "--port", std::to_string(sim.port()), "record", "--out", file.path});
        size_t seen = waitForFrames(file.path, 30);
        ASSERT_GE(seen, 30u);
        if (!interrupt) sim.stop();
        RunResult ended = recorder.stop(interrupt ? SIGINT : 0);
        EXPECT_EQ(ended.status, interrupt ? 0 : 1) << ended.err;
        EXPECT_EQ(ended.err.find("frameyard-client: the server closed the connection") != std::string::npos, !interrupt)
            << ended.err;
        std::smatch summary;
        ASSERT_TRUE(std::regex_search(ended.out, summary, std::regex("recorded (\\d+) frames"))) << ended.out;
        fyrec::Recording recording = readWhole(file.path);
        EXPECT_EQ(std::to_string(recording.frames.size()), summary[1].str());
        EXPECT_GE(recording.frames.size(), seen);
    }
}

TEST(RecordReplay, ExportWritesRowsAndSummaryAndReportsADamagedTail) {
    TempFile file, csv;
    {
        SimHost sim({"--cameras", "2", "--blobs", "4"});
        expectOk(client(sim.port(), {"record", "--out", file.path, "--seconds", "0.5"}));
    }
    fyrec::Recording r = readWhole(file.path);
    size_t centroids = 0;
    for (const auto& frame : r.frames) centroids += frame.cameras[0].size() + frame.cameras[1].size();
    ASSERT_GT(centroids, 0u);

    RunResult exported = run({FY_CLIENT_PATH, "export", file.path, "--csv", csv.path, "--summary"}, 10000);
    expectOk(exported);
    std::string rows = readFile(csv.path);
    EXPECT_EQ(rows.rfind("frame,receive_time,timecode,camera,x,y\n0,", 0), 0u) << rows.substr(0, 200);
    EXPECT_EQ(static_cast<size_t>(std::count(rows.begin(), rows.end(), '\n')), centroids + 1);
    EXPECT_TRUE(std::regex_search(rows, std::regex("\n0,[0-9]+\\.[0-9]{6},\\d\\d:\\d\\d:\\d\\d:\\d\\d,cam2,[0-9.]+,[0-9.]+\n")));
    std::string frames = std::to_string(r.frames.size());
    EXPECT_THAT(exported.out, HasSubstr(frames + " frames in "));
    EXPECT_TRUE(std::regex_search(exported.out, std::regex("\ncam1 +491x368\\? +" + frames + " +4 +4\\.0 +4 +[0-9.]+ +[0-9.]+\n")))
        << exported.out;

    // The recorder was killed in the middle of a write: the rows before it, then the damage.
    std::string bytes = readFile(file.path);
    std::ofstream(file.path, std::ios::binary | std::ios::trunc) << bytes.substr(0, bytes.size() - 3);
    RunResult damaged = run({FY_CLIENT_PATH, "export", file.path, "--csv", "-"}, 10000);
    EXPECT_EQ(damaged.status, 1);
    EXPECT_TRUE(std::regex_search(damaged.err, std::regex("^frameyard-client: .*: offset \\d+: record cut short \\(type '[FRN]', "
                                                          "\\d+ bytes announced, \\d+ present\\)\n$")))
        << damaged.err;
    EXPECT_GT(static_cast<size_t>(std::count(damaged.out.begin(), damaged.out.end(), '\n')), centroids / 2);
}

TEST(RecordReplay, ProgramsRefuseWhatTheyCannotDoInOneLine) {
    TempFile text;
    std::ofstream(text.path) << "frame,time\n";
    RunResult notRecording = run({FY_SIMHOST_PATH, "--replay", text.path, "--seconds", "1"}, 10000);
    EXPECT_EQ(notRecording.status, 1);
    EXPECT_EQ(notRecording.err, "frameyard-simhost: " + text.path + ": offset 0: not a frameyard recording (bad magic)\n");
    RunResult missing = run({FY_SIMHOST_PATH, "--replay", "/nonexistent/x.fyrec"}, 10000);
    EXPECT_EQ(missing.status, 1);
    EXPECT_THAT(missing.err, HasSubstr("cannot open /nonexistent/x.fyrec"));
    RunResult mixed = run({FY_SIMHOST_PATH, "--replay", text.path, "--cameras", "2"}, 10000);
    EXPECT_EQ(mixed.status, 2);
    EXPECT_THAT(mixed.err, HasSubstr("--replay serves the recorded cameras"));
    RunResult loopAlone = run({FY_SIMHOST_PATH, "--loop", "--seconds", "1"}, 10000);
    EXPECT_EQ(loopAlone.status, 2);
    EXPECT_THAT(loopAlone.err, HasSubstr("--loop and --speed apply to --replay"));

    SimHost sim({"--cameras", "1"});
    RunResult noOut = client(sim.port(), {"record", "--seconds", "1"});
    EXPECT_EQ(noOut.status, 2);
    EXPECT_THAT(noOut.err, HasSubstr("record needs --out FILE"));
    RunResult wrongSize = client(sim.port(), {"record", "--out", text.path, "--image-size", "640x400"});
    EXPECT_EQ(wrongSize.status, 1);
    EXPECT_THAT(wrongSize.err, HasSubstr("--image-size 640x400 does not fit camera 'cam1'"));
    EXPECT_EQ(readFile(text.path), "frame,time\n") << "a refused recording leaves the file alone";
    RunResult noFile = run({FY_CLIENT_PATH, "export", "--summary"}, 10000);
    EXPECT_EQ(noFile.status, 2);
}

TEST(RecordReplay, HelpTextsListTheNewCommands) {
    RunResult general = run({FY_CLIENT_PATH, "--help"}, 5000);
    EXPECT_THAT(general.out, HasSubstr("  record --out FILE"));
    EXPECT_THAT(general.out, HasSubstr("  export FILE --csv OUT|--summary"));
    for (const char* name : {"record", "export"}) {
        RunResult help = run({FY_CLIENT_PATH, name, "--help"}, 5000);
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out.rfind(std::string("usage: frameyard-client ") + name, 0), 0u) << help.out;
    }
    RunResult host = run({FY_SIMHOST_PATH, "--help"}, 5000);
    for (const char* option : {"--replay FILE", "--loop", "--speed X"}) EXPECT_THAT(host.out, HasSubstr(option));
}

}  // namespace
}  // namespace toolstest
