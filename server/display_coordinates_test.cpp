#include "server/display_coordinates.h"

#include <gtest/gtest.h>

#include <frameyard/server.h>

#include <cmath>

namespace {

using store::DisplayScale;

TEST(DisplayScale, HeightLimitedCameraFillsTheRegionClientsExpect) {
    DisplayScale scale(640, 480);
    EXPECT_FLOAT_EQ(scale.scale(), 368.0f / 480.0f);
    LuGlobImageRegion region = scale.imageRegion();
    EXPECT_NEAR(region.leftX, 10.6667f, 1e-3f);
    EXPECT_NEAR(region.rightX, 501.3333f, 1e-3f);
    EXPECT_FLOAT_EQ(region.topY, 72.0f);
    EXPECT_FLOAT_EQ(region.bottomY, 440.0f);
}

TEST(DisplayScale, WidthLimitedCameraSpansAll512Units) {
    DisplayScale scale(1000, 100);
    EXPECT_FLOAT_EQ(scale.scale(), 0.512f);
    LuGlobImageRegion region = scale.imageRegion();
    EXPECT_FLOAT_EQ(region.leftX, 0.0f);
    EXPECT_FLOAT_EQ(region.rightX, 512.0f);
}

TEST(DisplayScale, HalfSizesUseIntegerDivision) {
    // 641 / 2 is 320, so the image centre in pixels is 320 and pixel 320 lands on 256.
    DisplayScale scale(641, 481);
    EXPECT_FLOAT_EQ(scale.toDisplayX(320.0f), 256.0f);
    EXPECT_FLOAT_EQ(scale.toDisplayY(240.0f), 256.0f);
    EXPECT_GT(scale.imageRegion().rightX - 256.0f, 256.0f - scale.imageRegion().leftX);
}

TEST(DisplayScale, RectangleCornersMapBothWaysWithinFloatRounding) {
    DisplayScale scale(640, 480);
    store::HostInterface::RectangularMask whole{0.0f, 0.0f, 640.0f, 480.0f};
    RyRectangularMask display = scale.toDisplay(whole);
    EXPECT_NEAR(display.x1, 10.6667f, 1e-3f);
    EXPECT_FLOAT_EQ(display.y1, 72.0f);
    EXPECT_NEAR(display.x2, 501.3333f, 1e-3f);
    EXPECT_FLOAT_EQ(display.y2, 440.0f);

    store::HostInterface::RectangularMask back = scale.toPixels(display);
    EXPECT_NEAR(back.x, 0.0f, 1e-3f);
    EXPECT_NEAR(back.y, 0.0f, 1e-3f);
    EXPECT_NEAR(back.width, 640.0f, 1e-3f);
    EXPECT_NEAR(back.height, 480.0f, 1e-3f);

    store::HostInterface::RectangularMask inner{100.5f, 20.25f, 33.0f, 7.5f};
    store::HostInterface::RectangularMask again = scale.toPixels(scale.toDisplay(inner));
    EXPECT_NEAR(again.x, inner.x, 1e-3f);
    EXPECT_NEAR(again.y, inner.y, 1e-3f);
    EXPECT_NEAR(again.width, inner.width, 1e-3f);
    EXPECT_NEAR(again.height, inner.height, 1e-3f);
}

TEST(DisplayScale, ImageCentreIsTheDisplayCentreWithFlagOne) {
    RyStoreProtocol::GlobRecord record = DisplayScale(640, 480).toGlob(store::Server::Centroid{320.0f, 240.0f});
    EXPECT_FLOAT_EQ(record.x, 256.0f);
    EXPECT_FLOAT_EQ(record.y, 256.0f);
    EXPECT_EQ(record.flags, 1);
}

TEST(DisplayScale, CamerasWithoutUsableSizeNeverProduceInfinityOrNaN) {
    for (auto size : {std::pair{0, 0}, std::pair{0, 480}, std::pair{640, 0}, std::pair{-5, -7}}) {
        DisplayScale scale(size.first, size.second);
        EXPECT_TRUE(std::isfinite(scale.scale())) << size.first << "x" << size.second;
        store::HostInterface::RectangularMask back = scale.toPixels(RyRectangularMask{1.0f, 2.0f, 3.0f, 4.0f});
        EXPECT_TRUE(std::isfinite(back.x) && std::isfinite(back.width)) << size.first << "x" << size.second;
        LuGlobImageRegion region = scale.imageRegion();
        EXPECT_TRUE(std::isfinite(region.leftX) && std::isfinite(region.bottomY));
    }
    // One usable side still decides the scale.
    EXPECT_FLOAT_EQ(DisplayScale(0, 480).scale(), 368.0f / 480.0f);
    EXPECT_FLOAT_EQ(DisplayScale(1024, 0).scale(), 0.5f);
}

}  // namespace
