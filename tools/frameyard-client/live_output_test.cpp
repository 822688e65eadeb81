#include "tools/frameyard-client/live_output.h"

#include <gtest/gtest.h>

namespace fycli {
namespace {

frameyard::LiveImage imageOf(uint16_t width, uint16_t height, uint8_t fill) {
    frameyard::LiveImage image;
    image.width = width;
    image.height = height;
    image.pixels.assign(size_t(width) * height, fill);
    return image;
}

TEST(LiveOutput, PgmFilesAndTheirNames) {
    frameyard::LiveImage image = imageOf(3, 2, 0);
    image.pixels = {0, 1, 2, 253, 254, 255};
    EXPECT_EQ(pgmBytes(image), std::string("P5\n3 2\n255\n\x00\x01\x02\xfd\xfe\xff", 17));

    EXPECT_EQ(imageFileName("cam1", std::array<uint8_t, 4>{1, 2, 3, 45}, 7), "cam1_01-02-03-45.pgm");
    EXPECT_EQ(imageFileName("cam1", std::nullopt, 7), "cam1_7.pgm");
    EXPECT_EQ(imageFileName("../left cam", std::nullopt, 1), "_.._left_cam_1.pgm") << "never outside the directory";
}

TEST(LiveOutput, ShadesFitTheTerminalAndFollowTheBrightness) {
    // 640 x 480 into 80 x 24 cells: 8 pixels across per cell and 16 down gives 80 x 30, too
    // high, so the height decides: 20 pixels down, 10 across.
    frameyard::LiveImage image = imageOf(640, 480, 0);
    for (size_t y = 0; y < 480; ++y)
        for (size_t x = 320; x < 640; ++x) image.pixels[y * 640 + x] = 255;
    std::vector<std::string> lines = shadeImage(image, 80, 24);
    ASSERT_EQ(lines.size(), 24u);
    for (const std::string& line : lines) {
        ASSERT_EQ(line.size(), 64u);
        EXPECT_EQ(line.front(), ' ');
        EXPECT_EQ(line.back(), '@');
    }
    EXPECT_EQ(lines[0][31], ' ');
    EXPECT_EQ(lines[0][32], '@');

    // A small image is never blown up, and mid grey is a middle shade.
    lines = shadeImage(imageOf(4, 2, 128), 80, 24);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "++++");
    EXPECT_TRUE(shadeImage(imageOf(0, 0, 0), 80, 24).empty());
}

}  // namespace
}  // namespace fycli
