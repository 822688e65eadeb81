#include "tools/frameyard-simhost/sim_scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace simhost {
namespace {

TEST(Scene, IsDeterministicAndStaysInsideTheImage) {
    Scene a(3, 640, 480, 20, 100), b(3, 640, 480, 20, 100);
    for (uint64_t frame : {0ull, 1ull, 777ull, 123456ull}) {
        for (int camera = 0; camera < 3; ++camera) {
            auto first = a.blobs(camera, frame), second = b.blobs(camera, frame);
            ASSERT_EQ(first.size(), 20u);
            for (size_t i = 0; i < first.size(); ++i) {
                EXPECT_EQ(first[i].x, second[i].x);
                EXPECT_GE(first[i].x - first[i].radius, 0.0f);
                EXPECT_LE(first[i].x + first[i].radius, 640.0f);
                EXPECT_GE(first[i].y - first[i].radius, 0.0f);
                EXPECT_LE(first[i].y + first[i].radius, 480.0f);
            }
        }
    }
    EXPECT_NE(a.blobs(0, 5)[0].x, a.blobs(1, 5)[0].x);   // cameras differ
    EXPECT_TRUE(a.blobs(3, 0).empty());
}

TEST(Scene, MovesSmoothly) {
    Scene scene(1, 640, 480, 20, 100);
    for (uint64_t frame = 0; frame < 500; ++frame) {
        auto now = scene.blobs(0, frame), next = scene.blobs(0, frame + 1);
        for (size_t i = 0; i < now.size(); ++i) {
            EXPECT_LT(std::hypot(next[i].x - now[i].x, next[i].y - now[i].y), 5.0f);
        }
    }
}

TEST(Scene, RunsAreSortedMergedAndCoverTheBlobs) {
    Scene scene(1, 64, 48, 0, 100);
    std::vector<Blob> blobs{{10, 10, 3, 200}, {13, 10, 3, 200}, {50, 40, 2, 200}};
    auto runs = scene.runs(blobs);
    ASSERT_FALSE(runs.empty());
    for (size_t i = 1; i < runs.size(); ++i) {
        bool ordered = runs[i - 1].row < runs[i].row ||
                       (runs[i - 1].row == runs[i].row && runs[i - 1].last + 1 < runs[i].first);
        EXPECT_TRUE(ordered) << i;
    }
    // The two overlapping blobs make one run on their centre row: columns 7 to 16.
    bool found = false;
    for (const simhost::Run& r : runs) found |= r.row == 10 && r.first == 7 && r.last == 16;
    EXPECT_TRUE(found);
    std::vector<unsigned char> pixels;
    scene.render(blobs, pixels);
    ASSERT_EQ(pixels.size(), 64u * 48u);
    EXPECT_EQ(pixels[10 * 64 + 10], 200);
    EXPECT_EQ(pixels[0], 12);
    // The picture's blob pixels are exactly those of the runs.
    size_t covered = 0;
    for (const simhost::Run& r : runs) covered += r.last - r.first + 1;
    EXPECT_EQ(covered, static_cast<size_t>(std::count_if(pixels.begin(), pixels.end(), [](unsigned char p) { return p > 12; })));
}

TEST(Scene, TimecodeCountsFramesWithinSeconds) {
    Scene scene(1, 64, 48, 0, 100);
    EXPECT_EQ(scene.timecode(0), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(scene.timecode(99), (std::vector<int>{0, 0, 0, 99}));
    EXPECT_EQ(scene.timecode(100 * 3661 + 7), (std::vector<int>{1, 1, 1, 7}));
}

}  // namespace
}  // namespace simhost
