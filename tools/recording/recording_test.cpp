#include "tools/recording/recording.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <iterator>

#include "tools/recording/recording_summary.h"

namespace fyrec {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

std::string tempPath() {
    char path[] = "/tmp/fy-recording-XXXXXX";
    int fd = mkstemp(path);
    close(fd);
    return path;
}

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void overwrite(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

Header twoCameras() {
    Header h;
    h.startMicros = 1'700'000'000'123'456ull;
    h.compact = true;
    h.timecodes = true;
    h.cameras.push_back({"left", 640, 480, true, {10.6667f, 501.333f, 72, 440}, 40,
                         {{"gain", 2.5f, 0, 16, 2}, {"offset", -3, -INFINITY, INFINITY, 0}}});
    h.cameras.push_back({"right", 491, 368, false, {10.5f, 501.5f, 72, 440}, 255, {}});
    return h;
}

FrameRecord frame(uint64_t micros, uint8_t frameNumber, size_t points) {
    FrameRecord f;
    f.micros = micros;
    f.timecode = std::array<uint8_t, 4>{1, 2, 3, frameNumber};
    f.cameras.resize(2);
    for (size_t i = 0; i < points; ++i) f.cameras[0].push_back({static_cast<float>(i) + 0.25f, 479.875f});
    return f;
}

// A file of the header, three frames, a rate and a note; returns the end offset of each record.
std::vector<uint64_t> writeSample(const std::string& path) {
    RecordingWriter writer(path, twoCameras());
    std::vector<uint64_t> ends{writer.bytes()};
    writer.write(NoteRecord{0, "recorded from 127.0.0.1:4000"});
    ends.push_back(writer.bytes());
    for (uint8_t i = 0; i < 3; ++i) {
        writer.write(frame(10'000u * i, i, i * 2u));
        ends.push_back(writer.bytes());
    }
    writer.write(RateRecord{25'000, RateRecord::Kind::timecode, 29.97f});
    ends.push_back(writer.bytes());
    writer.close();
    return ends;
}

TEST(Recording, WhatIsWrittenIsReadBack) {
    std::string path = tempPath();
    std::vector<uint64_t> ends = writeSample(path);
    EXPECT_EQ(contents(path).size(), ends.back());
    Recording r = readRecording(path);
    EXPECT_FALSE(r.error) << *r.error;
    EXPECT_EQ(r.header.major, 1);
    EXPECT_EQ(r.header.startMicros, 1'700'000'000'123'456ull);
    EXPECT_TRUE(r.header.compact);
    ASSERT_EQ(r.header.cameras.size(), 2u);
    const CameraEntry& left = r.header.cameras[0];
    EXPECT_EQ(left.name, "left");
    EXPECT_EQ(left.width, 640);
    EXPECT_TRUE(left.sizeGiven);
    EXPECT_FALSE(r.header.cameras[1].sizeGiven);
    EXPECT_EQ(left.region.right, 501.333f);
    EXPECT_EQ(left.threshold, 40);
    ASSERT_EQ(left.settings.size(), 2u);
    EXPECT_EQ(left.settings[0].precision, 2);
    EXPECT_EQ(left.settings[1].minimum, -INFINITY);   // unbounded survives as such
    EXPECT_EQ(left.settings[1].maximum, INFINITY);
    EXPECT_EQ(r.header.cameras[1].threshold, 255);

    ASSERT_EQ(r.frames.size(), 3u);
    EXPECT_EQ(r.frames[2].micros, 20'000u);
    EXPECT_EQ(r.frames[2].timecode, (std::array<uint8_t, 4>{1, 2, 3, 2}));
    ASSERT_EQ(r.frames[2].cameras.size(), 2u);
    ASSERT_EQ(r.frames[2].cameras[0].size(), 4u);
    EXPECT_EQ(r.frames[2].cameras[0][3].x, 3.25f);
    EXPECT_EQ(r.frames[2].cameras[0][3].y, 479.875f);
    EXPECT_TRUE(r.frames[0].cameras[0].empty());
    EXPECT_TRUE(r.frames[2].cameras[1].empty());
    ASSERT_EQ(r.rates.size(), 1u);
    EXPECT_EQ(r.rates[0].kind, RateRecord::Kind::timecode);
    EXPECT_EQ(r.rates[0].rate, 29.97f);
    ASSERT_EQ(r.notes.size(), 1u);
    EXPECT_EQ(r.notes[0].text, "recorded from 127.0.0.1:4000");
    unlink(path.c_str());
}

TEST(Recording, FrameWithoutTimecodeAndRecordsOfALaterVersionAreSkippedNotMistaken) {
    std::string path = tempPath();
    uint64_t frameStart = 0;
    {
        RecordingWriter writer(path, twoCameras());
        frameStart = writer.bytes();
        FrameRecord plain;
        plain.cameras = {{{1, 2}}, {}};
        writer.write(plain);
    }
    // A record type this reader does not know, then the same frame again: the reader passes
    // over the one and reads the other.
    std::string bytes = contents(path);
    std::string unknown = std::string("X") + std::string("\0\0\0\3", 4) + "abc";
    overwrite(path, bytes + unknown + bytes.substr(frameStart));
    Recording r = readRecording(path);
    EXPECT_FALSE(r.error) << *r.error;
    ASSERT_EQ(r.frames.size(), 2u);
    EXPECT_FALSE(r.frames[0].timecode);
    EXPECT_EQ(r.frames[1].cameras[0][0].y, 2.0f);
    unlink(path.c_str());
}

TEST(Recording, ReaderRefusesWhatIsNoRecordingWithOneLineNamingTheOffset) {
    std::string path = tempPath();
    overwrite(path, "");
    try {
        RecordingReader reader(path);
        FAIL() << "an empty file was read";
    } catch (const RecordingError& error) {
        EXPECT_EQ(std::string(error.what()), path + ": offset 0: empty file, no recording header");
    }

    overwrite(path, "time,camera,x,y\n0,left,1,2\n");
    EXPECT_THROW(
        {
            try {
                RecordingReader reader(path);
            } catch (const RecordingError& error) {
                EXPECT_EQ(std::string(error.what()), path + ": offset 0: not a frameyard recording (bad magic)");
                throw;
            }
        },
        RecordingError);

    writeSample(path);
    std::string newer = contents(path);
    newer[8] = 0;
    newer[9] = 2;   // major version 2
    overwrite(path, newer);
    try {
        RecordingReader reader(path);
        FAIL() << "a newer major version was read";
    } catch (const RecordingError& error) {
        EXPECT_THAT(error.what(), StartsWith(path + ": offset 8: recording format version 2.0 is not readable here"));
        EXPECT_EQ(std::string(error.what()).find('\n'), std::string::npos);
    }

    // A newer minor version of the same major one is read.
    std::string minor = contents(path);
    minor[9] = 1;
    minor[11] = 7;
    overwrite(path, minor);
    Recording r = readRecording(path);
    EXPECT_EQ(r.header.minor, 7);
    EXPECT_EQ(r.frames.size(), 3u);

    std::string cutHeader = minor.substr(0, 40);
    overwrite(path, cutHeader);
    try {
        RecordingReader reader(path);
        FAIL() << "a header cut short was read";
    } catch (const RecordingError& error) {
        EXPECT_THAT(error.what(), HasSubstr("offset 40: file ends inside the recording header"));
    }
    unlink(path.c_str());
}

TEST(Recording, FileCutInsideARecordYieldsEverythingBeforeIt) {
    std::string path = tempPath();
    std::vector<uint64_t> ends = writeSample(path);
    std::string whole = contents(path);
    // ends: header, note, frame 0, frame 1, frame 2, rate. Cut in the middle of frame 2.
    uint64_t frame2 = ends[3];
    overwrite(path, whole.substr(0, frame2 + 9));
    Recording r = readRecording(path);
    EXPECT_EQ(r.frames.size(), 2u);
    EXPECT_EQ(r.notes.size(), 1u);
    ASSERT_TRUE(r.error);
    EXPECT_EQ(*r.error, path + ": offset " + std::to_string(frame2) +
                            ": record cut short (type 'F', 51 bytes announced, 4 present)");

    // Cut inside the five bytes that start a record.
    overwrite(path, whole.substr(0, frame2 + 3));
    r = readRecording(path);
    EXPECT_EQ(r.frames.size(), 2u);
    ASSERT_TRUE(r.error);
    EXPECT_THAT(*r.error, HasSubstr("offset " + std::to_string(frame2) + ": record cut short (3 of its 5"));

    // A length no recording has is damage; nothing that size is allocated.
    std::string huge = whole.substr(0, frame2) + std::string("F\xff\xff\xff\xf0", 5);
    overwrite(path, huge);
    r = readRecording(path);
    EXPECT_EQ(r.frames.size(), 2u);
    ASSERT_TRUE(r.error);
    EXPECT_THAT(*r.error, HasSubstr("offset " + std::to_string(frame2) + ": record of 4294967280 bytes announced"));
    unlink(path.c_str());
}

TEST(Recording, FrameWhoseCountsDisagreeWithItsLengthIsDamage) {
    std::string path = tempPath();
    std::vector<uint64_t> ends = writeSample(path);
    std::string bytes = contents(path);
    // Frame 1 holds 2 points on camera 0: claim 2000 instead; its record length stays as it was.
    uint64_t count = ends[2] + 5 + 8 + 1 + 4 + 2;
    bytes[count] = 0x07;
    bytes[count + 1] = static_cast<char>(0xD0);
    overwrite(path, bytes);
    Recording r = readRecording(path);
    EXPECT_EQ(r.frames.size(), 1u);
    ASSERT_TRUE(r.error);
    EXPECT_THAT(*r.error, HasSubstr("record of type 'F' ends inside its fields"));

    bytes = contents(path);
    bytes[count - 1] = 3;   // three cameras in a recording of two
    bytes[count] = 0;
    bytes[count + 1] = 2;
    overwrite(path, bytes);
    r = readRecording(path);
    ASSERT_TRUE(r.error);
    EXPECT_THAT(*r.error, HasSubstr("offset " + std::to_string(count - 2) + ": frame of 3 cameras in a recording of 2"));
    unlink(path.c_str());
}

// A disk that fills up in the middle of a frame: the part written is taken back, so the file
// still ends on its last whole record.
TEST(Recording, FailedWriteLeavesOnlyWholeRecords) {
    std::string path = tempPath();
    RecordingWriter writer(path, twoCameras());
    writer.write(frame(0, 0, 3));
    uint64_t whole = writer.bytes();
    struct sigaction ignore {}, old {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &old);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limit = saved;
    limit.rlim_cur = whole + 20;   // room for a part of the next frame only
    setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_THROW(writer.write(frame(10'000, 1, 100)), RecordingError);
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &old, nullptr);
    EXPECT_EQ(contents(path).size(), whole);
    writer.write(frame(20'000, 2, 1));   // the file goes on from the last whole record
    writer.close();
    Recording r = readRecording(path);
    EXPECT_FALSE(r.error) << *r.error;
    ASSERT_EQ(r.frames.size(), 2u);
    EXPECT_EQ(r.frames[1].micros, 20'000u);
    unlink(path.c_str());
}

TEST(DisplayMapping, MatchesTheDescribedRegionAndTakesCompactPositionsBackExactly) {
    DisplayRegion r = DisplayMapping(640, 480).region();
    EXPECT_NEAR(r.left, 10.6667f, 1e-4f);
    EXPECT_NEAR(r.right, 501.333f, 1e-3f);
    EXPECT_EQ(r.top, 72.0f);
    EXPECT_EQ(r.bottom, 440.0f);
    EXPECT_EQ(DisplayMapping(1024, 200).scale(), 0.5f);   // limited by the width
    // Odd sizes are centred on the integer half, as the server does.
    EXPECT_EQ(DisplayMapping(3, 3).toDisplayX(1.0f), 256.0f);
    // Every compact value, taken back to pixels and mapped again, gives the same wire value.
    for (auto [w, h] : {std::pair{640, 480}, {641, 481}, {1280, 1024}, {752, 480}, {100, 3000}, {7, 5}}) {
        DisplayMapping m(w, h);
        int mismatches = 0;
        for (unsigned k = 0; k < 65536; ++k) {
            float display = static_cast<float>(k) / 128.0f;
            if (fixedPoint(m.toDisplayX(m.toPixelX(display))) != k) ++mismatches;
            if (fixedPoint(m.toDisplayY(m.toPixelY(display))) != k) ++mismatches;
        }
        EXPECT_EQ(mismatches, 0) << w << "x" << h;
    }
    EXPECT_EQ(fixedPoint(10.0f), 1280u);
    EXPECT_EQ(fixedPoint(10.004f), 1281u);
    EXPECT_EQ(fixedPoint(NAN), 0u);
}

TEST(RecordingSummary, CountsCentroidsAndMeasuresJitterAgainstTheAnnouncedRate) {
    Recording r;
    r.header = twoCameras();
    // Frames at 0, 10, 20, 35, 40 ms: gaps 10, 10, 15, 5 against a 100 frames/s announcement.
    uint64_t times[] = {0, 10'000, 20'000, 35'000, 40'000};
    for (size_t i = 0; i < 5; ++i) r.frames.push_back(frame(times[i], static_cast<uint8_t>(i), i));
    r.rates.push_back({0, RateRecord::Kind::frame, 100});
    Summary s = summarize(r);
    EXPECT_EQ(s.frames, 5u);
    EXPECT_DOUBLE_EQ(s.seconds, 0.04);
    ASSERT_EQ(s.cameras.size(), 2u);
    EXPECT_EQ(s.cameras[0].minCentroids, 0u);
    EXPECT_EQ(s.cameras[0].maxCentroids, 4u);
    EXPECT_DOUBLE_EQ(s.cameras[0].meanCentroids, 2.0);
    EXPECT_EQ(s.cameras[1].maxCentroids, 0u);
    ASSERT_TRUE(s.jitter);
    EXPECT_DOUBLE_EQ(s.jitter->nominalInterval, 1.0 / 100.0f);
    EXPECT_NEAR(s.jitter->p50, 0.0, 1e-6);
    EXPECT_NEAR(s.jitter->p99, 0.005, 1e-6);

    r.rates.clear();   // no announcement: the median gap is the nominal interval
    EXPECT_NEAR(summarize(r).jitter->nominalInterval, 0.010, 1e-9);
    r.frames.resize(1);
    EXPECT_FALSE(summarize(r).jitter);
    EXPECT_EQ(percentile({5, 1, 3, 2, 4}, 0.5), 3);
    EXPECT_EQ(percentile({5, 1, 3, 2, 4}, 0.99), 5);
    EXPECT_EQ(percentile({}, 0.5), 0);
}

}  // namespace
}  // namespace fyrec
