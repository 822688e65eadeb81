// frameyard-client against frameyard-simhost over 127.0.0.1: every subcommand, its output and
// its failures, and the host's own behaviour as a program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <regex>
#include <sstream>
#include <thread>

#include <frameyard/client.h>
#include "tools/tools_test_support.h"
#include "toolkit/test_prerequisite.h"

namespace toolstest {
namespace {

using ::testing::HasSubstr;

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> linesStarting(const std::string& text, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& line : linesOf(text)) {
        if (line.rfind(prefix, 0) == 0) out.push_back(line);
    }
    return out;
}

// Centroid counts of one camera in every "frame ..." line of `stream --print`.
std::vector<int> countsOf(const std::string& out, const std::string& camera) {
    std::vector<int> counts;
    std::regex pattern("  " + camera + " (\\d+):");
    for (const auto& line : linesStarting(out, "frame ")) {
        std::smatch match;
        if (std::regex_search(line, match, pattern)) counts.push_back(std::stoi(match[1]));
    }
    return counts;
}

void expectSucceeded(const RunResult& r) {
    EXPECT_EQ(r.status, 0) << "stdout:\n" << r.out << "\nstderr:\n" << r.err;
    EXPECT_FALSE(r.timedOut);
}

void expectFailed(const RunResult& r, int status, const std::string& message) {
    EXPECT_EQ(r.status, status) << "stdout:\n" << r.out << "\nstderr:\n" << r.err;
    EXPECT_THAT(r.err, HasSubstr(message));
    EXPECT_THAT(r.err, HasSubstr("frameyard-client: "));
}

TEST(SimHostProgram, ReportsStatusAndStopsCleanlyOnSigterm) {
    SimHost host;
    RunResult streamed = client(host.port(), {"stream", "--seconds", "1.5"});
    expectSucceeded(streamed);
    // The status line comes once a second; wait for one that counts frames.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline && host.output().find("frames served") == std::string::npos) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(host.stop(), 0);
    std::string out = host.output();
    EXPECT_THAT(out, HasSubstr("listening on port " + std::to_string(host.port())));
    std::smatch match;
    ASSERT_TRUE(std::regex_search(out, match, std::regex("(\\d+) frames served in the last second"))) << out;
    EXPECT_THAT(out, HasSubstr("stopped after"));
    EXPECT_TRUE(std::regex_search(out, std::regex("stopped after [0-9.]+ s, [1-9][0-9]* frames served"))) << out;
}

TEST(SimHostProgram, StopsByItselfAndRefusesWhatItCannotDo) {
    int port = freePort();
    auto start = std::chrono::steady_clock::now();
    RunResult timed = run({FY_SIMHOST_PATH, "--port", std::to_string(port), "--seconds", "0.5", "--quiet"}, 10000);
    EXPECT_EQ(timed.status, 0) << timed.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    RunResult bad = run({FY_SIMHOST_PATH, "--cameras", "0"}, 5000);
    EXPECT_EQ(bad.status, 2);
    EXPECT_THAT(bad.err, HasSubstr("--cameras needs a number from 1 to 64"));

    SimHost host;
    RunResult taken = run({FY_SIMHOST_PATH, "--port", std::to_string(host.port()), "--seconds", "2"}, 10000);
    EXPECT_EQ(taken.status, 1);
    EXPECT_THAT(taken.err, HasSubstr("error: Error binding socket"));
}

// The host's live-feature answers: images of its blobs with their run segments, paced by
// acknowledgements.
TEST(SimHostProgram, ServesLiveFeatureImages) {
    SimHost host({"--cameras", "2"});
    frameyard::Endpoint endpoint;
    endpoint.port = host.port();
    endpoint.timeoutMs = 3000;
    frameyard::Connection connection(endpoint);
    connection.send(std::vector<uint8_t>{'f', 'c', 0x00, 0x01, 'i', 1});   // camera position 1, images on
    ASSERT_TRUE(connection.waitForInput(3000)) << "no live-feature frame within 3 s; host said: " << host.errors();
    for (int image = 0; image < 2; ++image) {
        ASSERT_EQ(connection.receiveU16(), 0xFFFF);
        ASSERT_EQ(connection.receiveByte(), 10);   // timecode and image entries
        ASSERT_EQ(connection.receiveByte(), 't');
        uint8_t timecode[4];
        connection.receive(timecode, 4);
        EXPECT_LT(timecode[3], 100);
        ASSERT_EQ(connection.receiveByte(), 'i');
        ASSERT_EQ(connection.receiveU16(), 640);
        ASSERT_EQ(connection.receiveU16(), 480);
        std::vector<uint8_t> pixels(640 * 480);
        connection.receive(pixels.data(), pixels.size());
        uint16_t segments = connection.receiveU16();
        EXPECT_GT(segments, 20);   // 20 blobs of a few rows each
        size_t covered = 0;
        for (uint16_t i = 0; i < segments; ++i) {
            uint16_t first = connection.receiveU16(), row = connection.receiveU16(), last = connection.receiveU16();
            ASSERT_LE(first, last);
            ASSERT_LT(last, 640);
            ASSERT_LT(row, 480);
            EXPECT_GT(pixels[row * 640u + first], 12) << "a segment starts on a blob pixel";
            covered += last - first + 1u;
        }
        size_t bright = static_cast<size_t>(std::count_if(pixels.begin(), pixels.end(), [](uint8_t p) { return p > 12; }));
        EXPECT_EQ(covered, bright) << "the segments cover exactly the blob pixels";
        connection.send(std::vector<uint8_t>{'i', 2});   // acknowledge, so that the next image comes
    }
}

// The host's acquisition answers: a recording of the requested fields with their centroids.
TEST(SimHostProgram, RecordsAnAcquisition) {
    SimHost host({"--cameras", "2", "--blobs", "5"});
    frameyard::Endpoint endpoint;
    endpoint.port = host.port();
    endpoint.timeoutMs = 3000;
    frameyard::Connection connection(endpoint);
    // Globs only, start field 100, fields 0..2 all wanted, rate 60.
    std::vector<uint8_t> request{'a', '0', 0, 100, 0, 0, 0, 3, 0xFF, 0xFF, 0, 60};
    connection.send(request);
    ASSERT_EQ(connection.receiveU16(), 2) << "the camera count; 0 would mean acquisitions are refused";
    connection.send(std::vector<uint8_t>{0, 0, 0, 0, 0});   // a value per camera, then one byte
    ASSERT_EQ(connection.receiveByte(), 'R');
    connection.sendByte('x');   // start recording
    uint16_t lastProgress = 0;
    uint16_t word = connection.receiveU16();
    while (word == 0) {   // progress records until the data comes
        uint16_t field = connection.receiveU16();
        lastProgress = connection.receiveU16();
        EXPECT_GE(field, 101);
        EXPECT_LE(field, 103);
        word = connection.receiveU16();
    }
    EXPECT_EQ(lastProgress, 65535);
    for (uint16_t field = 100; field < 103; ++field) {
        ASSERT_EQ(word, field);
        ASSERT_EQ(connection.receiveByte(), 't');
        uint8_t timecode[4];
        connection.receive(timecode, 4);
        ASSERT_EQ(connection.receiveByte(), '0');   // no images asked for
        ASSERT_EQ(connection.receiveByte(), '1');
        for (int camera = 0; camera < 2; ++camera) {
            ASSERT_EQ(connection.receiveU16(), 0xFFFF);
            uint16_t length = connection.receiveU16();
            uint16_t count = connection.receiveU16();
            EXPECT_EQ(count, 5);
            EXPECT_EQ(length, (3 * count + 1) * 2);
            for (uint16_t i = 0; i < count; ++i) {
                uint16_t x = connection.receiveU16(), y = connection.receiveU16();
                EXPECT_EQ(connection.receiveU16(), 1);
                EXPECT_TRUE(x >= 10 * 128 && x <= 502 * 128 && y >= 72 * 128 && y <= 440 * 128) << x << "," << y;
            }
        }
        word = connection.receiveU16();
    }
    EXPECT_EQ(word, 0xFFFF);
}

TEST(ClientProgram, AcquireRecordsAndWritesCentroidsAndPictures) {
    SimHost host({"--cameras", "2", "--blobs", "5"});
    char dirTemplate[] = "/tmp/fy-acquire-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    std::string dir = std::string(dirTemplate) + "/out";
    RunResult r = client(host.port(), {"acquire", "--fields", "4", "--start", "10", "--globs", "--images", "--steps",
                                       "2", "--out", dir});
    expectSucceeded(r);
    EXPECT_THAT(r.out, HasSubstr("acquiring 4 fields from 127.0.0.1:" + std::to_string(host.port()) +
                                 ": 2 cameras, centroids and images\n"));
    EXPECT_THAT(r.out, HasSubstr("armed with 2 steps\nrecorded 4 fields\n"));
    // 4 fields x 2 cameras: a 640 x 480 picture and 5 centroids of 6 bytes each.
    uint64_t perCamera = 4 + 640 * 480 + 6 + 5 * 6;
    EXPECT_THAT(r.out, HasSubstr("downloaded 4 fields, " + std::to_string(4 * (2 + 5 + 2 + 2 * perCamera) + 2) +
                                 " bytes\n"));
    EXPECT_THAT(r.out, HasSubstr("wrote " + dir + "/centroids.csv and 8 images\n"));

    std::vector<std::string> rows = linesOf(readFile(dir + "/centroids.csv"));
    ASSERT_EQ(rows.size(), 1u + 4 * 2 * 5);
    EXPECT_EQ(rows[0], "field,timecode,camera,x,y,flags");
    std::regex row(R"((1[0-3]),(\d\d:\d\d:\d\d:\d\d),([01]),([0-9.]+),([0-9.]+),1)");
    for (size_t i = 1; i < rows.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(rows[i], m, row)) << rows[i];
        EXPECT_EQ(std::stoi(m[1]), 10 + int(i - 1) / 10) << rows[i];
        double x = std::stod(m[4]), y = std::stod(m[5]);
        EXPECT_TRUE(x >= 10.6 && x <= 501.4 && y >= 72 && y <= 440) << rows[i];
    }
    for (int field = 10; field < 14; ++field) {
        for (int camera = 0; camera < 2; ++camera) {
            std::string picture = readFile(dir + "/field" + std::to_string(field) + "_camera" + std::to_string(camera) + ".pgm");
            std::string header = "P5\n640 480\n255\n";
            ASSERT_EQ(picture.size(), header.size() + 640 * 480) << field << " " << camera;
            EXPECT_EQ(picture.substr(0, header.size()), header);
            EXPECT_GT(std::count_if(picture.begin() + long(header.size()), picture.end(),
                                    [](char p) { return static_cast<unsigned char>(p) > 12; }), 0)
                << "the blobs are in the picture";
        }
    }
    std::filesystem::remove_all(dirTemplate);
}

TEST(ClientProgram, AcquireFailsCleanlyWithoutAServer) {
    RunResult r = client(freePort(), {"acquire", "--fields", "3"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("cannot connect"));
    RunResult usage = client(freePort(), {"acquire"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_THAT(usage.err, HasSubstr("--fields is required"));
}

TEST(ClientProgram, CamerasListsDescriptionsAndThresholds) {
    SimHost host({"--cameras", "3"});
    RunResult r = client(host.port(), {"cameras"});
    expectSucceeded(r);
    auto lines = linesOf(r.out);
    ASSERT_EQ(lines.size(), 4u) << r.out;
    EXPECT_THAT(lines[0], HasSubstr("camera"));
    EXPECT_THAT(lines[0], HasSubstr("threshold"));
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(lines[static_cast<size_t>(i)].rfind("cam" + std::to_string(i), 0), 0u) << lines[static_cast<size_t>(i)];
        EXPECT_THAT(lines[static_cast<size_t>(i)], HasSubstr("10.6667..501.333 x 72..440"));
        EXPECT_THAT(lines[static_cast<size_t>(i)], HasSubstr(" 128 "));
        EXPECT_THAT(lines[static_cast<size_t>(i)], HasSubstr("gain=1 [0..16, precision 2], exposure=10 [0.1..100, precision 1]"));
    }
    RunResult json = client(host.port(), {"cameras", "--json"});
    expectSucceeded(json);
    EXPECT_EQ(json.out.rfind(R"([{"name":"cam1","image_region":{"left_edge_x":10.6667,)", 0), 0u) << json.out;
}

TEST(ClientProgram, StreamReportsEverySecond) {
    SimHost host;
    RunResult r = client(host.port(), {"stream", "--timecodes", "--seconds", "2.2"});
    expectSucceeded(r);
    EXPECT_THAT(r.out, HasSubstr("streaming cam1, cam2, cam3, cam4 from 127.0.0.1:"));
    std::regex summary("frames/s  centroids cam1 20, cam2 20, cam3 20, cam4 20  timecode \\d\\d:\\d\\d:\\d\\d:\\d\\d");
    int summaries = 0;
    for (const auto& line : linesOf(r.out)) summaries += std::regex_search(line, summary) ? 1 : 0;
    EXPECT_GE(summaries, 2) << r.out;
    std::smatch match;
    ASSERT_TRUE(std::regex_search(r.out, match, std::regex("received (\\d+) frames in"))) << r.out;
    // 100 frames/s for two seconds; a loaded machine may serve fewer, never none.
    EXPECT_GE(std::stoi(match[1]), 20);
}

TEST(ClientProgram, StreamPrintsChosenCamerasInTheirOrderCompact) {
    SimHost host;
    RunResult r = client(host.port(), {"stream", "--cameras", "cam3,cam1", "--compact", "--print", "--seconds", "1"});
    expectSucceeded(r);
    auto frames = linesStarting(r.out, "frame ");
    ASSERT_GE(frames.size(), 5u) << r.out;
    std::regex point(" (-?[0-9.]+),(-?[0-9.]+)");
    for (const auto& line : frames) {
        size_t cam3 = line.find("  cam3 20:"), cam1 = line.find("  cam1 20:");
        ASSERT_NE(cam3, std::string::npos) << line;
        ASSERT_NE(cam1, std::string::npos) << line;
        EXPECT_LT(cam3, cam1);
        EXPECT_EQ(line.find("cam2"), std::string::npos);
        int points = 0;
        for (std::sregex_iterator it(line.begin(), line.end(), point), end; it != end; ++it, ++points) {
            double x = std::stod((*it)[1]), y = std::stod((*it)[2]);
            EXPECT_TRUE(x >= 10.6 && x <= 501.4 && y >= 72 && y <= 440) << line;
        }
        EXPECT_EQ(points, 40);
    }
}

TEST(ClientProgram, StreamWithMessagesShowsEveryMonitor) {
    SimHost host({"--cameras", "2"});
    RunResult r = client(host.port(), {"stream", "--messages", "--seconds", "1.5"});
    expectSucceeded(r);
    EXPECT_THAT(r.out, HasSubstr("message [\"frame_rate\",100]\n"));
    EXPECT_THAT(r.out, HasSubstr("message [\"timecode_rate\",100]\n"));
    EXPECT_THAT(r.out, HasSubstr("message [\"rectangular_masks\",[[],[]]]\n"));
    EXPECT_THAT(r.out, HasSubstr("message [\"online_states\",[null,null]]\n"));
    EXPECT_THAT(r.out, HasSubstr("centroids cam1 20, cam2 20"));
}

TEST(ClientProgram, ThresholdChangesWhatTheCameraSees) {
    SimHost host;
    RunResult set = client(host.port(), {"threshold", "cam2", "255"});
    expectSucceeded(set);
    EXPECT_EQ(set.out, "cam2: threshold 255\n");
    RunResult table = client(host.port(), {"cameras"});
    EXPECT_TRUE(std::regex_search(table.out, std::regex("\ncam2 .* 255 "))) << table.out;
    EXPECT_TRUE(std::regex_search(table.out, std::regex("\ncam1 .* 128 "))) << table.out;
    // The simulated blobs are 150 to 255 bright: at 255 almost all of them go dark.
    RunResult seen = client(host.port(), {"stream", "--cameras", "cam2,cam1", "--print", "--seconds", "0.5"});
    expectSucceeded(seen);
    std::vector<int> dim = countsOf(seen.out, "cam2"), full = countsOf(seen.out, "cam1");
    ASSERT_FALSE(dim.empty()) << seen.out;
    for (int count : dim) EXPECT_LT(count, 5);
    for (int count : full) EXPECT_EQ(count, 20);

    expectFailed(client(host.port(), {"threshold", "nosuch", "10"}), 1, "unknown camera 'nosuch' (cameras: cam1, cam2, cam3, cam4)");
    expectFailed(client(host.port(), {"threshold", "cam1", "256"}), 2, "the threshold must be a whole number from 0 to 255");
    expectFailed(client(host.port(), {"threshold", "cam1"}), 2, "threshold needs CAMERA VALUE");
}

TEST(ClientProgram, SettingPrintsWhatTheHostHolds) {
    SimHost host;
    RunResult set = client(host.port(), {"setting", "cam1", "gain", "2.5"});
    expectSucceeded(set);
    EXPECT_EQ(set.out, "cam1: gain = 2.5 (range 0 to 16)\n");
    RunResult clamped = client(host.port(), {"setting", "cam1", "gain", "99"});
    expectSucceeded(clamped);
    EXPECT_EQ(clamped.out, "cam1: gain = 16 (range 0 to 16)\nnote: the host holds 16 instead of the requested 99\n");
    // Gain 0 makes every blob of the camera dark.
    expectSucceeded(client(host.port(), {"setting", "cam3", "gain", "0"}));
    RunResult seen = client(host.port(), {"stream", "--cameras", "cam3", "--print", "--seconds", "0.5"});
    std::vector<int> counts = countsOf(seen.out, "cam3");
    ASSERT_FALSE(counts.empty()) << seen.out;
    for (int count : counts) EXPECT_EQ(count, 0);

    expectFailed(client(host.port(), {"setting", "cam1", "bogus", "1"}), 1,
                 "camera 'cam1' has no setting 'bogus' (settings: gain, exposure)");
    expectFailed(client(host.port(), {"setting", "cam9", "gain", "1"}), 1, "unknown camera 'cam9'");
    expectFailed(client(host.port(), {"setting", "cam1", "gain", "lots"}), 2, "the value must be a number");
}

TEST(ClientProgram, CircularMasksAreSetReadAndApplied) {
    SimHost host;
    RunResult set = client(host.port(), {"masks", "set", "cam4", "256,256,400", "100,100,5"});
    expectSucceeded(set);
    EXPECT_EQ(set.out, "cam4\n  circular     256,256 radius 400\n  circular     100,100 radius 5\n");
    RunResult got = client(host.port(), {"masks", "get", "cam4"});
    expectSucceeded(got);
    EXPECT_EQ(got.out, "cam4\n  circular     256,256 radius 400\n  circular     100,100 radius 5\n  rectangular  none\n");
    // The mask covers the whole image: the server drops every centroid of cam4.
    RunResult seen = client(host.port(), {"stream", "--cameras", "cam4,cam3", "--print", "--seconds", "0.5"});
    std::vector<int> masked = countsOf(seen.out, "cam4"), open = countsOf(seen.out, "cam3");
    ASSERT_FALSE(masked.empty()) << seen.out;
    for (int count : masked) EXPECT_EQ(count, 0);
    for (int count : open) EXPECT_EQ(count, 20);

    RunResult cleared = client(host.port(), {"masks", "set", "cam4"});
    expectSucceeded(cleared);
    EXPECT_EQ(cleared.out, "cam4\n  circular     none\n");
    RunResult all = client(host.port(), {"masks", "get"});
    expectSucceeded(all);
    EXPECT_EQ(linesStarting(all.out, "cam").size(), 4u) << all.out;

    expectFailed(client(host.port(), {"masks", "set", "cam4", "1,2"}), 2, "a circular mask is X,Y,RADIUS");
    expectFailed(client(host.port(), {"masks", "set", "nosuch"}), 1, "unknown camera 'nosuch'");
    expectFailed(client(host.port(), {"masks", "bogus"}), 2, "unknown masks action 'bogus'");
}

TEST(ClientProgram, RectangularMasksAreAddedAndDeleted) {
    SimHost host;
    RunResult added = client(host.port(), {"masks", "add-rect", "cam1", "100", "100", "200", "150.5"});
    expectSucceeded(added);
    EXPECT_EQ(added.out, "cam1\n  rectangular  100,100 to 200,150.5\n");
    RunResult got = client(host.port(), {"masks", "get", "cam1"});
    EXPECT_THAT(got.out, HasSubstr("  rectangular  100,100 to 200,150.5\n"));
    RunResult other = client(host.port(), {"masks", "get", "cam2"});
    EXPECT_THAT(other.out, HasSubstr("  rectangular  none\n"));
    // The host drops blobs inside its rectangles: a mask over the whole image darkens cam2.
    expectSucceeded(client(host.port(), {"masks", "add-rect", "cam2", "0", "0", "512", "512"}));
    RunResult seen = client(host.port(), {"stream", "--cameras", "cam2", "--print", "--seconds", "0.5"});
    std::vector<int> counts = countsOf(seen.out, "cam2");
    ASSERT_FALSE(counts.empty()) << seen.out;
    for (int count : counts) EXPECT_EQ(count, 0);

    RunResult deleted = client(host.port(), {"masks", "delete-rect", "cam1", "100", "100", "200", "150.5"});
    expectSucceeded(deleted);
    EXPECT_EQ(deleted.out, "cam1\n  rectangular  none\n");
    expectFailed(client(host.port(), {"masks", "delete-rect", "cam1", "100", "100", "200", "150.5"}), 1,
                 "camera 'cam1' has no rectangular mask 100,100 to 200,150.5");
    expectFailed(client(host.port(), {"masks", "add-rect", "cam1", "300", "100", "200", "150"}), 2,
                 "a rectangle needs X1 <= X2 and Y1 <= Y2");
    expectFailed(client(host.port(), {"masks", "add-rect", "cam1", "1", "2"}), 2, "needs CAMERA X1 Y1 X2 Y2");
    // Beyond a float the coordinate would reach the server as "inf", which is no JSON.
    expectFailed(client(host.port(), {"masks", "add-rect", "cam1", "-1e300", "0", "1", "1"}), 2, "X1 is too large");
}

TEST(ClientProgram, CommandPrintsRepliesAndFailsOnErrorReplies) {
    SimHost host({"--cameras", "2"});
    RunResult ok = client(host.port(), {"command", R"("enable_realtime_messages")"});
    expectSucceeded(ok);
    EXPECT_EQ(ok.out, "\"ok\"\n");
    RunResult sequence = client(host.port(), {"command", R"(["want_cameras",["cam2","cam1"]])", R"(["get_thresholds"])",
                                              R"(["get_camera_settings"])"});
    expectSucceeded(sequence);
    auto lines = linesOf(sequence.out);
    ASSERT_EQ(lines.size(), 3u) << sequence.out;
    EXPECT_EQ(lines[0], "\"ok\"");
    EXPECT_EQ(lines[1], R"(["result",[128,128]])");
    EXPECT_EQ(lines[2].rfind(R"(["result",[{"name":"cam2",)", 0), 0u) << lines[2];

    RunResult noWanted = client(host.port(), {"command", R"(["get_thresholds"])"});
    EXPECT_EQ(noWanted.out, "[\"error\",\"no_wanted_cameras\"]\n");
    expectFailed(noWanted, 1, "error reply to [\"get_thresholds\"]: no_wanted_cameras");
    RunResult unknown = client(host.port(), {"command", R"(["want_cameras",["nosuch"]])", R"(["get_thresholds"])"});
    expectFailed(unknown, 1, "Adding cameras it not supported.");
    EXPECT_EQ(linesOf(unknown.out).size(), 1u) << "stops at the first error reply";
    expectFailed(client(host.port(), {"command", "not json"}), 1, "Not supported.");
    expectFailed(client(host.port(), {"command"}), 2, "command needs at least one JSON request");
}

TEST(SimHostProgram, ListensWhereToldAndLetsOnlyControllingClientsChangeIt) {
    SimHost host({"--cameras", "2", "--listen", "127.0.0.1", "--allow", "127.0.0.0/8", "--control", "10.0.0.0/8",
                  "--max-clients", "4"});
    RunResult refused = client(host.port(), {"command", R"(["want_cameras",["cam1"]])", R"(["get_thresholds"])",
                                             R"(["change_setting","gain",1])"});
    expectFailed(refused, 1, "not_permitted");
    auto lines = linesOf(refused.out);
    ASSERT_EQ(lines.size(), 3u) << refused.out;
    EXPECT_EQ(lines[1], R"(["result",[128]])");
    EXPECT_EQ(lines[2], R"(["error","not_permitted"])");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline && host.errors().find("Refused") == std::string::npos)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_THAT(host.errors(), HasSubstr("Refused camera setting change from 127.0.0.1: not a controlling client"));

    RunResult badList = run({FY_SIMHOST_PATH, "--control", "10.0.0.1/8", "--seconds", "1"}, 5000);
    EXPECT_EQ(badList.status, 2);
    EXPECT_THAT(badList.err, HasSubstr("--control needs a list of addresses and networks, not '10.0.0.1/8'"));
    RunResult named = run({FY_SIMHOST_PATH, "--port", std::to_string(freePort()), "--listen", "localhost",
                           "--seconds", "1"}, 5000);
    EXPECT_EQ(named.status, 1);
    EXPECT_THAT(named.err, HasSubstr("Error binding socket: invalid listen address \"localhost\""));
}

TEST(ClientProgram, ConnectionRefusedIsOneClearLine) {
    int port = freePort();
    for (const auto& words : std::vector<std::vector<std::string>>{
             {"cameras"}, {"stream", "--seconds", "1"}, {"watch", "--seconds", "1"}, {"threshold", "cam1", "1"},
             {"setting", "cam1", "gain", "1"}, {"masks", "get"}, {"command", "[]"}}) {
        RunResult r = client(port, words);
        EXPECT_EQ(r.status, 1) << words[0];
        EXPECT_EQ(r.err, "frameyard-client: cannot connect to 127.0.0.1:" + std::to_string(port) + ": Connection refused\n")
            << words[0];
    }
}

TEST(ClientProgram, HelpForEverySubcommand) {
    RunResult general = run({FY_CLIENT_PATH, "--help"}, 5000);
    EXPECT_EQ(general.status, 0);
    for (const char* name : {"cameras", "stream", "watch", "live", "threshold", "setting", "masks", "command"}) {
        EXPECT_THAT(general.out, HasSubstr(std::string("  ") + name)) << name;
        RunResult help = run({FY_CLIENT_PATH, name, "--help"}, 5000);
        EXPECT_EQ(help.status, 0) << name;
        EXPECT_EQ(help.out.rfind(std::string("usage: frameyard-client ") + name, 0), 0u) << help.out;
    }
    RunResult unknown = run({FY_CLIENT_PATH, "frobnicate"}, 5000);
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.err.rfind("frameyard-client: unknown command 'frobnicate'\n", 0), 0u) << unknown.err;
}

// `live` names the camera, acknowledges every image, reports once a second and saves images
// as PGM files of the camera's size.
TEST(ClientProgram, LiveReportsEverySecondAndSavesImagesAsPgmFiles) {
    SimHost host({"--cameras", "2", "--fps", "50"});
    std::string dir = temporaryPath("fy-live");
    ASSERT_EQ(::unlink(dir.c_str()), 0);
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    RunResult r = client(host.port(), {"live", "cam2", "--images", "--seconds", "2.2", "--save", dir});
    expectSucceeded(r);
    EXPECT_THAT(r.out, HasSubstr("live features of cam2 from 127.0.0.1:"));
    std::regex report("frames/s +([0-9.]+) segments/frame +([0-9.]+) images/s +([0-9]+) bytes/s  timecode "
                      "\\d\\d:\\d\\d:\\d\\d:\\d\\d");
    int reports = 0;
    for (const auto& line : linesOf(r.out)) {
        std::smatch match;
        if (!std::regex_search(line, match, report)) continue;
        ++reports;
        EXPECT_GT(std::stod(match[1]), 20.0) << line;          // about 20 blobs of a few rows each
        EXPECT_GT(std::stod(match[3]), 307200.0) << line;      // at least one 640 x 480 image a second
    }
    EXPECT_GE(reports, 2) << r.out;
    std::smatch totals;
    ASSERT_TRUE(std::regex_search(r.out, totals, std::regex("received (\\d+) frames and (\\d+) images in"))) << r.out;
    EXPECT_EQ(totals[1], totals[2]) << "with images on, every frame carries one";
    int images = std::stoi(totals[2]);
    EXPECT_GE(images, 10);

    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::string name = entry.path().filename().string();
        EXPECT_TRUE(std::regex_match(name, std::regex("cam2_\\d\\d-\\d\\d-\\d\\d-\\d\\d\\.pgm"))) << name;
        std::string bytes = readFile(entry.path().string());
        const std::string header = "P5\n640 480\n255\n";
        ASSERT_EQ(bytes.size(), header.size() + 640u * 480u) << name;
        EXPECT_EQ(bytes.substr(0, header.size()), header) << name;
        std::filesystem::remove(entry.path());
        ++files;
    }
    std::filesystem::remove(dir);
    // Images whose timecodes repeat within the run would share a name; there are none at 50/s.
    EXPECT_EQ(files, images);
}

TEST(ClientProgram, LiveWithoutImagesAndWithAnUnknownCamera) {
    SimHost host({"--cameras", "2"});
    RunResult segments = client(host.port(), {"live", "cam1", "--seconds", "1.2"});
    expectSucceeded(segments);
    EXPECT_THAT(segments.out, HasSubstr("(segments only)"));
    EXPECT_THAT(segments.out, HasSubstr(" 0.0 images/s"));
    EXPECT_TRUE(std::regex_search(segments.out, std::regex("received [1-9][0-9]* frames and 0 images"))) << segments.out;

    RunResult unknown = client(host.port(), {"live", "cam9", "--seconds", "1"});
    expectFailed(unknown, 1, "want_cameras");
    EXPECT_THAT(unknown.err, HasSubstr("cam9"));
    RunResult usage = client(host.port(), {"live"});
    EXPECT_EQ(usage.status, 2);
}

TEST(ClientProgram, WatchRedrawsInPlace) {
    SimHost host;
    RunResult r = client(host.port(), {"watch", "--cameras", "cam1,cam2", "--seconds", "1"});
    expectSucceeded(r);
    EXPECT_THAT(r.out, HasSubstr("\x1b[?25l"));   // cursor hidden while drawing
    EXPECT_THAT(r.out, HasSubstr("\x1b[?25h"));   // and shown again
    EXPECT_THAT(r.out, HasSubstr("cam1: 20 blobs"));
    EXPECT_THAT(r.out, HasSubstr("cam2: 20 blobs"));
    EXPECT_EQ(r.out.find("cam3"), std::string::npos);
    size_t redraws = 0;
    for (size_t at = r.out.find("\x1b[H"); at != std::string::npos; at = r.out.find("\x1b[H", at + 1)) ++redraws;
    EXPECT_GE(redraws, 3u);
    EXPECT_THAT(r.out, HasSubstr("watched "));
}

// The picture as a person sees it: tmux keeps a real terminal screen we can read back.
TEST(ClientProgram, WatchInATerminal) {
    FY_REQUIRE_PREREQUISITE(system("command -v tmux >/dev/null 2>&1") == 0, "tmux is not installed; watch not checked in a terminal");
    SimHost host;
    std::string socket = "fy-watch-" + std::to_string(getpid());
    std::string command = std::string(FY_CLIENT_PATH) + " --port " + std::to_string(host.port()) + " watch --seconds 8";
    RunResult started = run({"/usr/bin/env", "tmux", "-L", socket, "-f", "/dev/null", "new-session", "-d", "-x", "100",
                             "-y", "30", command},
                            5000);
    ASSERT_EQ(started.status, 0) << started.err;
    std::string screen;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(6);
    while (std::chrono::steady_clock::now() < deadline) {
        screen = run({"/usr/bin/env", "tmux", "-L", socket, "capture-pane", "-p"}, 5000).out;
        if (screen.find("cam4: 20 blobs") != std::string::npos && screen.find(" 0 frames/s") == std::string::npos &&
            screen.find("frames/s") != std::string::npos) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    run({"/usr/bin/env", "tmux", "-L", socket, "kill-server"}, 5000);
    std::cout << "---- watch in a 100x30 terminal ----\n" << screen << "------------------------------------\n";
    auto lines = linesOf(screen);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind("frameyard-client watch  127.0.0.1:", 0), 0u) << screen;
    EXPECT_TRUE(std::regex_search(lines[0], std::regex("[1-9][0-9]* frames/s  timecode \\d\\d:\\d\\d:\\d\\d:\\d\\d")))
        << lines[0];
    for (const char* name : {"cam1: 20 blobs", "cam2: 20 blobs", "cam3: 20 blobs", "cam4: 20 blobs"}) {
        EXPECT_THAT(screen, HasSubstr(name));
    }
    int marks = 0, borders = 0;
    for (const auto& line : lines) {
        if (line.rfind("|", 0) == 0) {
            marks += static_cast<int>(std::count(line.begin(), line.end(), 'o') + std::count(line.begin(), line.end(), '@'));
        }
        if (line.rfind("+--", 0) == 0) ++borders;
        EXPECT_LE(line.size(), 100u);
    }
    EXPECT_GE(marks, 40);      // four cameras of 20 blobs, a few sharing a cell
    EXPECT_EQ(borders, 4);     // two rows of boxes, two borders each
}

}  // namespace
}  // namespace toolstest
