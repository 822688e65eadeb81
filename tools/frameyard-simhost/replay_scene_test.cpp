#include "tools/frameyard-simhost/replay_scene.h"

#include <gtest/gtest.h>

#include <cmath>

namespace simhost {
namespace {

using std::chrono::milliseconds;

// Three frames 10 ms apart on one camera, the frame rate announced as 100 and then as 50.
fyrec::Recording threeFrames() {
    fyrec::Recording r;
    r.header.cameras.push_back({"left", 640, 480, true, {}, 40, {{"gain", 2, 0, 16, 2}}});
    for (uint8_t i = 0; i < 3; ++i) {
        fyrec::FrameRecord f;
        f.micros = 5'000 + 10'000u * i;
        f.timecode = std::array<uint8_t, 4>{0, 0, 1, i};
        f.cameras = {{{100.0f + i, 200.0f}}};
        r.frames.push_back(f);
    }
    r.rates.push_back({7'000, fyrec::RateRecord::Kind::frame, 100});
    r.rates.push_back({20'000, fyrec::RateRecord::Kind::frame, 50});
    return r;
}

// Serves frames as the host does between two moments, returning the host frame numbers.
std::vector<uint64_t> serve(const ReplayScene& scene, Clock::time_point start, int fromMs, int toMs,
                            std::optional<uint64_t>& last) {
    std::vector<uint64_t> served;
    for (int ms = fromMs; ms <= toMs; ++ms) {
        while (std::optional<uint64_t> due = scene.frameDue(start + milliseconds(ms), last)) {
            served.push_back(*due);
            last = due;
        }
    }
    return served;
}

TEST(ReplayScene, LeadInThenEveryFrameAtTheRecordedPace) {
    ReplayScene scene(threeFrames(), {});
    Clock::time_point start = Clock::now();
    scene.startFrames(start);
    std::optional<uint64_t> last;
    // The lead-in at once, a copy of the first frame; the first recorded frame after the pause.
    EXPECT_EQ(serve(scene, start, 0, 249, last), (std::vector<uint64_t>{0}));
    EXPECT_EQ(scene.timecode(0), scene.timecode(1));
    EXPECT_EQ(serve(scene, start, 250, 259, last), (std::vector<uint64_t>{1}));
    EXPECT_EQ(serve(scene, start, 260, 269, last), (std::vector<uint64_t>{2}));
    // A host loop that comes late gets every frame in turn, none skipped.
    EXPECT_EQ(serve(scene, start, 400, 400, last), (std::vector<uint64_t>{3}));
    EXPECT_TRUE(scene.finished(3));
    EXPECT_EQ(serve(scene, start, 401, 2000, last), std::vector<uint64_t>{});   // no loop: the end

    EXPECT_EQ(scene.timecode(3), (store::Server::Timecode{0, 0, 1, 2}));
    ASSERT_EQ(scene.blobs(0, 2).size(), 1u);
    EXPECT_EQ(scene.blobs(0, 2)[0].x, 101.0f);
    EXPECT_TRUE(scene.blobs(1, 2).empty());
    EXPECT_EQ(scene.frameRate(1), 100.0f);   // the first announcement holds from the start
    EXPECT_EQ(scene.frameRate(3), 50.0f);
    EXPECT_EQ(scene.timecodeRate(3), 50.0f) << "without announcements the timecode rate follows the frames";
    std::vector<CameraSetup> cameras = scene.cameras();
    ASSERT_EQ(cameras.size(), 1u);
    EXPECT_EQ(cameras[0].threshold, 40);
    EXPECT_EQ(cameras[0].settings[0].value, 2.0f);

    // A new run of frames starts from the lead-in again.
    scene.startFrames(start + milliseconds(5000));
    last.reset();
    EXPECT_EQ(serve(scene, start, 5000, 5265, last), (std::vector<uint64_t>{0, 1, 2}));
}

TEST(ReplayScene, LoopSpeedAndNoPacing) {
    Clock::time_point start = Clock::now();
    ReplayScene looped(threeFrames(), {true, 2.0});
    looped.startFrames(start);
    std::optional<uint64_t> last;
    // Twice the pace: a pass of 30 ms (the wrap keeps the usual gap) takes 15 ms.
    std::vector<uint64_t> served = serve(looped, start, 0, 279, last);
    EXPECT_EQ(served.size(), 1u + 6u) << "the lead-in and two passes within 30 ms of the pause";
    EXPECT_FALSE(looped.finished(*last));
    EXPECT_EQ(looped.timecode(4), looped.timecode(1));   // the second pass starts over
    EXPECT_EQ(looped.frameAt(start + milliseconds(266)), 4u);

    ReplayScene unpaced(threeFrames(), {false, 0.0});
    unpaced.startFrames(start);
    last.reset();
    EXPECT_EQ(serve(unpaced, start, 250, 250, last), (std::vector<uint64_t>{0, 1, 2, 3}));
}

TEST(ReplayScene, DamagedPositionsAreDroppedAndAnEmptyRecordingRefused) {
    fyrec::Recording r = threeFrames();
    r.frames[0].cameras[0] = {{NAN, 1}, {1, INFINITY}, {3e9f, 5}, {7, 8}};
    ReplayScene scene(r, {});
    ASSERT_EQ(scene.blobs(0, 1).size(), 1u);
    EXPECT_EQ(scene.blobs(0, 1)[0].y, 8.0f);
    r.frames.clear();
    EXPECT_THROW(ReplayScene(r, {}), fyrec::RecordingError);
}

}  // namespace
}  // namespace simhost
