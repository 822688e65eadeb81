#include <gtest/gtest.h>

#include <algorithm>

#include "tools/frameyard-client/ascii_view.h"
#include "tools/frameyard-client/cli_args.h"

namespace fycli {
namespace {

frameyard::Frame frameOf(const std::vector<std::vector<frameyard::Centroid>>& cameras) {
    frameyard::Frame frame;
    frame.clear();
    for (const auto& centroids : cameras) std::copy(centroids.begin(), centroids.end(), frame.addCamera(centroids.size()));
    return frame;
}

// Marks inside the boxes (titles are text and may hold the same letters).
int countOf(const std::vector<std::string>& lines, char mark) {
    int n = 0;
    for (const auto& line : lines) {
        if (line.rfind("|", 0) == 0) n += static_cast<int>(std::count(line.begin(), line.end(), mark));
    }
    return n;
}

TEST(AsciiView, PlacesBlobsInsideTheirCameraBox) {
    frameyard::Region region{0, 100, 0, 100};
    AsciiView view({"a"}, {region}, 40, 30);
    // Corners of the region land in the first and last cell; a point outside is not drawn.
    auto lines = view.draw(frameOf({{{0.0f, 0.0f, 1}, {99.9f, 99.9f, 1}, {150, 50, 1}, {50, -1, 1}}}));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0].rfind("a: 4 blobs", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1][0], '+');
    EXPECT_EQ(lines[2][1], 'o');   // top left cell
    const std::string& lastRow = lines[lines.size() - 2];
    EXPECT_EQ(lastRow[static_cast<size_t>(view.innerWidth())], 'o');   // bottom right cell
    EXPECT_EQ(countOf(lines, 'o'), 2);
}

TEST(AsciiView, MarksCrowdedCellsAndHandlesMissingLists) {
    AsciiView view({"a", "b"}, {{0, 10, 0, 10}, {0, 10, 0, 10}}, 80, 24);
    auto lines = view.draw(frameOf({{{5, 5, 1}, {5.01f, 5.01f, 1}}}));   // camera b sent nothing
    EXPECT_EQ(countOf(lines, '@'), 1);
    EXPECT_EQ(countOf(lines, 'o'), 0);
    EXPECT_NE(lines[0].find("b: 0 blobs"), std::string::npos);
}

TEST(AsciiView, FitsTheTerminal) {
    for (int columns : {20, 40, 80, 200}) {
        for (int rows : {5, 10, 24, 60}) {
            std::vector<std::string> names{"cam1", "cam2", "cam3", "cam4"};
            std::vector<frameyard::Region> regions(4, {10.67f, 501.33f, 72, 440});
            AsciiView view(names, regions, columns, rows);
            auto lines = view.draw(frameOf({{{256, 256, 1}}, {}, {}, {}}));
            for (const auto& line : lines) EXPECT_LE(static_cast<int>(line.size()), columns) << columns << "x" << rows;
            if (rows >= 24) {
                EXPECT_LE(static_cast<int>(lines.size()), rows - 1) << columns << "x" << rows;
            }
            EXPECT_EQ(countOf(lines, 'o'), 1);
        }
    }
    AsciiView wide({"a", "b", "c", "d"}, std::vector<frameyard::Region>(4, {0, 512, 0, 512}), 160, 40);
    EXPECT_EQ(wide.boxesPerRow(), 4);
}

TEST(AsciiView, DrawingRegionFallsBackToTheDisplaySpace) {
    frameyard::Camera camera;
    frameyard::Region r = drawingRegion(camera);
    EXPECT_EQ(r.right, 512.0f);
    camera.imageRegion = frameyard::Region{5, 5, 0, 10};   // empty width
    EXPECT_EQ(drawingRegion(camera).left, 0.0f);
    camera.imageRegion = frameyard::Region{1, 2, 3, 4};
    EXPECT_EQ(drawingRegion(camera).bottom, 4.0f);
}

TEST(CliArgs, SplitsWordsIntoTheirKinds) {
    Args args = parseArgs({"get", "--compact", "--cameras", "a,b", "--seconds=2", "-3", "--help"}, {"--compact"},
                          {"--cameras", "--seconds"});
    EXPECT_EQ(args.positional, (std::vector<std::string>{"get", "-3"}));
    EXPECT_TRUE(args.has("--compact"));
    EXPECT_EQ(args.value("--cameras"), "a,b");
    EXPECT_EQ(args.value("--seconds"), "2");
    EXPECT_EQ(args.value("--missing", "x"), "x");
    EXPECT_TRUE(args.help);
    EXPECT_THROW(parseArgs({"--bogus"}, {}, {}), UsageError);
    EXPECT_THROW(parseArgs({"--cameras"}, {}, {"--cameras"}), UsageError);
    EXPECT_THROW(parseArgs({"--compact=1"}, {"--compact"}, {}), UsageError);
}

TEST(CliArgs, ChecksNumbersAndLists) {
    EXPECT_EQ(parseInteger("255", "t", 0, 255), 255);
    EXPECT_THROW(parseInteger("256", "t", 0, 255), UsageError);
    EXPECT_THROW(parseInteger("12x", "t", 0, 255), UsageError);
    EXPECT_THROW(parseInteger("", "t", 0, 255), UsageError);
    EXPECT_EQ(parseNumber("-2.5", "v"), -2.5);
    EXPECT_THROW(parseNumber("nan", "v"), UsageError);
    EXPECT_THROW(parseNumber("1e999", "v"), UsageError);
    // Beyond a float's range a coordinate would become infinite and unreadable as JSON.
    EXPECT_EQ(parseFloat("-3.4e38", "x"), -3.4e38f);
    EXPECT_THROW(parseFloat("1e39", "x"), UsageError);
    EXPECT_THROW(parseFloat("-1e300", "x"), UsageError);
    EXPECT_EQ(splitList("a,b", "l"), (std::vector<std::string>{"a", "b"}));
    EXPECT_THROW(splitList("a,,b", "l"), UsageError);
    EXPECT_THROW(splitList("", "l"), UsageError);
}

}  // namespace
}  // namespace fycli
