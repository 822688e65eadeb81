#pragma once
// A character picture of each camera's blobs, laid out to fit a terminal: one bordered box
// per camera, side by side where the width allows.
#include <string>
#include <vector>

#include <frameyard/client.h>

namespace fycli {

class AsciiView {
public:
    // names and regions in the order of the frame's glob lists; columns x rows of terminal.
    AsciiView(std::vector<std::string> names, std::vector<frameyard::Region> regions, int columns, int rows);

    // The picture of one frame, one string per terminal line, none longer than the width.
    std::vector<std::string> draw(const frameyard::Frame& frame) const;

    int boxesPerRow() const { return perRow; }
    int innerWidth() const { return gridWidth; }
    int innerHeight() const { return gridHeight; }

private:
    std::vector<std::string> box(size_t camera, frameyard::CentroidSpan centroids) const;

    std::vector<std::string> names;
    std::vector<frameyard::Region> regions;
    int columns;
    int perRow = 1;
    int boxWidth = 0;
    int gridWidth = 0;
    int gridHeight = 0;
};

// The region to draw for a camera: its image region, or the whole display space.
frameyard::Region drawingRegion(const frameyard::Camera& camera);

}  // namespace fycli
