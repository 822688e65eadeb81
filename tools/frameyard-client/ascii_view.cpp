#include "tools/frameyard-client/ascii_view.h"

#include <algorithm>
#include <cmath>

namespace fycli {
namespace {

// Terminal cells are about twice as high as wide.
constexpr double kCellAspect = 2.0;
constexpr int kMinBoxColumns = 34;

int cell(float value, float low, float high, int cells) {
    double span = static_cast<double>(high) - static_cast<double>(low);
    if (!(span > 0) || !std::isfinite(value)) return -1;
    double at = (static_cast<double>(value) - low) / span * cells;
    if (at < 0 || at >= cells) return -1;
    return static_cast<int>(at);
}

std::string fit(std::string text, int width) {
    if (static_cast<int>(text.size()) > width) text.resize(static_cast<size_t>(std::max(0, width)));
    text.append(static_cast<size_t>(std::max(0, width - static_cast<int>(text.size()))), ' ');
    return text;
}

}  // namespace

frameyard::Region drawingRegion(const frameyard::Camera& camera) {
    if (camera.imageRegion && camera.imageRegion->right > camera.imageRegion->left &&
        camera.imageRegion->bottom > camera.imageRegion->top) {
        return *camera.imageRegion;
    }
    return {0, 512, 0, 512};
}

AsciiView::AsciiView(std::vector<std::string> names, std::vector<frameyard::Region> regions, int columns, int rows)
    : names(std::move(names)), regions(std::move(regions)), columns(std::max(columns, 12)) {
    int count = std::max<int>(1, static_cast<int>(this->names.size()));
    perRow = std::clamp(this->columns / kMinBoxColumns, 1, count);
    int boxRows = (count + perRow - 1) / perRow;
    boxWidth = this->columns / perRow - 1;          // one blank column between boxes
    gridWidth = std::max(1, boxWidth - 2);
    int available = std::max(4, rows - 1) / boxRows;  // the first line is the caller's status
    gridHeight = std::max(1, available - 3);          // title and two borders
    // Keep the camera's proportions when there is room to spare.
    const frameyard::Region& r = this->regions.empty() ? frameyard::Region{0, 512, 0, 512} : this->regions[0];
    double aspect = (r.bottom - r.top) / std::max(1.0f, r.right - r.left);
    int proportional = static_cast<int>(std::lround(gridWidth * aspect / kCellAspect));
    gridHeight = std::clamp(proportional, 1, gridHeight);
}

std::vector<std::string> AsciiView::box(size_t camera, frameyard::CentroidSpan centroids) const {
    std::vector<std::string> grid(static_cast<size_t>(gridHeight), std::string(static_cast<size_t>(gridWidth), ' '));
    const frameyard::Region& r = camera < regions.size() ? regions[camera] : frameyard::Region{0, 512, 0, 512};
    for (const auto& c : centroids) {
        int col = cell(c.x, r.left, r.right, gridWidth);
        int row = cell(c.y, r.top, r.bottom, gridHeight);
        if (col < 0 || row < 0) continue;
        char& mark = grid[static_cast<size_t>(row)][static_cast<size_t>(col)];
        mark = mark == ' ' ? 'o' : '@';
    }
    std::string name = camera < names.size() ? names[camera] : "camera " + std::to_string(camera + 1);
    std::vector<std::string> lines;
    lines.push_back(fit(name + ": " + std::to_string(centroids.size()) + " blobs", boxWidth));
    std::string border = "+" + std::string(static_cast<size_t>(gridWidth), '-') + "+";
    lines.push_back(border);
    for (const auto& row : grid) lines.push_back("|" + row + "|");
    lines.push_back(border);
    return lines;
}

std::vector<std::string> AsciiView::draw(const frameyard::Frame& frame) const {
    std::vector<std::string> out;
    size_t count = std::max(names.size(), frame.cameraCount());
    for (size_t first = 0; first < count; first += static_cast<size_t>(perRow)) {
        std::vector<std::vector<std::string>> boxes;
        for (size_t c = first; c < std::min(count, first + static_cast<size_t>(perRow)); ++c) {
            boxes.push_back(box(c, c < frame.cameraCount() ? frame.camera(c) : frameyard::CentroidSpan()));
        }
        for (size_t line = 0; line < boxes[0].size(); ++line) {
            std::string text;
            for (size_t b = 0; b < boxes.size(); ++b) {
                if (b > 0) text += ' ';
                text += boxes[b][line];
            }
            if (static_cast<int>(text.size()) > columns) text.resize(static_cast<size_t>(columns));
            out.push_back(text);
        }
    }
    return out;
}

}  // namespace fycli
